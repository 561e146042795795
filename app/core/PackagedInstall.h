#pragma once
// Whether the program folder belongs to the system's package manager, which then also updates
// it: the updater must not replace files the package manager keeps track of. A folder is taken
// as packaged when it lies below /usr/ (but not /usr/local/, the administrator's own) or holds
// the marker file the Debian package installs (kPackagedMarker). Any other folder, one installed
// by hand, keeps updating itself.

#include <string>

namespace quilmer {

inline constexpr const wchar_t* kPackagedMarker = L"packaged-by";

// programFolder ends in '/'.
bool IsPackagedProgramFolder(const std::wstring& programFolder);

}  // namespace quilmer
