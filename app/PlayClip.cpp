#include "app/PlayClip.h"

#include <wx/utils.h>

#include "controls/MessageBoxes.h"
#include "controls/WxText.h"
#include "foundation/FileUtil.h"
#include "foundation/TextTranslator.h"

namespace quilmer {

void PlayClip(wxWindow* parent, const std::wstring& path) {
    if (!FileExists(path)) return;
    if (!wxLaunchDefaultApplication(PathToWx(path)))
        ShowMessage(parent, Tr(L"No application is set up to play this file: ") + path, Tr(L"Tips"));
}

}  // namespace quilmer
