#include "app/AboutDialog.h"

#include <wx/button.h>
#include <wx/statline.h>
#include <wx/stattext.h>

#include "app/core/MainWindowRules.h"
#include "controls/HyperLink.h"
#include "controls/TranslateWindowTree.h"
#include "controls/WindowSkin.h"
#include "controls/WxText.h"
#include "foundation/TextTranslator.h"
#include "foundation/Version.h"
#include "lang/LanguageManager.h"

namespace quilmer {

AboutDialog::AboutDialog(wxWindow* owner) : wxDialog(owner, wxID_ANY, wxS("About")) {
    auto dlu = [this](int x, int y) { return wxDLG_UNIT(this, wxPoint(x, y)); };
    auto dlus = [this](int w, int h) { return wxDLG_UNIT(this, wxSize(w, h)); };

    new wxStaticText(this, kIdAboutTitle, ToWx(Tr(L"Quilmer(corvane)") + L" " + FormatVersion(3)), dlu(10, 8),
                     dlus(186, 9), wxST_NO_AUTORESIZE);
    new wxStaticLine(this, wxID_ANY, dlu(10, 21), dlus(186, 1));
    new wxStaticText(this, wxID_ANY, wxS("Copyright (C) 2026 Corvane. All rights reserved."), dlu(10, 27),
                     dlus(186, 9), wxALIGN_CENTRE_HORIZONTAL | wxST_NO_AUTORESIZE);
    new wxStaticText(this, wxID_ANY, wxS("Powered by:"), dlu(10, 45), dlus(50, 9), wxST_NO_AUTORESIZE);
    auto* site = new HyperLink(this, kIdAboutSiteLink, dlu(62, 44), dlus(134, 10));
    new wxStaticText(this, kIdAboutEmailLabel, wxS("Email:"), dlu(10, 59), dlus(50, 9), wxST_NO_AUTORESIZE);
    auto* mail = new HyperLink(this, kIdAboutEmailLink, dlu(62, 58), dlus(134, 10));
    auto* ok = new wxButton(this, kIdAboutOk, wxS("OK"), dlu(78, 80), dlus(50, 14));
    ok->SetDefault();

    // The link opens the address it shows.
    std::wstring address = SiteLinkAddress(LanguageManager::Instance().CurrentLanguage());
    site->SetLink(address, address);
    mail->SetLink(ContactAddress(), L"mailto:" + ContactAddress());

    SetClientSize(dlus(206, 103));
    SetEscapeId(kIdAboutOk);
    SetAffirmativeId(kIdAboutOk);
    CentreOnParent();
    AttachSkin(this);
    TranslateWindowTree(this);
}

void AboutDialog::Open(wxWindow* owner) {
    AboutDialog dialog(owner);
    dialog.ShowModal();
}

}  // namespace quilmer
