#pragma once
// A join as a chain of small steps on the loop thread: each clip is probed, then converted to an
// intermediate program stream, each on a worker (no encoder ever runs on the loop thread), the intermediates are appended into one file, and that
// file is encoded into the target format (two passes for mp4). Two 1000 ms timers drive the chain;
// besides, a worker that ends posts a notice, so the next step starts at once instead of at the
// next tick. The steps after the concatenation are commands posted to the owner through the loop.

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "foundation/CallbackTimer.h"
#include "foundation/EventLoop.h"
#include "media/join/Concatenate.h"
#include "media/join/JoinFiles.h"
#include "media/join/JoinMedia.h"
#include "media/join/JoinState.h"
#include "media/join/JoinView.h"
#include "media/join/JoinWorker.h"
#include "media/join/OutputLock.h"
#include "media/join/ResultCheck.h"
#include "media/join/PipelineTimeLeft.h"

namespace quilmer {

// Command ids of the owner window that belong to the join.
enum JoinCommand : int {
    kCmdClose = 2,
    kCmdStartJoin = 1035,
    kCmdStopJoin = 1037,
    kCmdFinishJoin = 2016,
    kCmdShowJoinResult = 2017,
    kCmdEncodeFlv = 2019,
    kCmdEncodeMp4Pass1 = 2020,
    kCmdEncodeMp4Pass2 = 2021,
    kCmdEncodeAvi = 2022,
    kCmdEncodeWmv = 2025,
    kCmdEncodeRmvb = 2031,
};

class JoinPipeline {
public:
    // programFolder ends in '/': the encoder adapter and the presets live there.
    JoinPipeline(EventLoop& loop, JoinView& view, JoinMedia& media, const std::wstring& programFolder);
    ~JoinPipeline();
    JoinPipeline(const JoinPipeline&) = delete;
    JoinPipeline& operator=(const JoinPipeline&) = delete;

    // Where the commands posted by the chain go. By default straight back to HandleCommand; a
    // window that wants them as its own command events installs a sink that ends in HandleCommand.
    void SetCommandSink(std::function<void(int)> sink);
    // Runs the join operation of a command id; false when the id is not one of the join's.
    bool HandleCommand(int id);

    // Starts a join of clips (in order) into outputPath. Returns an empty string when it started,
    // or the reason it was refused, before anything was written.
    std::wstring StartJoin(const std::vector<std::wstring>& clips, const std::wstring& outputPath,
                           bool handedOver = false);
    // The user's cancel: ends the running encoder at once, removes every file of the join.
    void StopJoin();
    // The owner closes: like a stop, and the timers end for good.
    void Close();

    // Lengths of the clips of the next join that the caller already knows (in clip order; 0 where
    // unknown), so that the time left is right from the first clip on.
    void SetClipSecondsHint(std::vector<double> seconds) { timeLeft_.SetClipSecondsHint(std::move(seconds)); }
    void SetClipPicturesHint(std::vector<std::optional<PictureWork>> pictures) {
        timeLeft_.SetClipPicturesHint(std::move(pictures));
    }

    // How the result check finds where the output's picture lies (read on a worker thread; its
    // answer is not measured when unset, and then only the length is checked).
    using PictureMeasure = std::function<OutputPicture(const std::wstring& path, CancelFlag& cancel)>;
    void SetPictureMeasure(PictureMeasure measure) { pictureMeasure_ = std::move(measure); }
    // Run on the worker once the output is written, before it is checked: gives the output
    // (path, format) its chapters from the clips that reached it and their intermediates, in
    // order. Returns "" or what went wrong, which fails the join. None: no chapters.
    using ChapterStep = std::function<std::wstring(const std::wstring&, const std::wstring&, const std::vector<std::wstring>&,
                                                   const std::vector<std::wstring>&, const CancelFlag&)>;
    void SetChapterStep(ChapterStep step) { chapterStep_ = std::move(step); }

    bool IsJoining() const { return joining_; }
    const JoinState& State() const { return state_; }
    JoinState& MutableState() { return state_; }

    // The steps of the chain, public for the owner and for tests.
    bool StepTick();
    void ConvertNextClip();
    void StartConcatenation();
    void MonitorTick();
    void StartFinalEncode(int command);
    void ContinueConversion();
    void StartResultCheck();
    void FinishJoin();
    void ShowJoinResult();
    void RemoveJoinFiles();

private:
    void PostCommand(int id);
    void PostStep();
    void SetPhase(JoinPhase phase);
    void RunEncoderStep();
    void StartWorker(std::function<void()> work);
    void OnWorkerEnded();
    void CheckEndedWorker();
    void UpdateProgress();
    void ResetCounters();
    void StopStepTimer();
    void EndJoin();
    void FailJoin(const std::wstring& reason);
    // Runs a step of the chain on the loop thread; an exception ends the join as a failure.
    void Guarded(const std::function<void()>& step);
    // Ends a join that met something unexpected: like a stop, but it shows the reason.
    void AbortJoin(const std::wstring& reason) noexcept;
    bool TearDownJoin(const std::wstring& reason);
    std::wstring FailedRunReason() const;
    // The final encode's output is there and whole as far as can be seen without reading it.
    std::wstring CheckWrittenOutput() const;

    EventLoop& loop_;
    JoinView& view_;
    JoinMedia& media_;
    std::wstring programFolder_;
    JoinState state_;
    JoinFileNamer namer_;
    OutputLock outputLock_;
    std::function<void(int)> commandSink_;

    JoinWorker worker_{loop_, state_.cancel, 5000};  // a stop waits 5 s for the work before it gives up
    // Written by the worker, read on the loop thread only after the worker has been joined.
    std::string encoderTail_;
    std::optional<double> runDuration_;  // the first Duration line of the run
    ConcatOutcome concatOutcome_;
    EncoderExit runExit_;            // how the last encoder run ended
    std::wstring workerError_;       // an exception the work threw, as text
    ClipProperties workerProbe_;     // the probe of the clip at the front of the queue
    bool workerProbeOk_ = false;
    std::wstring workerCopy_;        // the copy that probe made, if any
    std::optional<MediaInfo> workerLook_;  // the look inside that clip, when it could be read so
    ClipProperties resultProbe_;     // the probe of the finished output, made before it replaced anything
    bool resultProbed_ = false;
    OutputPicture resultPicture_;    // where the finished output's picture lies
    PictureMeasure pictureMeasure_;
    std::wstring resultSyncError_;   // the output could not be flushed to disk
    // Loop thread only: what the joined clips add up to, for the result check.
    ExpectedLength expected_;
    std::optional<double> clipHeld_;  // seconds the clip being converted holds, when looked at
    ChapterStep chapterStep_;
    std::vector<std::wstring> joinedClips_;  // the clip of each of state_.intermediateFiles
    std::wstring firstFrame_;  // the first clip's probed resolution, "640x480 pixels"
    std::unique_ptr<CallbackTimer> monitorTimer_;
    std::unique_ptr<CallbackTimer> stepTimer_;
    bool stepTimerRunning_ = false;
    bool joining_ = false;
    bool closed_ = false;
    int lastPercent_ = -1;
    PipelineTimeLeft timeLeft_;
    // Posted notices check this before touching a pipeline that may be gone.
    std::shared_ptr<JoinPipeline*> alive_;
};

}  // namespace quilmer
