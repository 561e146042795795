#include "updater/PackageExtractor.h"

#include <fcntl.h>
#include <minizip/unzip.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <system_error>

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

bool IsUnixMade(const PackageExtractor::EntryFacts& f) { return (f.versionMadeBy >> 8) == 3; }
mode_t UnixMode(const PackageExtractor::EntryFacts& f) {
    return IsUnixMade(f) ? static_cast<mode_t>(f.externalAttributes >> 16) : 0;
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
    while (unzGoToNextFile(Handle(zip_)) == UNZ_OK) {
        EntryFacts facts;
        if (!CurrentEntry(facts)) return false;
        if (HasExtension(facts.name, extensionFilter)) return true;
    }
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
    mode_t mode = UnixMode(facts) & 0777;
    if (mode == 0) {
        // Packages made elsewhere carry no permissions: keep those of the file being replaced,
        // so an executable stays executable.
        struct stat old {};
        mode = (!replaced.empty() && ::stat(replaced.c_str(), &old) == 0) ? (old.st_mode & 0777) : 0644;
    }
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
    if (!zip_) return Fail("no archive open");
    if (EntryCount() == 0 || unzGoToFirstFile(Handle(zip_)) != UNZ_OK)
        return Fail("the archive holds no entries");
    do {
        EntryFacts facts;
        if (!CurrentEntry(facts)) return Fail("cannot read the entry list");
        if (!CheckEntry(facts)) return false;
        if (!facts.isFolder && !CopyCurrentTo("", facts)) return false;
    } while (unzGoToNextFile(Handle(zip_)) == UNZ_OK);
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
    if (EntryCount() == 0 || unzGoToFirstFile(Handle(zip_)) != UNZ_OK)
        return Fail("the archive holds no entries");

    // Every name is checked before anything is written.
    std::vector<EntryFacts> entries;
    do {
        EntryFacts facts;
        if (!CurrentEntry(facts)) return Fail("cannot read the entry list");
        if (!CheckEntry(facts)) return false;
        entries.push_back(facts);
    } while (unzGoToNextFile(Handle(zip_)) == UNZ_OK);
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
    for (std::size_t i = 0; i < entries.size(); ++i, unzGoToNextFile(Handle(zip_))) {
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
