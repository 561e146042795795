// The choice between the join methods on what the clips hold, and the one-pass join's command.

#include "media/join/methods/DirectCommands.h"
#include "media/join/methods/JoinMethod.h"
#include "media/av/MediaInfo.h"
#include "media/EncoderRunner.h"
#include "media/join/ShortClip.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <optional>
#include <string>
#include <vector>

namespace quilmer {
namespace {

// What a look into one file finds, put together from pieces.
struct Streams {
    std::optional<VideoInfo> video;
    std::optional<AudioInfo> audio;
};
Streams operator+(Streams a, const Streams& b) {
    if (b.video) a.video = b.video;
    if (b.audio) a.audio = b.audio;
    return a;
}
Streams Video(const std::string& codec = "h264", int w = 640, int h = 360, const std::string& rate = "25/1",
              int rotation = 0) {
    VideoInfo v;
    v.codec = codec;
    v.profile = "High";
    v.width = w;
    v.height = h;
    v.pixelFormat = "yuv420p";
    v.frameRate = rate;
    v.timeBase = "1/1000";
    v.aspect = "1:1";
    v.setup = "crc32:00000001";
    v.rotation = rotation;
    return {v, std::nullopt};
}
Streams Audio(const std::string& codec = "aac", int rate = 44100, int channels = 2) {
    AudioInfo a;
    a.codec = codec;
    a.sampleRate = rate;
    a.channels = channels;
    a.bitRate = 128000;
    a.index = 1;
    return {std::nullopt, a};
}
MediaInfo Info(const Streams& streams, double duration = 2.0) {
    MediaInfo info;
    info.container = "flv";
    info.duration = duration;
    info.bitRate = 600000;
    info.video = streams.video;
    info.audio = streams.audio;
    return info;
}

TEST(MediaInfoTest, PropertiesShowTheLengthFrameAndSoundInTheProbesShape) {
    MediaInfo info = Info(Video("h264", 1280, 720, "30000/1001") + Audio("mp3", 22050, 1));
    info.container = "mov,mp4,m4a,3gp,3g2,mj2";
    ClipProperties shown = PropertiesFromMediaInfo(L"/x.mp4", info);
    EXPECT_EQ(shown.format, L"mp4");
    EXPECT_EQ(shown.duration, L"00:00:02.00");
    EXPECT_EQ(shown.resolution, L"1280x720 pixels");
    EXPECT_EQ(shown.frameRate, L"29.97 fps");
    EXPECT_EQ(shown.sampleRate, L"22050 Hz");
    EXPECT_EQ(shown.bitrate, L"600 kb/s");
}

TEST(LosslessCheckTest, AcceptsPartsOfOneVideoAndSaysWhatTheyShare) {
    std::vector<std::wstring> clips = {L"/v/a.flv", L"/v/b.flv", L"/v/c.flv"};
    std::vector<MediaInfo> infos(3, Info(Video() + Audio()));
    LosslessVerdict v = CheckLossless(clips, infos, L"flv");
    EXPECT_TRUE(v.possible) << v.refusal;
    EXPECT_EQ(v.summary, L"all 3 clips share h264 640x360 25 fps, aac 44100 Hz stereo");
    EXPECT_TRUE(CheckLossless(clips, infos, L"mp4").possible);
    // An MP4 cannot hold FLV's Sorenson video, a RealMedia file cannot hold H.264.
    EXPECT_FALSE(CheckLossless(clips, infos, L"rmvb").possible);

    MethodChoice automatic = ChooseMethod(JoinMethod::Auto, v);
    EXPECT_EQ(automatic.method, JoinMethod::Lossless);
    EXPECT_EQ(automatic.reason, v.summary);
}

TEST(LosslessCheckTest, NamesTheFirstClipThatDiffersAndTheProperty) {
    std::vector<std::wstring> clips = {L"/v/a.mp4", L"/v/b.mp4", L"/v/c.mp4", L"/v/d.mp4"};
    MediaInfo base = Info(Video() + Audio());
    struct Case {
        MediaInfo odd;
        std::wstring expected;
    } cases[] = {
        {Info(Video("h264", 1280, 720) + Audio()), L"c.mp4 differs from the first clip in frame size: 1280x720, not 640x360"},
        {Info(Video("h264", 640, 360, "30/1") + Audio()), L"c.mp4 differs from the first clip in frame rate: 30 fps, not 25 fps"},
        {Info(Video("mpeg4") + Audio()), L"c.mp4 differs from the first clip in video codec: mpeg4, not h264"},
        {Info(Video() + Audio("aac", 48000)), L"c.mp4 differs from the first clip in sample rate: 48000 Hz, not 44100 Hz"},
        {Info(Video() + Audio("aac", 44100, 1)), L"c.mp4 differs from the first clip in sound channels: mono, not stereo"},
        {Info(Video() + Audio("mp3")), L"c.mp4 differs from the first clip in sound codec: mp3, not aac"},
        {Info(Video()), L"c.mp4 differs from the first clip in sound: has none, not has one"},
        {Info(Video("vp9") + Audio()), L"c.mp4 has video codec vp9, which a MP4 file cannot hold"},
    };
    for (const Case& c : cases) {
        // The fourth clip differs too, in something else: the third is named, being the first.
        std::vector<MediaInfo> infos = {base, base, c.odd, Info(Video("h264", 320, 240) + Audio())};
        LosslessVerdict v = CheckLossless(clips, infos, L"mp4");
        EXPECT_FALSE(v.possible);
        EXPECT_EQ(v.refusal, c.expected);
        MethodChoice automatic = ChooseMethod(JoinMethod::Auto, v);
        EXPECT_EQ(automatic.method, JoinMethod::Single);
        EXPECT_NE(automatic.reason.find(c.expected), std::wstring::npos);
    }
    // Another encoder's stream of the same shape has other codec settings.
    MediaInfo other = base;
    other.video->setup = "CRC32:2";
    LosslessVerdict v = CheckLossless({L"/a.mp4", L"/b.mp4"}, {base, other}, L"mp4");
    EXPECT_FALSE(v.possible);
    EXPECT_EQ(v.refusal.rfind(L"b.mp4 differs from the first clip in its video codec settings", 0), 0u) << v.refusal;
}

TEST(DirectCommandsTest, SingleTargetFollowsTheFirstClipAndTheClassicEncode) {
    MediaInfo portrait = Info(Video("h264", 1280, 720, "15/1", 90) + Audio("aac", 48000));
    SingleTarget flv = SingleTargetFor(L"flv", portrait);
    EXPECT_EQ(flv.width, 720);
    EXPECT_EQ(flv.height, 1280);
    EXPECT_EQ(flv.frameRate, "20");  // below 20 fps the classic join converts to 20
    EXPECT_EQ(flv.sampleRate, 44100);
    EXPECT_EQ(flv.params.audioKbps, 128);
    EXPECT_EQ(flv.params.videoKbps, 600);

    MediaInfo soundOnly = Info(Audio("mp3", 32000, 1));
    SingleTarget wmv = SingleTargetFor(L"wmv", soundOnly);
    EXPECT_EQ(wmv.width, 320);
    EXPECT_EQ(wmv.frameRate, "25");
    EXPECT_EQ(wmv.sampleRate, 22050);
    EXPECT_EQ(SingleTargetFor(L"rmvb", Info(Video("h264", 170, 90))).width, 176);
    EXPECT_EQ(SingleTargetFor(L"mp4", soundOnly).sampleRate, 44100);
}

TEST(DirectCommandsTest, FilterGraphFillsMissingPictureAndSoundForTheClipsLength) {
    std::vector<MediaInfo> clips = {Info(Video() + Audio()), Info(Video(), 1.5), Info(Audio(), 3.25)};
    SingleTarget t = SingleTargetFor(L"flv", clips[0]);
    std::string graph = SingleFilterGraph(clips, t);
    EXPECT_NE(graph.find("[0:0]scale"), std::string::npos);
    EXPECT_NE(graph.find("[0:1]asetpts=PTS-STARTPTS+0.000/TB"), std::string::npos);
    EXPECT_EQ(graph.find("tpad=start_duration"), std::string::npos) << "both streams start together";
    EXPECT_EQ(graph.find("[1:1]"), std::string::npos);
    EXPECT_NE(graph.find("anullsrc=r=22050:cl=stereo,atrim=duration=1.500"), std::string::npos);
    EXPECT_EQ(graph.find("[2:0]"), std::string::npos);
    EXPECT_NE(graph.find("color=c=black:s=640x360:r=25/1:d=3.250"), std::string::npos);
    EXPECT_NE(graph.find("force_original_aspect_ratio=decrease"), std::string::npos);
    EXPECT_NE(graph.find("[v0][a0][v1][a1][v2][a2]concat=n=3:v=1:a=1"), std::string::npos);
}

// A picture that starts 2 s after its sound gets 2 s of black; a sound that starts 0.5 s after its
// picture gets 0.5 s of silence: each clip's streams keep their places against each other.
TEST(DirectCommandsTest, FilterGraphKeepsEachClipsStreamsInStep) {
    std::vector<MediaInfo> clips = {Info(Video() + Audio()), Info(Video() + Audio())};
    clips[0].video->start = 12.0;
    clips[0].audio->start = 10.0;
    clips[1].video->start = 0.0;
    clips[1].audio->start = 0.5;
    std::string graph = SingleFilterGraph(clips, SingleTargetFor(L"flv", clips[0]));
    EXPECT_NE(graph.find("setpts=PTS-STARTPTS,fps=25/1,tpad=start_duration=2.000:stop_mode=clone:stop=-1,trim=end=2.000"),
              std::string::npos)
        << graph;
    EXPECT_NE(graph.find("[0:1]asetpts=PTS-STARTPTS+0.000/TB"), std::string::npos);
    EXPECT_NE(graph.find("[1:1]asetpts=PTS-STARTPTS+0.500/TB,aresample=22050:async=1000:first_pts=0"),
              std::string::npos);
    EXPECT_NE(graph.find("eval=frame"), std::string::npos) << "a picture that changes size is followed";
}

TEST(DirectCommandsTest, ProgressReaderJoinsLinesSplitAcrossReads) {
    ProgressReader reader;
    EXPECT_FALSE(reader.Feed("frame=10\nout_time_us=12").has_value());
    EXPECT_EQ(reader.Feed("50000\nprogress=continue\n").value_or(-1), 1250000);
    EXPECT_EQ(reader.Feed("out_time_us=N/A\nout_time_ms=2000000\n").value_or(-1), 2000000);
}

TEST(DirectCommandsTest, RunsTakeAtMostTheirShareOfClipsAndPictureAndKeepTheOrder) {
    std::vector<MediaInfo> small(70, Info(Video("h264", 160, 120) + Audio()));
    EXPECT_EQ(SingleRuns(small), (std::vector<std::size_t>{32, 32, 6}));
    std::vector<MediaInfo> large(5, Info(Video("h264", 3840, 2160) + Audio()));
    EXPECT_EQ(SingleRuns(large), (std::vector<std::size_t>{1, 1, 1, 1, 1}));  // each alone is over the budget
    EXPECT_EQ(SingleRuns({Info(Audio())}), (std::vector<std::size_t>{1}));
}

TEST(DirectCommandsTest, AClipShortOfItsHeaderIsNamedWithBothLengthsAndAStartFailureGivesTheReason) {
    MediaInfo cut = Info(Video() + Audio(), 2.1);
    cut.headerDuration = 10;
    EXPECT_TRUE(HoldsLessThanHeader(cut));
    cut.headerDuration = 2.4;  // rounding and a codec frame are no loss
    EXPECT_FALSE(HoldsLessThanHeader(cut));
    EXPECT_EQ(ShortClipWarning(L"/d/a %s {held}.flv", 2.14, 10),
              L"/d/a %s {held}.flv holds 2.1 s of the 10.0 s its header gives; the rest is missing, perhaps an "
              L"incomplete download");
    EncoderExit exit;
    exit.startError = E2BIG;
    EXPECT_EQ(exit.Describe(), L"The encoder could not be started: Argument list too long.");
}

}  // namespace
}  // namespace quilmer
