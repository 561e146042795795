#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>

#include "tests/support/ScratchFolder.h"
#include "tests/updater/ZipFixture.h"
#include "updater/PackageExtractor.h"

using namespace quilmer;
using namespace quilmer::testing;
using quilmer::test::ScratchFolder;
namespace fs = std::filesystem;

namespace {

std::size_t CountFiles(const std::string& folder) {
    std::size_t n = 0;
    for (auto& e : fs::recursive_directory_iterator(folder)) n += e.is_regular_file() ? 1 : 0;
    return n;
}

bool NoStagingLeft(const std::string& folder) {
    for (auto& e : fs::directory_iterator(folder))
        if (e.path().filename().string().rfind(".update-staging", 0) == 0) return false;
    return true;
}

}  // namespace

TEST(PackageExtractor, ExtractsNestedFoldersKeepingNamesOrFlattened) {
    ScratchFolder tmp;
    std::string zip = tmp / "pkg.zip";
    ASSERT_TRUE(MakeZip(
        zip, {{"bin/", ""}, {"bin/a.dll", "AAA"}, {"b.txt", "BBB", false}, {"x/y/z/deep.txt", "deep"}}));
    PackageExtractor ex;
    ASSERT_TRUE(ex.Open(zip));
    EXPECT_EQ(ex.EntryCount(), 4);
    EXPECT_EQ(ex.DefaultDestination(), tmp / "pkg");
    ASSERT_TRUE(ex.ExtractAll(tmp / "P", false)) << ex.LastError();
    EXPECT_EQ(ReadAll(tmp / "P/bin/a.dll"), "AAA");
    EXPECT_EQ(ReadAll(tmp / "P/b.txt"), "BBB");
    EXPECT_EQ(ReadAll(tmp / "P/x/y/z/deep.txt"), "deep");
    EXPECT_EQ(CountFiles(tmp / "P"), 3u);
    EXPECT_TRUE(NoStagingLeft(tmp / "P"));

    ASSERT_TRUE(ex.ExtractArchive(zip, tmp / "F", true)) << ex.LastError();
    EXPECT_EQ(ReadAll(tmp / "F/a.dll"), "AAA");
    EXPECT_EQ(ReadAll(tmp / "F/deep.txt"), "deep");
    EXPECT_EQ(CountFiles(tmp / "F"), 3u);

    // The extension filter walks only the matching entries.
    ASSERT_TRUE(ex.GoToFirst("TXT"));
    PackageExtractor::EntryFacts facts;
    ASSERT_TRUE(ex.CurrentEntry(facts));
    EXPECT_EQ(facts.name, "b.txt");
    ASSERT_TRUE(ex.GoToNext("txt"));
    ASSERT_TRUE(ex.CurrentEntry(facts));
    EXPECT_EQ(facts.name, "x/y/z/deep.txt");
    EXPECT_FALSE(ex.GoToNext("txt"));
}

TEST(PackageExtractor, FolderOnlyArchiveCreatesNothingAndEmptyArchiveFails) {
    ScratchFolder tmp;
    ASSERT_TRUE(MakeZip(tmp / "folders.zip", {{"a/", ""}, {"a/b/", ""}}));
    ASSERT_TRUE(MakeZip(tmp / "empty.zip", {}));
    PackageExtractor ex;
    EXPECT_TRUE(ex.ExtractArchive(tmp / "folders.zip", tmp / "D", false)) << ex.LastError();
    EXPECT_FALSE(fs::exists(tmp / "D/a"));
    // minizip already refuses to open an archive without entries; either way it is no package.
    EXPECT_FALSE(ex.ExtractArchive(tmp / "empty.zip", tmp / "E", false));
    EXPECT_FALSE(ex.TestAll());
    EXPECT_FALSE(fs::exists(tmp / "E/a"));
}

TEST(PackageExtractor, ReplacesFilesInsteadOfWritingIntoThem) {
    ScratchFolder tmp;
    std::string dest = tmp / "prog";
    fs::create_directories(dest);
    WriteAll(dest + "/quilmer", "old program");
    ::chmod((dest + "/quilmer").c_str(), 0755);
    // A second name for the old file stands for the running program, which holds the old inode.
    ASSERT_EQ(::link((dest + "/quilmer").c_str(), (tmp / "running").c_str()), 0);
    ASSERT_TRUE(
        MakeZip(tmp / "pkg.zip", {{"quilmer", "new program"}, {"tool.sh", "#!/bin/sh\n", true, 0100750}}));

    PackageExtractor ex;
    ASSERT_TRUE(ex.ExtractArchive(tmp / "pkg.zip", dest, false)) << ex.LastError();
    EXPECT_EQ(ReadAll(dest + "/quilmer"), "new program");
    EXPECT_EQ(ReadAll(tmp / "running"), "old program");

    struct stat st {};
    ASSERT_EQ(::stat((dest + "/quilmer").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0755u) << "permissions of the replaced file are kept";
    std::tm tm{};
    tm.tm_year = 111, tm.tm_mon = 9, tm.tm_mday = 22, tm.tm_hour = 12, tm.tm_min = 34, tm.tm_sec = 56,
    tm.tm_isdst = -1;
    EXPECT_EQ(st.st_mtime, std::mktime(&tm));
    ASSERT_EQ(::stat((dest + "/tool.sh").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0750u) << "permissions recorded in the archive apply";
}

TEST(PackageExtractor, UnsafeNamesAreRefusedBeforeAnythingIsWritten) {
    EXPECT_EQ(PackageExtractor::SafeRelativePath("bin/a.dll"), "bin/a.dll");
    EXPECT_EQ(PackageExtractor::SafeRelativePath("bin\\sub\\.\\a.dll"), "bin/sub/a.dll");
    EXPECT_EQ(PackageExtractor::SafeRelativePath("./a//b"), "a/b");
    for (const char* bad :
         {"../evil", "/etc/evil", "\\evil", "C:\\evil", "a/../../evil", "a\\..\\evil", "..", "./", ""})
        EXPECT_EQ(PackageExtractor::SafeRelativePath(bad), "") << bad;

    ScratchFolder tmp;
    // An absolute name pointing into this test's own folder, so no other run can have made it.
    const std::string absolute = tmp / "absolute-evil.txt";
    for (const std::string& bad :
         {std::string("../evil.txt"), absolute, std::string("sub/../../evil.txt"), std::string("..\\evil.txt")}) {
        std::string zip = tmp / "bad.zip";
        ASSERT_TRUE(MakeZip(zip, {{"good.txt", "good"}, {bad, "evil"}}));
        PackageExtractor ex;
        ASSERT_TRUE(ex.Open(zip));
        EXPECT_FALSE(ex.TestAll()) << bad;
        EXPECT_FALSE(ex.ExtractAll(tmp / "dest/inner", false)) << bad;
        EXPECT_FALSE(fs::exists(tmp / "dest/inner")) << bad;
        EXPECT_FALSE(fs::exists(tmp / "dest/evil.txt")) << bad;
        EXPECT_FALSE(fs::exists(tmp / "evil.txt")) << bad;
        EXPECT_FALSE(fs::exists(absolute)) << bad;
        // A single entry is refused the same way.
        ASSERT_TRUE(ex.GoToFirst());
        ASSERT_TRUE(ex.GoToNext());
        EXPECT_FALSE(ex.ExtractCurrent(tmp / "dest/inner", false)) << bad;
    }
    // Symbolic links could point anywhere; they are refused too.
    ASSERT_TRUE(MakeZip(tmp / "link.zip", {{"link", "/etc/passwd", false, 0120777}}));
    PackageExtractor ex;
    EXPECT_FALSE(ex.ExtractArchive(tmp / "link.zip", tmp / "L", false));
    EXPECT_FALSE(fs::exists(tmp / "L/link"));
}

TEST(PackageExtractor, DamagedArchivesFailAndLeaveTheDestinationAsItWas) {
    ScratchFolder tmp;
    std::string dest = tmp / "prog";
    fs::create_directories(dest);
    WriteAll(dest + "/first.txt", "old first");
    std::string payload(50000, 'x');
    for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<char>('a' + (i * 7919) % 26);

    struct Case {
        const char* what;
        bool deflate;
    };
    for (Case c :
         {Case{"stored entry, wrong checksum", false}, Case{"deflated entry, corrupt stream", true}}) {
        std::string zip = tmp / "pkg.zip";
        ASSERT_TRUE(MakeZip(zip, {{"first.txt", "new first"}, {"second.bin", payload, c.deflate}}));
        std::string bytes = ReadAll(zip);
        if (!c.deflate) {
            ASSERT_TRUE(PatchBytes(zip, payload.substr(1000, 8), "CORRUPT!"));
        } else {
            // Flip bytes in the middle of the compressed data of the second entry.
            std::size_t at = bytes.find("second.bin") + 200;
            for (std::size_t i = 0; i < 16; ++i) bytes[at + i] = static_cast<char>(~bytes[at + i]);
            WriteAll(zip, bytes);
        }
        PackageExtractor ex;
        ASSERT_TRUE(ex.Open(zip)) << c.what;
        EXPECT_FALSE(ex.TestAll()) << c.what;
        EXPECT_FALSE(ex.ExtractAll(dest, false)) << c.what;
        EXPECT_EQ(ReadAll(dest + "/first.txt"), "old first") << c.what;
        EXPECT_FALSE(fs::exists(dest + "/second.bin")) << c.what;
        EXPECT_TRUE(NoStagingLeft(dest)) << c.what;
    }

    // A download cut short loses the central directory: it is not an archive at all.
    std::string zip = tmp / "cut.zip";
    ASSERT_TRUE(MakeZip(zip, {{"first.txt", "new first"}, {"second.bin", payload}}));
    std::string bytes = ReadAll(zip);
    WriteAll(zip, bytes.substr(0, bytes.size() / 2));
    PackageExtractor ex;
    EXPECT_FALSE(ex.Open(zip));
    EXPECT_FALSE(ex.ExtractArchive(zip, dest, false));
    WriteAll(zip, "<html>404 Not Found</html>");
    EXPECT_FALSE(ex.Open(zip));
    EXPECT_EQ(ReadAll(dest + "/first.txt"), "old first");
}

TEST(PackageExtractor, AFailedMoveIsUndone) {
    ScratchFolder tmp;
    std::string dest = tmp / "prog";
    fs::create_directories(dest + "/b.txt");  // a folder stands where the package has a file
    WriteAll(dest + "/a.txt", "old a");
    ASSERT_TRUE(MakeZip(tmp / "pkg.zip", {{"a.txt", "new a"}, {"new/c.txt", "c"}, {"b.txt", "new b"}}));
    PackageExtractor ex;
    EXPECT_FALSE(ex.ExtractArchive(tmp / "pkg.zip", dest, false));
    EXPECT_EQ(ReadAll(dest + "/a.txt"), "old a");
    EXPECT_FALSE(fs::exists(dest + "/new"));
    EXPECT_TRUE(fs::is_directory(dest + "/b.txt"));
    EXPECT_TRUE(NoStagingLeft(dest));
}
