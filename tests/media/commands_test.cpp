#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "encoder/AdapterCommand.h"
#include "foundation/Utf8.h"
#include "media/EncoderCommands.h"
#include "media/TargetFormat.h"
#include "media/WindowsCommandLine.h"
#include "tests/support/ScratchFolder.h"

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

// What the real encoder is asked to do for one of the engine's command lines: the line is split
// as the runner splits it, read by the adapter's parser and translated as the adapter does.
struct RealRun {
    bool parsed = false;
    std::string error;
    adapter::Kind kind = adapter::Kind::Probe;
    std::wstring program;
    std::vector<std::string> args;  // the real encoder's arguments

    // The value after the last occurrence of an option, or "" when it is absent.
    std::string Option(const std::string& name) const {
        std::string value;
        for (std::size_t i = 0; i + 1 < args.size(); ++i)
            if (args[i] == name) value = args[i + 1];
        return value;
    }
    bool Has(const std::string& name) const { return std::find(args.begin(), args.end(), name) != args.end(); }
    std::string Output() const { return args.empty() ? "" : args.back(); }
};

RealRun Translate(const std::wstring& commandLine) {
    RealRun run;
    Args words = SplitWindowsCommandLine(commandLine);
    if (words.empty()) return run;
    run.program = words[0];
    std::vector<std::string> engineArgs;
    for (std::size_t i = 1; i < words.size(); ++i) engineArgs.push_back(ToUtf8(words[i]));
    adapter::OldCommand command;
    run.parsed = adapter::ParseOldCommand(engineArgs, command, run.kind, run.error);
    if (run.parsed) run.args = adapter::BuildModernArgs(command, run.kind);
    return run;
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

    // A clip at 25 fps keeps its rate; names with blanks, quotes and non-ASCII letters arrive whole.
    const std::wstring clip = L"/c/it's \"a b\" \u00fc.flv", intermediate = L"/o d/a b.qjv";
    RealRun fast = Translate(ConversionCommandLine(L"/p d/ffmpeg", clip, intermediate, 25.0));
    ASSERT_TRUE(fast.parsed) << fast.error;
    EXPECT_EQ(fast.program, L"/p d/ffmpeg");
    EXPECT_EQ(fast.kind, adapter::Kind::Convert);
    EXPECT_EQ(fast.Option("-i"), ToUtf8(clip));
    EXPECT_EQ(fast.Output(), ToUtf8(intermediate));
    EXPECT_EQ(fast.Option("-f"), "mpeg");  // a program stream, so that intermediates append
    EXPECT_TRUE(fast.Has("-y"));
    EXPECT_FALSE(fast.Has("-r")) << "a rate the intermediate can code is kept";

    // Below 20 fps, and when the rate is unknown, the intermediate is made at 20.
    for (double fps : {19.99, 12.5, 0.0}) {
        RealRun slow = Translate(ConversionCommandLine(L"/p/ffmpeg", L"/c/a.flv", L"/o/a.qjv", fps));
        ASSERT_TRUE(slow.parsed) << slow.error;
        EXPECT_EQ(slow.Option("-r"), "20") << fps;
        EXPECT_EQ(slow.Output(), "/o/a.qjv");
    }
}

TEST(EncoderCommands, FinalEncodesAskTheEncoderForTheTargetFormat) {
    FinalEncodeInputs in{L"/p/ffmpeg",       L"/o d/a_all.qjv",  L"/o d/x \"1\".out",
                         L"/p/one.ffpreset", L"/p/two.ffpreset", FinalEncodeParams{96, 512, 44100}};
    struct Expected {
        JoinPhase phase;
        adapter::Kind kind;
        const char *container, *video, *audio, *sampleRate, *audioBitrate, *pass, *preset;
    } cases[] = {
        // AVI keeps the first clip's sample rate and audio bit rate.
        {JoinPhase::EncodingAvi, adapter::Kind::EncodeAvi, "avi", "msmpeg4", "libmp3lame", "44100", "96k", "", ""},
        // FLV, RMVB and WMV take the rate one step down (44.1 kHz -> 22.05 kHz), AC-3 at least 32 kHz.
        {JoinPhase::EncodingFlv, adapter::Kind::EncodeFlv, "flv", "flv", "libmp3lame", "22050", "", "", ""},
        {JoinPhase::EncodingRmvb, adapter::Kind::EncodeRm, "rm", "rv10", "ac3", "32000", "", "", ""},
        {JoinPhase::EncodingWmv, adapter::Kind::EncodeWmv, "asf", "wmv2", "wmav2", "22050", "", "", ""},
        {JoinPhase::EncodingMp4Pass1, adapter::Kind::EncodeMp4Pass1, "mp4", "libx264", "aac", "", "", "1",
         "/p/one.ffpreset"},
        {JoinPhase::EncodingMp4Pass2, adapter::Kind::EncodeMp4Pass2, "mp4", "libx264", "aac", "", "96k", "2",
         "/p/two.ffpreset"},
    };
    for (const Expected& e : cases) {
        SCOPED_TRACE(static_cast<int>(e.phase));
        RealRun run = Translate(FinalEncodeCommandLine(e.phase, in));
        ASSERT_TRUE(run.parsed) << run.error;
        EXPECT_EQ(run.program, L"/p/ffmpeg");
        EXPECT_EQ(run.kind, e.kind);
        // The joined intermediates are read as a program stream, and the output is the user's file.
        const auto input = std::find(run.args.begin(), run.args.end(), "-i");
        ASSERT_NE(input, run.args.end());
        EXPECT_EQ(*(input - 1), "mpeg");
        EXPECT_EQ(*(input + 1), "/o d/a_all.qjv");
        EXPECT_EQ(run.Output(), "/o d/x \"1\".out");
        EXPECT_TRUE(run.Has("-y"));
        EXPECT_EQ(run.Option("-f"), e.container);
        EXPECT_EQ(run.Option("-c:v"), e.video);
        EXPECT_EQ(run.Option("-c:a"), e.audio);
        EXPECT_EQ(run.Option("-ar"), e.sampleRate);
        EXPECT_EQ(run.Option("-b:a"), e.audioBitrate);
        EXPECT_EQ(run.Option("-pass"), e.pass);
        EXPECT_EQ(run.Option("-fpre"), e.preset);
        if (e.kind == adapter::Kind::EncodeMp4Pass1 || e.kind == adapter::Kind::EncodeMp4Pass2 ||
            e.kind == adapter::Kind::EncodeAvi) {
            EXPECT_EQ(run.Option("-b:v"), "512k") << "the first clip's bit rate";
        }
    }
    EXPECT_EQ(FinalEncodeCommandLine(JoinPhase::Converting, in), L"");

    EXPECT_EQ(FirstEncodePhase(L"mp4"), JoinPhase::EncodingMp4Pass1);
    EXPECT_EQ(FirstEncodePhase(L"rmvb"), JoinPhase::EncodingRmvb);
    EXPECT_EQ(FirstEncodePhase(L"mkv"), std::nullopt);
}

TEST(EncoderCommands, Mp4WorkingFolderIsNewAndNextToTheOutput) {
    namespace fs = std::filesystem;
    quilmer::test::ScratchFolder scratch("quilmer-media-unit");
    const fs::path base = scratch.Path();
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
}

}  // namespace
}  // namespace quilmer
