#include "web/BrowserWindow.h"

#include "controls/WindowSkin.h"
#include "foundation/FileUtil.h"
#include "foundation/Settings.h"
#include "foundation/Strings.h"
#include "foundation/TextTranslator.h"
#include "update/ProcessStart.h"
#include "web/WebContext.h"
#include "web/core/CompanionDownloader.h"
#include "web/core/WebRules.h"

#include <wx/app.h>
#include <wx/clipbrd.h>
#include <wx/menu.h>
#include <wx/sizer.h>
#include <wx/utils.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>

namespace quilmer {

namespace {

std::vector<BrowserWindow*>& Windows() {
    static std::vector<BrowserWindow*> windows;
    return windows;
}

// "+" and %XX of a form value back to text.
std::wstring DecodeQueryValue(const std::string& value) {
    std::string bytes;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '+') {
            bytes += ' ';
        } else if (value[i] == '%' && i + 2 < value.size() && std::isxdigit(static_cast<unsigned char>(value[i + 1])) &&
                   std::isxdigit(static_cast<unsigned char>(value[i + 2]))) {
            bytes += static_cast<char>(std::stoi(value.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            bytes += value[i];
        }
    }
    return wxString::FromUTF8(bytes).ToStdWstring();
}

bool IsTopFrame(const wxWebViewEvent& event) { return event.GetTarget().empty(); }

std::string FormEncodedToHiddenFields(const std::string& formData) {
    std::string fields;
    std::size_t start = 0;
    while (start <= formData.size()) {
        std::size_t end = formData.find('&', start);
        if (end == std::string::npos) end = formData.size();
        std::string pair = formData.substr(start, end - start);
        std::size_t eq = pair.find('=');
        std::string name = pair.substr(0, eq);
        std::string value = eq == std::string::npos ? std::string() : pair.substr(eq + 1);
        if (!name.empty()) {
            fields += "f.appendChild(Object.assign(document.createElement('input'),{type:'hidden',name:"
                      "decodeURIComponent(" + JsQuote(wxString::FromUTF8(name)) + ".replace(/\\+/g,' ')),value:"
                      "decodeURIComponent(" + JsQuote(wxString::FromUTF8(value)) + ".replace(/\\+/g,' '))}));";
        }
        start = end + 1;
    }
    return fields;
}

}  // namespace

BrowserWindow::BrowserWindow(const std::wstring& startAddress, const std::string& formData,
                             const std::wstring& language, const std::wstring& type, std::function<void()> onClosed)
    : wxFrame(nullptr, wxID_ANY, wxString(Tr(L"- CORVANE Browser"))),
      language_(language.empty() ? L"Chinese Simplified" : language),
      type_(type),
      onClosed_(std::move(onClosed)) {
    Windows().push_back(this);
    AppSettings::Instance().runtimeFlags |= kRuntimeFlag;

    SetClientSize(wxDLG_UNIT(this, wxSize(540, 200)));
    SetWindowStyleFlag(GetWindowStyleFlag() | wxCLIP_CHILDREN);
    // The start address comes from a page or the version descriptor as often as from the program:
    // web addresses only (the content browser's own navigations are held to the same rule below).
    bool start = IsWebAddress(startAddress);
    toolbar_ = CreateHostedWebView(this, kToolbarId);
    content_ = CreateHostedWebView(this, kContentId, false,
                                   formData.empty() && start ? wxString(startAddress)
                                                             : wxString(wxWebViewDefaultURLStr));
    toolbar_->SetMinSize(wxSize(-1, wxDLG_UNIT(this, wxSize(0, 49)).y));
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(toolbar_, 0, wxEXPAND);
    sizer->Add(content_, 1, wxEXPAND);
    SetSizer(sizer);
    Layout();

    toolbar_->Bind(wxEVT_WEBVIEW_NAVIGATING, &BrowserWindow::OnToolbarNavigating, this);
    toolbar_->Bind(wxEVT_WEBVIEW_LOADED, &BrowserWindow::OnToolbarLoaded, this);
    toolbar_->Bind(wxEVT_WEBVIEW_ERROR, &BrowserWindow::OnToolbarError, this);
    toolbar_->Bind(wxEVT_WEBVIEW_SCRIPT_MESSAGE_RECEIVED, &BrowserWindow::OnToolbarMessage, this);
    toolbar_->Bind(wxEVT_WEBVIEW_NEWWINDOW, &BrowserWindow::OnContentNewWindow, this);
    content_->Bind(wxEVT_WEBVIEW_NAVIGATING, &BrowserWindow::OnContentNavigating, this);
    content_->Bind(wxEVT_WEBVIEW_NAVIGATED, &BrowserWindow::OnContentNavigated, this);
    content_->Bind(wxEVT_WEBVIEW_LOADED, &BrowserWindow::OnContentLoaded, this);
    content_->Bind(wxEVT_WEBVIEW_ERROR, &BrowserWindow::OnContentError, this);
    content_->Bind(wxEVT_WEBVIEW_NEWWINDOW, &BrowserWindow::OnContentNewWindow, this);
    content_->Bind(wxEVT_WEBVIEW_SCRIPT_MESSAGE_RECEIVED, &BrowserWindow::OnContentMessage, this);
    content_->Bind(wxEVT_WEBVIEW_TITLE_CHANGED, &BrowserWindow::OnTitleChanged, this);
    Bind(wxEVT_CLOSE_WINDOW, &BrowserWindow::OnClose, this);
    errorTimer_.SetOwner(this);
    Bind(wxEVT_TIMER, [this](wxTimerEvent&) {
        if (toolbarFailed_) {
            toolbarFailed_ = false;
            LoadBuiltInToolbar();
        }
        if (afterErrorPage_.empty()) return;
        wxString target = afterErrorPage_;
        afterErrorPage_.clear();
        content_->LoadURL(target);
    });
    Bind(wxEVT_MENU, &BrowserWindow::OnCommand, this);

    toolbarAddress_ = ToolbarPageAddress(WebSiteAddress(), language_, type_);
    toolbar_->LoadURL(wxString(toolbarAddress_));
    if (start && !formData.empty()) NavigateWithPost(content_, startAddress, formData);
    AttachSkin(this);
    placement_.Restore(this);  // after the skin, as the player windows do
}

BrowserWindow::~BrowserWindow() {
    auto& windows = Windows();
    windows.erase(std::remove(windows.begin(), windows.end(), this), windows.end());
    if (windows.empty()) AppSettings::Instance().runtimeFlags &= ~kRuntimeFlag;
    if (onClosed_) {
        // After the window is gone, as the main program expects.
        auto onClosed = onClosed_;
        wxTheApp->CallAfter([onClosed] { onClosed(); });
    }
}

const std::vector<BrowserWindow*>& BrowserWindow::OpenWindows() { return Windows(); }

void BrowserWindow::OnClose(wxCloseEvent&) {
    errorTimer_.Stop();
    placement_.Save(this);
    ReleaseHostedWebView(toolbar_);
    ReleaseHostedWebView(content_);
    Destroy();
}

// --- toolbar page ---------------------------------------------------------------------------

void BrowserWindow::OnToolbarNavigating(wxWebViewEvent& event) {
    if (!MayNavigateFromPage(event.GetURL().ToStdWstring())) {
        event.Veto();
        return;
    }
    if (!IsTopFrame(event)) return;
    ToolbarDecision d = DecideToolbarNavigation(WebSiteAddress(), event.GetURL().ToStdWstring(), {});
    if (d.cancel) event.Veto();
    if (!d.contentAddress.empty()) content_->LoadURL(wxString(d.contentAddress));
}

void BrowserWindow::HandleToolbarForm(const std::wstring& action, const std::string& formData) {
    ToolbarDecision d = DecideToolbarNavigation(WebSiteAddress(), action, formData);
    if (d.setCurrentAddress) currentAddress_ = d.currentAddress;
    if (d.setPending) {
        pending_ = d.pending;
        hasPending_ = true;
    }
    if (formData.rfind("s=", 0) == 0) {
        // The search text as typed, for the toolbar's search box.
        std::string value = formData.substr(2, formData.find('&') == std::string::npos ? std::string::npos
                                                                                        : formData.find('&') - 2);
        searchText_ = DecodeQueryValue(value);
    }
    if (d.download) Download();
    if (!d.contentAddress.empty()) content_->LoadURL(wxString(d.contentAddress));
    // A form that may go on changes nothing on the toolbar page: the text never left it. The
    // window goes on as after the toolbar page's load.
    if (!d.cancel) ToolbarLoaded();
}

void BrowserWindow::HandleToolbarButton(const std::string& id) {
    if (id == "back_i" && content_->CanGoBack()) content_->GoBack();
    else if (id == "forward_i" && content_->CanGoForward()) content_->GoForward();
    else if (id == "refresh_i") content_->Reload();
    else if (id == "stop_i") content_->Stop();
    else if (id == "download_i") Download();
}

void BrowserWindow::OnToolbarMessage(wxWebViewEvent& event) {
    std::string text(event.GetString().utf8_str());
    ScriptErrorRecord error;
    if (ParseScriptErrorMessage(text, error)) {
        RecordScriptError(scriptErrors_, error);
        return;
    }
    auto doc = nlohmann::json::parse(text, nullptr, false);
    if (!doc.is_object()) return;
    std::string kind = doc.value("kind", "");
    if (kind == "form") {
        HandleToolbarForm(wxString::FromUTF8(doc.value("action", "")).ToStdWstring(), doc.value("data", ""));
    } else if (kind == "ready") {
        RefreshToolbar();
    } else if (kind == "button") {
        HandleToolbarButton(doc.value("id", ""));
    } else if (kind == "contextmenu") {
        std::string name = doc.value("name", "");
        if (name != "address" && name != "s" && name != "q") return;
        wxMenu menu;
        menu.Append(kCopyCommand, wxString(Tr(L"&Copy")));
        menu.Append(kPasteCommand, wxString(Tr(L"&Paste")));
        menu.AppendSeparator();
        if (name == "address") menu.Append(kPasteAndGoCommand, wxString(Tr(L"Paste and go")));
        else menu.Append(kPasteAndSearchCommand, wxString(Tr(L"Paste and search")));
        PopupMenu(&menu);
    }
}

void BrowserWindow::OnToolbarLoaded(wxWebViewEvent& event) {
    if (!IsTopFrame(event)) return;
    if (toolbarFailed_) {
        if (event.GetURL() == failedToolbarAddress_) {
            toolbarFailed_ = false;
            LoadBuiltInToolbar();
        }
        return;
    }
    if (event.GetURL() == "about:blank") return;
    ToolbarLoaded();
}

void BrowserWindow::ToolbarLoaded() {
    toolbarReady_ = true;
    RefreshToolbar();
    if (!hasPending_) return;
    hasPending_ = false;
    std::wstring target = AddressForPending(WebSiteAddress(), currentAddress_, pending_, type_);
    if (target.empty()) return;
    if (!MayNavigateFromPage(target)) {
        // Refused (a local file typed into the address box): the box names the page shown again.
        wxString shown = content_->GetCurrentURL();
        currentAddress_ = shown.StartsWith("about:") ? std::wstring() : shown.ToStdWstring();
        RefreshToolbar();
        return;
    }
    content_->LoadURL(wxString(target));
}

void BrowserWindow::OnToolbarError(wxWebViewEvent& event) {
    if (!IsTopFrame(event) || builtInToolbar_) return;
    if (NavigationErrorCode(event) == 0) return;
    // After WebKit's own error page, which would otherwise replace the built-in page.
    builtInToolbar_ = true;
    toolbarFailed_ = true;
    failedToolbarAddress_ = event.GetURL();
    errorTimer_.StartOnce(1500);
}

void BrowserWindow::LoadBuiltInToolbar() {
    builtInToolbar_ = true;
    toolbar_->SetPage(wxString::FromUTF8(BuiltInToolbarPage()), wxString(toolbarAddress_));
}

void BrowserWindow::RefreshToolbar() {
    bool back = content_->CanGoBack();
    bool forward = content_->CanGoForward();
    std::string js =
        "(function(address,search,back,forward){"
        "var a=document.querySelector('input[name=address]');if(a)a.value=address;"
        "var s=document.querySelector('input[name=s]');if(s)s.value=search;"
        "var b=document.getElementById('back_i');"
        "if(b){if(back&&b.hasAttribute('disabled')){b.removeAttribute('disabled');b.src='ico/back.hot.png';}"
        "else if(!back){b.setAttribute('disabled','disabled');b.src='ico/back_gray.png';}}"
        "var f=document.getElementById('forward_i');"
        "if(f){if(forward){f.removeAttribute('disabled');f.src='ico/forward_hot.png';}"
        "else{f.setAttribute('disabled','disabled');f.src='ico/forward_gray.png';}}})(" +
        JsQuote(wxString(currentAddress_)) + "," + JsQuote(wxString(DecodeEntities(searchText_))) + "," +
        (back ? "true" : "false") + "," + (forward ? "true" : "false") + ")";
    RunPageScript(toolbar_, wxString::FromUTF8(js));
}

void BrowserWindow::FocusAddress() {
    toolbar_->SetFocus();
    RunPageScript(toolbar_, "(function(){var e=document.querySelector('input[name=address]');if(e){e.focus();e.select();}})()");
}

void BrowserWindow::FocusSearch() {
    toolbar_->SetFocus();
    RunPageScript(toolbar_, 
        "(function(){var e=document.querySelector('input[name=q]')||document.getElementById('q');"
        "if(e){e.focus();e.select();}})()");
}

void BrowserWindow::OnCommand(wxCommandEvent& event) {
    switch (event.GetId()) {
        case kCopyCommand:
            // The text is read by the window itself: a page's message never fills the clipboard.
            CopyFocusedInput(toolbar_);
            break;
        case kPasteCommand:
        case kPasteAndGoCommand:
        case kPasteAndSearchCommand: {
            wxString text;
            if (wxTheClipboard->Open()) {
                wxTextDataObject data;
                if (wxTheClipboard->GetData(data)) text = data.GetText();
                wxTheClipboard->Close();
            }
            bool submit = event.GetId() != kPasteCommand;
            RunPageScript(toolbar_, "(function(t,go){var e=document.activeElement;"
                                     "if(!e||e.tagName!=='INPUT')return;e.value=t;"
                                     "if(go&&e.form&&e.form.onsubmit&&e.form.onsubmit()!==false)e.form.submit();})(" +
                                     JsQuote(text) + "," + (submit ? "true" : "false") + ")");
            break;
        }
        case kDownloadCommand:
            Download();
            break;
        default:
            event.Skip();
    }
}

void BrowserWindow::Download() {
    std::wstring program = FindCompanionDownloader();
    // Started detached and reaped in the background: no zombie while the program runs on.
    if (!program.empty() && StartDetachedProcess(program, {})) return;
    content_->LoadURL(wxString(DownloadPageAddress(WebSiteAddress(), language_)));
}

// --- content browser ------------------------------------------------------------------------

void BrowserWindow::OnContentNavigated(wxWebViewEvent& event) {
    if (!IsTopFrame(event)) return;
    wxString url = event.GetURL();
    if (!url.StartsWith("about:")) currentAddress_ = url.ToStdWstring();
    RefreshToolbar();
}

void BrowserWindow::OnContentLoaded(wxWebViewEvent& event) {
    if (!IsTopFrame(event)) return;
    if (!afterErrorPage_.empty() && event.GetURL() == failedAddress_) {
        // WebKit has put its own error page up for the failed address; the maker's replaces it.
        wxString target = afterErrorPage_;
        afterErrorPage_.clear();
        content_->LoadURL(target);
        return;
    }
    RefreshToolbar();
    int status = MainResourceStatus(content_);
    if (status >= 400) ReportNavigationError(event.GetURL(), status);
}

void BrowserWindow::OnContentError(wxWebViewEvent& event) {

    if (!IsTopFrame(event)) return;
    std::wstring target = NavigationErrorAddress(WebSiteAddress(), event.GetURL().ToStdWstring(),
                                                 NavigationErrorCode(event), language_);
    if (target.empty()) return;
    afterErrorPage_ = wxString(target);
    failedAddress_ = event.GetURL();
    // Should WebKit put up no page of its own, the maker's comes anyway.
    errorTimer_.StartOnce(1500);
}

void BrowserWindow::ReportNavigationError(const wxString& failedAddress, long long status) {
    std::wstring target =
        NavigationErrorAddress(WebSiteAddress(), failedAddress.ToStdWstring(), status, language_);
    if (!target.empty()) content_->LoadURL(wxString(target));
}

void BrowserWindow::OnContentNavigating(wxWebViewEvent& event) {
    // Whoever asks (a link, a script, the toolbar's address box, a new-window request): the
    // content browser shows web pages only.
    if (MayNavigateFromPage(event.GetURL().ToStdWstring())) return;
    event.Veto();
    if (!IsTopFrame(event)) return;
    // The address box may name the refused address (typed there): it names the page shown again.
    wxString shown = content_->GetCurrentURL();
    currentAddress_ = shown.StartsWith("about:") ? std::wstring() : shown.ToStdWstring();
    RefreshToolbar();
}

void BrowserWindow::OnContentNewWindow(wxWebViewEvent& event) {
    if (IsWebAddress(event.GetURL().ToStdWstring())) content_->LoadURL(event.GetURL());
}

void BrowserWindow::OnContentMessage(wxWebViewEvent& event) {
    ScriptErrorRecord error;
    if (ParseScriptErrorMessage(std::string(event.GetString().utf8_str()), error)) {
        RecordScriptError(scriptErrors_, error);
    }
}

void BrowserWindow::OnTitleChanged(wxWebViewEvent& event) {
    SetTitle(event.GetString() + " " + wxString(Tr(L"- CORVANE Browser")));
}

// --- free functions -------------------------------------------------------------------------

BrowserWindow* OpenBrowserWindow(const std::wstring& startAddress, const std::string& formData,
                                 const std::wstring& language, const std::wstring& type,
                                 std::function<void()> onClosed) {
    auto* window = new BrowserWindow(startAddress, formData, language, type, std::move(onClosed));
    window->Show();
    return window;
}

void NavigateWithPost(wxWebView* browser, const std::wstring& address, const std::string& formData) {
    if (formData.empty()) {
        browser->LoadURL(wxString(address));
        return;
    }
    std::string page = "<html><body><script>(function(){var f=document.createElement('form');f.method='post';"
                       "f.enctype='application/x-www-form-urlencoded';f.action=" +
                       JsQuote(wxString(address)) + ";" + FormEncodedToHiddenFields(formData) +
                       "document.body.appendChild(f);f.submit();})();</script></body></html>";
    browser->SetPage(wxString::FromUTF8(page), "about:blank");
}

bool OpenUrlInDefaultBrowser(const std::wstring& address) {
    return wxLaunchDefaultBrowser(wxString(address));
}

}  // namespace quilmer
