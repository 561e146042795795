#include "media/Progress.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace quilmer {
namespace {

TEST(ParseProgress, DurationWinsOverPosition) {
    ProgressReading r = ParseProgress("  Duration: 01:02:03.45, start: 0.0\nframe= 1 time=12.00 bitrate");
    EXPECT_EQ(r.durationSeconds, 3723);
    EXPECT_EQ(r.doneSeconds, std::nullopt);
}

TEST(ParseProgress, FirstPositionCounts) {
    ProgressReading r = ParseProgress("frame=1 time=7.10 x\rframe=2 time=9.30 x\r");
    EXPECT_EQ(r.durationSeconds, std::nullopt);
    EXPECT_EQ(r.doneSeconds, 7);
}

TEST(ParseProgress, UnavailableOrGarbledValuesAreIgnored) {
    EXPECT_FALSE(ParseProgress("Duration: N/A, start: 0.0, bitrate: N/A").durationSeconds);
    // Not numbers: ignored, and the position in the same chunk is still read.
    ProgressReading r = ParseProgress("Duration: xx:yy:zz.00, start: 0\nframe=2 time=3.50");
    EXPECT_FALSE(r.durationSeconds);
    EXPECT_EQ(r.doneSeconds, 3);
    EXPECT_FALSE(ParseProgress("time=N/A bitrate=N/A").doneSeconds);
    // Old-style clock text in time= is not whole seconds.
    EXPECT_FALSE(ParseProgress("time=00:00:03.00").doneSeconds);
    // A token split across two reads is not recognised in either half.
    EXPECT_FALSE(ParseProgress("frame=3 ti").doneSeconds);
    EXPECT_FALSE(ParseProgress("me=4.00 bitrate").doneSeconds);
    std::string zero = "frame=3 ";
    zero += '\0';
    zero += "time=4.00";
    EXPECT_FALSE(ParseProgress(zero).doneSeconds);
}

TEST(ParseProgress, CapturedAdapterConversion) {
    std::ifstream in(std::string(QUILMER_MEDIA_TEST_DATA) + "/convert-mp4-progress.txt", std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    const std::string all = s.str();
    EXPECT_EQ(ParseProgress(all).durationSeconds, 3);
    const std::string tail = all.substr(all.rfind("frame="));
    EXPECT_EQ(ParseProgress(tail).doneSeconds, 3);
}

TEST(ProgressCounters, ConvertingSumsDurationsAndEncodesUseTheSum) {
    ProgressCounters c;
    c.Apply(JoinPhase::Converting, {4, std::nullopt});
    c.Apply(JoinPhase::Converting, {std::nullopt, 2});
    EXPECT_EQ(c.Snapshot().totalSeconds, 4);
    EXPECT_EQ(c.Snapshot().doneSeconds, 2);
    c.ResetStep();
    c.Apply(JoinPhase::Converting, {5, std::nullopt});
    EXPECT_EQ(c.SumSeconds(), 9);
    c.ResetStep();
    c.Apply(JoinPhase::EncodingFlv, {100, std::nullopt});  // the concatenation's own length is not used
    EXPECT_EQ(c.Snapshot().totalSeconds, 9);
    // Probing and concatenating do not touch the counters.
    c.Apply(JoinPhase::Probing, {7, 7});
    c.Apply(JoinPhase::Concatenating, {7, 7});
    EXPECT_EQ(c.Snapshot().doneSeconds, 0);
    EXPECT_EQ(c.SumSeconds(), 9);
    c.ResetJob();
    EXPECT_EQ(c.SumSeconds(), 0);
}

TEST(ProgressPercent, ConversionsFillTheFirstHalf) {
    // Two clips: each is worth 25.
    EXPECT_EQ(ProgressPercent(JoinPhase::Converting, {5, 10}, 2, 1), 12);
    EXPECT_EQ(ProgressPercent(JoinPhase::Converting, {5, 10}, 2, 0), 37);
    // Three clips: 16.66 truncated for each finished clip.
    EXPECT_EQ(ProgressPercent(JoinPhase::Converting, {1, 1000}, 3, 0), 32);
    EXPECT_EQ(ProgressPercent(JoinPhase::Converting, {1000, 1000}, 3, 0), 48);
    EXPECT_EQ(ProgressPercent(JoinPhase::Concatenating, {1, 1}, 3, 0), 50);
}

TEST(ProgressPercent, EncodesFillTheSecondHalf) {
    EXPECT_EQ(ProgressPercent(JoinPhase::EncodingFlv, {3, 10}, 2, 0), 65);
    EXPECT_EQ(ProgressPercent(JoinPhase::EncodingWmv, {10, 10}, 2, 0), 100);
    EXPECT_EQ(ProgressPercent(JoinPhase::EncodingMp4Pass1, {10, 10}, 2, 0), 60);
    EXPECT_EQ(ProgressPercent(JoinPhase::EncodingMp4Pass2, {1, 10}, 2, 0), 64);
    EXPECT_EQ(ProgressPercent(JoinPhase::EncodingMp4Pass2, {10, 10}, 2, 0), 100);
    EXPECT_EQ(ProgressPercent(JoinPhase::Probing, {1, 1}, 2, 0), 0);
}

TEST(ProgressPercent, UnknownCountersLeaveTheBar) {
    EXPECT_EQ(ProgressPercent(JoinPhase::EncodingFlv, {0, 10}, 2, 0), std::nullopt);
    EXPECT_EQ(ProgressPercent(JoinPhase::EncodingFlv, {3, 0}, 2, 0), std::nullopt);
}

}  // namespace
}  // namespace quilmer
