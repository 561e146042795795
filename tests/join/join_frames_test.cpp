// Real joins measured frame by frame: every frame of every clip reaches the output, the sound is
// in step with the picture at each place where two clips meet, and pictures of another shape are
// fitted into the first clip's frame with their shape kept.

#include <gtest/gtest.h>

#include <cmath>

#include "JoinTestSupport.h"
#include "MediaTools.h"
#include "foundation/PlainEventLoop.h"
#include "media/join/JoinPipeline.h"

namespace quilmer {
namespace {

using namespace quilmer::testing;

const std::string kProgramDir = QUILMER_PROGRAM_DIR "/";

class EndView final : public JoinView {
public:
    explicit EndView(PlainEventLoop& loop) : loop_(loop) {}
    std::wstring detail;
    void SetProgress(int) override {}
    void SetJoining(bool) override {}
    void ShowResult(const ClipProperties&, bool) override { loop_.Quit(0); }
    void ShowFailure(const std::wstring&, const std::wstring&, const std::wstring& why) override {
        detail = why;
        loop_.Quit(1);
    }

private:
    PlainEventLoop& loop_;
};

int JoinClips(const std::vector<std::wstring>& clips, const std::wstring& output, std::wstring& detail) {
    PlainEventLoop loop;
    EndView view(loop);
    auto media = MakeEncoderJoinMedia(WidePath(kProgramDir + "ffmpeg"));
    JoinPipeline pipeline(loop, view, *media, WidePath(kProgramDir));
    std::wstring refusal = pipeline.StartJoin(clips, output);
    if (!refusal.empty()) {
        detail = refusal;
        return -1;
    }
    int code = -1;
    if (!loop.RunFor(std::chrono::seconds(180), &code)) return -2;
    detail = view.detail;
    return code;
}

int DecodedFrames(const std::string& path) {
    auto r = RunProgram({"ffprobe", "-v", "error", "-count_frames", "-select_streams", "v:0", "-show_entries",
                         "stream=nb_read_frames", "-of", "csv=p=0", "file:" + path});
    return r.status == 0 ? std::atoi(r.output.c_str()) : -1;
}

// Times of the frames that are mostly white.
std::vector<double> Flashes(const std::string& path) {
    auto r = RunProgram({"ffmpeg", "-nostats", "-i", "file:" + path, "-map", "0:v:0", "-vf",
                         "signalstats,metadata=print:key=lavfi.signalstats.YAVG:file=-", "-f", "null", "-"});
    std::vector<double> times;
    std::istringstream lines(r.output);
    double at = -1;
    for (std::string line; std::getline(lines, line);) {
        auto pts = line.find("pts_time:");
        if (pts != std::string::npos) at = ToDouble(line.substr(pts + 9));
        auto yavg = line.find("YAVG=");
        if (yavg != std::string::npos && ToDouble(line.substr(yavg + 5)) > 128) times.push_back(at);
    }
    return times;
}

// Times where a tone begins after silence.
std::vector<double> ToneOnsets(const std::string& path) {
    auto r = RunProgram({"ffmpeg", "-nostats", "-i", "file:" + path, "-map", "0:a:0", "-af",
                         "silencedetect=n=-30dB:d=0.04", "-f", "null", "-"});
    std::vector<double> times;
    std::istringstream lines(r.output);
    for (std::string line; std::getline(lines, line);) {
        auto end = line.find("silence_end: ");
        if (end != std::string::npos) times.push_back(ToDouble(line.substr(end + 13)));
    }
    return times;
}

// A clip of the kind that used to lose frames: Flash video, 96x72 at 25 fps, MP3 at 22050 Hz mono, the sound
// stream stored first. Its first frame is white and its sound a beep at its very start, so that
// the output shows where each clip begins in the picture and in the sound.
bool MakeMarkedClip(const std::string& path, double seconds) {
    const std::string length = std::to_string(seconds);
    return RunProgram(
               {"ffmpeg",
                "-v",
                "error",
                "-y",
                "-f",
                "lavfi",
                "-i",
                "sine=frequency=1000:sample_rate=22050:duration=" + length +
                    ",volume=volume=0:enable='gte(t,0.08)'",
                "-f",
                "lavfi",
                "-i",
                "color=c=black:s=96x72:r=25:d=" + length + ",drawbox=c=white:t=fill:enable='lt(t,0.04)'",
                "-map",
                "0:a",
                "-map",
                "1:v",
                "-c:v",
                "flv1",
                "-c:a",
                "libmp3lame",
                "-ac",
                "1",
                "-ar",
                "22050",
                "-t",
                length,
                "file:" + path})
               .status == 0;
}

bool Ready() {
    return HaveProgram("ffmpeg") && HaveProgram("ffprobe") &&
           access((kProgramDir + "ffmpeg").c_str(), X_OK) == 0;
}

class ShortClipsTest : public ::testing::TestWithParam<std::string> {
protected:
    static void SetUpTestSuite() {
        if (!Ready()) return;
        folder_ = new ScratchFolder("join-frames");
        for (int i = 0; i < 10; ++i) {
            std::string name = "clip " + std::to_string(i) + ".flv";
            if (!MakeMarkedClip(folder_->Native(name), 0.2) || DecodedFrames(folder_->Native(name)) != 5)
                return;
        }
        ready_ = true;
    }
    static void TearDownTestSuite() {
        delete folder_;
        folder_ = nullptr;
    }
    void SetUp() override {
        if (!ready_) GTEST_SKIP() << "needs ffmpeg, ffprobe and the encoder adapter";
    }
    static ScratchFolder* folder_;
    static bool ready_;
};

ScratchFolder* ShortClipsTest::folder_ = nullptr;
bool ShortClipsTest::ready_ = false;

TEST_P(ShortClipsTest, EveryFrameIsKeptAndTheSoundIsInStepAtEveryBoundary) {
    std::vector<std::wstring> clips;
    for (int i = 0; i < 10; ++i) clips.push_back(folder_->Wide("clip " + std::to_string(i) + ".flv"));
    const std::string name = "ten clips." + GetParam();
    std::wstring detail;
    ASSERT_EQ(JoinClips(clips, folder_->Wide(name), detail), 0) << NativePath(detail);
    const std::string out = folder_->Native(name);

    // Ten clips of five frames at the output's rate: fifty frames, one more or fewer in all.
    EXPECT_NEAR(DecodedFrames(out), 50, 1);
    std::vector<double> flashes = Flashes(out);
    ASSERT_EQ(flashes.size(), 10u) << "each clip's first frame, once";
    std::vector<double> onsets = ToneOnsets(out);
    for (std::size_t k = 1; k < flashes.size(); ++k) {
        double nearest = 1e9;
        for (double t : onsets) {
            if (std::fabs(t - flashes[k]) < std::fabs(nearest - flashes[k])) nearest = t;
        }
        // Within a frame (and the sound codec's frame) of each other where clip k begins.
        EXPECT_NEAR(nearest, flashes[k], 0.045) << "clip " << k;
        if (k >= 2) {
            EXPECT_NEAR(flashes[k] - flashes[k - 1], 0.2, 0.001) << "clip " << k;
        }
    }
    std::filesystem::remove(out);
}

INSTANTIATE_TEST_SUITE_P(AllFormats, ShortClipsTest, ::testing::Values("avi", "flv", "rmvb", "wmv", "mp4"));

// The bounding box of the picture's lit pixels in a frame at `seconds`.
struct Box {
    int left = -1, top = -1, right = -1, bottom = -1, width = 0, height = 0;
};

Box LitBox(const std::string& path, double seconds) {
    Box box;
    auto size = RunProgram({"ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
                            "stream=width,height", "-of", "csv=p=0:s=x", "file:" + path});
    if (std::sscanf(size.output.c_str(), "%dx%d", &box.width, &box.height) != 2) return box;
    auto frame = RunProgram({"ffmpeg", "-v", "error", "-ss", std::to_string(seconds), "-i", "file:" + path,
                             "-frames:v", "1", "-f", "rawvideo", "-pix_fmt", "gray", "-"});
    if (frame.output.size() != static_cast<std::size_t>(box.width * box.height)) return box;
    for (int y = 0; y < box.height; ++y)
        for (int x = 0; x < box.width; ++x) {
            if (static_cast<unsigned char>(frame.output[static_cast<std::size_t>(y * box.width + x)]) < 72)
                continue;
            if (box.left < 0 || x < box.left) box.left = x;
            if (x > box.right) box.right = x;
            if (box.top < 0) box.top = y;
            box.bottom = y;
        }
    return box;
}

bool MakeGrayClip(const std::string& path, const std::string& size, const std::string& sar) {
    return RunProgram({"ffmpeg",      "-v",
                       "error",       "-y",
                       "-f",          "lavfi",
                       "-i",          "color=c=gray:s=" + size + ":r=25:d=1",
                       "-f",          "lavfi",
                       "-i",          "sine=sample_rate=44100:duration=1",
                       "-vf",         "setsar=" + sar,
                       "-c:v",        "libx264",
                       "-c:a",        "aac",
                       "-t",          "1",
                       "file:" + path})
               .status == 0;
}

TEST(JoinShapes, LaterPicturesOfAnotherShapeAreFittedWithBars) {
    if (!Ready()) GTEST_SKIP() << "needs ffmpeg, ffprobe and the encoder adapter";
    ScratchFolder dir("join-shapes");
    ASSERT_TRUE(MakeGrayClip(dir.Native("wide.mp4"), "320x180", "1"));
    ASSERT_TRUE(MakeGrayClip(dir.Native("tall.mp4"), "90x160", "1"));
    ASSERT_TRUE(MakeGrayClip(dir.Native("wide pixels.mp4"), "160x120", "2"));  // shown 320x120
    std::wstring detail;
    ASSERT_EQ(JoinClips({dir.Wide("wide.mp4"), dir.Wide("tall.mp4"), dir.Wide("wide pixels.mp4")},
                        dir.Wide("wide first.avi"), detail),
              0)
        << NativePath(detail);
    const std::string out = dir.Native("wide first.avi");
    Box wide = LitBox(out, 0.5), tall = LitBox(out, 1.5), widePixels = LitBox(out, 2.5);
    EXPECT_EQ(wide.width, 320);
    EXPECT_EQ(wide.height, 180);
    EXPECT_NEAR(wide.right - wide.left + 1, 320, 2);
    // The portrait clip stands in the middle, 180 high and 180 * 90 / 160 wide.
    EXPECT_NEAR(tall.bottom - tall.top + 1, 180, 2);
    EXPECT_NEAR(tall.right - tall.left + 1, 101, 4);
    EXPECT_NEAR(tall.left, (320 - 101) / 2, 4);
    // Non-square pixels are shown at their shape: 320x120, with bars above and below.
    EXPECT_NEAR(widePixels.right - widePixels.left + 1, 320, 2);
    EXPECT_NEAR(widePixels.bottom - widePixels.top + 1, 120, 4);
    EXPECT_NEAR(widePixels.top, 30, 4);

    ASSERT_EQ(JoinClips({dir.Wide("tall.mp4"), dir.Wide("wide.mp4")}, dir.Wide("tall first.flv"), detail), 0)
        << NativePath(detail);
    Box squeezed = LitBox(dir.Native("tall first.flv"), 1.5);
    EXPECT_EQ(squeezed.width, 90);
    EXPECT_EQ(squeezed.height, 160);
    EXPECT_NEAR(squeezed.right - squeezed.left + 1, 90, 2);
    EXPECT_NEAR(squeezed.bottom - squeezed.top + 1, 50, 4);  // 90 * 180 / 320
}

}  // namespace
}  // namespace quilmer
