#pragma once
// Files a join makes beside its output: intermediate streams, the concatenation file, temporary
// clip copies and the two-pass working folder. Names are chosen so that a join never overwrites
// anything it did not create itself: a clip, the output, another intermediate or a stranger's file.

#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace quilmer {

// Wide paths are kept as UTF-8 bytes on disk.
std::filesystem::path ToFsPath(const std::wstring& path);
std::wstring FromFsPath(const std::filesystem::path& path);

// Folder of a path with its trailing '/', the name without folder and extension, the extension
// with its dot (empty when there is none).
std::wstring FolderOf(const std::wstring& path);
std::wstring TitleOf(const std::wstring& path);
std::wstring ExtensionOf(const std::wstring& path);

// Absolute, lexically normal form used to compare paths.
std::wstring NormalPath(const std::wstring& path);
// True when both name the same file: the same normal path, or the same inode when both exist.
bool SameFile(const std::wstring& a, const std::wstring& b);

// The longest file name (in bytes on disk) the join's own names may have.
constexpr std::size_t kMaxNameBytes = 255;

// title shortened (whole characters only) so that its bytes on disk fit in maxBytes.
std::wstring FitTitle(const std::wstring& title, std::size_t maxBytes);

// Hands out file names for one join. A name is never one already handed out, never one of the
// protected paths (clips, output), and never a file that exists; a clash adds "-2", "-3", ...
// A title too long for the file system is shortened, so any clip's name gives a usable name.
class JoinFileNamer {
public:
    void Protect(const std::wstring& path);
    // folder ends in '/'; the result is folder + title + [-n] + suffix + extension.
    std::wstring Reserve(const std::wstring& folder, const std::wstring& title, const std::wstring& suffix,
                         const std::wstring& extension);
    bool IsReserved(const std::wstring& path) const;
    void Clear();

private:
    bool Taken(const std::wstring& path) const;

    std::vector<std::wstring> protected_;
    std::set<std::wstring> reserved_;
};

// Refuses an output path that would destroy a clip of the join or cannot be written at all: its
// folder is tried by creating (and removing) a file in it, so that a folder nobody can write in
// is named before any work, not blamed on the clips later. Returns the reason shown to the user,
// or an empty string when the output path is usable.
std::wstring CheckOutputPath(const std::wstring& outputPath, const std::vector<std::wstring>& clips);

// Why a clip cannot be read, in the system's words ("No such file or directory", "Permission
// denied", a folder given as a clip, ...); an empty string when it can be opened for reading.
std::wstring CheckClipReadable(const std::wstring& clip);

// The line of an encoder's output that says the disk is full (or the quota or file size limit
// is reached); empty when there is none.
std::wstring StorageFailure(const std::string& encoderOutput);

// The last non-empty line of an encoder's output.
std::wstring LastOutputLine(const std::string& encoderOutput);

// The line of an encoder's output that says why it gave up: ffmpeg ends with lines that only say
// that it did ("Conversion failed!", "Error writing trailer", the write call that failed), so the
// last line that names a cause is taken, without its "[muxer @ 0x...]" address; else the last
// line that is not one of those; else "".
std::wstring EncoderFailureReason(const std::string& encoderOutput);

// Puts a finished output on disk before it may replace the user's file, so that a crash cannot
// leave an empty one. The failure shown to the user, or "" (also for a file system that cannot
// sync).
std::wstring FlushOutputToDisk(const std::wstring& output);

// Deletions that ignore failures: a missing file is not an error when cleaning up.
void RemoveFileQuietly(const std::wstring& path);
void RemoveFolderQuietly(const std::wstring& folder);

}  // namespace quilmer
