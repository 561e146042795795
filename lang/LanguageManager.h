#pragma once
// Language packs: the list of installed languages, the chosen pack, and the translation of the
// English texts the code shows. The English wording of a text is its identity: code passes the
// exact English text (through Tr) and gets it back in the chosen language.
//
// Packs are "<Name>.lng" files in the program's language/ folder, read with IniFile: section
// "String" maps translator keys to texts (English.lng holds the English texts the code uses),
// section "Info" names the flag bitmap in "icon".
//
// After a switch, windows that are already open are relabelled by mapping what they show now,
// through the pack shown until then, back to its key and on to the new language. So the manager
// keeps two tables: the current pack and the one before the last switch.

#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace quilmer {

struct LanguageEntry {
    std::wstring name;      // file title of the pack, shown and stored as is ("Chinese Simplified")
    int icon = -1;          // index into LanguageManager::IconFiles(), -1 when there is no flag
    std::wstring iconFile;  // full path of the flag bitmap, empty when there is none
};

class LanguageManager {
public:
    // Where the packs lie and where the chosen language is kept. The process-wide instance takes
    // them from AppFolders and SettingsStore; tests pass their own.
    struct Environment {
        std::wstring languageFolder;  // ends in '/'
        std::function<std::wstring(const std::wstring& defaultName)> loadLanguage;
        std::function<void(const std::wstring& name)> saveLanguage;
    };

    explicit LanguageManager(Environment environment);
    // Writes the chosen language back to the settings.
    ~LanguageManager();
    LanguageManager(const LanguageManager&) = delete;
    LanguageManager& operator=(const LanguageManager&) = delete;

    // The process-wide manager, built on first use. Building it installs it as the process's
    // text translator (Tr); front ends call this at start-up before showing any window.
    static LanguageManager& Instance();

    // The text in the current language; the text itself when no translation is known, when the
    // pack lacks it (then the English text shows), or when nothing needs translating. A text
    // shown in the language before the last switch is mapped back through that pack first.
    // Blanks around a text are kept and the text inside them is translated.
    std::wstring Translate(const std::wstring& text) const;
    // A menu item's text: a command and its shortcut, separated by a tab, are translated apart.
    std::wstring TranslateMenuText(const std::wstring& text) const;
    // True when windows have to be relabelled: the chosen language differs from the one they show.
    bool NeedsRelabel() const;

    // Chooses a language. A repeated choice does nothing; at start-up the setting is kept and
    // only the pack is loaded.
    void SwitchLanguage(const std::wstring& name, bool atStartUp);
    void SelectLanguage(std::size_t index);
    bool IsCurrent(std::size_t index) const;
    // The chosen language's name (the "Config"/"Language" setting).
    std::wstring CurrentLanguage() const;

    // Rescans the folder: English first, then every other pack by name.
    void RebuildLanguageList();
    std::size_t LanguageCount() const;
    // An index outside the list gives the first entry (English).
    LanguageEntry LanguageAt(std::size_t index) const;
    // The text a language chooser shows for an entry: its translated name, a tab, "[name]".
    std::wstring ChooserText(std::size_t index) const;
    // Flag bitmaps in image-list order: entry.icon indexes this list.
    std::vector<std::wstring> IconFiles() const;

    const std::wstring& LanguageFolder() const { return environment_.languageFolder; }

private:
    using Table = std::map<std::wstring, std::wstring>;

    std::wstring TranslateLocked(const std::wstring& text) const;
    // False when the text is not known as a text of any pack.
    bool LookUpLocked(const std::wstring& text, std::wstring& translated) const;
    void SwitchLanguageLocked(const std::wstring& name, bool atStartUp);
    std::wstring PackPath(const std::wstring& name) const;

    Environment environment_;
    mutable std::mutex mutex_;
    std::wstring setting_;
    std::wstring displayed_ = L"English";
    Table reverse_;       // English text -> key (first line wins)
    Table englishByKey_;  // key -> English text, the fallback for texts a pack lacks
    Table tables_[2];     // key -> text: the current pack and the one before the last switch
    int current_ = 0;
    Table previousByText_;  // text -> key of tables_[1 - current_], first key in key order
    std::vector<LanguageEntry> languages_;
    std::vector<std::wstring> iconFiles_;
};

// Largest flag file read (a 16x16 flag takes under a kilobyte).
constexpr std::size_t kMaxFlagFileBytes = 1024 * 1024;
// Reads a flag for the GUI to decode from bytes: a regular file of at most kMaxFlagFileBytes that
// is a Windows bitmap the GUI can load (uncompressed or bit-field coded, at most 4096 a side,
// pixel data present). Never opens a FIFO or a device.
bool ReadFlagBitmap(const std::wstring& path, std::string& bytes);
// The same test, without keeping the bytes.
bool IsLoadableBitmap(const std::wstring& path);

// The language a new user gets, from the POSIX locale (LC_ALL, LC_MESSAGES, LANG): "zh_CN" gives
// "Chinese Simplified", "pt_BR" "Portuguese Brazilian", "de_DE" "German"; "English" when unknown.
// The name takes effect only when a pack of that name is installed.
std::wstring DefaultLanguageName();
std::wstring LanguageNameForLocale(std::string_view locale);
// The same by Windows language id parts, the table the names come from.
std::wstring LanguageNameForLangId(int primary, int sub);

}  // namespace quilmer
