// The smart join's plan (which clips are copied, against which reference), the method it leads
// to, and the encoder settings that rebuild a reference's stream.

#include "media/join/methods/SmartEncode.h"
#include "media/join/methods/SmartJoin.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace quilmer {
namespace {

MediaInfo Clip(int width, double seconds = 10, const std::string& codec = "h264") {
    MediaInfo info;
    info.container = "mov,mp4,m4a,3gp,3g2,mj2";
    info.duration = seconds;
    VideoInfo v;
    v.codec = codec;
    v.profile = "High";
    v.width = width;
    v.height = width * 9 / 16;
    v.pixelFormat = "yuv420p";
    v.frameRate = "25/1";
    v.timeBase = "1/12800";
    v.aspect = "1:1";
    v.setup = "md5:" + std::to_string(width);
    info.video = v;
    AudioInfo a;
    a.codec = "aac";
    a.sampleRate = 44100;
    a.channels = 2;
    a.bitRate = 128000;
    a.index = 1;
    info.audio = a;
    return info;
}

std::vector<std::wstring> Names(std::size_t count) {
    std::vector<std::wstring> names;
    for (std::size_t i = 0; i < count; ++i) names.push_back(L"/v/part" + std::to_wstring(i + 1) + L".mp4");
    return names;
}

// The options x264 writes with its default settings (preset medium) and with preset veryfast.
const char kMedium[] =
    "cabac=1 ref=3 deblock=1:0:0 analyse=0x3:0x113 me=hex subme=7 psy=1 psy_rd=1.00:0.00 mixed_ref=1 "
    "me_range=16 chroma_me=1 trellis=1 8x8dct=1 cqm=0 deadzone=21,11 fast_pskip=1 chroma_qp_offset=-2 threads=3 "
    "lookahead_threads=1 sliced_threads=0 nr=0 decimate=1 interlaced=0 bluray_compat=0 constrained_intra=0 "
    "bframes=3 b_pyramid=2 b_adapt=1 b_bias=0 direct=1 weightb=1 open_gop=0 weightp=2 keyint=250 keyint_min=25 "
    "scenecut=40 intra_refresh=0 rc_lookahead=40 rc=crf mbtree=1 crf=23.0 qcomp=0.60 qpmin=0 qpmax=69 qpstep=4 "
    "ip_ratio=1.40 aq=1:1.00";
const char kVeryFast[] =
    "cabac=1 ref=1 deblock=1:0:0 analyse=0x3:0x113 me=hex subme=2 psy=1 psy_rd=1.00:0.00 mixed_ref=0 "
    "me_range=16 chroma_me=1 trellis=0 8x8dct=1 cqm=0 deadzone=21,11 fast_pskip=1 chroma_qp_offset=0 threads=3 "
    "interlaced=0 bframes=3 b_pyramid=2 weightb=1 open_gop=0 weightp=1 keyint=250 keyint_min=25 rc=crf crf=20.0";

bool Has(const std::string& params, const std::string& setting) {
    return (":" + params + ":").find(":" + setting + ":") != std::string::npos;
}

TEST(SmartPlan, CopiesTheClipsThatMatchTheMajorityEvenWhenTheFirstIsOdd) {
    // The odd one first, and one more in the middle.
    std::vector<MediaInfo> infos = {Clip(320), Clip(640), Clip(640), Clip(480), Clip(640), Clip(640)};
    SmartPlan plan = PlanSmartJoin(Names(infos.size()), infos, L"mp4");
    ASSERT_TRUE(plan.possible) << plan.reason;
    EXPECT_TRUE(plan.worthwhile);
    EXPECT_EQ(plan.reference, 1u);
    EXPECT_EQ(plan.copied, (std::vector<bool>{false, true, true, false, true, true}));
    EXPECT_EQ(plan.reason, L"4 of 6 clips copied as they are, 2 re-encoded to match part2.mp4");
}

TEST(SmartPlan, WeighsTheClipsByLengthAndKnowsWhenNothingIsLeftToReencode) {
    // Two short matching clips beside one long other one: the long one is copied.
    std::vector<MediaInfo> infos = {Clip(640, 5), Clip(640, 5), Clip(320, 60)};
    SmartPlan plan = PlanSmartJoin(Names(3), infos, L"mp4");
    EXPECT_TRUE(plan.possible && plan.worthwhile);
    EXPECT_EQ(plan.reference, 2u);
    EXPECT_EQ(plan.copied, (std::vector<bool>{false, false, true}));
    // Four kinds of clip, none holding half of the length: not worth it.
    std::vector<MediaInfo> mixed = {Clip(640, 10), Clip(320, 10), Clip(480, 12), Clip(160, 10)};
    plan = PlanSmartJoin(Names(4), mixed, L"mp4");
    EXPECT_TRUE(plan.possible);
    EXPECT_FALSE(plan.worthwhile);
    EXPECT_EQ(plan.reference, 2u);

    std::vector<MediaInfo> same = {Clip(640), Clip(640)};
    plan = PlanSmartJoin(Names(2), same, L"mp4");
    EXPECT_FALSE(plan.possible);
    EXPECT_EQ(plan.reason, L"every clip matches, so all are copied");

    // H.264 cannot go into a WMV file as it is: there is nothing to copy.
    plan = PlanSmartJoin(Names(3), infos, L"wmv");
    EXPECT_FALSE(plan.possible);
    EXPECT_NE(plan.reason.find(L"WMV"), std::wstring::npos) << plan.reason;
}

TEST(SmartChoice, AutoTakesTheSmartJoinOnlyWhenItCopiesMostOfTheLength) {
    std::vector<MediaInfo> most = {Clip(640), Clip(640), Clip(320), Clip(640)};
    std::vector<std::wstring> names = Names(4);
    LosslessVerdict verdict = CheckLossless(names, most, L"mp4");
    ASSERT_FALSE(verdict.possible);
    MethodChoice choice = ChooseJoinMethod(JoinMethod::Auto, verdict, PlanSmartJoin(names, most, L"mp4"));
    EXPECT_EQ(choice.method, JoinMethod::Smart);
    EXPECT_EQ(choice.reason, L"3 of 4 clips copied as they are, 1 re-encoded to match part1.mp4");

    std::vector<MediaInfo> few = {Clip(640, 2), Clip(320, 30), Clip(480, 30), Clip(640, 2)};
    verdict = CheckLossless(names, few, L"mp4");
    SmartPlan plan = PlanSmartJoin(names, few, L"mp4");
    EXPECT_EQ(ChooseJoinMethod(JoinMethod::Auto, verdict, plan).method, JoinMethod::Single);
    EXPECT_EQ(ChooseJoinMethod(JoinMethod::Smart, verdict, plan).method, JoinMethod::Smart)
        << "asked for, it is made even when little is copied";

    // Asked for where every clip matches: that is a lossless join.
    std::vector<MediaInfo> all(3, Clip(640));
    verdict = CheckLossless(Names(3), all, L"mp4");
    EXPECT_EQ(ChooseJoinMethod(JoinMethod::Smart, verdict, PlanSmartJoin(Names(3), all, L"mp4")).method,
              JoinMethod::Lossless);
    // Asked for where nothing can be copied: one pass, and why.
    verdict = CheckLossless(names, most, L"wmv");
    choice = ChooseJoinMethod(JoinMethod::Smart, verdict, PlanSmartJoin(names, most, L"wmv"));
    EXPECT_EQ(choice.method, JoinMethod::Single);
    EXPECT_EQ(choice.reason.rfind(L"no smart join: ", 0), 0u) << choice.reason;
}

TEST(X264Settings, GiveBackWhatX264WasToldNotWhatItWrote) {
    std::optional<std::string> medium = X264ParamsFromOptions(kMedium);
    ASSERT_TRUE(medium);
    for (const char* setting : {"cabac=1", "ref=3", "deblock=0,0", "8x8dct=1", "bframes=3", "b-pyramid=normal",
                                "weightp=2", "keyint=250", "crf=23.0"})
        EXPECT_TRUE(Has(*medium, setting)) << setting << " in " << *medium;
    // x264 lowered the chroma offset by 2 for its psychovisual optimisation; it was given 0.
    EXPECT_TRUE(Has(*medium, "chroma-qp-offset=0")) << *medium;
    // Below sub-pixel refinement 6 that optimisation is off, and the offset is what was given.
    std::optional<std::string> fast = X264ParamsFromOptions(kVeryFast);
    ASSERT_TRUE(fast);
    EXPECT_TRUE(Has(*fast, "chroma-qp-offset=0")) << *fast;
    EXPECT_TRUE(Has(*fast, "crf=20.0") && Has(*fast, "ref=1")) << *fast;

    std::string matrix = kMedium;
    matrix.replace(matrix.find("cqm=0"), 5, "cqm=2");
    EXPECT_FALSE(X264ParamsFromOptions(matrix)) << "a custom matrix is not in the text";
    EXPECT_FALSE(X264ParamsFromOptions(""));
    EXPECT_FALSE(X264ParamsFromOptions("Lavc60.31.102"));
}

TEST(SmartEncoderSettings, RebuildTheReferencesStreamsOrSayWhyNot) {
    ReferenceDetails x264;
    x264.x264Options = kMedium;
    x264.level = 30;
    std::wstring why;
    std::optional<SmartEncoder> e = SmartEncoderFor(Clip(640), x264, why);
    ASSERT_TRUE(e) << why;
    EXPECT_EQ(e->frame.width, 640);
    EXPECT_EQ(e->frame.height, 360);
    EXPECT_EQ(e->frame.frameRate, "25/1");
    EXPECT_EQ(e->frame.sampleRate, 44100);
    EXPECT_EQ(e->muxer, "mp4");
    auto after = [](const std::vector<std::wstring>& args, const std::wstring& option) {
        auto at = std::find(args.begin(), args.end(), option);
        return at == args.end() || at + 1 == args.end() ? std::wstring() : *(at + 1);
    };
    EXPECT_EQ(after(e->video, L"-c:v"), L"libx264");
    EXPECT_EQ(after(e->video, L"-profile:v"), L"high");
    EXPECT_NE(after(e->video, L"-x264-params").find(L":level=30"), std::wstring::npos);
    EXPECT_EQ(after(e->video, L"-video_track_timescale"), L"12800");
    EXPECT_EQ(after(e->audio, L"-c:a"), L"aac");
    EXPECT_EQ(after(e->audio, L"-ar"), L"44100");
    EXPECT_EQ(after(e->audio, L"-ac"), L"2");

    // H.264 from another encoder: its settings are not known.
    EXPECT_FALSE(SmartEncoderFor(Clip(640), ReferenceDetails{}, why));
    EXPECT_NE(why.find(L"x264"), std::wstring::npos) << why;
    // A codec without an encoder here.
    MediaInfo vc1 = Clip(640, 10, "vc1");
    vc1.container = "asf";
    EXPECT_FALSE(SmartEncoderFor(vc1, ReferenceDetails{}, why));
    EXPECT_NE(why.find(L"vc1"), std::wstring::npos) << why;
    // Pixels that are not square are not rebuilt (the graph makes square ones).
    MediaInfo wide = Clip(640);
    wide.video->aspect = "32:27";
    EXPECT_FALSE(SmartEncoderFor(wide, x264, why));

    // The graph leaves no output of a stream the reference lacks unconnected.
    MediaInfo silent = Clip(640);
    silent.audio.reset();
    e = SmartEncoderFor(silent, x264, why);
    ASSERT_TRUE(e) << why;
    EXPECT_TRUE(e->audio.empty());
    const std::string graph = SmartFilterGraph({Clip(320)}, *e, true, false);
    EXPECT_NE(graph.find("[a]anullsink"), std::string::npos) << graph;
    EXPECT_NE(graph.find("scale=640:360"), std::string::npos) << graph;
}

}  // namespace
}  // namespace quilmer
