#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "media/ProbeParser.h"

namespace quilmer {
namespace {

std::string ReadData(const std::string& name) {
    std::ifstream in(std::string(QUILMER_MEDIA_TEST_DATA) + "/" + name, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

ClipProperties Parse(const std::string& report) {
    ClipProperties p;
    EXPECT_TRUE(ParseProbeOutput(p, report));
    return p;
}

TEST(ProbeParser, OldStyleFlvWithH264AndAacIsF4v) {
    ClipProperties p = Parse(
        "Input #0, flv, from 'a.flv':\n"
        "  Duration: 00:03:25.45, start: 0.000000, bitrate: 512 kb/s\n"
        "    Stream #0.0: Video: h264, yuv420p, 640x360, 25 fps, 25 tbr, 1k tbn\n"
        "    Stream #0.1: Audio: aac, 44100 Hz, stereo, s16, 96 kb/s\n");
    EXPECT_EQ(p.format, L"f4v");
    EXPECT_EQ(p.resolution, L"640x360 pixels");
    EXPECT_EQ(p.frameRate, L"25 fps");
    EXPECT_EQ(p.duration, L"00:03:25.45");
    EXPECT_EQ(p.bitrate, L"512 kb/s");
    EXPECT_EQ(p.videoCodec, L"h264");
    EXPECT_EQ(p.audioCodec, L"aac");
    EXPECT_EQ(p.sampleRate, L"44100 Hz");
    EXPECT_EQ(p.audioBitrate, L"96 kb/s");
}

TEST(ProbeParser, ContainerWords) {
    struct Case {
        const char* names;
        const wchar_t* word;
    } cases[] = {
        {"mov,mp4,m4a,3gp,3g2,mj2", L"mp4"}, {"rm", L"rmvb"}, {"asf", L"wmv"}, {"mpeg", L""}, {"avi", L"avi"},
        {"matroska,webm", L"matroska"},      {"mp3", L"mp3"}};
    for (const Case& c : cases) {
        ClipProperties p = Parse(std::string("Input #0, ") + c.names + ", from 'x':\n");
        EXPECT_EQ(p.format, c.word) << c.names;
    }
    ClipProperties webm = Parse(
        "Input #0, matroska,webm, from 'x':\n  Stream #0:0: Video: vp8, yuv420p, 320x240, 30 fps\n"
        "  Stream #0:1: Audio: vorbis, 48000 Hz, stereo, fltp\n");
    EXPECT_EQ(webm.format, L"WebM");
}

TEST(ProbeParser, CodecWithProfileStaysAsPrintedAndKeepsFlv) {
    ClipProperties p = Parse(
        "Input #0, flv, from 'x':\n  Stream #0:0: Video: h264 (High), yuv420p, 320x240, 25 fps\n"
        "  Stream #0:1: Audio: aac, 44100 Hz, stereo, fltp, 96 kb/s\n");
    EXPECT_EQ(p.videoCodec, L"h264 (High)");
    EXPECT_EQ(p.format, L"flv");
}

TEST(ProbeParser, FrameRateKeepsItsFraction) {
    EXPECT_EQ(Parse("Video: h264, yuv420p, 320x240, 29.97 fps, 29.97 tbr").frameRate, L"29.97 fps");
    EXPECT_EQ(Parse("Video: h264, yuv420p, 320x240, 25.00 fps").frameRate, L"25.00 fps");
    // Only tbr reported: the tbr value stands in.
    EXPECT_EQ(Parse("Video: wmv3, yuv420p, 320x240, 134 kb/s, 15 tbr, 1k tbn").frameRate, L"15 fps");
    // An "fps" without digits before it ends the search with an empty field.
    EXPECT_EQ(Parse("Video: h264, yuv420p, 320x240, fps 25 tbr").frameRate, L"");
}

TEST(ProbeParser, UnavailableDurationAndBitrateStayEmpty) {
    ClipProperties p = Parse("Input #0, flv, from 'x':\n  Duration: N/A, start: 0.000000, bitrate: N/A\n");
    EXPECT_EQ(p.bitrate, L"");
    EXPECT_EQ(p.duration, L"N/A");
}

TEST(ProbeParser, InvalidInputTouchesNothing) {
    ClipProperties p;
    p.path = L"/x";
    EXPECT_FALSE(
        ParseProbeOutput(p, "Input #0, flv, from 'x':\n/x: Invalid data found when processing input\n"));
    ClipProperties expected;
    expected.path = L"/x";
    EXPECT_EQ(p, expected);
}

TEST(ProbeParser, FieldsAlreadySetAreKept) {
    ClipProperties p;
    p.format = L"avi";
    p.frameRate = L"12 fps";
    EXPECT_TRUE(
        ParseProbeOutput(p, "Input #0, flv, from 'x':\n  Stream #0:0: Video: flv1, yuv420p, 1x2, 25 fps\n"));
    EXPECT_EQ(p.format, L"avi");
    EXPECT_EQ(p.frameRate, L"12 fps");
    EXPECT_EQ(p.resolution, L"1x2 pixels");
}

TEST(ProbeParser, TextAfterZeroByteIsNotSeen) {
    std::string report = "Input #0, avi, from 'x':\n";
    report += '\0';
    report += "  Duration: 00:00:04.00, start: 0.0, bitrate: 10 kb/s\n";
    ClipProperties p = Parse(report);
    EXPECT_EQ(p.format, L"avi");
    EXPECT_EQ(p.duration, L"");
}

// Reports captured from the adapter on real clips.
TEST(ProbeParser, CapturedAdapterReports) {
    ClipProperties flv = Parse(ReadData("probe-flv-vp6f-mp3.txt"));
    EXPECT_EQ(flv.format, L"flv");
    EXPECT_EQ(flv.videoCodec, L"vp6f");
    EXPECT_EQ(flv.resolution, L"352x288 pixels");
    EXPECT_EQ(flv.frameRate, L"10.53 fps");
    EXPECT_EQ(flv.audioCodec, L"mp3");
    EXPECT_EQ(flv.sampleRate, L"44100 Hz");
    EXPECT_EQ(flv.audioBitrate, L"65 kb/s");
    EXPECT_EQ(flv.bitrate, L"432 kb/s");

    ClipProperties f4v = Parse(ReadData("probe-f4v-h264-aac.txt"));
    EXPECT_EQ(f4v.format, L"f4v");
    EXPECT_EQ(f4v.frameRate, L"25 fps");

    ClipProperties wmv = Parse(ReadData("probe-wmv-wmv3-tbr-only.txt"));
    EXPECT_EQ(wmv.format, L"wmv");
    EXPECT_EQ(wmv.frameRate, L"15 fps");
    EXPECT_EQ(wmv.resolution, L"320x240 pixels");
    EXPECT_EQ(wmv.duration, L"00:01:35.47");
    EXPECT_EQ(wmv.sampleRate, L"16000 Hz");

    ClipProperties rm = Parse(ReadData("probe-rm-audio-only.txt"));
    EXPECT_EQ(rm.format, L"rmvb");
    EXPECT_EQ(rm.resolution, L"");
    EXPECT_EQ(rm.audioCodec, L"cook");

    ClipProperties gp = Parse(ReadData("probe-3gp-h263-amrnb.txt"));
    EXPECT_EQ(gp.format, L"mp4");
    EXPECT_EQ(gp.resolution, L"176x144 pixels");
    EXPECT_EQ(gp.audioCodec, L"amr_nb");
    EXPECT_EQ(gp.sampleRate, L"8000 Hz");
    EXPECT_EQ(gp.audioBitrate, L"12 kb/s");
}

TEST(ProbeParser, InvalidUtf8DoesNotHideTheReport) {
    ClipProperties p =
        Parse("Input #0, avi, from '\xff\xfe':\n  Duration: 00:00:04.00, start: 0.0, bitrate: 10 kb/s\n");
    EXPECT_EQ(p.format, L"avi");
    EXPECT_EQ(p.duration, L"00:00:04.00");
}

}  // namespace
}  // namespace quilmer
