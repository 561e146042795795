#include "updater/PackageExtractor.h"

#include <fcntl.h>
#include <minizip/unzip.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <system_error>
#include <vector>

namespace quilmer {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kCopyChunk = 20480;
constexpr std::size_t kNameBuffer = 4096;

unzFile Handle(void* p) { return static_cast<unzFile>(p); }

bool HasExtension(const std::string& name, const char* filter) {
    if (!filter) return true;
    std::size_t dot = name.rfind('.');
    if (dot == std::string::npos) return false;
    std::string ext = name.substr(dot + 1);
    std::size_t n = std::strlen(filter);
    if (ext.size() != n) return false;
    for (std::size_t i = 0; i < n; ++i) {
        if (std::tolower(static_cast<unsigned char>(ext[i])) !=
            std::tolower(static_cast<unsigned char>(filter[i])))
            return false;
    }
    return true;
}

// The Unix mode an entry records, or 0. Unix and macOS zippers always store it in the upper
// half of the external attributes; zippers on other systems (Info-ZIP on Windows, archivers
// that keep permissions) do so too when they know one, and then the file-type bits are set.
mode_t UnixMode(const PackageExtractor::EntryFacts& f) {
    std::uint32_t host = f.versionMadeBy >> 8;
    auto mode = static_cast<mode_t>(f.externalAttributes >> 16);
    if (host == 3 || host == 19) return mode;
    return (mode & S_IFMT) == S_IFREG || (mode & S_IFMT) == S_IFDIR || (mode & S_IFMT) == S_IFLNK ? mode : 0;
}

std::uint64_t LittleEndian(const unsigned char* p, int bytes) {
    std::uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}

// Reads bytes at an absolute position; false when the file is shorter.
bool ReadAt(std::FILE* f, std::uint64_t pos, unsigned char* buffer, std::size_t n) {
    return ::fseeko(f, static_cast<off_t>(pos), SEEK_SET) == 0 && std::fread(buffer, 1, n, f) == n;
}

std::string WithSlash(std::string path) {
    if (!path.empty() && path.back() != '/') path += '/';
    return path;
}

// Removes a folder tree, ignoring what cannot be removed.
void RemoveTree(const std::string& path) {
    std::error_code ec;
    fs::remove_all(path, ec);
}

}  // namespace

PackageExtractor::~PackageExtractor() { Close(); }

bool PackageExtractor::Fail(std::string why) {
    lastError_ = std::move(why);
    return false;
}

bool PackageExtractor::Open(const std::string& archivePath) {
    Close();
    lastError_.clear();
    zip_ = unzOpen64(archivePath.c_str());
    if (!zip_) return Fail("not a readable zip archive: " + archivePath);
    directory_ = ReadDirectoryEnd(archivePath);
    std::size_t dot = archivePath.rfind('.');
    std::size_t slash = archivePath.rfind('/');
    defaultDestination_ = (dot != std::string::npos && (slash == std::string::npos || dot > slash))
                              ? archivePath.substr(0, dot)
                              : archivePath;
    return true;
}

bool PackageExtractor::Close() {
    if (!zip_) return false;
    unzCloseCurrentFile(Handle(zip_));
    unzClose(Handle(zip_));
    zip_ = nullptr;
    directory_ = DirectoryEnd{};
    return true;
}

// The end record is found the way the unzip interface finds it: the last signature in the final
// 64 KiB + 22 bytes. Only the counts and positions are read here; minizip reads everything else.
PackageExtractor::DirectoryEnd PackageExtractor::ReadDirectoryEnd(const std::string& archivePath) {
    DirectoryEnd end;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(archivePath.c_str(), "rb"), &std::fclose);
    if (!f || ::fseeko(f.get(), 0, SEEK_END) != 0) return end;
    off_t fileSize = ::ftello(f.get());
    if (fileSize < 22) return end;
    std::uint64_t tail = std::min<std::uint64_t>(static_cast<std::uint64_t>(fileSize), 0xFFFF + 22);
    std::uint64_t tailStart = static_cast<std::uint64_t>(fileSize) - tail;
    std::vector<unsigned char> bytes(tail);
    if (!ReadAt(f.get(), tailStart, bytes.data(), bytes.size())) return end;
    std::size_t at = bytes.size() - 22 + 1;
    do {
        --at;
    } while (at > 0 &&
             !(bytes[at] == 'P' && bytes[at + 1] == 'K' && bytes[at + 2] == 5 && bytes[at + 3] == 6));
    if (!(bytes[at] == 'P' && bytes[at + 1] == 'K' && bytes[at + 2] == 5 && bytes[at + 3] == 6)) return end;
    const unsigned char* r = bytes.data() + at;
    end.entries = LittleEndian(r + 10, 2);
    end.size = LittleEndian(r + 12, 4);
    end.offset = LittleEndian(r + 16, 4);
    if (end.entries == 0xFFFF || end.size == 0xFFFFFFFF || end.offset == 0xFFFFFFFF) {
        // Zip64: the locator just before the end record gives the position of the zip64 record.
        std::uint64_t endPos = tailStart + at;
        unsigned char loc[20], rec[56];
        if (endPos < 20 || !ReadAt(f.get(), endPos - 20, loc, sizeof loc)) return end;
        if (!(loc[0] == 'P' && loc[1] == 'K' && loc[2] == 6 && loc[3] == 7)) return end;
        if (!ReadAt(f.get(), LittleEndian(loc + 8, 8), rec, sizeof rec)) return end;
        if (!(rec[0] == 'P' && rec[1] == 'K' && rec[2] == 6 && rec[3] == 6)) return end;
        end.entries = LittleEndian(rec + 32, 8);
        end.size = LittleEndian(rec + 40, 8);
        end.offset = LittleEndian(rec + 48, 8);
    }
    end.valid = true;
    return end;
}

bool PackageExtractor::ReadEntryList(std::vector<EntryFacts>& entries) {
    entries.clear();
    if (!zip_) return Fail("no archive open");
    if (!directory_.valid) return Fail("the archive's directory end cannot be read");
    if (directory_.entries == 0) return Fail("the archive holds no entries");
    unzFile z = Handle(zip_);
    // Each record must start where the one before it ended, from the directory's recorded start
    // to its recorded end; the walk ends only there, or at a damaged record, which fails.
    std::uint64_t expected = directory_.offset;
    int rc = unzGoToFirstFile(z);
    while (rc != UNZ_END_OF_LIST_OF_FILE) {
        std::string which = "directory record " + std::to_string(entries.size() + 1);
        if (rc != UNZ_OK) return Fail(which + " is damaged");
        if (entries.size() >= directory_.entries)
            return Fail("the directory holds more entries than the " + std::to_string(directory_.entries) +
                        " the archive declares");
        EntryFacts facts;
        if (!CurrentEntry(facts)) return Fail(which + " cannot be read");
        if (unzGetOffset64(z) != expected) return Fail(which + " is out of place");
        expected += facts.recordSize;
        entries.push_back(facts);
        // The unzip interface walks on past the last entry when the count reads 65535.
        rc = entries.size() == directory_.entries ? UNZ_END_OF_LIST_OF_FILE : unzGoToNextFile(z);
    }
    if (entries.size() != directory_.entries)
        return Fail("the archive declares " + std::to_string(directory_.entries) +
                    " entries, its directory holds " + std::to_string(entries.size()));
    if (expected != directory_.offset + directory_.size)
        return Fail("the directory does not end where the archive says it does");
    return true;
}

int PackageExtractor::EntryCount() const {
    if (!zip_) return 0;
    unz_global_info64 info{};
    if (unzGetGlobalInfo64(Handle(zip_), &info) != UNZ_OK) return 0;
    return static_cast<int>(info.number_entry);
}

bool PackageExtractor::CurrentEntry(EntryFacts& facts) const {
    if (!zip_) return false;
    unz_file_info64 info{};
    char name[kNameBuffer];
    char comment[256];
    if (unzGetCurrentFileInfo64(Handle(zip_), &info, name, sizeof name, nullptr, 0, comment,
                                sizeof comment) != UNZ_OK)
        return false;
    facts = EntryFacts{};
    facts.nameTooLong = info.size_filename >= sizeof name;
    facts.name.assign(name, std::min<std::size_t>(info.size_filename, sizeof name - 1));
    facts.comment.assign(comment, std::min<std::size_t>(info.size_file_comment, sizeof comment - 1));
    facts.versionMadeBy = static_cast<std::uint32_t>(info.version);
    facts.versionNeeded = static_cast<std::uint32_t>(info.version_needed);
    facts.flags = static_cast<std::uint32_t>(info.flag);
    facts.compressionMethod = static_cast<std::uint32_t>(info.compression_method);
    facts.dosDateTime = static_cast<std::uint32_t>(info.dosDate);
    facts.crc = static_cast<std::uint32_t>(info.crc);
    facts.compressedSize = info.compressed_size;
    facts.uncompressedSize = info.uncompressed_size;
    facts.internalAttributes = static_cast<std::uint32_t>(info.internal_fa);
    facts.externalAttributes = static_cast<std::uint32_t>(info.external_fa);
    facts.recordSize = 46 + info.size_filename + info.size_file_extra + info.size_file_comment;
    facts.isFolder = !facts.name.empty() && (facts.name.back() == '/' || facts.name.back() == '\\');
    if (S_ISDIR(UnixMode(facts))) facts.isFolder = true;
    return true;
}

bool PackageExtractor::GoToFirst(const char* extensionFilter) {
    if (!zip_ || unzGoToFirstFile(Handle(zip_)) != UNZ_OK) return false;
    EntryFacts facts;
    if (!CurrentEntry(facts)) return false;
    return HasExtension(facts.name, extensionFilter) || GoToNext(extensionFilter);
}

bool PackageExtractor::GoToNext(const char* extensionFilter) {
    if (!zip_) return false;
    int rc;
    while ((rc = unzGoToNextFile(Handle(zip_))) == UNZ_OK) {
        EntryFacts facts;
        if (!CurrentEntry(facts)) return false;
        if (HasExtension(facts.name, extensionFilter)) return true;
    }
    if (rc != UNZ_END_OF_LIST_OF_FILE) Fail("a directory record is damaged");
    return false;
}

std::string PackageExtractor::SafeRelativePath(const std::string& entryName) {
    if (entryName.empty() || entryName[0] == '/' || entryName[0] == '\\') return {};
    if (entryName.size() >= 2 && entryName[1] == ':' &&
        std::isalpha(static_cast<unsigned char>(entryName[0])))
        return {};
    std::string out;
    std::size_t start = 0;
    while (start <= entryName.size()) {
        std::size_t end = entryName.find_first_of("/\\", start);
        if (end == std::string::npos) end = entryName.size();
        std::string part = entryName.substr(start, end - start);
        if (part == "..") return {};
        if (!part.empty() && part != ".") {
            if (!out.empty()) out += '/';
            out += part;
        }
        start = end + 1;
    }
    return out;
}

bool PackageExtractor::MakeFolderTree(const std::string& path) {
    if (path.empty()) return false;
    std::error_code ec;
    fs::create_directories(path, ec);
    return fs::is_directory(path, ec);
}

bool PackageExtractor::MakeParentFolder(const std::string& filePath) {
    std::size_t slash = filePath.rfind('/');
    if (slash == std::string::npos) return false;
    if (slash == 0) return true;
    return MakeFolderTree(filePath.substr(0, slash));
}

bool PackageExtractor::CopyCurrentTo(const std::string& path, const EntryFacts& facts) {
    unzFile z = Handle(zip_);
    if (unzOpenCurrentFile(z) != UNZ_OK) return Fail("cannot read entry " + facts.name);
    std::FILE* out = nullptr;
    if (!path.empty()) {
        out = std::fopen(path.c_str(), "wbe");  // "e": close-on-exec
        if (!out) {
            unzCloseCurrentFile(z);
            return Fail("cannot create " + path + ": " + std::strerror(errno));
        }
    }
    std::unique_ptr<char[]> buffer(new char[kCopyChunk]);
    std::uint64_t total = 0;
    int n = 0;
    bool writeFailed = false;
    while ((n = unzReadCurrentFile(z, buffer.get(), kCopyChunk)) > 0) {
        total += static_cast<std::uint64_t>(n);
        if (out &&
            std::fwrite(buffer.get(), 1, static_cast<std::size_t>(n), out) != static_cast<std::size_t>(n)) {
            writeFailed = true;
            break;
        }
    }
    if (out && std::fclose(out) != 0) writeFailed = true;
    int closed = unzCloseCurrentFile(z);
    if (writeFailed) return Fail("cannot write " + path);
    if (n < 0) return Fail("damaged data in entry " + facts.name);
    if (total != facts.uncompressedSize) return Fail("entry " + facts.name + " is shorter than recorded");
    if (closed == UNZ_CRCERROR) return Fail("checksum mismatch in entry " + facts.name);
    if (closed != UNZ_OK) return Fail("cannot finish entry " + facts.name);
    return true;
}

void PackageExtractor::ApplyFacts(const std::string& path, const EntryFacts& facts,
                                  const std::string& replaced) {
    struct stat old {};
    bool replacing = !replaced.empty() && ::stat(replaced.c_str(), &old) == 0 && S_ISREG(old.st_mode);
    mode_t mode = UnixMode(facts) & 0777;
    if (mode == 0) mode = replacing ? (old.st_mode & 0777) : 0644;
    // A program the package replaces stays a program, whatever the packer recorded: the updater
    // starts it right after the install.
    if (replacing) mode |= old.st_mode & 0111;
    ::chmod(path.c_str(), mode);

    std::uint32_t date = facts.dosDateTime >> 16, time = facts.dosDateTime & 0xFFFF;
    std::tm tm{};
    tm.tm_year = static_cast<int>((date >> 9) & 0x7F) + 80;
    tm.tm_mon = static_cast<int>((date >> 5) & 0x0F) - 1;
    tm.tm_mday = static_cast<int>(date & 0x1F);
    tm.tm_hour = static_cast<int>((time >> 11) & 0x1F);
    tm.tm_min = static_cast<int>((time >> 5) & 0x3F);
    tm.tm_sec = static_cast<int>((time & 0x1F) * 2);
    tm.tm_isdst = -1;
    std::time_t t = std::mktime(&tm);
    if (t == static_cast<std::time_t>(-1)) return;  // times are a nicety; the content is what counts
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = t;
    times[1].tv_nsec = 0;
    ::utimensat(AT_FDCWD, path.c_str(), times, 0);
}

bool PackageExtractor::CheckEntry(const EntryFacts& facts) {
    if (facts.nameTooLong) return Fail("entry name too long");
    if (SafeRelativePath(facts.name).empty()) return Fail("unsafe entry name " + facts.name);
    if (S_ISLNK(UnixMode(facts))) return Fail("symbolic link entry " + facts.name);
    if (facts.flags & 1) return Fail("encrypted entry " + facts.name);
    return true;
}

bool PackageExtractor::TestAll() {
    std::vector<EntryFacts> entries;
    if (!ReadEntryList(entries)) return false;
    for (const EntryFacts& facts : entries)
        if (!CheckEntry(facts)) return false;
    unzGoToFirstFile(Handle(zip_));
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (i > 0 && unzGoToNextFile(Handle(zip_)) != UNZ_OK) return Fail("cannot read the entry list");
        if (!entries[i].isFolder && !CopyCurrentTo("", entries[i])) return false;
    }
    return true;
}

bool PackageExtractor::ExtractCurrent(const std::string& destinationArg, bool flatten) {
    if (!zip_) return Fail("no archive open");
    std::string destination = WithSlash(destinationArg.empty() ? defaultDestination_ : destinationArg);
    EntryFacts facts;
    if (!CurrentEntry(facts)) return Fail("cannot read the entry");
    if (!CheckEntry(facts)) return false;
    if (!MakeFolderTree(destination)) return Fail("cannot create folder " + destination);
    if (facts.isFolder) return true;  // folders come into being with the files inside them
    std::string rel = SafeRelativePath(facts.name);
    if (flatten) rel = rel.substr(rel.rfind('/') + 1);
    std::string target = destination + rel;
    if (!MakeParentFolder(target)) return Fail("cannot create the folder of " + target);

    std::string temp = target + ".partXXXXXX";
    int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) return Fail("cannot create a file beside " + target);
    ::close(fd);
    if (!CopyCurrentTo(temp, facts)) {
        ::unlink(temp.c_str());
        return false;
    }
    ApplyFacts(temp, facts, target);
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        std::string why = std::strerror(errno);
        ::unlink(temp.c_str());
        return Fail("cannot replace " + target + ": " + why);
    }
    return true;
}

bool PackageExtractor::ExtractAll(const std::string& destinationArg, bool flatten) {
    if (!zip_) return Fail("no archive open");
    if (destinationArg.empty()) return Fail("no destination");
    std::string destination = WithSlash(destinationArg);
    // The whole directory and every name are checked before anything is written.
    std::vector<EntryFacts> entries;
    if (!ReadEntryList(entries)) return false;
    for (const EntryFacts& facts : entries)
        if (!CheckEntry(facts)) return false;
    if (!MakeFolderTree(destination)) return Fail("cannot create folder " + destination);

    // The staging folder lies inside the destination, so the moves below are renames on one
    // file system.
    std::string staging = destination + ".update-staging-XXXXXX";
    if (!::mkdtemp(staging.data())) return Fail("cannot create a staging folder in " + destination);
    staging = WithSlash(staging);
    struct Staged {
        std::string rel;
        std::string file;
        EntryFacts facts;
    };
    std::map<std::string, std::size_t> byName;  // a name given twice: the later entry wins
    std::vector<Staged> staged;

    unzGoToFirstFile(Handle(zip_));
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (i > 0 && unzGoToNextFile(Handle(zip_)) != UNZ_OK) {
            RemoveTree(staging);
            return Fail("cannot read the entry list");
        }
        const EntryFacts& facts = entries[i];
        if (facts.isFolder) continue;
        std::string rel = SafeRelativePath(facts.name);
        if (flatten) rel = rel.substr(rel.rfind('/') + 1);
        std::string file = staging + "new-" + std::to_string(i);
        if (!CopyCurrentTo(file, facts)) {
            RemoveTree(staging);
            return false;
        }
        ApplyFacts(file, facts, destination + rel);
        auto [it, fresh] = byName.emplace(rel, staged.size());
        if (fresh) {
            staged.push_back({rel, file, facts});
        } else {
            staged[it->second].file = file;
        }
    }

    // Move into place, keeping each replaced file so that a failure can undo the moves.
    struct Done {
        std::string target, backup;
    };
    std::vector<Done> done;
    std::vector<std::string> createdFolders;
    std::string failure;
    for (std::size_t i = 0; i < staged.size() && failure.empty(); ++i) {
        std::string target = destination + staged[i].rel;
        // Create missing parent folders one by one, remembering them for the undo.
        std::size_t pos = destination.size();
        while ((pos = target.find('/', pos)) != std::string::npos) {
            std::string folder = target.substr(0, pos);
            struct stat st {};
            if (::stat(folder.c_str(), &st) != 0) {
                if (::mkdir(folder.c_str(), 0755) != 0) {
                    failure = "cannot create folder " + folder;
                    break;
                }
                createdFolders.push_back(folder);
            } else if (!S_ISDIR(st.st_mode)) {
                failure = folder + " is not a folder";
                break;
            }
            ++pos;
        }
        if (!failure.empty()) break;
        Done step{target, ""};
        struct stat st {};
        if (::lstat(target.c_str(), &st) == 0) {
            if (S_ISDIR(st.st_mode)) {
                failure = target + " is a folder";
                break;
            }
            step.backup = staging + "old-" + std::to_string(i);
            if (::rename(target.c_str(), step.backup.c_str()) != 0) {
                failure = "cannot move aside " + target + ": " + std::strerror(errno);
                break;
            }
        }
        if (::rename(staged[i].file.c_str(), target.c_str()) != 0) {
            failure = "cannot move into place " + target + ": " + std::strerror(errno);
            if (!step.backup.empty()) ::rename(step.backup.c_str(), target.c_str());
            break;
        }
        done.push_back(step);
    }
    if (!failure.empty()) {
        for (auto it = done.rbegin(); it != done.rend(); ++it) {
            ::unlink(it->target.c_str());
            if (!it->backup.empty()) ::rename(it->backup.c_str(), it->target.c_str());
        }
        for (auto it = createdFolders.rbegin(); it != createdFolders.rend(); ++it) ::rmdir(it->c_str());
    }
    RemoveTree(staging);
    if (!failure.empty()) return Fail(failure);
    return true;
}

bool PackageExtractor::ExtractArchive(const std::string& archivePath, const std::string& destination,
                                      bool flatten) {
    Close();
    if (!Open(archivePath)) return false;
    return ExtractAll(destination, flatten);
}

}  // namespace quilmer
