#include "media/join/JoinPipeline.h"

#include <unistd.h>

#include <cwchar>
#include <filesystem>
#include <mutex>

#include "foundation/FileUtil.h"
#include "foundation/Strings.h"
#include "foundation/TextTranslator.h"
#include "foundation/Utf8.h"
#include "media/ClipProbe.h"
#include "media/EncoderCommands.h"
#include "media/ProbeParser.h"
#include "media/RealMediaFit.h"
#include "media/Progress.h"
#include "media/TargetFormat.h"
#include "media/join/CatchUnexpected.h"
#include "media/join/Concatenate.h"
#include "media/join/ResultCheck.h"
#include "media/join/ShortClip.h"

namespace quilmer {

namespace fs = std::filesystem;

namespace {

constexpr std::uint32_t kTimerPeriodMs = 1000;
// The counters are read four times a second, as the encoders report about twice: the time left
// follows each position when it comes, not up to a second later.
constexpr std::uint32_t kMonitorPeriodMs = 250;
constexpr std::size_t kTailBytes = 4096;

// The first "Duration: HH:MM:SS.cc" of an encoder run's output, in seconds.
std::optional<double> DurationInOutput(const std::string& chunk) {
    const std::size_t at = chunk.find("Duration: ");
    if (at == std::string::npos) return std::nullopt;
    const std::size_t end = chunk.find(',', at);
    if (end == std::string::npos) return std::nullopt;
    return DurationSeconds(WidePath(chunk.substr(at + 10, end - at - 10)));
}

// The adapter's word that it cannot start the real encoder ("The real encoder cannot be run:
// /usr/bin/ffmpeg: Permission denied", "... could not be started: ..."), as the user reads it; ""
// when the output does not say so. Then no clip can be converted, and the join says why instead
// of leaving out each one.
std::wstring RealEncoderStartFailure(const std::string& output) {
    std::size_t at = std::string::npos, length = 0;
    for (std::string_view mark : {std::string_view("The real encoder cannot be run: "),
                                  std::string_view("The real encoder could not be started: ")}) {
        const std::size_t found = output.rfind(mark);
        if (found != std::string::npos && (at == std::string::npos || found > at)) {
            at = found;
            length = mark.size();
        }
    }
    if (at == std::string::npos) return {};
    std::string line = output.substr(at + length);
    line = line.substr(0, line.find('\n'));
    const std::size_t split = line.rfind(": ");
    if (split == std::string::npos) return {};
    std::wstring text = Tr(L"The encoder {encoder} cannot be started: {reason}.");
    ReplaceAll(text, L"{reason}", WidePath(line.substr(split + 2)));
    ReplaceAll(text, L"{encoder}", WidePath(line.substr(0, split)));
    return text;
}

int FinalEncodeCommandFor(const std::wstring& format) {
    auto phase = FirstEncodePhase(format);
    if (!phase) return 0;
    switch (*phase) {
    case JoinPhase::EncodingAvi: return kCmdEncodeAvi;
    case JoinPhase::EncodingFlv: return kCmdEncodeFlv;
    case JoinPhase::EncodingRmvb: return kCmdEncodeRmvb;
    case JoinPhase::EncodingWmv: return kCmdEncodeWmv;
    case JoinPhase::EncodingMp4Pass1: return kCmdEncodeMp4Pass1;
    default: return 0;
    }
}

}  // namespace

JoinPipeline::JoinPipeline(EventLoop& loop, JoinView& view, JoinMedia& media, const std::wstring& programFolder)
    : loop_(loop), view_(view), media_(media), programFolder_(programFolder),
      alive_(std::make_shared<JoinPipeline*>(this)) {
    state_.encoderPath = programFolder_ + L"ffmpeg";
    state_.pass1Preset = programFolder_ + kPass1PresetName;
    state_.pass2Preset = programFolder_ + kPass2PresetName;
    state_.workingFolder = programFolder_;
    commandSink_ = [this](int id) { HandleCommand(id); };
    monitorTimer_ = std::make_unique<CallbackTimer>(loop_, kMonitorPeriodMs, [this](std::uint32_t) {
        Guarded([this] { MonitorTick(); });
        return true;
    });
}

JoinPipeline::~JoinPipeline() {
    Close();
    alive_.reset();
}

void JoinPipeline::SetCommandSink(std::function<void(int)> sink) { commandSink_ = std::move(sink); }

void JoinPipeline::PostCommand(int id) {
    std::weak_ptr<JoinPipeline*> weak = alive_;
    loop_.Post([weak, id] {
        if (auto self = weak.lock()) (*self)->commandSink_(id);
    });
}

bool JoinPipeline::HandleCommand(int id) {
    switch (id) {
    case kCmdStopJoin: Guarded([this] { StopJoin(); }); return true;
    case kCmdClose: Guarded([this] { Close(); }); return true;
    case kCmdFinishJoin: Guarded([this] { FinishJoin(); }); return true;
    case kCmdShowJoinResult: Guarded([this] { ShowJoinResult(); }); return true;
    case kCmdEncodeAvi:
    case kCmdEncodeFlv:
    case kCmdEncodeRmvb:
    case kCmdEncodeWmv:
    case kCmdEncodeMp4Pass1:
    case kCmdEncodeMp4Pass2: Guarded([this, id] { StartFinalEncode(id); }); return true;
    default: return false;
    }
}

void JoinPipeline::Guarded(const std::function<void()>& step) {
    std::wstring failure = CatchUnexpected(step);
    if (!failure.empty()) AbortJoin(failure);
}

void JoinPipeline::AbortJoin(const std::wstring& reason) noexcept {
    try {
        if (!TearDownJoin(reason)) return;
        if (state_.handedOver) {
            view_.HandedOverJobEnded(false);
        } else {
            PostCommand(kCmdShowJoinResult);
        }
    } catch (...) {
        joining_ = false;  // nothing more can be done; at least a new join may start
    }
}

// Ends the running join like a stop: the encoder ended, everything of the join removed, the view
// idle again, reason kept as the failure. False when no join was running.
bool JoinPipeline::TearDownJoin(const std::wstring& reason) {
    state_.cancel.Request();
    state_.pendingClips.clear();
    worker_.Stop();
    if (!joining_) return false;
    RemoveJoinFiles();
    if (state_.fileFlags & JoinState::kFlagTemporaryOutput) {
        state_.outputPath = state_.finalOutputPath;
        state_.fileFlags &= ~JoinState::kFlagTemporaryOutput;
    }
    state_.workingFolder = programFolder_;
    ResetCounters();
    state_.failure = reason;
    EndJoin();
    return true;
}

std::wstring JoinPipeline::StartJoin(const std::vector<std::wstring>& clips, const std::wstring& outputPath,
                                     bool handedOver) {
    if (closed_) return Tr(L"The joiner has been closed.");
    if (joining_ || worker_.Active()) return Tr(L"A join is already running.");
    if (clips.empty()) return Tr(L"There are no clips to join.");
    std::wstring format = TargetFormatForPath(outputPath);
    if (format.empty())
        return Tr(L"The output file's extension names no format to join into (use .avi, .flv, .rmvb, .wmv or .mp4): ") +
               outputPath;
    std::wstring refusal = CheckOutputPath(outputPath, clips);
    if (!refusal.empty()) return refusal;
    refusal = outputLock_.Acquire(outputPath);
    if (!refusal.empty()) return refusal;

    state_.cancel.Reset();
    state_.clips.clear();
    for (const auto& clip : clips) state_.clips.push_back(NormalPath(clip));
    state_.pendingClips.assign(state_.clips.begin(), state_.clips.end());
    state_.nextClipIndex = 0;
    state_.intermediateFiles.clear();
    state_.concatFile.clear();
    state_.currentClip.clear();
    state_.clipCopy.clear();
    state_.outputPath = NormalPath(outputPath);
    state_.finalOutputPath = state_.outputPath;
    state_.handedOver = handedOver;
    state_.targetFormat = format;
    state_.encodeParams = FinalEncodeParams{};
    state_.fileFlags = 0;
    state_.phase = JoinPhase::Probing;
    state_.workingFolder = programFolder_;
    state_.outputStarted = false;
    state_.failure.clear();
    state_.stepBusy = false;
    state_.counters.ResetJob();
    expected_ = ExpectedLength{};
    firstFrame_.clear();
    resultProbe_.Clear();
    resultProbed_ = false;
    resultPicture_ = OutputPicture{};
    // Every clip becomes a picture in its intermediate: black for one without.
    expected_.picture = true;

    namer_.Clear();
    for (const auto& clip : state_.clips) namer_.Protect(clip);
    namer_.Protect(state_.outputPath);
    namer_.Protect(OutputLock::LockPathFor(state_.outputPath));
    // The result is written under a name of its own beside the output and replaces the user's
    // file only once it is complete and checked: a stop, a failure or a full disk leave an
    // existing file as it was. The extension stays last: some formats follow it.
    state_.outputPath = namer_.Reserve(FolderOf(state_.finalOutputPath), TitleOf(state_.finalOutputPath),
                                       L".partial", ExtensionOf(state_.finalOutputPath));
    state_.fileFlags |= JoinState::kFlagTemporaryOutput;
    resultProbed_ = false;

    joining_ = true;
    lastPercent_ = 0;
    timeLeft_.Start(state_);
    view_.SetJoining(true);
    view_.SetProgress(0);

    auto tick = [this](std::uint32_t) {
        bool keep = false;
        Guarded([this, &keep] { keep = StepTick(); });
        if (!keep) stepTimerRunning_ = false;
        return keep;
    };
    stepTimer_.reset();
    stepTimer_ = std::make_unique<CallbackTimer>(loop_, kTimerPeriodMs, tick);
    stepTimerRunning_ = true;
    PostStep();  // the first clip need not wait a whole period
    return {};
}

void JoinPipeline::SetPhase(JoinPhase phase) {
    state_.phase = phase;
    timeLeft_.PhaseBegins(state_, phase, expected_.complete ? std::optional<double>(expected_.Total()) : std::nullopt);
    view_.PhaseChanged(phase);
}

void JoinPipeline::PostStep() {
    std::weak_ptr<JoinPipeline*> weak = alive_;
    loop_.Post([weak] {
        if (auto self = weak.lock()) {
            JoinPipeline* p = *self;
            p->Guarded([p] {
                if (p->stepTimerRunning_ && !p->StepTick()) p->StopStepTimer();
            });
        }
    });
}

bool JoinPipeline::StepTick() {
    if (state_.cancel.IsRequested() || !joining_) return false;
    if (!state_.pendingClips.empty()) {
        if (!state_.stepBusy && !worker_.Active()) ConvertNextClip();
        return true;
    }
    if (!worker_.Active()) {
        StartConcatenation();
        return false;
    }
    return true;
}

void JoinPipeline::ConvertNextClip() {
    if (worker_.Active() || state_.pendingClips.empty()) return;
    const std::wstring clip = state_.pendingClips.front();
    state_.currentClip = clip;
    SetPhase(JoinPhase::Probing);
    // The probe, and the copy made when the clip is refused under its own name, run on the
    // worker like every encoder run: a slow or stuck clip must never hold the loop thread.
    StartWorker([this, clip] {
        workerProbeOk_ = media_.Probe(clip, workerProbe_, state_.cancel);
        if (!workerProbeOk_ && !state_.cancel.IsRequested()) {
            workerCopy_ = MakeTemporaryCopy(clip, &state_.cancel);
            if (!workerCopy_.empty()) workerProbeOk_ = media_.Probe(workerCopy_, workerProbe_, state_.cancel);
        }
        if (workerProbeOk_ && !state_.cancel.IsRequested()) workerLook_ = media_.LookInside(clip, state_.cancel);
    });
}

void JoinPipeline::ContinueConversion() {
    if (state_.pendingClips.empty()) return;
    state_.stepBusy = true;
    const std::wstring clip = state_.pendingClips.front();
    const bool first = state_.nextClipIndex == 0;
    state_.probe = workerProbe_;
    const std::wstring copy = workerCopy_;
    workerCopy_.clear();

    if (!workerProbeOk_ && copy.empty()) {
        state_.stepBusy = false;
        state_.pendingClips.pop_front();
        ++state_.nextClipIndex;
        view_.ClipLeftOut(clip);
        PostStep();  // the next clip need not wait for the timer
        return;
    }
    if (!copy.empty()) {
        state_.currentClip = copy;
        state_.clipCopy = copy;
        state_.fileFlags |= JoinState::kFlagClipCopy;
    }

    // The clip's length is what its packets hold: a partial download is joined with what it
    // holds, and the user hears what is missing.
    clipHeld_.reset();
    if (workerLook_ && workerLook_->holdsPackets && workerLook_->duration > 0) {
        clipHeld_ = workerLook_->duration;
        if (HoldsLessThanHeader(*workerLook_))
            view_.ClipHoldsLess(clip, ShortClipWarning(clip, workerLook_->duration, workerLook_->headerDuration));
        state_.probe.duration = ClockText(*clipHeld_);  // for the time left
    }

    const ClipProperties& p = state_.probe;
    if (state_.handedOver && (p.bitrate.empty() || p.frameRate.empty() || p.audioBitrate.empty() || p.sampleRate.empty()))
        view_.ReportIncompleteClip(state_.sourceUrl);

    // Named after the clip, but never the name of another clip's intermediate or of a file
    // that is already there.
    std::wstring intermediate = namer_.Reserve(FolderOf(state_.outputPath), TitleOf(state_.currentClip), L"", L".qjv");
    // Later clips never change what the first one set; a first clip left out leaves the defaults.
    if (first) {
        state_.encodeParams = FinalEncodeParamsFromProbe(state_.probe);
        firstFrame_ = state_.probe.resolution;
    }
    double fps = FrameRateFromProbe(state_.probe);
    state_.commandLine = ConversionCommandLine(state_.encoderPath, state_.currentClip, intermediate, fps);
    state_.intermediateFiles.push_back(intermediate);
    joinedClips_.resize(state_.intermediateFiles.size() - 1);
    joinedClips_.push_back(state_.currentClip);
    state_.pendingClips.pop_front();
    ++state_.nextClipIndex;
    SetPhase(JoinPhase::Converting);
    RunEncoderStep();
    state_.stepBusy = false;
}

void JoinPipeline::RunEncoderStep() {
    std::wstring folder = state_.workingFolder;
    std::wstring command = state_.commandLine;
    JoinPhase phase = state_.phase;
    const std::optional<double> held = phase == JoinPhase::Converting ? clipHeld_ : std::nullopt;
    StartWorker([this, folder, command, phase, held] {
        encoderTail_.clear();
        runDuration_.reset();
        runExit_ = media_.Run(
            folder, command,
            [this, phase, held](const std::string& chunk) {
                ProgressReading reading = ParseProgress(chunk);
                // The step lasts what the clip holds, whatever length the encoder reads in it.
                if (held && reading.durationSeconds) reading.durationSeconds = static_cast<std::int64_t>(*held);
                state_.counters.Apply(phase, reading);
                if (!runDuration_) runDuration_ = DurationInOutput(chunk);
                encoderTail_ += chunk;
                if (encoderTail_.size() > 2 * kTailBytes) encoderTail_.erase(0, encoderTail_.size() - kTailBytes);
            },
            state_.cancel);
    });
}

void JoinPipeline::StartWorker(std::function<void()> work) {
    // What the work reports; cleared so that a work that never ran reports nothing of an earlier one.
    runExit_ = EncoderExit{};
    workerError_.clear();
    workerProbe_.Clear();
    workerProbeOk_ = false;
    workerCopy_.clear();
    workerLook_.reset();
    worker_.Start(std::move(work), workerError_, [this] { OnWorkerEnded(); });
}

void JoinPipeline::ResetCounters() { state_.counters.ResetStep(); }

void JoinPipeline::StopStepTimer() {
    if (stepTimer_) stepTimer_->StopTimer();
    stepTimerRunning_ = false;
}

void JoinPipeline::StartConcatenation() {
    if (state_.intermediateFiles.empty()) {
        FailJoin(Tr(L"None of the clips could be read."));
        return;
    }
    const std::wstring& first = state_.intermediateFiles.front();
    state_.concatFile = namer_.Reserve(FolderOf(first), TitleOf(first), L"_all", ExtensionOf(first));
    SetPhase(JoinPhase::Concatenating);
    // Any non-zero pair: the bar stands at the middle while the copy runs.
    state_.counters.SetStep(1, 1);
    std::vector<std::wstring> parts = state_.intermediateFiles;
    std::wstring target = state_.concatFile;
    StartWorker([this, parts, target] {
        concatOutcome_ = ConcatenateFiles(parts, target, [this] { return state_.cancel.IsRequested(); });
    });
}

void JoinPipeline::CheckEndedWorker() {
    if (!worker_.Ended()) return;
    worker_.Stop();
    // A finished step counts in full, even if no tick saw its last position.
    ProgressSnapshot counters = state_.counters.Snapshot();
    if (counters.totalSeconds > 0 && !state_.cancel.IsRequested()) {
        state_.counters.SetStep(counters.totalSeconds, counters.totalSeconds);
        UpdateProgress();
    }
    if (state_.fileFlags & JoinState::kFlagClipCopy) {
        RemoveFileQuietly(state_.clipCopy);
        state_.clipCopy.clear();
        state_.fileFlags &= ~JoinState::kFlagClipCopy;
    }
    // Before the next step starts below, so that its first readings are not lost.
    ResetCounters();
    if (!workerError_.empty()) {
        std::wstring reason = workerError_;
        workerError_.clear();
        AbortJoin(reason);
        return;
    }
    switch (state_.phase) {
    case JoinPhase::Probing:
        if (!state_.cancel.IsRequested()) ContinueConversion();
        break;
    case JoinPhase::Converting: {
        // A failed conversion leaves its clip out: the chain goes on without it, the user hears of
        // it, and whatever part of an intermediate it wrote is never joined as if it were whole.
        // A full disk is no fault of the clip's, and no later step can succeed.
        if (state_.cancel.IsRequested() || state_.intermediateFiles.empty()) break;
        std::wstring storage = StorageFailure(encoderTail_);
        FileFacts facts;
        const std::wstring made = state_.intermediateFiles.back();
        if (!storage.empty()) {
            state_.pendingClips.clear();
            StopStepTimer();
            FailJoin(Tr(L"The folder of the output file cannot be written:") + L" " +
                     FolderOf(state_.outputPath) + L": " + storage);
        } else if (std::wstring cannot = runExit_.Succeeded() ? L"" : RealEncoderStartFailure(encoderTail_);
                   !cannot.empty()) {
            state_.pendingClips.clear();
            StopStepTimer();
            FailJoin(cannot);
        } else if (!runExit_.Succeeded() || !GetFileFacts(made, facts) || facts.size == 0) {
            RemoveFileQuietly(made);
            state_.intermediateFiles.pop_back();
            view_.ClipLeftOut(state_.clips[state_.nextClipIndex - 1]);
        } else if (std::optional<double> seconds =
                       clipHeld_ ? clipHeld_ : runDuration_ ? runDuration_ : DurationSeconds(state_.probe.duration)) {
            // What the clip's packets hold, as looked at here or else as the conversion reports it.
            expected_.clips.push_back({state_.clips[state_.nextClipIndex - 1], *seconds});
        } else {
            expected_.complete = false;
        }
        break;
    }
    case JoinPhase::Concatenating:
        if (concatOutcome_.result == ConcatResult::Failed) {
            FailJoin(concatOutcome_.error);
        } else if (concatOutcome_.result == ConcatResult::Done) {
            PostCommand(FinalEncodeCommandFor(state_.targetFormat));
        }
        break;
    case JoinPhase::EncodingAvi:
    case JoinPhase::EncodingFlv:
    case JoinPhase::EncodingRmvb:
    case JoinPhase::EncodingWmv:
    case JoinPhase::EncodingMp4Pass2:
    case JoinPhase::EncodingMp4Pass1:
        // A failed pass 1 or final encode fails the join: there is no output worth keeping.
        if (state_.cancel.IsRequested()) break;
        if (!runExit_.Succeeded()) {
            FailJoin(FailedRunReason());
        } else if (state_.phase == JoinPhase::EncodingMp4Pass1) {
            PostCommand(kCmdEncodeMp4Pass2);
        } else if (std::wstring bad = CheckWrittenOutput(); !bad.empty()) {
            FailJoin(bad);
        } else {
            StartResultCheck();
        }
        break;
    case JoinPhase::CheckingResult: {
        if (state_.cancel.IsRequested()) break;
        if (!resultSyncError_.empty()) {
            FailJoin(resultSyncError_);
            break;
        }
        expected_.slackPerClip = ReencodeSlackPerClip(resultProbe_);
        std::wstring reason = CheckJoinResult(resultProbe_, resultProbed_, expected_, resultPicture_);
        if (!reason.empty()) {
            FailJoin(reason);
        } else {
            PostCommand(kCmdFinishJoin);
        }
        break;
    }
    default: break;
    }
}

std::wstring JoinPipeline::FailedRunReason() const {
    std::wstring reason = runExit_.Describe();
    std::wstring last = EncoderFailureReason(encoderTail_);
    if (!last.empty()) reason += L" " + last;
    return reason;
}

void JoinPipeline::StartResultCheck() {
    SetPhase(JoinPhase::CheckingResult);
    const std::wstring output = state_.outputPath;
    resultSyncError_.clear();
    std::vector<std::wstring> clips = joinedClips_, parts = state_.intermediateFiles;
    clips.resize(parts.size());
    StartWorker([this, output, clips, parts] {
        if (chapterStep_) resultSyncError_ = chapterStep_(output, state_.targetFormat, clips, parts, state_.cancel);
        if (!resultSyncError_.empty()) return;
        resultSyncError_ = FlushOutputToDisk(output);
        if (!resultSyncError_.empty()) return;
        resultProbed_ = media_.Probe(output, resultProbe_, state_.cancel);
        if (!resultProbed_ && !state_.cancel.IsRequested()) {
            // Some names are refused by the encoder; a copy under a plain name is read instead.
            std::wstring copy = MakeTemporaryCopy(output, &state_.cancel);
            if (!copy.empty()) {
                resultProbed_ = media_.Probe(copy, resultProbe_, state_.cancel);
                RemoveFileQuietly(copy);
            }
        }
        resultProbe_.path = output;
        resultPicture_ = resultProbed_ && pictureMeasure_ ? pictureMeasure_(output, state_.cancel) : OutputPicture{};
    });
}

void JoinPipeline::UpdateProgress() {
    std::optional<int> value = ProgressPercent(state_.phase, state_.counters.Snapshot(),
                                               static_cast<int>(state_.clips.size()),
                                               static_cast<int>(state_.pendingClips.size()));
    if (!value) return;
    int percent = *value;
    if (percent != lastPercent_) {
        lastPercent_ = percent;
        view_.SetProgress(percent);
    }
}

void JoinPipeline::MonitorTick() {
    CheckEndedWorker();
    UpdateProgress();
    if (joining_) view_.SetTimeLeft(timeLeft_.Tick(state_));
}

void JoinPipeline::OnWorkerEnded() {
    if (!worker_.Ended()) return;  // already handled by a timer tick
    Guarded([this] {
        JoinPhase ended = state_.phase;
        MonitorTick();
        if (ended == JoinPhase::Converting && stepTimerRunning_ && !StepTick()) StopStepTimer();
    });
}

void JoinPipeline::StartFinalEncode(int command) {
    if (!joining_ || state_.cancel.IsRequested() || worker_.Active()) return;
    JoinPhase phase;
    switch (command) {
    case kCmdEncodeAvi: phase = JoinPhase::EncodingAvi; break;
    case kCmdEncodeFlv: phase = JoinPhase::EncodingFlv; break;
    case kCmdEncodeRmvb: phase = JoinPhase::EncodingRmvb; break;
    case kCmdEncodeWmv: phase = JoinPhase::EncodingWmv; break;
    case kCmdEncodeMp4Pass1: phase = JoinPhase::EncodingMp4Pass1; break;
    case kCmdEncodeMp4Pass2: phase = JoinPhase::EncodingMp4Pass2; break;
    default: return;
    }
    // A command left in the queue by a join that was stopped must not act on the next one.
    JoinPhase expected = phase == JoinPhase::EncodingMp4Pass2 ? JoinPhase::EncodingMp4Pass1 : JoinPhase::Concatenating;
    if (state_.phase != expected || state_.concatFile.empty()) return;
    if (phase == JoinPhase::EncodingMp4Pass1) {
        std::wstring folder = MakeMp4WorkingFolder(state_.outputPath);
        if (folder.empty()) {
            FailJoin(Tr(L"Cannot create a working folder next to the output file."));
            return;
        }
        state_.workingFolder = folder;
    }
    if (!state_.outputStarted) {
        // From here on the output is this join's: a file that is there now is one the user agreed
        // to replace, and its presence at the end must not pass for a result.
        RemoveFileQuietly(state_.outputPath);
        state_.outputStarted = true;
    }
    FinalEncodeInputs inputs;
    inputs.encoderPath = state_.encoderPath;
    inputs.concatFile = state_.concatFile;
    inputs.outputPath = state_.outputPath;
    inputs.pass1Preset = state_.pass1Preset;
    inputs.pass2Preset = state_.pass2Preset;
    inputs.params = state_.encodeParams;
    state_.commandLine = FinalEncodeCommandLine(phase, inputs);
    if (phase == JoinPhase::EncodingRmvb) {
        int width = 0, height = 0;
        std::swscanf(firstFrame_.c_str(), L"%dx%d", &width, &height);
        view_.OutputFitted(RealMediaFitNote(width, height));
    }
    SetPhase(phase);
    RunEncoderStep();
}

void JoinPipeline::FailJoin(const std::wstring& reason) {
    if (state_.failure.empty()) state_.failure = reason;
    PostCommand(kCmdFinishJoin);
}

// The new output must be there, not empty and not cut short by a full disk before it is read
// back (on the worker) and may replace anything.
std::wstring JoinPipeline::CheckWrittenOutput() const {
    std::wstring storage = StorageFailure(encoderTail_);
    if (!storage.empty())
        return Tr(L"The folder of the output file cannot be written:") + L" " + FolderOf(state_.outputPath) +
               L": " + storage;
    FileFacts facts;
    if (!GetFileFacts(state_.outputPath, facts) || facts.size == 0) {
        std::wstring why = EncoderFailureReason(encoderTail_);
        return why.empty() ? Tr(L"The encoder wrote no output.") : why;
    }
    return {};
}

void JoinPipeline::EndJoin() {
    outputLock_.Release();
    joining_ = false;
    StopStepTimer();
    timeLeft_.Stop();
    view_.SetJoining(false);
    view_.SetProgress(0);
    lastPercent_ = 0;
    state_.intermediateFiles.clear();
    state_.pendingClips.clear();
    view_.ClearClips();
}

void JoinPipeline::FinishJoin() {
    if (!joining_ || worker_.Active()) return;
    if (state_.failure.empty() && state_.phase != JoinPhase::CheckingResult) return;  // stale: not this join's end
    worker_.Stop();
    // A failed encode's partial output is of no use to anyone (a file the user had there was
    // already given up when the encode began).
    if (!state_.failure.empty() && state_.outputStarted && !(state_.fileFlags & JoinState::kFlagTemporaryOutput))
        RemoveFileQuietly(state_.outputPath);
    for (const auto& file : state_.intermediateFiles) RemoveFileQuietly(file);
    RemoveFileQuietly(state_.concatFile);
    RemoveFileQuietly(state_.clipCopy);
    state_.clipCopy.clear();
    if (state_.workingFolder != programFolder_) RemoveFolderQuietly(state_.workingFolder);
    state_.workingFolder = programFolder_;

    if (state_.fileFlags & JoinState::kFlagTemporaryOutput) {
        if (state_.failure.empty()) {
            // One rename: the old file is replaced by the complete new one, never by a part.
            std::error_code ec;
            fs::rename(ToFsPath(state_.outputPath), ToFsPath(state_.finalOutputPath), ec);
            if (ec)
                state_.failure = Tr(L"Cannot move the result to ") + state_.finalOutputPath + L": " +
                                 WidePath(ec.message());
        }
        if (!state_.failure.empty()) RemoveFileQuietly(state_.outputPath);
        state_.outputPath = state_.finalOutputPath;
        state_.fileFlags &= ~JoinState::kFlagTemporaryOutput;
    }
    resultProbe_.path = state_.outputPath;
    EndJoin();
    if (!state_.handedOver) {
        PostCommand(kCmdShowJoinResult);
    } else {
        view_.HandedOverJobEnded(state_.failure.empty());
    }
}

void JoinPipeline::ShowJoinResult() {
    if (joining_) return;
    std::error_code ec;
    bool made = state_.failure.empty() && state_.outputStarted && fs::is_regular_file(ToFsPath(state_.outputPath), ec);
    if (made) {
        // Probed on the worker by the result check; the loop thread never runs the encoder.
        ClipProperties result = resultProbe_;
        result.path = state_.outputPath;
        view_.ShowResult(result, resultProbed_);
        return;
    }
    view_.ShowFailure(Tr(L"Failed to merge files."), Tr(L"Tips"), state_.failure);
}

void JoinPipeline::RemoveJoinFiles() {
    // Called only once the worker has ended, so its copy (if it made one) can be read.
    RemoveFileQuietly(workerCopy_);
    workerCopy_.clear();
    for (const auto& file : state_.intermediateFiles) RemoveFileQuietly(file);
    RemoveFileQuietly(state_.concatFile);
    RemoveFileQuietly(state_.clipCopy);
    state_.clipCopy.clear();
    state_.fileFlags &= ~JoinState::kFlagClipCopy;
    if (state_.workingFolder != programFolder_) RemoveFolderQuietly(state_.workingFolder);
    // Only an output this join has begun to write is unfinished work of ours.
    if (state_.outputStarted) RemoveFileQuietly(state_.outputPath);
}

void JoinPipeline::StopJoin() {
    if (TearDownJoin(Tr(L"The join was stopped.")) && state_.handedOver) view_.HandedOverJobEnded(false);
}

void JoinPipeline::Close() {
    if (closed_) return;
    closed_ = true;
    state_.cancel.Request();
    state_.pendingClips.clear();
    worker_.Stop();
    if (monitorTimer_) monitorTimer_->StopTimer();
    monitorTimer_.reset();
    if (stepTimer_) stepTimer_->StopTimer();
    stepTimer_.reset();
    stepTimerRunning_ = false;
    if (joining_) {
        RemoveJoinFiles();
        state_.workingFolder = programFolder_;
        joining_ = false;
    }
    outputLock_.Release();
}

}  // namespace quilmer
