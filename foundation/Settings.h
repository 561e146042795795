#pragma once
// The settings store: named values (strings, 32-bit integers, byte arrays) in sections, kept in
// one JSON file, by default UserFolder + "settings.json" (${XDG_CONFIG_HOME:-~/.config}/quilmer/).
//
// Like the registry it replaces, the store has no cache and no save step: every read looks at
// the file, every write changes one value in it at once. A write is a locked read-modify-write
// (flock on "<file>.lock"), and the new file replaces the old by rename, so a reader never sees
// a half-written file and two programs writing different values at the same time lose neither.
// A file that cannot be parsed reads as empty (every read gives its default); the next write
// moves it aside as "<file>.damaged-<UTC time>" instead of overwriting it. A file that exists
// but cannot be read is never overwritten: writes then fail.
//
// File layout: {"<section>": {"<key>": value}}, where a string is a JSON string, an integer a
// JSON number and a byte array {"bytes": "<hex>"}. A string that UTF-8 cannot hold (stray bytes
// of a file name) is kept as {"units": [<code units>]}.

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace quilmer {

using ByteList = std::vector<std::uint8_t>;

class SettingsStore {
public:
    // The program's store, on the settings file in the user folder.
    static SettingsStore& Instance();
    // A store on an explicit file (tests, tools).
    explicit SettingsStore(std::wstring filePath);

    const std::wstring& FilePath() const { return filePath_; }

    // The stored string, or def when it is missing, empty or not a string.
    std::wstring ReadString(const std::wstring& section, const std::wstring& key, const std::wstring& def = {}) const;
    bool WriteString(const std::wstring& section, const std::wstring& key, const std::wstring& value);
    // A null value deletes the named value (the section stays).
    bool WriteString(const std::wstring& section, const std::wstring& key, const wchar_t* value);

    // The stored integer, or def when it is missing or not a 32-bit number. Stored values in
    // 0x80000000..0xFFFFFFFF read as the negative numbers of the same bits.
    std::int32_t ReadInt(const std::wstring& section, const std::wstring& key, std::int32_t def = 0) const;
    bool WriteInt(const std::wstring& section, const std::wstring& key, std::int32_t value);

    // False (and out untouched) when the value is missing or not a byte array.
    bool ReadBytes(const std::wstring& section, const std::wstring& key, ByteList& out) const;
    bool WriteBytes(const std::wstring& section, const std::wstring& key, const ByteList& bytes);
    bool WriteBytes(const std::wstring& section, const std::wstring& key, const void* data, std::size_t length);

    // Deleting what does not exist succeeds.
    bool DeleteValue(const std::wstring& section, const std::wstring& key);
    bool DeleteSection(const std::wstring& section);

    bool HasValue(const std::wstring& section, const std::wstring& key) const;
    bool HasSection(const std::wstring& section) const;

    // Several changes in one locked write (a settings record saving all its fields at once).
    struct Change {
        std::wstring section;
        std::wstring key;
        // monostate deletes the value.
        std::variant<std::monostate, std::int32_t, std::wstring, ByteList> value;
    };
    bool Apply(const std::vector<Change>& changes);

private:
    std::wstring filePath_;
};

// One integer setting, loaded and saved on request.
struct IntSetting {
    IntSetting(std::wstring section, std::wstring key, std::int32_t def = 0);
    void Load(const SettingsStore& store = SettingsStore::Instance());
    bool Save(SettingsStore& store = SettingsStore::Instance()) const;

    std::wstring section;
    std::wstring key;
    std::int32_t value;
    std::int32_t defaultValue;
};

// One string setting, loaded and saved on request.
struct StringSetting {
    StringSetting(std::wstring section, std::wstring key, std::wstring def = {});
    void Load(const SettingsStore& store = SettingsStore::Instance());
    bool Save(SettingsStore& store = SettingsStore::Instance()) const;

    std::wstring section;
    std::wstring key;
    std::wstring value;
    std::wstring defaultValue;
};

// One column of the clip list as remembered between runs.
struct ColumnInfo {
    std::int32_t order = 0;
    std::int32_t width = 0;
    bool inUse = false;
    bool operator==(const ColumnInfo&) const = default;
};

// The main program's settings record: loaded when created, written back when destroyed (the
// singleton at process exit). The system flags are read but never written; the runtime flags
// are never stored.
class AppSettings {
public:
    static AppSettings& Instance();
    explicit AppSettings(SettingsStore& store);
    ~AppSettings();
    AppSettings(const AppSettings&) = delete;
    AppSettings& operator=(const AppSettings&) = delete;

    void Load();
    // Writes run count, base view flags, last option id, save-to folder and column info.
    bool Save();

    // Archive form of the column list: a 32-bit little-endian count, then 9 bytes per entry
    // (32-bit order, 32-bit width, one byte 1 when in use). Decoding fails on any other length.
    static ByteList EncodeColumns(const std::vector<ColumnInfo>& columns);
    static std::optional<std::vector<ColumnInfo>> DecodeColumns(const ByteList& bytes);

    // The user's videos folder: joined files go there unless the user chose another folder.
    static std::wstring DefaultSaveTo();

    std::int32_t runCount = 0;         // "Config" / "RunCount"
    std::int32_t baseViewFlags = 4096;  // "Settings" / "BaseViewFlags"
    std::int32_t lastOptionId = -1;    // "Settings" / "LastOptionID"
    std::int32_t sysFlags = 0;         // "Config" / "SysFlags"; bit 2: do not remind of new versions
    std::wstring saveTo;               // "Config" / "SaveTo"
    std::vector<ColumnInfo> columns;   // "Downloaded" / "ColumnsInfo"
    std::int32_t runtimeFlags = 0;     // 0x20 while a browser window exists; 0x10 player layout

private:
    SettingsStore& store_;
};

}  // namespace quilmer
