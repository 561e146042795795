#pragma once
// An absolute, normalised path split into its parts. POSIX paths: the drive is always empty,
// the folder starts and ends with '/', the extension keeps its dot.
//   /home/u/Videos/clip.flv  ->  folder "/home/u/Videos/", title "clip", extension ".flv"
// A relative path is made absolute against the current folder; "." and ".." components are
// resolved by name (symbolic links are left as written).

#include <string>

namespace quilmer {

class CPathName {
public:
    // Throws CZ4RSimpleTextException "Bad filename!" when the path cannot be made absolute
    // (empty, holds a NUL, longer than the system allows, or no current folder).
    explicit CPathName(const std::wstring& path);

    const std::wstring& Drive() const { return drive_; }
    const std::wstring& Folder() const { return folder_; }
    std::wstring FolderPath() const { return drive_ + folder_; }
    const std::wstring& Title() const { return title_; }
    std::wstring Name() const { return title_ + extension_; }
    const std::wstring& Extension() const { return extension_; }
    const std::wstring& FullPath() const { return fullPath_; }

    // The same path with another title or extension (the extension with its dot, or empty).
    std::wstring WithTitle(const std::wstring& title) const { return FolderPath() + title + extension_; }
    std::wstring WithExtension(const std::wstring& extension) const { return FolderPath() + title_ + extension; }

private:
    std::wstring fullPath_;
    std::wstring drive_;
    std::wstring folder_;
    std::wstring title_;
    std::wstring extension_;
};

}  // namespace quilmer
