#include "foundation/AppFolders.h"
#include "foundation/FileUtil.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "tests/support/ScratchFolder.h"
#include "tests/support/TestSupport.h"

using namespace quilmer;
using quilmer::test::ScratchFolder;
namespace fs = std::filesystem;

TEST(FileUtil, FactsOfFilesAndFolders) {
    ScratchFolder dir;
    dir.Write("clip.flv", "12345");
    dir.Write("sub/x", "");
    FileFacts facts;
    ASSERT_TRUE(GetFileFacts(dir.Wide() + L"sub/../clip.flv", facts));
    EXPECT_EQ(facts.size, 5u);
    EXPECT_EQ(facts.fullName, dir.Wide() + L"clip.flv");
    EXPECT_TRUE(facts.attributes & kAttrArchive);
    EXPECT_FALSE(facts.attributes & kAttrDirectory);
    EXPECT_GT(facts.lastWriteTime, FileTimeFromUnix(1'600'000'000));
    EXPECT_NE(facts.creationTime, 0);
    EXPECT_NE(facts.lastAccessTime, 0);

    EXPECT_TRUE(FileExists(dir.Wide()));
    EXPECT_TRUE(FolderExists(dir.Wide()));
    EXPECT_FALSE(FolderExists(dir.Wide() + L"clip.flv"));
    EXPECT_FALSE(FileExists(dir.Wide() + L"missing"));
    EXPECT_FALSE(FileExists(L""));
}

TEST(FileUtil, WidePathsSurviveNonUtf8Names) {
    std::string odd = "bad\xff" "name";
    std::wstring wide = WidePath(odd);
    EXPECT_EQ(NativePath(wide), odd);
    EXPECT_EQ(WidePath("caf\xc3\xa9"), L"caf\u00e9");
    EXPECT_EQ(NativePath(L"caf\u00e9"), "caf\xc3\xa9");
}

TEST(FileUtil, CreateFolderTreeMakesMissingParentsAndAcceptsExisting) {
    ScratchFolder dir;
    EXPECT_TRUE(CreateFolderTree(dir.Wide() + L"a/b/c/"));
    EXPECT_TRUE(fs::is_directory(dir.File("a/b/c")));
    EXPECT_TRUE(CreateFolderTree(dir.Wide() + L"a/b/c"));  // already there
    dir.Write("plain", "x");
    EXPECT_FALSE(CreateFolderTree(dir.Wide() + L"plain/sub"));
    EXPECT_FALSE(CreateFolderTree(L""));
}

TEST(FileUtil, DeleteFolderContentsKeepsFolderAndDesktopIni) {
    ScratchFolder dir;
    ScratchFolder outside;
    outside.Write("precious", "keep");
    dir.Write("f/a.txt", "a");
    dir.Write("f/Desktop.INI", "d");
    dir.Write("f/sub/deep/b.txt", "b");
    dir.Write("f/sub/desktop.ini", "d");
    fs::create_directory_symlink(outside.Path(), dir.File("f/link"));
    ::chmod(dir.File("f/a.txt").c_str(), 0444);
    ::chmod(dir.File("f/sub/deep").c_str(), 0555);  // read-only folder with content

    EXPECT_TRUE(DeleteFolderContents(dir.Wide() + L"f"));
    EXPECT_TRUE(fs::exists(dir.File("f/Desktop.INI")));
    EXPECT_FALSE(fs::exists(dir.File("f/a.txt")));
    EXPECT_FALSE(fs::exists(dir.File("f/sub/deep")));
    EXPECT_TRUE(fs::exists(dir.File("f/sub/desktop.ini")));  // kept at every depth, so sub stays
    EXPECT_FALSE(fs::exists(dir.File("f/link")));
    EXPECT_TRUE(fs::exists(outside.File("precious")));  // links are not followed

    EXPECT_TRUE(DeleteFolderContents(dir.Wide() + L"f/", true));
    EXPECT_TRUE(fs::is_empty(dir.File("f")));
    EXPECT_FALSE(DeleteFolderContents(dir.Wide() + L"missing"));
}

TEST(FileUtil, WipeFileZeroesInPlace) {
    ScratchFolder dir;
    std::string data(4096 * 2 + 17, 'x');
    dir.Write("index.dat", data);
    ASSERT_TRUE(WipeFile(dir.Wide() + L"index.dat"));
    std::ifstream in(dir.File("index.dat"), std::ios::binary);
    std::string back((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(back, std::string(data.size(), '\0'));
    dir.Write("empty", "");
    EXPECT_TRUE(WipeFile(dir.Wide() + L"empty"));
    EXPECT_FALSE(WipeFile(dir.Wide() + L"missing"));
}

TEST(FileUtil, WholeFileWriteReplacesAtomically) {
    ScratchFolder dir;
    std::wstring path = dir.Wide() + L"data.txt";
    ASSERT_TRUE(WriteWholeFile(path, "first"));
    ::chmod(dir.File("data.txt").c_str(), 0640);
    ASSERT_TRUE(WriteWholeFile(path, std::string("sec\0ond", 7)));
    std::string back;
    ASSERT_TRUE(ReadWholeFile(path, back));
    EXPECT_EQ(back, std::string("sec\0ond", 7));
    EXPECT_EQ(fs::status(dir.File("data.txt")).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), {}), 1);  // no temporary left
    EXPECT_FALSE(WriteWholeFile(dir.Wide() + L"no/such/folder/x", "x"));
}

namespace {

// Puts the process-wide folders back as they were, whatever the test overrode.
class RestoreAppFolders {
public:
    RestoreAppFolders()
        : program_(AppFolders::Instance().ProgramFolder()), user_(AppFolders::Instance().UserFolder()) {}
    ~RestoreAppFolders() {
        AppFolders::OverrideProgramFolder(program_);
        AppFolders::OverrideUserFolder(user_);
    }

private:
    std::wstring program_, user_;
};

}  // namespace

TEST(AppFolders, FoldersEndInSlashAndUserFoldersExist) {
    RestoreAppFolders restore;
    AppFolders& folders = AppFolders::Instance();
    EXPECT_EQ(folders.ProgramFolder().back(), L'/');
    EXPECT_TRUE(FileExists(folders.ProgramFolder() + L"foundation_tests"));
    // Without an override the user folder follows XDG_CONFIG_HOME (the runner's private one).
    EXPECT_EQ(folders.UserFolder(), WidePath(std::getenv("XDG_CONFIG_HOME")) + L"/quilmer/");
    ScratchFolder dir;
    AppFolders::OverrideUserFolder(dir.Wide() + L"user");
    EXPECT_EQ(folders.UserFolder(), dir.Wide() + L"user/");
    EXPECT_EQ(folders.AppDataFolder(), dir.Wide() + L"user/appdata/");
    EXPECT_TRUE(FolderExists(folders.AppDataFolder()));
    EXPECT_TRUE(FolderExists(folders.ConfigFolder()));
    AppFolders::OverrideProgramFolder(L"/opt/q");
    EXPECT_EQ(folders.ConfigFolder(true), L"/opt/q/config/");
    EXPECT_EQ(folders.LanguageFolder(), L"/opt/q/language/");
    EXPECT_EQ(folders.SkinsFolder(), L"/opt/q/skins/");
}

TEST(AppFolders, VideosFolderFromUserDirs) {
    ScratchFolder dir;
    quilmer::test::ScopedEnv home("HOME", dir.Path());
    quilmer::test::ScopedEnv config("XDG_CONFIG_HOME", dir.File("cfg"));
    EXPECT_EQ(AppFolders::UserVideosFolder(), WidePath(dir.Path()) + L"/Videos");
    dir.Write("cfg/user-dirs.dirs", "# comment\nXDG_VIDEOS_DIR=\"$HOME/Filme\"\n");
    EXPECT_EQ(AppFolders::UserVideosFolder(), WidePath(dir.Path()) + L"/Filme");
    dir.Write("cfg/user-dirs.dirs", "XDG_VIDEOS_DIR=\"/srv/vid/\"\n");
    EXPECT_EQ(AppFolders::UserVideosFolder(), L"/srv/vid");
}
