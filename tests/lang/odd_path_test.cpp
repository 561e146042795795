// Language packs in a program folder whose path is not UTF-8 (a user's folder with a Latin-1
// name): the packs are still found and read.

#include "foundation/FileUtil.h"
#include "lang/IniFile.h"
#include "lang/LanguageManager.h"
#include "tests/support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace quilmer {
namespace {

TEST(LanguageOddPaths, PacksInAFolderWithStrayBytesAreListedAndRead) {
    test::ScratchFolder dir("lang-odd");
    const std::string folder = dir.Native("programme \xE9t\xE9/");
    std::filesystem::create_directories(folder);
    std::ofstream(folder + "English.lng") << "\xEF\xBB\xBF[String]\nIDS_FAILED=Failed to merge files.\n";
    std::ofstream(folder + "Fran\xE7" "ais.lng") << "\xEF\xBB\xBF[String]\nIDS_FAILED=\xC3\x89" "chec.\n";

    IniFile pack(WidePath(folder + "English.lng"));
    EXPECT_EQ(pack.ReadString(L"String", L"IDS_FAILED"), L"Failed to merge files.");

    LanguageManager::Environment env;
    env.languageFolder = WidePath(folder);
    env.loadLanguage = [](const std::wstring&) { return WidePath("Fran\xE7" "ais"); };
    LanguageManager manager(env);
    ASSERT_EQ(manager.LanguageCount(), 2u);  // English and the pack with the odd name
    EXPECT_EQ(NativePath(manager.LanguageAt(1).name), "Fran\xE7" "ais");
    EXPECT_EQ(manager.Translate(L"Failed to merge files."), L"\u00C9chec.");
}

}  // namespace
}  // namespace quilmer
