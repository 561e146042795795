#include "lang/IniFile.h"

#include "foundation/Strings.h"
#include "foundation/FileUtil.h"
#include "foundation/Utf8.h"


namespace quilmer {

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// True when `text` starts at `pos` with `word`, ignoring ASCII case.
bool MatchesAt(const std::string& text, std::size_t pos, const std::string& word) {
    if (text.size() - pos < word.size()) return false;
    for (std::size_t i = 0; i < word.size(); ++i) {
        if (AsciiLower(text[pos + i]) != AsciiLower(word[i])) return false;
    }
    return true;
}

std::size_t SkipBlanks(const std::string& text, std::size_t pos) {
    while (pos < text.size() && IsBlank(text[pos])) ++pos;
    return pos;
}

bool IsHeader(const std::string& line) {
    std::size_t pos = SkipBlanks(line, 0);
    return pos < line.size() && line[pos] == '[';
}

// "[", optional blanks, the name (over its own length), optional blanks, "]".
bool IsHeaderOf(const std::string& line, const std::string& name) {
    std::size_t pos = SkipBlanks(line, 0);
    if (pos >= line.size() || line[pos] != '[') return false;
    pos = SkipBlanks(line, pos + 1);
    if (!MatchesAt(line, pos, name)) return false;
    pos = SkipBlanks(line, pos + name.size());
    return pos < line.size() && line[pos] == ']';
}

}  // namespace

bool IniFile::Open(const std::wstring& path) {
    Parse({});
    open_ = false;
    std::string bytes;
    // A pack may come from anywhere: a FIFO or a device in its place is refused, not waited on.
    if (!ReadRegularFile(path, kMaxFileBytes, bytes)) return false;
    Parse(bytes);
    return true;
}

void IniFile::Parse(std::string_view bytes) {
    lines_.clear();
    truncated_ = false;
    open_ = true;
    utf8_ = bytes.substr(0, kUtf8Bom.size()) == kUtf8Bom;
    if (utf8_) bytes.remove_prefix(kUtf8Bom.size());

    while (!bytes.empty()) {
        std::size_t end = bytes.find('\n');
        // The text plus its LF must fit in one chunk; a last line without LF needs only its text.
        std::size_t chunk = end == std::string_view::npos ? bytes.size() : end + 1;
        if (chunk > kMaxLineBytes) {
            truncated_ = true;
            break;
        }
        std::string_view line = bytes.substr(0, end == std::string_view::npos ? bytes.size() : end);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines_.emplace_back(line);
        bytes.remove_prefix(chunk);
    }
}

std::string IniFile::Encode(const std::wstring& text) const { return utf8_ ? ToUtf8(text) : ToAnsi(text); }

bool IniFile::Decode(std::string_view bytes, std::wstring& text) const {
    if (bytes.empty()) {
        text.clear();
        return true;
    }
    if (utf8_) {
        // A broken sequence drops the value rather than showing mangled text.
        if (!IsValidUtf8(bytes)) return false;
        text = FromUtf8(bytes);
    } else {
        // Bytes the locale's charset cannot decode come back as U+FFFD; drop them the same way.
        text = FromAnsi(bytes);
        if (text.find(L'\uFFFD') != std::wstring::npos) return false;
    }
    return !text.empty();
}

std::size_t IniFile::FindSection(const std::string& encodedName) const {
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        if (IsHeaderOf(lines_[i], encodedName)) return i + 1;
    }
    return std::string::npos;
}

std::wstring IniFile::ReadString(const std::wstring& section, const std::wstring& key,
                                 const std::wstring& defaultValue) const {
    std::string encodedSection = Encode(section);
    std::string encodedKey = Encode(key);
    if (encodedSection.empty() || encodedKey.empty()) return defaultValue;
    std::size_t first = FindSection(encodedSection);
    if (first == std::string::npos) return defaultValue;

    for (std::size_t i = first; i < lines_.size() && !IsHeader(lines_[i]); ++i) {
        const std::string& line = lines_[i];
        std::size_t pos = SkipBlanks(line, 0);
        if (!MatchesAt(line, pos, encodedKey)) continue;
        pos = SkipBlanks(line, pos + encodedKey.size());
        if (pos >= line.size() || line[pos] != '=') continue;
        std::wstring value;
        if (!Decode(std::string_view(line).substr(pos + 1), value)) return defaultValue;
        if (value.size() > kMaxValueChars) value.resize(kMaxValueChars);
        return value;
    }
    return defaultValue;
}

std::vector<IniFile::Entry> IniFile::ReadSection(const std::wstring& section) const {
    std::vector<Entry> entries;
    std::string encodedSection = Encode(section);
    if (encodedSection.empty()) return entries;
    std::size_t first = FindSection(encodedSection);
    if (first == std::string::npos) return entries;

    for (std::size_t i = first; i < lines_.size() && !IsHeader(lines_[i]); ++i) {
        std::string_view line = lines_[i];
        std::size_t eq = line.find('=');
        if (eq == std::string_view::npos) continue;
        std::wstring key;
        std::wstring value;
        if (!Decode(Trim(line.substr(0, eq)), key) || !Decode(Trim(line.substr(eq + 1)), value)) continue;
        for (std::size_t pos = value.find(L"\\n"); pos != std::wstring::npos;
             pos = value.find(L"\\n", pos + 1)) {
            value.replace(pos, 2, L"\n");
        }
        entries.emplace_back(std::move(key), std::move(value));
    }
    return entries;
}

}  // namespace quilmer
