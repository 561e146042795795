#pragma once
// A web pane in a dialog. The pane opens its start page itself; links and forms that leave it open
// a browser window instead. The main window's pane follows its own five rules (form text with
// "hid=", the "corvane:" pseudo-scheme, searches from the joiner page), shows the built-in snap
// page when its page cannot be loaded, and starts its page again every five minutes.

#include "web/WebViewHost.h"

#include <wx/panel.h>
#include <wx/timer.h>
#include <wx/webview.h>
#include <wx/weakref.h>

#include <functional>
#include <string>
#include <vector>

namespace quilmer {

class WebPane : public wxPanel {
public:
    enum class Rules { Dialog, MainWindow };
    static constexpr int kMainPaneId = 1027;
    static constexpr int kRefreshCommand = 2007;
    static constexpr int kRefreshIntervalMs = 300000;

    // startAddress is asked again at every restart (the language may have changed).
    WebPane(wxWindow* parent, wxWindowID browserId, Rules rules, std::function<std::wstring()> startAddress);
    ~WebPane() override;

    wxWebView* Browser() const { return browser_; }
    bool ShowingSnapPage() const { return showingSnap_; }
    const std::vector<ScriptErrorRecord>& ScriptErrors() const { return scriptErrors_; }

    // Command 2007 and the refresh timer: the start page again.
    void Restart();
    // What the pane does with a navigation (address, form text); true when it may go on in the pane.
    bool HandleNavigation(const std::wstring& address, const std::string& formData);

private:
    void OnNavigating(wxWebViewEvent& event);
    void OnLoaded(wxWebViewEvent& event);
    void OnError(wxWebViewEvent& event);
    void OnNewWindow(wxWebViewEvent& event);
    void OnMessage(wxWebViewEvent& event);
    void ShowSnapPage();

    wxWebView* browser_ = nullptr;
    Rules rules_;
    std::function<std::wstring()> startAddress_;
    std::wstring loadingStart_;  // the start address while the pane opens it
    bool showingSnap_ = false;
    bool snapAfterErrorPage_ = false;
    wxString failedAddress_;
    wxTimer refreshTimer_;
    wxTimer snapTimer_;
    std::vector<ScriptErrorRecord> scriptErrors_;
};

// The main window's pane: the joiner page of the site with the current language and the short
// version, in the slot window the main window keeps for it (the pane fills the slot).
WebPane* MakeMainWebPane(wxWindow* slot);
// The joiner page address the main pane starts on.
std::wstring MainPaneStartAddress();

// The hidden report browser: a web view child of the main window (id 12345) that loads the join's
// clip reports. Loading is asynchronous and its result is never looked at, so a report can neither
// delay nor fail a join.
class ReportBrowser {
public:
    static constexpr int kId = 12345;
    explicit ReportBrowser(wxWindow* mainWindow);
    // Disconnects the view when it still exists (it goes with the main window).
    ~ReportBrowser();
    ReportBrowser(const ReportBrowser&) = delete;
    ReportBrowser& operator=(const ReportBrowser&) = delete;
    // Sends a report address (JoinReportAddress of media/join/JoinReport.h).
    void Report(const std::wstring& address);
    // Builds the address for a clip and sends it.
    void ReportClip(const std::wstring& language, const std::wstring& sourceUrl);
    wxWebView* Browser() const { return browser_.get(); }

private:
    wxWeakRef<wxWebView> browser_;
};

}  // namespace quilmer
