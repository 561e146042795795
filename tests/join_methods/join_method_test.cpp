// The choice between the join methods on probe data, and the commands the direct methods build.

#include "media/join/methods/DirectCommands.h"
#include "media/join/methods/JoinMethod.h"
#include "media/join/methods/MediaInfo.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quilmer {
namespace {

// An ffprobe report of one file with the given streams.
std::string Report(const std::string& streams, const std::string& duration = "2.000000") {
    return R"({"streams":[)" + streams + R"(],"format":{"format_name":"flv","duration":")" + duration +
           R"(","bit_rate":"600000"}})";
}
std::string Video(const std::string& codec = "h264", int w = 640, int h = 360, const std::string& rate = "25/1",
                  const std::string& extra = "") {
    return R"({"index":0,"codec_type":"video","codec_name":")" + codec + R"(","profile":"High","width":)" +
           std::to_string(w) + R"(,"height":)" + std::to_string(h) + R"(,"pix_fmt":"yuv420p","r_frame_rate":")" +
           rate + R"(","time_base":"1/1000","sample_aspect_ratio":"1:1","extradata_hash":"CRC32:1")" + extra + "}";
}
std::string Audio(const std::string& codec = "aac", int rate = 44100, int channels = 2) {
    return R"({"index":1,"codec_type":"audio","codec_name":")" + codec + R"(","sample_rate":")" +
           std::to_string(rate) + R"(","channels":)" + std::to_string(channels) + R"(,"bit_rate":"128000"})";
}
MediaInfo Info(const std::string& json) {
    auto info = ParseMediaInfoJson(json);
    EXPECT_TRUE(info.has_value()) << json;
    return info.value_or(MediaInfo{});
}

TEST(MediaInfoTest, ReadsTheFirstPictureAndSoundAndSkipsCoverPictures) {
    MediaInfo info = Info(Report(
        R"({"codec_type":"video","codec_name":"mjpeg","width":300,"height":300,"disposition":{"attached_pic":1}},)" +
        Video("h264", 1280, 720, "30000/1001", R"(,"side_data_list":[{"rotation":-90}])") + "," + Audio("mp3", 22050, 1)));
    ASSERT_TRUE(info.video && info.audio);
    EXPECT_EQ(info.video->codec, "h264");
    EXPECT_EQ(info.video->width, 1280);
    EXPECT_EQ(info.video->rotation, -90);
    EXPECT_NEAR(FractionValue(info.video->frameRate), 29.97, 0.01);
    EXPECT_EQ(info.audio->sampleRate, 22050);
    EXPECT_DOUBLE_EQ(info.duration, 2.0);

    EXPECT_FALSE(ParseMediaInfoJson("not json").has_value());
    EXPECT_FALSE(ParseMediaInfoJson(R"({"streams":[{"codec_type":"data"}]})").has_value());
    ClipProperties shown = PropertiesFromMediaInfo(L"/x.flv", info);
    EXPECT_EQ(shown.duration, L"00:00:02.00");
    EXPECT_EQ(shown.resolution, L"1280x720 pixels");
    EXPECT_EQ(shown.sampleRate, L"22050 Hz");
}

TEST(LosslessCheckTest, AcceptsPartsOfOneVideoAndSaysWhatTheyShare) {
    std::vector<std::wstring> clips = {L"/v/a.flv", L"/v/b.flv", L"/v/c.flv"};
    std::vector<MediaInfo> infos(3, Info(Report(Video() + "," + Audio())));
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
    MediaInfo base = Info(Report(Video() + "," + Audio()));
    struct Case {
        MediaInfo odd;
        std::wstring expected;
    } cases[] = {
        {Info(Report(Video("h264", 1280, 720) + "," + Audio())), L"c.mp4 differs from the first clip in frame size: 1280x720, not 640x360"},
        {Info(Report(Video("h264", 640, 360, "30/1") + "," + Audio())), L"c.mp4 differs from the first clip in frame rate: 30 fps, not 25 fps"},
        {Info(Report(Video("mpeg4") + "," + Audio())), L"c.mp4 differs from the first clip in video codec: mpeg4, not h264"},
        {Info(Report(Video() + "," + Audio("aac", 48000))), L"c.mp4 differs from the first clip in sample rate: 48000 Hz, not 44100 Hz"},
        {Info(Report(Video() + "," + Audio("aac", 44100, 1))), L"c.mp4 differs from the first clip in sound channels: mono, not stereo"},
        {Info(Report(Video() + "," + Audio("mp3"))), L"c.mp4 differs from the first clip in sound codec: mp3, not aac"},
        {Info(Report(Video())), L"c.mp4 differs from the first clip in sound: has none, not has one"},
        {Info(Report(Video("vp9") + "," + Audio())), L"c.mp4 has video codec vp9, which a MP4 file cannot hold"},
    };
    for (const Case& c : cases) {
        // The fourth clip differs too, in something else: the third is named, being the first.
        std::vector<MediaInfo> infos = {base, base, c.odd, Info(Report(Video("h264", 320, 240) + "," + Audio()))};
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

TEST(DirectCommandsTest, ConcatListQuotesAnyNameItCanHold) {
    std::string list = ConcatList({L"/a/it's.flv", L"/a/ b \\ c.flv"});
    EXPECT_EQ(list, "ffconcat version 1.0\nfile 'file:/a/it'\\''s.flv'\nfile 'file:/a/ b \\ c.flv'\n");
    EXPECT_TRUE(NeedsListLink(L"/a/two\nlines.flv"));
    EXPECT_FALSE(NeedsListLink(L"/a/plain.flv"));
}

TEST(DirectCommandsTest, SingleTargetFollowsTheFirstClipAndTheClassicEncode) {
    MediaInfo portrait = Info(Report(Video("h264", 1280, 720, "15/1", R"(,"side_data_list":[{"rotation":90}])") +
                                     "," + Audio("aac", 48000)));
    SingleTarget flv = SingleTargetFor(L"flv", portrait);
    EXPECT_EQ(flv.width, 720);
    EXPECT_EQ(flv.height, 1280);
    EXPECT_EQ(flv.frameRate, "20");  // below 20 fps the classic join converts to 20
    EXPECT_EQ(flv.sampleRate, 44100);
    EXPECT_EQ(flv.params.audioKbps, 128);
    EXPECT_EQ(flv.params.videoKbps, 600);

    MediaInfo soundOnly = Info(Report(Audio("mp3", 32000, 1)));
    SingleTarget wmv = SingleTargetFor(L"wmv", soundOnly);
    EXPECT_EQ(wmv.width, 320);
    EXPECT_EQ(wmv.frameRate, "25");
    EXPECT_EQ(wmv.sampleRate, 22050);
    EXPECT_EQ(SingleTargetFor(L"rmvb", Info(Report(Video("h264", 170, 90)))).width, 176);
    EXPECT_EQ(SingleTargetFor(L"mp4", soundOnly).sampleRate, 44100);
}

TEST(DirectCommandsTest, FilterGraphFillsMissingPictureAndSoundForTheClipsLength) {
    std::vector<MediaInfo> clips = {Info(Report(Video() + "," + Audio())), Info(Report(Video(), "1.500000")),
                                    Info(Report(Audio(), "3.250000"))};
    SingleTarget t = SingleTargetFor(L"flv", clips[0]);
    std::string graph = SingleFilterGraph(clips, t);
    EXPECT_NE(graph.find("[0:0]setpts"), std::string::npos);
    EXPECT_NE(graph.find("[0:1]asetpts"), std::string::npos);
    EXPECT_EQ(graph.find("[1:1]"), std::string::npos);
    EXPECT_NE(graph.find("anullsrc=r=22050:cl=stereo,atrim=duration=1.500"), std::string::npos);
    EXPECT_EQ(graph.find("[2:0]"), std::string::npos);
    EXPECT_NE(graph.find("color=c=black:s=640x360:r=25/1:d=3.250"), std::string::npos);
    EXPECT_NE(graph.find("force_original_aspect_ratio=decrease"), std::string::npos);
    EXPECT_NE(graph.find("[v0][a0][v1][a1][v2][a2]concat=n=3:v=1:a=1"), std::string::npos);
}

TEST(DirectCommandsTest, ProgressReaderJoinsLinesSplitAcrossReads) {
    ProgressReader reader;
    EXPECT_FALSE(reader.Feed("frame=10\nout_time_us=12").has_value());
    EXPECT_EQ(reader.Feed("50000\nprogress=continue\n").value_or(-1), 1250000);
    EXPECT_EQ(reader.Feed("out_time_us=N/A\nout_time_ms=2000000\n").value_or(-1), 2000000);
}

}  // namespace
}  // namespace quilmer
