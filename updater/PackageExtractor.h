#pragma once
// Unpacks the update package (an ordinary zip archive) over the program folder.
//
// Nothing in the destination changes until every entry has been unpacked and checked: the
// entries go to a staging folder inside the destination first, and only then are moved into
// place, each file replacing the old one (a rename, so a running program keeps its old file).
// If a move fails, the files already moved are put back. Entries whose names are absolute or
// climb out of the destination, symbolic links, encrypted or damaged entries, and a directory
// that does not hold exactly the entries the archive declares fail the whole extraction.
//
// Permissions: a Unix mode recorded in an entry (the upper half of its external attributes)
// applies, whatever system made the package; an entry without one takes the permissions of the
// file it replaces (0644 for a new file). A replaced executable never loses its execute bits.

#include <cstdint>
#include <string>
#include <vector>

namespace quilmer {

class PackageExtractor {
public:
    struct EntryFacts {
        std::string name;  // as stored; "\" is read as a folder separator too
        std::string comment;
        std::uint32_t versionMadeBy = 0;
        std::uint32_t versionNeeded = 0;
        std::uint32_t flags = 0;
        std::uint32_t compressionMethod = 0;
        std::uint32_t dosDateTime = 0;
        std::uint32_t crc = 0;
        std::uint64_t compressedSize = 0;
        std::uint64_t uncompressedSize = 0;
        std::uint32_t internalAttributes = 0;
        std::uint32_t externalAttributes = 0;
        bool isFolder = false;
        bool nameTooLong = false;
        std::uint64_t recordSize = 0;  // length of the entry's central-directory record
    };

    PackageExtractor() = default;
    ~PackageExtractor();
    PackageExtractor(const PackageExtractor&) = delete;
    PackageExtractor& operator=(const PackageExtractor&) = delete;

    // Opens an archive (closing any open one). False when the file is not a readable zip
    // archive, e.g. a truncated download whose central directory is missing.
    bool Open(const std::string& archivePath);
    bool Close();
    bool IsOpen() const { return zip_ != nullptr; }

    // Archive path without its last extension: the destination when none is given.
    const std::string& DefaultDestination() const { return defaultDestination_; }

    int EntryCount() const;
    // Moves to the first / next entry, or with a filter to the first / next whose extension
    // (text after the last ".") equals it without regard to case.
    bool GoToFirst(const char* extensionFilter = nullptr);
    bool GoToNext(const char* extensionFilter = nullptr);
    bool CurrentEntry(EntryFacts& facts) const;

    // Reads every entry and checks names, data and checksums without writing anything.
    // This is the test that a download is a complete, undamaged package. The entry list must
    // run from the directory's start to its recorded end and hold exactly the number of entries
    // the archive declares; a damaged record anywhere fails the test.
    bool TestAll();

    // Extracts the current entry into the destination (or the default destination when it is
    // empty), replacing an existing file only after the new one has been written and checked.
    bool ExtractCurrent(const std::string& destination, bool flatten);
    // Extracts every entry, all or nothing (see above). An archive without entries fails.
    bool ExtractAll(const std::string& destination, bool flatten);
    bool ExtractArchive(const std::string& archivePath, const std::string& destination, bool flatten);

    // Creates a folder with its missing parents; true when it exists as a folder afterwards.
    static bool MakeFolderTree(const std::string& path);
    // Creates the folder a file path lies in; false for a path without a folder.
    static bool MakeParentFolder(const std::string& filePath);

    // Turns an entry name into a relative path below the destination ("a/b.txt"), or "" when
    // the name is unsafe: absolute, with a drive letter, with a ".." component, or empty.
    static std::string SafeRelativePath(const std::string& entryName);

    // Why the last operation failed, for the log.
    const std::string& LastError() const { return lastError_; }

private:
    bool Fail(std::string why);
    // Walks the whole directory (see TestAll) and collects every entry's facts.
    bool ReadEntryList(std::vector<EntryFacts>& entries);
    // Refuses names that are unsafe or too long, links and encrypted entries.
    bool CheckEntry(const EntryFacts& facts);
    // Unpacks the current entry into the file at path, checking size and checksum. An empty
    // path only reads and checks.
    bool CopyCurrentTo(const std::string& path, const EntryFacts& facts);
    static void ApplyFacts(const std::string& path, const EntryFacts& facts, const std::string& replaced);

    // What the end-of-central-directory record (or its zip64 form) declares.
    struct DirectoryEnd {
        bool valid = false;
        std::uint64_t entries = 0, offset = 0, size = 0;
    };
    static DirectoryEnd ReadDirectoryEnd(const std::string& archivePath);

    void* zip_ = nullptr;  // unzFile
    DirectoryEnd directory_;
    std::string defaultDestination_;
    std::string lastError_;
};

}  // namespace quilmer
