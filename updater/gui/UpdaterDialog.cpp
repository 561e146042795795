#include "updater/gui/UpdaterDialog.h"

#include <wx/button.h>
#include <wx/dcbuffer.h>
#include <wx/gauge.h>
#include <wx/panel.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/statusbr.h>

#include <algorithm>
#include <cstdio>

#include "controls/TranslateWindowTree.h"
#include "controls/WindowSkin.h"
#include "controls/WxText.h"
#include "foundation/TextTranslator.h"
#include "lang/LanguageManager.h"
#include "updater/TransferTexts.h"
#include "updater/gui/Banner.h"

namespace quilmer {

namespace {

// The banner, drawn at its natural size at the top left of the window.
class BannerPanel : public wxPanel {
public:
    explicit BannerPanel(wxWindow* parent)
        : wxPanel(parent, wxID_ANY, wxDefaultPosition, wxSize(kBannerWidth, kBannerHeight)),
          bitmap_(MakeUpdaterBanner()) {
        SetMinSize(wxSize(kBannerWidth, kBannerHeight));
        SetBackgroundStyle(wxBG_STYLE_PAINT);
        Bind(wxEVT_PAINT, [this](wxPaintEvent&) {
            wxAutoBufferedPaintDC dc(this);
            dc.SetBackground(wxBrush(GetParent()->GetBackgroundColour()));
            dc.Clear();
            dc.DrawBitmap(bitmap_, 0, 0);
        });
    }

private:
    wxBitmap bitmap_;
};

}  // namespace

UpdaterDialog::UpdaterDialog(DownloadEnvironment env, std::uint32_t restartPeriodMs)
    : wxFrame(nullptr, wxID_ANY, wxS("Updater"), wxDefaultPosition, wxDefaultSize,
              wxDEFAULT_FRAME_STYLE & ~(wxRESIZE_BORDER | wxMAXIMIZE_BOX)) {
    // The language the main program shows (its setting, so the setting stays as it is).
    if (!env.args.language.empty()) LanguageManager::Instance().SwitchLanguage(env.args.language, false);
    const UpdaterArgs args = env.args;
    controller_ = std::make_unique<UpdaterController>(loop_, std::move(env), static_cast<UpdaterView&>(*this),
                                                      restartPeriodMs);

    BuildControls(args.VersionLine());
    TranslateWindowTree(this);
    SetTitle(ToWx(UpdaterCaption()));
    progress_->SetRange(100);
    Layout();
    GetSizer()->SetSizeHints(this);
    CentreOnScreen();
    AttachSkin(this);
    Bind(wxEVT_CLOSE_WINDOW, &UpdaterDialog::OnClose, this);
    // The window is a frame: Escape is its Cancel, as in a dialog.
    Bind(wxEVT_CHAR_HOOK, [this](wxKeyEvent& event) {
        if (event.GetKeyCode() == WXK_ESCAPE && !event.HasAnyModifiers() && !ending_) {
            controller_->Cancel();
            return;
        }
        event.Skip();
    });
}

UpdaterDialog::~UpdaterDialog() {
    // Stops a running step (it keeps its partial file) before the controls go.
    controller_.reset();
}

void UpdaterDialog::BuildControls(const std::wstring& versionLine) {
    auto* panel = new wxPanel(this);
    auto* columns = new wxBoxSizer(wxHORIZONTAL);
    columns->Add(new BannerPanel(panel), 0, wxALL, 0);

    auto* right = new wxBoxSizer(wxVERTICAL);
    // Already in the chosen language: made of translated parts and the two versions.
    versions_ = new wxStaticText(panel, kIdUpdaterVersions, ToWx(versionLine), wxDefaultPosition, wxDefaultSize,
                                 wxALIGN_CENTRE_HORIZONTAL);
    right->Add(versions_, 0, wxEXPAND | wxBOTTOM, 8);
    right->Add(360, 0);  // the least width of the column
    progress_ = new wxGauge(panel, kIdUpdaterProgress, 100, wxDefaultPosition, wxSize(360, 18));
    right->Add(progress_, 0, wxEXPAND | wxBOTTOM, 10);

    auto* grid = new wxFlexGridSizer(2, 6, 8);
    grid->AddGrowableCol(1);
    grid->Add(new wxStaticText(panel, wxID_ANY, wxS("Download URL:")));
    url_ = new wxStaticText(panel, kIdUpdaterUrl, wxEmptyString, wxDefaultPosition, wxDefaultSize,
                            wxST_ELLIPSIZE_MIDDLE | wxST_NO_AUTORESIZE);
    grid->Add(url_, 1, wxEXPAND);
    grid->Add(new wxStaticText(panel, wxID_ANY, wxS("File Size:")));
    size_ = new wxStaticText(panel, kIdUpdaterSize, wxEmptyString);
    grid->Add(size_, 1, wxEXPAND);
    right->Add(grid, 0, wxEXPAND | wxBOTTOM, 8);

    advice_ = new wxStaticText(panel, kIdUpdaterAdvice, wxEmptyString);
    advice_->SetForegroundColour(wxColour(176, 0, 0));
    right->Add(advice_, 0, wxEXPAND | wxBOTTOM, 8);
    right->AddStretchSpacer();

    auto* buttons = new wxBoxSizer(wxHORIZONTAL);
    buttons->AddStretchSpacer();
    pause_ = new wxButton(panel, kIdUpdaterPause, wxS("Pau&se"));
    cancel_ = new wxButton(panel, kIdUpdaterCancel, wxS("Cancel"));
    buttons->Add(pause_, 0, wxRIGHT, 8);
    buttons->Add(cancel_, 0);
    right->Add(buttons, 0, wxEXPAND);

    columns->Add(right, 1, wxEXPAND | wxALL, 10);
    panel->SetSizer(columns);

    auto* frameSizer = new wxBoxSizer(wxVERTICAL);
    frameSizer->Add(panel, 1, wxEXPAND);
    SetSizer(frameSizer);
    CreateStatusBar(1, wxSTB_SIZEGRIP & 0);

    pause_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { controller_->TogglePause(); });
    cancel_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { controller_->Cancel(); });
}

void UpdaterDialog::Start() { controller_->Start(); }

void UpdaterDialog::OnClose(wxCloseEvent&) {
    if (ending_) return;
    // The close box is Cancel: the partial file stays for the next run.
    controller_->Cancel();
}

void UpdaterDialog::SetUrlText(const std::wstring& text) {
    url_->SetLabel(ToWx(text));
    url_->SetToolTip(ToWx(text));
}
void UpdaterDialog::SetSizeText(const std::wstring& text) { size_->SetLabel(ToWx(text)); }
void UpdaterDialog::SetProgress(int percent) { progress_->SetValue(percent); }
void UpdaterDialog::SetStatusText(const std::wstring& text, bool isError) {
    GetStatusBar()->SetStatusText(ToWx(text));
    if (!isError) advice_->SetLabel(wxEmptyString);
}
void UpdaterDialog::EnablePause(bool enable) { pause_->Enable(enable); }
void UpdaterDialog::Trace(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}
void UpdaterDialog::SetPauseLabel(const std::wstring& text) { pause_->SetLabel(ToWx(text)); }

void UpdaterDialog::StepEnded(StepOutcome outcome) {
    std::wstring advice = FailureAdvice(outcome);
    advice_->SetLabel(ToWx(advice));
    advice_->Wrap(std::max(360, versions_->GetSize().GetWidth()));
    if (!advice.empty()) {
        GetSizer()->SetSizeHints(this);
        Layout();
    }
}

void UpdaterDialog::EndDialog(int result) {
    if (ending_) return;
    ending_ = true;
    if (ended_) ended_(result);
    Destroy();
}

std::wstring UpdaterDialog::StatusText() const { return GetStatusBar()->GetStatusText().ToStdWstring(); }
std::wstring UpdaterDialog::AdviceText() const { return advice_->GetLabel().ToStdWstring(); }
std::wstring UpdaterDialog::SizeText() const { return size_->GetLabel().ToStdWstring(); }
std::wstring UpdaterDialog::UrlText() const { return url_->GetLabel().ToStdWstring(); }
std::wstring UpdaterDialog::VersionText() const { return versions_->GetLabel().ToStdWstring(); }
std::wstring UpdaterDialog::PauseLabel() const { return pause_->GetLabel().ToStdWstring(); }
int UpdaterDialog::Progress() const { return progress_->GetValue(); }
bool UpdaterDialog::PauseEnabled() const { return pause_->IsEnabled(); }

}  // namespace quilmer
