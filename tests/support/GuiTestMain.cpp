// main() of every GUI test runner: GoogleTest inside a running wxWidgets application.
// Listing the tests (CTest's discovery at build time) needs no display, so wx starts only when the
// tests are really run. Runs need a display: scripts/test.sh provides Xvfb when there is none.

#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/image.h>
#include <wx/init.h>
#include <wx/log.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// The runner's environment from its CMake definition (quilmer_add_gui_test ... ENV k=v ...).
const char* const kEnvironment[] = {
#include "GuiTestEnv.inc"
    nullptr};

void SetEnvironment() {
    for (const char* const* entry = kEnvironment; *entry; ++entry) {
        std::string text = *entry;
        std::size_t eq = text.find('=');
        if (eq == std::string::npos || eq == 0) continue;
        ::setenv(text.substr(0, eq).c_str(), text.substr(eq + 1).c_str(), 1);
    }
}

class GuiTestApp : public wxApp {
public:
    bool OnInit() override {
        wxInitAllImageHandlers();
        return true;
    }
};

// What the program logs through wx: a program shows errors, warnings and messages in a box of the
// toolkit, which at the latest pops up when wx shuts down, and there nobody answers it. Here they go
// to stderr, and a run that logged one fails, naming it.
// (A runner may put a target of its own in its place.)
int shownMessages = 0;

class CountingLog : public wxLog {
protected:
    void DoLogTextAtLevel(wxLogLevel level, const wxString& text) override {
        if (level <= wxLOG_Message) ++shownMessages;
        if (level <= wxLOG_Info) std::fprintf(stderr, "wx log: %s\n", text.utf8_str().data());
    }
};

}  // namespace

wxIMPLEMENT_APP_NO_MAIN(GuiTestApp);

int main(int argc, char** argv) {
    SetEnvironment();
    ::testing::InitGoogleTest(&argc, argv);
    if (::testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();
    if (!wxEntryStart(argc, argv) || !wxTheApp || !wxTheApp->CallOnInit()) {
        std::fprintf(stderr, "GUI tests need a display (run them under xvfb-run)\n");
        return 1;
    }
    delete wxLog::SetActiveTarget(new CountingLog);
    int result = RUN_ALL_TESTS();
    wxTheApp->OnExit();
    wxEntryCleanup();
    if (shownMessages > 0) {
        std::fprintf(stderr, "%d message(s) logged that a user would have seen in a box (above)\n",
                     shownMessages);
        if (result == 0) result = 1;
    }
    return result;
}
