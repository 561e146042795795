#include "controls/MessageBoxes.h"

#include <wx/app.h>
#include <wx/artprov.h>
#include <wx/button.h>
#include <wx/msgdlg.h>
// After msgdlg.h, which it builds on.
#include <wx/generic/msgdlgg.h>
#include <wx/sizer.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/thread.h>

#include <cstdio>
#include <cstdlib>

#include "controls/TranslateWindowTree.h"
#include "controls/WindowDressing.h"
#include "controls/WindowSkin.h"
#include "controls/WxText.h"
#include "foundation/FileUtil.h"
#include "foundation/Log.h"
#include "foundation/TextTranslator.h"

namespace quilmer {

namespace {

wxWindow* ActiveParent() {
    wxWindow* active = wxGetActiveWindow();
    if (active) return wxGetTopLevelParent(active);
    return wxTheApp ? wxTheApp->GetTopWindow() : nullptr;
}

void EchoMessage(const std::wstring& text, const std::wstring& caption) {
    const char* echo = std::getenv("QUILMER_ECHO_MESSAGES");
    if (!echo || !*echo) return;
    // Names in a message keep their bytes.
    std::string line = "message: " + NativePath(caption) + ": " + NativePath(text) + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

}  // namespace

void InstallMessageBoxes() {
    SetShowHandler([](const std::wstring& text, const std::wstring& caption) {
        // A worker's message waits for the GUI thread.
        if (!wxIsMainThread()) {
            if (wxTheApp)
                wxTheApp->CallAfter([text, caption] { ShowMessage(ActiveParent(), text, caption); });
            return;
        }
        ShowMessage(ActiveParent(), text, caption);
    });
}

void ShowMessage(wxWindow* parent, const std::wstring& text, const std::wstring& caption,
                 const std::wstring& details) {
    EchoMessage(text, caption);
    if (details.empty()) {
        // The toolkit's own box runs a loop of its own that EndModal cannot end; this one can
        // (a window that closes ends the dialogs over it first).
        wxGenericMessageDialog box(parent, ToWx(text), ToWx(caption), wxOK | wxICON_INFORMATION);
        box.SetOKLabel(ToWx(Tr(L"OK")));
        DressWindow(&box);
        box.ShowModal();
        return;
    }
    DetailsDialog dialog(parent, text, caption, details);
    dialog.ShowModal();
}

bool AskYesNo(wxWindow* parent, const std::wstring& text, const std::wstring& caption) {
    EchoMessage(text, caption);
    wxGenericMessageDialog box(parent, ToWx(text), ToWx(caption), wxYES_NO | wxNO_DEFAULT | wxICON_QUESTION);
    box.SetYesNoLabels(ToWx(Tr(L"&Yes")), ToWx(Tr(L"&No")));
    DressWindow(&box);
    return box.ShowModal() == wxID_YES;
}

DetailsDialog::DetailsDialog(wxWindow* parent, const std::wstring& text, const std::wstring& caption,
                             const std::wstring& details)
    : wxDialog(parent, wxID_ANY, ToWx(caption), wxDefaultPosition, wxDefaultSize,
               wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER) {
    auto* top = new wxBoxSizer(wxHORIZONTAL);
    top->Add(
        new wxStaticBitmap(this, wxID_ANY, wxArtProvider::GetBitmap(wxART_INFORMATION, wxART_MESSAGE_BOX)), 0,
        wxALL, 10);
    auto* message = new wxStaticText(this, wxID_ANY, ToWx(text));
    message->Wrap(FromDIP(360));
    top->Add(message, 1, wxALL | wxALIGN_CENTER_VERTICAL, 10);

    details_ = new wxTextCtrl(this, wxID_ANY, ToWx(details), wxDefaultPosition, FromDIP(wxSize(420, 120)),
                              wxTE_MULTILINE | wxTE_READONLY | wxHSCROLL);
    details_->Hide();

    auto* buttons = new wxBoxSizer(wxHORIZONTAL);
    toggle_ = new wxButton(this, kIdToggleDetails, Tr(L"Show details"));
    buttons->Add(toggle_, 0, wxRIGHT, 10);
    buttons->AddStretchSpacer();
    auto* ok = new wxButton(this, wxID_OK, Tr(L"OK"));
    ok->SetDefault();
    buttons->Add(ok);

    auto* column = new wxBoxSizer(wxVERTICAL);
    column->Add(top, 0, wxEXPAND);
    column->Add(details_, 1, wxEXPAND | wxLEFT | wxRIGHT, 10);
    column->Add(buttons, 0, wxEXPAND | wxALL, 10);
    SetSizerAndFit(column);
    SetEscapeId(wxID_OK);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { ToggleDetails(); }, kIdToggleDetails);
    AttachSkin(this);
    TranslateWindowTree(this);
}

bool DetailsDialog::DetailsShown() const { return details_->IsShown(); }

void DetailsDialog::ToggleDetails() {
    bool show = !details_->IsShown();
    details_->Show(show);
    // The button's current text is relabelled, so it goes through the translator too.
    toggle_->SetLabel(Tr(show ? L"Hide details" : L"Show details"));
    GetSizer()->SetSizeHints(this);
    Layout();
}

}  // namespace quilmer
