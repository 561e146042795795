#include "update/VersionCheck.h"

#include "foundation/SiteAddresses.h"

#include <cstdio>
#include <cwctype>

#include "foundation/Strings.h"
#include "lang/IniFile.h"
#include "update/HttpClient.h"
#include "update/ProcessStart.h"

namespace quilmer {

namespace {

struct VersionPart {
    unsigned long long number = 0;
    std::wstring rest;
};

std::vector<VersionPart> SplitVersion(std::wstring_view text) {
    std::wstring t = Trim(text);
    std::wstring_view v = t;
    if (!v.empty() && (v.front() == L'v' || v.front() == L'V')) v.remove_prefix(1);
    std::vector<VersionPart> parts;
    while (!v.empty()) {
        std::size_t dot = v.find(L'.');
        std::wstring_view piece = v.substr(0, dot);
        VersionPart part;
        std::size_t i = 0;
        while (i < piece.size() && piece[i] >= L'0' && piece[i] <= L'9') {
            if (part.number < 1000000000000ULL)
                part.number = part.number * 10 + static_cast<unsigned>(piece[i] - L'0');
            ++i;
        }
        part.rest = piece.substr(i);
        parts.push_back(part);
        if (dot == std::wstring_view::npos) break;
        v.remove_prefix(dot + 1);
    }
    // Trailing zero parts say nothing: v2.0 is v2.0.0.
    while (!parts.empty() && parts.back().number == 0 && parts.back().rest.empty()) parts.pop_back();
    return parts;
}

}  // namespace

std::wstring DefaultDownloadPage() { return SiteBaseAddress() + L"/soft.php?type=joiner"; }

int CompareVersions(std::wstring_view a, std::wstring_view b) {
    std::vector<VersionPart> pa = SplitVersion(a), pb = SplitVersion(b);
    std::size_t n = std::max(pa.size(), pb.size());
    for (std::size_t i = 0; i < n; ++i) {
        VersionPart x = i < pa.size() ? pa[i] : VersionPart{};
        VersionPart y = i < pb.size() ? pb[i] : VersionPart{};
        if (x.number != y.number) return x.number < y.number ? -1 : 1;
        if (int c = x.rest.compare(y.rest); c != 0) return c < 0 ? -1 : 1;
    }
    return 0;
}

std::wstring FormatReleaseDate(std::wstring_view buildDate) {
    static const wchar_t* months[] = {L"Jan", L"Feb", L"Mar", L"Apr", L"May", L"Jun",
                                      L"Jul", L"Aug", L"Sep", L"Oct", L"Nov", L"Dec"};
    std::wstring text(buildDate);
    std::size_t blank = text.find(L' ');
    if (blank == std::wstring::npos) return text;
    std::wstring month = text.substr(0, blank);
    std::wstring rest = Trim(std::wstring_view(text).substr(blank + 1));
    std::size_t blank2 = rest.find(L' ');
    if (blank2 == std::wstring::npos) return text;
    int m = 0;
    for (int i = 0; i < 12; ++i)
        if (month == months[i]) m = i + 1;
    int day = 0, year = 0;
    wchar_t tail = 0;
    if (m == 0 || std::swscanf(rest.substr(0, blank2).c_str(), L"%d%lc", &day, &tail) != 1 ||
        std::swscanf(Trim(std::wstring_view(rest).substr(blank2 + 1)).c_str(), L"%d%lc", &year, &tail) != 1 ||
        day < 1 || day > 31 || year < 1 || year > 9999)
        return text;
    wchar_t out[16];
    std::swprintf(out, 16, L"%02d-%02d-%04d", m, day, year);
    return out;
}

std::wstring DescriptorUrl(const std::wstring& updateUrlSetting, const std::wstring& language,
                           const std::wstring& shortVersion) {
    if (!updateUrlSetting.empty()) {
        Teska::UrlParts p = Teska::SplitUrl(updateUrlSetting);
        std::wstring scheme = p.schemeLength ? ToLower(updateUrlSetting.substr(0, p.schemeLength)) : L"";
        if ((scheme == L"http" || scheme == L"https") && p.hostLength > 0 && Teska::PortOf(updateUrlSetting))
            return updateUrlSetting;
    }
    return UpdateServerAddress() + L"/flv/quilmerver.php?lang=" + Teska::EscapeUrlText(language) +
           L"&ver=" + Teska::EscapeUrlText(shortVersion);
}

namespace {

UpdateDecision Evaluate(const IniFile& ini, const std::wstring& currentVersion, const std::wstring& buildDate,
                        const std::wstring& language) {
    UpdateDecision d;
    std::wstring last = ini.ReadString(L"main", L"lastversion", currentVersion);
    if (CompareVersions(currentVersion, last) < 0) {
        d.action = UpdateDecision::Action::ShowTipPage;
        d.tipPageUrl = ini.ReadString(L"main", L"tipurl", DefaultDownloadPage()) + L"?lang=" +
                       Teska::EscapeUrlText(language);
        return d;
    }
    std::wstring newest = ini.ReadString(L"main", L"version", currentVersion);
    if (CompareVersions(currentVersion, newest) >= 0) return d;
    d.action = UpdateDecision::Action::OfferNewVersion;
    d.newestVersion = newest;
    d.releaseDate = ini.ReadString(L"main", L"releasedate", buildDate);
    d.downloadUrl = ini.ReadString(L"main", L"downloadurl", DefaultDownloadPage());
    return d;
}

}  // namespace

UpdateDecision EvaluateDescriptorText(std::string_view text, const std::wstring& currentVersion,
                                      const std::wstring& buildDate, const std::wstring& language) {
    IniFile ini;
    ini.Parse(text);
    return Evaluate(ini, currentVersion, buildDate, language);
}

UpdateDecision EvaluateDescriptor(const std::wstring& descriptorPath, const std::wstring& currentVersion,
                                  const std::wstring& buildDate, const std::wstring& language) {
    IniFile ini;
    if (!ini.Open(descriptorPath)) return {};
    return Evaluate(ini, currentVersion, buildDate, language);
}

std::vector<std::wstring> UpdaterArguments(const UpdaterLaunch& l) {
    return {l.downloadUrl + L"?type=joiner&lang=" + Teska::EscapeUrlText(l.language) + L"&ver=" +
                Teska::EscapeUrlText(l.currentVersion),
            kMainWindowClass,
            kMainWindowMessage,
            l.language,
            l.appDataFolder,
            L"(" + l.currentVersion + L")",
            L"(" + l.newestVersion + L")"};
}

std::wstring UpdaterCommandLine(const UpdaterLaunch& launch) {
    std::wstring line = L" ";
    bool first = true;
    for (const auto& arg : UpdaterArguments(launch)) {
        if (!first) line += L' ';
        first = false;
        line += L'"' + arg + L'"';
    }
    return line;
}

bool StartUpdater(const std::wstring& programFolder, const UpdaterLaunch& launch) {
    return StartDetachedProcess(programFolder + L"updater", UpdaterArguments(launch));
}

}  // namespace quilmer
