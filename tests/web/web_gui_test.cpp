// The browser window, the web panes and the report browser in the real WebKit, against the maker's
// site served by nginx on loopback.

#include "WebTestSupport.h"

#include "foundation/FileUtil.h"
#include "foundation/Settings.h"
#include "web/BrowserWindow.h"
#include "web/PlayerWindow.h"
#include "web/WebPane.h"
#include "web/WebViewHost.h"

#include <gtest/gtest.h>
#include <wx/clipbrd.h>
#include <wx/frame.h>
#include <wx/sizer.h>

#include <cstdlib>

namespace quilmer {
namespace {

using test::PaneFrame;

using test::Eval;
using test::PumpEvents;
using test::PumpUntil;
using test::Site;
using test::WaitForPage;
using test::SiteWide;

std::string Url(wxWebView* view) { return Eval(view, "location.href"); }

void CloseAll() {
    for (BrowserWindow* w : std::vector<BrowserWindow*>(BrowserWindow::OpenWindows())) w->Close(true);
    test::Settle();
}

BrowserWindow* NewestBrowser() {
    const auto& all = BrowserWindow::OpenWindows();
    return all.empty() ? nullptr : all.back();
}

// Submits a form of the toolbar page as a user does (its submit handler runs).
void SubmitToolbarForm(BrowserWindow* w, const std::string& inputName, const std::string& text) {
    Eval(w->Toolbar(), "(function(){var e=document.querySelector('input[name=" + inputName + "]');e.value=" +
                           JsQuote(wxString::FromUTF8(text)) + ";e.form.requestSubmit();return 'ok';})()");
}


TEST(MainWebPane, StartsOnTheJoinerPageWithLanguageAndVersionAndLinksOpenBrowserWindows) {
    PaneFrame f;
    wxWebView* view = f.pane->Browser();
    ASSERT_TRUE(WaitForPage(view, Site().base + "/api_joiner.php"));
    EXPECT_EQ(Url(view), Site().base + "/api_joiner.php?lang=English&type=joiner&ver=v1.9");
    EXPECT_EQ(Eval(view, "document.getElementById('lang').textContent"), "English");
    EXPECT_EQ(Eval(view, "document.getElementById('ver').textContent"), "v1.9");
    EXPECT_EQ(view->GetId(), WebPane::kMainPaneId);
    test::Screenshot(f.frame, "main-web-pane");

    // A link of the pane opens a browser window on its target; the pane stays on its page.
    Eval(view, "document.getElementById('help_link').click()");
    ASSERT_TRUE(PumpUntil([] { return NewestBrowser() != nullptr; }));
    BrowserWindow* help = NewestBrowser();
    ASSERT_TRUE(WaitForPage(help->Content(), Site().base + "/api_help.php"));
    EXPECT_EQ(Url(help->Content()), Site().base + "/api_help.php?lang=English&type=joiner");
    EXPECT_EQ(help->Type(), L"flv");
    PumpEvents(300);
    EXPECT_EQ(Url(view), Site().base + "/api_joiner.php?lang=English&type=joiner&ver=v1.9");
    CloseAll();

    // The pane's search form: a browser window on the search page, "s=" turned into "q=".
    Eval(view, "var e=document.getElementById('search_f');e.value='cats';e.form.requestSubmit();1");
    ASSERT_TRUE(PumpUntil([] { return NewestBrowser() != nullptr; }));
    BrowserWindow* search = NewestBrowser();
    ASSERT_TRUE(WaitForPage(search->Content(), Site().base + "/video_search.php"));
    EXPECT_EQ(Url(search->Content()), Site().base + "/video_search.php?q=cats&type=flv&lang=English");
    EXPECT_EQ(Eval(search->Content(), "document.getElementById('query').textContent"), "cats");
    CloseAll();

    // The pseudo-scheme is swallowed, about:blank is allowed.
    EXPECT_FALSE(f.pane->HandleNavigation(L"corvane:play=1/>", {}));
    EXPECT_TRUE(f.pane->HandleNavigation(L"about:blank", {}));
    EXPECT_TRUE(BrowserWindow::OpenWindows().empty());

    // Command 2007 starts the page again.
    Eval(view, "document.body.setAttribute('data-old','1');1");
    wxCommandEvent refresh(wxEVT_MENU, WebPane::kRefreshCommand);
    f.pane->GetEventHandler()->ProcessEvent(refresh);
    ASSERT_TRUE(PumpUntil([&] { return Eval(view, "document.body.getAttribute('data-old')") != "1" &&
                                       Eval(view, "document.readyState") == "complete"; }));
    EXPECT_EQ(Eval(view, "document.getElementById('ver').textContent"), "v1.9");
}

TEST(BrowserWindowTest, ToolbarAddressSearchBackForwardAndTitle) {
    BrowserWindow* w = OpenBrowserWindow(SiteWide() + L"/download.php", {}, L"English", L"flv");
    EXPECT_TRUE(AppSettings::Instance().runtimeFlags & BrowserWindow::kRuntimeFlag);
    ASSERT_TRUE(WaitForPage(w->Toolbar(), Site().base + "/api_iebar3.php?lang=English&type=flv"));
    ASSERT_TRUE(WaitForPage(w->Content(), Site().base + "/download.php"));
    ASSERT_TRUE(PumpUntil([&] { return w->GetTitle() == "Download - CORVANE Browser"; })) << w->GetTitle();
    EXPECT_FALSE(w->UsingBuiltInToolbar());
    ASSERT_TRUE(PumpUntil([&] {
        return Eval(w->Toolbar(), "document.querySelector('input[name=address]').value") == Site().base + "/download.php";
    }));
    EXPECT_EQ(Eval(w->Toolbar(), "document.getElementById('back_i').hasAttribute('disabled')"), "true");

    // Address entry.
    SubmitToolbarForm(w, "address", Site().base + "/soft.php?type=typed");
    ASSERT_TRUE(WaitForPage(w->Content(), Site().base + "/soft.php?type=typed"));
    EXPECT_EQ(Eval(w->Content(), "document.getElementById('type').textContent"), "typed");
    ASSERT_TRUE(PumpUntil([&] {
        return Eval(w->Toolbar(), "document.getElementById('back_i').getAttribute('src')") == "ico/back.hot.png";
    }));
    EXPECT_EQ(Eval(w->Toolbar(), "document.getElementById('back_i').hasAttribute('disabled')"), "false");
    EXPECT_EQ(Eval(w->Toolbar(), "document.getElementById('forward_i').getAttribute('src')"), "ico/forward_gray.png");

    // Search: "s=" becomes "q=" on the search page.
    SubmitToolbarForm(w, "s", "funny cats");
    ASSERT_TRUE(WaitForPage(w->Content(), Site().base + "/video_search.php"));
    EXPECT_EQ(Url(w->Content()), Site().base + "/video_search.php?q=funny+cats&type=flv");
    EXPECT_EQ(Eval(w->Content(), "document.getElementById('query').textContent"), "funny cats");
    EXPECT_EQ(w->CurrentSearchText(), L"funny cats");
    test::Screenshot(w, "browser-window");

    // Back and forward through the toolbar's images.
    Eval(w->Toolbar(), "document.getElementById('back_i').click();1");
    ASSERT_TRUE(WaitForPage(w->Content(), Site().base + "/soft.php?type=typed"));
    ASSERT_TRUE(PumpUntil([&] {
        return Eval(w->Toolbar(), "document.getElementById('forward_i').getAttribute('src')") == "ico/forward_hot.png";
    }));
    Eval(w->Toolbar(), "document.getElementById('forward_i').click();1");
    ASSERT_TRUE(WaitForPage(w->Content(), Site().base + "/video_search.php"));

    // The toolbar's "Paste and go" on the focused address box.
    if (wxTheClipboard->Open()) {
        wxTheClipboard->SetData(new wxTextDataObject(wxString::FromUTF8(Site().base + "/soft.php?type=pasted")));
        wxTheClipboard->Close();
    }
    Eval(w->Toolbar(), "document.querySelector('input[name=address]').focus();1");
    wxCommandEvent pasteAndGo(wxEVT_MENU, BrowserWindow::kPasteAndGoCommand);
    w->GetEventHandler()->ProcessEvent(pasteAndGo);
    ASSERT_TRUE(WaitForPage(w->Content(), Site().base + "/soft.php?type=pasted"));

    // A bare word in the address box is a search on the site.
    SubmitToolbarForm(w, "address", "kittens");
    ASSERT_TRUE(WaitForPage(w->Content(), Site().base + "/search?q=kittens&type=flv&cate=sb"));

    CloseAll();
    EXPECT_FALSE(AppSettings::Instance().runtimeFlags & BrowserWindow::kRuntimeFlag);
}

TEST(BrowserWindowTest, NavigationErrorsLandOnTheErrorPageAndScriptErrorsStayQuiet) {
    BrowserWindow* w = OpenBrowserWindow(SiteWide() + L"/missing.php", {}, L"", L"flv");
    // No language: the toolbar asks for the default one.
    ASSERT_TRUE(WaitForPage(w->Toolbar(), Site().base + "/api_iebar3.php?lang=Chinese%20Simplified&type=flv"))
        << Url(w->Toolbar());
    ASSERT_TRUE(WaitForPage(w->Content(), Site().base + "/naverr.php"));
    EXPECT_EQ(Eval(w->Content(), "document.getElementById('errorid').textContent"), "404");
    EXPECT_EQ(Eval(w->Content(), "document.getElementById('url').textContent"), Site().base + "/missing.php");

    // Nobody listening: the connection error code.
    std::string dead = "http://127.0.0.1:" + std::to_string(test::ClosedPort()) + "/x";
    w->Content()->LoadURL(dead);
    ASSERT_TRUE(PumpUntil([&] {
        return Url(w->Content()).rfind(Site().base + "/naverr.php", 0) == 0 &&
               Eval(w->Content(), "document.getElementById('url').textContent") == dead;
    })) << Url(w->Content());
    EXPECT_EQ(Eval(w->Content(), "document.getElementById('errorid').textContent"), "-2146697211");

    // The same script error twice is one record; nothing is shown.
    size_t windows = wxTopLevelWindows.size();
    for (int i = 0; i < 2; ++i) {
        w->Content()->LoadURL(Site().base + "/soft.php?type=err");
        ASSERT_TRUE(WaitForPage(w->Content(), Site().base + "/soft.php?type=err"));
        Eval(w->Content(), "setTimeout(function(){ notDefinedAnywhere(); }, 0);1");
        PumpEvents(300);
    }
    ASSERT_TRUE(PumpUntil([&] { return !w->ScriptErrors().empty(); }));
    EXPECT_EQ(w->ScriptErrors().size(), 1u);
    EXPECT_NE(w->ScriptErrors()[0].message.find(L"notDefinedAnywhere"), std::wstring::npos);
    EXPECT_EQ(wxTopLevelWindows.size(), windows);
    CloseAll();
}

TEST(BrowserWindowTest, DownloadWithoutTheCompanionOpensTheDownloadPageInTheWindowsLanguage) {
    SettingsStore::Instance().WriteString(L"Companion", L"AppPath", nullptr);
    // A pack's name is its file's name: whatever it holds stays inside the one value.
    BrowserWindow* w = OpenBrowserWindow(SiteWide() + L"/download.php", {}, L"Pack & Co", L"flv");
    ASSERT_TRUE(WaitForPage(w->Content(), Site().base + "/download.php"));
    wxCommandEvent download(wxEVT_MENU, BrowserWindow::kDownloadCommand);
    w->ProcessWindowEvent(download);
    ASSERT_TRUE(WaitForPage(w->Content(), Site().base + "/soft.php?type=flv&lang=Pack%20%26%20Co"))
        << Url(w->Content());
    test::Screenshot(w, "browser-window-download-page");
    CloseAll();
}

TEST(SiteDown, SnapPageInThePaneAndBuiltInToolbarThatStillBrowses) {
    std::string live = Site().base;
    std::string down = "http://127.0.0.1:" + std::to_string(test::ClosedPort());
    setenv("QUILMER_SITE_URL", down.c_str(), 1);
    {
        PaneFrame f;
        ASSERT_TRUE(PumpUntil([&] { return f.pane->ShowingSnapPage() &&
                                           Eval(f.pane->Browser(), "document.getElementById('snap') ? 'yes' : 'no'") == "yes"; }));
        EXPECT_EQ(Eval(f.pane->Browser(), "document.getElementById('snap').parentNode.getAttribute('href')"),
                  down + "/download.php");
        EXPECT_EQ(Eval(f.pane->Browser(), "document.getElementById('snap').naturalWidth > 0"), "true");
        test::Screenshot(f.frame, "main-web-pane-snap");
    }

    BrowserWindow* w = OpenBrowserWindow(WidePath(live) + L"/download.php", {}, L"English", L"flv");
    ASSERT_TRUE(PumpUntil([&] { return w->UsingBuiltInToolbar() && w->ToolbarReady(); }));
    ASSERT_TRUE(PumpUntil([&] { return Eval(w->Toolbar(), "document.getElementById('back_i') ? 'yes' : 'no'") == "yes"; }));
    for (const char* id : {"address", "q", "back_i", "forward_i", "refresh_i", "stop_i", "youku_i", "download_i"}) {
        EXPECT_EQ(Eval(w->Toolbar(), std::string("(document.getElementById('") + id + "') ? 'yes' : 'no')"), "yes") << id;
    }
    ASSERT_TRUE(WaitForPage(w->Content(), live + "/download.php"));
    SubmitToolbarForm(w, "address", live + "/soft.php?type=offline");
    ASSERT_TRUE(WaitForPage(w->Content(), live + "/soft.php?type=offline"));
    Eval(w->Toolbar(), "document.getElementById('back_i').click();1");
    ASSERT_TRUE(WaitForPage(w->Content(), live + "/download.php"));
    Eval(w->Toolbar(), "document.getElementById('forward_i').click();1");
    ASSERT_TRUE(WaitForPage(w->Content(), live + "/soft.php?type=offline"));
    Eval(w->Content(), "document.body.setAttribute('data-old','1');1");
    Eval(w->Toolbar(), "document.getElementById('refresh_i').click();1");
    ASSERT_TRUE(PumpUntil([&] { return Eval(w->Content(), "document.body && document.body.getAttribute('data-old')") == "null" &&
                                       Eval(w->Content(), "document.readyState") == "complete"; }));
    test::Screenshot(w, "browser-window-built-in-toolbar");
    CloseAll();
    setenv("QUILMER_SITE_URL", live.c_str(), 1);
}

TEST(ReportBrowserTest, ReportsReachTheSiteQuietly) {
    wxFrame* frame = new wxFrame(nullptr, wxID_ANY, "main");
    frame->Show();
    ReportBrowser reports(frame);
    EXPECT_FALSE(reports.Browser()->IsShown());
    EXPECT_EQ(reports.Browser()->GetId(), ReportBrowser::kId);
    reports.ReportClip(L"Chinese Simplified", L"http://v.example/a b.flv");
    std::string log = Site().runtime + "/reports.log";
    ASSERT_TRUE(PumpUntil([&] {
        return test::ReadText(log).find("GET /api_joinerlog.php?lang=Chinese%20Simplified&url=http://v.example/a%20b.flv ") !=
               std::string::npos;
    })) << test::ReadText(log);
    frame->Destroy();
    PumpEvents(50);
}

}  // namespace
}  // namespace quilmer
