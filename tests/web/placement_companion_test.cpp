#include "web/core/CompanionDownloader.h"
#include "web/core/WindowPlacement.h"

#include "../support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <set>

namespace quilmer {
namespace {

TEST(WindowPlacement, RecordRoundTripsAndRejectsOtherShapes) {
    auto record = WindowPlacementRecord::ForWindow({10, 20, 610, 420}, true);
    ByteList bytes = record.Encode();
    ASSERT_EQ(bytes.size(), 44u);
    EXPECT_EQ(bytes[0], 44);
    auto back = WindowPlacementRecord::Decode(bytes);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->flags, 2u);
    EXPECT_EQ(back->showCmd, 3u);
    EXPECT_EQ(back->normal.right, 610);

    ByteList shorter(bytes.begin(), bytes.end() - 1);
    EXPECT_FALSE(WindowPlacementRecord::Decode(shorter));
    ByteList badLength = bytes;
    badLength[0] = 40;
    EXPECT_FALSE(WindowPlacementRecord::Decode(badLength));
    EXPECT_EQ(WindowPlacementRecord::ForWindow({0, 0, 1, 1}, false).showCmd, 1u);
}

TEST(WindowPlacement, OnlyRectanglesOnTheScreenAreUsed) {
    EXPECT_TRUE(WindowPlacementRecord::ForWindow({-100, -100, 10, 10}, false).IntersectsScreen(800, 600));
    EXPECT_FALSE(WindowPlacementRecord::ForWindow({800, 0, 1000, 100}, false).IntersectsScreen(800, 600));
    EXPECT_FALSE(WindowPlacementRecord::ForWindow({-500, 10, -1, 100}, false).IntersectsScreen(800, 600));
}

TEST(WindowPlacement, StoredAsOneSharedSetting) {
    test::ScratchFolder scratch("placement");
    SettingsStore store(scratch.Wide("settings.json"));
    EXPECT_FALSE(LoadPlacement(store, L"Settings", L"Placement1"));
    ASSERT_TRUE(SavePlacement(store, L"Settings", L"Placement1", WindowPlacementRecord::ForWindow({1, 2, 3, 4}, false)));
    auto loaded = LoadPlacement(store, L"Settings", L"Placement1");
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->normal.bottom, 4);
    store.WriteBytes(L"Settings", L"Placement1", ByteList(43, 0));
    EXPECT_FALSE(LoadPlacement(store, L"Settings", L"Placement1"));
}

TEST(CompanionDownloader, SettingsFirstThenTheKnownPlaces) {
    test::ScratchFolder scratch("companion");
    SettingsStore store(scratch.Wide("settings.json"));
    std::set<std::wstring> present = {L"/usr/bin/corvane-downloader", L"/home/u/.local/bin/corvane-downloader"};
    auto exists = [&](const std::wstring& p) { return present.count(p) > 0; };
    EXPECT_EQ(FindCompanionDownloader(store, L"/opt/q/", L"/home/u", exists), L"/home/u/.local/bin/corvane-downloader");
    store.WriteString(L"Companion", L"AppPath", L"/opt/dl");
    store.WriteString(L"Companion", L"AppName", L"dl bin");
    present.insert(L"/opt/dl/dl bin");
    EXPECT_EQ(FindCompanionDownloader(store, L"/opt/q/", L"/home/u", exists), L"/opt/dl/dl bin");
    EXPECT_EQ(FindCompanionDownloader(store, L"/opt/q/", L"/home/u", [](const std::wstring&) { return false; }), L"");
}

}  // namespace
}  // namespace quilmer
