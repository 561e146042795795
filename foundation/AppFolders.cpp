#include "foundation/AppFolders.h"

#include "foundation/FileUtil.h"
#include "foundation/Strings.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <vector>

namespace quilmer {

namespace {

std::wstring WithSlash(std::wstring folder) {
    if (folder.empty() || folder.back() != L'/') folder += L'/';
    return folder;
}

std::wstring ExecutableFolder() {
    std::vector<char> buffer(4096);
    ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (n <= 0) return L"./";
    std::string path(buffer.data(), static_cast<std::size_t>(n));
    auto slash = path.rfind('/');
    return WidePath(slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1));
}

// XDG variables only count when they hold an absolute path.
std::wstring XdgFolder(const char* variable, const wchar_t* fallbackBelowHome) {
    const char* value = std::getenv(variable);
    if (value && value[0] == '/') return WithSlash(WidePath(value));
    return WithSlash(AppFolders::HomeFolder()) + fallbackBelowHome;
}

}  // namespace

AppFolders& AppFolders::Instance() {
    static AppFolders instance;
    return instance;
}

AppFolders::AppFolders()
    : programFolder_(ExecutableFolder()), userFolder_(XdgFolder("XDG_CONFIG_HOME", L".config/") + L"quilmer/") {
    CreateUserFolders();
}

void AppFolders::CreateUserFolders() const {
    // Failures are not fatal: whoever writes there later reports its own error.
    CreateFolderTree(UserFolder());
    CreateFolderTree(ConfigFolder());
    CreateFolderTree(AppDataFolder());
}

std::wstring AppFolders::ProgramFolder() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return programFolder_;
}

std::wstring AppFolders::UserFolder() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return userFolder_;
}

std::wstring AppFolders::ConfigFolder(bool shared) const {
    return (shared ? ProgramFolder() : UserFolder()) + L"config/";
}

std::wstring AppFolders::AppDataFolder() const { return UserFolder() + L"appdata/"; }
std::wstring AppFolders::LanguageFolder() const { return ProgramFolder() + L"language/"; }
std::wstring AppFolders::SkinsFolder() const { return ProgramFolder() + L"skins/"; }

std::wstring AppFolders::HomeFolder() {
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/') return WidePath(home);
    if (passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) return WidePath(pw->pw_dir);
    return L"/tmp";
}

std::wstring AppFolders::UserVideosFolder() {
    // user-dirs.dirs holds shell-style lines such as XDG_VIDEOS_DIR="$HOME/Videos".
    std::wstring home = HomeFolder();
    std::ifstream dirs(NativePath(XdgFolder("XDG_CONFIG_HOME", L".config/") + L"user-dirs.dirs"));
    std::string line;
    while (std::getline(dirs, line)) {
        line = Trim(line);
        const std::string key = "XDG_VIDEOS_DIR=";
        if (line.rfind(key, 0) != 0) continue;
        std::string value = line.substr(key.size());
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
        std::wstring folder;
        if (value.rfind("$HOME", 0) == 0)
            folder = home + WidePath(value.substr(5));
        else if (!value.empty() && value[0] == '/')
            folder = WidePath(value);
        else
            continue;
        while (folder.size() > 1 && folder.back() == L'/') folder.pop_back();
        // "$HOME/" alone means the desktop has no videos folder of its own.
        if (!folder.empty() && folder != home) return folder;
    }
    return (home == L"/" ? std::wstring() : home) + L"/Videos";
}

void AppFolders::OverrideProgramFolder(const std::wstring& folder) {
    AppFolders& self = Instance();
    std::lock_guard<std::mutex> lock(self.mutex_);
    self.programFolder_ = WithSlash(folder);
}

void AppFolders::OverrideUserFolder(const std::wstring& folder) {
    AppFolders& self = Instance();
    {
        std::lock_guard<std::mutex> lock(self.mutex_);
        self.userFolder_ = WithSlash(folder);
    }
    self.CreateUserFolders();
}

}  // namespace quilmer
