#include "updater/UpdaterController.h"

#include "foundation/TextTranslator.h"

namespace quilmer {

std::wstring UpdaterCaption() { return Tr(L"Updater") + L" v1.1"; }

// Hands the step's reports from the worker to the view on the loop thread; reports that arrive
// after the controller is gone are dropped.
class UpdaterController::PostingObserver : public DownloadObserver {
public:
    PostingObserver(EventLoop& loop, UpdaterView& view, std::weak_ptr<bool> alive, std::function<void(bool)> onPause)
        : loop_(loop), view_(view), alive_(std::move(alive)), onPause_(std::move(onPause)) {}

    void SetUrlText(const std::wstring& text) override {
        Forward([text](UpdaterView& v) { v.SetUrlText(text); });
    }
    void SetSizeText(const std::wstring& text) override {
        Forward([text](UpdaterView& v) { v.SetSizeText(text); });
    }
    void SetProgress(int percent) override {
        Forward([percent](UpdaterView& v) { v.SetProgress(percent); });
    }
    void SetStatusText(const std::wstring& text, bool isError) override {
        Forward([text, isError](UpdaterView& v) { v.SetStatusText(text, isError); });
    }
    void EnablePause(bool enable) override {
        Forward([enable, onPause = onPause_](UpdaterView& v) {
            onPause(enable);
            v.EnablePause(enable);
        });
    }
    void Trace(const std::string& line) override {
        Forward([line](UpdaterView& v) { v.Trace(line); });
    }

private:
    template <typename F>
    void Forward(F f) {
        loop_.Post([alive = alive_, view = &view_, f = std::move(f)] {
            if (alive.lock()) f(*view);
        });
    }
    EventLoop& loop_;
    UpdaterView& view_;
    std::weak_ptr<bool> alive_;
    std::function<void(bool)> onPause_;
};

UpdaterController::UpdaterController(EventLoop& loop, DownloadEnvironment env, UpdaterView& view,
                                     std::uint32_t restartPeriodMs)
    : loop_(loop),
      env_(std::move(env)),
      view_(view),
      periodMs_(restartPeriodMs),
      alive_(std::make_shared<bool>(true)),
      observer_(std::make_unique<PostingObserver>(loop, view, alive_, [this](bool enable) { pauseEnabled_ = enable; })) {}

UpdaterController::~UpdaterController() {
    paused_ = true;
    alive_.reset();
    if (timer_) timer_->Release();
    if (worker_) worker_->StopAndWait();
}

void UpdaterController::Start() {
    if (finished_) return;
    if (!timer_) {
        timer_ = std::make_unique<CallbackTimer>(loop_, periodMs_, [this](std::uint32_t) {
            OnTick();
            return true;
        });
    } else {
        timer_->Restart();
    }
}

void UpdaterController::OnTick() {
    timer_->StopTimer();
    if (finished_) return;
    if (IsStepRunning()) {
        // A paused step is still finishing its chunk: try again one period later.
        timer_->Restart();
        return;
    }
    if (paused_) return;
    if (worker_) worker_->StopAndWait();  // collects the ended thread of the previous step
    stepRunning_ = true;
    auto entered = std::make_shared<std::atomic<bool>>(false);
    worker_ = std::make_unique<WorkerThread>(
        [this, alive = std::weak_ptr<bool>(alive_), entered] {
            *entered = true;
            DownloadStep step(env_, *observer_);
            StepOutcome outcome = step.Run(paused_);
            loop_.Post([this, alive, outcome] {
                if (alive.lock()) OnStepEnded(outcome);
            });
            return 0;
        },
        5000);
    // Start also answers false for a step that has already ended (its end notice is on its way);
    // only a step that never began means no thread could be made. Then no notice will come, so
    // the failure is shown and the timer tries again, instead of waiting for ever.
    if (!worker_->Start() && !*entered) {
        worker_.reset();
        stepRunning_ = false;
        lastOutcome_ = StepOutcome::RetryLater;
        view_.SetStatusText(Tr(L"Failure to download update file."), true);
        timer_->Restart();
    }
}

void UpdaterController::OnStepEnded(StepOutcome outcome) {
    stepRunning_ = false;
    lastOutcome_ = outcome;
    // Only a transfer goes on later; after any other end this window starts no further step (what
    // a failed step left is for the next run).
    if (outcome != StepOutcome::RetryLater && outcome != StepOutcome::Paused) {
        finished_ = true;
        timer_->StopTimer();
    }
    switch (outcome) {
        case StepOutcome::RetryLater:
            if (!paused_) timer_->Restart();
            break;
        case StepOutcome::Installed:
            view_.StepEnded(outcome);
            view_.EndDialog(2);
            return;
        case StepOutcome::InstallFailed:
            // The main program was started again unchanged; the window stays so that the user
            // learns why, and leaves with Cancel.
            view_.EnablePause(false);
            break;
        case StepOutcome::Paused:
        case StepOutcome::Failed:
        case StepOutcome::NotVerified:
            break;
    }
    view_.StepEnded(outcome);
}

void UpdaterController::TogglePause() {
    // The package is being checked or installed, or the work is over: nothing to pause or resume.
    if (finished_ || !pauseEnabled_) return;
    if (!paused_) {
        paused_ = true;
        view_.SetPauseLabel(Tr(L"&Resume"));
    } else {
        paused_ = false;
        view_.SetPauseLabel(Tr(L"Pau&se"));
        Start();
    }
}

void UpdaterController::Cancel() {
    paused_ = true;
    if (timer_) timer_->StopTimer();
    view_.EndDialog(2);
}

}  // namespace quilmer
