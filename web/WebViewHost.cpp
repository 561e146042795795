#include "web/WebViewHost.h"

#include "web/core/MarkupEscape.h"

#include <wx/clipbrd.h>
#include <wx/log.h>

#include <nlohmann/json.hpp>

#include <dlfcn.h>

namespace quilmer {

namespace {

// WebKitGTK functions reached through the library wx already loaded (the project does not build
// against WebKit's headers). Each is looked up once; a missing one turns its feature off.
template <typename Fn>
Fn WebKitFunction(const char* name) {
    return reinterpret_cast<Fn>(dlsym(RTLD_DEFAULT, name));
}

// Player pages may start their media with sound: the navigation that loads a page is completed
// with an "autoplay allowed" policy. wx decides each navigation first (it may veto it); this
// handler runs after it and only adds the policy to navigations of the page's own files.
int DecideWithAutoplay(void* /*view*/, void* decision, int type, void* /*data*/) {
    if (type != 0) return 0;  // only navigation actions
    using NewPolicies = void* (*)(const char*, ...);
    using UseWith = void (*)(void*, void*);
    using GetAction = void* (*)(void*);
    using GetRequest = void* (*)(void*);
    using GetUri = const char* (*)(void*);
    static auto newPolicies = WebKitFunction<NewPolicies>("webkit_website_policies_new_with_policies");
    static auto useWith = WebKitFunction<UseWith>("webkit_policy_decision_use_with_policies");
    static auto getAction = WebKitFunction<GetAction>("webkit_navigation_policy_decision_get_navigation_action");
    static auto getRequest = WebKitFunction<GetRequest>("webkit_navigation_action_get_request");
    static auto getUri = WebKitFunction<GetUri>("webkit_uri_request_get_uri");
    if (!newPolicies || !useWith || !getAction || !getRequest || !getUri) return 0;
    const char* uri = getUri(getRequest(getAction(decision)));
    if (!uri || std::string(uri).rfind("file://", 0) != 0) return 0;
    void* policies = newPolicies("autoplay", 0 /* WEBKIT_AUTOPLAY_ALLOW */, static_cast<void*>(nullptr));
    useWith(decision, policies);
    using Unref = void (*)(void*);
    static auto unref = WebKitFunction<Unref>("g_object_unref");
    if (unref) unref(policies);
    return 1;
}

void AllowAutoplay(wxWebView* view) {
    using GetSettings = void* (*)(void*);
    using SetBool = void (*)(void*, int);
    using Connect = unsigned long (*)(void*, const char*, void*, void*, void*, int);
    static auto getSettings = WebKitFunction<GetSettings>("webkit_web_view_get_settings");
    static auto setGesture = WebKitFunction<SetBool>("webkit_settings_set_media_playback_requires_user_gesture");
    static auto connect = WebKitFunction<Connect>("g_signal_connect_data");
    void* native = view->GetNativeBackend();
    if (!native) return;
    if (getSettings && setGesture) setGesture(getSettings(native), 0);
    if (connect) connect(native, "decide-policy", reinterpret_cast<void*>(&DecideWithAutoplay), nullptr, nullptr, 0);
}

const char kErrorReporter[] =
    "window.addEventListener('error',function(e){try{window.webkit.messageHandlers.quilmer.postMessage("
    "JSON.stringify({kind:'scripterror',line:e.lineno||0,character:e.colno||0,code:0,"
    "message:String(e.message||''),url:String(e.filename||location.href)}));}catch(x){}"
    "e.preventDefault&&e.preventDefault();return true;},true);";

}  // namespace

wxWebView* CreateHostedWebView(wxWindow* parent, wxWindowID id, bool allowAutoplay, const wxString& url) {
    wxWebView* view = wxWebView::New(parent, id, url);
    view->EnableContextMenu(false);
    view->AddScriptMessageHandler(kMessageHandlerName);
    view->AddUserScript(kErrorReporter, wxWEBVIEW_INJECT_AT_DOCUMENT_START);
    // Not a drop target: WebKit would open a dropped file in place of the page. A drop over the
    // view goes to the window under it instead (the main window's pane takes clips).
    using Unset = void (*)(void*);
    static auto unsetDropTarget = WebKitFunction<Unset>("gtk_drag_dest_unset");
    if (void* native = view->GetNativeBackend(); native && unsetDropTarget) unsetDropTarget(native);
    if (allowAutoplay) AllowAutoplay(view);
    return view;
}

void RunPageScript(wxWebView* view, const wxString& script) {
    using Evaluate = void (*)(void*, const char*, long, const char*, const char*, void*, void*, void*);
    static auto evaluate = WebKitFunction<Evaluate>("webkit_web_view_evaluate_javascript");
    void* native = view ? view->GetNativeBackend() : nullptr;
    if (!native) return;
    if (!evaluate) {
        view->RunScriptAsync(script);
        return;
    }
    wxScopedCharBuffer utf8 = script.utf8_str();
    evaluate(native, utf8.data(), static_cast<long>(utf8.length()), nullptr, nullptr, nullptr, nullptr, nullptr);
}

void ReleaseHostedWebView(wxWebView* view) {
    if (!view) return;
    view->Stop();
    view->RemoveScriptMessageHandler(kMessageHandlerName);
    using Disconnect = unsigned (*)(void*, int, unsigned, unsigned, void*, void*, void*);
    static auto disconnect = WebKitFunction<Disconnect>("g_signal_handlers_disconnect_matched");
    void* native = view->GetNativeBackend();
    if (native && disconnect) {
        // G_SIGNAL_MATCH_DATA: every handler connected with the wx view as its data.
        disconnect(native, 1 << 4, 0, 0, nullptr, nullptr, view);
        disconnect(native, 1 << 3, 0, 0, nullptr, reinterpret_cast<void*>(&DecideWithAutoplay), nullptr);
        // The page's messages arrive through the view's user content manager.
        using GetManager = void* (*)(void*);
        static auto getManager = WebKitFunction<GetManager>("webkit_web_view_get_user_content_manager");
        if (void* manager = getManager ? getManager(native) : nullptr) {
            disconnect(manager, 1 << 4, 0, 0, nullptr, nullptr, view);
        }
    }
}

bool RecordScriptError(std::vector<ScriptErrorRecord>& records, const ScriptErrorRecord& record) {
    bool known = false;
    for (const auto& r : records) known = known || r == record;
    if (!known) records.push_back(record);
    return records.back().continueRunning;
}

bool ParseScriptErrorMessage(const std::string& json, ScriptErrorRecord& record) {
    auto doc = nlohmann::json::parse(json, nullptr, false);
    if (!doc.is_object() || doc.value("kind", "") != "scripterror") return false;
    record.line = doc.value("line", 0);
    record.character = doc.value("character", 0);
    record.code = doc.value("code", 0);
    record.message = wxString::FromUTF8(doc.value("message", "")).ToStdWstring();
    record.address = wxString::FromUTF8(doc.value("url", "")).ToStdWstring();
    return true;
}

int MainResourceStatus(wxWebView* view) {
    using GetResource = void* (*)(void*);
    using GetStatus = unsigned (*)(void*);
    static auto getResource = WebKitFunction<GetResource>("webkit_web_view_get_main_resource");
    static auto getResponse = WebKitFunction<GetResource>("webkit_web_resource_get_response");
    static auto getStatus = WebKitFunction<GetStatus>("webkit_uri_response_get_status_code");
    void* native = view ? view->GetNativeBackend() : nullptr;
    if (!native || !getResource || !getResponse || !getStatus) return 0;
    void* resource = getResource(native);
    void* response = resource ? getResponse(resource) : nullptr;
    return response ? static_cast<int>(getStatus(response)) : 0;
}

long long NavigationErrorCode(const wxWebViewEvent& event) {
    // WebKit reports loads it dropped itself (a newer load, a vetoed navigation) as errors too.
    wxString text = event.GetString().Lower();
    if (text.Contains("cancelled") || text.Contains("interrupted")) return 0;
    switch (static_cast<wxWebViewNavigationError>(event.GetInt())) {
        case wxWEBVIEW_NAV_ERR_USER_CANCELLED:
            return 0;
        case wxWEBVIEW_NAV_ERR_NOT_FOUND:
            return 404;
        case wxWEBVIEW_NAV_ERR_AUTH:
            return 401;
        case wxWEBVIEW_NAV_ERR_REQUEST:
            return 400;
        case wxWEBVIEW_NAV_ERR_CERTIFICATE:
        case wxWEBVIEW_NAV_ERR_SECURITY:
            return 0x800C0019LL;  // invalid certificate
        case wxWEBVIEW_NAV_ERR_CONNECTION:
            return 0x800C0004LL;  // cannot connect
        case wxWEBVIEW_NAV_ERR_OTHER:
        default:
            return 0x800C0005LL;  // resource not found
    }
}

namespace {

// "input:<value>" when the page's own focused element is a text input, "frame" when the focus is
// inside a frame, else "".
wxString FocusedInput(wxWebView* view) {
    wxLogNull quiet;  // a page that refuses scripts is an empty answer
    wxString answer;
    if (!view->RunScript("(function(){var e=document.activeElement;if(!e)return '';"
                         "if(e.tagName==='INPUT')return 'input:'+e.value;"
                         "return (e.tagName==='IFRAME'||e.tagName==='FRAME')?'frame':'';})()",
                         &answer))
        return {};
    return answer;
}

}  // namespace

void CopyFocusedInput(wxWebView* view) {
    wxString focused = FocusedInput(view);
    if (focused.StartsWith("input:")) {
        if (wxTheClipboard->Open()) {
            wxTheClipboard->SetData(new wxTextDataObject(focused.Mid(6)));
            wxTheClipboard->Close();
        }
    } else if (focused == "frame") {
        view->Copy();
    }
}

void PasteIntoFocusedInput(wxWebView* view) {
    wxString focused = FocusedInput(view);
    if (focused.StartsWith("input:")) {
        wxString text;
        if (wxTheClipboard->Open()) {
            wxTextDataObject data;
            if (wxTheClipboard->GetData(data)) text = data.GetText();
            wxTheClipboard->Close();
        }
        RunPageScript(view, "(function(t){var e=document.activeElement;if(e&&e.tagName==='INPUT')e.value=t;})(" +
                                JsQuote(text) + ")");
    } else if (focused == "frame") {
        view->Paste();
    }
}

std::string JsQuote(const wxString& text) { return ScriptStringLiteral(std::string(text.utf8_str())); }

}  // namespace quilmer
