#pragma once
// A link to a web address or mail address. A click sends wxEVT_HYPERLINK to the owner (which
// decides where it leads; unhandled, the desktop's browser opens the link's address); the
// right-click menu offers "&Open" (the same as a click) and "&Copy Shortcut" (the address to the
// clipboard).

#include <wx/hyperlink.h>

#include <string>

namespace quilmer {

class HyperLink : public wxHyperlinkCtrl {
public:
    enum { kIdOpen = 1200, kIdCopyShortcut = 1201 };

    HyperLink(wxWindow* parent, wxWindowID id, const wxPoint& position = wxDefaultPosition,
              const wxSize& size = wxDefaultSize);

    // Text shown and address opened.
    void SetLink(const std::wstring& text, const std::wstring& target);
    // As the menu's "&Open": the same event as a click.
    void Open();
    // As the menu's "&Copy Shortcut".
    bool CopyShortcut();

private:
    void OnContextMenu(wxContextMenuEvent& event);
};

}  // namespace quilmer
