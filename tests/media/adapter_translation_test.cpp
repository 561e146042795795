#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "encoder/AdapterCommand.h"
#include "encoder/OutputFilter.h"
#include "media/ProbeParser.h"

namespace quilmer::adapter {
namespace {

std::vector<std::string> Words(const std::string& line) {
    std::vector<std::string> out;
    std::istringstream s(line);
    for (std::string w; s >> w;) out.push_back(w);
    return out;
}

std::string Joined(const std::vector<std::string>& args) {
    std::string out;
    for (const auto& a : args) out += (out.empty() ? "" : " ") + a;
    return out;
}

bool Has(const std::vector<std::string>& args, const std::string& sequence) {
    std::string hay(" "), needle(" ");
    hay += Joined(args);
    hay += ' ';
    needle += sequence;
    needle += ' ';
    return hay.find(needle) != std::string::npos;
}

struct Parsed {
    OldCommand command;
    Kind kind = Kind::Probe;
    std::string error;
    bool ok = false;
};

Parsed ParseLine(const std::string& line) {
    Parsed p;
    p.ok = ParseOldCommand(Words(line), p.command, p.kind, p.error);
    return p;
}

TEST(AdapterCommand, RefusesWhatTheEngineNeverSends) {
    EXPECT_FALSE(ParseLine("-i a -vf scale=1:1 -f mpeg o").ok);
    EXPECT_FALSE(ParseLine("-f mpeg -i a -f matroska o").ok);
    EXPECT_FALSE(ParseLine("-i a -f avi o").ok);  // an encode must read the program stream
    EXPECT_FALSE(ParseLine("-sameq -f mpeg o").ok);
    EXPECT_FALSE(ParseLine("-i a -i b -f mpeg o").ok);
    Parsed missing = ParseLine("-i a -ar");
    EXPECT_FALSE(missing.ok);
    EXPECT_NE(missing.error.find("ar"), std::string::npos);
}

TEST(AdapterCommand, ConversionsMakeUniformIntermediates) {
    Parsed p = ParseLine("-i in.flv -sameq -r 20 -f mpeg -y o.qjv");
    ASSERT_TRUE(p.ok);
    auto args = BuildModernArgs(p.command, p.kind);
    EXPECT_TRUE(Has(args, "-map 0:V:0"));
    EXPECT_TRUE(Has(args, "-map 0:a:0 -af asetpts=PTS-STARTPTS,apad -shortest -fflags +shortest"));
    EXPECT_TRUE(Has(args, "-c:v mpeg2video -q:v 2 -r 20"));
    EXPECT_TRUE(Has(args, "-ar 44100 -ac 2 -f mpeg"));
    EXPECT_EQ(args.back(), "o.qjv");
    EXPECT_TRUE(Has(args, "-y"));

    ConvertVariant silent;
    silent.silentAudio = true;
    silent.durationSeconds = 3.5;
    args = BuildModernArgs(p.command, p.kind, silent);
    EXPECT_TRUE(Has(args, "-filter_complex anullsrc=r=44100:cl=stereo,atrim=duration=3.500000[a]"));
    EXPECT_TRUE(Has(args, "-map [a] -shortest"));

    ConvertVariant black;
    black.blackVideo = true;  // length unknown: the made-up picture ends with the sound
    args = BuildModernArgs(p.command, p.kind, black);
    EXPECT_TRUE(Has(args, "-map [v]"));
    EXPECT_TRUE(Has(args, "-map 0:a:0 -shortest"));
    EXPECT_FALSE(Has(args, "apad")) << "a made-up picture and padded sound would never end";
    EXPECT_FALSE(Has(args, "-vf scale=trunc(iw/2)*2:trunc(ih/2)*2"));
}

// With the clip's layout known (picture from 2.0 s to 6.0 s, sound from 0 to 8.0 s), the
// intermediate lasts 8 s: black for the first 2 s, no sound cut, nothing cut at the end.
TEST(AdapterCommand, AConversionWithTheClipsLayoutKeepsEverySecond) {
    Parsed p = ParseLine("-i in.flv -sameq -f mpeg -y o.qjv");
    ASSERT_TRUE(p.ok);
    ConvertVariant v;
    ClipLayout layout;
    layout.videoStart = 2.0;
    layout.videoEnd = 6.0;
    layout.audioStart = 0.0;
    layout.audioEnd = 8.0;
    layout.width = 320;
    layout.height = 240;
    v.layout = layout;
    auto args = BuildModernArgs(p.command, p.kind, v);
    EXPECT_TRUE(Has(args, "-reinit_filter:v 0 -i in.flv"));
    EXPECT_NE(Joined(args).find("setpts=PTS-STARTPTS,tpad=start_duration=2.000000:stop_mode=clone:stop=-1,trim=end=8.000000"), std::string::npos);
    EXPECT_NE(Joined(args).find("pad=320:240:(ow-iw)/2:(oh-ih)/2:eval=frame"), std::string::npos);
    EXPECT_TRUE(Has(args, "-map 0:a:0 -af asetpts=PTS-0.000000/TB,apad,atrim=start=0:end=8.000000"));
    EXPECT_FALSE(Has(args, "-shortest"));

    v.silentAudio = true;
    args = BuildModernArgs(p.command, p.kind, v);
    EXPECT_NE(Joined(args).find("anullsrc=r=44100:cl=stereo,atrim=duration=8.000000[a]"), std::string::npos);
}

TEST(AdapterCommand, FinalEncodesUseRatesAndSizesTheCodecsAccept) {
    auto build = [](const std::string& line) {
        Parsed p = ParseLine(line);
        EXPECT_TRUE(p.ok) << p.error;
        return BuildModernArgs(p.command, p.kind);
    };
    auto rm = build("-f mpeg -i c -sameq -ar 11025 -f rm -y o.rm");
    EXPECT_TRUE(Has(rm, "-ar 32000"));  // AC-3 has nothing below 32 kHz
    EXPECT_TRUE(Has(rm, "-vf scale=trunc((iw+8)/16)*16:trunc((ih+8)/16)*16 -c:v rv10 -c:a ac3"));
    auto avi =
        build("-f mpeg -i c -acodec libmp3lame -vcodec msmpeg4 -ab 96k -b 512k -ar 96000 -sameq -f avi -y o");
    EXPECT_TRUE(Has(avi, "-ar 48000"));
    EXPECT_TRUE(Has(avi, "-b:a 96k"));
    EXPECT_TRUE(Has(avi, "-q:v 2"));
    auto wmv = build("-f mpeg -i c -sameq -ar 11025 -vcodec wmv2 -acodec wmav2 -y o.flv");
    EXPECT_TRUE(Has(wmv, "-f asf o.flv"));
    auto p1 =
        build("-f mpeg -i c -an -pass 1 -vcodec libx264 -fpre /p/one -b 5k -bt 5k -threads 0 -f mp4 -y o");
    auto p2 = build(
        "-f mpeg -i c -acodec libfaac -ab 9k -pass 2 -vcodec libx264 -fpre /p/two -b 5k -bt 5k -threads 0 -f "
        "mp4 -y o");
    EXPECT_TRUE(Has(p1, "-pass 1 -c:v libx264 -fpre /p/one -b:v 5k -bt 5k -threads 0"));
    EXPECT_TRUE(Has(p2, "-c:a aac -b:a 9k -pass 2"));
    // Both passes see the same streams, so x264's second pass gets the first pass's frames.
    EXPECT_TRUE(Has(p1, "-c:a aac"));
    EXPECT_EQ(NearestSampleRate(22050, {11025, 22050, 44100}), 22050);
    EXPECT_EQ(NearestSampleRate(96000, {11025, 22050, 44100}), 44100);
}

TEST(AdapterCommand, ProbeReportTellsWhatAConversionMakesUp) {
    auto v = VariantFromProbeReport(
        "Input #0, asf, from 'input':\n  Duration: 00:00:03.50, start: 0.0, bitrate: 9 kb/s\n"
        "  Stream #0:0: Audio: wmav2, 44100 Hz, stereo, fltp, 64 kb/s\n"
        "  Stream #0:1: Video: mjpeg, yuvj420p, 200x200, 90k tbr, 90k tbn (attached pic)\n");
    ASSERT_TRUE(v);
    EXPECT_TRUE(v->blackVideo) << "a cover picture is not a picture stream";
    EXPECT_FALSE(v->silentAudio);
    EXPECT_EQ(v->durationSeconds, 3.5);
    v = VariantFromProbeReport(
        "Input #0, avi, from 'input':\n  Duration: N/A, start: 0\n  Stream #0:0: Video: mpeg4, yuv420p, "
        "1x1\n");
    ASSERT_TRUE(v);
    EXPECT_FALSE(v->blackVideo);
    EXPECT_TRUE(v->silentAudio);
    EXPECT_FALSE(v->durationSeconds);
    EXPECT_FALSE(VariantFromProbeReport("x: No such file or directory\n"));
}

TEST(OutputFilter, StreamLinesLoseCommasInParentheses) {
    EXPECT_EQ(NormalizeStreamLine(
                  "  Stream #0:0[0x1](und): Video: h264 (High) (avc1 / 0x31637661), "
                  "yuv420p(tv, bt709, progressive), 1280x720 [SAR 1:1 DAR 16:9], 2 kb/s, 29.97 fps, "
                  "29.97 tbr, 30k tbn (default)"),
              "  Stream #0:0[0x1](und): Video: h264, yuv420p, 1280x720 [SAR 1:1 DAR 16:9], 2 kb/s, 29.97 "
              "fps, 29.97 "
              "tbr, 30k tbn (default)");
    EXPECT_EQ(NormalizeStreamLine(
                  "  Stream #0:1: Audio: aac (LC) (mp4a / 0x6134706D), 48000 Hz, 5.1(side), fltp, 9 kb/s"),
              "  Stream #0:1: Audio: aac, 48000 Hz, 5.1(side), fltp, 9 kb/s");
    EXPECT_EQ(NormalizeStreamLine("frame= 1 time=1"), "frame= 1 time=1");
}

TEST(OutputFilter, ModernReportsParseRight) {
    for (const char* name : {"raw-mov-rotated-h264-aac.txt", "raw-mp4-h264-aac.txt"}) {
        std::ifstream in(std::string(QUILMER_MEDIA_TEST_DATA) + "/" + name, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        const std::string report = NormalizeProbeReport(s.str());
        EXPECT_EQ(report.find("Metadata"), std::string::npos);
        EXPECT_EQ(report.find("media-samples"), std::string::npos) << "file names are hidden";
        quilmer::ClipProperties p;
        ASSERT_TRUE(quilmer::ParseProbeOutput(p, report));
        EXPECT_EQ(p.format, L"mp4") << name;
        EXPECT_EQ(p.videoCodec, L"h264");
        EXPECT_EQ(p.audioCodec, L"aac");
        if (std::string(name).find("rotated") != std::string::npos) {
            EXPECT_EQ(p.resolution, L"480x640 pixels") << "stored turned, shown upright";
            EXPECT_EQ(p.frameRate, L"24.04 fps");
            EXPECT_EQ(p.duration, L"00:00:01.02");
        } else {
            EXPECT_EQ(p.resolution, L"560x320 pixels");
            EXPECT_EQ(p.frameRate, L"30 fps");
            EXPECT_EQ(p.bitrate, L"551 kb/s");
        }
        EXPECT_FALSE(p.sampleRate.empty());
        EXPECT_FALSE(p.audioBitrate.empty());
    }
}

TEST(OutputFilter, AudioStreamsComeAfterVideoSoTheirBitRateIsTheirOwn) {
    const std::string report = NormalizeProbeReport(
        "Input #0, asf, from '/x/60fps from y.wmv':\n"
        "  Duration: 00:00:04.00, start: 0.000000, bitrate: 300 kb/s\n"
        "  Stream #0:0: Audio: wmav2, 44100 Hz, stereo, fltp\n"
        "  Stream #0:1: Video: wmv2, yuv420p, 320x240, 250 kb/s, 25 fps, 25 tbr, 1k tbn\n");
    quilmer::ClipProperties p;
    ASSERT_TRUE(quilmer::ParseProbeOutput(p, report));
    EXPECT_EQ(p.audioBitrate, L"");
    EXPECT_EQ(p.sampleRate, L"44100 Hz");
    EXPECT_EQ(p.frameRate, L"25 fps");  // not the "60" of the file name
    EXPECT_EQ(p.format, L"wmv");
}

TEST(OutputFilter, RunOutputPassesDurationOnceAndTimeInSeconds) {
    RunOutputFilter f;
    std::string out = f.Feed("Input #0, flv, from '/a/b.flv':\n  Metadata:\n    title: Duration: 9\n");
    out += f.Feed("  Duration: 00:01:02.50, start: 0.0, bitrate: 5 kb/s\nInput #1, lavfi, from 'x':\n");
    EXPECT_EQ(out, "") << "held until the run really starts";
    out += f.Feed("  Duration: N/A, start: 0.0\nOutput #0, mpeg, to '/o.qjv':\n");
    out += f.Feed("frame=  5 fps=0.0 time=00:01:01.04 bitrate=1\rframe=  6 fps=0.0 time=N/A bitr");
    out += f.Finish();
    EXPECT_EQ(out,
              "Input #0, flv, from 'input':\n  Duration: 00:01:02.50, start: 0.0, bitrate: 5 kb/s\n"
              "Input #1, lavfi, from 'input':\nOutput #0, mpeg, to 'output':\n"
              "frame=  5 fps=0.0 time=61.04 bitrate=1\rframe=  6 fps=0.0 time=N/A bitr\n");
    ASSERT_TRUE(f.InputDuration());
    EXPECT_DOUBLE_EQ(*f.InputDuration(), 62.5);
}

TEST(OutputFilter, DiscardedAttemptLeavesNoTrace) {
    RunOutputFilter f;
    EXPECT_EQ(f.Feed("  Duration: 00:00:03.00, start: 0.0\nStream map '0:a:0' matches no streams.\n"), "");
    EXPECT_NE(f.Raw().find("matches no streams"), std::string::npos);
    f.Discard();
    std::string out = f.Feed("  Duration: 00:00:03.00, start: 0.0\nStream mapping:\n") + f.Finish();
    EXPECT_EQ(out, "  Duration: 00:00:03.00, start: 0.0\nStream mapping:\n");
    EXPECT_EQ(ParseClock("-00:00:01.50"), -1.5);
    EXPECT_EQ(ParseClock("N/A"), std::nullopt);
}

}  // namespace
}  // namespace quilmer::adapter
