// The join's state machine with a scripted encoder: which steps run in which order, what files
// are made and removed, and how it ends, without any real encoder.

#include "media/join/JoinPipeline.h"

#include "JoinTestSupport.h"
#include "foundation/ManualEventLoop.h"
#include "media/WindowsCommandLine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <optional>
#include <stdexcept>
#include <map>
#include <mutex>
#include <set>

namespace quilmer {
namespace {

using testing::ReadFile;
using testing::ScratchFolder;
using testing::WaitFor;
using testing::WriteFile;

struct RunRecord {
    std::wstring folder;
    bool folderExisted = false;
    std::vector<std::wstring> args;
    std::wstring Input() const {
        for (std::size_t i = 0; i + 1 < args.size(); ++i)
            if (args[i] == L"-i") return args[i + 1];
        return {};
    }
    std::wstring Output() const { return args.back(); }
    bool Has(const std::wstring& arg) const { return std::find(args.begin(), args.end(), arg) != args.end(); }
    std::wstring After(const std::wstring& option) const {
        for (std::size_t i = 0; i + 1 < args.size(); ++i)
            if (args[i] == option) return args[i + 1];
        return {};
    }
};

// How a scripted run goes wrong, the ways real encoders do.
enum class RunFailure {
    None,
    ExitStatus,   // writes part of its output, then ends with status 1
    Signal,       // writes part of its output, then dies of SIGKILL
    Hang,         // writes part of its output, then never ends until stopped
    ShortOutput,  // ends with status 0 but wrote only part of its output
    Throw,        // the run throws (a bug of ours, or out of memory)
};

// Stands in for the encoder: a conversion writes "[clip bytes]", a final encode copies its input.
// A probe reports 10 s per clip ("[X]" groups count one clip each). Runs can fail as real encoders
// do, and a run can be held until cancelled, to test stops in the middle of a step.
class ScriptedMedia final : public JoinMedia {
public:
    std::map<std::wstring, ClipProperties> probes;  // by path; others get `standard`
    std::set<std::wstring> unreadable;              // probes of these fail
    std::set<std::wstring> hangingProbes;           // probes of these answer only a stop
    ClipProperties standard;
    std::atomic<int> holdRun{-1};                   // index of the run that waits for a stop
    std::atomic<bool> holding{false};
    std::atomic<bool> probeHolding{false};
    bool failFinal = false;  // final encodes write nothing
    std::set<std::wstring> unconvertible;  // conversions of these write nothing
    std::map<int, RunFailure> failures;    // by run index
    std::map<std::wstring, MediaInfo> looks;  // by path; others cannot be looked into
    std::thread::id loopThread = std::this_thread::get_id();
    std::atomic<int> encoderCallsOnLoopThread{0};

    ScriptedMedia() {
        standard.frameRate = L"25 fps";
        standard.bitrate = L"512 kb/s";
        standard.audioBitrate = L"96 kb/s";
        standard.sampleRate = L"44100 Hz";
        standard.duration = L"00:00:10.00";
    }

    bool Probe(const std::wstring& path, ClipProperties& properties, CancelFlag& cancel) override {
        if (std::this_thread::get_id() == loopThread) ++encoderCallsOnLoopThread;
        properties.Clear();
        properties.path = path;
        if (hangingProbes.count(path)) {
            // Like ffmpeg opening a named pipe nobody writes: only a stop ends it (the limit
            // keeps a broken stop from hanging the test).
            probeHolding = true;
            for (int i = 0; i < 10000 && !cancel.IsRequested(); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            probeHolding = false;
            return false;
        }
        if (!FileExists(path) || unreadable.count(path)) return false;
        auto it = probes.find(path);
        ClipProperties found = it == probes.end() ? standard : it->second;
        if (it == probes.end()) {
            std::string content = ReadFile(NativePath(path));
            long clips = std::count(content.begin(), content.end(), '[');
            if (clips > 0) found.duration = L"00:00:" + std::to_wstring(10 * clips) + L".00";
        }
        found.path = path;
        properties = found;
        return true;
    }

    std::optional<MediaInfo> LookInside(const std::wstring& path, CancelFlag&) override {
        if (std::this_thread::get_id() == loopThread) ++encoderCallsOnLoopThread;
        auto it = looks.find(path);
        if (it == looks.end()) return std::nullopt;
        return it->second;
    }

    EncoderExit Run(const std::wstring& workingFolder, const std::wstring& commandLine, const ChunkHandler& onChunk,
                    CancelFlag& cancel) override {
        if (std::this_thread::get_id() == loopThread) ++encoderCallsOnLoopThread;
        EncoderExit exit;
        exit.started = true;
        exit.exitCode = 0;
        RunRecord record;
        record.folder = workingFolder;
        record.folderExisted = FolderExists(workingFolder);
        record.args = SplitWindowsCommandLine(commandLine);
        int index;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            index = static_cast<int>(runs_.size());
            runs_.push_back(record);
        }
        // A conversion reports the clip's length as its probe gave it (the adapter reports the
        // length the clip's packets hold).
        std::wstring length = standard.duration;
        if (auto p = probes.find(record.Input()); p != probes.end() && !p->second.duration.empty())
            length = p->second.duration;
        onChunk("Input #0, mpeg\n  Duration: " + NativePath(length) + ", start: 0.000000, bitrate: 100 kb/s\n");
        onChunk("frame=  10 fps=0.0 q=2.0 size=  10kB time=5.00 bitrate= 1.0kbits/s");
        std::string input = ReadFile(NativePath(record.Input()));
        bool conversion = record.args.size() > 1 && record.args[1] == L"-i";  // final encodes start with -f mpeg
        std::string content = conversion ? "[" + input + "]" : input;
        auto failure = failures.find(index);
        RunFailure how = failure == failures.end() ? RunFailure::None : failure->second;
        if (index == holdRun) how = RunFailure::Hang;
        if (how != RunFailure::None) {
            // Half the output is there when it goes wrong, like a real encoder's partial file.
            WriteFile(NativePath(record.Output()), content.substr(0, content.size() / 2));
        }
        switch (how) {
        case RunFailure::None: break;
        case RunFailure::ExitStatus:
            onChunk("Error while decoding stream #0:0: Invalid data found when processing input\n");
            exit.exitCode = 1;
            return exit;
        case RunFailure::Signal:
            exit.exitCode = -1;
            exit.signal = SIGKILL;
            return exit;
        case RunFailure::Hang:
            holding = true;
            while (!cancel.IsRequested()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            holding = false;
            exit.exitCode = -1;
            exit.stoppedByUs = true;
            return exit;
        case RunFailure::ShortOutput: return exit;
        case RunFailure::Throw: throw std::runtime_error("scripted failure");
        }
        bool fails = conversion ? unconvertible.count(record.Input()) != 0 : failFinal;
        if (!fails) WriteFile(NativePath(record.Output()), content);
        return exit;
    }

    std::vector<RunRecord> Runs() {
        std::lock_guard<std::mutex> lock(mutex_);
        return runs_;
    }

private:
    std::mutex mutex_;
    std::vector<RunRecord> runs_;
};

class RecordingView final : public JoinView {
public:
    std::vector<int> progress;
    std::vector<bool> joining;
    int results = 0;
    bool probed = false;
    ClipProperties result;
    int failures = 0;
    std::wstring failureMessage, failureTitle, failureDetail;
    std::vector<std::wstring> leftOut;

    void SetProgress(int percent) override { progress.push_back(percent); }
    void SetJoining(bool value) override { joining.push_back(value); }
    void ShowResult(const ClipProperties& properties, bool ok) override {
        ++results;
        result = properties;
        probed = ok;
    }
    void ShowFailure(const std::wstring& message, const std::wstring& title, const std::wstring& detail) override {
        ++failures;
        failureMessage = message;
        failureTitle = title;
        failureDetail = detail;
    }
    void ClipLeftOut(const std::wstring& clip) override { leftOut.push_back(clip); }
    void PhaseChanged(JoinPhase phase) override {
        if (throwOnPhase && phase == *throwOnPhase) throw std::runtime_error("view failed");
    }
    std::optional<JoinPhase> throwOnPhase;
    void ReportIncompleteClip(const std::wstring& url) override { reported.push_back(url); }
    void HandedOverJobEnded(bool finished) override { handedOverEnd = finished ? 1 : 0; }
    std::vector<std::wstring> reported;
    int handedOverEnd = -1;
    bool Ended() const { return results + failures > 0 || handedOverEnd >= 0; }
};

class JoinPipelineTest : public ::testing::Test {
protected:
    ScratchFolder dir{"join-pipeline"};
    ScratchFolder program{"join-program"};
    ManualEventLoop loop;
    ScriptedMedia media;
    RecordingView view;
    std::unique_ptr<JoinPipeline> pipeline;

    void SetUp() override {
        pipeline = std::make_unique<JoinPipeline>(loop, view, media, program.Wide());
    }

    std::wstring Clip(const std::string& name, const std::string& content) {
        WriteFile(dir.Native(name), content);
        return dir.Wide(name);
    }

    // Runs the loop until the join has shown its end; false when it never does.
    bool RunToEnd() {
        return WaitFor([&] { return view.Ended(); }, [&] { loop.RunPending(); });
    }

    bool WaitHolding() {
        return WaitFor([&] { return media.holding.load(); }, [&] { loop.RunPending(); });
    }

    // Nothing of the join is left: only these user files remain in the folder.
    void ExpectOnly(std::vector<std::string> names) {
        std::sort(names.begin(), names.end());
        EXPECT_EQ(dir.List(), names);
    }
};

TEST_F(JoinPipelineTest, JoinsClipsInOrderAndLeavesOnlyTheOutput) {
    std::vector<std::wstring> clips = {Clip("a.flv", "A"), Clip("b.mp4", "B"), Clip("c.avi", "C")};
    ASSERT_EQ(pipeline->StartJoin(clips, dir.Wide("out.flv")), L"");
    ASSERT_TRUE(RunToEnd());

    EXPECT_EQ(view.results, 1);
    EXPECT_TRUE(view.probed);
    EXPECT_EQ(view.result.path, dir.Wide("out.flv"));
    EXPECT_EQ(ReadFile(dir.Native("out.flv")), "[A][B][C]");  // byte-for-byte join, clip order
    auto runs = media.Runs();
    ASSERT_EQ(runs.size(), 4u);
    EXPECT_EQ(runs[0].Input(), clips[0]);
    EXPECT_EQ(runs[0].Output(), dir.Wide("a.qjv"));
    EXPECT_EQ(runs[3].After(L"-f"), L"mpeg");
    EXPECT_EQ(runs[3].Input(), dir.Wide("a_all.qjv"));
    EXPECT_EQ(runs[3].Output(), dir.Wide("out.partial.flv"));  // renamed once complete
    EXPECT_EQ(runs[3].After(L"-ar"), L"22050");  // 44100 Hz first clip, mapped
    EXPECT_EQ(runs[3].folder, program.Wide());
    EXPECT_EQ(view.joining, (std::vector<bool>{true, false}));
    EXPECT_FALSE(pipeline->IsJoining());
    ExpectOnly({"a.flv", "b.mp4", "c.avi", "out.flv"});
}

TEST_F(JoinPipelineTest, StepsFollowEachOtherWithoutWaitingForTheTimers) {
    std::vector<std::wstring> clips = {Clip("a.flv", "A"), Clip("b.flv", "B"), Clip("c.flv", "C")};
    ASSERT_EQ(pipeline->StartJoin(clips, dir.Wide("out.avi")), L"");
    // The clock never moves: every step must be started by the end of the one before.
    ASSERT_TRUE(RunToEnd());
    EXPECT_EQ(loop.NowMs(), 0u);
    EXPECT_EQ(view.results, 1);
}

TEST_F(JoinPipelineTest, Mp4RunsTwoPassesInOneWorkingFolderThatIsRemovedAfterwards) {
    std::vector<std::wstring> clips = {Clip("a.flv", "A"), Clip("b.flv", "B")};
    ASSERT_EQ(pipeline->StartJoin(clips, dir.Wide("out.mp4")), L"");
    ASSERT_TRUE(RunToEnd());
    auto runs = media.Runs();
    ASSERT_EQ(runs.size(), 4u);
    EXPECT_EQ(runs[2].After(L"-pass"), L"1");
    EXPECT_EQ(runs[3].After(L"-pass"), L"2");
    EXPECT_EQ(runs[2].folder, runs[3].folder);
    EXPECT_NE(runs[2].folder, program.Wide());
    EXPECT_TRUE(runs[2].folderExisted);
    EXPECT_EQ(FolderOf(runs[2].folder.substr(0, runs[2].folder.size() - 1)), dir.Wide());
    EXPECT_EQ(view.results, 1);
    EXPECT_EQ(pipeline->State().workingFolder, program.Wide());
    ExpectOnly({"a.flv", "b.flv", "out.mp4"});
}

TEST_F(JoinPipelineTest, ClipsWithTheSameTitleKeepTheirOwnIntermediates) {
    std::vector<std::wstring> clips = {Clip("one/a.flv", "A1"), Clip("two/a.flv", "A2")};
    // A stranger's file that carries the natural intermediate name is not touched either.
    WriteFile(dir.Native("a.qjv"), "keep me");
    ASSERT_EQ(pipeline->StartJoin(clips, dir.Wide("out.flv")), L"");
    ASSERT_TRUE(RunToEnd());
    auto runs = media.Runs();
    ASSERT_EQ(runs.size(), 3u);
    EXPECT_NE(runs[0].Output(), runs[1].Output());
    EXPECT_NE(runs[0].Output(), dir.Wide("a.qjv"));
    EXPECT_EQ(ReadFile(dir.Native("out.flv")), "[A1][A2]");
    EXPECT_EQ(ReadFile(dir.Native("a.qjv")), "keep me");
    ExpectOnly({"a.qjv", "one", "one/a.flv", "out.flv", "two", "two/a.flv"});
}

TEST_F(JoinPipelineTest, FinalEncodeTakesTheFirstClipsParametersOrTheDefaults) {
    std::wstring first = Clip("a.flv", "A");
    std::wstring second = Clip("b.flv", "B");
    media.probes[first] = ClipProperties{};  // nothing reported: no rates, no frame rate
    ClipProperties other = media.standard;
    other.sampleRate = L"48000 Hz";
    other.audioBitrate = L"320 kb/s";
    media.probes[second] = other;
    ASSERT_EQ(pipeline->StartJoin({first, second}, dir.Wide("out.avi")), L"");
    ASSERT_TRUE(RunToEnd());
    auto runs = media.Runs();
    ASSERT_EQ(runs.size(), 3u);
    EXPECT_EQ(runs[0].After(L"-r"), L"20");  // frame rate not reported
    EXPECT_FALSE(runs[1].Has(L"-r"));
    EXPECT_EQ(runs[2].After(L"-ab"), L"128k");
    EXPECT_EQ(runs[2].After(L"-b"), L"264k");
    EXPECT_EQ(runs[2].After(L"-ar"), L"22050");
}

TEST_F(JoinPipelineTest, FirstClipLeftOutLeavesTheDefaultsAndTheRestIsJoined) {
    // A clip that can be neither probed nor copied (it is gone) is left out.
    std::wstring missing = dir.Wide("gone.flv");
    ClipProperties rich = media.standard;
    rich.sampleRate = L"8000 Hz";
    std::wstring b = Clip("b.flv", "B");
    media.probes[b] = rich;
    // A join that ran before must not leak its parameters into this one.
    ASSERT_EQ(pipeline->StartJoin({Clip("x.flv", "X")}, dir.Wide("first.avi")), L"");
    ASSERT_TRUE(RunToEnd());
    view = RecordingView{};
    ASSERT_EQ(pipeline->StartJoin({missing, b}, dir.Wide("out.avi")), L"");
    ASSERT_TRUE(RunToEnd());
    EXPECT_EQ(view.leftOut, std::vector<std::wstring>{missing});
    auto runs = media.Runs();
    EXPECT_EQ(runs.back().After(L"-ar"), L"22050");
    EXPECT_EQ(runs.back().After(L"-ab"), L"128k");
    EXPECT_EQ(ReadFile(dir.Native("out.avi")), "[B]");
}

TEST_F(JoinPipelineTest, AClipTheEncoderCannotConvertIsReported) {
    std::vector<std::wstring> clips = {Clip("a.flv", "A"), Clip("b.flv", "B"), Clip("c.flv", "C")};
    media.unconvertible.insert(clips[1]);
    ASSERT_EQ(pipeline->StartJoin(clips, dir.Wide("out.flv")), L"");
    ASSERT_TRUE(RunToEnd());
    EXPECT_EQ(view.leftOut, std::vector<std::wstring>{clips[1]});
    EXPECT_EQ(ReadFile(dir.Native("out.flv")), "[A][C]");
    ExpectOnly({"a.flv", "b.flv", "c.flv", "out.flv"});
}

TEST_F(JoinPipelineTest, EveryClipLeftOutFailsWithoutCopyOrEncode) {
    WriteFile(dir.Native("out.flv"), "old");  // an earlier result must not pass for this one's
    ASSERT_EQ(pipeline->StartJoin({dir.Wide("x.flv"), dir.Wide("y.flv")}, dir.Wide("out.flv")), L"");
    ASSERT_TRUE(RunToEnd());
    EXPECT_EQ(view.failures, 1);
    EXPECT_EQ(view.failureMessage, L"Failed to merge files.");
    EXPECT_EQ(view.failureTitle, L"Tips");
    EXPECT_TRUE(media.Runs().empty());
    EXPECT_EQ(ReadFile(dir.Native("out.flv")), "old");
    EXPECT_FALSE(pipeline->IsJoining());
}

TEST_F(JoinPipelineTest, FailedFinalEncodeIsAFailureAndLeavesTheOldOutputAsItWas) {
    WriteFile(dir.Native("out.wmv"), "old");
    std::vector<std::wstring> clips = {Clip("a.flv", "A")};
    media.failFinal = true;
    ASSERT_EQ(pipeline->StartJoin(clips, dir.Wide("out.wmv")), L"");
    ASSERT_TRUE(RunToEnd());
    EXPECT_EQ(view.results, 0);
    EXPECT_EQ(view.failures, 1);
    EXPECT_FALSE(view.failureDetail.empty());  // the encoder's last words
    ExpectOnly({"a.flv", "out.wmv"});
    EXPECT_EQ(ReadFile(dir.Native("out.wmv")), "old");
}

TEST_F(JoinPipelineTest, RefusesUnsafeOrUnusableOutputsBeforeAnyWork) {
    std::wstring a = Clip("a.flv", "A");
    std::wstring b = Clip("b.flv", "B");
    EXPECT_NE(pipeline->StartJoin({a, b}, b), L"");                              // overwrite a clip
    EXPECT_NE(pipeline->StartJoin({a, b}, dir.Wide("sub/../b.flv")), L"");       // the same, spelled otherwise
    EXPECT_NE(pipeline->StartJoin({a, b}, dir.Wide("out.mkv")), L"");            // no such format
    EXPECT_NE(pipeline->StartJoin({a, b}, dir.Wide("missing/out.flv")), L"");    // no folder
    EXPECT_NE(pipeline->StartJoin({}, dir.Wide("out.flv")), L"");
    std::filesystem::create_symlink(dir.Native("a.flv"), dir.Native("link.flv"));
    EXPECT_NE(pipeline->StartJoin({a, b}, dir.Wide("link.flv")), L"");          // a link to a clip
    loop.RunPending();
    EXPECT_TRUE(media.Runs().empty());
    EXPECT_TRUE(view.joining.empty());
    EXPECT_EQ(ReadFile(dir.Native("b.flv")), "B");
    EXPECT_EQ(ReadFile(dir.Native("a.flv")), "A");
}

TEST_F(JoinPipelineTest, FirstClipReadOnlyFromACopyWritesUnderATemporaryNameThenReplacesTheOutput) {
    std::wstring a = Clip("a.flv", "A");
    std::wstring b = Clip("b.flv", "B");
    media.unreadable.insert(a);
    WriteFile(dir.Native("out.wmv"), "agreed to overwrite");
    ASSERT_EQ(pipeline->StartJoin({a, b}, dir.Wide("out.wmv")), L"");
    ASSERT_TRUE(RunToEnd());
    auto runs = media.Runs();
    ASSERT_EQ(runs.size(), 3u);
    EXPECT_NE(runs[0].Input(), a);  // the copy
    EXPECT_NE(runs[2].Output(), dir.Wide("out.wmv"));
    EXPECT_EQ(ExtensionOf(runs[2].Output()), L".wmv");  // the container follows the extension
    EXPECT_EQ(view.results, 1);
    EXPECT_EQ(ReadFile(dir.Native("out.wmv")), "[A][B]");
    EXPECT_EQ(pipeline->State().outputPath, dir.Wide("out.wmv"));
    ExpectOnly({"a.flv", "b.flv", "out.wmv"});
}

TEST_F(JoinPipelineTest, ProgressFollowsTheRunningStepOnTheMonitorTick) {
    std::vector<std::wstring> clips = {Clip("a.flv", "A"), Clip("b.flv", "B")};
    media.holdRun = 0;
    ASSERT_EQ(pipeline->StartJoin(clips, dir.Wide("out.flv")), L"");
    ASSERT_TRUE(WaitHolding());
    loop.Advance(1000);
    ASSERT_FALSE(view.progress.empty());
    EXPECT_EQ(view.progress.back(), 12);  // first of two clips, halfway
    pipeline->StopJoin();
    EXPECT_EQ(view.progress.back(), 0);
}

TEST_F(JoinPipelineTest, StopDuringAConversionEndsAtOnceRemovesItsFilesAndANewJoinWorks) {
    std::vector<std::wstring> clips = {Clip("a.flv", "A"), Clip("b.flv", "B"), Clip("c.flv", "C")};
    WriteFile(dir.Native("out.flv"), "old result");  // not yet touched by the join: must survive
    media.holdRun = 1;
    ASSERT_EQ(pipeline->StartJoin(clips, dir.Wide("out.flv")), L"");
    ASSERT_TRUE(WaitHolding());
    auto start = std::chrono::steady_clock::now();
    pipeline->StopJoin();
    // The stop reaches the running step at once: only a stop that fell back on the worker's
    // five-second stop time-out (and its handler) takes this long.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(4500));
    EXPECT_FALSE(pipeline->IsJoining());
    EXPECT_FALSE(media.holding);
    ExpectOnly({"a.flv", "b.flv", "c.flv", "out.flv"});
    EXPECT_EQ(ReadFile(dir.Native("out.flv")), "old result");
    // Late notices of the stopped step change nothing.
    loop.Advance(3000);
    EXPECT_EQ(media.Runs().size(), 2u);
    EXPECT_EQ(view.results + view.failures, 0);

    media.holdRun = -1;
    ASSERT_EQ(pipeline->StartJoin(clips, dir.Wide("out.flv")), L"");
    EXPECT_TRUE(pipeline->State().intermediateFiles.empty());
    ASSERT_TRUE(RunToEnd());
    EXPECT_EQ(ReadFile(dir.Native("out.flv")), "[A][B][C]");
}

TEST_F(JoinPipelineTest, StopDuringTheFinalEncodeRemovesThePartialOutput) {
    std::vector<std::wstring> clips = {Clip("a.flv", "A"), Clip("b.flv", "B")};
    media.holdRun = 3;  // mp4 pass 1
    ASSERT_EQ(pipeline->StartJoin(clips, dir.Wide("out.mp4")), L"");
    ASSERT_TRUE(WaitHolding());
    EXPECT_TRUE(FileExists(dir.Wide("out.partial.mp4")));
    pipeline->StopJoin();
    ExpectOnly({"a.flv", "b.flv"});
    EXPECT_EQ(pipeline->State().workingFolder, program.Wide());
}

TEST_F(JoinPipelineTest, CommandsLeftOverFromAStoppedJoinDoNotActOnTheNextOne) {
    std::vector<std::wstring> clips = {Clip("a.flv", "A"), Clip("b.flv", "B")};
    media.holdRun = 0;
    ASSERT_EQ(pipeline->StartJoin(clips, dir.Wide("out.flv")), L"");
    ASSERT_TRUE(WaitHolding());
    for (int id : {kCmdEncodeFlv, kCmdEncodeMp4Pass2, kCmdFinishJoin, kCmdShowJoinResult}) pipeline->HandleCommand(id);
    EXPECT_TRUE(pipeline->IsJoining());
    EXPECT_EQ(view.results + view.failures, 0);
    EXPECT_EQ(media.Runs().size(), 1u);
    media.holdRun = -1;
    pipeline->StopJoin();
    ASSERT_EQ(pipeline->StartJoin(clips, dir.Wide("out.flv")), L"");
    ASSERT_TRUE(RunToEnd());
    EXPECT_EQ(ReadFile(dir.Native("out.flv")), "[A][B]");
}

TEST_F(JoinPipelineTest, HandedOverJobReportsIncompleteClipsAndEndsWithoutAResultDialog) {
    std::wstring a = Clip("a.flv", "A");
    std::wstring b = Clip("b.flv", "B");
    media.probes[b] = ClipProperties{};
    pipeline->MutableState().sourceUrl = L"http://videos/x";
    ASSERT_EQ(pipeline->StartJoin({a, b}, dir.Wide("out.flv"), true), L"");
    ASSERT_TRUE(RunToEnd());
    EXPECT_EQ(view.reported, std::vector<std::wstring>{L"http://videos/x"});
    EXPECT_EQ(view.handedOverEnd, 1);
    loop.RunPending();
    EXPECT_EQ(view.results + view.failures, 0);
    EXPECT_EQ(ReadFile(dir.Native("out.flv")), "[A][B]");
}

TEST_F(JoinPipelineTest, CloseWhileJoiningStopsTheWorkerAndCleansUp) {
    std::vector<std::wstring> clips = {Clip("a.flv", "A"), Clip("b.flv", "B")};
    media.holdRun = 0;
    ASSERT_EQ(pipeline->StartJoin(clips, dir.Wide("out.flv")), L"");
    ASSERT_TRUE(WaitHolding());
    pipeline.reset();  // the owner goes away mid-join
    EXPECT_FALSE(media.holding);
    loop.Advance(2000);  // notices posted before the end find nothing to touch
    ExpectOnly({"a.flv", "b.flv"});
}

// Encoders fail the ways real ones do: part of the output, then a failure status, a signal, or
// a status 0 over a short file. None of it may pass for a result.
TEST_F(JoinPipelineTest, AFailedFinalEncodeOrPassOneFailsTheJoinAndRemovesItsPartialOutput) {
    struct Case {
        const char* output;
        int run;  // runs 0 and 1 convert the two clips
        RunFailure how;
        const wchar_t* says;
    } cases[] = {
        {"out.avi", 2, RunFailure::ExitStatus, L"exit status 1"},
        {"out.flv", 2, RunFailure::Signal, L"signal 9"},
        {"out.wmv", 2, RunFailure::ShortOutput, L"shorter than the clips"},
        {"out.mp4", 2, RunFailure::ExitStatus, L"exit status 1"},  // pass 1: no pass 2 follows
        {"out.mp4", 3, RunFailure::Signal, L"signal 9"},
        {"out.rmvb", 2, RunFailure::Throw, L"scripted failure"},
    };
    std::vector<std::wstring> clips = {Clip("a.flv", "A"), Clip("b.flv", "B")};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.output) + " run " + std::to_string(c.run));
        media.failures = {{static_cast<int>(media.Runs().size()) + c.run, c.how}};
        view = RecordingView{};
        std::size_t runsBefore = media.Runs().size();
        ASSERT_EQ(pipeline->StartJoin(clips, dir.Wide(c.output)), L"");
        ASSERT_TRUE(RunToEnd());
        EXPECT_EQ(view.results, 0);
        EXPECT_EQ(view.failures, 1);
        EXPECT_NE(view.failureDetail.find(c.says), std::wstring::npos) << NativePath(view.failureDetail);
        EXPECT_EQ(media.Runs().size() - runsBefore, static_cast<std::size_t>(c.run + 1));
        EXPECT_FALSE(pipeline->IsJoining());
        ExpectOnly({"a.flv", "b.flv"});
    }
}

// Decided: a conversion that fails leaves its clip out (named to the user, like a clip that
// cannot be read), and nothing it wrote is joined; the rest of the join goes on.
TEST_F(JoinPipelineTest, AFailedConversionLeavesItsClipOutAndNoneOfItsOutputIsJoined) {
    std::vector<std::wstring> clips = {Clip("a.flv", "A"), Clip("b.flv", "B"), Clip("c.flv", "C")};
    media.failures = {{1, RunFailure::Signal}};
    ASSERT_EQ(pipeline->StartJoin(clips, dir.Wide("out.flv")), L"");
    ASSERT_TRUE(RunToEnd());
    EXPECT_EQ(view.leftOut, std::vector<std::wstring>{clips[1]});
    EXPECT_EQ(view.results, 1);
    EXPECT_EQ(ReadFile(dir.Native("out.flv")), "[A][C]");  // not "[A][B[C]"
    ExpectOnly({"a.flv", "b.flv", "c.flv", "out.flv"});
}

TEST_F(JoinPipelineTest, NoEncoderRunsOnTheLoopThreadProbesAndResultCheckIncluded) {
    std::wstring a = Clip("a.flv", "A");
    media.unreadable.insert(a);  // probed twice: the clip, then its copy
    ASSERT_EQ(pipeline->StartJoin({a, Clip("b.flv", "B")}, dir.Wide("out.mp4")), L"");
    ASSERT_TRUE(RunToEnd());
    EXPECT_EQ(view.results, 1);
    EXPECT_EQ(view.result.duration, L"00:00:20.00");  // the result check's probe, shown
    EXPECT_EQ(media.encoderCallsOnLoopThread, 0);
}

TEST_F(JoinPipelineTest, AProbeThatNeverAnswersIsEndedByAStop) {
    std::vector<std::wstring> clips = {Clip("a.flv", "A"), Clip("stalled.flv", "S")};
    media.hangingProbes.insert(clips[1]);
    ASSERT_EQ(pipeline->StartJoin(clips, dir.Wide("out.avi")), L"");
    // The loop keeps running while the probe hangs: the wait below runs it.
    ASSERT_TRUE(WaitFor([&] { return media.probeHolding.load(); }, [&] { loop.RunPending(); }));
    pipeline->StopJoin();
    EXPECT_FALSE(media.probeHolding);
    EXPECT_FALSE(pipeline->IsJoining());
    EXPECT_EQ(media.encoderCallsOnLoopThread, 0);
    ExpectOnly({"a.flv", "stalled.flv"});
}

TEST_F(JoinPipelineTest, AnExceptionInAStepEndsTheJoinAsAFailureAndCleansUp) {
    std::vector<std::wstring> clips = {Clip("a.flv", "A"), Clip("b.flv", "B")};
    for (JoinPhase phase : {JoinPhase::Concatenating, JoinPhase::EncodingMp4Pass2, JoinPhase::CheckingResult}) {
        SCOPED_TRACE(static_cast<int>(phase));
        view = RecordingView{};
        view.throwOnPhase = phase;
        ASSERT_EQ(pipeline->StartJoin(clips, dir.Wide("out.mp4")), L"");
        ASSERT_TRUE(RunToEnd());
        EXPECT_EQ(view.failures, 1);
        EXPECT_NE(view.failureDetail.find(L"view failed"), std::wstring::npos) << NativePath(view.failureDetail);
        EXPECT_FALSE(pipeline->IsJoining());
        ExpectOnly({"a.flv", "b.flv"});  // intermediates, "_all" file, working folder and output gone
    }
}

TEST_F(JoinPipelineTest, TheResultMustLastAboutAsLongAsTheClips) {
    std::vector<std::wstring> clips = {Clip("a.flv", "A"), Clip("b.flv", "B"), Clip("c.flv", "C")};
    ClipProperties longer = media.standard;
    longer.duration = L"00:01:00.00";  // the clip says one minute; the scripted output gives it 10 s
    media.probes[clips[2]] = longer;
    ASSERT_EQ(pipeline->StartJoin(clips, dir.Wide("out.avi")), L"");
    ASSERT_TRUE(RunToEnd());
    EXPECT_EQ(view.failures, 1);
    EXPECT_NE(view.failureDetail.find(L"shorter than the clips"), std::wstring::npos) << NativePath(view.failureDetail);
    ExpectOnly({"a.flv", "b.flv", "c.flv"});
}

// A partial download whose header claims a minute: the join expects what it holds, says so,
// and counts that length in its progress.
TEST_F(JoinPipelineTest, AClipIsExpectedToLastWhatItHoldsAndAShortOneIsNamed) {
    class WarningView final : public JoinView {
    public:
        explicit WarningView(RecordingView& inner) : inner_(inner) {}
        std::vector<std::wstring> warnings;
        void SetProgress(int p) override { inner_.SetProgress(p); }
        void SetJoining(bool j) override { inner_.SetJoining(j); }
        void ShowResult(const ClipProperties& r, bool ok) override { inner_.ShowResult(r, ok); }
        void ShowFailure(const std::wstring& m, const std::wstring& t, const std::wstring& d) override {
            inner_.ShowFailure(m, t, d);
        }
        void ClipHoldsLess(const std::wstring&, const std::wstring& warning) override { warnings.push_back(warning); }

    private:
        RecordingView& inner_;
    } warningView(view);
    pipeline = std::make_unique<JoinPipeline>(loop, warningView, media, program.Wide());

    std::vector<std::wstring> clips = {Clip("a.flv", "A"), Clip("b.flv", "B"), Clip("c.flv", "C")};
    ClipProperties claims = media.standard;
    claims.duration = L"00:01:00.00";  // the header, and a conversion that reads it
    media.probes[clips[2]] = claims;
    MediaInfo cut;
    cut.headerDuration = 60;
    cut.duration = 10;  // what the scripted conversion writes of it
    media.looks[clips[2]] = cut;
    MediaInfo whole;
    whole.headerDuration = whole.duration = 10;
    media.looks[clips[0]] = whole;  // b cannot be looked into: its probe counts
    ASSERT_EQ(pipeline->StartJoin(clips, dir.Wide("out.avi")), L"");
    ASSERT_TRUE(RunToEnd());
    EXPECT_EQ(view.failures, 0) << NativePath(view.failureDetail);
    EXPECT_EQ(view.results, 1);
    ASSERT_EQ(warningView.warnings.size(), 1u);
    EXPECT_NE(warningView.warnings[0].find(clips[2] + L" holds 10.0 s of the 60.0 s"), std::wstring::npos)
        << NativePath(warningView.warnings[0]);
    EXPECT_EQ(pipeline->State().counters.SumSeconds(), 30);  // the final encode's total
}

}  // namespace
}  // namespace quilmer
