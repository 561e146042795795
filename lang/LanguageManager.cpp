#include "lang/LanguageManager.h"

#include "foundation/FileUtil.h"
#include "foundation/Log.h"
#include "foundation/Strings.h"
#include "foundation/Utf8.h"
#include "lang/IniFile.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <system_error>

namespace quilmer {

namespace {

constexpr wchar_t kEnglish[] = L"English";
constexpr wchar_t kPackExtension[] = L".lng";

LanguageManager::Environment Checked(LanguageManager::Environment env) {
    if (!env.languageFolder.empty() && env.languageFolder.back() != L'/') env.languageFolder += L'/';
    return env;
}

// Exact case: the pack is opened again by name + ".lng" on a case-sensitive file system.
bool EndsWithPackExtension(const std::wstring& name) {
    std::wstring_view ext = kPackExtension;
    return name.size() > ext.size() && std::wstring_view(name).substr(name.size() - ext.size()) == ext;
}

}  // namespace

// Nothing else can see the object while it is built, so the constructor works without the lock.
LanguageManager::LanguageManager(Environment environment) : environment_(Checked(std::move(environment))) {
    std::wstring defaultName = DefaultLanguageName();
    setting_ = environment_.loadLanguage ? environment_.loadLanguage(defaultName) : defaultName;
    if (setting_.empty()) setting_ = defaultName;

    RebuildLanguageList();

    IniFile english;
    if (!english.Open(PackPath(kEnglish))) return;  // nothing is translated until a switch
    for (auto& [key, text] : english.ReadSection(L"String")) {
        if (key.empty()) continue;
        reverse_.emplace(text, key);
        englishByKey_.emplace(key, text);
    }
    SwitchLanguageLocked(setting_, true);
}

LanguageManager::~LanguageManager() {
    if (environment_.saveLanguage) environment_.saveLanguage(setting_);
}

std::wstring LanguageManager::PackPath(const std::wstring& name) const {
    // The name comes from the settings file; it must not lead out of the folder.
    if (!IsSystemPath(name) || name.find(L'/') != std::wstring::npos || name == L"." || name == L"..")
        return {};
    return environment_.languageFolder + name + kPackExtension;
}

void LanguageManager::RebuildLanguageList() {
    std::vector<LanguageEntry> languages{{kEnglish, -1, {}}};
    std::vector<std::wstring> iconFiles;
    std::vector<std::pair<std::wstring, std::wstring>> packs;  // name, path

    std::error_code ec;
    std::filesystem::directory_iterator it(NativePath(environment_.languageFolder), ec);
    for (; !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
        if (!it->is_regular_file(ec)) continue;
        std::wstring fileName = WidePath(it->path().filename().native());
        if (!EndsWithPackExtension(fileName)) continue;
        packs.emplace_back(fileName.substr(0, fileName.size() - 4), environment_.languageFolder + fileName);
    }
    // Directory order is arbitrary on Linux; sorted names give a stable chooser.
    std::sort(packs.begin(), packs.end());

    for (const auto& [name, path] : packs) {
        IniFile pack(path);
        std::wstring icon = pack.ReadString(L"Info", L"icon");
        int index = -1;
        std::wstring iconPath;
        if (!icon.empty() && IsLoadableBitmap(environment_.languageFolder + icon)) {
            iconPath = environment_.languageFolder + icon;
            index = static_cast<int>(iconFiles.size());
            iconFiles.push_back(iconPath);
        }
        if (name == kEnglish) {
            if (index >= 0) {
                languages[0].icon = index;
                languages[0].iconFile = iconPath;
            }
        } else {
            languages.push_back({name, index, iconPath});
        }
    }
    std::lock_guard lock(mutex_);
    languages_ = std::move(languages);
    iconFiles_ = std::move(iconFiles);
}

void LanguageManager::SwitchLanguage(const std::wstring& name, bool atStartUp) {
    std::lock_guard lock(mutex_);
    SwitchLanguageLocked(name, atStartUp);
}

void LanguageManager::SwitchLanguageLocked(const std::wstring& name, bool atStartUp) {
    if (!atStartUp) {
        if (setting_ == name) return;
        displayed_ = setting_;
        setting_ = name;
    }
    current_ = 1 - current_;
    // Texts on screen are in the previous pack; index it by text for mapping them back.
    previousByText_.clear();
    for (const auto& [key, text] : tables_[1 - current_]) {
        if (!text.empty()) previousByText_.emplace(text, key);
    }
    if (displayed_ == name) return;

    Table& table = tables_[current_];
    table.clear();
    std::wstring path = PackPath(name);
    if (path.empty()) return;
    IniFile pack(path);
    for (auto& [key, text] : pack.ReadSection(L"String")) {
        if (key.empty()) continue;
        // A text the code formats must take the same arguments in every language: one that does
        // not is left out, so the English text shows (and is formatted) instead.
        auto english = englishByKey_.find(key);
        if (english != englishByKey_.end() && !SameConversions(english->second, text)) {
            CLog::Instance().Printf(LOG_WARN, L"Language: %ls: \"%ls\" left out, its placeholders differ from \"%ls\"",
                                    name.c_str(), key.c_str(), english->second.c_str());
            continue;
        }
        table.emplace(std::move(key), std::move(text));
    }
}

std::wstring LanguageManager::Translate(const std::wstring& text) const {
    std::lock_guard lock(mutex_);
    return TranslateLocked(text);
}

std::wstring LanguageManager::TranslateLocked(const std::wstring& text) const {
    if (text.empty() || setting_ == displayed_) return text;
    std::wstring translated;
    if (LookUpLocked(text, translated)) return translated;
    // Pack values are trimmed, so a text with blanks around it ("Cannot read the file ") is
    // stored without them: translate the core and keep the blanks.
    constexpr wchar_t kBlanks[] = L" \t\r\n";
    std::size_t first = text.find_first_not_of(kBlanks);
    std::size_t last = text.find_last_not_of(kBlanks);
    if (first == std::wstring::npos || (first == 0 && last + 1 == text.size())) return text;
    if (!LookUpLocked(text.substr(first, last + 1 - first), translated)) return text;
    return text.substr(0, first) + translated + text.substr(last + 1);
}

bool LanguageManager::LookUpLocked(const std::wstring& text, std::wstring& translated) const {
    const std::wstring* key = nullptr;
    if (displayed_ != kEnglish) {
        auto shown = previousByText_.find(text);
        if (shown != previousByText_.end()) key = &shown->second;
    }
    if (!key) {
        auto english = reverse_.find(text);
        if (english == reverse_.end()) return false;
        key = &english->second;
    }
    const Table& table = tables_[current_];
    auto found = table.find(*key);
    if (found != table.end() && !found->second.empty()) {
        translated = found->second;
        return true;
    }
    // The pack lacks the text: show the English one rather than keep the old language's.
    auto english = englishByKey_.find(*key);
    translated = english != englishByKey_.end() && !english->second.empty() ? english->second : text;
    return true;
}

std::wstring LanguageManager::TranslateMenuText(const std::wstring& text) const {
    std::lock_guard lock(mutex_);
    std::size_t tab = text.find(L'\t');
    if (tab == std::wstring::npos) return TranslateLocked(text);
    return TranslateLocked(text.substr(0, tab)) + L'\t' + TranslateLocked(text.substr(tab + 1));
}

bool LanguageManager::NeedsRelabel() const {
    std::lock_guard lock(mutex_);
    return setting_ != displayed_;
}

void LanguageManager::SelectLanguage(std::size_t index) { SwitchLanguage(LanguageAt(index).name, false); }

bool LanguageManager::IsCurrent(std::size_t index) const {
    std::lock_guard lock(mutex_);
    const LanguageEntry& entry = index < languages_.size() ? languages_[index] : languages_.front();
    return entry.name == setting_;
}

std::wstring LanguageManager::CurrentLanguage() const {
    std::lock_guard lock(mutex_);
    return setting_;
}

std::size_t LanguageManager::LanguageCount() const {
    std::lock_guard lock(mutex_);
    return languages_.size();
}

LanguageEntry LanguageManager::LanguageAt(std::size_t index) const {
    std::lock_guard lock(mutex_);
    return index < languages_.size() ? languages_[index] : languages_.front();
}

std::wstring LanguageManager::ChooserText(std::size_t index) const {
    std::wstring name = LanguageAt(index).name;
    return Translate(name) + L"\t[" + name + L"]";
}

std::vector<std::wstring> LanguageManager::IconFiles() const {
    std::lock_guard lock(mutex_);
    return iconFiles_;
}

bool ReadFlagBitmap(const std::wstring& path, std::string& bytes) {
    std::string data;
    // A flag is a small BMP; a FIFO or a device named as one is never opened for reading.
    if (!ReadRegularFile(path, kMaxFlagFileBytes, data)) return false;
    if (data.size() < 54) return false;
    const unsigned char* h = reinterpret_cast<const unsigned char*>(data.data());
    const std::uint64_t fileSize = data.size();

    auto u16 = [&](int at) { return static_cast<std::uint32_t>(h[at] | h[at + 1] << 8); };
    auto u32 = [&](int at) { return u16(at) | u16(at + 2) << 16; };
    if (h[0] != 'B' || h[1] != 'M') return false;
    std::uint32_t dataOffset = u32(10);
    std::uint32_t headerSize = u32(14);
    if (headerSize != 40 && headerSize != 52 && headerSize != 56 && headerSize != 108 && headerSize != 124) {
        return false;
    }
    std::int32_t width = static_cast<std::int32_t>(u32(18));
    std::int32_t height = static_cast<std::int32_t>(u32(22));
    std::uint32_t bitCount = u16(28);
    std::uint32_t compression = u32(30);
    if (width <= 0 || width > 4096 || height == 0 || height < -4096 || height > 4096) return false;
    if (u16(26) != 1 || (compression != 0 && compression != 3)) return false;
    if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 16 && bitCount != 24 &&
        bitCount != 32) {
        return false;
    }
    std::uint64_t rowBytes = (static_cast<std::uint64_t>(width) * bitCount + 31) / 32 * 4;
    std::uint64_t pixelBytes = rowBytes * static_cast<std::uint64_t>(height < 0 ? -height : height);
    if (dataOffset < 14 + headerSize || dataOffset + pixelBytes > fileSize) return false;
    bytes = std::move(data);
    return true;
}

bool IsLoadableBitmap(const std::wstring& path) {
    std::string bytes;
    return ReadFlagBitmap(path, bytes);
}

}  // namespace quilmer
