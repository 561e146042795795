#pragma once
// Address and form-data rules of the browser window, the web panes and the player windows'
// search bar. The windows hand these the address a page wants to go to and the form text the page
// sends with it; the result says whether the page may go on and where else to go.

#include <string>

namespace quilmer {

// Page addresses on the maker's site (site: base address without trailing slash). Every value is
// percent-escaped as UTF-8 (pack names hold blanks; a pack file's name is the user's to choose).
std::wstring ToolbarPageAddress(const std::wstring& site, const std::wstring& language, const std::wstring& type);
std::wstring JoinerPageAddress(const std::wstring& site, const std::wstring& language, const std::wstring& shortVersion);
std::wstring HelpPageAddress(const std::wstring& site, const std::wstring& language);
std::wstring DownloadPageAddress(const std::wstring& site, const std::wstring& language);
// A value for an address's query: UTF-8, every byte but letters, digits and "-._~" as %XX.
std::wstring QueryValue(const std::wstring& value);

// Pages from the network go only to http and https addresses (scheme in any letter case, with
// "//" after it); local files, data, script and other schemes are the program's own business.
bool IsWebAddress(const std::wstring& address);
// "about:blank" and "about:srcdoc": the empty page and a frame's inline page.
bool IsBlankPage(const std::wstring& address);
// What a page may navigate a frame of the program's windows to: a web address or a blank page.
bool MayNavigateFromPage(const std::wstring& address);

// True when the text holds a blank, or holds neither "." nor ":" and is not "localhost".
bool IsSearchText(const std::wstring& text);

// "&amp;", "&gt;", "&lt;" and "&quot;" back to "&", ">", "<", '"'.
std::wstring DecodeEntities(const std::wstring& text);

// UTF-8 bytes outside printable ASCII, the blank and < > " # { } | \ ^ ~ [ ] ` as %XX; with
// escapePercent also "%" itself. Empty when the result would be longer than maxBytes (0: no limit).
std::string EscapeAddressText(const std::wstring& text, bool escapePercent, std::size_t maxBytes = 0);

// Status codes a navigation error is not reported for: 0..399 and a few "not really an error" codes.
bool IsIgnoredNavigationStatus(long long status);

// The error page address for a failed address, or empty when the status is ignored or the failed
// address is the error page itself (no loop).
std::wstring NavigationErrorAddress(const std::wstring& site, const std::wstring& failedAddress, long long status,
                                    const std::wstring& language);

// The search-bar rule of the player windows: an address with "api_search" and "q=" opens a browser
// window on the search page instead. Empty url: navigation proceeds.
struct SearchBarRedirect {
    std::wstring url;   // site + "/video_search.php" + query
    std::wstring type;  // text after "&type=" (empty when none)
};
SearchBarRedirect DecideSearchBarNavigation(const std::wstring& site, const std::wstring& address);

// What the browser window does with a navigation of its toolbar page.
struct ToolbarDecision {
    bool cancel = false;          // the toolbar page does not go there
    std::wstring contentAddress;  // when not empty: the content browser goes there now
    bool setPending = false;      // the content browser goes to pending once the toolbar page has loaded
    std::wstring pending;
    bool setCurrentAddress = false;
    std::wstring currentAddress;
    bool download = false;  // post command 2030
};
// address: where the toolbar page goes; formData: the form text it sends (empty when none).
ToolbarDecision DecideToolbarNavigation(const std::wstring& site, const std::wstring& address,
                                        const std::string& formData);

// Where the content browser goes with a pending address after the toolbar page has loaded: the
// site's search for search text, else the (entity-decoded) address itself, "http://" added when
// it names no scheme.
std::wstring AddressForPending(const std::wstring& site, const std::wstring& currentAddress,
                               const std::wstring& pending, const std::wstring& type);

// The main window web pane's five rules.
struct PaneDecision {
    bool cancel = false;
    bool openBrowser = false;  // open a browser window on browserAddress with browserType
    std::wstring browserAddress;
    std::wstring browserType;
};
PaneDecision DecideMainPaneNavigation(const std::wstring& site, const std::wstring& address,
                                      const std::string& formData, const std::wstring& language);

// The page shown when the main pane cannot load: a picture (imageSource: an address the browser can
// load, e.g. a data: URL) linking, in a new window, to the site's download page.
std::string SnapPage(const std::wstring& site, const std::string& imageSource);

}  // namespace quilmer
