#pragma once
// The maker's two hosts, kept in one place: the web site (help, search, toolbar and player pages,
// download pages, join reports) and the update server (version descriptor, packages).
//
// Defaults are on the reserved ".example" domain. A user, a packager or a test points them at a
// real server with the environment (QUILMER_SITE_URL, QUILMER_UPDATE_URL) or the settings
// "Config"/"SiteAddress" and "Config"/"UpdateServer"; the environment wins. A value that is not an
// http or https URL with a host is ignored. The result never ends with "/".

#include <string>

namespace quilmer {

inline constexpr const wchar_t* kDefaultSiteAddress = L"http://www.corvane.example";
inline constexpr const wchar_t* kDefaultUpdateServerAddress = L"http://update.corvane.example";

std::wstring SiteBaseAddress();
std::wstring UpdateServerAddress();

// The rule both use: the first usable candidate, without trailing slashes, else fallback.
std::wstring ChooseBaseAddress(const std::wstring& fromEnvironment, const std::wstring& fromSettings,
                               const std::wstring& fallback);

}  // namespace quilmer
