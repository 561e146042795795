#include "controls/WindowDressing.h"

#include <wx/app.h>
#include <wx/bmpbndl.h>
#include <wx/filename.h>
#include <wx/iconbndl.h>
#include <wx/log.h>
#include <wx/toplevel.h>

#include <optional>
#include <utility>

#include "controls/WxText.h"
#include "foundation/AppFolders.h"

namespace quilmer {

namespace {

struct Dressing {
    std::wstring iconFile;
    std::optional<wxIconBundle> icons;  // made from iconFile on first use
    std::function<void()> help;
};

Dressing& State() {
    static Dressing dressing;
    return dressing;
}

const wxIconBundle& ProgramIcons() {
    Dressing& state = State();
    if (!state.icons) {
        std::wstring file =
            state.iconFile.empty() ? AppFolders::Instance().ProgramFolder() + L"quilmer.svg" : state.iconFile;
        // A missing or unreadable icon file leaves the windows without an icon. It is not worth a
        // word to the user: the toolkit would queue an error box that pops up later, over
        // whatever the program is doing (or, at exit, with nobody left to answer it).
        wxIconBundle icons;
        wxBitmapBundle bundle;
        if (wxFileName::IsFileReadable(PathToWx(file))) {
            wxLogNull quiet;
            bundle = wxBitmapBundle::FromSVGFile(PathToWx(file), wxSize(48, 48));
        }
        if (bundle.IsOk())
            for (int size : {16, 24, 32, 48}) icons.AddIcon(bundle.GetIcon(wxSize(size, size)));
        state.icons = icons;
    }
    return *state.icons;
}

// A plain function, so that dressing a window twice binds it once (Unbind finds it again).
void OnHelpKey(wxKeyEvent& event) {
    if (event.GetKeyCode() == WXK_F1 && !event.HasAnyModifiers() && State().help) {
        // Later: the key's handling must not run while a window opens over it.
        auto open = State().help;
        if (wxTheApp) {
            wxTheApp->CallAfter([open] { open(); });
        } else {
            open();
        }
        return;
    }
    event.Skip();
}

}  // namespace

void SetProgramIconFile(const std::wstring& svgPath) {
    State().iconFile = svgPath;
    State().icons.reset();
}

void SetHelpOpener(std::function<void()> open) { State().help = std::move(open); }

void DressWindow(wxTopLevelWindow* window) {
    if (!window) return;
    if (window->GetIcons().IsEmpty() && !ProgramIcons().IsEmpty()) window->SetIcons(ProgramIcons());
    window->Unbind(wxEVT_CHAR_HOOK, &OnHelpKey);
    window->Bind(wxEVT_CHAR_HOOK, &OnHelpKey);
}

}  // namespace quilmer
