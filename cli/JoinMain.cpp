// quilmer-join: joins clips from a terminal with the same engine as the main program.

#include "cli/JoinArguments.h"
#include "cli/TerminalProgress.h"
#include "foundation/AppFolders.h"
#include "foundation/CallbackTimer.h"
#include "foundation/FileUtil.h"
#include "foundation/PlainEventLoop.h"
#include "foundation/TextTranslator.h"
#include "foundation/Utf8.h"
#include "foundation/Version.h"
#include "media/CancelFlag.h"
#include "media/ClipProbe.h"
#include "media/TargetFormat.h"
#include "media/join/JoinFiles.h"
#include "media/join/JoinMedia.h"
#include "media/join/JoinPipeline.h"
#include "media/join/PipelineTimeLeft.h"
#include "media/join/ResultCheck.h"
#include "media/av/AvProbe.h"
#include "media/join/methods/ClipChapters.h"
#include "media/join/methods/DirectJoin.h"
#include "media/join/methods/ClipListCheck.h"
#include "media/join/methods/JoinMethod.h"

#include <algorithm>
#include <chrono>
#include <clocale>
#include <fcntl.h>
#include <map>
#include <csignal>
#include <cstdio>
#include <thread>
#include <unistd.h>

namespace quilmer {
namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

int gSignalPipe[2] = {-1, -1};
volatile sig_atomic_t gStopSignal = 0;

extern "C" void OnStopSignal(int signal) {
    gStopSignal = signal;
    char code = static_cast<char>(signal);
    ssize_t ignored = write(gSignalPipe[1], &code, 1);
    (void)ignored;
}

void Say(const std::wstring& text) { std::fprintf(stderr, "quilmer-join: %s\n", NativePath(text).c_str()); }

class TerminalJoinView final : public JoinView {
public:
    TerminalJoinView(PlainEventLoop& loop, bool quiet)
        : loop_(loop), quiet_(quiet), terminal_(isatty(STDERR_FILENO) != 0), start_(Clock::now()) {}

    void SetPipeline(const JoinPipeline* pipeline) { pipeline_ = pipeline; }
    void SetDirectJoin(const DirectJoin* direct) { direct_ = direct; }

    void SetProgress(int percent) override {
        if (percent <= 0 && percent_ > 0) return;  // the end of a join resets the bar; keep the last value
        percent_ = percent;
        Draw(false);
    }
    void SetJoining(bool joining) override {
        if (!joining) EndLine();
        secondsLeft_ = -1;
    }
    void SetTimeLeft(double seconds) override {
        secondsLeft_ = seconds;
        leftAt_ = Clock::now();
    }
    void ShowResult(const ClipProperties& result, bool probed) override {
        EndLine();
        if (!probed) {
            Say(Tr(L"The output was written but cannot be read back as video: ") + result.path);
            loop_.Quit(kExitFailure);
            return;
        }
        std::string details;
        auto add = [&details](const char* label, const std::wstring& value) {
            if (!value.empty()) details += std::string("  ") + label + ": " + NativePath(value) + "\n";
        };
        std::printf("%s\n", NativePath(result.path).c_str());
        add("format", result.format);
        add("duration", result.duration);
        add("video", result.videoCodec + (result.resolution.empty() ? L"" : L", " + result.resolution));
        add("frame rate", result.frameRate);
        add("audio", result.audioCodec + (result.sampleRate.empty() ? L"" : L", " + result.sampleRate));
        add("bit rate", result.bitrate);
        std::fputs(details.c_str(), stdout);
        std::fflush(stdout);
        // The file is there, but it is not the join the user asked for.
        loop_.Quit(leftOut_ == 0 ? 0 : kExitFailure);
    }
    void ShowFailure(const std::wstring& message, const std::wstring&, const std::wstring& detail) override {
        EndLine();
        Say(detail.empty() ? message : message + L" " + detail);
        loop_.Quit(kExitFailure);
    }
    void PhaseChanged(JoinPhase) override { Draw(false); }
    void MethodChosen(const std::wstring& method, const std::wstring& reason) override {
        EndLine();
        std::fprintf(stderr, "quilmer-join: method %s: %s\n", NativePath(method).c_str(), NativePath(reason).c_str());
        std::fflush(stderr);
    }
    void ClipHoldsLess(const std::wstring&, const std::wstring& warning) override {
        EndLine();
        Say(warning);
    }
    void OutputFitted(const std::wstring& note) override {
        EndLine();
        Say(note);
    }
    void ClipLeftOut(const std::wstring& clip) override {
        EndLine();
        Say(Tr(L"This clip could not be converted and is missing from the output: ") + clip);
        ++leftOut_;
    }

    // Called once a second so that the clock moves while the percentage stands still.
    void Refresh() { Draw(true); }

private:
    using Clock = std::chrono::steady_clock;

    std::string Stage() const {
        if (direct_) return direct_->Stage();
        if (!pipeline_) return {};
        const JoinState& state = pipeline_->State();
        switch (state.phase) {
        case JoinPhase::Probing:  // the clip is still at the front of the queue
            return "converting clip " + std::to_string(state.nextClipIndex + 1) + " of " +
                   std::to_string(state.clips.size());
        case JoinPhase::Converting:
            return "converting clip " + std::to_string(state.nextClipIndex) + " of " +
                   std::to_string(state.clips.size());
        case JoinPhase::Concatenating: return "joining";
        case JoinPhase::EncodingMp4Pass1: return "encoding mp4, pass 1 of 2";
        case JoinPhase::EncodingMp4Pass2: return "encoding mp4, pass 2 of 2";
        case JoinPhase::CheckingResult: return "checking the output";
        default: return "encoding " + NativePath(state.targetFormat);
        }
    }

    void Draw(bool timed) {
        if (quiet_) return;
        double elapsed = std::chrono::duration<double>(Clock::now() - start_).count();
        std::string stage = Stage();
        // The engine's estimate, counted down to this moment.
        double left = secondsLeft_ < 0 ? -1
                                       : std::max(secondsLeft_ - std::chrono::duration<double>(Clock::now() - leftAt_).count(), 0.0);
        if (terminal_) {
            std::fprintf(stderr, "\r%s\033[K", ProgressLine(percent_, elapsed, stage, left).c_str());
            lineOpen_ = true;
        } else if (!timed && (percent_ >= lastPrinted_ + 5 || stage != lastStage_)) {
            // Plain lines for logs: every five percent and at each new stage.
            std::fprintf(stderr, "%s\n", ProgressLine(percent_, elapsed, stage, left, 20).c_str());
            lastPrinted_ = percent_;
            lastStage_ = stage;
        }
        std::fflush(stderr);
    }

    void EndLine() {
        if (lineOpen_) std::fputc('\n', stderr);
        lineOpen_ = false;
    }

    PlainEventLoop& loop_;
    bool quiet_;
    bool terminal_;
    Clock::time_point start_;
    const JoinPipeline* pipeline_ = nullptr;
    const DirectJoin* direct_ = nullptr;
    int percent_ = 0;
    double secondsLeft_ = -1;
    Clock::time_point leftAt_;
    int lastPrinted_ = -5;
    std::string lastStage_;
    bool lineOpen_ = false;
    int leftOut_ = 0;
};

// The clips are probed before the join starts, many with one encoder start; the join's own probe
// of each clip then reuses the record instead of starting the encoder again.
class ProbeOnceMedia final : public JoinMedia {
public:
    ProbeOnceMedia(std::unique_ptr<JoinMedia> inner, std::wstring encoder)
        : inner_(std::move(inner)), encoder_(std::move(encoder)) {}

    bool Probe(const std::wstring& path, ClipProperties& properties, CancelFlag& cancel) override {
        auto it = known_.find(path);
        if (it != known_.end()) {
            properties = it->second;
            properties.path = path;
            return true;
        }
        return inner_->Probe(path, properties, cancel);
    }
    std::optional<MediaInfo> LookInside(const std::wstring& path, CancelFlag& cancel) override {
        auto it = looks_.find(path);
        if (it != looks_.end()) return it->second;
        return inner_->LookInside(path, cancel);
    }
    EncoderExit Run(const std::wstring& workingFolder, const std::wstring& commandLine, const ChunkHandler& onChunk,
                    CancelFlag& cancel) override {
        return inner_->Run(workingFolder, commandLine, onChunk, cancel);
    }
    // Probes the clips ahead of the join, as few encoder starts as possible, and keeps the records
    // of those that succeed. The answer says which did.
    std::vector<bool> ProbeAllAhead(const std::vector<std::wstring>& paths, CancelFlag& cancel) {
        std::vector<ClipProperties> records;
        std::vector<bool> probed = ProbeClips(paths, records, encoder_, &cancel);
        for (std::size_t i = 0; i < paths.size(); ++i) {
            if (!probed[i]) continue;
            const std::wstring path = NormalPath(paths[i]);
            known_[path] = records[i];
            // What the clip holds, for the time left from the start (a header may claim more).
            if (!cancel.IsRequested()) looks_[path] = inner_->LookInside(path, cancel);
        }
        return probed;
    }
    // The lengths of the clips probed ahead (0 where unknown), for the join's time-left estimate.
    std::vector<double> KnownSeconds(const std::vector<std::wstring>& paths) const {
        std::vector<double> seconds;
        for (const auto& path : paths) {
            auto look = looks_.find(NormalPath(path));
            if (look != looks_.end() && look->second && look->second->holdsPackets && look->second->duration > 0) {
                seconds.push_back(look->second->duration);
                continue;
            }
            auto it = known_.find(NormalPath(path));
            seconds.push_back(it == known_.end() ? 0 : DurationSeconds(it->second.duration).value_or(0));
        }
        return seconds;
    }
    // The pictures of the clips probed ahead (nullopt where unknown), for the same estimate.
    std::vector<std::optional<PictureWork>> KnownPictures(const std::vector<std::wstring>& paths) const {
        std::vector<std::optional<PictureWork>> pictures;
        for (const auto& path : paths) {
            auto it = known_.find(NormalPath(path));
            pictures.push_back(it == known_.end() ? std::nullopt : std::optional<PictureWork>(PictureOf(it->second)));
        }
        return pictures;
    }
    // Probes a clip ahead of the join and keeps the record when it succeeds. A clip refused
    // under its own name is tried once more as a copy (as the join does), but not kept: the join
    // must learn for itself that it needs the copy.
    bool ProbeAhead(const std::wstring& path, CancelFlag& cancel) {
        ClipProperties properties;
        if (inner_->Probe(path, properties, cancel)) {
            known_[NormalPath(path)] = properties;
            return true;
        }
        if (cancel.IsRequested()) return false;
        std::wstring copy = MakeTemporaryCopy(path, &cancel);
        if (copy.empty()) return false;
        bool probed = inner_->Probe(copy, properties, cancel);
        RemoveFileQuietly(copy);
        return probed;
    }

private:
    std::unique_ptr<JoinMedia> inner_;
    std::wstring encoder_;
    std::map<std::wstring, ClipProperties> known_;
    std::map<std::wstring, std::optional<MediaInfo>> looks_;
};

// Everything that can be told before a single step runs, so that a mistake costs nothing.
// A stop (Ctrl-C, SIGTERM) raises `cancel`, which ends the running probe at once.
// The direct methods look at the clips themselves (libavformat) and need no adapter: `probe` is false.
bool CheckInputs(const JoinArguments& args, const std::wstring& encoder, ProbeOnceMedia& media, CancelFlag& cancel,
                 bool probe) {
    if (TargetFormatForPath(args.output).empty()) {
        Say(Tr(L"Unknown output extension; use .avi, .flv, .rmvb, .wmv or .mp4 (or .hlv .f4v .flx .fmv .rm .3gp "
               L".mov .wma .asf): ") +
            args.output);
        return false;
    }
    if (probe && access(NativePath(encoder).c_str(), X_OK) != 0) {
        Say(Tr(L"The encoder is missing from the program folder: ") + encoder);
        return false;
    }
    for (const auto& clip : args.clips) {
        // The system's own reason: a clip in a folder one may not enter is not "not found".
        std::wstring why = CheckClipReadable(clip);
        if (!why.empty()) {
            Say(Tr(L"Clip cannot be read:") + L" " + clip + L" (" + why + L")");
            return false;
        }
    }
    // The output's place is checked before the clips are probed, so that an output nobody can
    // write costs nothing and is not blamed on the clips.
    std::wstring refusal = CheckOutputPath(args.output, args.clips);
    if (!refusal.empty()) {
        Say(refusal);
        return false;
    }
    if (!probe) return true;
    // All at once first; a clip that fails there is tried again alone (and as a copy), so that
    // its own verdict, not a neighbour's, decides.
    std::vector<bool> probed = media.ProbeAllAhead(args.clips, cancel);
    for (std::size_t i = 0; i < args.clips.size(); ++i) {
        const std::wstring& clip = args.clips[i];
        if (cancel.IsRequested()) return true;  // the caller sees the stop
        if (!probed[i] && !media.ProbeAhead(clip, cancel)) {
            if (cancel.IsRequested()) return true;
            Say(Tr(L"Clip is not a video or audio file the encoder can read: ") + clip);
            return false;
        }
    }
    return true;
}

// --check: the compatibility report on standard output; 0 when a lossless join is possible.
int RunCheck(const JoinArguments& args) {
    TargetFormat target = AssumedTarget(args.clips, L"mp4");
    if (!args.output.empty()) {
        target = TargetFormatForPath(args.output);
        if (target.empty()) {
            Say(Tr(L"Unknown output extension; use .avi, .flv, .rmvb, .wmv or .mp4 (or .hlv .f4v .flx .fmv .rm .3gp "
                   L".mov .wma .asf): ") +
                args.output);
            return kExitUsage;
        }
    }
    CancelFlag never;
    const ClipListCheck check = CheckClipList(args.clips, target, never);
    for (const std::wstring& line : check.Lines()) std::printf("%s\n", NativePath(line).c_str());
    std::fflush(stdout);
    return check.Lossless() ? 0 : kExitFailure;
}

int Run(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    std::vector<std::string> raw(argv + 1, argv + argc);
    JoinArguments args;
    std::string error;
    if (!ParseJoinArguments(raw, args, error)) {
        std::fprintf(stderr, "quilmer-join: %s\nTry 'quilmer-join --help'.\n", error.c_str());
        return kExitUsage;
    }
    if (args.help) {
        std::fputs(JoinUsage().c_str(), stdout);
        return 0;
    }
    if (args.version) {
        std::printf("%s\n", ToUtf8(FormatVersion(3)).c_str());
        return 0;
    }
    if (args.check) return RunCheck(args);

    const std::wstring programFolder = AppFolders::Instance().ProgramFolder();
    const std::wstring encoder = DefaultEncoderPath();
    ProbeOnceMedia media(MakeEncoderJoinMedia(encoder), encoder);

    // Ctrl-C, SIGTERM and SIGHUP (the terminal closed) reach the loop through a pipe: a signal
    // handler may do nothing else. All three stop the join and clean up. A reader of standard
    // output or error that went away must not end the program before it has cleaned up.
    // Close-on-exec: no encoder child may hold the pipe.
    if (pipe2(gSignalPipe, O_CLOEXEC) != 0) {
        Say(Tr(L"Cannot set up signal handling."));
        return kExitFailure;
    }
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);

    const JoinMethod method = ParseJoinMethod(args.method).value_or(JoinMethod::Auto);
    const bool classic = method == JoinMethod::Classic;
    PlainEventLoop loop;
    TerminalJoinView view(loop, args.quiet);
    JoinPipeline pipeline(loop, view, media, programFolder);
    pipeline.SetPictureMeasure(MeasureOutputPicture);
    DirectJoin direct(loop, view);
    direct.SetChapters(args.chapters);
    if (args.chapters) pipeline.SetChapterStep(&AddClassicChapters);
    if (classic) {
        view.SetPipeline(&pipeline);
    } else {
        view.SetDirectJoin(&direct);
    }

    CancelFlag checkCancel;
    std::thread watcher([&loop, &pipeline, &direct, &checkCancel] {
        char code = 0;
        while (read(gSignalPipe[0], &code, 1) < 0) {
        }
        if (code == 0) return;  // the program ends normally
        checkCancel.Request();  // a probe of the up-front check ends at once
        int signal = code;
        loop.Post([&loop, &pipeline, &direct, signal] {
            pipeline.StopJoin();
            direct.StopJoin();
            Say(Tr(L"Stopped; the unfinished output and the temporary files were removed."));
            loop.Quit(128 + signal);
        });
    });

    // Checked with the signals already caught, so that a Ctrl-C during the probes still lets
    // them tidy up after themselves.
    int code = kExitFailure;
    std::wstring refusal;
    const bool checked = CheckInputs(args, encoder, media, checkCancel, classic);
    if (classic) {
        pipeline.SetClipSecondsHint(media.KnownSeconds(args.clips));
        pipeline.SetClipPicturesHint(media.KnownPictures(args.clips));
    }
    if (!checked) {
        // the reason is said
    } else if (gStopSignal != 0) {
        code = 128 + gStopSignal;
    } else if (!(refusal = classic ? pipeline.StartJoin(args.clips, args.output)
                                   : direct.StartJoin(args.clips, args.output, method))
                    .empty()) {
        Say(refusal);
    } else {
        CallbackTimer clock(loop, 1000, [&view](std::uint32_t) {
            view.Refresh();
            return true;
        });
        code = loop.Run();
    }
    pipeline.Close();
    direct.Close();

    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    signal(SIGHUP, SIG_DFL);
    char stop = 0;
    ssize_t ignored = write(gSignalPipe[1], &stop, 1);
    (void)ignored;
    watcher.join();
    return code;
}

}  // namespace
}  // namespace quilmer

int main(int argc, char** argv) { return quilmer::Run(argc, argv); }
