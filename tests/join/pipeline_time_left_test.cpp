#include "media/join/PipelineTimeLeft.h"

#include <gtest/gtest.h>

namespace quilmer {
namespace {

// The pipeline's phases as it runs them, with the probe's duration and the clip position the
// pipeline keeps in its state: probing looks at the clip at the front of the queue, converting
// at the one just taken from it.
class PipelineRun {
public:
    explicit PipelineRun(int clips) : timeLeft_([this] { return now_; }) {
        for (int i = 0; i < clips; ++i) state_.clips.push_back(L"/clips/" + std::to_wstring(i) + L".flv");
        state_.targetFormat = L"flv";
    }

    void Hint(std::vector<double> seconds) { timeLeft_.SetClipSecondsHint(std::move(seconds)); }
    void Start() { timeLeft_.Start(state_); }

    // Probes and converts clip i, `seconds` long, at `pace` seconds per second of media.
    void Convert(std::size_t i, const std::wstring& duration, double seconds, double pace) {
        state_.nextClipIndex = i;
        Enter(JoinPhase::Probing);
        now_ += 0.1;
        state_.probe.duration = duration;
        state_.nextClipIndex = i + 1;
        Enter(JoinPhase::Converting);
        for (double done = 1; done <= seconds; ++done) {
            now_ += pace;
            state_.counters.SetStep(static_cast<std::int64_t>(done), static_cast<std::int64_t>(seconds));
            Tick();
        }
        state_.counters.ResetStep();
    }
    void ConvertAll(const std::wstring& duration, double seconds, double pace) {
        for (std::size_t i = 0; i < state_.clips.size(); ++i) Convert(i, duration, seconds, pace);
    }
    void ProbeNext(std::size_t i) {
        state_.nextClipIndex = i;
        Enter(JoinPhase::Probing);
        now_ += 0.05;
    }
    void Enter(JoinPhase phase, std::optional<double> joined = std::nullopt) {
        state_.phase = phase;
        timeLeft_.PhaseBegins(state_, phase, joined);
    }
    double Tick() { return timeLeft_.Tick(state_); }

private:
    double now_ = 0;
    JoinState state_;
    PipelineTimeLeft timeLeft_;
};

TEST(PipelineTimeLeft, ReadsTheClipsPictureFromItsProbe) {
    ClipProperties probe;
    probe.resolution = L"640x360 pixels";
    probe.frameRate = L"29.97 fps";
    probe.videoCodec = L"h264";
    const PictureWork p = PictureOf(probe);
    EXPECT_EQ(p.codec, "h264");
    EXPECT_EQ(p.width, 640);
    EXPECT_EQ(p.height, 360);
    EXPECT_NEAR(p.fps, 29.97, 1e-9);
    // Sound only, or a frame no decoder makes: no picture to cost.
    for (const wchar_t* odd : {L"", L"x pixels", L"0x480 pixels", L"99999x99999 pixels"}) {
        probe.resolution = odd;
        EXPECT_EQ(PictureOf(probe).width, 0) << odd;
    }
}

TEST(PipelineTimeLeft, LearnsEachClipFromItsProbeAndScalesTheFinalWork) {
    // Three clips, each converted at the same pace; the final encode's share follows their length.
    auto afterConversions = [](const std::wstring& duration, double seconds) {
        PipelineRun run(3);
        run.Start();
        EXPECT_LT(run.Tick(), 0);  // nothing measured yet
        run.ConvertAll(duration, seconds, 0.05);
        run.Enter(JoinPhase::Concatenating, 3 * seconds);
        return run.Tick();
    };
    const double shortClips = afterConversions(L"00:01:00.00", 60);
    const double longClips = afterConversions(L"00:10:00.00", 600);
    ASSERT_GT(shortClips, 0);
    EXPECT_GT(longClips, 5 * shortClips);
}

TEST(PipelineTimeLeft, UsesTheLengthsTheCallerKnowsAhead) {
    // Three clips of two minutes converted, the fourth next: told ahead that it lasts twenty
    // minutes, the estimate counts them; not told, it takes the fourth to be like the others.
    auto estimate = [](bool hinted) {
        PipelineRun run(4);
        if (hinted) run.Hint({120, 120, 120, 1200});
        run.Start();
        for (std::size_t i = 0; i < 3; ++i) run.Convert(i, L"00:02:00.00", 120, 0.02);
        run.ProbeNext(3);
        return run.Tick();
    };
    const double blind = estimate(false), told = estimate(true);
    ASSERT_GT(blind, 0);
    EXPECT_GT(told, 3 * blind);
}

}  // namespace
}  // namespace quilmer
