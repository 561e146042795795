#include "controls/WindowSkin.h"

#include <utility>

#include "controls/WindowDressing.h"

namespace quilmer {

namespace {
SkinAttacher& Attacher() {
    static SkinAttacher attacher;
    return attacher;
}
}  // namespace

void AttachSkin(wxTopLevelWindow* window) {
    DressWindow(window);
    if (window && Attacher()) Attacher()(window);
}

SkinAttacher SetSkinAttacher(SkinAttacher attacher) { return std::exchange(Attacher(), std::move(attacher)); }

}  // namespace quilmer
