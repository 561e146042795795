#pragma once
// Messages of the GUI programs: LogAndShow's texts as message boxes, and a message that carries
// details (an encoder's last words, a system error) as a dialog whose "Show details" button
// opens the details below the message.

#include <wx/dialog.h>

#include <string>

class wxButton;
class wxTextCtrl;

namespace quilmer {

// Makes LogAndShow show its texts in a message box over the active window.
void InstallMessageBoxes();

// A message box, or a DetailsDialog when details is not empty. Modal; returns when closed.
// With the environment variable QUILMER_ECHO_MESSAGES set (to anything but empty), the text is
// also written to stderr as "message: <caption>: <text>" before the box opens, so that a script
// or test that starts the program can tell what it showed.
void ShowMessage(wxWindow* parent, const std::wstring& text, const std::wstring& caption,
                 const std::wstring& details = {});

// A question with "&Yes" and "&No" (No is the default; Escape and a close answer No). True for Yes.
// Echoed as ShowMessage echoes.
bool AskYesNo(wxWindow* parent, const std::wstring& text, const std::wstring& caption);

class DetailsDialog : public wxDialog {
public:
    enum { kIdToggleDetails = 1100 };

    DetailsDialog(wxWindow* parent, const std::wstring& text, const std::wstring& caption,
                  const std::wstring& details);

    bool DetailsShown() const;
    void ToggleDetails();

private:
    wxButton* toggle_ = nullptr;
    wxTextCtrl* details_ = nullptr;
};

}  // namespace quilmer
