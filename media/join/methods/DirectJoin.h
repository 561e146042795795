#pragma once
// A join in one go (`lossless`, `single`, or `auto` choosing between them), behind the same
// front-end interface as the classic pipeline. The clips are looked at (libavformat, in this
// process) on a worker, the method settled on the loop thread, then the join runs on a worker:
// a stream copy in this process, or one run of the real ffmpeg; the final check of the output
// runs on a worker again. The output is written under a temporary name in
// its own folder and replaces the user's file only once it has been checked, and the output is
// locked against a second join meanwhile, both as the classic pipeline does (JoinFileNamer's
// ".partial" name, OutputLock); a stop or a failure removes every file of the join and leaves
// the user's file as it was.

#include "foundation/CallbackTimer.h"
#include "foundation/EventLoop.h"
#include "media/CancelFlag.h"
#include "media/EncoderRunner.h"
#include "media/JoinPhase.h"
#include "media/TimeLeftEstimator.h"
#include "media/join/JoinFiles.h"
#include "media/join/JoinView.h"
#include "media/join/JoinWorker.h"
#include "media/join/OutputLock.h"
#include "media/join/methods/JoinMethod.h"
#include "media/av/MediaInfo.h"
#include "media/join/methods/SmartJoin.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace quilmer {

class DirectJoin {
public:
    // ffmpeg: the real encoder of the one-pass join (RealFfmpegPath() by default).
    DirectJoin(EventLoop& loop, JoinView& view, std::wstring ffmpeg = {});
    ~DirectJoin();
    DirectJoin(const DirectJoin&) = delete;
    DirectJoin& operator=(const DirectJoin&) = delete;

    // Starts a join with `method` (lossless, single or auto; classic belongs to JoinPipeline).
    // Returns an empty string when it started, or the reason it was refused before any work.
    std::wstring StartJoin(const std::vector<std::wstring>& clips, const std::wstring& outputPath, JoinMethod method);
    // The user's cancel: ends the running ffmpeg at once and removes every file of the join.
    void StopJoin();
    // The owner closes: like a stop, for good.
    void Close();

    bool IsJoining() const { return joining_; }
    // What runs now, for a progress line: "looking at the clips", "copying (lossless)", ...
    std::string Stage() const;
    // The method settled on (Auto until the clips have been looked at).
    JoinMethod Chosen() const { return chosen_; }
    // Whether MP4 and WMV outputs get a chapter per clip (they do unless told otherwise); read
    // when a join starts.
    void SetChapters(bool on) { chapters_ = on; }

private:
    enum class Step { Idle, Probing, Joining, Checking };

    void StartWorker(std::function<void()> work);
    void OnWorkerEnded();
    void AfterProbe();
    void AfterJoin();
    void AfterCheck();
    void Fail(const std::wstring& reason);
    void EndJoin();
    void RemoveFiles();
    void Tick();
    void ReportTimeLeft();
    void Guarded(const std::function<void()>& step);
    // The one-pass encode on the worker: one run of ffmpeg per group of clips (SingleRuns), the
    // pieces then joined by stream copy. Stops at the first run that fails.
    void RunSingle(const std::vector<std::wstring>& clips, const std::vector<MediaInfo>& infos,
                   const TargetFormat& format, const std::wstring& work, const std::wstring& made);
    // The smart join on the worker (SmartJoin.h); the one-pass encode when its pieces cannot match.
    void RunSmart(const std::vector<std::wstring>& clips, const std::vector<MediaInfo>& infos,
                  const TargetFormat& format, const std::wstring& work, const std::wstring& made);
    // One run of ffmpeg, its progress counted on from `before` microseconds; true when it succeeded.
    bool EncodeRun(const std::vector<std::wstring>& args, std::int64_t before);
    // Why the one-pass encode cannot run: the encoder's path and the system's reason, and for
    // `auto` why no other method can take over.
    std::wstring EncoderStartFailure(const std::wstring& why) const;

    EventLoop& loop_;
    JoinView& view_;
    std::wstring ffmpeg_;

    // Loop thread only.
    Step step_ = Step::Idle;
    bool joining_ = false;
    bool closed_ = false;
    JoinMethod requested_ = JoinMethod::Auto;
    JoinMethod chosen_ = JoinMethod::Auto;
    SmartPlan smartPlan_;  // settled with the method, read by the worker
    std::vector<std::wstring> clips_;
    std::wstring output_;
    std::wstring format_;
    std::wstring temporaryOutput_;
    std::wstring workFolder_;  // the one-pass join's graphs and pieces, "" when none
    double expectedSeconds_ = 0;
    bool expectedKnown_ = true;
    int lastPercent_ = 0;
    JoinFileNamer namer_;
    OutputLock outputLock_;
    std::wstring syncError_;  // the finished output could not be put on disk
    std::wstring losslessRefusal_;  // why the clips cannot be copied, "" when they can
    bool chapters_ = true;
    bool chaptered_ = false;  // this join writes chapters (set before its worker starts)

    // Written by the worker, read on the loop thread after it has been joined.
    std::vector<MediaInfo> infos_;
    std::wstring workerFailure_;
    EncoderExit runExit_;
    std::string runErrors_;
    std::wstring copyFailure_;  // what stopped the stream copy, "" when it ended well
    std::int64_t copiedMicros_ = 0;  // the length the copy wrote
    std::wstring smartFallback_;  // why the smart join was made in one pass instead, "" when it was not
    ClipProperties result_;
    OutputPicture resultPicture_;
    bool resultProbed_ = false;

    CancelFlag cancel_;
    std::atomic<std::int64_t> doneMicros_{0};
    std::int64_t totalMicros_ = 0;
    JoinWorker worker_{loop_, cancel_, 5000};  // a stop waits 5 s for the work before it gives up
    std::unique_ptr<CallbackTimer> timer_;
    TimeLeftEstimator timeLeft_;  // loop thread only
};

}  // namespace quilmer
