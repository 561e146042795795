// updater: started by the main program with seven arguments when the user accepts a new version.
// Downloads the package (resuming a partial one), checks its signature and contents, closes the
// main program, unpacks the package into its own folder and starts the main program again.
// Exit code 2 after the window ends, 0 when no package address was given.

#include <wx/app.h>
#include <wx/image.h>

#include <clocale>

#include "controls/MessageBoxes.h"
#include "controls/WindowSkin.h"
#include "lang/LanguageManager.h"
#include "skin/gui/FrameSkinManager.h"
#include "updater/DownloadStep.h"
#include "updater/UpdaterArgs.h"
#include "updater/gui/UpdaterDialog.h"

namespace quilmer {
namespace {

class UpdaterApp final : public wxApp {
public:
    bool OnInit() override {
        SetVendorName(wxS("Corvane"));
        SetAppName(wxS("Quilmer"));
        wxInitAllImageHandlers();
        LanguageManager::Instance();
        InstallMessageBoxes();
        // The window draws its frame from the skin the main program's user chose (if any).
        SetSkinAttacher([](wxTopLevelWindow* window) { AttachFrameSkin(window); });
        auto* window = new UpdaterDialog(DownloadEnvironment::ForProgram(args_));
        SetTopWindow(window);
        window->Show();
        window->Start();
        return true;
    }

    int OnRun() override {
        wxApp::OnRun();
        return 2;
    }

    static inline UpdaterArgs args_;
};

}  // namespace
}  // namespace quilmer

wxIMPLEMENT_APP_NO_MAIN(quilmer::UpdaterApp);

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    quilmer::UpdaterApp::args_ = quilmer::UpdaterArgs::FromArgv(argc, argv);
    if (quilmer::UpdaterApp::args_.packageUrl.empty()) return 0;
    return wxEntry(argc, argv);
}
