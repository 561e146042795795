#pragma once
// String helpers shared by every subsystem. The wide form (std::wstring) carries paths, window
// texts, settings and messages; the narrow form (std::string) carries encoder output, UTF-8
// payloads and file contents. Helpers that edit a string do so in place, like the string class
// the rest of the code was written against; the others return a new string.

#include "foundation/Utf8.h"

#include <cstdarg>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace quilmer {

// printf-style formatting. FormatW follows the wide-printf conventions the program's texts are
// written in: "%s" and "%c" take a wide string / character ("%ls" too), "%hs", "%S" and "%hc",
// "%C" take a narrow one. A format that cannot be rendered gives an empty string.
std::wstring FormatW(const wchar_t* fmt, ...);
std::wstring FormatWV(const wchar_t* fmt, va_list args);
std::string FormatA(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// The arguments a FormatW format takes, in order: one entry per conversion ("d", "ls", "ld",
// ".1f" is "f") and one "*" per star; "%%" takes none. A format whose last conversion is cut off
// ends in "incomplete".
std::vector<std::wstring> FormatConversions(std::wstring_view format);
// Whether two formats take the same arguments (a translation may move the words, never change
// what it reads).
bool SameConversions(std::wstring_view a, std::wstring_view b);

// Replaces every occurrence of `from` by `to`, left to right, never rescanning replaced text.
// Returns the number of replacements. An empty `from` replaces nothing.
std::size_t ReplaceAll(std::wstring& str, std::wstring_view from, std::wstring_view to);
std::size_t ReplaceAll(std::string& str, std::string_view from, std::string_view to);

// Removes every occurrence of ch; returns how many were removed.
std::size_t RemoveChar(std::wstring& str, wchar_t ch);
std::size_t RemoveChar(std::string& str, char ch);

// Deletes up to count characters at pos; nothing when pos is at or past the end. Returns the
// new length.
std::size_t DeleteChars(std::wstring& str, std::size_t pos, std::size_t count = 1);
std::size_t DeleteChars(std::string& str, std::size_t pos, std::size_t count = 1);

// Index of the first occurrence at or after start / of the last occurrence, or -1.
int FindChar(std::wstring_view str, wchar_t ch, std::size_t start = 0);
int FindChar(std::string_view str, char ch, std::size_t start = 0);
int ReverseFindChar(std::wstring_view str, wchar_t ch);
int ReverseFindChar(std::string_view str, char ch);

// Substrings; counts and positions past the end are clamped, negative counts give "".
std::wstring Left(std::wstring_view str, int count);
std::string Left(std::string_view str, int count);
std::wstring Mid(std::wstring_view str, int pos);
std::string Mid(std::string_view str, int pos);
std::wstring Mid(std::wstring_view str, int pos, int count);
std::string Mid(std::string_view str, int pos, int count);
std::wstring Right(std::wstring_view str, int count);
std::string Right(std::string_view str, int count);

// Comparisons: <0, 0, >0. The no-case variants fold with the C library's towlower/tolower.
int Compare(std::wstring_view a, std::wstring_view b);
int CompareNoCase(std::wstring_view a, std::wstring_view b);
int CompareNoCase(std::string_view a, std::string_view b);
bool EqualsNoCase(std::wstring_view a, std::wstring_view b);

// True when text is strictly longer than suffix and ends with it, ignoring case: a name that
// is only the extension (".flv") does not count as having that extension.
bool EndsWithNoCase(std::wstring_view text, std::wstring_view suffix);
// Compares the rightmost tail.size() characters of text with tail, ignoring case; equal
// lengths match. False when text is shorter than tail.
bool RightEqualsNoCase(std::wstring_view text, std::wstring_view tail);
bool StartsWithNoCase(std::wstring_view text, std::wstring_view prefix);

std::wstring ToLower(std::wstring_view str);
std::string ToLower(std::string_view str);
std::wstring ToUpper(std::wstring_view str);

// Removes leading and trailing blanks (space, tab, CR, LF).
std::wstring Trim(std::wstring_view str);
std::string Trim(std::string_view str);

// Conversions through the locale's character set (LC_CTYPE; a program still in the "C" locale
// is treated as UTF-8, the practical charset here). Characters the charset cannot hold become
// '?', bytes it cannot decode U+FFFD. FromAnsi stops at the first NUL byte, as C text does.
std::string ToAnsi(std::wstring_view text);
std::wstring FromAnsi(std::string_view text);
// Strict form: false (and out untouched) when a byte sequence does not decode in the charset.
bool TryFromAnsi(std::string_view text, std::wstring& out);

// Escapes, in this order, & > < " and turns each line feed into "<br>\n".
std::wstring HtmlEscape(std::wstring_view text);
std::string HtmlEscape(std::string_view text);

// Decimal text of a number, locale-independent.
std::wstring ToWString(long long value);

}  // namespace quilmer
