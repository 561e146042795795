#pragma once
// Small file-system helpers on wide paths, and the one place where wide paths become the
// byte strings the kernel takes.

#include <cstdint>
#include <string>
#include <string_view>

namespace quilmer {

// Time stamps of files and CDateTime: 100-nanosecond ticks since 1 January 1601, UTC.
using FileTime = std::int64_t;
FileTime FileTimeFromUnix(std::int64_t seconds, std::int64_t nanoseconds = 0);

// Wide path to the bytes the kernel takes, and back. Names are UTF-8; bytes of a stored name
// that are not valid UTF-8 survive the round trip (each becomes U+DC80+byte in the wide form).
std::string NativePath(std::wstring_view path);
std::wstring WidePath(std::string_view native);

// Whether a path reaches the system whole: not empty and without a NUL, which the kernel takes
// as the end of the name (a job naming "out\0.mp4" would write "out"). Every helper here
// refuses a path that fails this; so must any other code that hands a wide path to the system.
bool IsSystemPath(std::wstring_view path);

// Attribute bits of FileFacts, in the values of the system the program came from.
enum FileAttribute : std::uint32_t {
    kAttrReadOnly = 0x01,  // the owner may not write it
    kAttrHidden = 0x02,    // the name starts with a dot
    kAttrDirectory = 0x10,
    kAttrArchive = 0x20,   // a regular file
};

struct FileFacts {
    std::uint64_t size = 0;  // the full size: joined videos pass 4 GiB
    std::uint32_t attributes = 0;
    FileTime creationTime = 0;    // the birth time where the file system keeps one, else last write
    FileTime lastAccessTime = 0;  // last write when the file system reports none
    FileTime lastWriteTime = 0;
    std::wstring fullName;  // absolute, normalised
};

// False for an empty path or when nothing exists there (a folder counts as existing). Follows
// symbolic links.
bool GetFileFacts(const std::wstring& path, FileFacts& facts);
bool FileExists(const std::wstring& path);
bool FolderExists(const std::wstring& path);

// Creates the folder and any missing parents (a trailing '/' is allowed). True when the folder
// exists afterwards, including when it existed already.
bool CreateFolderTree(const std::wstring& path);

// Deletes everything inside folder, leaving the folder itself. "desktop.ini" (any case) stays
// unless alsoDesktopIni; a file "index.dat" (any case) is zero-wiped first when wipeIndexDat.
// Read-only entries are made writable first. Symbolic links are removed, never followed. False
// only when the folder cannot be listed.
bool DeleteFolderContents(const std::wstring& folder, bool alsoDesktopIni = false, bool wipeIndexDat = false);

// Overwrites an existing file's bytes with zeros (4096-byte blocks), keeping its size. False
// when it cannot be opened for writing or a write fails; an empty file succeeds at once.
bool WipeFile(const std::wstring& path);

// Reads / writes a whole file. WriteWholeFile replaces the target atomically (temporary file
// in the same folder, flushed, renamed over it).
// Writes all bytes to a descriptor, retrying short writes and EINTR. On failure errno tells why.
bool WriteAllToFd(int fd, const char* data, std::size_t size);

bool ReadWholeFile(const std::wstring& path, std::string& contents);
bool WriteWholeFile(const std::wstring& path, std::string_view contents);

// Reads a file that others may have placed (a skin, a language pack, an image): only a regular
// file of at most maxBytes. A FIFO, a device, a socket or a folder is refused without being read
// (nor waited on), as is a larger file or a path that is not a system path. On refusal why says
// what it was, in English for the log.
bool ReadRegularFile(const std::wstring& path, std::size_t maxBytes, std::string& contents,
                     std::wstring* why = nullptr);

}  // namespace quilmer
