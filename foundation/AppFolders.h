#pragma once
// The program's fixed folders. Every folder is a wide path ending in '/'.
//   ProgramFolder   folder of the running executable: encoder adapter, presets, language/, skins/
//   UserFolder      ${XDG_CONFIG_HOME:-~/.config}/quilmer/ : settings file, config/, appdata/
//   ConfigFolder    UserFolder + "config/" (or ProgramFolder + "config/" for the shared one)
//   AppDataFolder   UserFolder + "appdata/" (downloaded version descriptor and the like)
// The user folders are created when the singleton is first used.

#include <mutex>
#include <string>

namespace quilmer {

class AppFolders {
public:
    static AppFolders& Instance();

    std::wstring ProgramFolder() const;
    std::wstring UserFolder() const;
    std::wstring ConfigFolder(bool shared = false) const;
    std::wstring AppDataFolder() const;
    std::wstring LanguageFolder() const;
    std::wstring SkinsFolder() const;

    // The user's videos folder (XDG_VIDEOS_DIR of user-dirs.dirs, else ~/Videos), without a
    // trailing '/'; the default place for joined files.
    static std::wstring UserVideosFolder();
    // $HOME, or the password database's home when HOME is unset.
    static std::wstring HomeFolder();

    // For tests and for running beside a build tree: replace the folders found at start-up.
    // The user folders are created at once.
    static void OverrideProgramFolder(const std::wstring& folder);
    static void OverrideUserFolder(const std::wstring& folder);

private:
    AppFolders();
    void CreateUserFolders() const;

    mutable std::mutex mutex_;
    std::wstring programFolder_;
    std::wstring userFolder_;
};

}  // namespace quilmer
