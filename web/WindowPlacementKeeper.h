#pragma once
// Restores a top-level window's position and size from a placement record once, and saves it when
// the window goes. Windows of several classes may share one record.

#include <wx/toplevel.h>

#include <string>

namespace quilmer {

class WindowPlacementKeeper {
public:
    WindowPlacementKeeper(std::wstring section, std::wstring key) : section_(std::move(section)), key_(std::move(key)) {}
    // Applies a valid record whose normal rectangle is on the screen; else leaves the window as is.
    // True when a record was applied.
    bool Restore(wxTopLevelWindow* window);
    void Save(wxTopLevelWindow* window);

private:
    std::wstring section_;
    std::wstring key_;
    bool restored_ = false;
};

}  // namespace quilmer
