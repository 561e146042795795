#pragma once
// The window that offers a newer version: the latest and the current version with their release
// dates, a link to the package and the "Don't remind me again" box. OK (or the link) accepts;
// Esc or the close box declines.

#include <wx/dialog.h>

#include <string>

class wxCheckBox;
class wxTextCtrl;

namespace quilmer {

class HyperLink;

enum NewVersionDialogId : int {
    kIdNewVersion = 2520,
    kIdNewReleaseDate = 2521,
    kIdUpdateLink = 2522,
    kIdCurrentVersion = 2523,
    kIdCurrentReleaseDate = 2524,
    kIdDontRemind = 2525,
};

class NewVersionDialog : public wxDialog {
public:
    struct Offer {
        std::wstring newestVersion;
        std::wstring newestReleaseDate;  // shown as the descriptor gives it
        std::wstring downloadUrl;
        std::wstring currentVersion;
        std::wstring buildDate;  // "Oct 22 2011", shown as "10-22-2011"
        bool dontRemind = false;  // the box's first state
    };

    NewVersionDialog(wxWindow* owner, const Offer& offer);

    // After the dialog ended: the box's state.
    bool DontRemind() const;
    const Offer& Values() const { return offer_; }

private:
    void Accept();

    Offer offer_;
    wxCheckBox* dontRemind_ = nullptr;
    HyperLink* link_ = nullptr;
};

}  // namespace quilmer
