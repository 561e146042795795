#include "foundation/FileUtil.h"

#include "foundation/Strings.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

namespace quilmer {

namespace {

constexpr std::int64_t kTicksPerSecond = 10'000'000;
constexpr std::int64_t kSecondsFrom1601To1970 = 11'644'473'600;

std::wstring WithoutTrailingSlash(std::wstring path) {
    while (path.size() > 1 && path.back() == L'/') path.pop_back();
    return path;
}

}  // namespace

bool WriteAllToFd(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}


FileTime FileTimeFromUnix(std::int64_t seconds, std::int64_t nanoseconds) {
    return (seconds + kSecondsFrom1601To1970) * kTicksPerSecond + nanoseconds / 100;
}

std::string NativePath(std::wstring_view path) {
    std::string out;
    out.reserve(path.size());
    std::wstring run;
    auto flush = [&] {
        if (!run.empty()) out += ToUtf8(run);
        run.clear();
    };
    for (wchar_t c : path) {
        if (c >= 0xDC80 && c <= 0xDCFF) {
            flush();
            out += static_cast<char>(c - 0xDC00);
        } else if ((c >= 0xD800 && c <= 0xDFFF) || static_cast<std::uint32_t>(c) > 0x10FFFF) {
            flush();
            out += '?';  // cannot be named on disk
        } else {
            run += c;
        }
    }
    flush();
    return out;
}

std::wstring WidePath(std::string_view native) {
    if (IsValidUtf8(native)) return FromUtf8(native);
    // Decode what is valid and carry stray bytes through as escapes.
    std::wstring out;
    std::size_t i = 0;
    while (i < native.size()) {
        std::size_t len = 1;
        unsigned char lead = static_cast<unsigned char>(native[i]);
        if (lead >= 0xF0)
            len = 4;
        else if (lead >= 0xE0)
            len = 3;
        else if (lead >= 0xC0)
            len = 2;
        if (len > 1 && i + len <= native.size() && IsValidUtf8(native.substr(i, len))) {
            out += FromUtf8(native.substr(i, len));
            i += len;
        } else if (lead < 0x80) {
            out += static_cast<wchar_t>(lead);
            ++i;
        } else {
            out += static_cast<wchar_t>(0xDC00 + lead);
            ++i;
        }
    }
    return out;
}

bool IsSystemPath(std::wstring_view path) {
    return !path.empty() && path.find(L'\0') == std::wstring_view::npos;
}

bool GetFileFacts(const std::wstring& path, FileFacts& facts) {
    if (!IsSystemPath(path)) return false;
    std::string native = NativePath(path);
    struct statx sx {};
    if (::statx(AT_FDCWD, native.c_str(), 0, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0) return false;
    facts = FileFacts{};
    facts.size = sx.stx_size;
    facts.lastWriteTime = FileTimeFromUnix(sx.stx_mtime.tv_sec, sx.stx_mtime.tv_nsec);
    facts.lastAccessTime = FileTimeFromUnix(sx.stx_atime.tv_sec, sx.stx_atime.tv_nsec);
    if ((sx.stx_mask & STATX_BTIME) && sx.stx_btime.tv_sec != 0)
        facts.creationTime = FileTimeFromUnix(sx.stx_btime.tv_sec, sx.stx_btime.tv_nsec);
    else
        facts.creationTime = facts.lastWriteTime;
    if (!(sx.stx_mask & STATX_ATIME) || sx.stx_atime.tv_sec == 0) facts.lastAccessTime = facts.lastWriteTime;

    std::uint32_t attributes = 0;
    if (S_ISDIR(sx.stx_mode)) attributes |= kAttrDirectory;
    if (S_ISREG(sx.stx_mode)) attributes |= kAttrArchive;
    if (::access(native.c_str(), W_OK) != 0 && errno == EACCES) attributes |= kAttrReadOnly;
    std::error_code ec;
    std::filesystem::path full = std::filesystem::absolute(std::filesystem::path(native), ec).lexically_normal();
    std::string fullNative = ec ? native : full.string();
    if (fullNative.size() > 1 && fullNative.back() == '/') fullNative.pop_back();
    std::string name = std::filesystem::path(fullNative).filename().string();
    if (!name.empty() && name[0] == '.' && name != "." && name != "..") attributes |= kAttrHidden;
    facts.attributes = attributes;
    facts.fullName = WidePath(fullNative);
    return true;
}

bool FileExists(const std::wstring& path) {
    FileFacts facts;
    return GetFileFacts(path, facts);
}

bool FolderExists(const std::wstring& path) {
    FileFacts facts;
    return GetFileFacts(path, facts) && (facts.attributes & kAttrDirectory);
}

bool CreateFolderTree(const std::wstring& path) {
    if (!IsSystemPath(path)) return false;
    std::string native = NativePath(WithoutTrailingSlash(path));
    std::error_code ec;
    std::filesystem::create_directories(native, ec);
    return std::filesystem::is_directory(native, ec);
}

bool DeleteFolderContents(const std::wstring& folder, bool alsoDesktopIni, bool wipeIndexDat) {
    if (!IsSystemPath(folder)) return false;
    std::string native = NativePath(WithoutTrailingSlash(folder));
    DIR* dir = ::opendir(native.c_str());
    if (!dir) return false;
    std::vector<std::string> names;
    while (dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(dir);

    for (const std::string& name : names) {
        std::wstring wideName = WidePath(name);
        if (!alsoDesktopIni && EqualsNoCase(wideName, L"desktop.ini")) continue;
        std::string child = native + "/" + name;
        struct stat st {};
        if (::lstat(child.c_str(), &st) != 0) continue;
        if (S_ISLNK(st.st_mode)) {
            ::unlink(child.c_str());
            continue;
        }
        // The owner's write bit stands for "not read-only"; a folder needs it (and search) so
        // that its entries can be removed.
        if (S_ISDIR(st.st_mode)) {
            if ((st.st_mode & S_IRWXU) != S_IRWXU) ::chmod(child.c_str(), st.st_mode | S_IRWXU);
            DeleteFolderContents(WidePath(child), alsoDesktopIni, wipeIndexDat);
            ::rmdir(child.c_str());
            continue;
        }
        if (!(st.st_mode & S_IWUSR)) ::chmod(child.c_str(), st.st_mode | S_IWUSR);
        if (wipeIndexDat && EqualsNoCase(wideName, L"index.dat")) WipeFile(WidePath(child));
        ::unlink(child.c_str());
    }
    return true;
}

bool WipeFile(const std::wstring& path) {
    if (!IsSystemPath(path)) return false;
    std::string native = NativePath(path);
    int fd = ::open(native.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        ::close(fd);
        return false;
    }
    static const char zeros[4096] = {};
    std::uint64_t remaining = static_cast<std::uint64_t>(st.st_size);
    bool ok = true;
    while (ok && remaining > 0) {
        std::size_t block = static_cast<std::size_t>(std::min<std::uint64_t>(remaining, sizeof zeros));
        ok = WriteAllToFd(fd, zeros, block);
        remaining -= block;
    }
    if (ok && st.st_size > 0) ok = ::fsync(fd) == 0;
    if (::close(fd) != 0) ok = false;
    return ok;
}

bool ReadWholeFile(const std::wstring& path, std::string& contents) {
    if (!IsSystemPath(path)) {
        errno = EINVAL;
        return false;
    }
    int fd = ::open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    std::string data;
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            ::close(fd);
            return false;
        }
        if (n == 0) break;
        data.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    contents = std::move(data);
    return true;
}

bool WriteWholeFile(const std::wstring& path, std::string_view contents) {
    if (!IsSystemPath(path)) {
        errno = EINVAL;
        return false;
    }
    std::string target = NativePath(path);
    std::string temp = target + ".XXXXXX";
    int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = WriteAllToFd(fd, contents.data(), contents.size()) && ::fsync(fd) == 0;
    // Keep the target's permissions when it exists (mkostemp creates 0600).
    struct stat st {};
    if (ok && ::stat(target.c_str(), &st) == 0) ::fchmod(fd, st.st_mode & 07777);
    if (::close(fd) != 0) ok = false;
    if (ok) ok = ::rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) ::unlink(temp.c_str());
    return ok;
}

bool ReadRegularFile(const std::wstring& path, std::size_t maxBytes, std::string& contents,
                     std::wstring* why) {
    auto refuse = [why](const wchar_t* reason) {
        if (why) *why = reason;
        return false;
    };
    if (!IsSystemPath(path)) return refuse(L"the name is empty or holds a NUL character");
    const std::string native = NativePath(path);
    struct stat st {};
    // Looked at before opening: opening a FIFO waits for a writer, opening a device may act.
    if (::stat(native.c_str(), &st) != 0) return refuse(L"the file is missing");
    if (!S_ISREG(st.st_mode)) return refuse(L"it is not a regular file");
    if (static_cast<std::uint64_t>(st.st_size) > maxBytes) return refuse(L"the file is too large");
    // O_NONBLOCK: a FIFO put in its place meanwhile does not hold the open; fstat then tells.
    int fd = ::open(native.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return refuse(L"the file cannot be opened");
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return refuse(L"it is not a regular file");
    }
    std::string data;
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            ::close(fd);
            return refuse(L"the file cannot be read");
        }
        if (n == 0) break;
        data.append(buffer, static_cast<std::size_t>(n));
        if (data.size() > maxBytes) {  // it grew since it was looked at
            ::close(fd);
            return refuse(L"the file is too large");
        }
    }
    ::close(fd);
    contents = std::move(data);
    return true;
}

}  // namespace quilmer
