// The last look at a join's output: a file without a duration, or far shorter or longer than the
// clips that went into it, is not a result.

#include "media/join/ResultCheck.h"

#include <gtest/gtest.h>

namespace quilmer {
namespace {

ClipProperties Lasting(const std::wstring& duration) {
    ClipProperties p;
    p.duration = duration;
    return p;
}

TEST(ResultCheck, DurationsAreReadOnlyWhenWellFormed) {
    EXPECT_EQ(DurationSeconds(L"00:01:02.50"), 62.5);
    EXPECT_EQ(DurationSeconds(L" 01:00:00.00 "), 3600.0);
    for (const wchar_t* bad : {L"", L"N/A", L"00:00", L"aa:bb:cc", L"00:-1:00.00", L"00:00:1e9"})
        EXPECT_FALSE(DurationSeconds(bad).has_value()) << bad;
}

TEST(ResultCheck, AcceptsRoughlyTheClipsLengthAndRejectsTheRest) {
    EXPECT_EQ(CheckJoinResult(Lasting(L"00:00:40.00"), true, 40.0), L"");
    EXPECT_EQ(CheckJoinResult(Lasting(L"00:00:38.50"), true, 40.0), L"");   // frame-rate rounding
    EXPECT_EQ(CheckJoinResult(Lasting(L"00:00:02.10"), true, 2.0), L"");
    EXPECT_EQ(CheckJoinResult(Lasting(L"00:00:07.00"), true, std::nullopt), L"");  // nothing to compare
    EXPECT_NE(CheckJoinResult(Lasting(L"00:00:12.00"), true, 40.0), L"");   // cut short
    EXPECT_NE(CheckJoinResult(Lasting(L"00:02:00.00"), true, 40.0), L"");
    EXPECT_NE(CheckJoinResult(Lasting(L"N/A"), true, 40.0), L"");           // an AVI without its index
    EXPECT_NE(CheckJoinResult(Lasting(L"N/A"), true, std::nullopt), L"");
    EXPECT_NE(CheckJoinResult(Lasting(L"00:00:00.00"), true, std::nullopt), L"");
    EXPECT_NE(CheckJoinResult(Lasting(L"00:00:40.00"), false, 40.0), L"");  // not readable at all
}

}  // namespace
}  // namespace quilmer
