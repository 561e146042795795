#pragma once
// The interface-language chooser: one entry per installed pack with its flag, shown as the
// language's name in the current language, a tab and the name itself in brackets. Choosing an
// entry switches the language and relabels every open window at once.

#include <wx/bmpcbox.h>

#include <functional>
#include <string>

namespace quilmer {

class LanguageManager;

class LanguageChooser : public wxBitmapComboBox {
public:
    LanguageChooser(wxWindow* parent, wxWindowID id, const wxPoint& position = wxDefaultPosition,
                    const wxSize& size = wxDefaultSize);

    // Fills the list from the manager and selects the entry named preferred, else the current
    // language (entry 0 when none is current); makes it current and relabels the parent window.
    void Fill(const std::wstring& preferred = {});
    // The user's choice of an entry, as a selection in the list makes it.
    void Choose(int index);
    // Called after every switch, once the windows are relabelled.
    void SetOnSwitched(std::function<void()> onSwitched) { onSwitched_ = std::move(onSwitched); }

private:
    void RebuildEntries(int selected);

    std::function<void()> onSwitched_;
};

// Relabels every top-level window of the program after a language switch.
void RelabelAllWindows();

}  // namespace quilmer
