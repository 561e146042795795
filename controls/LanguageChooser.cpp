#include "controls/LanguageChooser.h"

#include <wx/image.h>
#include <wx/log.h>
#include <wx/mstream.h>
#include <wx/toplevel.h>

#include <vector>

#include "controls/TranslateWindowTree.h"
#include "controls/WxText.h"
#include "lang/LanguageManager.h"

namespace quilmer {

namespace {

wxBitmap FlagBitmap(const std::wstring& file) {
    std::string bytes;
    // Decoded from the bytes that were checked: the file is not opened a second time.
    if (file.empty() || !ReadFlagBitmap(file, bytes)) return wxBitmap();
    wxLogNull quiet;
    wxMemoryInputStream in(bytes.data(), bytes.size());
    wxImage image(in, wxBITMAP_TYPE_BMP);
    if (!image.IsOk()) return wxBitmap();
    wxBitmap flag(image);
    if (!flag.IsOk()) return wxBitmap();
    flag.SetMask(new wxMask(flag, wxColour(255, 0, 255)));
    return flag;
}

// GTK draws a tab in a combo box entry as a gap of unknown width that can push the text out of
// the box; a few blanks keep the name and "[name]" apart instead.
wxString EntryText(const std::wstring& text) {
    std::wstring shown = text;
    if (auto tab = shown.find(L'\t'); tab != std::wstring::npos) shown.replace(tab, 1, L"   ");
    return ToWx(shown);
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
    int selected = -1;
    for (std::size_t i = 0; i < languages.LanguageCount(); ++i)
        if (!preferred.empty() && languages.LanguageAt(i).name == preferred) selected = static_cast<int>(i);
    if (selected < 0) {
        selected = 0;
        for (std::size_t i = 0; i < languages.LanguageCount(); ++i)
            if (languages.IsCurrent(i)) selected = static_cast<int>(i);
    }
    if (languages.LanguageCount() == 0) return;
    languages.SelectLanguage(static_cast<std::size_t>(selected));
    TranslateWindowTree(wxGetTopLevelParent(this));
    RebuildEntries(selected);
}

void LanguageChooser::Choose(int index) {
    LanguageManager& languages = LanguageManager::Instance();
    if (index < 0 || static_cast<std::size_t>(index) >= languages.LanguageCount()) return;
    if (GetSelection() != index) SetSelection(index);
    if (languages.IsCurrent(static_cast<std::size_t>(index))) return;
    languages.SelectLanguage(static_cast<std::size_t>(index));
    RelabelAllWindows();
    RebuildEntries(index);
    if (onSwitched_) onSwitched_();
}

void LanguageChooser::RebuildEntries(int selected) {
    // The entries are made anew: on GTK a changed text of an entry with an image is not redrawn.
    const LanguageManager& languages = LanguageManager::Instance();
    std::vector<std::wstring> iconFiles = languages.IconFiles();
    Freeze();
    Clear();
    for (std::size_t i = 0; i < languages.LanguageCount(); ++i) {
        LanguageEntry entry = languages.LanguageAt(i);
        wxBitmap flag;
        if (entry.icon >= 0 && static_cast<std::size_t>(entry.icon) < iconFiles.size())
            flag = FlagBitmap(iconFiles[static_cast<std::size_t>(entry.icon)]);
        Append(EntryText(languages.ChooserText(i)), flag);
    }
    if (selected >= 0 && static_cast<unsigned>(selected) < GetCount()) SetSelection(selected);
    Thaw();
}

}  // namespace quilmer
