#include "app/UpdateFlow.h"

#include "web/BrowserWindow.h"
#include "lang/LanguageManager.h"

#include <wx/frame.h>
#include <wx/utils.h>

#include "app/MainDlg.h"
#include "app/core/PackagedInstall.h"
#include "controls/MessageBoxes.h"
#include "controls/WxText.h"
#include "foundation/Log.h"
#include "foundation/Settings.h"
#include "foundation/TextTranslator.h"
#include "foundation/Utf8.h"
#include "foundation/WorkerThread.h"
#include "update/UpdateCheck.h"

namespace quilmer {

UpdateFlow::UpdateFlow(wxFrame* window, EventLoop& loop)
    : window_(window), loop_(loop), context_(VersionCheckContext::FromProgram()), alive_(std::make_shared<int>(0)) {
    actions_.offer = [this](const NewVersionDialog::Offer& offer, bool* dontRemind) {
        NewVersionDialog dialog(wxGetActiveWindow() ? wxGetActiveWindow() : window_, offer);
        bool accepted = dialog.ShowModal() == wxID_OK;
        *dontRemind = dialog.DontRemind();
        return accepted;
    };
    actions_.startUpdater = [](const std::wstring& programFolder, const UpdaterLaunch& launch) {
        return StartUpdater(programFolder, launch);
    };
    actions_.tellUser = [this](const std::wstring& text) {
        ShowMessage(window_, text, Tr(L"Quilmer(corvane)"));
    };
    actions_.openBrowser = [](const std::wstring& url, std::function<void()> onClosed) {
        OpenBrowserWindow(url, {}, LanguageManager::Instance().CurrentLanguage(), L"flv", std::move(onClosed));
    };
}

UpdateFlow::~UpdateFlow() {
    alive_.reset();
    if (worker_) worker_->StopAndWait();
}

void UpdateFlow::Start() {
    if (started_) return;
    started_ = true;
    wxFrame* window = window_;
    auto job = MakeUpdateCheck(loop_, context_, std::weak_ptr<const void>(alive_), [window](int flag) {
        auto* event = new wxCommandEvent(EVT_UPDATE_INFO_READY);
        event->SetInt(flag);
        window->GetEventHandler()->QueueEvent(event);
    });
    worker_ = UpdateCheck::MakeWorker(std::move(job));
    if (!worker_->Start()) worker_.reset();  // silent, as every failure of the check
}

void UpdateFlow::Evaluate() {
    UpdateDecision decision = EvaluateUpdateInfo(context_);
    switch (decision.action) {
        case UpdateDecision::Action::Nothing:
            return;
        case UpdateDecision::Action::ShowTipPage:
            // The main window stays hidden; closing the browser window ends the program.
            window_->Hide();
            actions_.openBrowser(decision.tipPageUrl, [window = window_] { window->Close(); });
            return;
        case UpdateDecision::Action::OfferNewVersion:
            break;
    }
    AppSettings& settings = AppSettings::Instance();
    if (settings.sysFlags & kSysFlagDontRemind) return;

    NewVersionDialog::Offer offer;
    offer.newestVersion = decision.newestVersion;
    offer.newestReleaseDate = decision.releaseDate;
    offer.downloadUrl = decision.downloadUrl;
    offer.currentVersion = context_.currentVersion;
    offer.buildDate = context_.buildDate;
    offer.dontRemind = false;
    bool dontRemind = false;
    bool accepted = actions_.offer(offer, &dontRemind);
    if (dontRemind) {
        // Kept across runs: the user asked not to be asked again.
        settings.sysFlags |= kSysFlagDontRemind;
        SettingsStore::Instance().WriteInt(L"Config", L"SysFlags", settings.sysFlags);
    }
    if (!accepted) return;
    if (IsPackagedProgramFolder(context_.programFolder)) {
        // The package manager owns these files: say how to get the new version instead.
        actions_.tellUser(Tr(L"Quilmer was installed by the system's package manager, which also updates it. "
                             L"Install the new version with it, for example: "
                             L"sudo apt update && sudo apt install --only-upgrade quilmer"));
        return;
    }
    if (!actions_.startUpdater(context_.programFolder, LaunchFor(context_, decision)))
        CLog::Instance().Write(LOG_WARN, L"the updater could not be started");
}

}  // namespace quilmer
