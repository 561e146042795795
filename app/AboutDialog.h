#pragma once
// The About box: the program's name and short version, the maker's site and contact address.

#include <wx/dialog.h>

namespace quilmer {

enum AboutDialogId : int {
    kIdAboutTitle = 100,
    kIdAboutEmailLink = 101,
    kIdAboutEmailLabel = 102,
    kIdAboutSiteLink = 1005,
    kIdAboutOk = 2,
};

class AboutDialog : public wxDialog {
public:
    explicit AboutDialog(wxWindow* owner);
    static void Open(wxWindow* owner);
};

}  // namespace quilmer
