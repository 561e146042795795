#pragma once
// The main window's part of the update: the once-per-run version check, and what its answer
// leads to. The check runs on a worker; its ready notice reaches the window as
// EVT_UPDATE_INFO_READY, whose handler calls Evaluate():
// - the running version is older than the oldest one still supported: the window is hidden and
//   the page about updating opens in the program's browser window, whose close ends the program;
// - a newer version exists and the user has not asked to be left alone ("Config"/"SysFlags"
//   bit 0x2): the new-version window offers it, and its OK starts the updater, or, for a
//   program folder the package manager owns (app/core/PackagedInstall.h), says how to get it;
// - anything else, and every failure of the check: nothing at all.

#include <functional>
#include <memory>
#include <string>

#include "app/NewVersionDialog.h"
#include "foundation/EventLoop.h"
#include "update/VersionCheck.h"
#include "update/VersionCheckContext.h"

class wxFrame;

namespace quilmer {

class WorkerThread;

// "Config"/"SysFlags" bit: do not offer new versions.
inline constexpr int kSysFlagDontRemind = 0x2;

class UpdateFlow {
public:
    // What the flow does to the world; tests replace them.
    struct Actions {
        // Shows the offer; true when accepted. *dontRemind: the box's state after the window.
        std::function<bool(const NewVersionDialog::Offer&, bool* dontRemind)> offer;
        std::function<bool(const std::wstring& programFolder, const UpdaterLaunch&)> startUpdater;
        std::function<void(const std::wstring& text)> tellUser;
        // Opens the program's browser window on url; onClosed runs when the user closes it.
        std::function<void(const std::wstring& url, std::function<void()> onClosed)> openBrowser;
    };

    // window: the main window, which receives the ready notice and is hidden or closed.
    UpdateFlow(wxFrame* window, EventLoop& loop);
    // Abandons a check still running.
    ~UpdateFlow();

    // Starts the check (once; later calls do nothing).
    void Start();
    // The ready notice: judges the descriptor and acts on it.
    void Evaluate();

    Actions& ActionsForTest() { return actions_; }
    VersionCheckContext& Context() { return context_; }

private:
    wxFrame* window_;
    EventLoop& loop_;
    VersionCheckContext context_;
    Actions actions_;
    std::shared_ptr<int> alive_;
    std::unique_ptr<WorkerThread> worker_;
    bool started_ = false;
};

}  // namespace quilmer
