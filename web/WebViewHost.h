#pragma once
// What every web view of the program shares: the message handler "quilmer" the pages talk to the
// program through, quiet script errors kept as records, the HTTP status of a loaded page, and the
// playback policy of the player pages.

#include <wx/webview.h>

#include <string>
#include <vector>

namespace quilmer {

struct ScriptErrorRecord {
    int line = 0;
    int character = 0;
    int code = 0;
    std::wstring message;
    std::wstring address;
    bool continueRunning = true;
    bool operator==(const ScriptErrorRecord& o) const {
        return line == o.line && character == o.character && code == o.code && message == o.message &&
               address == o.address;
    }
};

// The name of the page-side message handler: window.webkit.messageHandlers.quilmer.postMessage().
inline constexpr const char* kMessageHandlerName = "quilmer";

// A web view with the program's set-up: not a drop target, no browser context menu of its own, the message handler,
// and a script that hands every script error of the page to the handler instead of showing it.
// allowAutoplay: media may start with sound without a click (player pages).
wxWebView* CreateHostedWebView(wxWindow* parent, wxWindowID id, bool allowAutoplay = false,
                               const wxString& url = wxWebViewDefaultURLStr);

// Before a hosted view goes: no more messages, loads or signals reach the window (WebKit may still
// deliver a page's message after the view's window has been destroyed).
void ReleaseHostedWebView(wxWebView* view);

// Runs a script in the page without waiting for or reading its result. (A result callback could
// arrive after the view has gone; this one never calls back.)
void RunPageScript(wxWebView* view, const wxString& script);

// Adds the record unless an equal one is listed; returns the continue flag of the last record.
bool RecordScriptError(std::vector<ScriptErrorRecord>& records, const ScriptErrorRecord& record);

// Reads a {"kind":"scripterror",...} message into a record; false for other messages.
bool ParseScriptErrorMessage(const std::string& json, ScriptErrorRecord& record);

// The HTTP status of the page the view shows now (0 when unknown or not HTTP).
int MainResourceStatus(wxWebView* view);

// A status-like code for a failed navigation: 0 for navigations that were only cancelled.
long long NavigationErrorCode(const wxWebViewEvent& event);

// The program's own Copy and Paste commands on the focused text input of the page. An input of the
// page itself is read and written directly; one inside a frame of another site cannot be, so
// there the browser copies the frame's selection (the right click that opens the program's menu
// selects the input's text) or pastes over it. No page script takes part: pages never reach the
// clipboard.
void CopyFocusedInput(wxWebView* view);
void PasteIntoFocusedInput(wxWebView* view);

// Escapes text for a single-quoted JavaScript string literal.
std::string JsQuote(const wxString& text);

}  // namespace quilmer
