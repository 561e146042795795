#pragma once
// Relabels a window and everything inside it after a language switch: what each control shows
// now is mapped back through the pack shown until then and on into the chosen language. Captions,
// labels, buttons, links, list headers, menus and tips are relabelled; combo boxes, choices and
// text fields hold data and are left alone, and so is the caption of the main window (the window
// named kMainWindowName).

#include <string>

class wxWindow;
class wxMenu;

namespace quilmer {

class LanguageManager;

inline constexpr const char* kMainWindowName = "Corvane Video";

// With no manager given, the process's own.
void TranslateWindowTree(wxWindow* window, const LanguageManager* manager = nullptr);
void TranslateMenu(wxMenu* menu, const LanguageManager& manager);

}  // namespace quilmer
