#pragma once
// Answers the modal dialogs a window under test opens, in order, through wx's modal-dialog hook;
// and small helpers shared by the window tests: a click as its command event, what a control
// shows, a dialog inspected while it is on screen.

#include "tests/support/GuiTestSupport.h"

#include <gtest/gtest.h>
#include <wx/dialog.h>
#include <wx/modalhook.h>
#include <wx/textctrl.h>

#include <functional>
#include <string>
#include <vector>

namespace quilmer::test {

class DialogAnswers : public wxModalDialogHook {
public:
    // Returns the dialog's result, or wxID_NONE to let it show (the handler then usually
    // schedules its checks and EndModal with CallAfter).
    using Handler = std::function<int(wxDialog*)>;
    DialogAnswers() { Register(); }
    ~DialogAnswers() override { Unregister(); }
    void Then(Handler handler) { handlers_.push_back(std::move(handler)); }
    int Seen() const { return seen_; }
    // The dialogs that came with no handler left (they were cancelled): class and title.
    const std::vector<std::string>& Unexpected() const { return unexpected_; }

protected:
    int Enter(wxDialog* dialog) override {
        // A file dialog passes the hook twice, in its own ShowModal and in the base class's:
        // once let show, it is the same dialog the second time.
        if (dialog == showing_) return wxID_NONE;
        ++seen_;
        if (handlers_.empty()) {
            unexpected_.push_back(wxString(dialog->GetClassInfo()->GetClassName()).utf8_string() + " \"" +
                                  dialog->GetTitle().utf8_string() + "\"");
            return wxID_CANCEL;
        }
        Handler handler = std::move(handlers_.front());
        handlers_.erase(handlers_.begin());
        int result = handler(dialog);
        if (result == wxID_NONE) showing_ = dialog;
        return result;
    }
    void Exit(wxDialog* dialog) override {
        if (dialog == showing_) showing_ = nullptr;
    }

private:
    wxDialog* showing_ = nullptr;
    std::vector<Handler> handlers_;
    std::vector<std::string> unexpected_;
    int seen_ = 0;
};

// A dialog left to show; check runs inside its modal loop once it is on screen, then it closes.
inline DialogAnswers::Handler Inspect(std::function<void(wxDialog*)> check) {
    return [check](wxDialog* dialog) {
        dialog->CallAfter([dialog, check] {
            PumpEvents(250);
            check(dialog);
            dialog->EndModal(wxID_CANCEL);
        });
        return static_cast<int>(wxID_NONE);
    };
}

// What a control shows: a text field's value, any other control's label.
inline std::wstring TextOf(wxWindow* control) {
    if (!control) return L"<missing>";
    if (auto* edit = dynamic_cast<wxTextCtrl*>(control)) return edit->GetValue().ToStdWstring();
    return control->GetLabel().ToStdWstring();
}
inline std::wstring TextOf(wxWindow* parent, int id) { return TextOf(wxWindow::FindWindowById(id, parent)); }

// As a click on the control with this id inside `window`: its command event, handled where the
// click's would be.
inline void Press(wxWindow* window, int id) {
    wxWindow* control = wxWindow::FindWindowById(id, window);
    ASSERT_NE(control, nullptr) << id;
    wxCommandEvent event(wxEVT_BUTTON, id);
    event.SetEventObject(control);
    control->ProcessWindowEvent(event);
    PumpEvents(50);
}

}  // namespace quilmer::test
