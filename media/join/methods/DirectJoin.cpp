#include "media/join/methods/DirectJoin.h"

#include "foundation/FileUtil.h"
#include "foundation/Strings.h"
#include "foundation/TextTranslator.h"
#include "media/ClipProbe.h"
#include "media/TempNames.h"
#include "media/join/CatchUnexpected.h"
#include "media/join/JoinFiles.h"
#include "media/join/ResultCheck.h"
#include "media/join/ShortClip.h"
#include "media/av/AvProbe.h"
#include "media/join/methods/ClipChapters.h"
#include "media/join/methods/DirectCommands.h"
#include "media/join/methods/SmartJoin.h"
#include "media/join/methods/StreamCopy.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <thread>

namespace quilmer {

namespace fs = std::filesystem;

namespace {

constexpr std::uint32_t kTickMs = 250;
constexpr std::size_t kErrorTail = 4096;
constexpr std::size_t kParallelProbes = 2;

}  // namespace

DirectJoin::DirectJoin(EventLoop& loop, JoinView& view, std::wstring ffmpeg)
    : loop_(loop), view_(view), ffmpeg_(ffmpeg.empty() ? RealFfmpegPath() : std::move(ffmpeg)) {}

DirectJoin::~DirectJoin() { Close(); }

void DirectJoin::Guarded(const std::function<void()>& step) {
    std::wstring failure = CatchUnexpected(step);
    if (!failure.empty()) Fail(failure);
}

std::wstring DirectJoin::StartJoin(const std::vector<std::wstring>& clips, const std::wstring& outputPath,
                                   JoinMethod method) {
    if (closed_) return Tr(L"The joiner has been closed.");
    if (joining_ || worker_.Active()) return Tr(L"A join is already running.");
    if (clips.empty()) return Tr(L"There are no clips to join.");
    if (method == JoinMethod::Classic) return Tr(L"The classic join is made by the join pipeline.");
    std::wstring format = TargetFormatForPath(outputPath);
    if (format.empty())
        return Tr(L"The output file's extension names no format to join into (use .avi, .flv, .rmvb, .wmv or .mp4): ") +
               outputPath;
    std::wstring refusal = CheckOutputPath(outputPath, clips);
    if (!refusal.empty()) return refusal;
    refusal = outputLock_.Acquire(outputPath);
    if (!refusal.empty()) return refusal;

    cancel_.Reset();
    clips_.clear();
    for (const auto& clip : clips) clips_.push_back(NormalPath(clip));
    output_ = NormalPath(outputPath);
    namer_.Clear();
    for (const auto& clip : clips_) namer_.Protect(clip);
    namer_.Protect(output_);
    namer_.Protect(OutputLock::LockPathFor(output_));
    format_ = format;
    requested_ = method;
    chosen_ = JoinMethod::Auto;
    temporaryOutput_.clear();
    infos_.clear();
    copyFailure_.clear();
    copiedMicros_ = 0;
    expectedSeconds_ = 0;
    expectedKnown_ = true;
    doneMicros_ = 0;
    totalMicros_ = 0;
    lastPercent_ = 0;
    joining_ = true;
    view_.SetJoining(true);
    view_.SetProgress(0);
    step_ = Step::Probing;
    view_.PhaseChanged(JoinPhase::Probing);
    timer_ = std::make_unique<CallbackTimer>(loop_, kTickMs, [this](std::uint32_t) {
        Guarded([this] { Tick(); });
        return true;
    });

    const std::vector<std::wstring> paths = clips_;
    StartWorker([this, paths] {
        // Each look waits mostly on the disk: two run side by side.
        std::vector<std::optional<MediaInfo>> found(paths.size());
        std::vector<std::wstring> why(paths.size());
        std::atomic<std::size_t> next{0};
        auto probeSome = [&] {
            for (std::size_t i; (i = next++) < paths.size() && !cancel_.IsRequested();)
                found[i] = ProbeMediaFile(paths[i], cancel_, why[i]);
        };
        const std::size_t helpers = std::min<std::size_t>(kParallelProbes, paths.size()) - 1;
        std::vector<std::thread> threads;
        for (std::size_t t = 0; t < helpers; ++t) {
            try {
                threads.emplace_back(probeSome);
            } catch (const std::system_error&) {
                break;  // fewer helpers; this thread probes the rest
            }
        }
        probeSome();
        for (auto& thread : threads) thread.join();
        if (cancel_.IsRequested()) return;
        for (std::size_t i = 0; i < paths.size(); ++i) {
            if (!found[i]) {
                workerFailure_ = Tr(L"Clip is not a video or audio file the encoder can read: ") + paths[i] +
                                 (why[i].empty() ? L"" : L" (" + why[i] + L")");
                return;
            }
            infos_.push_back(*found[i]);
        }
    });
    return {};
}

void DirectJoin::StartWorker(std::function<void()> work) {
    workerFailure_.clear();
    runExit_ = EncoderExit{};
    worker_.Start(std::move(work), workerFailure_, [this] { OnWorkerEnded(); });
}

void DirectJoin::OnWorkerEnded() {
    if (!worker_.Ended()) return;
    worker_.Stop();
    if (!joining_ || cancel_.IsRequested()) return;
    Guarded([this] {
        if (!workerFailure_.empty()) {
            Fail(workerFailure_);
            return;
        }
        switch (step_) {
        case Step::Probing: AfterProbe(); break;
        case Step::Joining: AfterJoin(); break;
        case Step::Checking: AfterCheck(); break;
        case Step::Idle: break;
        }
    });
}

void DirectJoin::AfterProbe() {
    // A clip of which not one packet is whole is left out; one that holds less than its header
    // gives is joined with what it holds, and the user hears of the rest.
    for (std::size_t i = 0; i < infos_.size();) {
        if (HoldsLessThanHeader(infos_[i]))
            view_.ClipHoldsLess(clips_[i], ShortClipWarning(clips_[i], infos_[i].duration, infos_[i].headerDuration));
        if (infos_[i].holdsPackets) {
            ++i;
            continue;
        }
        view_.ClipLeftOut(clips_[i]);
        clips_.erase(clips_.begin() + static_cast<std::ptrdiff_t>(i));
        infos_.erase(infos_.begin() + static_cast<std::ptrdiff_t>(i));
    }
    if (infos_.empty()) {
        Fail(Tr(L"None of the clips holds a picture or sound that can be read."));
        return;
    }
    LosslessVerdict verdict = CheckLossless(clips_, infos_, format_);
    losslessRefusal_ = verdict.possible ? std::wstring() : verdict.refusal;
    smartPlan_ = PlanSmartJoin(clips_, infos_, format_);
    MethodChoice choice = ChooseJoinMethod(requested_, verdict, smartPlan_);
    chosen_ = choice.method;
    view_.MethodChosen(WidePath(JoinMethodName(chosen_)), choice.reason);
    if (chosen_ == JoinMethod::Lossless && !verdict.possible) {
        Fail(Tr(L"The clips cannot be joined without re-encoding:") + L" " + verdict.refusal);
        return;
    }
    for (const MediaInfo& info : infos_) {
        if (info.duration > 0) {
            expectedSeconds_ += info.duration;
        } else {
            expectedKnown_ = false;
        }
    }
    if (chosen_ != JoinMethod::Lossless) {
        // Made-up black picture or silence must know how long to last.
        for (std::size_t i = 0; i < infos_.size(); ++i)
            if ((!infos_[i].video || !infos_[i].audio) && infos_[i].duration <= 0) {
                Fail(Tr(L"The length of this clip is unknown, so it cannot be joined in one pass: ") + clips_[i]);
                return;
            }
    }
    totalMicros_ = static_cast<std::int64_t>(expectedSeconds_ * 1e6);

    // ffmpeg itself is needed only to encode.
    if (chosen_ != JoinMethod::Lossless && access(NativePath(ffmpeg_).c_str(), X_OK) != 0) {
        Fail(EncoderStartFailure(WidePath(std::error_code(errno, std::generic_category()).message())));
        return;
    }
    const std::wstring folder = FolderOf(output_);
    // The name the classic join writes under too; the extension stays last.
    temporaryOutput_ = namer_.Reserve(folder, TitleOf(output_), L".partial", ExtensionOf(output_));
    if (temporaryOutput_.empty()) {
        Fail(Tr(L"Cannot create a file in the output folder: ") + folder);
        return;
    }
    if (chosen_ != JoinMethod::Lossless) {
        view_.PhaseChanged(*FirstEncodePhase(format_) == JoinPhase::EncodingMp4Pass1 ? JoinPhase::EncodingMp4Pass2
                                                                                    : *FirstEncodePhase(format_));
    } else {
        view_.PhaseChanged(JoinPhase::Concatenating);
    }
    const JoinWork joinWork = chosen_ == JoinMethod::Lossless ? JoinWork::StreamCopy : JoinWork::OnePass;
    std::vector<double> clipSeconds;
    for (const MediaInfo& info : infos_) clipSeconds.push_back(info.duration);
    timeLeft_.Start(format_, clipSeconds, {{joinWork}, {JoinWork::Check}});
    if (chosen_ == JoinMethod::Single)
        timeLeft_.SetClipCosts(SingleClipCosts(infos_, format_, SingleTargetFor(format_, infos_.front())));
    timeLeft_.Begin(joinWork);
    step_ = Step::Joining;
    const std::wstring made = temporaryOutput_;
    chaptered_ = chapters_ && FormatKeepsChapters(format_);
    if (chosen_ == JoinMethod::Lossless) {
        const std::vector<std::wstring> clips = clips_;
        const TargetFormat format = format_;
        std::vector<PlannedChapter> chapters;
        if (chaptered_) chapters = PlanChapters(ClipChapterPieces(clips_, infos_));
        StartWorker([this, clips, made, format, chapters] {
            runErrors_.clear();
            copyFailure_ = CopyStreams(
                clips, made, format, cancel_, [this](std::int64_t us) { doneMicros_ = us; }, &copiedMicros_, chapters);
        });
        return;
    }
    if (format_ == L"rmvb") {
        const VideoInfo* v = infos_.front().video ? &*infos_.front().video : nullptr;
        const bool turned = v && std::abs(v->rotation) % 180 == 90;
        view_.OutputFitted(RealMediaFitNote(v ? (turned ? v->height : v->width) : 0, v ? (turned ? v->width : v->height) : 0));
    }
    workFolder_ = ReserveTemporaryFolder(folder);
    if (workFolder_.empty()) {
        Fail(Tr(L"Cannot create a file in the output folder: ") + folder);
        return;
    }
    const std::vector<std::wstring> clips = clips_;
    const std::vector<MediaInfo> infos = infos_;
    const TargetFormat format = format_;
    const std::wstring work = workFolder_;
    const bool smart = chosen_ == JoinMethod::Smart;
    StartWorker([this, clips, infos, format, work, made, smart] {
        runErrors_.clear();
        copyFailure_.clear();
        smartFallback_.clear();
        if (smart) {
            RunSmart(clips, infos, format, work, made);
        } else {
            RunSingle(clips, infos, format, work, made);
        }
    });
}

void DirectJoin::RunSingle(const std::vector<std::wstring>& clips, const std::vector<MediaInfo>& infos,
                           const TargetFormat& format, const std::wstring& work, const std::wstring& made) {
    const SingleTarget target = SingleTargetFor(format, infos.front());
    std::vector<std::size_t> runs = SingleRuns(infos);
    std::vector<std::wstring> pieces;
    std::vector<PieceChapters> chapters;  // each piece's clips' chapters, when chaptered
    std::int64_t before = 0;  // microseconds of the clips encoded by the runs before
    std::size_t first = 0;
    for (std::size_t run = 0; run < runs.size(); ++run) {
        const std::vector<std::wstring> some(clips.begin() + first, clips.begin() + first + runs[run]);
        const std::vector<MediaInfo> theirs(infos.begin() + first, infos.begin() + first + runs[run]);
        const std::wstring number = std::to_wstring(run + 1);
        // One run writes the output itself; more write pieces that the stream copy joins, and so
        // does one run whose chapters the copy places.
        const std::wstring piece =
            runs.size() == 1 && !chaptered_ ? made : work + L"piece-" + number + ExtensionOf(made);
        const std::wstring script = work + L"graph-" + number + L".txt";
        if (!WriteWholeFile(script, SingleFilterGraph(theirs, target))) {
            workerFailure_ = Tr(L"Cannot create a file in the output folder: ") + script;
            return;
        }
        const bool done = EncodeRun(SingleArgs(ffmpeg_, some, script, piece, format, target), before);
        RemoveFileQuietly(script);
        if (!done && runExit_.startError == E2BIG && runs[run] > 1) {
            // Clip names long enough to pass the system's limit on a command line: half as many.
            RemoveFileQuietly(piece);
            const std::size_t half = runs[run] / 2;
            runs[run] -= half;
            runs.insert(runs.begin() + static_cast<std::ptrdiff_t>(run) + 1, half);
            --run;
            continue;
        }
        if (!done) return;
        first += runs[run];
        for (const MediaInfo& info : theirs) before += static_cast<std::int64_t>(info.duration * 1e6);
        pieces.push_back(piece);
        if (chaptered_) chapters.push_back({"", EncodedRunChapters(some, theirs, target.frameRate), 0});
    }
    if (pieces.size() > 1 || (chaptered_ && !pieces.empty())) {
        copyFailure_ = CopyStreams(pieces, made, format, cancel_, {}, nullptr, PlanChapters(chapters));
        for (const std::wstring& piece : pieces) RemoveFileQuietly(piece);
    }
}

void DirectJoin::RunSmart(const std::vector<std::wstring>& clips, const std::vector<MediaInfo>& infos,
                          const TargetFormat& format, const std::wstring& work, const std::wstring& made) {
    SmartRunner runner;
    runner.ffmpeg = ffmpeg_;
    runner.encode = [this](const std::vector<std::wstring>& args, std::int64_t before) { return EncodeRun(args, before); };
    runner.progress = [this](std::int64_t us) { doneMicros_ = us; };
    runner.chapters = chaptered_;
    SmartOutcome outcome = MakeSmartJoin(clips, infos, smartPlan_, format, work, made, runner, cancel_);
    copiedMicros_ = outcome.copiedMicros;
    if (!outcome.failure.empty()) copyFailure_ = outcome.failure;
    if (outcome.fallback.empty() || cancel_.IsRequested()) return;
    // The pieces cannot share the copied clips' stream: the whole join in one pass.
    smartFallback_ = outcome.fallback;
    RemoveFileQuietly(made);
    runErrors_.clear();
    runExit_ = EncoderExit{};
    doneMicros_ = 0;
    RunSingle(clips, infos, format, work, made);
}

bool DirectJoin::EncodeRun(const std::vector<std::wstring>& args, std::int64_t before) {
    ProgressReader reader;
    OutputChunkHandler collect = [this, &reader, before](std::string&, std::string& chunk) {
        if (auto us = reader.Feed(chunk)) doneMicros_ = before + *us;
        // Whatever is not a progress line (key=value) is ffmpeg's complaint; keep its end.
        for (std::size_t start = 0, end; start < chunk.size(); start = end + 1) {
            end = chunk.find('\n', start);
            if (end == std::string::npos) end = chunk.size();
            std::string_view line(chunk.data() + start, end - start);
            if (line.find('=') == std::string_view::npos || line.find(' ') != std::string_view::npos) {
                runErrors_.append(line);
                runErrors_ += '\n';
            }
        }
        if (runErrors_.size() > 2 * kErrorTail) runErrors_.erase(0, runErrors_.size() - kErrorTail);
        return true;
    };
    RunProgramArgs({}, args, collect, {}, &cancel_, &runExit_);
    return runExit_.Succeeded();
}

void DirectJoin::AfterJoin() {
    if (!smartFallback_.empty()) {
        chosen_ = JoinMethod::Single;
        view_.MethodChosen(WidePath(JoinMethodName(chosen_)), Tr(L"no smart join:") + L" " + smartFallback_);
    }
    if (!copyFailure_.empty()) {
        if (std::wstring storage = StorageFailure(NativePath(copyFailure_)); !storage.empty()) {
            Fail(Tr(L"The folder of the output file cannot be written:") + L" " + FolderOf(output_) + L": " + storage);
            return;
        }
        Fail(Tr(L"The streams could not be copied:") + L" " + copyFailure_);
        return;
    }
    if (std::wstring storage = StorageFailure(runErrors_); !storage.empty()) {
        Fail(Tr(L"The folder of the output file cannot be written:") + L" " + FolderOf(output_) + L": " + storage);
        return;
    }
    if (chosen_ != JoinMethod::Lossless && !runExit_.started && runExit_.startError != 0) {
        Fail(EncoderStartFailure(WidePath(std::error_code(runExit_.startError, std::generic_category()).message())));
        return;
    }
    if (chosen_ != JoinMethod::Lossless && !runExit_.Succeeded()) {
        std::wstring reason = runExit_.Describe();
        std::wstring last = EncoderFailureReason(runErrors_);
        if (!last.empty()) reason += L" " + last;
        Fail(reason);
        return;
    }
    if (chosen_ == JoinMethod::Lossless && copiedMicros_ > 0) {
        // The copy wrote every packet; a clip whose header claims another length (a damaged or
        // cut download) is held to what its packets hold.
        expectedSeconds_ = static_cast<double>(copiedMicros_) / 1e6;
        expectedKnown_ = true;
    }
    step_ = Step::Checking;
    timeLeft_.Begin(JoinWork::Check);
    view_.PhaseChanged(JoinPhase::CheckingResult);
    const std::wstring made = temporaryOutput_;
    syncError_.clear();
    StartWorker([this, made] {
        syncError_ = FlushOutputToDisk(made);
        if (!syncError_.empty()) return;
        std::wstring why;
        std::optional<MediaInfo> info = ProbeMediaFile(made, cancel_, why);
        resultProbed_ = info.has_value();
        result_ = info ? PropertiesFromMediaInfo(made, *info) : ClipProperties{};
        resultPicture_ = info ? PictureOf(*info) : OutputPicture{};
    });
}

void DirectJoin::AfterCheck() {
    if (!syncError_.empty()) {
        Fail(syncError_);
        return;
    }
    ExpectedLength expected;
    expected.complete = expectedKnown_;
    if (chosen_ == JoinMethod::Lossless) {
        // The copy's own count of what it wrote; a copy keeps the source's frames, so one of them
        // at each boundary.
        expected.clips.push_back({L"", expectedSeconds_});
        const double fps = infos_.empty() || !infos_.front().video ? 0 : FractionValue(infos_.front().video->frameRate);
        expected.slackPerClip = (fps >= 1 && fps <= 240 ? 1.0 / fps : 0.1) * static_cast<double>(infos_.size());
    } else {
        for (std::size_t i = 0; i < infos_.size() && i < clips_.size(); ++i)
            expected.clips.push_back({clips_[i], infos_[i].duration});
        // The lengths the clips' packets hold: a header may claim less (a recording appended
        // to) or more (an ASF header counting its preroll).
        expected.slackPerClip = ReencodeSlackPerClip(result_);
        expected.picture = true;
    }
    std::wstring reason = CheckJoinResult(result_, resultProbed_, expected, resultPicture_);
    if (!reason.empty()) {
        Fail(reason);
        return;
    }
    std::error_code ec;
    fs::rename(ToFsPath(temporaryOutput_), ToFsPath(output_), ec);  // replaces the old file at once
    if (ec) {
        Fail(Tr(L"Cannot move the result to ") + output_ + L": " + WidePath(ec.message()));
        return;
    }
    temporaryOutput_.clear();
    RemoveFiles();
    view_.SetProgress(100);
    result_.path = output_;
    ClipProperties shown = result_;
    EndJoin();
    view_.ShowResult(shown, true);
}

std::wstring DirectJoin::EncoderStartFailure(const std::wstring& why) const {
    // Named slots: a translation may order them as it likes, and a name may hold anything.
    std::wstring text = Tr(L"The encoder {encoder} cannot be started: {reason}.");
    ReplaceAll(text, L"{reason}", why);
    ReplaceAll(text, L"{encoder}", ffmpeg_);
    if (requested_ != JoinMethod::Auto) return text;
    // Auto took the one-pass join because the copy cannot be made, and the classic join runs
    // the same encoder through the adapter: nothing is left to try.
    std::wstring none = Tr(L"No other method can join these clips: the streams cannot be copied as they are "
                           L"({refusal}), and the classic join needs the same encoder.");
    ReplaceAll(none, L"{refusal}", losslessRefusal_);
    return text + L" " + none;
}

void DirectJoin::ReportTimeLeft() {
    if (step_ == Step::Joining) timeLeft_.SetDone(static_cast<double>(doneMicros_) / 1e6);
    std::optional<double> left = timeLeft_.SecondsLeft();
    view_.SetTimeLeft(left ? *left : -1);
}

void DirectJoin::Tick() {
    if (joining_) ReportTimeLeft();
    if (step_ != Step::Joining || totalMicros_ <= 0) return;
    int percent = static_cast<int>(std::clamp<std::int64_t>(doneMicros_ * 100 / totalMicros_, 0, 99));
    if (percent != lastPercent_) {
        lastPercent_ = percent;
        view_.SetProgress(percent);
    }
}

std::string DirectJoin::Stage() const {
    switch (step_) {
    case Step::Probing: return "looking at the clips";
    case Step::Joining:
        if (chosen_ == JoinMethod::Smart) return "copying the matching clips, re-encoding the others";
        return chosen_ == JoinMethod::Lossless ? "copying the streams (lossless)"
                                               : "encoding " + NativePath(format_) + " in one pass";
    case Step::Checking: return "checking the output";
    case Step::Idle: break;
    }
    return {};
}

void DirectJoin::RemoveFiles() {
    RemoveFileQuietly(temporaryOutput_);
    temporaryOutput_.clear();
    if (!workFolder_.empty()) RemoveFolderQuietly(workFolder_);
    workFolder_.clear();
}

void DirectJoin::EndJoin() {
    outputLock_.Release();
    joining_ = false;
    step_ = Step::Idle;
    timeLeft_.Stop();
    if (timer_) timer_->StopTimer();
    view_.SetJoining(false);
    view_.SetProgress(0);
    lastPercent_ = 0;
    view_.ClearClips();
}

void DirectJoin::Fail(const std::wstring& reason) {
    const bool wasJoining = joining_;
    StopJoin();
    if (wasJoining) view_.ShowFailure(Tr(L"Failed to merge files."), Tr(L"Tips"), reason);
}

void DirectJoin::StopJoin() {
    cancel_.Request();
    worker_.Stop();
    if (!joining_) return;
    RemoveFiles();
    EndJoin();
}

void DirectJoin::Close() {
    if (closed_) return;
    StopJoin();
    closed_ = true;
    timer_.reset();
    outputLock_.Release();
}

}  // namespace quilmer
