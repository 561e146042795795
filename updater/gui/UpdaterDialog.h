#pragma once
// The updater's window: the banner, the line naming the old and the new version, the progress
// bar, the package address and size, Pause/Resume and Cancel, and a status bar. It shows what the
// download controller (updater/UpdaterController.h) reports; the controller does the work.

#include <wx/frame.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "controls/WxEventLoop.h"
#include "updater/UpdaterController.h"

class wxButton;
class wxGauge;
class wxStaticText;

namespace quilmer {

enum UpdaterWindowId : int {
    kIdUpdaterCancel = 2,
    kIdUpdaterProgress = 1000,
    kIdUpdaterSize = 1007,
    kIdUpdaterUrl = 1008,
    kIdUpdaterPause = 1009,
    kIdUpdaterVersions = 1012,
    kIdUpdaterAdvice = 1013,
};

class UpdaterDialog : public wxFrame, private UpdaterView {
public:
    // Builds the window in the language the arguments name, relabelled and skinned. The
    // controller starts when Start() is called: the first step one period later.
    UpdaterDialog(DownloadEnvironment env, std::uint32_t restartPeriodMs = UpdaterController::kRestartPeriodMs);
    ~UpdaterDialog() override;

    void Start();
    // Called once with the window's result when it ends (2), before it is destroyed.
    void SetEndedHandler(std::function<void(int)> handler) { ended_ = std::move(handler); }

    UpdaterController& Controller() { return *controller_; }
    std::wstring StatusText() const;
    std::wstring AdviceText() const;
    std::wstring SizeText() const;
    std::wstring UrlText() const;
    std::wstring VersionText() const;
    std::wstring PauseLabel() const;
    int Progress() const;
    bool PauseEnabled() const;

private:
    // UpdaterView
    void SetUrlText(const std::wstring& text) override;
    void SetSizeText(const std::wstring& text) override;
    void SetProgress(int percent) override;
    void SetStatusText(const std::wstring& text, bool isError) override;
    void EnablePause(bool enable) override;
    void Trace(const std::string& line) override;
    void SetPauseLabel(const std::wstring& text) override;
    void EndDialog(int result) override;
    void StepEnded(StepOutcome outcome) override;

    void BuildControls(const std::wstring& versionLine);
    void OnClose(wxCloseEvent& event);

    WxEventLoop loop_;
    std::unique_ptr<UpdaterController> controller_;
    wxGauge* progress_ = nullptr;
    wxStaticText* versions_ = nullptr;
    wxStaticText* url_ = nullptr;
    wxStaticText* size_ = nullptr;
    wxStaticText* advice_ = nullptr;
    wxButton* pause_ = nullptr;
    wxButton* cancel_ = nullptr;
    std::function<void(int)> ended_;
    bool ending_ = false;
};

}  // namespace quilmer
