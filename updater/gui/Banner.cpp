#include "updater/gui/Banner.h"

#include <wx/dcmemory.h>
#include <wx/graphics.h>

#include <memory>

namespace quilmer {

wxBitmap MakeUpdaterBanner() {
    wxBitmap bitmap(kBannerWidth, kBannerHeight, 24);
    wxMemoryDC dc(bitmap);
    dc.GradientFillLinear(wxRect(0, 0, kBannerWidth, kBannerHeight), wxColour(28, 86, 160),
                          wxColour(120, 176, 232), wxDOWN);
    std::unique_ptr<wxGraphicsContext> gc(wxGraphicsContext::Create(dc));
    if (gc) {
        const double cx = kBannerWidth / 2.0;
        // The tray.
        gc->SetPen(wxPen(wxColour(255, 255, 255), 5));
        gc->SetBrush(*wxTRANSPARENT_BRUSH);
        wxGraphicsPath tray = gc->CreatePath();
        tray.MoveToPoint(cx - 28, 96);
        tray.AddLineToPoint(cx - 28, 116);
        tray.AddLineToPoint(cx + 28, 116);
        tray.AddLineToPoint(cx + 28, 96);
        gc->StrokePath(tray);
        // The arrow into it.
        gc->SetPen(*wxTRANSPARENT_PEN);
        gc->SetBrush(wxBrush(wxColour(255, 214, 64)));
        wxGraphicsPath arrow = gc->CreatePath();
        arrow.MoveToPoint(cx - 9, 30);
        arrow.AddLineToPoint(cx + 9, 30);
        arrow.AddLineToPoint(cx + 9, 70);
        arrow.AddLineToPoint(cx + 22, 70);
        arrow.AddLineToPoint(cx, 104);
        arrow.AddLineToPoint(cx - 22, 70);
        arrow.AddLineToPoint(cx - 9, 70);
        arrow.CloseSubpath();
        gc->FillPath(arrow);
        // Three dots below: the transfer going on.
        gc->SetBrush(wxBrush(wxColour(255, 255, 255)));
        for (int i = -1; i <= 1; ++i) gc->DrawEllipse(cx + i * 14 - 3, 132, 6, 6);
    }
    dc.SelectObject(wxNullBitmap);
    return bitmap;
}

}  // namespace quilmer
