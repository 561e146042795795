#include "WebTestSupport.h"

#include "foundation/AppFolders.h"
#include "foundation/FileUtil.h"
#include "web/WebContext.h"
#include "web/WebPane.h"

#include <gtest/gtest.h>
#include <wx/dataobj.h>
#include <wx/dnd.h>
#include <wx/frame.h>
#include <wx/log.h>
#include <wx/panel.h>
#include <wx/sizer.h>
#include <wx/timer.h>
#include <wx/uiaction.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace quilmer::test {

namespace {

SiteServer gSite;

int FreePort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof addr;
    int port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0) {
        port = ntohs(addr.sin_port);
    }
    close(fd);
    return port;
}

int RunSiteScript(const std::string& action, int port, const std::string& runtime) {
    const char* script = std::getenv("QUILMER_SITE_SCRIPT");
    std::string path = script ? script : QUILMER_SOURCE_DIR "/scripts/site.sh";
    std::string command = "QUILMER_SITE_RUNTIME='" + runtime + "' bash '" + path + "' " + action + " " +
                          std::to_string(port) + " >/dev/null";
    return std::system(command.c_str());
}

class SiteEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        // A fixed folder in the build tree, emptied at each start: the settings singleton writes
        // its file back at process exit, after the tests, so the folder cannot be removed then.
        root_ = std::string(QUILMER_BINARY_DIR) + "/test-output/web-test";
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
        std::filesystem::create_directories(root_, ec);
        ASSERT_FALSE(ec) << root_;
        // Messages wx logs go to the terminal, never to a dialog that would wait for a click.
        delete wxLog::SetActiveTarget(new wxLogStderr());
        AppFolders::OverrideUserFolder(WidePath(root_ + "/user/"));
        SetWebLanguageSource([] { return std::wstring(L"English"); });
        // A port can be taken between the probe and nginx's start: try a few.
        for (int attempt = 0; attempt < 5 && gSite.port == 0; ++attempt) {
            int port = FreePort();
            std::string runtime = root_ + "/site-" + std::to_string(port);
            if (port != 0 && RunSiteScript("start", port, runtime) == 0) {
                gSite.port = port;
                gSite.runtime = runtime;
                gSite.base = "http://127.0.0.1:" + std::to_string(port);
            }
        }
        ASSERT_NE(gSite.port, 0) << "nginx did not start";
        setenv("QUILMER_SITE_URL", gSite.base.c_str(), 1);
    }
    void TearDown() override {
        if (gSite.port != 0) RunSiteScript("stop", gSite.port, gSite.runtime);
    }

private:
    std::string root_;
};

[[maybe_unused]] ::testing::Environment* const gEnvironment =
    ::testing::AddGlobalTestEnvironment(new SiteEnvironment);

}  // namespace

const SiteServer& Site() { return gSite; }
std::wstring SiteWide() { return WidePath(gSite.base); }

std::string Eval(wxWebView* view, const std::string& js) {
    wxLogNull quiet;  // a failing script is an empty answer, not a message box
    wxString result;
    if (!view->RunScript(wxString::FromUTF8(js), &result)) return {};
    return std::string(result.utf8_str());
}

bool WaitForPage(wxWebView* view, const std::string& prefix, int timeoutMs) {
    return PumpUntil(
        [&] {
            // The page's own address: the view's address changes as soon as a load starts.
            std::string state = Eval(view, "document.readyState + ' ' + location.href");
            return state.rfind("complete " + prefix, 0) == 0 && !view->IsBusy();
        },
        timeoutMs);
}

int ClosedPort() { return FreePort(); }

PaneFrame::PaneFrame()
    : frame(new wxFrame(nullptr, wxID_ANY, "Quilmer", wxPoint(0, 0), wxSize(700, 160))), slot(new wxPanel(frame)) {
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(slot, 1, wxEXPAND);
    frame->SetSizer(sizer);
    frame->Show();
    pane = MakeMainWebPane(slot);
    frame->Layout();
}

PaneFrame::~PaneFrame() {
    frame->Destroy();
    Settle();
}

void DragFilesOnto(wxWindow* target, const std::vector<std::string>& paths) {
    wxRect goal = target->GetScreenRect();
    auto* source = new wxFrame(nullptr, wxID_ANY, "drag source", wxPoint(goal.GetRight() + 40, goal.y), wxSize(120, 80));
    auto* panel = new wxPanel(source);
    source->Show();
    PumpEvents(300);
    wxPoint from = panel->GetScreenRect().GetPosition() + wxPoint(40, 30);
    wxPoint to(goal.x + goal.width / 2, goal.y + goal.height / 2);
    bool ended = false;
    int step = 0;
    wxTimer mover;
    // The drag runs its own loop; the pointer is moved from a timer inside it.
    mover.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
        wxUIActionSimulator sim;
        ++step;
        if (step <= 12) {
            sim.MouseMove(from + (to - from) * step / 12);
        } else if (step <= 18) {
            sim.MouseMove(to + wxPoint(step % 2, step % 3));  // a few moves over the target
        } else {
            sim.MouseUp();
            mover.Stop();
        }
    });
    panel->Bind(wxEVT_LEFT_DOWN, [&](wxMouseEvent&) {
        wxFileDataObject data;
        for (const std::string& path : paths) data.AddFile(wxString::FromUTF8(path));
        wxDropSource drag(data, panel);
        mover.Start(60);
        drag.DoDragDrop(wxDrag_CopyOnly);
        ended = true;
    });
    wxUIActionSimulator sim;
    sim.MouseMove(from);
    PumpEvents(100);
    sim.MouseDown();
    PumpUntil([&] { return ended; }, 15000);
    mover.Stop();
    sim.MouseUp();
    source->Destroy();
    Settle();
}

void Settle() {
    for (int i = 0; i < 3; ++i) {
        wxTheApp->ProcessIdle();
        PumpEvents(30);
    }
}

// wxScreenDC reads a stale copy of the screen under Xvfb once the first window has been captured;
// the window's own GDK window gives what it shows now. GDK is reached through the library wx
// already loaded.
void Screenshot(wxWindow* window, const std::string& name) {
    Settle();
    wxWindow* top = wxGetTopLevelParent(window);
    top->Raise();
    PumpEvents(600);
    using GetWindow = void* (*)(void*);
    using FromWindow = void* (*)(void*, int, int, int, int);
    auto getWindow = reinterpret_cast<GetWindow>(dlsym(RTLD_DEFAULT, "gtk_widget_get_window"));
    auto fromWindow = reinterpret_cast<FromWindow>(dlsym(RTLD_DEFAULT, "gdk_pixbuf_get_from_window"));
    void* gdkWindow = getWindow ? getWindow(top->GetHandle()) : nullptr;
    wxPoint offset = window == top ? wxPoint(0, 0) : top->ScreenToClient(window->GetScreenPosition()) +
                                                         (top->GetClientAreaOrigin());
    wxSize size = window->GetSize();
    void* pixbuf = gdkWindow && fromWindow ? fromWindow(gdkWindow, offset.x, offset.y, size.x, size.y) : nullptr;
    if (!pixbuf) {
        SaveScreenshot(window, name);
        return;
    }
    wxBitmap bitmap(static_cast<GdkPixbuf*>(pixbuf));
    bitmap.SaveFile(wxString::FromUTF8((ScreenshotFolder() / (name + ".png")).string()), wxBITMAP_TYPE_PNG);
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

}  // namespace quilmer::test
