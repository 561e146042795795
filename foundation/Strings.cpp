#include "foundation/Strings.h"

#include <iconv.h>
#include <langinfo.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <cwctype>
#include <vector>

namespace quilmer {

namespace {

// Rewrites a wide format from the "%s means wide" convention to the C library's, where a plain
// "%s" in a wide format means narrow.
std::wstring TranslateWideFormat(const wchar_t* fmt) {
    std::wstring out;
    for (const wchar_t* p = fmt; *p;) {
        if (*p != L'%') {
            out += *p++;
            continue;
        }
        out += *p++;
        if (*p == L'%') {
            out += *p++;
            continue;
        }
        while (*p && std::wcschr(L"-+ #0'", *p)) out += *p++;
        while (*p && (std::iswdigit(*p) || *p == L'*' || *p == L'.')) out += *p++;
        std::wstring length;
        // The Microsoft sizes: I64 is long long, I32 plain, a bare I size_t.
        if (p[0] == L'I' && p[1] == L'6' && p[2] == L'4') {
            length = L"ll";
            p += 3;
        } else if (p[0] == L'I' && p[1] == L'3' && p[2] == L'2') {
            p += 3;
        } else if (p[0] == L'I') {
            length = L"z";
            ++p;
        }
        while (*p && std::wcschr(L"hlLqjzt", *p)) length += *p++;
        if (!*p) {
            out += length;
            break;
        }
        wchar_t conv = *p++;
        if (conv == L's' || conv == L'c') {
            if (length == L"h")
                out += conv;  // narrow argument: plain conversion in the C library's terms
            else
                out += std::wstring(L"l") + conv;
        } else if (conv == L'S' || conv == L'C') {
            out += (conv == L'S') ? L's' : L'c';
        } else {
            out += length;
            out += conv;
        }
    }
    return out;
}

template <class Str>
std::size_t ReplaceAllImpl(Str& str, std::basic_string_view<typename Str::value_type> from,
                           std::basic_string_view<typename Str::value_type> to) {
    if (from.empty()) return 0;
    std::size_t count = 0;
    std::size_t pos = 0;
    while ((pos = str.find(from.data(), pos, from.size())) != Str::npos) {
        str.replace(pos, from.size(), to.data(), to.size());
        pos += to.size();
        ++count;
    }
    return count;
}

template <class Str, class Ch>
std::size_t RemoveCharImpl(Str& str, Ch ch) {
    auto oldSize = str.size();
    str.erase(std::remove(str.begin(), str.end(), ch), str.end());
    return oldSize - str.size();
}

template <class Str>
std::size_t DeleteImpl(Str& str, std::size_t pos, std::size_t count) {
    if (pos < str.size()) str.erase(pos, count);
    return str.size();
}

template <class View, class Ch>
int FindImpl(View str, Ch ch, std::size_t start) {
    auto pos = str.find(ch, start);
    return pos == View::npos ? -1 : static_cast<int>(pos);
}

template <class View, class Ch>
int ReverseFindImpl(View str, Ch ch) {
    auto pos = str.rfind(ch);
    return pos == View::npos ? -1 : static_cast<int>(pos);
}

template <class View>
std::basic_string<typename View::value_type> MidImpl(View str, int pos, int count) {
    if (pos < 0) pos = 0;
    if (count <= 0 || static_cast<std::size_t>(pos) >= str.size()) return {};
    return std::basic_string<typename View::value_type>(str.substr(pos, count));
}

wchar_t FoldW(wchar_t c) { return static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c))); }
char FoldA(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

template <class View, class Fold>
int CompareNoCaseImpl(View a, View b, Fold fold) {
    std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        auto ca = fold(a[i]);
        auto cb = fold(b[i]);
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

template <class Str, class View>
Str HtmlEscapeImpl(View text, const typename Str::value_type* const (&pairs)[10]) {
    Str out(text);
    for (int i = 0; i < 10; i += 2) ReplaceAll(out, View(pairs[i]), View(pairs[i + 1]));
    return out;
}

template <class View>
View TrimImpl(View str) {
    auto isBlank = [](auto c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    std::size_t b = 0, e = str.size();
    while (b < e && isBlank(str[b])) ++b;
    while (e > b && isBlank(str[e - 1])) --e;
    return str.substr(b, e - b);
}

// The locale's charset, with the untouched "C" locale taken as UTF-8.
const char* AnsiCharset() {
    const char* codeset = nl_langinfo(CODESET);
    if (!codeset || !*codeset || std::string_view(codeset) == "ANSI_X3.4-1968") return "UTF-8";
    return codeset;
}

// Runs iconv over the whole input; on an unconvertible or invalid unit, appends `replacement`
// (in the target encoding) and skips `skip` input bytes.
std::string RunIconv(const char* to, const char* from, const char* data, std::size_t size,
                     std::string_view replacement, std::size_t skip) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return {};
    std::string out;
    std::vector<char> buffer(4096);
    char* in = const_cast<char*>(data);
    std::size_t inLeft = size;
    while (inLeft > 0) {
        char* outPtr = buffer.data();
        std::size_t outLeft = buffer.size();
        std::size_t rc = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        out.append(buffer.data(), buffer.size() - outLeft);
        if (rc == static_cast<std::size_t>(-1)) {
            if (errno == E2BIG) continue;
            // EILSEQ or EINVAL (truncated input): substitute and move on.
            out.append(replacement);
            std::size_t step = std::min(skip, inLeft);
            in += step;
            inLeft -= step;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
        }
    }
    iconv_close(cd);
    return out;
}

}  // namespace

std::wstring FormatW(const wchar_t* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    std::wstring out = FormatWV(fmt, args);
    va_end(args);
    return out;
}

std::wstring FormatWV(const wchar_t* fmt, va_list args) {
    if (!fmt) return {};
    std::wstring format = TranslateWideFormat(fmt);
    std::vector<wchar_t> buffer(256);
    // vswprintf reports "too small" and "cannot render" alike, so grow up to a sane bound.
    for (;;) {
        va_list copy;
        va_copy(copy, args);
        int n = std::vswprintf(buffer.data(), buffer.size(), format.c_str(), copy);
        va_end(copy);
        if (n >= 0) return std::wstring(buffer.data(), n);
        if (buffer.size() >= (1u << 24)) return {};
        buffer.resize(buffer.size() * 4);
    }
}

std::vector<std::wstring> FormatConversions(std::wstring_view format) {
    // In the C library's conventions, where the argument types are plain to read.
    const std::wstring c = TranslateWideFormat(std::wstring(format).c_str());
    auto in = [&c](std::size_t i, const wchar_t* set) { return i < c.size() && std::wcschr(set, c[i]); };
    std::vector<std::wstring> out;
    for (std::size_t i = 0; i < c.size();) {
        if (c[i++] != L'%') continue;
        if (i < c.size() && c[i] == L'%') {
            ++i;
            continue;
        }
        while (in(i, L"-+ #0'")) ++i;
        while (i < c.size() && (std::iswdigit(c[i]) || c[i] == L'*' || c[i] == L'.'))
            if (c[i++] == L'*') out.push_back(L"*");
        std::wstring conversion;
        while (in(i, L"hlLqjzt")) conversion += c[i++];
        if (i >= c.size()) {
            out.push_back(L"incomplete");
            break;
        }
        conversion += c[i++];
        out.push_back(conversion);
    }
    return out;
}

bool SameConversions(std::wstring_view a, std::wstring_view b) {
    return FormatConversions(a) == FormatConversions(b);
}

std::string FormatA(const char* fmt, ...) {
    if (!fmt) return {};
    va_list args;
    va_start(args, fmt);
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    std::string out;
    if (n > 0) {
        out.resize(static_cast<std::size_t>(n) + 1);
        std::vsnprintf(out.data(), out.size(), fmt, args);
        out.resize(n);
    }
    va_end(args);
    return out;
}

std::size_t ReplaceAll(std::wstring& str, std::wstring_view from, std::wstring_view to) {
    return ReplaceAllImpl(str, from, to);
}
std::size_t ReplaceAll(std::string& str, std::string_view from, std::string_view to) {
    return ReplaceAllImpl(str, from, to);
}

std::size_t RemoveChar(std::wstring& str, wchar_t ch) { return RemoveCharImpl(str, ch); }
std::size_t RemoveChar(std::string& str, char ch) { return RemoveCharImpl(str, ch); }

std::size_t DeleteChars(std::wstring& str, std::size_t pos, std::size_t count) {
    return DeleteImpl(str, pos, count);
}
std::size_t DeleteChars(std::string& str, std::size_t pos, std::size_t count) {
    return DeleteImpl(str, pos, count);
}

int FindChar(std::wstring_view str, wchar_t ch, std::size_t start) { return FindImpl(str, ch, start); }
int FindChar(std::string_view str, char ch, std::size_t start) { return FindImpl(str, ch, start); }
int ReverseFindChar(std::wstring_view str, wchar_t ch) { return ReverseFindImpl(str, ch); }
int ReverseFindChar(std::string_view str, char ch) { return ReverseFindImpl(str, ch); }

std::wstring Left(std::wstring_view str, int count) { return MidImpl(str, 0, count); }
std::string Left(std::string_view str, int count) { return MidImpl(str, 0, count); }
std::wstring Mid(std::wstring_view str, int pos) { return MidImpl(str, pos, INT32_MAX); }
std::string Mid(std::string_view str, int pos) { return MidImpl(str, pos, INT32_MAX); }
std::wstring Mid(std::wstring_view str, int pos, int count) { return MidImpl(str, pos, count); }
std::string Mid(std::string_view str, int pos, int count) { return MidImpl(str, pos, count); }
std::wstring Right(std::wstring_view str, int count) {
    if (count <= 0) return {};
    std::size_t n = std::min<std::size_t>(count, str.size());
    return std::wstring(str.substr(str.size() - n));
}
std::string Right(std::string_view str, int count) {
    if (count <= 0) return {};
    std::size_t n = std::min<std::size_t>(count, str.size());
    return std::string(str.substr(str.size() - n));
}

int Compare(std::wstring_view a, std::wstring_view b) {
    int c = a.compare(b);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}
int CompareNoCase(std::wstring_view a, std::wstring_view b) { return CompareNoCaseImpl(a, b, FoldW); }
int CompareNoCase(std::string_view a, std::string_view b) { return CompareNoCaseImpl(a, b, FoldA); }
bool EqualsNoCase(std::wstring_view a, std::wstring_view b) {
    return a.size() == b.size() && CompareNoCase(a, b) == 0;
}

bool EndsWithNoCase(std::wstring_view text, std::wstring_view suffix) {
    return text.size() > suffix.size() && RightEqualsNoCase(text, suffix);
}

bool RightEqualsNoCase(std::wstring_view text, std::wstring_view tail) {
    if (text.size() < tail.size()) return false;
    return CompareNoCase(text.substr(text.size() - tail.size()), tail) == 0;
}

bool StartsWithNoCase(std::wstring_view text, std::wstring_view prefix) {
    return text.size() >= prefix.size() && CompareNoCase(text.substr(0, prefix.size()), prefix) == 0;
}

std::wstring ToLower(std::wstring_view str) {
    std::wstring out(str);
    for (auto& c : out) c = FoldW(c);
    return out;
}
std::string ToLower(std::string_view str) {
    std::string out(str);
    for (auto& c : out) c = FoldA(c);
    return out;
}
std::wstring ToUpper(std::wstring_view str) {
    std::wstring out(str);
    for (auto& c : out) c = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
    return out;
}

std::wstring Trim(std::wstring_view str) { return std::wstring(TrimImpl(str)); }
std::string Trim(std::string_view str) { return std::string(TrimImpl(str)); }

std::string ToAnsi(std::wstring_view text) {
    if (text.empty()) return {};
    return RunIconv(AnsiCharset(), "WCHAR_T", reinterpret_cast<const char*>(text.data()),
                    text.size() * sizeof(wchar_t), "?", sizeof(wchar_t));
}

std::wstring FromAnsi(std::string_view text) {
    text = text.substr(0, text.find('\0'));
    if (text.empty()) return {};
    const wchar_t replacement = 0xFFFD;
    std::string raw = RunIconv("WCHAR_T", AnsiCharset(), text.data(), text.size(),
                               std::string_view(reinterpret_cast<const char*>(&replacement), sizeof(wchar_t)), 1);
    std::wstring out(raw.size() / sizeof(wchar_t), L'\0');
    std::copy(raw.begin(), raw.begin() + out.size() * sizeof(wchar_t), reinterpret_cast<char*>(out.data()));
    return out;
}

bool TryFromAnsi(std::string_view text, std::wstring& out) {
    text = text.substr(0, text.find('\0'));
    if (text.empty()) {
        out.clear();
        return true;
    }
    iconv_t cd = iconv_open("WCHAR_T", AnsiCharset());
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    std::wstring result(text.size(), L'\0');  // never more units than bytes
    char* in = const_cast<char*>(text.data());
    std::size_t inLeft = text.size();
    char* outPtr = reinterpret_cast<char*>(result.data());
    std::size_t outLeft = result.size() * sizeof(wchar_t);
    std::size_t rc = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    iconv_close(cd);
    if (rc == static_cast<std::size_t>(-1) || inLeft != 0) return false;
    result.resize(result.size() - outLeft / sizeof(wchar_t));
    out = std::move(result);
    return true;
}

std::wstring HtmlEscape(std::wstring_view text) {
    static const wchar_t* const pairs[10] = {L"&", L"&amp;", L">",  L"&gt;",   L"<",
                                             L"&lt;", L"\"", L"&quot;", L"\n", L"<br>\n"};
    return HtmlEscapeImpl<std::wstring>(text, pairs);
}
std::string HtmlEscape(std::string_view text) {
    static const char* const pairs[10] = {"&", "&amp;", ">", "&gt;", "<", "&lt;", "\"", "&quot;", "\n", "<br>\n"};
    return HtmlEscapeImpl<std::string>(text, pairs);
}

std::wstring ToWString(long long value) { return std::to_wstring(value); }

}  // namespace quilmer
