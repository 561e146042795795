#include "foundation/Version.h"

#include "foundation/BuildVersion.h"
#include "foundation/Strings.h"
#include "foundation/TextTranslator.h"

#include <cstdlib>
#include <cstring>
#include <string_view>

namespace quilmer {

// The version record of the program file: a marker, then the file version, NUL-padded to a fixed
// width. A copy of a program can be restamped with another version in place
// (scripts/make-update-package.sh does so for update packages). Writable and with external
// linkage, so the compiler reads the bytes from the file instead of folding the text in.
extern "C" {
extern char quilmer_version_record[64];
char quilmer_version_record[64] = "QUILMER-FILE-VERSION:" QUILMER_FILE_VERSION;
}

std::wstring FileVersionString() {
    constexpr std::size_t kMarker = sizeof("QUILMER-FILE-VERSION:") - 1;
    const char* text = quilmer_version_record + kMarker;
    return FromUtf8(std::string_view(text, ::strnlen(text, sizeof quilmer_version_record - kMarker - 1)));
}

std::wstring FormatVersion(int style) { return FormatVersion(style, FileVersionString()); }

std::wstring FormatVersion(int style, const std::wstring& fileVersion) {
    std::wstring text = fileVersion;
    RemoveChar(text, L' ');
    // "1,9,0,1" -> "1.9,0,1" -> "1.90,1": major.minor+patch, then the build after a comma.
    int comma = FindChar(text, L',');
    if (comma >= 0) {
        text[comma] = L'.';
        int second = FindChar(text, L',');
        if (second >= 0) DeleteChars(text, second, 1);
    }
    std::wstring version = text;
    int build = 1;
    if (int rest = FindChar(text, L','); rest >= 0) {
        version = Left(text, rest);
        build = static_cast<int>(std::wcstol(text.c_str() + rest + 1, nullptr, 10));
    }
    switch (style) {
        case 1:
            return Tr(L"Version:") + FormatW(L" %s build %03d", version.c_str(), build) + L" Unicode";
        case 2:
            return FormatW(L"%s.%03d", version.c_str(), build);
        case 3:
            if (!version.empty() && version.back() == L'0') version.pop_back();
            return L"v" + version;
        default:
            return L"v" + version;
    }
}

CDateTime BuildDateTime() {
    // __DATE__ is "Mmm dd yyyy".
    static const char months[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
    const std::string date = QUILMER_BUILD_DATE;
    int month = 0;
    for (int m = 0; m < 12; ++m)
        if (date.compare(0, 3, months + 3 * m, 3) == 0) month = m + 1;
    int day = std::atoi(date.c_str() + 4);
    int year = std::atoi(date.c_str() + 7);
    return CDateTime::FromLocal(year, month, day);
}

std::wstring BuildDate() { return BuildDateTime().Format(L"%m-%d-%Y"); }

std::wstring CVersionInfo::GetString(const std::wstring& name) const {
    if (name == L"FileVersion" || name == L"ProductVersion") return FileVersionString();
    if (name == L"ProductName") return L"Quilmer";
    if (name == L"CompanyName") return L"Corvane";
    if (name == L"LegalCopyright") return L"Copyright (C) Corvane";
    return {};
}

}  // namespace quilmer
