// Media helpers with names and output that used to abort or mislead them: paths of any bytes
// (std::filesystem converts wide strings through the "C" locale and throws on anything that is
// not ASCII), encoder reports that make Boost's regex give up, and positions past the end.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "media/ClipProbe.h"
#include "media/EncoderCommands.h"
#include "media/ProbeParser.h"
#include "media/Progress.h"
#include "tests/support/ScratchFolder.h"

namespace quilmer {
namespace {

const std::string kOddNames[] = {"Vid\xC3\xA9os \xE8\xA7\x86\xE9\xA2\x91", "bad\xFF\xFE name", "\xE9t\xE9"};

TEST(OddPaths, WorkingFolderAndClipCopyAreMadeBesideNamesOfAnyBytes) {
    test::ScratchFolder dir("odd-paths");
    for (const std::string& name : kOddNames) {
        SCOPED_TRACE(name);
        std::filesystem::create_directory(dir.Native(name));
        const std::wstring folder = WidePath(dir.Native(name));

        std::wstring working = MakeMp4WorkingFolder(folder + L"/out \u00e9.mp4");
        ASSERT_FALSE(working.empty());
        EXPECT_EQ(working.substr(0, folder.size() + 1), folder + L"/");
        EXPECT_TRUE(std::filesystem::is_directory(NativePath(working)));
        std::filesystem::remove(NativePath(working));

        const std::string clip = dir.Native(name + "/" + name + ".flv");
        std::ofstream(clip) << "clip bytes";
        std::wstring copy = MakeTemporaryCopy(WidePath(clip));
        ASSERT_FALSE(copy.empty());
        EXPECT_EQ(copy.substr(0, folder.size() + 1), folder + L"/");
        EXPECT_EQ(copy.substr(copy.size() - 4), L".flv");
        std::ifstream in(NativePath(copy));
        std::string content;
        std::getline(in, content);
        EXPECT_EQ(content, "clip bytes");
        std::filesystem::remove(NativePath(copy));
    }
}

TEST(OddPaths, EncoderTextKeepsTheBytesOfNamesUnderAnyLocale) {
    const std::string line = "Input #0, flv, from '/tmp/bad\xFF\xFE name/\xC3\xA9t\xC3\xA9.flv':";
    EXPECT_EQ(NativePath(EncoderTextToWide(line)), line);
    // A read may end inside a character; the rest of the text is still there.
    EXPECT_EQ(EncoderTextToWide("time=5.00 \xE8\xA7").substr(0, 10), L"time=5.00 ");
}

TEST(OddEncoderOutput, AReportBoostGivesUpOnStillParses) {
    // "Audio:" followed by a long run of commas makes the audio expression backtrack past
    // Boost's bound, which throws.
    std::string report =
        "Input #0, flv, from 'input':\n  Duration: 00:00:05.00, start: 0.000000, bitrate: 100 kb/s\n"
        "    Stream #0:0: Audio:";
    for (int i = 0; i < 1200; ++i) report += "a,";
    ClipProperties record;
    bool parsed = false;
    EXPECT_NO_THROW(parsed = ParseProbeOutput(record, report));
    EXPECT_TRUE(parsed);
    EXPECT_EQ(record.duration, L"00:00:05.00");
    EXPECT_EQ(record.format, L"flv");
}

TEST(OddEncoderOutput, ThePercentageNeverLeavesItsRange) {
    ProgressCounters counters;
    counters.Apply(JoinPhase::Converting, ParseProgress("  Duration: 00:00:02.00, start: 0.000000"));
    counters.Apply(JoinPhase::Converting, ParseProgress("frame=1 time=99999999.00 bitrate=1"));
    for (JoinPhase phase : {JoinPhase::Converting, JoinPhase::EncodingAvi, JoinPhase::EncodingMp4Pass1,
                            JoinPhase::EncodingMp4Pass2}) {
        std::optional<int> percent = ProgressPercent(phase, counters.Snapshot(), 1, 0);
        ASSERT_TRUE(percent.has_value());
        EXPECT_GE(*percent, 0);
        EXPECT_LE(*percent, 100);
    }
    // Even counters no parser would produce.
    std::optional<int> huge = ProgressPercent(JoinPhase::EncodingAvi, {INT64_MAX, 1}, 1, 0);
    EXPECT_EQ(huge, 100);
}

}  // namespace
}  // namespace quilmer
