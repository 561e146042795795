#pragma once
// Plays a clip for the user in the program's own player window (web/PlayerWindow.h), whose class
// follows the clip's ending.

#include <string>

class wxWindow;

namespace quilmer {

// Does nothing when no file exists at path. The player window has no owner: it stays open until
// the user closes it, whatever happens to the window it was opened from.
void PlayClip(wxWindow* parent, const std::wstring& path);

}  // namespace quilmer
