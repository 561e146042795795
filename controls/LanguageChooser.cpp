#include "controls/LanguageChooser.h"

#include "controls/TranslateWindowTree.h"
#include "controls/WxText.h"
#include "lang/LanguageManager.h"

#include <wx/toplevel.h>

#include <vector>

namespace quilmer {

namespace {

wxBitmap FlagBitmap(const std::wstring& file) {
    if (file.empty() || !IsLoadableBitmap(file)) return wxBitmap();
    wxBitmap flag(PathToWx(file), wxBITMAP_TYPE_BMP);
    if (!flag.IsOk()) return wxBitmap();
    flag.SetMask(new wxMask(flag, wxColour(255, 0, 255)));
    return flag;
}

}  // namespace

void RelabelAllWindows() {
    for (wxWindow* window : wxTopLevelWindows) TranslateWindowTree(window);
}

LanguageChooser::LanguageChooser(wxWindow* parent, wxWindowID id, const wxPoint& position, const wxSize& size)
    : wxBitmapComboBox(parent, id, wxEmptyString, position, size, 0, nullptr, wxCB_READONLY) {
    Bind(wxEVT_COMBOBOX, [this](wxCommandEvent& event) { Choose(event.GetSelection()); });
}

void LanguageChooser::Fill(const std::wstring& preferred) {
    LanguageManager& languages = LanguageManager::Instance();
    Clear();
    std::vector<std::wstring> iconFiles = languages.IconFiles();
    int selected = -1;
    for (std::size_t i = 0; i < languages.LanguageCount(); ++i) {
        LanguageEntry entry = languages.LanguageAt(i);
        wxBitmap flag;
        if (entry.icon >= 0 && static_cast<std::size_t>(entry.icon) < iconFiles.size())
            flag = FlagBitmap(iconFiles[static_cast<std::size_t>(entry.icon)]);
        Append(ToWx(languages.ChooserText(i)), flag);
        if (!preferred.empty() && entry.name == preferred) selected = static_cast<int>(i);
    }
    if (selected < 0) {
        selected = 0;
        for (std::size_t i = 0; i < languages.LanguageCount(); ++i)
            if (languages.IsCurrent(i)) selected = static_cast<int>(i);
    }
    if (GetCount() == 0) return;
    SetSelection(selected);
    languages.SelectLanguage(static_cast<std::size_t>(selected));
    TranslateWindowTree(wxGetTopLevelParent(this));
    RelabelEntries();
}

void LanguageChooser::Choose(int index) {
    LanguageManager& languages = LanguageManager::Instance();
    if (index < 0 || static_cast<std::size_t>(index) >= languages.LanguageCount()) return;
    if (GetSelection() != index) SetSelection(index);
    if (languages.IsCurrent(static_cast<std::size_t>(index))) return;
    languages.SelectLanguage(static_cast<std::size_t>(index));
    RelabelAllWindows();
    RelabelEntries();
    if (onSwitched_) onSwitched_();
}

void LanguageChooser::RelabelEntries() {
    const LanguageManager& languages = LanguageManager::Instance();
    int selection = GetSelection();
    for (unsigned i = 0; i < GetCount() && i < languages.LanguageCount(); ++i) SetString(i, ToWx(languages.ChooserText(i)));
    if (selection >= 0) SetSelection(selection);
}

}  // namespace quilmer
