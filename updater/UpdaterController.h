#pragma once
// Drives the package download for the updater window: the restart timer, one download step at
// a time on a worker thread, Pause/Resume and Cancel. The window implements UpdaterView and only
// shows what arrives there; every view call comes on the loop thread.

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

#include "foundation/CallbackTimer.h"
#include "foundation/EventLoop.h"
#include "foundation/WorkerThread.h"
#include "updater/DownloadStep.h"

namespace quilmer {

// The updater window's caption: "Updater v1.1", translated.
std::wstring UpdaterCaption();

class UpdaterView : public DownloadObserver {
public:
    // The Pause button's label: "Pau&se" while running, "&Resume" while paused (translated).
    virtual void SetPauseLabel(const std::wstring& /*text*/) {}
    // The updater is done: the window closes with this result.
    virtual void EndDialog(int /*result*/) {}
    // A download step ended this way (after its texts arrived).
    virtual void StepEnded(StepOutcome /*outcome*/) {}
};

class UpdaterController {
public:
    static constexpr std::uint32_t kRestartPeriodMs = 1000;

    UpdaterController(EventLoop& loop, DownloadEnvironment env, UpdaterView& view,
                      std::uint32_t restartPeriodMs = kRestartPeriodMs);
    // Stops a running step; it ends after its current chunk and keeps the partial file.
    ~UpdaterController();
    UpdaterController(const UpdaterController&) = delete;
    UpdaterController& operator=(const UpdaterController&) = delete;

    // Arms the restart timer: the first step starts one period later.
    void Start();
    // The Pause button: pauses a running transfer after its chunk, or resumes one period later.
    // Once the transfer is over (installing, or the step ended for good) it does nothing.
    void TogglePause();
    // Cancel or the close box: stops the transfer (the partial file stays) and ends with 2.
    void Cancel();

    bool IsPaused() const { return paused_; }
    bool IsStepRunning() const { return worker_ && stepRunning_; }
    bool IsTimerArmed() const { return timer_ && timer_->IsRunning(); }
    std::optional<StepOutcome> LastOutcome() const { return lastOutcome_; }

private:
    class PostingObserver;
    void OnTick();
    void OnStepEnded(StepOutcome outcome);

    EventLoop& loop_;
    DownloadEnvironment env_;
    UpdaterView& view_;
    std::uint32_t periodMs_;
    std::atomic<bool> paused_{false};
    bool stepRunning_ = false;
    bool pauseEnabled_ = true;  // the step has not said the transfer is over
    bool finished_ = false;     // installed, or failed for good: no further step
    std::optional<StepOutcome> lastOutcome_;
    std::shared_ptr<bool> alive_;
    std::unique_ptr<PostingObserver> observer_;
    std::unique_ptr<CallbackTimer> timer_;
    std::unique_ptr<WorkerThread> worker_;
};

}  // namespace quilmer
