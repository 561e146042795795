// Naming of the join's own files and the in-process concatenation.

#include "media/join/Concatenate.h"
#include "media/join/JoinFiles.h"
#include "media/join/JoinReport.h"

#include "JoinTestSupport.h"

#include <gtest/gtest.h>

namespace quilmer {
namespace {

using testing::ReadFile;
using testing::ScratchFolder;
using testing::WriteFile;

TEST(JoinFileNamer, NeverHandsOutATakenName) {
    ScratchFolder dir("join-names");
    WriteFile(dir.Native("a.qjv"), "x");
    JoinFileNamer namer;
    namer.Protect(dir.Wide("b.qjv"));  // e.g. a clip that happens to carry the extension
    EXPECT_EQ(namer.Reserve(dir.Wide(), L"a", L"", L".qjv"), dir.Wide("a-2.qjv"));
    EXPECT_EQ(namer.Reserve(dir.Wide(), L"a", L"", L".qjv"), dir.Wide("a-3.qjv"));
    EXPECT_EQ(namer.Reserve(dir.Wide(), L"b", L"", L".qjv"), dir.Wide("b-2.qjv"));
    EXPECT_EQ(namer.Reserve(dir.Wide(), L"a-2", L"_all", L".qjv"), dir.Wide("a-2_all.qjv"));
    EXPECT_EQ(namer.Reserve(dir.Wide(), L"c d \"é\"", L"", L".qjv"), dir.Wide("c d \"é\".qjv"));
}

TEST(JoinReport, EscapesAllButTheSafeCharacters) {
    EXPECT_EQ(EscapeUrl("http://a.b/c d?x=1&y=\xc3\xa9%"), "http://a.b/c%20d%3fx%3d1%26y%3d%c3%a9%");
    EXPECT_EQ(EscapeUrl(std::string(2083, 'a')).size(), 2083u);
    EXPECT_EQ(EscapeUrl(std::string(2084, 'a')), "");
    EXPECT_EQ(EscapeUrl(std::string(700, ' ')), "");  // 2100 characters once escaped
    EXPECT_EQ(JoinReportAddress(L"http://s", L"English", L"http://v/ü"),
              L"http://s/api_joinerlog.php?lang=English&url=http://v/%c3%bc");
    EXPECT_EQ(JoinReportAddress(L"http://s", L"Chinese Simplified", L"http://v/a"),
              L"http://s/api_joinerlog.php?lang=Chinese%20Simplified&url=http://v/a");
}

class ConcatenateTest : public ::testing::Test {
protected:
    ScratchFolder dir{"join-concat"};
    std::vector<std::wstring> Parts() {
        WriteFile(dir.Native("1.qjv"), std::string(3 << 20, 'a'));  // spans several blocks
        WriteFile(dir.Native("2.qjv"), "bb");
        return {dir.Wide("1.qjv"), dir.Wide("missing.qjv"), dir.Wide("2.qjv")};
    }
};

TEST_F(ConcatenateTest, AppendsThePartsThatExistInOrder) {
    std::int64_t lastDone = 0, lastTotal = 0;
    auto outcome = ConcatenateFiles(Parts(), dir.Wide("all.qjv"), [] { return false; },
                                    [&](std::int64_t done, std::int64_t total) {
                                        lastDone = done;
                                        lastTotal = total;
                                    });
    ASSERT_EQ(outcome.result, ConcatResult::Done);
    EXPECT_EQ(outcome.partsWritten, 2);
    EXPECT_EQ(ReadFile(dir.Native("all.qjv")), std::string(3 << 20, 'a') + "bb");
    EXPECT_EQ(lastDone, lastTotal);
    EXPECT_EQ(lastTotal, (3 << 20) + 2);
}

TEST_F(ConcatenateTest, StopsWhenCancelledAndReportsWriteErrors) {
    auto parts = Parts();
    EXPECT_EQ(ConcatenateFiles(parts, dir.Wide("all.qjv"), [] { return true; }).result, ConcatResult::Cancelled);

    // A full disk: the reason reaches the user.
    auto full = ConcatenateFiles(parts, L"/dev/full", [] { return false; });
    EXPECT_EQ(full.result, ConcatResult::Failed);
    EXPECT_NE(full.error.find(L"No space left on device"), std::wstring::npos);

    auto none = ConcatenateFiles({dir.Wide("missing.qjv")}, dir.Wide("none.qjv"), [] { return false; });
    EXPECT_EQ(none.result, ConcatResult::Failed);
    EXPECT_FALSE(FileExists(dir.Wide("none.qjv")));

    auto noFolder = ConcatenateFiles(parts, dir.Wide("no/such/all.qjv"), [] { return false; });
    EXPECT_EQ(noFolder.result, ConcatResult::Failed);
    EXPECT_FALSE(noFolder.error.empty());
}

// ffmpeg ends a failed run with lines that only say it failed; the reason comes before them.
TEST(EncoderFailureReason, TheLineThatSaysWhyNotTheLastOne) {
    EXPECT_EQ(EncoderFailureReason("frame=   10 fps=0.0 q=2.0 size=  10kB time=00:00:00.40\r"
                                   "[rm @ 0x55f0c3a1e2c0] Muxing packets larger than 64 kB (89032) is not supported\n"
                                   "av_interleaved_write_frame(): Not yet implemented in FFmpeg, patches welcome\n"
                                   "Error writing trailer of out.rm: Not yet implemented in FFmpeg, patches welcome\n"
                                   "frame=   12 fps=0.0 q=2.0 Lsize=  20kB time=00:00:00.48\n"
                                   "Conversion failed!\n"),
              L"rm: Muxing packets larger than 64 kB (89032) is not supported");
    EXPECT_EQ(EncoderFailureReason("[libmp3lame @ 0x1] Specified sample rate 7 is not supported\n"
                                   "Error while opening encoder for output stream #0:1 - maybe incorrect parameters\n"
                                   "Conversion failed!\n"),
              L"libmp3lame: Specified sample rate 7 is not supported");
    EXPECT_EQ(EncoderFailureReason("in.flv: No such file or directory\n"), L"in.flv: No such file or directory");
    EXPECT_EQ(EncoderFailureReason("something odd happened\nConversion failed!\n"), L"something odd happened");
    EXPECT_EQ(EncoderFailureReason("Conversion failed!\n"), L"");
}

}  // namespace
}  // namespace quilmer
