#pragma once
// Shared pieces of the web window tests: the maker's site on a loopback port (started once per
// runner with scripts/site.sh), a private user folder, and helpers that read a web view's page.

#include "../support/GuiTestSupport.h"

#include <wx/frame.h>
#include <wx/panel.h>
#include <wx/webview.h>

#include <string>
#include <vector>

namespace quilmer {
class WebPane;
}

namespace quilmer::test {

struct SiteServer {
    int port = 0;
    std::string base;     // http://127.0.0.1:<port>
    std::string runtime;  // nginx's runtime folder (logs)
};

// The running site of this runner (started by the test environment).
const SiteServer& Site();
std::wstring SiteWide();

// Runs a script in the view's page and gives its result as text ("" on failure).
std::string Eval(wxWebView* view, const std::string& js);

// Waits until the view shows a page whose address starts with prefix and has finished loading.
bool WaitForPage(wxWebView* view, const std::string& prefix, int timeoutMs = 20000);

// Lets closed windows really go (wx deletes them when idle) so later screenshots see no leftovers.
void Settle();

// Raises the window, lets WebKit paint it, and saves the screenshot.
void Screenshot(wxWindow* window, const std::string& name);

// Drags files onto the middle of target as a user does: the real pointer (XTest) carries them
// from a small window of the test through the toolkit's drag and drop. Returns when the drag has
// ended, whether or not anything took the files.
void DragFilesOnto(wxWindow* target, const std::vector<std::string>& paths);

// The main window's pane in a frame of its own, as the main window holds it in its slot.
struct PaneFrame {
    PaneFrame();
    ~PaneFrame();
    wxFrame* frame = nullptr;
    wxPanel* slot = nullptr;
    WebPane* pane = nullptr;
};

// A loopback port nothing listens on.
int ClosedPort();

// The whole text of a file ("" when missing).
std::string ReadText(const std::string& path);

}  // namespace quilmer::test
