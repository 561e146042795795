#include "foundation/Exceptions.h"
#include "foundation/FileUtil.h"
#include "foundation/PathName.h"
#include "foundation/TempFile.h"
#include "foundation/TextTranslator.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "tests/support/ScratchFolder.h"

using namespace quilmer;
using quilmer::test::ScratchFolder;
namespace fs = std::filesystem;

namespace {

// Runs a block with another current folder.
class InFolder {
public:
    explicit InFolder(const std::string& folder) : old_(fs::current_path()) { fs::current_path(folder); }
    ~InFolder() { fs::current_path(old_); }

private:
    fs::path old_;
};

}  // namespace

TEST(CPathName, SplitsAbsoluteAndRelativePaths) {
    CPathName full(L"/home/u/Videos/My Clip.part1.FLV");
    EXPECT_EQ(full.Drive(), L"");
    EXPECT_EQ(full.FolderPath(), L"/home/u/Videos/");
    EXPECT_EQ(full.Title(), L"My Clip.part1");
    EXPECT_EQ(full.Name(), L"My Clip.part1.FLV");
    EXPECT_EQ(full.Extension(), L".FLV");
    EXPECT_EQ(full.WithExtension(L".qjv"), L"/home/u/Videos/My Clip.part1.qjv");
    EXPECT_EQ(full.WithTitle(L"out_all"), L"/home/u/Videos/out_all.FLV");

    ScratchFolder dir;
    InFolder in(dir.Path());
    CPathName relative(L"sub/../clip.flv");
    EXPECT_EQ(relative.FolderPath(), WidePath(fs::current_path().string()) + L"/");
    EXPECT_EQ(relative.Name(), L"clip.flv");
    EXPECT_EQ(relative.Title(), L"clip");

    EXPECT_EQ(CPathName(L"/a/./b//c").FullPath(), L"/a/b/c");
    EXPECT_EQ(CPathName(L"/../x").FullPath(), L"/x");
    EXPECT_EQ(CPathName(L"/a/b/").Name(), L"");
    EXPECT_EQ(CPathName(L"/a/b/").FolderPath(), L"/a/b/");
    EXPECT_EQ(CPathName(L"/a/.flv").Extension(), L".flv");  // all extension, as the splitter has it
    EXPECT_EQ(CPathName(L"/a/noext").Extension(), L"");
}

TEST(CPathName, BadNamesRaiseTheTextException) {
    for (const std::wstring& bad : {std::wstring(), std::wstring(L"a\0b", 3), L"/" + std::wstring(5000, L'x')}) {
        try {
            CPathName path(bad);
            ADD_FAILURE() << "no exception";
        } catch (const CZ4RSimpleTextException& e) {
            EXPECT_EQ(e.ErrorMessage(), L"Bad filename!");
            EXPECT_STREQ(e.what(), "Bad filename!");
        }
    }
}

TEST(Exceptions, FileCausesFromErrnoAndTheirTexts) {
    EXPECT_EQ(CZ4RFileException::CauseFromErrno(0), CZ4RFileException::kNone);
    EXPECT_EQ(CZ4RFileException::CauseFromErrno(ENOENT), CZ4RFileException::kFileNotFound);
    EXPECT_EQ(CZ4RFileException::CauseFromErrno(EACCES), CZ4RFileException::kAccessDenied);
    EXPECT_EQ(CZ4RFileException::CauseFromErrno(ENOSPC), CZ4RFileException::kDiskFull);
    EXPECT_EQ(CZ4RFileException::CauseFromErrno(EINVAL), CZ4RFileException::kInvalidParameter);
    EXPECT_EQ(CZ4RFileException::CauseFromErrno(ENOMEM), CZ4RFileException::kGeneric);

    auto e = CZ4RFileException::FromErrno(ENOENT, L"/v/100%s.flv");
    EXPECT_EQ(e.ErrorMessage(), L"/v/100%s.flv was not found.");  // '%' in the name is safe
    EXPECT_EQ(e.OsError(), ENOENT);
    EXPECT_EQ(CZ4RFileException(9, L"f").ErrorMessage(), L"Seek failed on f");
    EXPECT_EQ(CZ4RFileException(15, L"f").ErrorMessage(), L"Invalid Parameter.");
    EXPECT_EQ(CZ4RFileException(77, L"f").ErrorMessage(), L"An unknown error occurred while accessing f.");
    EXPECT_EQ(CZ4RArchiveException(5, L"ColumnsInfo").ErrorMessage(), L"ColumnsInfo has a bad format.");

    auto previous = SetTextTranslator([](const std::wstring& s) {
        return s == L"Access to %s was denied." ? std::wstring(L"Zugriff auf %s verweigert.") : s;
    });
    EXPECT_EQ(CZ4RFileException(5, L"x").ErrorMessage(), L"Zugriff auf x verweigert.");
    SetTextTranslator(previous);
}

TEST(CTempFile, CommitReplacesTargetOrKeepsTheTemporary) {
    ScratchFolder dir;
    dir.Write("target", "old");
    CTempFile temp;
    ASSERT_TRUE(temp.Create(dir.Wide()));
    EXPECT_TRUE(CPathName(temp.FileName()).Name().starts_with(L"TFR"));
    ASSERT_TRUE(temp.Write("new"));
    ASSERT_TRUE(temp.Commit(dir.Wide() + L"target"));
    std::string back;
    ReadWholeFile(dir.Wide() + L"target", back);
    EXPECT_EQ(back, "new");
    EXPECT_FALSE(FileExists(temp.FileName()));

    // A target that cannot be replaced (a folder with content): false, temporary kept.
    dir.Write("busy/inside", "x");
    CTempFile blocked;
    ASSERT_TRUE(blocked.Create(dir.Wide()));
    EXPECT_FALSE(blocked.Commit(dir.Wide() + L"busy"));
    EXPECT_TRUE(FileExists(blocked.FileName()));
    EXPECT_TRUE(blocked.Commit());  // no target: deleted
    EXPECT_FALSE(FileExists(blocked.FileName()));

    std::wstring abandoned;
    {
        CTempFile temp2;
        ASSERT_TRUE(temp2.Create(dir.Wide()));
        abandoned = temp2.FileName();
    }
    EXPECT_FALSE(FileExists(abandoned));  // never committed: removed
    CTempFile nowhere;
    EXPECT_FALSE(nowhere.Create(dir.Wide() + L"missing/"));
}
