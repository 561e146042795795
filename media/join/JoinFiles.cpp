#include "media/join/JoinFiles.h"

#include "foundation/FileUtil.h"
#include "foundation/TextTranslator.h"

#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace quilmer {

namespace fs = std::filesystem;

fs::path ToFsPath(const std::wstring& path) { return fs::path(NativePath(path)); }

std::wstring FromFsPath(const fs::path& path) { return WidePath(path.native()); }

std::wstring FolderOf(const std::wstring& path) {
    auto slash = path.rfind(L'/');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

namespace {
std::wstring NameOf(const std::wstring& path) {
    auto slash = path.rfind(L'/');
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}
}  // namespace

std::wstring TitleOf(const std::wstring& path) {
    std::wstring name = NameOf(path);
    auto dot = name.rfind(L'.');
    return dot == std::wstring::npos || dot == 0 ? name : name.substr(0, dot);
}

std::wstring ExtensionOf(const std::wstring& path) {
    std::wstring name = NameOf(path);
    auto dot = name.rfind(L'.');
    return dot == std::wstring::npos || dot == 0 ? std::wstring() : name.substr(dot);
}

std::wstring NormalPath(const std::wstring& path) {
    std::error_code ec;
    fs::path absolute = fs::absolute(ToFsPath(path), ec);
    if (ec) absolute = ToFsPath(path);
    return FromFsPath(absolute.lexically_normal());
}

bool SameFile(const std::wstring& a, const std::wstring& b) {
    if (NormalPath(a) == NormalPath(b)) return true;
    std::error_code ec;
    bool same = fs::equivalent(ToFsPath(a), ToFsPath(b), ec);
    return !ec && same;
}

void JoinFileNamer::Protect(const std::wstring& path) { protected_.push_back(path); }

bool JoinFileNamer::IsReserved(const std::wstring& path) const { return reserved_.count(NormalPath(path)) != 0; }

void JoinFileNamer::Clear() {
    protected_.clear();
    reserved_.clear();
}

bool JoinFileNamer::Taken(const std::wstring& path) const {
    if (reserved_.count(NormalPath(path))) return true;
    for (const auto& p : protected_)
        if (SameFile(p, path)) return true;
    std::error_code ec;
    // symlink_status: a dangling link is a name in use as well.
    return fs::exists(fs::symlink_status(ToFsPath(path), ec));
}

std::wstring JoinFileNamer::Reserve(const std::wstring& folder, const std::wstring& title,
                                    const std::wstring& suffix, const std::wstring& extension) {
    std::wstring candidate = folder + title + suffix + extension;
    for (int n = 2; Taken(candidate); ++n)
        candidate = folder + title + L"-" + std::to_wstring(n) + suffix + extension;
    reserved_.insert(NormalPath(candidate));
    return candidate;
}

std::wstring CheckOutputPath(const std::wstring& outputPath, const std::vector<std::wstring>& clips) {
    if (outputPath.empty()) return Tr(L"No output file was given.");
    std::error_code ec;
    fs::path out = ToFsPath(outputPath);
    if (fs::is_directory(out, ec)) return Tr(L"The output path is a folder: ") + outputPath;
    fs::path parent = fs::absolute(out, ec).parent_path();
    if (!fs::is_directory(parent, ec))
        return Tr(L"The folder of the output file does not exist: ") + FromFsPath(parent);
    if (access(parent.c_str(), W_OK | X_OK) != 0)
        return Tr(L"The folder of the output file cannot be written: ") + FromFsPath(parent);
    for (const auto& clip : clips)
        if (SameFile(clip, outputPath))
            return Tr(L"The output file is one of the clips to join: ") + outputPath;
    return {};
}

void RemoveFileQuietly(const std::wstring& path) {
    if (path.empty()) return;
    std::error_code ec;
    if (!fs::is_directory(fs::symlink_status(ToFsPath(path), ec))) fs::remove(ToFsPath(path), ec);
}

void RemoveFolderQuietly(const std::wstring& folder) {
    if (folder.empty()) return;
    std::error_code ec;
    fs::remove_all(ToFsPath(folder), ec);
}

}  // namespace quilmer
