#pragma once
// The updater's banner, 87 x 155 pixels, drawn at run time: a blue band with a downward arrow
// into a tray, the picture of a download being put in place.

#include <wx/bitmap.h>

namespace quilmer {

inline constexpr int kBannerWidth = 87;
inline constexpr int kBannerHeight = 155;

wxBitmap MakeUpdaterBanner();

}  // namespace quilmer
