#include "foundation/SiteAddresses.h"

#include "foundation/Settings.h"
#include "foundation/Utf8.h"

#include <cstdlib>
#include <cwctype>

namespace quilmer {

namespace {

bool IsHttpBase(const std::wstring& text) {
    std::wstring lower;
    for (wchar_t c : text) lower += static_cast<wchar_t>(std::towlower(c));
    for (const wchar_t* scheme : {L"http://", L"https://"}) {
        std::wstring s(scheme);
        if (lower.compare(0, s.size(), s) == 0) {
            std::wstring rest = text.substr(s.size());
            return !rest.empty() && rest.front() != L'/' && rest.find_first_of(L" \t\r\n") == std::wstring::npos;
        }
    }
    return false;
}

std::wstring Environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? FromUtf8(value) : std::wstring();
}

std::wstring Setting(const wchar_t* key) { return SettingsStore::Instance().ReadString(L"Config", key); }

}  // namespace

std::wstring ChooseBaseAddress(const std::wstring& fromEnvironment, const std::wstring& fromSettings,
                               const std::wstring& fallback) {
    for (std::wstring candidate : {fromEnvironment, fromSettings}) {
        while (!candidate.empty() && candidate.back() == L'/') candidate.pop_back();
        if (IsHttpBase(candidate)) return candidate;
    }
    return fallback;
}

std::wstring SiteBaseAddress() {
    return ChooseBaseAddress(Environment("QUILMER_SITE_URL"), Setting(L"SiteAddress"), kDefaultSiteAddress);
}

std::wstring UpdateServerAddress() {
    return ChooseBaseAddress(Environment("QUILMER_UPDATE_URL"), Setting(L"UpdateServer"),
                             kDefaultUpdateServerAddress);
}

}  // namespace quilmer
