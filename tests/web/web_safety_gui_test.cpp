// What pages cannot do in the program's windows, in the real WebKit: a crafted clip name stays a
// value in the player page, pages reach web addresses only, only the program's own Copy command
// fills the clipboard, and a file dropped on a web view does not replace its page.

#include "WebTestSupport.h"

#include "foundation/FileUtil.h"
#include "foundation/Utf8.h"
#include "web/BrowserWindow.h"
#include "web/PlayerWindow.h"
#include "web/WebPane.h"
#include "web/WebViewHost.h"

#include <gtest/gtest.h>
#include <wx/clipbrd.h>
#include <wx/frame.h>
#include <wx/sizer.h>
#include <wx/uiaction.h>

#include <filesystem>
#include <fstream>

namespace quilmer {
namespace {

using test::PaneFrame;

namespace fs = std::filesystem;
using test::Eval;
using test::PumpEvents;
using test::PumpUntil;
using test::Site;
using test::WaitForPage;

std::string Url(wxWebView* view) { return Eval(view, "location.href"); }

// A link of the page that opens its target in a new window, clicked.
std::string OpenInNewWindow(const std::string& address) {
    return "(function(){var a=document.createElement('a');a.href=" + JsQuote(wxString::FromUTF8(address)) +
           ";a.target='_blank';a.textContent='x';document.body.appendChild(a);a.click();return 'ok';})()";
}

void SetClipboard(const std::string& text) {
    if (wxTheClipboard->Open()) {
        wxTheClipboard->SetData(new wxTextDataObject(wxString::FromUTF8(text)));
        wxTheClipboard->Close();
    }
}

std::string Clipboard() {
    wxString text;
    if (wxTheClipboard->Open()) {
        wxTextDataObject data;
        if (wxTheClipboard->GetData(data)) text = data.GetText();
        wxTheClipboard->Close();
    }
    return std::string(text.utf8_str());
}

void SendMenu(wxWindow* window, int id) {
    wxCommandEvent event(wxEVT_MENU, id);
    event.SetEventObject(window);
    window->GetEventHandler()->ProcessEvent(event);
}

class WebSafety : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/quilmer-web-safety-XXXXXX";
        folder_ = mkdtemp(pattern);
        // A local page a remote page must not be able to show.
        secret_ = folder_ + "/secret.html";
        std::ofstream(secret_) << "<html><head><title>SECRET</title></head><body id='secret'>secret</body></html>";
    }
    void TearDown() override {
        for (BrowserWindow* w : std::vector<BrowserWindow*>(BrowserWindow::OpenWindows())) w->Close(true);
        for (wxWindow* w : wxTopLevelWindows)
            if (auto* p = dynamic_cast<PlayerWindow*>(w)) p->Close(true);
        test::Settle();
        std::error_code ec;
        fs::remove_all(folder_, ec);
    }
    // A clip file (its content does not matter to the page) at path.
    std::wstring Clip(const std::string& path) {
        fs::create_directories(fs::path(path).parent_path());
        std::ofstream(path) << "not really a clip";
        return WidePath(path);
    }
    // No browser window shows the secret page, and no view of one is on a local file.
    bool SecretShown() {
        for (BrowserWindow* w : BrowserWindow::OpenWindows()) {
            if (w->GetTitle().Contains("SECRET")) return true;
            for (wxWebView* v : {w->Content(), w->Toolbar()})
                if (Url(v).rfind("file:", 0) == 0 || v->GetCurrentURL().StartsWith("file:")) return true;
        }
        return false;
    }
    std::string folder_;
    std::string secret_;
};

TEST_F(WebSafety, CraftedClipNamesStayValuesOfThePlayerPages) {
    // Both quotes, a script end tag across the folder and the name, markup with handlers, and a
    // byte that is not UTF-8.
    const std::string dir = folder_ + "/a\"'><img src=x onerror=\"document.title='owned'\"><";
    const std::string name = "script><img src=y onerror=document.title='owned2'>\xff";
    for (const char* ending : {".wmv", ".rm"}) {
        SCOPED_TRACE(ending);
        std::wstring clip = Clip(dir + "/" + name + ending);
        PlayerWindow* w = OpenPlayer(clip);
        ASSERT_NE(w, nullptr);
        ASSERT_TRUE(PumpUntil([&] { return w->PageLoaded(); }));
        ASSERT_TRUE(WaitForPage(w->Browser(), "file://"));
        EXPECT_TRUE(IsValidUtf8(w->PageText()));
        PumpEvents(300);
        EXPECT_EQ(Eval(w->Browser(), "document.title.indexOf('owned')"), "-1");
        EXPECT_EQ(Eval(w->Browser(), "String(document.querySelectorAll('img').length)"), "0");
        // The page as written, parsed by the view: no element of the name's, the whole path one value.
        std::string parse = "new DOMParser().parseFromString(" + JsQuote(wxString::FromUTF8(w->PageText())) +
                            ",'text/html')";
        EXPECT_EQ(Eval(w->Browser(), "String(" + parse + ".querySelectorAll('img,script').length)"), "0");
        std::string selector = ChoosePlayer(clip) == PlayerKind::WindowsMedia ? "param[name=URL]" : "param[name=SRC]";
        std::string value = Eval(w->Browser(), parse + ".querySelector('" + selector + "').getAttribute('value')");
        EXPECT_EQ(value.rfind(dir + "/" + name.substr(0, name.size() - 1), 0), 0u) << value;
        if (std::string(ending) == ".wmv") test::Screenshot(w, "player-crafted-clip-name");
        w->Close(true);
        test::Settle();
    }
}


TEST_F(WebSafety, RemotePagesOpenWebAddressesOnly) {
    const std::string local = "file://" + secret_;
    {
        PaneFrame f;
        wxWebView* pane = f.pane->Browser();
        ASSERT_TRUE(WaitForPage(pane, Site().base + "/api_joiner.php"));
        // A new window, a "hid=" link and a plain navigation of the pane's page.
        Eval(pane, OpenInNewWindow(local));
        Eval(pane, "quilmer.open('" + local + "');1");
        Eval(pane, "location.href='" + local + "';1");
        PumpEvents(1500);
        EXPECT_TRUE(BrowserWindow::OpenWindows().empty()) << Url(BrowserWindow::OpenWindows().front()->Content());
        EXPECT_FALSE(SecretShown());
        EXPECT_EQ(Url(pane).rfind(Site().base + "/api_joiner.php", 0), 0u) << Url(pane);
        // Web addresses still open.
        Eval(pane, "quilmer.open('" + Site().base + "/soft.php?type=hid');1");
        ASSERT_TRUE(PumpUntil([] { return !BrowserWindow::OpenWindows().empty(); }));
        EXPECT_TRUE(WaitForPage(BrowserWindow::OpenWindows().back()->Content(), Site().base + "/soft.php?type=hid"));
    }

    BrowserWindow* w = OpenBrowserWindow(WidePath(Site().base) + L"/download.php", {}, L"English", L"flv");
    ASSERT_TRUE(WaitForPage(w->Content(), Site().base + "/download.php"));
    ASSERT_TRUE(PumpUntil([&] { return w->ToolbarReady(); }));
    // The content page opens a window on a local file; the toolbar's address box names one.
    Eval(w->Content(), OpenInNewWindow(local));
    PumpEvents(800);
    Eval(w->Toolbar(), "(function(){var e=document.querySelector('input[name=address]');e.value=" +
                           JsQuote(wxString::FromUTF8(local)) + ";e.form.requestSubmit();return 'ok';})()");
    PumpEvents(1500);
    EXPECT_FALSE(SecretShown());
    EXPECT_EQ(Url(w->Content()), Site().base + "/download.php");
    // The address box names the page shown again, not the refused address.
    EXPECT_TRUE(PumpUntil([&] {
        return Eval(w->Toolbar(), "document.querySelector('input[name=address]').value") == Site().base + "/download.php";
    })) << Eval(w->Toolbar(), "document.querySelector('input[name=address]').value");
    test::Screenshot(w, "browser-window-refuses-local-file");
    // A browser window opened on a local address (a version descriptor's tip page) shows nothing.
    BrowserWindow* tip = OpenBrowserWindow(WidePath(local), {}, L"English", L"flv");
    PumpEvents(1500);
    EXPECT_NE(Url(tip->Content()).rfind("file:", 0), 0u);
    EXPECT_FALSE(SecretShown());

    // A player page cannot be replaced by another local file either.
    PlayerWindow* player = OpenPlayer(Clip(folder_ + "/clip.flv"));
    ASSERT_TRUE(PumpUntil([&] { return player->PageLoaded(); }));
    ASSERT_TRUE(WaitForPage(player->Browser(), "file://"));
    std::string page = Url(player->Browser());
    Eval(player->Browser(), "location.href='" + local + "';1");
    PumpEvents(1500);
    EXPECT_EQ(Url(player->Browser()), page);
    EXPECT_EQ(Eval(player->Browser(), "document.getElementById('secret') ? 'shown' : 'no'"), "no");
}

TEST_F(WebSafety, OnlyTheProgramsCopyCommandWritesTheClipboard) {
    PlayerWindow* player = OpenPlayer(Clip(folder_ + "/clip.flv"));
    ASSERT_TRUE(PumpUntil([&] { return player->PageLoaded(); }));
    ASSERT_TRUE(WaitForPage(player->Browser(), "file://"));
    // A page's own "copy" message, from the page and from a frame in it.
    SetClipboard("the user's text");
    Eval(player->Browser(), "window.webkit.messageHandlers.quilmer.postMessage("
                            "JSON.stringify({kind:'copy',text:'planted by the page'}));1");
    Eval(player->Browser(), "var f=document.createElement('iframe');f.srcdoc=\"<script>window.webkit.messageHandlers."
                            "quilmer.postMessage(JSON.stringify({kind:'copy',text:'planted by a frame'}))</scr\"+\"ipt>\";"
                            "document.body.appendChild(f);1");
    PumpEvents(1000);
    EXPECT_EQ(Clipboard(), "the user's text");

    // The context menu's "&Copy" on a focused text input.
    Eval(player->Browser(), "var i=document.createElement('input');i.type='text';i.value='chosen words';"
                            "document.body.appendChild(i);i.focus();i.select();1");
    SendMenu(player, PlayerWindow::kCopyCommand);
    ASSERT_TRUE(PumpUntil([] { return Clipboard() == "chosen words"; }, 5000)) << Clipboard();
    test::Screenshot(player, "player-copy-command");

    // An input of the site's search bar (a frame of another origin): typed into, selected, copied
    // and pasted over through the menu commands.
    ASSERT_TRUE(PumpUntil([&] { return Eval(player->Browser(), "document.getElementById('playbar') ? 'y' : ''") == "y"; }));
    PumpEvents(1000);  // the bar's page loads
    player->Raise();
    // The bar's text box sits right of its "Find videos:" label, at the top of the page.
    wxUIActionSimulator sim;
    wxPoint box = player->Browser()->GetScreenPosition() + wxPoint(150, 19);
    sim.MouseMove(box);
    PumpEvents(100);
    sim.MouseClick();
    PumpEvents(300);
    sim.Text("frame words");
    PumpEvents(300);
    sim.Char('a', wxMOD_CONTROL);
    PumpEvents(300);
    ASSERT_EQ(Eval(player->Browser(), "document.activeElement.tagName"), "IFRAME");
    SendMenu(player, PlayerWindow::kCopyCommand);
    ASSERT_TRUE(PumpUntil([] { return Clipboard() == "frame words"; }, 5000)) << Clipboard();
    SetClipboard("pasted words");
    sim.Char('a', wxMOD_CONTROL);
    PumpEvents(200);
    SendMenu(player, PlayerWindow::kPasteCommand);
    PumpEvents(500);
    SetClipboard("something else");
    sim.Char('a', wxMOD_CONTROL);
    PumpEvents(200);
    SendMenu(player, PlayerWindow::kCopyCommand);
    ASSERT_TRUE(PumpUntil([] { return Clipboard() == "pasted words"; }, 5000)) << Clipboard();

    // "&Copy" of the browser window's toolbar menu.
    BrowserWindow* w = OpenBrowserWindow(WidePath(Site().base) + L"/download.php", {}, L"English", L"flv");
    ASSERT_TRUE(PumpUntil([&] { return w->ToolbarReady(); }));
    ASSERT_TRUE(WaitForPage(w->Content(), Site().base + "/download.php"));
    Eval(w->Toolbar(), "var e=document.getElementById('q');e.value='toolbar words';e.focus();e.select();1");
    SendMenu(w, BrowserWindow::kCopyCommand);
    ASSERT_TRUE(PumpUntil([] { return Clipboard() == "toolbar words"; }, 5000)) << Clipboard();
    // A page's message still does nothing there.
    Eval(w->Toolbar(), "window.webkit.messageHandlers.quilmer.postMessage(JSON.stringify({kind:'copy',text:'x'}));1");
    PumpEvents(500);
    EXPECT_EQ(Clipboard(), "toolbar words");
    test::Screenshot(w, "browser-toolbar-copy");
}

TEST_F(WebSafety, AFileDroppedOnAWebViewLeavesItsPage) {
    std::string dropped = folder_ + "/dropped.html";
    std::ofstream(dropped) << "<html><body id='dropped'>dropped</body></html>";

    PlayerWindow* player = OpenPlayer(Clip(folder_ + "/clip.flv"));
    ASSERT_TRUE(PumpUntil([&] { return player->PageLoaded(); }));
    ASSERT_TRUE(WaitForPage(player->Browser(), "file://"));
    std::string page = Url(player->Browser());
    test::DragFilesOnto(player->Browser(), {dropped});
    PumpEvents(1000);
    EXPECT_EQ(Url(player->Browser()), page);

    BrowserWindow* w = OpenBrowserWindow(WidePath(Site().base) + L"/download.php", {}, L"English", L"flv");
    ASSERT_TRUE(WaitForPage(w->Content(), Site().base + "/download.php"));
    test::DragFilesOnto(w->Content(), {dropped});
    PumpEvents(1000);
    EXPECT_EQ(Url(w->Content()), Site().base + "/download.php");
    test::Screenshot(w, "browser-window-after-drop");
}

}  // namespace
}  // namespace quilmer
