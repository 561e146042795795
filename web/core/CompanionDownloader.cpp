#include "web/core/CompanionDownloader.h"

#include "foundation/AppFolders.h"
#include "foundation/FileUtil.h"

#include <sys/stat.h>
#include <unistd.h>

namespace quilmer {

std::vector<std::wstring> CompanionCandidates(const SettingsStore& store, const std::wstring& programFolder,
                                              const std::wstring& homeFolder) {
    std::vector<std::wstring> out;
    std::wstring appPath = store.ReadString(L"Companion", L"AppPath");
    std::wstring appName = store.ReadString(L"Companion", L"AppName");
    if (!appPath.empty() && !appName.empty()) {
        if (appPath.back() != L'/') appPath += L'/';
        out.push_back(appPath + appName);
    }
    std::wstring program = programFolder;
    if (!program.empty() && program.back() != L'/') program += L'/';
    for (const std::wstring& name : kCompanionNames) {
        if (!program.empty()) out.push_back(program + name);
        if (!homeFolder.empty()) out.push_back(homeFolder + L"/.local/bin/" + name);
        out.push_back(L"/usr/local/bin/" + name);
        out.push_back(L"/opt/corvane/" + name + L"/" + name);
        out.push_back(L"/usr/bin/" + name);
    }
    return out;
}

std::wstring FindCompanionDownloader(const SettingsStore& store, const std::wstring& programFolder,
                                     const std::wstring& homeFolder,
                                     const std::function<bool(const std::wstring&)>& isExecutable) {
    for (const std::wstring& candidate : CompanionCandidates(store, programFolder, homeFolder)) {
        if (isExecutable(candidate)) return candidate;
    }
    return {};
}

std::wstring FindCompanionDownloader() {
    return FindCompanionDownloader(SettingsStore::Instance(), AppFolders::Instance().ProgramFolder(),
                                   AppFolders::HomeFolder(), [](const std::wstring& path) {
                                       std::string native = NativePath(path);
                                       struct stat st {};
                                       return stat(native.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
                                              access(native.c_str(), X_OK) == 0;
                                   });
}

}  // namespace quilmer
