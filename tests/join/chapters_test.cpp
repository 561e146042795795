// The chapter list of a join: planned from the clips, placed on where the pieces really begin.

#include "media/join/Chapters.h"

#include <gtest/gtest.h>

namespace quilmer {
namespace {

TEST(ChaptersTest, TitleIsTheFileNameWithoutFolderAndExtensionAsUtf8) {
    EXPECT_EQ(ChapterTitleOf(L"/videos/Ünïcödé clip.part 2.mp4"), "Ünïcödé clip.part 2");
    EXPECT_EQ(ChapterTitleOf(L"/videos/.hidden"), ".hidden");
    // A stray byte of the name on disk (held as U+DC80+byte) becomes the replacement character.
    EXPECT_EQ(ChapterTitleOf(std::wstring(L"/v/caf") + wchar_t(0xDCE9) + L".flv"), "caf\xef\xbf\xbd");
    EXPECT_TRUE(FormatKeepsChapters(L"mp4"));
    EXPECT_TRUE(FormatKeepsChapters(L"wmv"));
    EXPECT_FALSE(FormatKeepsChapters(L"flv"));
}

// Own chapters are sorted; one at the clip's very start is the clip's named chapter, one at or past
// the clip's end would fall into the next clip and is left out.
TEST(ChaptersTest, PlanKeepsOwnChaptersInsideTheirClip) {
    const std::vector<PieceChapters> pieces = {
        {"a", {{1500000, "late"}, {10000, "start"}, {600000, "early"}, {2000000, "past the end"}}, 2000000},
        {"b", {}, 1000000},
        {"", {{0, "run start"}, {300000, "run middle"}}, 0},
    };
    const std::vector<PlannedChapter> plan = PlanChapters(pieces);
    EXPECT_EQ(plan, (std::vector<PlannedChapter>{{0, 0, "a"},
                                                 {0, 600000, "early"},
                                                 {0, 1500000, "late"},
                                                 {1, 0, "b"},
                                                 {2, 0, "run start"},
                                                 {2, 300000, "run middle"}}));
}

// Placing moves each chapter by its piece's measured start; a chapter never comes before the one
// ahead of it nor after the end, and each ends where the next begins.
TEST(ChaptersTest, PlaceFollowsTheMeasuredStartsAndNeverRunsBackwards) {
    const std::vector<PlannedChapter> plan = {{0, 0, "a"}, {0, 900000, "a2"}, {1, 0, "b"}, {2, 0, "c"}, {2, 5000000, "c2"}};
    const std::vector<Chapter> placed = PlaceChapters(plan, {40000, 800000, 2000000}, 4000000);
    EXPECT_EQ(placed, (std::vector<Chapter>{{40000, 800000, "a"},
                                            {800000, 800000, "a2"},
                                            {800000, 2000000, "b"},
                                            {2000000, 4000000, "c"},
                                            {4000000, 4000000, "c2"}}));
    EXPECT_EQ(FollowingStarts({2000000, 1520000, 1010000, 500000}, 25),
              (std::vector<std::int64_t>{0, 2000000, 3520000, 4520000}));
    EXPECT_EQ(FollowingStarts({1000000, 1000000}, 0), (std::vector<std::int64_t>{0, 1000000}));
}

}  // namespace
}  // namespace quilmer
