#pragma once
// The once-per-run check for a newer version: where the version descriptor is asked for, how it
// is judged, and how the updater is started when the user accepts the new version.
// Everything here is free of windows; the main window shows the outcome.

#include <string>
#include <string_view>
#include <vector>

namespace quilmer {

inline constexpr const wchar_t* kDescriptorFileName = L"quilmerver.ini";
// The download site's page used when the descriptor names no page of its own.
std::wstring DefaultDownloadPage();

// Compares two short version texts ("v1.9", "v1.10", "v2.0.1") by their dotted numbers:
// negative, 0 or positive. A leading "v" and surrounding blanks are ignored, missing parts count
// as 0 ("v2.0" equals "v2.0.0"), and text after a part's digits breaks ties by plain order.
int CompareVersions(std::wstring_view a, std::wstring_view b);

// "Oct 22 2011" (the compiler's date form; "Dec  8 2026" works too) as "10-22-2011". A text
// that is not such a date comes back unchanged.
std::wstring FormatReleaseDate(std::wstring_view buildDate);

// The descriptor's address: the "UpdateURL" setting when it is an http or https URL with a
// host, else the update server's page with the language and version as query (escaped).
std::wstring DescriptorUrl(const std::wstring& updateUrlSetting, const std::wstring& language,
                           const std::wstring& shortVersion);

struct UpdateDecision {
    enum class Action { Nothing, ShowTipPage, OfferNewVersion };
    Action action = Action::Nothing;
    std::wstring tipPageUrl;     // ShowTipPage: page that asks the user to update
    std::wstring newestVersion;  // OfferNewVersion: the descriptor's values
    std::wstring releaseDate;
    std::wstring downloadUrl;
};

// Judges a downloaded descriptor. A file that cannot be read, or one without keys, means
// nothing is to be done.
UpdateDecision EvaluateDescriptor(const std::wstring& descriptorPath, const std::wstring& currentVersion,
                                  const std::wstring& buildDate, const std::wstring& language);
// The same on the descriptor's text.
UpdateDecision EvaluateDescriptorText(std::string_view text, const std::wstring& currentVersion,
                                      const std::wstring& buildDate, const std::wstring& language);

// What the updater is started with when the user accepts the new version.
struct UpdaterLaunch {
    std::wstring downloadUrl;
    std::wstring language;
    std::wstring appDataFolder;  // with its trailing separator
    std::wstring currentVersion;
    std::wstring newestVersion;
};

// The window class and registered message by which the updater finds the main window.
inline constexpr const wchar_t* kMainWindowClass = L"Corvane Video";
inline constexpr const wchar_t* kMainWindowMessage = L"UWM_JoinDownload_IsMe";

// The seven arguments: package URL (download URL + "?type=joiner&lang=..&ver=.."), window class,
// message name, language, data folder, "(current)", "(newest)".
std::vector<std::wstring> UpdaterArguments(const UpdaterLaunch& launch);
// The same as one command line: a blank (the empty program-name token), then each argument in
// double quotes, separated by blanks.
std::wstring UpdaterCommandLine(const UpdaterLaunch& launch);

// Starts programFolder + "updater" with the seven arguments, without waiting for it.
bool StartUpdater(const std::wstring& programFolder, const UpdaterLaunch& launch);

}  // namespace quilmer
