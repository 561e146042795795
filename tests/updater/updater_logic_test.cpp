#include <gtest/gtest.h>

#include "updater/TransferTexts.h"
#include "updater/UpdaterArgs.h"
#include "updater/WindowProtocol.h"

using namespace quilmer;

TEST(TransferTexts, SizesSpeedsAndTheStatusLine) {
    EXPECT_EQ(FormatSizeText(0), L"0 bytes");
    EXPECT_EQ(FormatSizeText(1023), L"1023 bytes");
    EXPECT_EQ(FormatSizeText(1024), L"1.00 KB");
    EXPECT_EQ(FormatSizeText(1536), L"1.50 KB");
    EXPECT_EQ(FormatSizeText(3u << 20), L"3.00 MB");
    EXPECT_EQ(FormatSizeText(5ULL << 30), L"5.00 GB");
    EXPECT_EQ(FormatSizeText(1ULL << 40), L"1.00 TB");
    EXPECT_EQ(FormatSizeText(1ULL << 62), L"4.00 EB");
    EXPECT_EQ(FormatSpeedText(512), L"512 bytes/S");
    EXPECT_EQ(FormatSpeedText(2048), L"2.00 KB/S");
    EXPECT_EQ(FormatSpeedText(1.5 * 1048576), L"1.50 MB/S");

    EXPECT_EQ(StatusLineText(512, 1024, L""), L"512/1024B  50%" + std::wstring(38, L' '));
    EXPECT_EQ(StatusLineText(100, 0, L"1.00 KB/S"), L"100/0B  0%" + std::wstring(38, L' ') + L"1.00 KB/S");
    EXPECT_EQ(ProgressPercent(0, 100), 0u);
    EXPECT_EQ(ProgressPercent(150, 100), 150u);  // resumed without a known length
    EXPECT_EQ(ProgressPercent(6000000000ULL, 12000000000ULL), 50u);
}

TEST(TransferTexts, SpeedMeterRenewsOncePerSecond) {
    SpeedMeter meter;
    meter.Update(400, 1000);
    meter.Update(400, 2000);
    EXPECT_EQ(meter.BytesPerSecond(), 0.0);
    meter.Update(450, 3000);  // 1250 ms in all
    EXPECT_DOUBLE_EQ(meter.BytesPerSecond(), 3000 * 1000.0 / 1250);
    meter.Update(100, 3500);  // 250 ms carried over + 100: not yet a second
    EXPECT_DOUBLE_EQ(meter.BytesPerSecond(), 2400.0);
    meter.Update(700, 5000);
    EXPECT_DOUBLE_EQ(meter.BytesPerSecond(), 2000 * 1000.0 / 1050);
}

TEST(UpdaterArgs, SevenPositionalValuesFromTheCommandLine) {
    const char* argv[] = {"updater",
                          "http://h/p.zip?type=joiner&lang=English&ver=v1.9",
                          "Corvane Video",
                          "UWM_JoinDownload_IsMe",
                          "Chinese Simplified",
                          "/home/u/.config/quilmer/appdata/",
                          "(v1.9)",
                          "(v2.0)",
                          "eighth"};
    UpdaterArgs a = UpdaterArgs::FromArgv(9, argv);
    EXPECT_EQ(a.packageUrl, L"http://h/p.zip?type=joiner&lang=English&ver=v1.9");
    EXPECT_EQ(a.windowClass, L"Corvane Video");
    EXPECT_EQ(a.language, L"Chinese Simplified");
    EXPECT_EQ(a.newVersion, L"(v2.0)");
    EXPECT_EQ(a.PartialFile(), L"/home/u/.config/quilmer/appdata/newversion.tmp");
    EXPECT_EQ(a.ValidatorFile(), L"/home/u/.config/quilmer/appdata/newversion.time");
    EXPECT_EQ(a.DisplayUrl(), L"http://h/p.zip");
    EXPECT_EQ(a.VersionLine(), L"From old version(v1.9)update to new version(v2.0)");

    a = UpdaterArgs::FromArgv(3, argv);
    EXPECT_EQ(a.windowClass, L"Corvane Video");
    EXPECT_EQ(a.windowMessage, L"");
    a = UpdaterArgs::FromCommandLine(L"/opt/quilmer/updater \"http://h/x\" \"Corvane Video\"");
    EXPECT_EQ(a.packageUrl, L"http://h/x");
    EXPECT_EQ(a.windowClass, L"Corvane Video");
    EXPECT_EQ(a.DisplayUrl(), L"http://h/x");
}

namespace {
class ScriptedWindows : public WindowProtocol {
public:
    bool found = true;
    int closesAfterPolls = 2;
    int polls = 0;
    bool closed = false;
    std::optional<WindowRef> FindWindow(const std::wstring&, const std::wstring&,
                                        std::chrono::milliseconds) override {
        return found ? std::optional<WindowRef>(1) : std::nullopt;
    }
    bool PostClose(WindowRef) override { return closed = true; }
    bool WindowExists(WindowRef) override { return !closed || polls++ < closesAfterPolls; }
};
}  // namespace

TEST(WindowProtocol, ClosingWaitsForTheWindowAndGivesUpInTime) {
    std::chrono::milliseconds slept{0};
    auto sleep = [&](std::chrono::milliseconds ms) { slept += ms; };
    ScriptedWindows w;
    EXPECT_TRUE(CloseMainProgram(w, L"Corvane Video", L"UWM_JoinDownload_IsMe", CloseTimings{}, sleep));
    EXPECT_TRUE(w.closed);
    EXPECT_EQ(slept.count(), 2 * 1000 + 1100);

    ScriptedWindows absent;
    absent.found = false;
    EXPECT_FALSE(CloseMainProgram(absent, L"x", L"y", CloseTimings{}, sleep));
    EXPECT_FALSE(absent.closed);

    ScriptedWindows stuck;
    stuck.closesAfterPolls = 1000000;
    slept = {};
    EXPECT_FALSE(CloseMainProgram(stuck, L"x", L"y", CloseTimings{}, sleep));
    EXPECT_EQ(slept.count(), 60000);
}
