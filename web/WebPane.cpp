#include "web/WebPane.h"

#include "foundation/TextTranslator.h"
#include "foundation/Version.h"
#include "media/join/JoinReport.h"
#include "web/BrowserWindow.h"
#include "web/WebContext.h"
#include "web/core/WebRules.h"

#include <wx/base64.h>
#include <wx/bitmap.h>
#include <wx/dcmemory.h>
#include <wx/image.h>
#include <wx/mstream.h>
#include <wx/sizer.h>

#include <nlohmann/json.hpp>

namespace quilmer {

namespace {

bool IsTopFrame(const wxWebViewEvent& event) { return event.GetTarget().empty(); }

// The snap page's picture (image 2024): drawn once, kept as a PNG data address.
const std::string& SnapImageSource() {
    static std::string source;
    if (!source.empty()) return source;
    wxBitmap bitmap(320, 90);
    {
        wxMemoryDC dc(bitmap);
        dc.GradientFillLinear(wxRect(0, 0, 320, 90), wxColour(30, 110, 200), wxColour(20, 60, 120), wxDOWN);
        dc.SetTextForeground(*wxWHITE);
        dc.SetFont(wxFontInfo(15).Bold());
        dc.DrawText(wxString(Tr(L"Corvane Quilmer")), 16, 14);
        dc.SetFont(wxFontInfo(10));
        dc.DrawText(wxString(Tr(L"Get the newest version and more software")), 16, 52);
    }
    wxMemoryOutputStream out;
    bitmap.ConvertToImage().SaveFile(out, wxBITMAP_TYPE_PNG);
    std::vector<char> bytes(out.GetSize());
    out.CopyTo(bytes.data(), bytes.size());
    source = "data:image/png;base64," + std::string(wxBase64Encode(bytes.data(), bytes.size()).utf8_str());
    return source;
}

}  // namespace

WebPane::WebPane(wxWindow* parent, wxWindowID browserId, Rules rules, std::function<std::wstring()> startAddress)
    : wxPanel(parent, wxID_ANY), rules_(rules), startAddress_(std::move(startAddress)), refreshTimer_(this) {
    browser_ = CreateHostedWebView(this, browserId);
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(browser_, 1, wxEXPAND);
    SetSizer(sizer);
    browser_->Bind(wxEVT_WEBVIEW_NAVIGATING, &WebPane::OnNavigating, this);
    browser_->Bind(wxEVT_WEBVIEW_LOADED, &WebPane::OnLoaded, this);
    browser_->Bind(wxEVT_WEBVIEW_ERROR, &WebPane::OnError, this);
    browser_->Bind(wxEVT_WEBVIEW_NEWWINDOW, &WebPane::OnNewWindow, this);
    browser_->Bind(wxEVT_WEBVIEW_SCRIPT_MESSAGE_RECEIVED, &WebPane::OnMessage, this);
    snapTimer_.SetOwner(this);
    Bind(wxEVT_TIMER, [this](wxTimerEvent& event) {
        if (event.GetTimer().GetId() == refreshTimer_.GetId()) {
            Restart();
        } else if (snapAfterErrorPage_) {
            snapAfterErrorPage_ = false;
            ShowSnapPage();
        }
    });
    Bind(wxEVT_MENU, [this](wxCommandEvent&) { Restart(); }, kRefreshCommand);
    if (rules_ == Rules::MainWindow) refreshTimer_.Start(kRefreshIntervalMs);
    Restart();
}

WebPane::~WebPane() {
    ReleaseHostedWebView(browser_);
    refreshTimer_.Stop();
    snapTimer_.Stop();
}

void WebPane::Restart() {
    showingSnap_ = false;
    loadingStart_ = startAddress_ ? startAddress_() : std::wstring();
    if (!loadingStart_.empty()) browser_->LoadURL(wxString(loadingStart_));
}

bool WebPane::HandleNavigation(const std::wstring& address, const std::string& formData) {
    // The start page is the program's own request; everything else comes from a page and goes
    // only to web addresses, in the pane and in the browser windows it opens.
    bool ownStart = !loadingStart_.empty() && address == loadingStart_;
    if (rules_ == Rules::MainWindow) {
        PaneDecision d = DecideMainPaneNavigation(WebSiteAddress(), address, formData, WebCurrentLanguage());
        if (d.openBrowser && IsWebAddress(d.browserAddress)) {
            OpenBrowserWindow(d.browserAddress, {}, WebCurrentLanguage(), d.browserType);
        }
        return !d.cancel && (ownStart || MayNavigateFromPage(address));
    }
    if (address == L"about:blank" || ownStart) return true;
    if (IsWebAddress(address)) OpenBrowserWindow(address, {}, WebCurrentLanguage(), L"flv");
    return false;
}

void WebPane::OnNavigating(wxWebViewEvent& event) {
    if (!IsTopFrame(event)) {
        // A frame inside the page may load web pages only.
        if (!MayNavigateFromPage(event.GetURL().ToStdWstring())) event.Veto();
        return;
    }
    if (!HandleNavigation(event.GetURL().ToStdWstring(), {})) event.Veto();
}

void WebPane::OnMessage(wxWebViewEvent& event) {
    std::string text(event.GetString().utf8_str());
    ScriptErrorRecord error;
    if (ParseScriptErrorMessage(text, error)) {
        RecordScriptError(scriptErrors_, error);
        return;
    }
    auto doc = nlohmann::json::parse(text, nullptr, false);
    if (!doc.is_object() || doc.value("kind", "") != "form") return;
    std::wstring action = wxString::FromUTF8(doc.value("action", "")).ToStdWstring();
    std::string data = doc.value("data", "");
    // A form that may go on in the pane goes there as a plain request.
    if (HandleNavigation(action, data)) {
        loadingStart_.clear();
        NavigateWithPost(browser_, action, data);
    }
}

void WebPane::OnLoaded(wxWebViewEvent& event) {
    if (!IsTopFrame(event)) return;
    if (snapAfterErrorPage_ && event.GetURL() == failedAddress_) {
        // WebKit has put its own error page up; the snap page replaces it.
        snapAfterErrorPage_ = false;
        ShowSnapPage();
        return;
    }
    if (showingSnap_) return;
    if (event.GetURL().ToStdWstring() == loadingStart_) loadingStart_.clear();
    if (rules_ == Rules::MainWindow && MainResourceStatus(browser_) >= 400) ShowSnapPage();
}

void WebPane::OnError(wxWebViewEvent& event) {
    if (!IsTopFrame(event) || NavigationErrorCode(event) == 0) return;
    if (rules_ != Rules::MainWindow) return;
    snapAfterErrorPage_ = true;
    failedAddress_ = event.GetURL();
    snapTimer_.StartOnce(1500);
}

void WebPane::OnNewWindow(wxWebViewEvent& event) {
    std::wstring address = event.GetURL().ToStdWstring();
    if (IsWebAddress(address)) OpenBrowserWindow(address, {}, WebCurrentLanguage(), L"flv");
}

void WebPane::ShowSnapPage() {
    showingSnap_ = true;
    loadingStart_.clear();
    browser_->SetPage(wxString::FromUTF8(SnapPage(WebSiteAddress(), SnapImageSource())), "about:blank");
}

std::wstring MainPaneStartAddress() {
    return JoinerPageAddress(WebSiteAddress(), WebCurrentLanguage(), FormatVersion(3));
}

WebPane* MakeMainWebPane(wxWindow* slot) {
    auto* pane = new WebPane(slot, WebPane::kMainPaneId, WebPane::Rules::MainWindow, MainPaneStartAddress);
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(pane, 1, wxEXPAND);
    slot->SetSizer(sizer, true);
    slot->Layout();
    return pane;
}

ReportBrowser::ReportBrowser(wxWindow* mainWindow) {
    browser_ = CreateHostedWebView(mainWindow, kId, false, "about:blank");
    browser_->Hide();
}

ReportBrowser::~ReportBrowser() {
    if (browser_) ReleaseHostedWebView(browser_.get());
}

void ReportBrowser::Report(const std::wstring& address) {
    if (!address.empty() && browser_) browser_->LoadURL(wxString(address));
}

void ReportBrowser::ReportClip(const std::wstring& language, const std::wstring& sourceUrl) {
    Report(JoinReportAddress(WebSiteAddress(), language, sourceUrl));
}

}  // namespace quilmer
