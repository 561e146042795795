#pragma once
// What every window and dialog of a program wears, whoever built it: the program's icon (the
// desktop's task bar and a skin's "Icon" anchor show it) and, once the program has named its help,
// the F1 key that opens it. AttachSkin dresses each top-level window; the modal-dialog tracker
// dresses the dialogs the toolkit builds (file and folder choosers, message boxes).

#include <functional>
#include <string>

class wxTopLevelWindow;

namespace quilmer {

// The icon file every window shows; by default quilmer.svg in the program folder.
void SetProgramIconFile(const std::wstring& svgPath);
// What F1 does in any window of the program; none: F1 is left to the window.
void SetHelpOpener(std::function<void()> open);

// Gives the window the program's icon (unless it has one of its own) and the F1 key. Calling it
// again for the same window changes nothing.
void DressWindow(wxTopLevelWindow* window);

}  // namespace quilmer
