#include "controls/ImageButton.h"

#include "controls/WxText.h"
#include "foundation/TextTranslator.h"

namespace quilmer {

namespace {
wxBitmapBundle ThemeIcon(const wxArtID& art, const wxArtID& fallback) {
    wxBitmapBundle icon = wxArtProvider::GetBitmapBundle(art, wxART_BUTTON);
    if (!icon.IsOk()) icon = wxArtProvider::GetBitmapBundle(fallback, wxART_BUTTON);
    return icon;
}
}  // namespace

ImageButton::ImageButton(wxWindow* parent, wxWindowID id, const wxArtID& art, const wxArtID& fallback,
                         const std::wstring& tip, const wxPoint& position, const wxSize& size)
    : wxBitmapButton(parent, id, ThemeIcon(art, fallback), position, size) {
    SetToolTip(ToWx(Tr(tip)));
    // Screen readers and the tests find the button by its purpose.
    SetName(ToWx(tip));
}

}  // namespace quilmer
