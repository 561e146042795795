// The package's directory must be whole before anything is installed, and programs stay
// programs whichever system packed them.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>

#include "tests/support/ScratchFolder.h"
#include "tests/updater/ZipFixture.h"
#include "updater/PackageExtractor.h"

using namespace quilmer;
using namespace quilmer::testing;
using quilmer::test::ScratchFolder;
namespace fs = std::filesystem;

namespace {

// Every regular file below folder with its content and permission bits.
std::map<std::string, std::string> Snapshot(const std::string& folder) {
    std::map<std::string, std::string> files;
    for (auto& e : fs::recursive_directory_iterator(folder)) {
        struct stat st {};
        ::lstat(e.path().c_str(), &st);
        std::string key = fs::relative(e.path(), folder).string();
        files[key] =
            (e.is_regular_file() ? ReadAll(e.path()) : "<folder>") + "|" + std::to_string(st.st_mode);
    }
    return files;
}

// Offset of the n-th (1-based) occurrence of a 4-byte signature, or npos.
std::size_t NthSignature(const std::string& bytes, const std::string& sig, int n) {
    std::size_t at = std::string::npos;
    for (int i = 0; i < n; ++i) {
        at = bytes.find(sig, at == std::string::npos ? 0 : at + 1);
        if (at == std::string::npos) break;
    }
    return at;
}

const std::string kCentralRecord("PK\x01\x02", 4);
const std::string kDirectoryEnd("PK\x05\x06", 4);

}  // namespace

TEST(PackageIntegrity, ADirectoryThatIsNotWholeInstallsNothing) {
    ScratchFolder tmp;
    std::string dest = tmp / "prog";
    fs::create_directories(dest);
    WriteAll(dest + "/one.txt", "old one");
    WriteAll(dest + "/two.txt", "old two");
    std::string good = tmp / "good.zip";
    ASSERT_TRUE(MakeZip(good, {{"one.txt", "new one"},
                               {"two.txt", "new two"},
                               {"three.txt", "new three"},
                               {"four.txt", "new four"}}));
    const std::string bytes = ReadAll(good);
    const std::size_t end = bytes.rfind(kDirectoryEnd);
    ASSERT_NE(end, std::string::npos);

    struct Case {
        const char* what;
        std::string bytes;
    };
    std::vector<Case> cases;
    {
        std::string b = bytes;
        std::size_t third = NthSignature(b, kCentralRecord, 3);
        ASSERT_NE(third, std::string::npos);
        b.replace(third, 4, "XXXX");
        cases.push_back({"third directory record's signature overwritten", b});
    }
    for (int declared : {2, 3, 5}) {
        // Both counts of the end record (this disk, in all) are changed alike.
        std::string b = bytes;
        b[end + 8] = b[end + 10] = static_cast<char>(declared);
        cases.push_back(
            {declared == 5 ? "declares 5 of 4 entries" : "declares fewer entries than it holds", b});
    }
    {
        // The directory size claims more than the records hold.
        std::string b = bytes;
        b[end + 12] = static_cast<char>(static_cast<unsigned char>(b[end + 12]) + 46);
        cases.push_back({"directory size too large", b});
    }

    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string zip = tmp / "damaged.zip";
        WriteAll(zip, c.bytes);
        auto before = Snapshot(dest);
        PackageExtractor ex;
        if (ex.Open(zip)) {
            EXPECT_FALSE(ex.TestAll());
            EXPECT_FALSE(ex.LastError().empty());
            EXPECT_FALSE(ex.ExtractAll(dest, false));
        }
        EXPECT_FALSE(ex.ExtractArchive(zip, dest, false));
        EXPECT_EQ(Snapshot(dest), before) << "the program folder changed";
    }

    // The undamaged archive itself passes and installs all four.
    PackageExtractor ex;
    ASSERT_TRUE(ex.Open(good));
    EXPECT_TRUE(ex.TestAll()) << ex.LastError();
    ASSERT_TRUE(ex.ExtractAll(dest, false)) << ex.LastError();
    EXPECT_EQ(ReadAll(dest + "/four.txt"), "new four");
    EXPECT_EQ(ReadAll(dest + "/one.txt"), "new one");
}

TEST(PackageIntegrity, ProgramsKeepTheirExecuteBitsWhicheverSystemPackedThem) {
    ScratchFolder tmp;
    std::string dest = tmp / "prog";
    fs::create_directories(dest);
    WriteAll(dest + "/quilmer", "old program");
    ::chmod((dest + "/quilmer").c_str(), 0755);
    WriteAll(dest + "/updater", "old updater");
    ::chmod((dest + "/updater").c_str(), 0755);
    WriteAll(dest + "/readme.txt", "old readme");
    ::chmod((dest + "/readme.txt").c_str(), 0640);

    constexpr int kWindowsNtfs = 10, kMsDos = 0;
    ZipEntry tool{"bin/tool", "new tool", true, 0100755};
    tool.madeByHost = kWindowsNtfs;  // a zipper there that records Unix permissions
    ZipEntry plain{"bin/notes.txt", "notes", true, 0};
    plain.madeByHost = kMsDos;
    ZipEntry program{"quilmer", "new program", true, 0};
    program.madeByHost = kMsDos;                                // no permissions at all
    ZipEntry updater{"updater", "new updater", true, 0100644};  // packed without its x bits
    ZipEntry readme{"readme.txt", "new readme", true, 0};
    ASSERT_TRUE(MakeZip(tmp / "pkg.zip", {tool, plain, program, updater, readme}));

    PackageExtractor ex;
    ASSERT_TRUE(ex.ExtractArchive(tmp / "pkg.zip", dest, false)) << ex.LastError();
    auto mode = [&](const std::string& rel) {
        struct stat st {};
        EXPECT_EQ(::stat((dest + "/" + rel).c_str(), &st), 0) << rel;
        return st.st_mode & 0777;
    };
    EXPECT_EQ(mode("bin/tool"), 0755u) << "recorded as a program by another system";
    EXPECT_EQ(mode("bin/notes.txt"), 0644u);
    EXPECT_EQ(mode("quilmer"), 0755u) << "replaces an executable";
    EXPECT_EQ(mode("updater") & 0111, 0111u) << "a replaced program stays runnable";
    EXPECT_EQ(mode("readme.txt"), 0640u) << "a replaced file keeps its permissions";
    EXPECT_EQ(ReadAll(dest + "/quilmer"), "new program");
}
