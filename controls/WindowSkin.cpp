#include "controls/WindowSkin.h"

#include <utility>

namespace quilmer {

namespace {
SkinAttacher& Attacher() {
    static SkinAttacher attacher;
    return attacher;
}
}  // namespace

void AttachSkin(wxTopLevelWindow* window) {
    if (window && Attacher()) Attacher()(window);
}

SkinAttacher SetSkinAttacher(SkinAttacher attacher) { return std::exchange(Attacher(), std::move(attacher)); }

}  // namespace quilmer
