#include <gtest/gtest.h>

#include "app/core/ClipList.h"

namespace quilmer {
namespace {

std::vector<std::wstring> Names(const ClipList& list) {
    std::vector<std::wstring> names;
    for (std::size_t i = 0; i < list.Count(); ++i) names.push_back(list.At(i).displayName);
    return names;
}

ClipList ThreeClips() {
    ClipList list;
    list.AppendAll({L"/v/a.flv", L"/v/b.mp4", L"/w/c.avi"});
    return list;
}

TEST(ClipList, AppendKeepsOrderNamesAndFoldersAndSkipsEqualPaths) {
    ClipList list;
    EXPECT_EQ(list.AppendAll({L"/v/a.flv", L"/v/b.mp4", L"/v/a.flv", L"/v/A.flv"}), 3u);
    EXPECT_EQ(Names(list), (std::vector<std::wstring>{L"a.flv", L"b.mp4", L"A.flv"}));
    EXPECT_EQ(list.At(1).path, L"/v/b.mp4");
    EXPECT_EQ(list.At(1).FolderText(), L"/v/");
    EXPECT_FALSE(list.Append(L""));
    EXPECT_FALSE(list.Append(L"/v/"));  // a folder names no clip
    EXPECT_TRUE(list.CanJoin());
}

TEST(ClipList, OddNamesSurvive) {
    ClipList list;
    std::wstring odd = L"/v/\u00abslow\u00bb \"quoted\" \xDCFF.flv";  // a byte that is not UTF-8
    ASSERT_TRUE(list.Append(odd));
    EXPECT_EQ(list.At(0).path, odd);
    EXPECT_EQ(list.At(0).displayName, L"\u00abslow\u00bb \"quoted\" \xDCFF.flv");
    EXPECT_FALSE(list.CanJoin());
}

TEST(ClipList, MovesSelectTheMovedClipAndStopAtTheEnds) {
    ClipList list = ThreeClips();
    EXPECT_EQ(list.MoveUp(1u), 0u);
    EXPECT_EQ(Names(list), (std::vector<std::wstring>{L"b.mp4", L"a.flv", L"c.avi"}));
    EXPECT_EQ(list.MoveDown(1u), 2u);
    EXPECT_EQ(Names(list), (std::vector<std::wstring>{L"b.mp4", L"c.avi", L"a.flv"}));

    EXPECT_FALSE(list.MoveUp(0u));
    EXPECT_FALSE(list.MoveDown(2u));
    EXPECT_FALSE(list.MoveUp(std::nullopt));
    EXPECT_FALSE(list.MoveDown(std::nullopt));
    EXPECT_FALSE(list.MoveUp(7u));
    EXPECT_EQ(Names(list), (std::vector<std::wstring>{L"b.mp4", L"c.avi", L"a.flv"}));
}

TEST(ClipList, RemoveSelectsTheNeighbourAndNeedsASelection) {
    ClipList list = ThreeClips();
    bool removed = true;
    EXPECT_FALSE(list.Remove(std::nullopt, &removed));
    EXPECT_FALSE(removed);
    EXPECT_EQ(list.Count(), 3u);

    EXPECT_EQ(list.Remove(1u, &removed), 1u);  // c.avi moves into the removed row
    EXPECT_TRUE(removed);
    EXPECT_EQ(Names(list), (std::vector<std::wstring>{L"a.flv", L"c.avi"}));
    EXPECT_EQ(list.Remove(1u), 0u);  // the last row removed: the new last is selected
    EXPECT_FALSE(list.CanJoin());
    EXPECT_FALSE(list.Remove(0u, &removed));
    EXPECT_TRUE(removed);
    EXPECT_TRUE(list.Empty());
}

TEST(ClipList, PlayAndPropertyActOnTheSelectionElseTheFirstClip) {
    ClipList list = ThreeClips();
    EXPECT_EQ(list.TargetOf(2u), 2u);
    EXPECT_EQ(list.TargetOf(std::nullopt), 0u);
    EXPECT_EQ(list.TargetOf(9u), 0u);
    list.Clear();
    EXPECT_FALSE(list.TargetOf(std::nullopt));
}

}  // namespace
}  // namespace quilmer
