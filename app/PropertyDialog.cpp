#include "app/PropertyDialog.h"

#include <wx/button.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <algorithm>

#include "app/PlayClip.h"
#include "controls/TranslateWindowTree.h"
#include "controls/WindowSkin.h"
#include "controls/WxText.h"

namespace quilmer {

PropertyDialog::PropertyDialog(wxWindow* owner, const ClipProperties& record, int resultFlag)
    : wxDialog(owner, wxID_ANY, wxS("Property")), record_(record), resultFlag_(resultFlag) {
    auto dlu = [this](int x, int y) { return wxDLG_UNIT(this, wxPoint(x, y)); };
    auto dlus = [this](int w, int h) { return wxDLG_UNIT(this, wxSize(w, h)); };

    struct Row {
        const wchar_t* label;
        int id;
        const std::wstring& value;
    };
    const Row rows[] = {
        {L"File name:", kIdPropFileName, record.path},
        {L"Type:", kIdPropType, record.format},
        {L"Video dimensions:", kIdPropDimensions, record.resolution},
        {L"Bitrate:", kIdPropBitrate, record.bitrate},
        {L"Frame rate:", kIdPropFrameRate, record.frameRate},
        {L"Duration:", kIdPropDuration, record.duration},
        {L"Video codec:", kIdPropVideoCodec, record.videoCodec},
        {L"Audio codec:", kIdPropAudioCodec, record.audioCodec},
        {L"Audio Bitrate:", kIdPropAudioBitrate, record.audioBitrate},
    };
    int y = 10;
    for (const auto& row : rows) {
        labels_.push_back(new wxStaticText(this, wxID_ANY, row.label, dlu(7, y + 2), dlus(60, 9),
                                           wxALIGN_RIGHT | wxST_NO_AUTORESIZE | wxST_ELLIPSIZE_END));
        if (row.id == kIdPropFileName) {
            // Long paths scroll inside the field.
            rightColumn_.push_back(
                new wxTextCtrl(this, row.id, ToWx(row.value), dlu(70, y), dlus(120, 12), wxTE_READONLY));
        } else {
            rightColumn_.push_back(new wxStaticText(this, row.id, ToWx(row.value), dlu(70, y + 2),
                                                    dlus(120, 9), wxST_NO_AUTORESIZE));
        }
        y += 20;
    }
    auto* play = new wxButton(this, kIdPropPlay, wxS("Play..."), dlu(70, 189), dlus(55, 14));
    auto* close = new wxButton(this, kIdPropClose, wxS("&Close"), dlu(135, 189), dlus(55, 14));
    close->SetDefault();
    rightColumn_.push_back(play);
    rightColumn_.push_back(close);
    SetClientSize(dlus(200, 210));
    SetEscapeId(kIdPropClose);
    SetAffirmativeId(kIdPropClose);
    play->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { PlayClip(this, record_.path); });
    close->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { Finish(); });
    Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent&) { Finish(); });
    // 239 is accepted and ignored.
    Bind(
        wxEVT_BUTTON, [](wxCommandEvent&) {}, 239);
    AttachSkin(this);
    TranslateWindowTree(this);
    Layout();
    CentreOnParent();
}

bool PropertyDialog::Layout() {
    if (labels_.empty()) return wxDialog::Layout();
    const int column = wxDLG_UNIT(this, wxSize(60, 0)).x;
    int needed = column;
    for (auto* label : labels_)
        needed = std::max(needed, GetTextExtent(label->GetLabelText()).x + FromDIP(4));
    const int extra = needed - column;
    if (extra != widened_) {
        const int shift = extra - widened_;
        widened_ = extra;  // before the resize, whose size event lays the dialog out again
        for (auto* label : labels_) label->SetSize(label->GetSize().x + shift, -1);
        for (auto* control : rightColumn_) control->Move(control->GetPosition() + wxPoint(shift, 0));
        SetClientSize(GetClientSize() + wxSize(shift, 0));
    }
    return wxDialog::Layout();
}

void PropertyDialog::Finish() {
    if (IsModal())
        EndModal(1);
    else
        Destroy();
}

int PropertyDialog::Open(wxWindow* owner, const ClipProperties& record, int resultFlag) {
    PropertyDialog dialog(owner, record, resultFlag);
    return dialog.ShowModal();
}

}  // namespace quilmer
