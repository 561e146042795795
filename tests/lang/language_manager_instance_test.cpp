#include "foundation/AppFolders.h"
#include "foundation/Settings.h"
#include "foundation/TextTranslator.h"
#include "foundation/Utf8.h"
#include "lang/LanguageManager.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace quilmer {
namespace {

namespace fs = std::filesystem;

// The process-wide manager reads the shipped packs and the stored choice, and becomes Tr.
TEST(LanguageManagerInstance, InstallsItselfAsTheTextTranslator) {
    // The manager writes the choice back at process exit, so the folder lives in the build tree.
    fs::path user = fs::path(QUILMER_PROGRAM_DIR).parent_path() / "tests" / "lang-instance-user";
    fs::remove_all(user);
    fs::create_directories(user);
    AppFolders::OverrideProgramFolder(FromUtf8(QUILMER_PROGRAM_DIR) + L"/");
    AppFolders::OverrideUserFolder(FromUtf8(user.string()) + L"/");
    ASSERT_TRUE(SettingsStore::Instance().WriteString(L"Config", L"Language", L"German"));

    LanguageManager& lm = LanguageManager::Instance();
    EXPECT_EQ(lm.CurrentLanguage(), L"German");
    EXPECT_EQ(Tr(L"Move Up"), L"Nach oben");
    lm.SwitchLanguage(L"Spanish", false);
    EXPECT_EQ(Tr(L"Nach oben"), L"Subir");
}

}  // namespace
}  // namespace quilmer
