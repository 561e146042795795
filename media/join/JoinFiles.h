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

// Hands out file names for one join. A name is never one already handed out, never one of the
// protected paths (clips, output), and never a file that exists; a clash adds "-2", "-3", ...
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

// Refuses an output path that would destroy a clip of the join or cannot be written at all.
// Returns the reason shown to the user, or an empty string when the output path is usable.
std::wstring CheckOutputPath(const std::wstring& outputPath, const std::vector<std::wstring>& clips);

// Deletions that ignore failures: a missing file is not an error when cleaning up.
void RemoveFileQuietly(const std::wstring& path);
void RemoveFolderQuietly(const std::wstring& folder);

}  // namespace quilmer
