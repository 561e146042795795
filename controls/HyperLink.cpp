#include "controls/HyperLink.h"

#include <wx/clipbrd.h>
#include <wx/menu.h>

#include "controls/WxText.h"
#include "foundation/TextTranslator.h"

namespace quilmer {

HyperLink::HyperLink(wxWindow* parent, wxWindowID id, const wxPoint& position, const wxSize& size)
    : wxHyperlinkCtrl(parent, id, wxS(" "), wxS("about:blank"), position, size,
                      wxHL_ALIGN_LEFT | wxNO_BORDER) {
    Bind(wxEVT_CONTEXT_MENU, &HyperLink::OnContextMenu, this);
}

void HyperLink::SetLink(const std::wstring& text, const std::wstring& target) {
    SetLabel(ToWx(text));
    SetURL(ToWx(target));
}

void HyperLink::Open() {
    wxHyperlinkEvent event(this, GetId(), GetURL());
    if (!ProcessWindowEvent(event)) wxLaunchDefaultBrowser(GetURL());
}

bool HyperLink::CopyShortcut() {
    wxClipboardLocker locker;
    if (!locker) return false;
    return wxTheClipboard->SetData(new wxTextDataObject(GetURL()));
}

void HyperLink::OnContextMenu(wxContextMenuEvent&) {
    wxMenu menu;
    menu.Append(kIdOpen, ToWx(Tr(L"&Open")));
    menu.Append(kIdCopyShortcut, ToWx(Tr(L"&Copy Shortcut")));
    int chosen = GetPopupMenuSelectionFromUser(menu);
    if (chosen == kIdOpen) Open();
    if (chosen == kIdCopyShortcut) CopyShortcut();
}

}  // namespace quilmer
