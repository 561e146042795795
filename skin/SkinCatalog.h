#pragma once
// The installed skins and the user's choice. A skin is a folder of the program folder's skins/
// holding a "skin.xml"; its folder name is the skin's name. The choice is "Config"/"SkinName"
// (empty: no skin, the windows keep the system frame).

#include <string>
#include <vector>

namespace quilmer {

class SettingsStore;

// The skins folder of the program folder (ends in '/').
std::wstring SkinsFolder();

// Every folder of skinsFolder that holds a "skin.xml" (a regular file), sorted by name. Hidden
// entries (".", "..", names starting with a dot) are left out.
std::vector<std::wstring> EnumerateSkins(const std::wstring& skinsFolder);

// The installed name equal to name without regard to case, or empty when there is none.
std::wstring FindInstalledSkin(const std::vector<std::wstring>& installed, const std::wstring& name);

std::wstring ReadSkinName(const SettingsStore& store);
bool WriteSkinName(SettingsStore& store, const std::wstring& name);

}  // namespace quilmer
