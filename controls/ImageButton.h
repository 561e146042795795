#pragma once
// A button that shows an icon of the desktop's icon theme and a tip instead of a text.

#include <wx/artprov.h>
#include <wx/bmpbuttn.h>

#include <string>

namespace quilmer {

class ImageButton : public wxBitmapButton {
public:
    // art: a wxART_ id or a freedesktop icon name; fallback is used when the theme lacks it.
    // tip: the English tip text, shown translated.
    ImageButton(wxWindow* parent, wxWindowID id, const wxArtID& art, const wxArtID& fallback,
                const std::wstring& tip, const wxPoint& position = wxDefaultPosition,
                const wxSize& size = wxDefaultSize);
};

}  // namespace quilmer
