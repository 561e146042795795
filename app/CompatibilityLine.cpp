#include "app/CompatibilityLine.h"

#include <wx/button.h>
#include <wx/dialog.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "controls/TranslateWindowTree.h"
#include "controls/WxText.h"
#include "foundation/TextTranslator.h"

namespace quilmer {

CompatibilityLine::CompatibilityLine(wxWindow* parent, EventLoop& loop, const wxRect& textRect,
                                     const wxRect& buttonRect)
    : parent_(parent) {
    text_ = new wxStaticText(parent, kIdCompatibilityText, wxEmptyString, textRect.GetPosition(), textRect.GetSize(),
                             wxST_NO_AUTORESIZE | wxST_ELLIPSIZE_END);
    details_ = new wxButton(parent, kIdCompatibilityDetails, wxS("&Details..."), buttonRect.GetPosition(),
                            buttonRect.GetSize());
    details_->Disable();
    details_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { ShowDetails(); });
    watch_ = std::make_unique<CompatibilityWatch>(loop, [this](const ClipListCheck& check) { Show(check); });
}

CompatibilityLine::~CompatibilityLine() { watch_->Abandon(); }

void CompatibilityLine::Update(const std::vector<std::wstring>& clips) {
    if (clips == clips_ && (last_ || watch_->IsRunning())) return;
    clips_ = clips;
    Start();
}

void CompatibilityLine::Recheck() {
    if (!clips_.empty()) Start();
}

void CompatibilityLine::Start() {
    last_.reset();
    details_->Disable();
    text_->UnsetToolTip();
    if (clips_.empty()) {
        watch_->Abandon();
        text_->SetLabel(wxEmptyString);
        return;
    }
    text_->SetLabel(wxControl::EscapeMnemonics(ToWx(CompatibilityCheckingText())));
    // The save dialog offers the first clip's own format first, else FLV.
    if (!watch_->Check(clips_, AssumedTarget(clips_, L"flv"))) text_->SetLabel(wxEmptyString);
}

void CompatibilityLine::Show(const ClipListCheck& check) {
    last_ = check;
    const std::wstring line = CompatibilityLineText(check, clips_.size());
    text_->SetLabel(wxControl::EscapeMnemonics(ToWx(line)));
    text_->SetToolTip(ToWx(line));  // a long line ends in "..." and shows whole in the tip
    details_->Enable();
}

std::wstring CompatibilityLine::Text() const { return text_->GetLabelText().ToStdWstring(); }

void CompatibilityLine::ShowDetails() {
    if (!last_) return;
    std::wstring all;
    for (const std::wstring& line : last_->Lines()) all += line + L"\n";
    wxDialog dialog(parent_, wxID_ANY, wxS("Compatibility report"), wxDefaultPosition, wxDefaultSize,
                    wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER);
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    auto* text = new wxTextCtrl(&dialog, wxID_ANY, ToWx(all), wxDefaultPosition, dialog.FromDIP(wxSize(640, 320)),
                                wxTE_MULTILINE | wxTE_READONLY);
    sizer->Add(text, 1, wxEXPAND | wxALL, dialog.FromDIP(8));
    auto* close = new wxButton(&dialog, wxID_CLOSE, wxS("&Close"));
    close->SetDefault();
    sizer->Add(close, 0, wxALIGN_RIGHT | wxLEFT | wxRIGHT | wxBOTTOM, dialog.FromDIP(8));
    close->Bind(wxEVT_BUTTON, [&dialog](wxCommandEvent&) { dialog.EndModal(wxID_CLOSE); });
    dialog.SetEscapeId(wxID_CLOSE);
    dialog.SetSizerAndFit(sizer);
    TranslateWindowTree(&dialog);
    dialog.CentreOnParent();
    dialog.ShowModal();
}

}  // namespace quilmer
