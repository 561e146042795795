#include "controls/ModalDialogs.h"

#include <wx/dialog.h>
#include <wx/modalhook.h>

#include <algorithm>
#include <vector>

#include "controls/WindowDressing.h"

namespace quilmer {

namespace {

class ModalTracker final : public wxModalDialogHook {
public:
    ModalTracker() { Register(); }

    // Entries in opening order; a file dialog passes the hook twice (its own ShowModal and the
    // base class's) and so stands here twice until both have returned.
    std::vector<wxDialog*> open;
    bool refusing = false;

protected:
    int Enter(wxDialog* dialog) override {
        if (refusing) return wxID_CANCEL;
        DressWindow(dialog);
        // A dialog answered by a later hook never sees Exit: its destruction forgets it.
        if (std::find(open.begin(), open.end(), dialog) == open.end())
            dialog->Bind(wxEVT_DESTROY, [this, dialog](wxWindowDestroyEvent& event) {
                if (event.GetEventObject() == dialog) Forget(dialog, true);
                event.Skip();
            });
        open.push_back(dialog);
        return wxID_NONE;
    }
    void Exit(wxDialog* dialog) override { Forget(dialog, false); }

private:
    void Forget(wxDialog* dialog, bool all) {
        auto at = std::find(open.rbegin(), open.rend(), dialog);
        if (at == open.rend()) return;
        if (all) {
            open.erase(std::remove(open.begin(), open.end(), dialog), open.end());
        } else {
            open.erase(std::next(at).base());
        }
    }
};

ModalTracker* tracker = nullptr;

}  // namespace

void TrackModalDialogs() {
    // Lives as long as the process: wx calls its hooks until the very end.
    if (!tracker) tracker = new ModalTracker;
}

wxDialog* TopmostModalDialog() {
    if (!tracker) return nullptr;
    for (auto at = tracker->open.rbegin(); at != tracker->open.rend(); ++at)
        if ((*at)->IsModal()) return *at;
    return nullptr;
}

bool AnyModalDialogOpen() { return tracker && !tracker->open.empty(); }

void RefuseModalDialogs(bool refuse) {
    TrackModalDialogs();
    tracker->refusing = refuse;
}

}  // namespace quilmer
