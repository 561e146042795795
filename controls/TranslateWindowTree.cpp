#include "controls/TranslateWindowTree.h"

#include <wx/choice.h>
#include <wx/combobox.h>
#include <wx/control.h>
#include <wx/frame.h>
#include <wx/hyperlink.h>
#include <wx/listctrl.h>
#include <wx/menu.h>
#include <wx/textctrl.h>
#include <wx/tooltip.h>
#include <wx/toplevel.h>

#include "controls/WxText.h"
#include "lang/LanguageManager.h"

namespace quilmer {

namespace {

wxString Translated(const LanguageManager& manager, const wxString& text) {
    return ToWx(manager.Translate(text.ToStdWstring()));
}

void TranslateColumns(wxListCtrl* list, const LanguageManager& manager) {
    if (!list->InReportView()) return;
    for (int column = 0; column < list->GetColumnCount(); ++column) {
        wxListItem item;
        item.SetMask(wxLIST_MASK_TEXT);
        if (!list->GetColumn(column, item) || item.GetText().empty()) continue;
        item.SetText(Translated(manager, item.GetText()));
        item.SetMask(wxLIST_MASK_TEXT);
        list->SetColumn(column, item);
    }
}

void TranslateOne(wxWindow* window, const LanguageManager& manager) {
    if (auto* top = dynamic_cast<wxTopLevelWindow*>(window)) {
        if (window->GetName() != kMainWindowName && !top->GetTitle().empty())
            top->SetTitle(Translated(manager, top->GetTitle()));
        if (auto* frame = dynamic_cast<wxFrame*>(window); frame && frame->GetMenuBar()) {
            wxMenuBar* bar = frame->GetMenuBar();
            for (size_t i = 0; i < bar->GetMenuCount(); ++i) {
                bar->SetMenuLabel(i, ToWx(manager.TranslateMenuText(bar->GetMenuLabel(i).ToStdWstring())));
                TranslateMenu(bar->GetMenu(i), manager);
            }
        }
    } else if (dynamic_cast<wxComboBox*>(window) || dynamic_cast<wxChoice*>(window) ||
               dynamic_cast<wxTextCtrl*>(window)) {
        // data, not labels
    } else if (auto* list = dynamic_cast<wxListCtrl*>(window)) {
        TranslateColumns(list, manager);
    } else if (auto* link = dynamic_cast<wxHyperlinkCtrl*>(window)) {
        if (!link->GetLabel().empty()) link->SetLabel(Translated(manager, link->GetLabel()));
        link->Refresh();
    } else if (auto* control = dynamic_cast<wxControl*>(window)) {
        if (!control->GetLabel().empty()) control->SetLabel(Translated(manager, control->GetLabel()));
    }
    if (wxToolTip* tip = window->GetToolTip(); tip && !tip->GetTip().empty())
        window->SetToolTip(Translated(manager, tip->GetTip()));
}

void TranslateTree(wxWindow* window, const LanguageManager& manager) {
    TranslateOne(window, manager);
    for (wxWindow* child : window->GetChildren()) {
        // Dialogs owned by this window are relabelled as windows of their own.
        if (!child->IsTopLevel()) TranslateTree(child, manager);
    }
}

}  // namespace

void TranslateMenu(wxMenu* menu, const LanguageManager& manager) {
    if (!menu) return;
    for (wxMenuItem* item : menu->GetMenuItems()) {
        if (item->IsSeparator() || item->GetId() == 0) continue;
        wxString text = item->GetItemLabel();
        if (!text.empty()) item->SetItemLabel(ToWx(manager.TranslateMenuText(text.ToStdWstring())));
        if (item->IsSubMenu()) TranslateMenu(item->GetSubMenu(), manager);
    }
}

void TranslateWindowTree(wxWindow* window, const LanguageManager* manager) {
    if (!window) return;
    const LanguageManager& languages = manager ? *manager : LanguageManager::Instance();
    if (!languages.NeedsRelabel()) return;
    window->Freeze();
    TranslateTree(window, languages);
    window->Thaw();
    window->Layout();
}

}  // namespace quilmer
