#include "media/WindowsCommandLine.h"

namespace quilmer {

namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

}  // namespace

std::vector<std::wstring> SplitWindowsCommandLine(const std::wstring& line) {
    std::vector<std::wstring> args;
    std::size_t i = 0;
    const std::size_t n = line.size();

    // The program name: a quoted run or everything up to white space, backslashes literal.
    while (i < n && IsBlank(line[i])) ++i;
    if (i >= n) return args;
    std::wstring program;
    if (line[i] == L'"') {
        ++i;
        while (i < n && line[i] != L'"') program += line[i++];
        if (i < n) ++i;  // closing quote
    } else {
        while (i < n && !IsBlank(line[i])) program += line[i++];
    }
    args.push_back(program);

    for (;;) {
        while (i < n && IsBlank(line[i])) ++i;
        if (i >= n) break;
        std::wstring arg;
        bool quoted = false;
        while (i < n) {
            wchar_t c = line[i];
            if (!quoted && IsBlank(c)) break;
            if (c == L'\\') {
                std::size_t slashes = 0;
                while (i < n && line[i] == L'\\') {
                    ++slashes;
                    ++i;
                }
                if (i < n && line[i] == L'"') {
                    arg.append(slashes / 2, L'\\');
                    if (slashes % 2 == 1) {
                        arg += L'"';
                        ++i;
                    }
                    // An even count leaves the quote to toggle quoting below.
                } else {
                    arg.append(slashes, L'\\');
                }
                continue;
            }
            if (c == L'"') {
                if (quoted && i + 1 < n && line[i + 1] == L'"') {
                    arg += L'"';
                    i += 2;
                    continue;
                }
                quoted = !quoted;
                ++i;
                continue;
            }
            arg += c;
            ++i;
        }
        args.push_back(arg);
    }
    return args;
}

std::wstring QuoteWindowsArgument(const std::wstring& argument) {
    std::wstring out = L"\"";
    std::size_t slashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++slashes;
            continue;
        }
        if (c == L'"') {
            out.append(slashes * 2 + 1, L'\\');
            out += L'"';
        } else {
            out.append(slashes, L'\\');
            out += c;
        }
        slashes = 0;
    }
    // Backslashes before the closing quote must be doubled or they would escape it.
    out.append(slashes * 2, L'\\');
    out += L'"';
    return out;
}

std::wstring JoinWindowsCommandLine(const std::vector<std::wstring>& arguments) {
    std::wstring out;
    for (std::size_t k = 0; k < arguments.size(); ++k) {
        const std::wstring& a = arguments[k];
        if (k > 0) out += L' ';
        bool needsQuotes = a.empty() || a.find_first_of(L" \t\"") != std::wstring::npos;
        if (k == 0) {
            // The program name cannot carry escapes; it is quoted whole.
            out += needsQuotes ? L"\"" + a + L"\"" : a;
        } else {
            out += needsQuotes ? QuoteWindowsArgument(a) : a;
        }
    }
    return out;
}

}  // namespace quilmer
