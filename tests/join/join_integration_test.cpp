// Real joins through the encoder adapter: mixed clips into every target format, and stops in
// the middle of each kind of step.

#include "media/join/JoinPipeline.h"

#include "JoinTestSupport.h"
#include "MediaTools.h"
#include "foundation/CallbackTimer.h"
#include "foundation/PlainEventLoop.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>

namespace quilmer {
namespace {

using namespace quilmer::testing;

const std::string kProgramDir = QUILMER_PROGRAM_DIR "/";

// Ends the loop when the join shows its end; optionally stops the join once a phase begins.
class LoopView final : public JoinView {
public:
    explicit LoopView(PlainEventLoop& loop) : loop_(loop) {}
    JoinPipeline* pipeline = nullptr;
    std::optional<JoinPhase> stopAt;
    int stopAfterMs = 0;  // 0: right after the step has begun, before any notice of its end
    std::chrono::steady_clock::duration stopTook{};
    bool stopped = false;
    std::optional<JoinPhase> phaseAtStop;  // the step that was running when the stop came
    int results = 0, failures = 0;
    bool probed = false;
    ClipProperties result;
    std::wstring detail;
    std::vector<int> progress;

    void SetProgress(int percent) override { progress.push_back(percent); }
    void SetJoining(bool) override {}
    void ShowResult(const ClipProperties& properties, bool ok) override {
        ++results;
        result = properties;
        probed = ok;
        loop_.Quit(0);
    }
    void ShowFailure(const std::wstring&, const std::wstring&, const std::wstring& why) override {
        ++failures;
        detail = why;
        loop_.Quit(1);
    }
    void PhaseChanged(JoinPhase phase) override {
        if (!stopAt || phase != *stopAt || stopped) return;
        stopped = true;
        if (stopAfterMs == 0) {
            // Queued now, so it runs as soon as the step has started its work and before the
            // notice that the work ended (posted later) can move the join on.
            loop_.Post([this] { Stop(); });
            return;
        }
        // Let the step get going, then stop it the way the Cancel button does.
        timer_ = std::make_unique<CallbackTimer>(loop_, stopAfterMs, [this](std::uint32_t) {
            Stop();
            return false;
        });
    }

private:
    void Stop() {
        phaseAtStop = pipeline->State().phase;
        auto start = std::chrono::steady_clock::now();
        pipeline->StopJoin();
        stopTook = std::chrono::steady_clock::now() - start;
        loop_.Quit(2);
    }

    PlainEventLoop& loop_;
    std::unique_ptr<CallbackTimer> timer_;
};

class JoinIntegrationTest : public ::testing::Test {
protected:
    // Runs once for each suite built on this fixture, so everything starts afresh.
    static void SetUpTestSuite() {
        sumSeconds_ = 0;
        clipFailure_.clear();
        haveTools_ = HaveProgram("ffmpeg") && HaveProgram("ffprobe");
        haveAdapter_ = access((kProgramDir + "ffmpeg").c_str(), X_OK) == 0;
        if (!haveTools_ || !haveAdapter_) return;
        folder_ = new ScratchFolder("join-integration");
        for (const auto& c : MixedClips()) {
            if (!MakeClip(folder_->Native(c.name), c)) {
                clipFailure_ = c.name;
                return;
            }
            sumSeconds_ += c.seconds;
            double length = FileDuration(folder_->Native(c.name));
            clipSeconds_ += length > 0 ? length : c.seconds;
        }
    }
    static void TearDownTestSuite() {
        delete folder_;
        folder_ = nullptr;
    }

    void SetUp() override {
        // The adapter is built by this project: its absence is a fault, never a reason to skip.
        ASSERT_TRUE(haveAdapter_) << "the encoder adapter is missing from " << kProgramDir;
        if (!haveTools_) QUILMER_SKIP_OR_FAIL_IN_CI("needs Debian's ffmpeg and ffprobe");
        ASSERT_EQ(clipFailure_, "") << "ffmpeg could not make the test clip";
    }

    std::vector<std::wstring> Clips() const {
        std::vector<std::wstring> clips;
        for (const auto& c : MixedClips()) clips.push_back(folder_->Wide(c.name));
        return clips;
    }

    // Runs one join to its end (or its stop) on a real loop.
    int Join(const std::vector<std::wstring>& clips, const std::wstring& output, LoopView& view, PlainEventLoop& loop) {
        auto media = MakeEncoderJoinMedia(WidePath(kProgramDir + "ffmpeg"));
        JoinPipeline pipeline(loop, view, *media, WidePath(kProgramDir));
        view.pipeline = &pipeline;
        std::wstring refusal = pipeline.StartJoin(clips, output);
        EXPECT_EQ(refusal, L"");
        if (!refusal.empty()) return -1;
        int code = -1;
        EXPECT_TRUE(loop.RunFor(std::chrono::seconds(120), &code)) << "the join never ended";
        return code;
    }

    // A longer clip, so that a stop surely lands while its step runs; made on first use only,
    // since each test case may run in a process of its own.
    static std::wstring LongClip() {
        if (!FileExists(folder_->Wide("long clip.mp4"))) {
            EXPECT_TRUE(MakeClip(folder_->Native("long clip.mp4"), 20, "320x240", "25", {"-c:v", "libx264"}, 44100, 2,
                                 {"-c:a", "aac"}));
        }
        return folder_->Wide("long clip.mp4");
    }

    std::vector<std::string> UserFiles(std::vector<std::string> extra) const {
        std::vector<std::string> names = extra;
        for (const auto& c : MixedClips()) names.push_back(c.name);
        if (FileExists(folder_->Wide("long clip.mp4"))) names.push_back("long clip.mp4");
        std::sort(names.begin(), names.end());
        return names;
    }

    static ScratchFolder* folder_;
    static bool haveTools_, haveAdapter_;
    static std::string clipFailure_;
    static double sumSeconds_;
    static double clipSeconds_;  // as the clips' own files give their lengths
};

ScratchFolder* JoinIntegrationTest::folder_ = nullptr;
bool JoinIntegrationTest::haveTools_ = false;
bool JoinIntegrationTest::haveAdapter_ = false;
std::string JoinIntegrationTest::clipFailure_;
double JoinIntegrationTest::sumSeconds_ = 0;
double JoinIntegrationTest::clipSeconds_ = 0;

class JoinFormatTest : public JoinIntegrationTest, public ::testing::WithParamInterface<std::string> {};

TEST_P(JoinFormatTest, MixedClipsJoinIntoAPlayableFileOfTheSummedLength) {
    const std::string name = "joined output." + GetParam();
    PlainEventLoop loop;
    LoopView view(loop);
    ASSERT_EQ(Join(Clips(), folder_->Wide(name), view, loop), 0) << NativePath(view.detail);
    ASSERT_TRUE(view.probed);
    const std::string out = folder_->Native(name);

    EXPECT_EQ(DecodeErrors(out), "");
    double duration = FileDuration(out);
    EXPECT_NEAR(duration, sumSeconds_, 0.5 + 0.02 * sumSeconds_);
    double videoEnd = StreamEnd(out, "v"), audioEnd = StreamEnd(out, "a");
    ASSERT_GT(videoEnd, 0);
    ASSERT_GT(audioEnd, 0);
    // The clips' rates differ from the output's (the first clip's 25 fps): the picture lasts as
    // long as the clips together, within one output frame per clip.
    auto start = RunProgram({"ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
                             "stream=start_time", "-of", "csv=p=0", "file:" + out});
    double videoStart = std::max(ToDouble(start.output), 0.0);
    EXPECT_NEAR(videoEnd - videoStart, clipSeconds_, 0.04 * static_cast<double>(MixedClips().size()))
        << "from " << videoStart << " to " << videoEnd;
    EXPECT_NEAR(videoEnd, audioEnd, 0.2);
    EXPECT_FALSE(view.progress.empty());
    EXPECT_EQ(view.progress.back(), 0);  // the bar returns to rest at the end
    EXPECT_EQ(folder_->List(), UserFiles({name}));  // no intermediate, copy or working folder left
    std::filesystem::remove(out);
}

INSTANTIATE_TEST_SUITE_P(AllFormats, JoinFormatTest, ::testing::Values("avi", "flv", "rmvb", "wmv", "mp4"));

struct StopCase {
    const char* label;
    JoinPhase phase;
    int afterMs;
    const char* format;
};

class JoinStopTest : public JoinIntegrationTest, public ::testing::WithParamInterface<StopCase> {};

TEST_P(JoinStopTest, StopEndsTheStepAtOnceAndLeavesNothingBehind) {
    const StopCase& c = GetParam();
    const std::string name = std::string("stopped.") + c.format;
    // A long clip first: a stop timed from the start of the first conversion must find it still
    // converting, however fast the machine converts a short clip.
    std::vector<std::wstring> clips = {LongClip(), folder_->Wide("clip one.flv"), LongClip()};
    {
        PlainEventLoop loop;
        LoopView view(loop);
        view.stopAt = c.phase;
        view.stopAfterMs = c.afterMs;
        ASSERT_EQ(Join(clips, folder_->Wide(name), view, loop), 2) << "the join ended before the stop";
        ASSERT_TRUE(view.phaseAtStop);
        EXPECT_EQ(static_cast<int>(*view.phaseAtStop), static_cast<int>(c.phase)) << "the stop hit another step";
        // Only a stop that fell back on the worker's five-second stop time-out takes this long.
        EXPECT_LT(view.stopTook, std::chrono::milliseconds(4500));
        EXPECT_EQ(view.results + view.failures, 0);
    }
    // A killed process may take a moment to be gone (the limit only turns a fault into a failure).
    std::vector<int> left;
    WaitFor([&] { return (left = ProcessesMentioning(folder_->Native())).empty(); }, {}, std::chrono::seconds(30));
    std::string described;
    for (int pid : left) described += ReadFile("/proc/" + std::to_string(pid) + "/cmdline") + " | ";
    EXPECT_TRUE(left.empty()) << "an encoder outlived the stop: " << described;
    EXPECT_EQ(folder_->List(), UserFiles({}));

    // The joiner is usable again at once.
    PlainEventLoop loop;
    LoopView view(loop);
    ASSERT_EQ(Join({folder_->Wide("clip one.flv"), folder_->Wide("audio only.wma")}, folder_->Wide("again.flv"), view,
                   loop),
              0);
    std::filesystem::remove(folder_->Native("again.flv"));
}

INSTANTIATE_TEST_SUITE_P(
    Steps, JoinStopTest,
    ::testing::Values(StopCase{"Conversion", JoinPhase::Converting, 300, "flv"},
                      StopCase{"Copy", JoinPhase::Concatenating, 0, "avi"},
                      StopCase{"FinalEncode", JoinPhase::EncodingMp4Pass1, 300, "mp4"}),
    [](const ::testing::TestParamInfo<StopCase>& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace quilmer
