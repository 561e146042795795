#pragma once
// Conversions between the wide form (std::wstring: paths, window texts, settings, messages) and
// the narrow form (std::string: encoder output, UTF-8 payloads, file contents).

#include <string>
#include <string_view>

namespace quilmer {

// Encodes wide text as UTF-8. Unpaired surrogates and values past U+10FFFF make the whole
// conversion fail, which gives an empty string.
std::string ToUtf8(std::wstring_view text);

// Decodes UTF-8. Invalid input (bad lead or continuation bytes, overlong forms, surrogates,
// truncated sequences) makes the conversion fail, which gives an empty string.
std::wstring FromUtf8(std::string_view text);

// True when the bytes are well-formed UTF-8.
bool IsValidUtf8(std::string_view text);

// Appends one code point, encoded as UTF-8.
void AppendUtf8(std::string& out, char32_t cp);

}  // namespace quilmer
