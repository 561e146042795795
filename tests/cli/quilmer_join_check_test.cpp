// quilmer-join --check: the compatibility report of real clips, the method auto would take, the
// exit status, and nothing written.

#include "JoinTestSupport.h"
#include "MediaTools.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

namespace quilmer {
namespace {

using namespace quilmer::testing;

const std::string kProgram = QUILMER_PROGRAM_DIR "/quilmer-join";

bool Make(const std::string& path, const std::string& size, int sampleRate) {
    return MakeClip(path, 0.5, size, "25", {"-c:v", "libx264", "-g", "50"}, sampleRate, 2,
                    {"-c:a", "aac", "-b:a", "64k"});
}

TEST(QuilmerJoinCheckTest, ReportsEveryDifferenceTheMethodAndJoinsNothing) {
    ASSERT_EQ(access(kProgram.c_str(), X_OK), 0) << "quilmer-join was not built";
    if (!HaveProgram("ffmpeg")) QUILMER_SKIP_OR_FAIL_IN_CI("needs Debian's ffmpeg");
    ScratchFolder dir{"quilmer-check"};
    const std::string a = dir.Native("a.mp4"), b = dir.Native("b.mp4"), odd = dir.Native("odd one.mp4");
    ASSERT_TRUE(Make(a, "128x96", 44100));
    ASSERT_TRUE(Make(b, "128x96", 44100));
    ASSERT_TRUE(Make(odd, "160x120", 48000));
    WriteFile(dir.Native("notes.txt"), "not a video");
    const std::vector<std::string> clips = {"a.mp4", "b.mp4", "notes.txt", "odd one.mp4"};

    ProgramResult same = RunProgram({kProgram, "--check", a, b});
    EXPECT_EQ(same.status, 0) << same.output;
    EXPECT_NE(same.output.find("All 2 clips match: they can be joined without re-encoding into one MP4 file."),
              std::string::npos)
        << same.output;
    EXPECT_NE(same.output.find("The automatic method would take: lossless"), std::string::npos) << same.output;

    // The odd clip first: the reference is the clip the others match, and both differences of
    // the odd one are told, each with what the join does.
    ProgramResult mixed = RunProgram({kProgram, "--check", odd, a, b});
    EXPECT_EQ(mixed.status, 1) << mixed.output;
    for (const char* said :
         {"1 of 3 clips cannot be copied as they are", "The reference clip is a.mp4, which most clips match.",
          "1. odd one.mp4:", "Its frame size is 160x120 where the reference clip has 128x96, so this clip is re-encoded.",
          "Its sample rate is 48000 Hz where the reference clip has 44100 Hz, so this clip is re-encoded.",
          "3. b.mp4: matches the reference clip.", "The automatic method would take: smart"})
        EXPECT_NE(mixed.output.find(said), std::string::npos) << said << "\n" << mixed.output;

    // The output's extension names the container; RealMedia holds no H.264.
    ProgramResult real = RunProgram({kProgram, "--check", "-o", dir.Native("x.rmvb"), a, b});
    EXPECT_EQ(real.status, 1) << real.output;
    EXPECT_NE(real.output.find("The RealMedia container cannot hold its video codec h264"), std::string::npos) << real.output;
    EXPECT_EQ(RunProgram({kProgram, "--check", "-o", dir.Native("x.flv"), a, b}).status, 0);

    ProgramResult unreadable = RunProgram({kProgram, "--check", a, dir.Native("notes.txt")});
    EXPECT_EQ(unreadable.status, 1) << unreadable.output;
    EXPECT_NE(unreadable.output.find("1 of the clips cannot be read"), std::string::npos) << unreadable.output;
    EXPECT_NE(unreadable.output.find("notes.txt: "), std::string::npos) << unreadable.output;

    EXPECT_EQ(RunProgram({kProgram, "--check"}).status, 2);
    EXPECT_EQ(dir.List(), clips);  // nothing joined, nothing left behind
}

}  // namespace
}  // namespace quilmer
