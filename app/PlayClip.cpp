#include "app/PlayClip.h"

#include "web/PlayerWindow.h"

namespace quilmer {

void PlayClip(wxWindow*, const std::wstring& path) { OpenPlayer(path); }

}  // namespace quilmer
