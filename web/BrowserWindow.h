#pragma once
// The small stand-alone browser: a toolbar page from the maker's site above a content browser.
// The toolbar page hands its forms to the window as form text through the message handler
// "quilmer"; the window applies the toolbar rules to that text (web/core/WebRules.h). When the
// site's toolbar page cannot be loaded, a built-in copy of it takes its place.

#include "web/WebViewHost.h"
#include "web/WindowPlacementKeeper.h"

#include <wx/frame.h>
#include <wx/timer.h>
#include <wx/webview.h>

#include <functional>
#include <string>
#include <vector>

namespace quilmer {

class BrowserWindow : public wxFrame {
public:
    static constexpr int kContentId = 1011;
    static constexpr int kToolbarId = 1010;
    static constexpr int kCopyCommand = 1013;
    static constexpr int kPasteCommand = 1014;
    static constexpr int kPasteAndGoCommand = 2026;
    static constexpr int kPasteAndSearchCommand = 2027;
    static constexpr int kDownloadCommand = 2030;
    static constexpr int kRuntimeFlag = 0x20;

    // onClosed runs after the window has been destroyed (the update check's "closing ends the
    // program" mode).
    BrowserWindow(const std::wstring& startAddress, const std::string& formData, const std::wstring& language,
                  const std::wstring& type, std::function<void()> onClosed = {});
    ~BrowserWindow() override;

    // Every browser window that is open now, oldest first.
    static const std::vector<BrowserWindow*>& OpenWindows();

    wxWebView* Toolbar() const { return toolbar_; }
    wxWebView* Content() const { return content_; }
    const std::wstring& Language() const { return language_; }
    const std::wstring& Type() const { return type_; }
    const std::wstring& CurrentAddress() const { return currentAddress_; }
    const std::wstring& CurrentSearchText() const { return searchText_; }
    bool UsingBuiltInToolbar() const { return builtInToolbar_; }
    bool ToolbarReady() const { return toolbarReady_; }
    const std::vector<ScriptErrorRecord>& ScriptErrors() const { return scriptErrors_; }

    // Focus helpers on the toolbar page.
    void FocusAddress();
    void FocusSearch();

    // What the toolbar page's forms and buttons do (also used by the toolbar's messages).
    void HandleToolbarForm(const std::wstring& action, const std::string& formData);
    void HandleToolbarButton(const std::string& id);

private:
    void OnToolbarNavigating(wxWebViewEvent& event);
    void OnToolbarLoaded(wxWebViewEvent& event);
    void OnToolbarError(wxWebViewEvent& event);
    void OnToolbarMessage(wxWebViewEvent& event);
    void OnContentNavigating(wxWebViewEvent& event);
    void OnContentNavigated(wxWebViewEvent& event);
    void OnContentLoaded(wxWebViewEvent& event);
    void OnContentError(wxWebViewEvent& event);
    void OnContentNewWindow(wxWebViewEvent& event);
    void OnContentMessage(wxWebViewEvent& event);
    void OnTitleChanged(wxWebViewEvent& event);
    void OnClose(wxCloseEvent& event);
    void OnCommand(wxCommandEvent& event);

    void ToolbarLoaded();
    void RefreshToolbar();
    void LoadBuiltInToolbar();
    void ReportNavigationError(const wxString& failedAddress, long long status);
    void Download();

    wxWebView* toolbar_ = nullptr;
    wxWebView* content_ = nullptr;
    std::wstring language_;
    std::wstring type_;
    std::wstring toolbarAddress_;
    std::wstring currentAddress_;
    std::wstring searchText_;
    std::wstring pending_;
    bool hasPending_ = false;
    bool builtInToolbar_ = false;
    bool toolbarFailed_ = false;
    wxString afterErrorPage_;
    wxString failedAddress_;
    wxString failedToolbarAddress_;
    wxTimer errorTimer_;
    bool toolbarReady_ = false;
    std::vector<ScriptErrorRecord> scriptErrors_;
    std::function<void()> onClosed_;
    WindowPlacementKeeper placement_{L"Settings", L"SBPlacement"};
};

// Opens a browser window and shows it. The window has no owner and lives until the user closes it.
BrowserWindow* OpenBrowserWindow(const std::wstring& startAddress, const std::string& formData,
                                 const std::wstring& language, const std::wstring& type,
                                 std::function<void()> onClosed = {});

// Navigates with the form text as the request body (application/x-www-form-urlencoded); empty text
// is a plain navigation. The body is sent by a small script form post in the page.
void NavigateWithPost(wxWebView* browser, const std::wstring& address, const std::string& formData);

// Opens the address in the desktop's default browser; false when that cannot be started.
bool OpenUrlInDefaultBrowser(const std::wstring& address);

// The toolbar page built into the program, used when the site's cannot be loaded.
const char* BuiltInToolbarPage();

}  // namespace quilmer
