#pragma once
// Every top-level window of both programs is handed to AttachSkin once it is built. The skin
// subsystem installs the attacher that draws the window's frame from the chosen skin; until one
// is installed the window keeps the desktop's own frame. The window is dressed as well (icon, F1:
// controls/WindowDressing.h).

#include <functional>

class wxTopLevelWindow;

namespace quilmer {

using SkinAttacher = std::function<void(wxTopLevelWindow* window)>;

void AttachSkin(wxTopLevelWindow* window);
// Returns the previous attacher.
SkinAttacher SetSkinAttacher(SkinAttacher attacher);

}  // namespace quilmer
