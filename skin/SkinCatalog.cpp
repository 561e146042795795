#include "skin/SkinCatalog.h"

#include <dirent.h>

#include <algorithm>
#include <memory>

#include "foundation/AppFolders.h"
#include "foundation/FileUtil.h"
#include "foundation/Settings.h"
#include "foundation/Strings.h"

namespace quilmer {

namespace {
const wchar_t kSection[] = L"Config";
const wchar_t kKey[] = L"SkinName";
}  // namespace

std::wstring SkinsFolder() { return AppFolders::Instance().SkinsFolder(); }

std::vector<std::wstring> EnumerateSkins(const std::wstring& skinsFolder) {
    std::vector<std::wstring> names;
    std::wstring folder = skinsFolder;
    if (!folder.empty() && folder.back() != L'/') folder += L'/';
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(NativePath(folder).c_str()), ::closedir);
    if (!dir) return names;
    while (dirent* entry = ::readdir(dir.get())) {
        if (entry->d_name[0] == '.') continue;
        std::wstring name = WidePath(entry->d_name);
        FileFacts definition;
        // Only a regular file is a definition: a FIFO or a device there would hang whoever reads it.
        if (FolderExists(folder + name) && GetFileFacts(folder + name + L"/skin.xml", definition) &&
            (definition.attributes & kAttrArchive))
            names.push_back(name);
    }
    // The order the file system lists them in means nothing to the user.
    std::sort(names.begin(), names.end());
    return names;
}

std::wstring FindInstalledSkin(const std::vector<std::wstring>& installed, const std::wstring& name) {
    if (name.empty()) return {};
    for (const auto& skin : installed)
        if (skin == name) return skin;
    for (const auto& skin : installed)
        if (EqualsNoCase(skin, name)) return skin;
    return {};
}

std::wstring ReadSkinName(const SettingsStore& store) { return store.ReadString(kSection, kKey); }

bool WriteSkinName(SettingsStore& store, const std::wstring& name) {
    return store.WriteString(kSection, kKey, name);
}

}  // namespace quilmer
