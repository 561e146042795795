#include "foundation/Settings.h"

#include "foundation/AppFolders.h"
#include "foundation/FileUtil.h"
#include "foundation/Utf8.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <cerrno>
#include <ctime>
#include <functional>
#include <limits>

namespace quilmer {

using nlohmann::json;

namespace {

enum class LoadResult { kOk, kMissing, kDamaged, kUnreadable };

// Parses the settings file. Missing gives an empty document; anything that is not an object of
// objects counts as damaged.
LoadResult LoadDocument(const std::wstring& path, json& doc) {
    doc = json::object();
    std::string text;
    if (!ReadWholeFile(path, text)) return (errno == ENOENT) ? LoadResult::kMissing : LoadResult::kUnreadable;
    json parsed = json::parse(text, nullptr, false);
    if (parsed.is_discarded() || !parsed.is_object()) return LoadResult::kDamaged;
    for (auto& [name, section] : parsed.items())
        if (!section.is_object()) return LoadResult::kDamaged;
    doc = std::move(parsed);
    return LoadResult::kOk;
}

const json* FindValue(const json& doc, const std::wstring& section, const std::wstring& key) {
    auto s = doc.find(ToUtf8(section));
    if (s == doc.end()) return nullptr;
    auto v = s->find(ToUtf8(key));
    return v == s->end() ? nullptr : &*v;
}

json EncodeString(const std::wstring& value) {
    std::string utf8 = ToUtf8(value);
    if (!utf8.empty() || value.empty()) return utf8;
    json units = json::array();
    for (wchar_t c : value) units.push_back(static_cast<std::uint32_t>(c));
    return json{{"units", units}};
}

std::optional<std::wstring> DecodeString(const json& value) {
    if (value.is_string()) return FromUtf8(value.get_ref<const std::string&>());
    if (value.is_object() && value.size() == 1 && value.contains("units") && value["units"].is_array()) {
        std::wstring out;
        for (auto& unit : value["units"]) {
            if (!unit.is_number_unsigned()) return std::nullopt;
            out += static_cast<wchar_t>(unit.get<std::uint32_t>());
        }
        return out;
    }
    return std::nullopt;
}

json EncodeBytes(const ByteList& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(bytes.size() * 2);
    for (std::uint8_t b : bytes) {
        hex += digits[b >> 4];
        hex += digits[b & 15];
    }
    return json{{"bytes", hex}};
}

std::optional<ByteList> DecodeBytes(const json& value) {
    if (!value.is_object() || value.size() != 1 || !value.contains("bytes") || !value["bytes"].is_string())
        return std::nullopt;
    const std::string& hex = value["bytes"].get_ref<const std::string&>();
    if (hex.size() % 2) return std::nullopt;
    auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    ByteList out;
    out.reserve(hex.size() / 2);
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        int hi = nibble(hex[i]), lo = nibble(hex[i + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        out.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
    }
    return out;
}

std::wstring DamagedName(const std::wstring& path) {
    std::time_t now = std::time(nullptr);
    std::tm utc{};
    ::gmtime_r(&now, &utc);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", &utc);
    std::wstring base = path + L".damaged-" + FromUtf8(stamp);
    std::wstring name = base;
    for (int n = 2; FileExists(name); ++n) name = base + L"-" + std::to_wstring(n);
    return name;
}

// Holds an exclusive flock on "<settings file>.lock" for one read-modify-write. The lock file
// is separate because the settings file itself is replaced by rename.
class WriteLock {
public:
    explicit WriteLock(const std::wstring& settingsPath) {
        std::wstring folder = settingsPath.substr(0, settingsPath.rfind(L'/') + 1);
        if (!folder.empty()) CreateFolderTree(folder);
        fd_ = ::open(NativePath(settingsPath + L".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd_ >= 0) {
            int rc;
            do rc = ::flock(fd_, LOCK_EX);
            while (rc != 0 && errno == EINTR);
            if (rc != 0) {
                ::close(fd_);
                fd_ = -1;
            }
        }
    }
    ~WriteLock() {
        if (fd_ >= 0) ::close(fd_);  // closing releases the lock
    }
    bool Held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

bool Modify(const std::wstring& path, const std::function<bool(json&)>& change) {
    WriteLock lock(path);
    if (!lock.Held()) return false;
    json doc;
    switch (LoadDocument(path, doc)) {
        case LoadResult::kUnreadable:
            return false;  // never replace what we could not read
        case LoadResult::kDamaged:
            // Keep the damaged file for the user (or a later repair) and start afresh.
            if (::rename(NativePath(path).c_str(), NativePath(DamagedName(path)).c_str()) != 0) return false;
            doc = json::object();
            break;
        case LoadResult::kOk:
        case LoadResult::kMissing:
            break;
    }
    if (!change(doc)) return true;  // nothing to change
    return WriteWholeFile(path, doc.dump(2) + "\n");
}

void SetValue(json& doc, const std::wstring& section, const std::wstring& key, json value) {
    doc[ToUtf8(section)][ToUtf8(key)] = std::move(value);
}

bool EraseValue(json& doc, const std::wstring& section, const std::wstring& key) {
    auto s = doc.find(ToUtf8(section));
    return s != doc.end() && s->erase(ToUtf8(key)) > 0;
}

json Encode(const SettingsStore::Change& change) {
    if (auto* i = std::get_if<std::int32_t>(&change.value)) return *i;
    if (auto* s = std::get_if<std::wstring>(&change.value)) return EncodeString(*s);
    return EncodeBytes(std::get<ByteList>(change.value));
}

}  // namespace

SettingsStore& SettingsStore::Instance() {
    static SettingsStore store(AppFolders::Instance().UserFolder() + L"settings.json");
    return store;
}

SettingsStore::SettingsStore(std::wstring filePath) : filePath_(std::move(filePath)) {}

std::wstring SettingsStore::ReadString(const std::wstring& section, const std::wstring& key,
                                       const std::wstring& def) const {
    json doc;
    LoadDocument(filePath_, doc);
    const json* value = FindValue(doc, section, key);
    if (!value) return def;
    auto text = DecodeString(*value);
    return (text && !text->empty()) ? *text : def;
}

bool SettingsStore::WriteString(const std::wstring& section, const std::wstring& key, const std::wstring& value) {
    return Modify(filePath_, [&](json& doc) {
        SetValue(doc, section, key, EncodeString(value));
        return true;
    });
}

bool SettingsStore::WriteString(const std::wstring& section, const std::wstring& key, const wchar_t* value) {
    if (!value) return DeleteValue(section, key);
    return WriteString(section, key, std::wstring(value));
}

std::int32_t SettingsStore::ReadInt(const std::wstring& section, const std::wstring& key, std::int32_t def) const {
    json doc;
    LoadDocument(filePath_, doc);
    const json* value = FindValue(doc, section, key);
    if (!value || !value->is_number_integer()) return def;
    if (value->is_number_unsigned()) {
        auto u = value->get<std::uint64_t>();
        return u <= std::numeric_limits<std::uint32_t>::max() ? static_cast<std::int32_t>(static_cast<std::uint32_t>(u))
                                                                : def;
    }
    auto i = value->get<std::int64_t>();
    return (i >= std::numeric_limits<std::int32_t>::min() && i <= std::numeric_limits<std::int32_t>::max())
               ? static_cast<std::int32_t>(i)
               : def;
}

bool SettingsStore::WriteInt(const std::wstring& section, const std::wstring& key, std::int32_t value) {
    return Modify(filePath_, [&](json& doc) {
        SetValue(doc, section, key, value);
        return true;
    });
}

bool SettingsStore::ReadBytes(const std::wstring& section, const std::wstring& key, ByteList& out) const {
    json doc;
    LoadDocument(filePath_, doc);
    const json* value = FindValue(doc, section, key);
    if (!value) return false;
    auto bytes = DecodeBytes(*value);
    if (!bytes) return false;
    out = std::move(*bytes);
    return true;
}

bool SettingsStore::WriteBytes(const std::wstring& section, const std::wstring& key, const ByteList& bytes) {
    return Modify(filePath_, [&](json& doc) {
        SetValue(doc, section, key, EncodeBytes(bytes));
        return true;
    });
}

bool SettingsStore::WriteBytes(const std::wstring& section, const std::wstring& key, const void* data,
                               std::size_t length) {
    if (!data && length) return false;
    const auto* p = static_cast<const std::uint8_t*>(data);
    return WriteBytes(section, key, ByteList(p, p + length));
}

bool SettingsStore::DeleteValue(const std::wstring& section, const std::wstring& key) {
    return Modify(filePath_, [&](json& doc) { return EraseValue(doc, section, key); });
}

bool SettingsStore::DeleteSection(const std::wstring& section) {
    return Modify(filePath_, [&](json& doc) { return doc.erase(ToUtf8(section)) > 0; });
}

bool SettingsStore::HasValue(const std::wstring& section, const std::wstring& key) const {
    json doc;
    LoadDocument(filePath_, doc);
    return FindValue(doc, section, key) != nullptr;
}

bool SettingsStore::HasSection(const std::wstring& section) const {
    json doc;
    LoadDocument(filePath_, doc);
    return doc.contains(ToUtf8(section));
}

bool SettingsStore::Apply(const std::vector<Change>& changes) {
    return Modify(filePath_, [&](json& doc) {
        bool changed = false;
        for (const Change& change : changes) {
            if (std::holds_alternative<std::monostate>(change.value)) {
                changed |= EraseValue(doc, change.section, change.key);
            } else {
                SetValue(doc, change.section, change.key, Encode(change));
                changed = true;
            }
        }
        return changed;
    });
}

IntSetting::IntSetting(std::wstring section_, std::wstring key_, std::int32_t def)
    : section(std::move(section_)), key(std::move(key_)), value(def), defaultValue(def) {}

void IntSetting::Load(const SettingsStore& store) { value = store.ReadInt(section, key, defaultValue); }

bool IntSetting::Save(SettingsStore& store) const { return store.WriteInt(section, key, value); }

StringSetting::StringSetting(std::wstring section_, std::wstring key_, std::wstring def)
    : section(std::move(section_)), key(std::move(key_)), value(def), defaultValue(std::move(def)) {}

void StringSetting::Load(const SettingsStore& store) { value = store.ReadString(section, key, defaultValue); }

bool StringSetting::Save(SettingsStore& store) const { return store.WriteString(section, key, value); }

AppSettings& AppSettings::Instance() {
    static AppSettings settings(SettingsStore::Instance());
    return settings;
}

AppSettings::AppSettings(SettingsStore& store) : store_(store) { Load(); }

AppSettings::~AppSettings() { Save(); }

std::wstring AppSettings::DefaultSaveTo() { return AppFolders::UserVideosFolder(); }

void AppSettings::Load() {
    runCount = store_.ReadInt(L"Config", L"RunCount", 0);
    baseViewFlags = store_.ReadInt(L"Settings", L"BaseViewFlags", 4096);
    lastOptionId = store_.ReadInt(L"Settings", L"LastOptionID", -1);
    sysFlags = store_.ReadInt(L"Config", L"SysFlags", 0);
    saveTo = store_.ReadString(L"Config", L"SaveTo", DefaultSaveTo());
    columns.clear();
    ByteList bytes;
    if (store_.ReadBytes(L"Downloaded", L"ColumnsInfo", bytes))
        if (auto decoded = DecodeColumns(bytes)) columns = std::move(*decoded);
}

bool AppSettings::Save() {
    return store_.Apply({
        {L"Config", L"RunCount", runCount},
        {L"Settings", L"BaseViewFlags", baseViewFlags},
        {L"Settings", L"LastOptionID", lastOptionId},
        {L"Config", L"SaveTo", saveTo},
        {L"Downloaded", L"ColumnsInfo", EncodeColumns(columns)},
    });
}

namespace {

void PutInt32(ByteList& out, std::int32_t value) {
    auto u = static_cast<std::uint32_t>(value);
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(u >> (8 * i)));
}

std::int32_t GetInt32(const ByteList& in, std::size_t pos) {
    std::uint32_t u = 0;
    for (int i = 0; i < 4; ++i) u |= static_cast<std::uint32_t>(in[pos + i]) << (8 * i);
    return static_cast<std::int32_t>(u);
}

constexpr std::size_t kColumnEntrySize = 9;

}  // namespace

ByteList AppSettings::EncodeColumns(const std::vector<ColumnInfo>& list) {
    ByteList out;
    PutInt32(out, static_cast<std::int32_t>(list.size()));
    for (const ColumnInfo& c : list) {
        PutInt32(out, c.order);
        PutInt32(out, c.width);
        out.push_back(c.inUse ? 1 : 0);
    }
    return out;
}

std::optional<std::vector<ColumnInfo>> AppSettings::DecodeColumns(const ByteList& bytes) {
    if (bytes.size() < 4) return std::nullopt;
    auto count = static_cast<std::uint32_t>(GetInt32(bytes, 0));
    if ((bytes.size() - 4) % kColumnEntrySize != 0 || (bytes.size() - 4) / kColumnEntrySize != count)
        return std::nullopt;
    std::vector<ColumnInfo> list;
    for (std::size_t pos = 4; pos < bytes.size(); pos += kColumnEntrySize)
        list.push_back(ColumnInfo{GetInt32(bytes, pos), GetInt32(bytes, pos + 4), bytes[pos + 8] != 0});
    return list;
}

}  // namespace quilmer
