#include "foundation/PathName.h"

#include "foundation/Exceptions.h"
#include "foundation/FileUtil.h"
#include "foundation/TextTranslator.h"

#include <linux/limits.h>
#include <unistd.h>

#include <vector>

namespace quilmer {

namespace {

[[noreturn]] void BadFilename() { throw CZ4RSimpleTextException(Tr(L"Bad filename!")); }

std::wstring CurrentFolder() {
    std::vector<char> buffer(PATH_MAX);
    if (!::getcwd(buffer.data(), buffer.size())) BadFilename();
    return WidePath(buffer.data());
}

// Joins and resolves "." and ".." by name, as the system this code came from did.
std::wstring Normalise(const std::wstring& absolute, bool endsInSlash) {
    std::vector<std::wstring> parts;
    std::size_t pos = 0;
    while (pos <= absolute.size()) {
        std::size_t next = absolute.find(L'/', pos);
        if (next == std::wstring::npos) next = absolute.size();
        std::wstring part = absolute.substr(pos, next - pos);
        if (part == L"..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != L".") {
            parts.push_back(part);
        }
        pos = next + 1;
    }
    std::wstring out;
    for (const auto& part : parts) out += L"/" + part;
    if (out.empty() || endsInSlash) out += L"/";
    return out;
}

}  // namespace

CPathName::CPathName(const std::wstring& path) {
    if (path.empty() || path.find(L'\0') != std::wstring::npos) BadFilename();
    std::wstring absolute = path[0] == L'/' ? path : CurrentFolder() + L"/" + path;
    if (NativePath(absolute).size() >= PATH_MAX) BadFilename();
    bool endsInSlash = path.back() == L'/' || path == L"." || path == L".." || path.ends_with(L"/.") ||
                       path.ends_with(L"/..");
    fullPath_ = Normalise(absolute, endsInSlash);

    std::size_t slash = fullPath_.rfind(L'/');
    folder_ = fullPath_.substr(0, slash + 1);
    std::wstring name = fullPath_.substr(slash + 1);
    // The extension starts at the last dot of the name, as the classic splitter has it: ".flv"
    // alone is all extension.
    std::size_t dot = name.rfind(L'.');
    title_ = dot == std::wstring::npos ? name : name.substr(0, dot);
    extension_ = dot == std::wstring::npos ? std::wstring() : name.substr(dot);
}

}  // namespace quilmer
