#pragma once
// The program's version, kept once in the build (project version -> "1, 9, 0, 1"), and its
// display forms.

#include "foundation/DateTime.h"

#include <string>

namespace quilmer {

// "1, 9, 0, 1": the file-version form every display form starts from.
std::wstring FileVersionString();

// Display forms of the file version "1, 9, 0, 1":
//   0  "v1.90"
//   1  "Version: 1.90 build 001 Unicode" ("Version:" translated)
//   2  "1.90.001"
//   3  "v1.9" (the title and the "&ver=" query values)
// A version with fewer than three commas has build number 1. Unknown styles give style 0.
std::wstring FormatVersion(int style);
std::wstring FormatVersion(int style, const std::wstring& fileVersion);

// The day the program was built, as a date value and as "%m-%d-%Y".
CDateTime BuildDateTime();
std::wstring BuildDate();

// Named values of the version record ("FileVersion", "ProductVersion", "ProductName",
// "CompanyName", "LegalCopyright"); empty for any other name.
class CVersionInfo {
public:
    std::wstring GetString(const std::wstring& name) const;
    std::wstring FormatVersion(int style) const { return quilmer::FormatVersion(style); }
};

}  // namespace quilmer
