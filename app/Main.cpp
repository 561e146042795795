// quilmer: the main program. Starts the way the platform's GUI programs do: application object,
// command line, main window, loop; the exit code is 2 whenever the main window ends the program.

#include <unistd.h>
#include <wx/app.h>
#include <wx/image.h>

#include <clocale>
#include <cstdio>
#include <string_view>

#include "app/MainDlg.h"
#include "app/core/MainWindowRules.h"
#include "app/core/Startup.h"
#include "controls/MessageBoxes.h"
#include "controls/ModalDialogs.h"
#include "controls/WindowSkin.h"
#include "controls/WxText.h"
#include "foundation/FileUtil.h"
#include "foundation/Log.h"
#include "foundation/Utf8.h"
#include "foundation/Version.h"
#include "lang/LanguageManager.h"
#include "skin/gui/FrameSkinManager.h"

namespace quilmer {
namespace {

constexpr int kExitByMainWindow = 2;

std::wstring CurrentFolder() {
    std::string buffer(4096, '\0');
    if (!getcwd(buffer.data(), buffer.size())) return L"/";
    buffer.resize(std::char_traits<char>::length(buffer.c_str()));
    std::wstring folder = WidePath(buffer);
    if (folder.empty() || folder.back() != L'/') folder += L'/';
    return folder;
}

class QuilmerApp final : public wxApp {
public:
    bool OnInit() override {
        SetVendorName(wxS("Corvane"));
        SetAppName(wxS("Quilmer"));
        wxInitAllImageHandlers();

        // Arguments as the kernel gave them: bytes, which WidePath keeps whatever the locale.
        std::vector<std::wstring> arguments;
        for (int i = 1; i < rawArgc_; ++i) arguments.push_back(WidePath(rawArgv_[i]));
        StartupRequest request = ParseStartup(arguments, CurrentFolder());
        StartupArgument() = request.argument;

        LanguageManager::Instance();
        InstallMessageBoxes();
        TrackModalDialogs();
        // Every window of the program draws its frame from the skin chosen last time (if any).
        SetSkinAttacher([](wxTopLevelWindow* window) { AttachFrameSkin(window); });

        // The window takes in a handed-over job (StartupArgument) itself while it is built, and
        // starts its join once the loop runs.
        auto* window = new CMainDlg();
        SetTopWindow(window);
        // The program ends with its main window, whatever other windows are still open (the
        // window closes them on its way out).
        window->Bind(wxEVT_DESTROY, [window](wxWindowDestroyEvent& event) {
            if (event.GetEventObject() == window) wxTheApp->ExitMainLoop();
            event.Skip();
        });
        window->Show();
        // As the open dialog would: only files that exist join the list.
        std::vector<std::wstring> clips;
        for (const auto& clip : request.clips) {
            FileFacts facts;
            if (GetFileFacts(clip, facts) && !(facts.attributes & kAttrDirectory))
                clips.push_back(clip);
            else
                CLog::Instance().Write(LOG_WARN, L"not a clip file, left out: " + clip);
        }
        window->AddClips(clips);
        return true;
    }

    int OnRun() override {
        wxApp::OnRun();
        return kExitByMainWindow;
    }

    static void SetRawArguments(int count, char** values) {
        rawArgc_ = count;
        rawArgv_ = values;
    }

private:
    static inline int rawArgc_ = 0;
    static inline char** rawArgv_ = nullptr;
};

}  // namespace
}  // namespace quilmer

wxIMPLEMENT_APP_NO_MAIN(quilmer::QuilmerApp);

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    if (argc == 2 && std::string_view(argv[1]) == "--help") {
        // Like --version, answered before wxWidgets starts: no display needed.
        std::fputs(
            "Usage: quilmer [CLIP...]\n"
            "Opens the main window with the clips in its list, ready to join.\n"
            "      --help     this text\n"
            "      --version  print the version and exit\n"
            "Closing the window ends the program with exit status 2.\n",
            stdout);
        return 0;
    }
    if (argc == 2 && std::string_view(argv[1]) == "--version") {
        // The short version text, as the title and the update check show it.
        std::printf("%s\n", quilmer::ToUtf8(quilmer::FormatVersion(3)).c_str());
        return 0;
    }
    quilmer::QuilmerApp::SetRawArguments(argc, argv);
    return wxEntry(argc, argv);
}
