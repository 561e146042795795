#pragma once
// Reader of INI-style text files: the language packs and the version descriptor.
//
// The file is read once by Open(); lookups then work on the lines kept in memory. The format:
// - Lines end at LF (a CR before it is dropped). A line that does not fit, with its line end, in
//   1023 bytes ends the reading there: it and every later line are ignored.
// - "[ Name ]" starts a section; names and keys match without regard to ASCII case.
// - A file that begins with the UTF-8 byte-order mark is UTF-8; any other file is in the locale's
//   character set.
// - There is no comment syntax.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quilmer {

class IniFile {
public:
    using Entry = std::pair<std::wstring, std::wstring>;

    // Longest chunk read as one line, line end included; a longer line ends the reading.
    static constexpr std::size_t kMaxLineBytes = 1023;
    // Longest value ReadString returns, in characters.
    static constexpr std::size_t kMaxValueChars = 1024;

    IniFile() = default;
    explicit IniFile(const std::wstring& path) { Open(path); }

    // Largest file Open reads (packs are some kilobytes).
    static constexpr std::size_t kMaxFileBytes = 4u * 1024 * 1024;

    // Reads the file: a regular file of at most kMaxFileBytes. False when it cannot be read (or is
    // a FIFO, a device, larger); the object then behaves as an empty file.
    bool Open(const std::wstring& path);
    // Takes the file's bytes from memory (same rules as Open).
    void Parse(std::string_view bytes);

    bool IsOpen() const { return open_; }
    bool IsUtf8() const { return utf8_; }
    // True when an overlong line cut the reading short.
    bool IsTruncated() const { return truncated_; }

    // The value of one key: everything after "=" to the end of the line, leading blanks kept.
    // A missing file, section or key gives the default, as does a value that cannot be decoded.
    std::wstring ReadString(const std::wstring& section, const std::wstring& key,
                            const std::wstring& defaultValue = L"") const;
    // The whole section as (key, value) in file order: each line with "=" is split at the first
    // "=", both sides are trimmed, and every backslash-n pair in the value becomes a line feed.
    // Lines without "=" and lines that cannot be decoded are skipped.
    std::vector<Entry> ReadSection(const std::wstring& section) const;

private:
    // Index of the line after the first header naming the section, or npos.
    std::size_t FindSection(const std::string& encodedName) const;
    std::string Encode(const std::wstring& text) const;
    bool Decode(std::string_view bytes, std::wstring& text) const;

    std::vector<std::string> lines_;
    bool open_ = false;
    bool utf8_ = false;
    bool truncated_ = false;
};

}  // namespace quilmer
