#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "media/EncoderCommands.h"
#include "media/TargetFormat.h"
#include "media/WindowsCommandLine.h"

namespace quilmer {
namespace {

using Args = std::vector<std::wstring>;

TEST(WindowsCommandLine, SplitsByTheCRuntimeRules) {
    EXPECT_EQ(SplitWindowsCommandLine(L"\"C:\\a b\\ffmpeg.exe\" -i \"x y.flv\" -f  mpeg"),
              (Args{L"C:\\a b\\ffmpeg.exe", L"-i", L"x y.flv", L"-f", L"mpeg"}));
    // Backslashes are literal unless they precede a quote.
    EXPECT_EQ(SplitWindowsCommandLine(L"p a\\\\b \"c\\\\\" d\\\"e \"f\"\"g\" \"\""),
              (Args{L"p", L"a\\\\b", L"c\\", L"d\"e", L"f\"g", L""}));
    // The program name takes no escapes and may end in a backslash.
    EXPECT_EQ(SplitWindowsCommandLine(L"  \"dir\\\" x"), (Args{L"dir\\", L"x"}));
    EXPECT_TRUE(SplitWindowsCommandLine(L"   ").empty());
}

TEST(WindowsCommandLine, QuotingRoundTripsAnyArgument) {
    const Args awkward = {L"plain", L"with space", L"quote\"inside", L"trail\\",    L"trail two\\\\",
                          L"\\\"",  L"",           L"tab\there",     L"/ü/名前.flv"};
    std::wstring line = L"\"/prog dir/ffmpeg\"";
    for (const auto& a : awkward) line += L" " + QuoteWindowsArgument(a);
    Args expected = {L"/prog dir/ffmpeg"};
    expected.insert(expected.end(), awkward.begin(), awkward.end());
    EXPECT_EQ(SplitWindowsCommandLine(line), expected);
    EXPECT_EQ(SplitWindowsCommandLine(JoinWindowsCommandLine(expected)), expected);
    EXPECT_EQ(QuoteWindowsArgument(L"/v/a b.flv"), L"\"/v/a b.flv\"");
}

TEST(TargetFormat, ExtensionGroups) {
    EXPECT_EQ(TargetFormatForPath(L"/o/x.MOV"), L"mp4");
    EXPECT_EQ(TargetFormatForPath(L"/o/x.rm"), L"rmvb");
    EXPECT_EQ(TargetFormatForPath(L"/o/x.RmVb"), L"rmvb");
    EXPECT_EQ(TargetFormatForPath(L"/o/x.asf"), L"wmv");
    EXPECT_EQ(TargetFormatForPath(L"/o/x.wma"), L"wmv");
    EXPECT_EQ(TargetFormatForPath(L"/o/x.f4v"), L"flv");
    EXPECT_EQ(TargetFormatForPath(L"/o/x.avi"), L"avi");
    EXPECT_EQ(TargetFormatForPath(L"/o/x.mkv"), L"");
    EXPECT_EQ(TargetFormatForPath(L"/o/flv"), L"");
}

TEST(TargetFormat, SaveDialogPutsTheFirstClipsTypeFirst) {
    auto patterns = [](const std::wstring& clip) {
        std::wstring out;
        for (const auto& f : SaveDialogFilters(clip)) out += f.pattern + L" ";
        return out;
    };
    EXPECT_EQ(patterns(L"a.3gp"), L"*.mp4 *.flv *.avi *.wmv *.rmvb *.* ");
    EXPECT_EQ(patterns(L"a.rm"), L"*.rmvb *.wmv *.avi *.flv *.mp4 *.* ");
    EXPECT_EQ(patterns(L"a.mkv"), patterns(L"a.flv"));
    EXPECT_EQ(SaveDialogFilters(L"a.rm")[0].description, L"Rmvb Files (*.rmvb)");
}

TEST(TargetFormat, SampleRateRule) {
    EXPECT_EQ(MapSampleRate(48000), 44100);
    EXPECT_EQ(MapSampleRate(44100), 22050);
    EXPECT_EQ(MapSampleRate(32000), 22050);
    EXPECT_EQ(MapSampleRate(22050), 11025);
    EXPECT_EQ(MapSampleRate(8000), 11025);
}

TEST(EncoderCommands, ParamsFromTheFirstClipsProbe) {
    ClipProperties p;
    p.audioBitrate = L"96 kb/s";
    p.bitrate = L" 512 kb/s";
    p.sampleRate = L"48000 Hz";
    FinalEncodeParams f = FinalEncodeParamsFromProbe(p);
    EXPECT_EQ(f.audioKbps, 96);
    EXPECT_EQ(f.videoKbps, 512);
    EXPECT_EQ(f.sampleRateHz, 48000);
    // Missing or unreadable fields give the defaults.
    ClipProperties bad;
    bad.bitrate = L"12.5 kb/s";
    bad.sampleRate = L"44100";
    f = FinalEncodeParamsFromProbe(bad);
    EXPECT_EQ(f.audioKbps, 128);
    EXPECT_EQ(f.videoKbps, 264);
    EXPECT_EQ(f.sampleRateHz, 22050);
}

TEST(EncoderCommands, ConversionUsesRate20BelowTwentyFps) {
    auto rate = [](const wchar_t* text) {
        ClipProperties p;
        p.frameRate = text;
        return FrameRateFromProbe(p);
    };
    EXPECT_DOUBLE_EQ(rate(L"29.97 fps"), 29.97);
    EXPECT_DOUBLE_EQ(rate(L"25.00 fps"), 25.0);
    EXPECT_DOUBLE_EQ(rate(L""), 0);
    EXPECT_DOUBLE_EQ(rate(L"abc fps"), 0);

    const std::wstring fast = ConversionCommandLine(L"/p/ffmpeg", L"/c/a b.flv", L"/o/a b.qjv", 25.0);
    EXPECT_EQ(fast, L"\"/p/ffmpeg\" -i \"/c/a b.flv\" -sameq -f mpeg -y \"/o/a b.qjv\"");
    EXPECT_EQ(ConversionCommandLine(L"/p/ffmpeg", L"/c/a.flv", L"/o/a.qjv", 19.99),
              L"\"/p/ffmpeg\" -i \"/c/a.flv\" -sameq -r 20 -f mpeg -y \"/o/a.qjv\"");
    EXPECT_NE(ConversionCommandLine(L"e", L"c", L"o", 0).find(L"-r 20"), std::wstring::npos);
}

TEST(EncoderCommands, FinalEncodesFillTheirTemplates) {
    FinalEncodeInputs in{L"/p/ffmpeg",       L"/o d/a_all.qjv",  L"/o d/x.out",
                         L"/p/one.ffpreset", L"/p/two.ffpreset", FinalEncodeParams{96, 512, 44100}};
    const std::wstring head = L"\"/p/ffmpeg\" -f mpeg -i \"/o d/a_all.qjv\"";
    EXPECT_EQ(
        FinalEncodeCommandLine(JoinPhase::EncodingAvi, in),
        head +
            L" -acodec libmp3lame -vcodec msmpeg4 -ab 96k -b 512k -ar 44100 -sameq -f avi -y \"/o d/x.out\"");
    EXPECT_EQ(FinalEncodeCommandLine(JoinPhase::EncodingFlv, in),
              head + L" -sameq -ar 22050 -f flv -y \"/o d/x.out\"");
    EXPECT_EQ(FinalEncodeCommandLine(JoinPhase::EncodingRmvb, in),
              head + L" -sameq -ar 22050 -f rm -y \"/o d/x.out\"");
    EXPECT_EQ(FinalEncodeCommandLine(JoinPhase::EncodingWmv, in),
              head + L" -sameq -ar 22050 -vcodec wmv2 -acodec wmav2 -y \"/o d/x.out\"");
    EXPECT_EQ(
        FinalEncodeCommandLine(JoinPhase::EncodingMp4Pass1, in),
        head +
            L" -an -pass 1 -vcodec libx264 -fpre \"/p/one.ffpreset\" -b 512k -bt 512k -threads 0 -f mp4 -y "
            L"\"/o d/x.out\"");
    EXPECT_EQ(
        FinalEncodeCommandLine(JoinPhase::EncodingMp4Pass2, in),
        head +
            L" -acodec libfaac -ab 96k -pass 2 -vcodec libx264 -fpre \"/p/two.ffpreset\" -b 512k -bt 512k "
            L"-threads 0 -f mp4 -y \"/o d/x.out\"");
    EXPECT_EQ(FinalEncodeCommandLine(JoinPhase::Converting, in), L"");

    EXPECT_EQ(FirstEncodePhase(L"mp4"), JoinPhase::EncodingMp4Pass1);
    EXPECT_EQ(FirstEncodePhase(L"rmvb"), JoinPhase::EncodingRmvb);
    EXPECT_EQ(FirstEncodePhase(L"mkv"), std::nullopt);
}

TEST(EncoderCommands, Mp4WorkingFolderIsNewAndNextToTheOutput) {
    namespace fs = std::filesystem;
    const fs::path base = fs::temp_directory_path() / ("quilmer-media-unit-" + std::to_string(getpid()));
    fs::create_directories(base / "out dir");
    const std::wstring output = (base / "out dir" / "x.mp4").wstring();
    const std::wstring a = MakeMp4WorkingFolder(output);
    const std::wstring b = MakeMp4WorkingFolder(output);
    ASSERT_FALSE(a.empty());
    EXPECT_NE(a, b);
    EXPECT_EQ(a.back(), L'/');
    EXPECT_TRUE(fs::is_directory(a));
    EXPECT_EQ(fs::path(a.substr(0, a.size() - 1)).parent_path(), base / "out dir");
    EXPECT_EQ(MakeMp4WorkingFolder((base / "missing" / "x.mp4").wstring()), L"");
    fs::remove_all(base);
}

}  // namespace
}  // namespace quilmer
