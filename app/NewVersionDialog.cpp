#include "app/NewVersionDialog.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/sizer.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "controls/HyperLink.h"
#include "controls/TranslateWindowTree.h"
#include "controls/WindowSkin.h"
#include "controls/WxText.h"
#include "foundation/Strings.h"
#include "foundation/TextTranslator.h"
#include "update/VersionCheck.h"
#include "web/core/WebRules.h"

namespace quilmer {

namespace {

wxTextCtrl* ReadOnlyField(wxWindow* parent, int id, const std::wstring& text) {
    return new wxTextCtrl(parent, id, ToWx(text), wxDefaultPosition, wxSize(150, -1), wxTE_READONLY);
}

}  // namespace

NewVersionDialog::NewVersionDialog(wxWindow* owner, const Offer& offer)
    : wxDialog(owner, wxID_ANY, wxEmptyString), offer_(offer) {
    // "New Version of %s": the pattern is translated, the product name goes in afterwards.
    std::wstring caption = Tr(L"New Version of %s");
    ReplaceAll(caption, L"%s", L"Quilmer(corvane)");
    SetTitle(ToWx(caption));
    offer_.buildDate = FormatReleaseDate(offer.buildDate);

    auto* all = new wxBoxSizer(wxVERTICAL);

    auto* latestBox = new wxStaticBoxSizer(wxVERTICAL, this, wxS("A more recent version is available"));
    auto* latest = new wxFlexGridSizer(2, 6, 8);
    latest->AddGrowableCol(1);
    latest->Add(new wxStaticText(latestBox->GetStaticBox(), wxID_ANY, wxS("Latest Version:")), 0,
                wxALIGN_CENTRE_VERTICAL);
    latest->Add(ReadOnlyField(latestBox->GetStaticBox(), kIdNewVersion, offer_.newestVersion), 1, wxEXPAND);
    latest->Add(new wxStaticText(latestBox->GetStaticBox(), wxID_ANY, wxS("Release Date:")), 0,
                wxALIGN_CENTRE_VERTICAL);
    latest->Add(ReadOnlyField(latestBox->GetStaticBox(), kIdNewReleaseDate, offer_.newestReleaseDate), 1,
                wxEXPAND);
    latestBox->Add(latest, 0, wxEXPAND | wxALL, 6);
    link_ = new HyperLink(latestBox->GetStaticBox(), kIdUpdateLink);
    // The address comes from the descriptor: the link opens it in the desktop's browser only when
    // it is a web address (another scheme could name a local file or start a handler program).
    const bool web = IsWebAddress(offer_.downloadUrl);
    link_->SetLink(Tr(L"Do you wish to update now?"), web ? offer_.downloadUrl : std::wstring());
    link_->Enable(web);
    latestBox->Add(link_, 0, wxALL, 6);
    all->Add(latestBox, 0, wxEXPAND | wxALL, 10);

    auto* currentBox = new wxStaticBoxSizer(wxVERTICAL, this, wxS("Current"));
    auto* current = new wxFlexGridSizer(2, 6, 8);
    current->AddGrowableCol(1);
    current->Add(new wxStaticText(currentBox->GetStaticBox(), wxID_ANY, wxS("Current Version:")), 0,
                 wxALIGN_CENTRE_VERTICAL);
    current->Add(ReadOnlyField(currentBox->GetStaticBox(), kIdCurrentVersion, offer_.currentVersion), 1,
                 wxEXPAND);
    current->Add(new wxStaticText(currentBox->GetStaticBox(), wxID_ANY, wxS("Release Date:")), 0,
                 wxALIGN_CENTRE_VERTICAL);
    current->Add(ReadOnlyField(currentBox->GetStaticBox(), kIdCurrentReleaseDate, offer_.buildDate), 1,
                 wxEXPAND);
    currentBox->Add(current, 0, wxEXPAND | wxALL, 6);
    all->Add(currentBox, 0, wxEXPAND | wxLEFT | wxRIGHT, 10);

    auto* bottom = new wxBoxSizer(wxHORIZONTAL);
    dontRemind_ = new wxCheckBox(this, kIdDontRemind, wxS("Don't &remind me again"));
    dontRemind_->SetValue(offer.dontRemind);
    bottom->Add(dontRemind_, 1, wxALIGN_CENTRE_VERTICAL);
    auto* ok = new wxButton(this, wxID_OK, wxS("OK"));
    ok->SetDefault();
    bottom->Add(ok, 0);
    all->Add(bottom, 0, wxEXPAND | wxALL, 10);

    SetSizerAndFit(all);
    SetEscapeId(wxID_CANCEL);
    CentreOnParent();
    AttachSkin(this);
    TranslateWindowTree(this);

    Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { Accept(); }, wxID_OK);
    // The link accepts too: it leads to the update, not to a page.
    link_->Bind(wxEVT_HYPERLINK, [this](wxHyperlinkEvent&) { Accept(); });
}

bool NewVersionDialog::DontRemind() const { return dontRemind_->GetValue(); }

void NewVersionDialog::Accept() {
    // The fields are read-only; what the user accepted is what was offered.
    EndDialog(wxID_OK);
}

}  // namespace quilmer
