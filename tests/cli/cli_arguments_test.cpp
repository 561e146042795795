#include "cli/JoinArguments.h"
#include "cli/TerminalProgress.h"

#include <gtest/gtest.h>

namespace quilmer {
namespace {

TEST(JoinArguments, OutputAndClipsInAnyOrder) {
    JoinArguments args;
    std::string error;
    ASSERT_TRUE(ParseJoinArguments({"a b.flv", "-o", "out.mp4", "-q", "ü.avi"}, args, error)) << error;
    EXPECT_EQ(args.output, L"out.mp4");
    EXPECT_EQ(args.clips, (std::vector<std::wstring>{L"a b.flv", L"ü.avi"}));
    EXPECT_TRUE(args.quiet);
    ASSERT_TRUE(ParseJoinArguments({"--output=x.flv", "a.flv"}, args, error));
    EXPECT_EQ(args.output, L"x.flv");
    // Clips that look like options need a double dash.
    EXPECT_FALSE(ParseJoinArguments({"-o", "out.flv", "-clip.flv"}, args, error));
    EXPECT_NE(error.find("-clip.flv"), std::string::npos);
    ASSERT_TRUE(ParseJoinArguments({"-o", "out.flv", "--", "-clip.flv", "-o"}, args, error)) << error;
    EXPECT_EQ(args.clips, (std::vector<std::wstring>{L"-clip.flv", L"-o"}));
}

TEST(JoinArguments, MethodIsAutoUnlessNamed) {
    JoinArguments args;
    std::string error;
    ASSERT_TRUE(ParseJoinArguments({"-o", "out.flv", "a.flv"}, args, error)) << error;
    EXPECT_EQ(args.method, "auto");
    ASSERT_TRUE(ParseJoinArguments({"--method", "lossless", "-o", "out.flv", "a.flv"}, args, error)) << error;
    EXPECT_EQ(args.method, "lossless");
    ASSERT_TRUE(ParseJoinArguments({"--method=classic", "-o", "out.flv", "a.flv"}, args, error)) << error;
    EXPECT_EQ(args.method, "classic");
    EXPECT_FALSE(ParseJoinArguments({"--method", "fast", "-o", "out.flv", "a.flv"}, args, error));
    EXPECT_NE(error.find("fast"), std::string::npos);
    EXPECT_FALSE(ParseJoinArguments({"-o", "out.flv", "a.flv", "--method"}, args, error));
    for (const char* m : {"classic", "lossless", "single", "smart", "auto"})
        EXPECT_NE(JoinUsage().find(std::string("      ") + m + " "), std::string::npos) << m;
}

TEST(JoinArguments, CheckNeedsClipsButNoOutput) {
    JoinArguments args;
    std::string error;
    ASSERT_TRUE(ParseJoinArguments({"--check", "a.flv", "b.flv"}, args, error)) << error;
    EXPECT_TRUE(args.check);
    EXPECT_TRUE(args.output.empty());
    EXPECT_EQ(args.clips.size(), 2u);
    ASSERT_TRUE(ParseJoinArguments({"--check", "-o", "x.mp4", "a.flv"}, args, error)) << error;
    EXPECT_EQ(args.output, L"x.mp4");
    EXPECT_FALSE(ParseJoinArguments({"--check"}, args, error));
    EXPECT_EQ(error, "no clips to check");
}

TEST(JoinArguments, MistakesAreReported) {
    JoinArguments args;
    std::string error;
    EXPECT_FALSE(ParseJoinArguments({"a.flv"}, args, error));             // no output
    EXPECT_FALSE(ParseJoinArguments({"-o", "x.flv"}, args, error));        // no clips
    EXPECT_FALSE(ParseJoinArguments({"a.flv", "-o"}, args, error));        // -o without a name
    EXPECT_FALSE(ParseJoinArguments({"-o", "x.flv", "-o", "y.flv", "a.flv"}, args, error));
    EXPECT_TRUE(ParseJoinArguments({"--help"}, args, error));
    EXPECT_TRUE(args.help);
    EXPECT_TRUE(ParseJoinArguments({"--version"}, args, error)) << "needs neither output nor clips";
    EXPECT_TRUE(args.version);
    EXPECT_FALSE(args.help);
}

TEST(TerminalProgress, LineShowsBarPercentAndTimes) {
    EXPECT_EQ(FormatClock(0), "0:00");
    EXPECT_EQ(FormatClock(75.4), "1:15");
    EXPECT_EQ(FormatClock(3725), "1:02:05");
    EXPECT_EQ(ProgressLine(50, 10, "joining", 10, 10), "[#####.....]  50%  joining  0:10 elapsed, about 0:10 left");
    EXPECT_EQ(ProgressLine(0, 1, "", -1, 4), "[....]   0%  0:01 elapsed, estimating time left");
    EXPECT_EQ(ProgressLine(250, 1, "", -1, 4).substr(0, 11), "[####] 100%");
}

}  // namespace
}  // namespace quilmer
