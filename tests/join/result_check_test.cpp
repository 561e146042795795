// The last look at a join's output: a file without a duration, shorter than the clips that went
// into it (beyond a frame at each boundary), far longer, or without its first or last picture, is
// not a result.

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

TEST(ResultCheck, AShortfallBeyondAFramePerClipFailsAndAMissingClipIsNamed) {
    ExpectedLength three;
    three.clips = {{L"a.flv", 12.6}, {L"b.flv", 38.8}, {L"c.flv", 8.0}};
    three.slackPerClip = 0.07;  // a 15 fps output
    EXPECT_EQ(CheckJoinResult(Lasting(L"00:00:59.40"), true, three), L"");
    EXPECT_EQ(CheckJoinResult(Lasting(L"00:00:59.25"), true, three), L"");  // a frame short at each boundary
    // The classic join that lost the sound before a late picture: 4.7 s gone, spread over clips.
    std::wstring lost = CheckJoinResult(Lasting(L"00:00:54.70"), true, three);
    EXPECT_NE(lost.find(L"shorter than the clips"), std::wstring::npos);
    EXPECT_EQ(lost.find(L".flv"), std::wstring::npos) << "no clip can be blamed";
    // A clip gone as a whole is named.
    std::wstring missing = CheckJoinResult(Lasting(L"00:00:51.40"), true, three);
    EXPECT_NE(missing.find(L"c.flv"), std::wstring::npos);
    ExpectedLength one;
    one.clips = {{L"only.rm", 12.6}};
    EXPECT_NE(CheckJoinResult(Lasting(L"00:00:10.40"), true, one).find(L"only.rm"), std::wstring::npos);
    // Somewhat longer passes (a header may claim less than the packets hold); far longer does not.
    EXPECT_EQ(CheckJoinResult(Lasting(L"00:01:02.00"), true, three), L"");
    EXPECT_NE(CheckJoinResult(Lasting(L"00:02:00.00"), true, three), L"");
    three.complete = false;  // a clip of unknown length: nothing to compare
    EXPECT_EQ(CheckJoinResult(Lasting(L"00:00:07.00"), true, three), L"");
}

// The output lasts long enough, but its picture does not cover it: the sound alone, or a picture
// that starts late or ends early where a re-encode shows one from start to end.
TEST(ResultCheck, AMissingFirstOrLastPictureFailsAndSaysWhich) {
    ExpectedLength two;
    two.clips = {{L"a.flv", 10.0}, {L"b.flv", 6.0}};
    two.slackPerClip = 0.17;  // a 20 fps output and the sound's packets
    two.picture = true;
    const ClipProperties lasting = Lasting(L"00:00:16.00");
    OutputPicture whole{true, true, 0.0, 15.95};
    EXPECT_EQ(CheckJoinResult(lasting, true, two, whole), L"");
    // Within the slack, after the sound codec's priming (MP3 in FLV at 11 kHz).
    EXPECT_EQ(CheckJoinResult(lasting, true, two, OutputPicture{true, true, 0.21, 15.9}), L"");

    std::wstring none = CheckJoinResult(lasting, true, two, OutputPicture{true, false, 0, 0});
    EXPECT_NE(none.find(L"no picture"), std::wstring::npos) << none;
    std::wstring late = CheckJoinResult(lasting, true, two, OutputPicture{true, true, 2.0, 15.95});
    EXPECT_NE(late.find(L"first picture is missing"), std::wstring::npos) << late;
    EXPECT_NE(late.find(L"2.00 s"), std::wstring::npos) << late;
    std::wstring early = CheckJoinResult(lasting, true, two, OutputPicture{true, true, 0.0, 15.5});
    EXPECT_NE(early.find(L"last picture is missing"), std::wstring::npos) << early;
    EXPECT_NE(early.find(L"15.50 s / 16.00 s"), std::wstring::npos) << early;
    // Measured against the output's own end: a clips' length that is a sound packet too long
    // (packets without a length of their own) is the length check's to judge.
    EXPECT_EQ(CheckJoinResult(Lasting(L"00:00:15.80"), true, two, OutputPicture{true, true, 0.0, 15.75}), L"");
    // And against the clips' end when the output's sound runs on past it: an MP3 encoder's delay
    // and last frame in an AVI (a WMV clip and a clip without sound came out like this).
    EXPECT_EQ(CheckJoinResult(Lasting(L"00:00:16.30"), true, two, OutputPicture{true, true, 0.0, 16.0}), L"");
    std::wstring beforeClipsEnd =
        CheckJoinResult(Lasting(L"00:00:16.30"), true, two, OutputPicture{true, true, 0.0, 15.6});
    EXPECT_NE(beforeClipsEnd.find(L"15.60 s / 16.00 s"), std::wstring::npos) << beforeClipsEnd;

    // Not looked at, or a copy that need not show a picture throughout: only the length counts.
    EXPECT_EQ(CheckJoinResult(lasting, true, two, OutputPicture{}), L"");
    two.picture = false;
    EXPECT_EQ(CheckJoinResult(lasting, true, two, OutputPicture{true, true, 2.0, 15.5}), L"");
    // With a clip of unknown length, the first picture is still checked.
    two.picture = true;
    two.complete = false;
    EXPECT_NE(CheckJoinResult(lasting, true, two, OutputPicture{true, true, 2.0, 15.95}), L"");
    EXPECT_NE(CheckJoinResult(lasting, true, two, OutputPicture{true, true, 0.0, 9.0}), L"");
}

TEST(ResultCheck, AnOutputWithoutALengthOrUnreadableFails) {
    EXPECT_EQ(CheckJoinResult(Lasting(L"00:00:40.00"), true, 40.0), L"");
    EXPECT_EQ(CheckJoinResult(Lasting(L"00:00:07.00"), true, std::nullopt), L"");
    EXPECT_NE(CheckJoinResult(Lasting(L"00:00:39.00"), true, 40.0), L"");
    EXPECT_NE(CheckJoinResult(Lasting(L"N/A"), true, 40.0), L"");  // an AVI without its index
    EXPECT_NE(CheckJoinResult(Lasting(L"N/A"), true, std::nullopt), L"");
    EXPECT_NE(CheckJoinResult(Lasting(L"00:00:00.00"), true, std::nullopt), L"");
    EXPECT_NE(CheckJoinResult(Lasting(L"00:00:40.00"), false, 40.0), L"");  // not readable at all
}

}  // namespace
}  // namespace quilmer
