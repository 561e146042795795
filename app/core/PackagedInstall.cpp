#include "app/core/PackagedInstall.h"

#include "foundation/FileUtil.h"

namespace quilmer {

bool IsPackagedProgramFolder(const std::wstring& programFolder) {
    auto below = [&](const wchar_t* prefix) { return programFolder.rfind(prefix, 0) == 0; };
    if (below(L"/usr/") && !below(L"/usr/local/")) return true;
    std::wstring folder = programFolder;
    if (!folder.empty() && folder.back() != L'/') folder += L'/';
    return !programFolder.empty() && FileExists(folder + kPackagedMarker);
}

}  // namespace quilmer
