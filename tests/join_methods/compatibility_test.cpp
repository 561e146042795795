// The compatibility report on what the probe found: the reference, rates and layouts written
// differently, every difference listed with its action, and the H.264 setup data read for what
// decides the decoding.

#include "media/join/methods/Compatibility.h"
#include "media/av/H264Setup.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace quilmer {
namespace {

MediaInfo Clip(int width = 640, const std::string& rate = "25/1", int sampleRate = 44100) {
    MediaInfo info;
    info.container = "mov,mp4,m4a,3gp,3g2,mj2";
    VideoInfo v;
    v.codec = "h264";
    v.profile = "High";
    v.level = "3.0";
    v.width = width;
    v.height = 360;
    v.pixelFormat = "yuv420p";
    v.frameRate = rate;
    v.aspect = "1:1";
    v.setup = "crc32:00000001";
    v.fieldOrder = "progressive";
    info.video = v;
    AudioInfo a;
    a.codec = "aac";
    a.profile = "LC";
    a.sampleRate = sampleRate;
    a.channels = 2;
    a.channelLayout = "stereo";
    a.sampleFormat = "fltp";
    a.setup = "crc32:00000002";
    info.audio = a;
    return info;
}

std::vector<ClipProperty> Properties(const ClipCompatibility& clip) {
    std::vector<ClipProperty> found;
    for (const ClipDifference& d : clip.differences) found.push_back(d.property);
    return found;
}

TEST(CompatibilityTest, ListsEveryDifferenceOfEveryClipWithWhatTheJoinDoes) {
    MediaInfo odd = Clip(1280, "30/1", 48000);
    odd.video->setup = "crc32:00000009";
    MediaInfo silent = Clip();
    silent.audio.reset();
    MediaInfo subtitled = Clip();
    subtitled.container = "matroska,webm";
    subtitled.others.push_back({"subtitle", "subrip", false, 2});
    subtitled.others.push_back({"video", "mjpeg", true, 3});  // a cover picture is not told
    const std::vector<std::wstring> paths = {L"/v/a.mp4", L"/v/b.mp4", L"/v/c.mp4", L"/v/d.mkv"};
    CompatibilityReport report = CompareClips(paths, {Clip(), odd, silent, subtitled}, L"mp4");
    ASSERT_EQ(report.clips.size(), 4u);
    EXPECT_EQ(report.reference, 0u);
    EXPECT_FALSE(report.Lossless());
    EXPECT_EQ(report.OddClips(), 2u);
    EXPECT_TRUE(report.clips[0].differences.empty());
    EXPECT_EQ(Properties(report.clips[1]), (std::vector<ClipProperty>{ClipProperty::FrameSize, ClipProperty::FrameRate,
                                                                       ClipProperty::VideoSetup, ClipProperty::SampleRate}));
    const ClipDifference& size = report.clips[1].differences[0];
    EXPECT_EQ(size.referenceValue, L"640x360");
    EXPECT_EQ(size.clipValue, L"1280x360");
    EXPECT_EQ(size.action, ClipAction::ReEncode);
    EXPECT_EQ(size.sentence, L"Its frame size is 1280x360 where the reference clip has 640x360, so this clip is re-encoded.");
    ASSERT_EQ(report.clips[2].differences.size(), 1u);
    EXPECT_EQ(report.clips[2].differences[0].action, ClipAction::AddSilence);
    EXPECT_EQ(report.clips[2].differences[0].sentence,
              L"It has no sound where the reference clip has some, so silence is added in its place.");
    // Another container and a subtitle stream are told, and stand in nobody's way.
    EXPECT_TRUE(report.clips[3].Copyable());
    EXPECT_EQ(Properties(report.clips[3]), (std::vector<ClipProperty>{ClipProperty::Container, ClipProperty::OtherStreams}));
    EXPECT_EQ(report.clips[3].differences[1].sentence,
              L"It also holds a subtitle stream (subrip), which the join leaves out; the rest is copied.");
    const std::vector<std::wstring> lines = report.Lines();
    EXPECT_EQ(lines[0], L"2 of 4 clips cannot be copied as they are into one MP4 file: the join re-encodes.");
    EXPECT_NE(std::find(lines.begin(), lines.end(), L"1. a.mp4: the reference clip."), lines.end());
}

TEST(CompatibilityTest, TheReferenceIsTheClipMostOthersMatchWhenTheFirstIsTheOddOne) {
    const std::vector<std::wstring> paths = {L"/v/odd.mp4", L"/v/b.mp4", L"/v/c.mp4"};
    CompatibilityReport report = CompareClips(paths, {Clip(320), Clip(), Clip()}, L"mp4");
    EXPECT_EQ(report.reference, 1u);
    EXPECT_EQ(report.OddClips(), 1u);
    EXPECT_FALSE(report.clips[0].Copyable());
    EXPECT_TRUE(report.clips[2].differences.empty());
    EXPECT_EQ(report.Lines()[1], L"The reference clip is b.mp4, which most clips match.");
    // Two against two: the first stays the reference; so it does when asked for.
    EXPECT_EQ(CompareClips({L"a", L"b", L"c", L"d"}, {Clip(320), Clip(320), Clip(), Clip()}, L"mp4").reference, 0u);
    EXPECT_EQ(CompareClips(paths, {Clip(320), Clip(), Clip()}, L"mp4", ReferenceRule::First).reference, 0u);
}

TEST(CompatibilityTest, TheSameThingWrittenAnotherWayIsNoDifference) {
    MediaInfo ntsc = Clip(640, "30000/1001"), decimal = Clip(640, "2997/100");
    decimal.video->rotation = 0;
    MediaInfo turned = Clip(640, "30000/1001"), turnedToo = Clip(640, "60000/2002");
    turned.video->rotation = -90;
    turnedToo.video->rotation = 270;
    MediaInfo unordered = Clip(640, "30000/1001");
    unordered.audio->channelLayout = "";  // two channels in no stated order
    unordered.video->fieldOrder = "";     // not stated
    unordered.video->aspect = "0:1";      // unknown: square
    for (const MediaInfo& other : {decimal, unordered}) {
        CompatibilityReport report = CompareClips({L"a", L"b"}, {ntsc, other}, L"mp4");
        EXPECT_TRUE(report.Lossless()) << report.Lines().back();
        EXPECT_TRUE(report.clips[1].differences.empty());
    }
    EXPECT_TRUE(CompareClips({L"a", L"b"}, {turned, turnedToo}, L"mp4").Lossless());
    // A rate close to but not the same as another is told with its fraction.
    CompatibilityReport near = CompareClips({L"a", L"b"}, {ntsc, Clip(640, "2996/100")}, L"mp4");
    ASSERT_FALSE(near.Lossless());
    EXPECT_EQ(near.clips[1].differences[0].clipValue, L"29.96 fps");
    CompatibilityReport close = CompareClips({L"a", L"b"}, {ntsc, Clip(640, "29974/1000")}, L"mp4");
    ASSERT_FALSE(close.Lossless());
    EXPECT_EQ(close.clips[1].differences[0].clipValue, L"29.97 fps (29974/1000)");
    // A level alone stands in no one's way; AAC without its setup (ADTS) does.
    MediaInfo level = Clip();
    level.video->level = "3.1";
    EXPECT_TRUE(CompareClips({L"a", L"b"}, {Clip(), level}, L"mp4").Lossless());
    MediaInfo adts = Clip();
    adts.audio->setup.clear();
    EXPECT_FALSE(CompareClips({L"a", L"b"}, {Clip(), adts}, L"mp4").Lossless());
}

// An x264 avcC record (High, level 1.0, 128x96) at 29.97 fps; the same at 30000/1001 differs
// only in the clock of its display information.
std::vector<std::uint8_t> Avcc(bool ntscClock) {
    std::vector<std::uint8_t> data = {0x01, 0x64, 0x00, 0x0a, 0xff, 0xe1, 0x00, 0x17, 0x67, 0x64, 0x00,
                                      0x0a, 0xac, 0xd9, 0x42, 0x0d, 0xb0, 0x11, 0x00, 0x00, 0x03, 0x00,
                                      0x64, 0x00, 0x00, 0x17, 0x6a, 0x0f, 0x12, 0x25, 0x96, 0x01, 0x00,
                                      0x06, 0x68, 0xeb, 0xe3, 0xcb, 0x22, 0xc0, 0xfd, 0xf8, 0xf8, 0x00};
    if (ntscClock) {
        const std::uint8_t clock[] = {0x00, 0x00, 0x03, 0x03, 0xe9, 0x00, 0x00, 0xea, 0x60};
        std::copy(std::begin(clock), std::end(clock), data.begin() + 18);
    }
    return data;
}

TEST(H264SetupTest, OnlyWhatDecidesTheDecodingCounts) {
    auto hash = [](const std::vector<std::uint8_t>& d) { return H264DecodingSetupHash(d.data(), d.size()); };
    const std::string base = hash(Avcc(false));
    ASSERT_FALSE(base.empty());
    EXPECT_EQ(hash(Avcc(true)), base) << "another clock";
    std::vector<std::uint8_t> level = Avcc(false);
    level[3] = level[11] = 0x1f;
    EXPECT_EQ(hash(level), base) << "another level";
    std::vector<std::uint8_t> picture = Avcc(false);
    picture[36] ^= 0x10;  // the picture parameter set
    EXPECT_NE(hash(picture), base);
    std::vector<std::uint8_t> size = Avcc(false);
    size[14] ^= 0x04;  // in the sequence parameter set, before its display information
    EXPECT_NE(hash(size), base);
    // Not an avcC record, or cut short: nothing, so that the whole data is compared.
    const std::vector<std::uint8_t> whole = Avcc(false);
    const std::vector<std::uint8_t> cut(whole.begin(), whole.begin() + 20);
    EXPECT_EQ(hash(cut), "");
    const std::vector<std::uint8_t> annexB = {0, 0, 0, 1, 0x67, 0x64, 0x00, 0x0a};
    EXPECT_EQ(hash(annexB), "");
}

}  // namespace
}  // namespace quilmer
