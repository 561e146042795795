#include "web/WindowPlacementKeeper.h"

#include "web/core/WindowPlacement.h"

#include <wx/display.h>

namespace quilmer {

bool WindowPlacementKeeper::Restore(wxTopLevelWindow* window) {
    if (restored_) return false;
    restored_ = true;
    auto record = LoadPlacement(SettingsStore::Instance(), section_, key_);
    wxSize screen = wxGetDisplaySize();
    if (!record || !record->IntersectsScreen(screen.x, screen.y)) return false;
    const PlacementRect& r = record->normal;
    if (r.right <= r.left || r.bottom <= r.top) return false;
    window->SetSize(r.left, r.top, r.right - r.left, r.bottom - r.top);
    if (record->showCmd == 3) window->Maximize(true);
    return true;
}

void WindowPlacementKeeper::Save(wxTopLevelWindow* window) {
    bool maximised = window->IsMaximized();
    wxRect rect = window->GetRect();
    if (maximised) {
        // The size the window returns to is not known once maximised; keep the stored one.
        if (auto old = LoadPlacement(SettingsStore::Instance(), section_, key_)) {
            rect = wxRect(old->normal.left, old->normal.top, old->normal.right - old->normal.left,
                          old->normal.bottom - old->normal.top);
        }
    }
    PlacementRect normal{rect.x, rect.y, rect.x + rect.width, rect.y + rect.height};
    SavePlacement(SettingsStore::Instance(), section_, key_, WindowPlacementRecord::ForWindow(normal, maximised));
}

}  // namespace quilmer
