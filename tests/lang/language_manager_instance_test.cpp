#include "foundation/AppFolders.h"
#include "foundation/Settings.h"
#include "foundation/TextTranslator.h"
#include "foundation/Utf8.h"
#include "lang/LanguageManager.h"

#include <gtest/gtest.h>

#include <string>

namespace quilmer {
namespace {

// The process-wide manager reads the shipped packs and the stored choice, and becomes Tr. The
// settings file is the runner's private one (tests/support/IsolatedHome.cpp); the program
// folder, the translator and the stored choice are put back afterwards.
TEST(LanguageManagerInstance, InstallsItselfAsTheTextTranslator) {
    const std::wstring programBefore = AppFolders::Instance().ProgramFolder();
    SettingsStore& store = SettingsStore::Instance();
    const std::wstring choiceBefore = store.ReadString(L"Config", L"Language");
    AppFolders::OverrideProgramFolder(FromUtf8(QUILMER_PROGRAM_DIR) + L"/");
    ASSERT_TRUE(store.WriteString(L"Config", L"Language", L"German"));
    // Whatever translates now; the manager replaces it when it is first made.
    TextTranslatorFn before = SetTextTranslator({});
    SetTextTranslator(before);

    LanguageManager& lm = LanguageManager::Instance();
    // The manager is made once per process; when this test runs again in the same process
    // (--gtest_repeat), redo what its first use did, since this test undid it.
    static bool madeBefore = false;
    if (madeBefore) {
        SetTextTranslator([&lm](const std::wstring& text) { return lm.Translate(text); });
        lm.SwitchLanguage(L"German", false);
    }
    madeBefore = true;
    EXPECT_EQ(lm.CurrentLanguage(), L"German");
    EXPECT_EQ(Tr(L"Move Up"), L"Nach oben");
    lm.SwitchLanguage(L"Spanish", false);
    EXPECT_EQ(Tr(L"Nach oben"), L"Subir");

    SetTextTranslator(before);
    EXPECT_EQ(Tr(L"Move Up"), before ? before(L"Move Up") : L"Move Up");
    AppFolders::OverrideProgramFolder(programBefore);
    if (choiceBefore.empty())
        store.DeleteValue(L"Config", L"Language");
    else
        store.WriteString(L"Config", L"Language", choiceBefore);
}

}  // namespace
}  // namespace quilmer
