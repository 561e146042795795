// Clips as downloads and cutting tools leave them, joined by the direct methods with the real
// ffmpeg and by the classic join through the adapter: partial downloads (joined with what they
// hold, and named), parts cut without
// re-encoding (edit lists: nothing hidden carried, timestamps rising, flash and beep together),
// and a thousand clips at once.

#include "foundation/FileUtil.h"
#include "foundation/PlainEventLoop.h"
#include "media/av/AvProbe.h"
#include "media/join/JoinPipeline.h"
#include "media/join/methods/DirectJoin.h"
#include "tests/join/MediaTools.h"
#include "tests/support/ScratchFolder.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <sstream>

namespace quilmer {
namespace {

using namespace quilmer::testing;
using quilmer::test::ScratchFolder;

class View final : public JoinView {
public:
    explicit View(PlainEventLoop& loop) : loop_(loop) {}
    std::wstring detail, reason;
    std::vector<std::wstring> warnings, leftOut;

    void SetProgress(int) override {}
    void SetJoining(bool) override {}
    void ShowResult(const ClipProperties&, bool) override { loop_.Quit(0); }
    void ShowFailure(const std::wstring&, const std::wstring&, const std::wstring& why) override {
        detail = why;
        loop_.Quit(1);
    }
    void MethodChosen(const std::wstring&, const std::wstring& r) override { reason = r; }
    void ClipHoldsLess(const std::wstring&, const std::wstring& warning) override { warnings.push_back(warning); }
    void ClipLeftOut(const std::wstring& clip) override { leftOut.push_back(clip); }

private:
    PlainEventLoop& loop_;
};

struct Outcome {
    int code = -1;
    std::string detail, reason;
    std::vector<std::string> warnings;
};

const std::string kProgramDir = QUILMER_PROGRAM_DIR "/";

// A join by the method given; `classic` runs the pipeline through the adapter of the program folder.
Outcome Join(const std::vector<std::string>& clips, const std::string& output, JoinMethod method) {
    PlainEventLoop loop;
    View view(loop);
    DirectJoin join(loop, view);
    auto media = MakeEncoderJoinMedia(WidePath(kProgramDir + "ffmpeg"));
    JoinPipeline pipeline(loop, view, *media, WidePath(kProgramDir));
    std::vector<std::wstring> wide;
    for (const auto& c : clips) wide.push_back(WidePath(c));
    Outcome o;
    std::wstring refusal = method == JoinMethod::Classic ? pipeline.StartJoin(wide, WidePath(output))
                                                         : join.StartJoin(wide, WidePath(output), method);
    if (!refusal.empty()) return {3, NativePath(refusal), "", {}};
    if (!loop.RunFor(std::chrono::minutes(5), &o.code)) o.code = -2;
    o.detail = NativePath(view.detail);
    o.reason = NativePath(view.reason);
    for (const auto& w : view.warnings) o.warnings.push_back(NativePath(w));
    return o;
}

bool Ffmpeg(std::vector<std::string> args) {
    args.insert(args.begin(), {"ffmpeg", "-v", "error", "-y"});
    return RunProgram(args).status == 0;
}

// What the in-process look finds the clip to hold, seconds.
double Held(const std::string& path) {
    CancelFlag cancel;
    std::wstring why;
    auto info = ProbeMediaFile(WidePath(path), cancel, why);
    return info ? info->duration : -1;
}

// Decoding timestamps of one stream of a file, in file order.
std::vector<double> DecodingTimes(const std::string& path, const std::string& kind) {
    auto r = RunProgram({"ffprobe", "-v", "error", "-select_streams", kind + ":0", "-show_entries", "packet=dts_time",
                         "-of", "csv=p=0", "file:" + path});
    std::vector<double> times;
    std::istringstream lines(r.output);
    for (std::string line; std::getline(lines, line);)
        if (!line.empty() && line != "N/A") times.push_back(ToDouble(line));
    return times;
}

bool StrictlyRising(const std::vector<double>& times) {
    for (std::size_t i = 1; i < times.size(); ++i)
        if (!(times[i] > times[i - 1])) return false;
    return !times.empty();
}

// Onsets of the markers: frames whose brightness jumps (flash) and 10 ms blocks whose loudness
// jumps (beep), seconds on the decoded clock.
std::vector<double> Onsets(const std::string& path, bool sound) {
    const std::string graph = sound ? "amovie=" + path + ",asetnsamples=n=441,astats=metadata=1:reset=1"
                                    : "movie=" + path + ",signalstats";
    const std::string key = sound ? "lavfi.astats.Overall.RMS_level" : "lavfi.signalstats.YAVG";
    auto r = RunProgram({"ffprobe", "-v", "error", "-f", "lavfi", "-i", graph, "-show_entries",
                         "frame=pts_time:frame_tags=" + key, "-of", "csv=p=0"});
    std::vector<double> onsets;
    bool on = false;
    std::istringstream lines(r.output);
    for (std::string line; std::getline(lines, line);) {
        const auto comma = line.find(',');
        if (comma == std::string::npos) continue;
        const double at = ToDouble(line.substr(0, comma));
        const std::string value = line.substr(comma + 1);
        const bool now = sound ? (value != "-inf" && ToDouble(value) > -30) : ToDouble(value) > 128;
        if (now && !on) onsets.push_back(at);
        on = now;
    }
    return onsets;
}

// The worst distance between each flash and the beep nearest to it; a missing beep counts as 9 s.
double WorstSync(const std::string& path) {
    const auto flashes = Onsets(path, false), beeps = Onsets(path, true);
    if (flashes.empty()) return 9;
    double worst = 0;
    for (double flash : flashes) {
        double best = 9;
        for (double beep : beeps) best = std::min(best, std::fabs(beep - flash));
        worst = std::max(worst, best);
    }
    return worst;
}

class PartialClipsTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveProgram("ffmpeg") || !HaveProgram("ffprobe") || access("/usr/bin/ffmpeg", X_OK) != 0)
            QUILMER_SKIP_OR_FAIL_IN_CI("ffmpeg and ffprobe are not installed");
        ASSERT_FALSE(folder_.Path().empty());
    }
    std::string Path(const std::string& name) { return folder_.Native(name); }

    // A 10 s clip cut to 30 % of its bytes, as a download broken off leaves it.
    std::string Truncated(const std::string& name, const std::vector<std::string>& codecs) {
        std::string whole = Path("whole-" + name);
        std::vector<std::string> args = {"-f", "lavfi", "-i", "testsrc=s=320x240:r=25:d=10", "-f", "lavfi", "-i",
                                         "sine=f=440:d=10", "-ar", "44100"};
        args.insert(args.end(), codecs.begin(), codecs.end());
        args.push_back(whole);
        EXPECT_TRUE(Ffmpeg(args));
        const auto size = std::filesystem::file_size(whole);
        std::filesystem::resize_file(whole, size * 3 / 10);
        std::filesystem::rename(whole, Path(name));
        return Path(name);
    }

    // 20 s of black with a one-frame white flash and a 40 ms beep at 1 s, 3 s, 5 s ...; a key
    // frame every 2 s.
    std::string Marker() {
        std::string marker = Path("marker.mp4");
        EXPECT_TRUE(Ffmpeg({"-f", "lavfi", "-i",
                            "color=c=black:s=320x240:r=25:d=20,drawbox=c=white:t=fill:enable='between(mod(t,2),1,1.03)'",
                            "-f", "lavfi", "-i", "sine=f=1000:d=20,volume=enable='not(between(mod(t,2),1,1.04))':volume=0",
                            "-c:v", "libx264", "-preset", "ultrafast", "-g", "50", "-keyint_min", "50", "-sc_threshold",
                            "0", "-c:a", "aac", marker}));
        return marker;
    }

    // Parts of 3.4 s cut without re-encoding at `starts` (ffmpeg keeps the lead-in from the key
    // frame before, hidden by an edit list).
    std::vector<std::string> Parts(const std::string& marker, const std::vector<std::string>& starts,
                                   const std::string& prefix) {
        std::vector<std::string> parts;
        for (std::size_t i = 0; i < starts.size(); ++i) {
            parts.push_back(Path(prefix + std::to_string(i) + ".mp4"));
            EXPECT_TRUE(Ffmpeg({"-ss", starts[i], "-i", marker, "-t", "3.4", "-c", "copy", parts.back()}));
        }
        return parts;
    }

    ScratchFolder folder_{"quilmer-partial"};
};

TEST_F(PartialClipsTest, PartialDownloadsJoinWithWhatTheyHoldInEveryMethodAndAreNamed) {
    const std::string good = Path("good.flv");
    ASSERT_TRUE(Ffmpeg({"-f", "lavfi", "-i", "testsrc=s=320x240:r=25:d=3", "-f", "lavfi", "-i", "sine=d=3", "-c:v",
                        "flv1", "-c:a", "libmp3lame", "-ar", "44100", good}));
    const std::map<std::string, std::vector<std::string>> kinds = {
        {"sorenson.flv", {"-c:v", "flv1", "-c:a", "libmp3lame"}},
        {"h264.flv", {"-c:v", "libx264", "-preset", "ultrafast", "-c:a", "aac"}},
        {"faststart.mp4", {"-c:v", "libx264", "-preset", "ultrafast", "-c:a", "aac", "-movflags", "+faststart"}},
    };
    for (const auto& [name, codecs] : kinds) {
        const std::string cut = Truncated(name, codecs);
        const double held = Held(cut);
        EXPECT_GT(held, 1.5) << name;
        EXPECT_LT(held, 5.0) << name;  // not the header's 10 s
        for (JoinMethod method : {JoinMethod::Classic, JoinMethod::Single, JoinMethod::Auto}) {
            SCOPED_TRACE(name + " " + JoinMethodName(method));
            const std::string out = Path(std::string("out-") + JoinMethodName(method) + "-" + name + ".flv");
            Outcome o = Join({cut, good}, out, method);
            ASSERT_EQ(o.code, 0) << o.detail;
            ASSERT_EQ(o.warnings.size(), 1u);
            EXPECT_NE(o.warnings[0].find(name), std::string::npos) << o.warnings[0];
            EXPECT_NE(o.warnings[0].find("of the 10.0 s its header gives"), std::string::npos) << o.warnings[0];
            EXPECT_NEAR(FileDuration(out), held + Held(good), 0.2);
        }
        // A copy with the clip's own whole sibling: the cut-off packet is not carried.
        const std::string sibling = Path("sibling-" + name);
        std::vector<std::string> args = {"-f", "lavfi", "-i", "testsrc=s=320x240:r=25:d=3", "-f", "lavfi", "-i",
                                         "sine=f=440:d=3", "-ar", "44100"};
        args.insert(args.end(), codecs.begin(), codecs.end());
        args.push_back(sibling);
        ASSERT_TRUE(Ffmpeg(args));
        const std::string copied = Path("copied-" + name);
        Outcome o = Join({cut, sibling}, copied, JoinMethod::Lossless);
        ASSERT_EQ(o.code, 0) << name << ": " << o.detail;
        EXPECT_EQ(o.warnings.size(), 1u) << name;
        EXPECT_NEAR(FileDuration(copied), held + Held(sibling), 0.2) << name;
        EXPECT_EQ(DecodeErrors(copied), "") << name;
    }
}

TEST_F(PartialClipsTest, AClipOfWhichNothingIsWholeIsLeftOut) {
    const std::string cut = Truncated("stub.flv", {"-c:v", "flv1", "-c:a", "libmp3lame"});
    std::filesystem::resize_file(cut, 400);  // the header and not one whole packet
    const std::string good = Path("good.flv");
    ASSERT_TRUE(Ffmpeg({"-f", "lavfi", "-i", "testsrc=s=320x240:r=25:d=2", "-f", "lavfi", "-i", "sine=d=2", "-c:v",
                        "flv1", "-c:a", "libmp3lame", "-ar", "44100", good}));
    PlainEventLoop loop;
    View view(loop);
    DirectJoin join(loop, view);
    ASSERT_EQ(join.StartJoin({WidePath(cut), WidePath(good)}, WidePath(Path("out.flv")), JoinMethod::Single), L"");
    int code = -1;
    ASSERT_TRUE(loop.RunFor(std::chrono::minutes(2), &code));
    EXPECT_EQ(code, 0) << NativePath(view.detail);
    ASSERT_EQ(view.leftOut.size(), 1u);
    EXPECT_EQ(NativePath(view.leftOut[0]), cut);
}

TEST_F(PartialClipsTest, PartsCutAtKeyFramesCopyWithoutTheirHiddenLeadInAndStayInSync) {
    const std::string marker = Marker();
    const auto parts = Parts(marker, {"4", "8", "12"}, "key-part");
    const std::string out = Path("copied.mp4");
    Outcome o = Join(parts, out, JoinMethod::Lossless);
    ASSERT_EQ(o.code, 0) << o.detail;
    EXPECT_TRUE(o.warnings.empty());
    EXPECT_TRUE(StrictlyRising(DecodingTimes(out, "v")));
    EXPECT_TRUE(StrictlyRising(DecodingTimes(out, "a")));
    EXPECT_EQ(DecodeErrors(out), "");
    double held = 0;
    for (const auto& part : parts) held += Held(part);
    EXPECT_NEAR(FileDuration(out), held, 0.1);
    EXPECT_EQ(Onsets(out, false).size(), 6u);  // two flashes a part
    EXPECT_LT(WorstSync(out), 0.040);
}

TEST_F(PartialClipsTest, PartsThatShowPicturesBeforeTheirKeyFrameAreNotCopiedAndAutoEncodesThem) {
    const std::string marker = Marker();
    const auto parts = Parts(marker, {"3.5", "7.5", "11.5", "15.5"}, "cut-part");
    Outcome refused = Join(parts, Path("copied.mp4"), JoinMethod::Lossless);
    EXPECT_EQ(refused.code, 1);
    EXPECT_NE(refused.detail.find("cut-part0.mp4 starts on a picture that is not a key frame"), std::string::npos)
        << refused.detail;
    EXPECT_FALSE(std::filesystem::exists(Path("copied.mp4")));

    const std::string out = Path("auto.mp4");
    Outcome o = Join(parts, out, JoinMethod::Auto);
    ASSERT_EQ(o.code, 0) << o.detail;
    EXPECT_NE(o.reason.find("not a key frame"), std::string::npos) << o.reason;
    EXPECT_TRUE(StrictlyRising(DecodingTimes(out, "v")));
    EXPECT_EQ(Onsets(out, false).size(), 4u);  // one flash a part
    EXPECT_LT(WorstSync(out), 0.040);
}

// A thousand clips pass the system's limits on a command line and on open files: the one-pass
// join encodes them in runs, the copy opens one at a time.
TEST_F(PartialClipsTest, AThousandClipsJoinInOnePassAndLosslessly) {
    const std::string flv = Path("tiny.flv"), mp4 = Path("tiny.mp4");
    ASSERT_TRUE(Ffmpeg({"-f", "lavfi", "-i", "testsrc=s=96x64:r=25:d=0.4", "-f", "lavfi", "-i", "sine=d=0.4", "-c:v",
                        "flv1", "-c:a", "libmp3lame", "-ar", "22050", flv}));
    ASSERT_TRUE(Ffmpeg({"-f", "lavfi", "-i", "testsrc=s=96x64:r=25:d=0.4", "-f", "lavfi", "-i", "sine=d=0.4", "-c:v",
                        "libx264", "-preset", "ultrafast", "-c:a", "aac", mp4}));
    std::vector<std::string> mixed, same;
    for (int i = 0; i < 1000; ++i) {
        // Long names, so that the old single command line would pass the kernel's limit.
        const std::string name = Path("clip number " + std::to_string(i) + std::string(120, 'x'));
        std::filesystem::copy_file(i % 2 ? flv : mp4, name + (i % 2 ? ".flv" : ".mp4"));
        mixed.push_back(name + (i % 2 ? ".flv" : ".mp4"));
        if (i % 2) same.push_back(mixed.back());
    }
    const double expected = 500 * (Held(flv) + Held(mp4));
    Outcome o = Join(mixed, Path("single.flv"), JoinMethod::Single);
    ASSERT_EQ(o.code, 0) << o.detail;
    EXPECT_NEAR(FileDuration(Path("single.flv")), expected, 1000 * 0.04);
    EXPECT_TRUE(StrictlyRising(DecodingTimes(Path("single.flv"), "v")));

    const std::vector<std::string> half = same;
    same.insert(same.end(), half.begin(), half.end());  // a thousand again
    Outcome copied = Join(same, Path("lossless.flv"), JoinMethod::Lossless);
    ASSERT_EQ(copied.code, 0) << copied.detail;
    EXPECT_NEAR(FileDuration(Path("lossless.flv")), 1000 * Held(flv), 1000 * 0.002);
}

}  // namespace
}  // namespace quilmer
