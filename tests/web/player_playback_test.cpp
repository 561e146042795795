// Player windows in the real WebKit: the page of each class, its files, the shared placement, the
// search bar, and real playback of every input format the join accepts and of the real samples.

#include "WebTestSupport.h"

#include "foundation/FileUtil.h"
#include "foundation/Utf8.h"
#include "foundation/Settings.h"
#include "web/BrowserWindow.h"
#include "web/PlayerWindow.h"
#include "web/core/WindowPlacement.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

namespace quilmer {
namespace {

using test::Eval;
using test::PumpEvents;
using test::PumpUntil;

namespace fs = std::filesystem;

// Short synthesised clips, one per input ending, each in the codecs such files usually carry.
const std::map<std::string, std::string> kRecipes = {
    {"flv", "-c:v flv1 -c:a libmp3lame -ar 44100 -f flv"},
    {"f4v", "-c:v libx264 -pix_fmt yuv420p -c:a aac -f mp4"},
    {"hlv", "-c:v libx264 -pix_fmt yuv420p -c:a aac -ar 44100 -f flv"},
    {"flx", "-c:v flv1 -c:a libmp3lame -ar 22050 -f flv"},
    {"fmv", "-c:v libx264 -pix_fmt yuv420p -c:a libmp3lame -ar 44100 -f flv"},
    {"rmvb", "-c:v rv20 -c:a ac3 -f rm"},
    {"rm", "-c:v rv10 -s 176x144 -c:a ac3 -f rm"},
    {"mp4", "-c:v libx264 -pix_fmt yuv420p -c:a aac -f mp4"},
    {"3gp", "-c:v h263 -s 176x144 -c:a aac -ar 16000 -ac 1 -f 3gp"},
    {"mov", "-c:v libx264 -pix_fmt yuv420p -c:a aac -f mov"},
    {"avi", "-c:v mpeg4 -c:a libmp3lame -f avi"},
    {"wmv", "-c:v wmv2 -c:a wmav2 -f asf"},
    {"wma", "-vn -c:a wmav2 -f asf"},
    {"asf", "-c:v msmpeg4 -c:a wmav2 -f asf"},
};

class PlayerTest : public ::testing::Test {
public:
    static void SetUpTestSuite() {
        char folder[] = "/tmp/quilmer-player-test-XXXXXX";
        folder_ = mkdtemp(folder);
        for (const auto& [ext, codecs] : kRecipes) {
            std::string out = folder_ + "/clip." + ext;
            std::string cmd = "ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=160x120:rate=15 -f lavfi -i "
                              "sine=frequency=440:sample_rate=44100 -t 4 " + codecs + " '" + out + "'";
            ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
        }
    }
    static void TearDownTestSuite() {
        std::error_code ec;
        fs::remove_all(folder_, ec);
    }
    static std::wstring Clip(const std::string& ext) { return WidePath(folder_ + "/clip." + ext); }
    static std::string folder_;

protected:
    void TearDown() override {
        for (BrowserWindow* w : std::vector<BrowserWindow*>(BrowserWindow::OpenWindows())) w->Close(true);
        PumpEvents(50);
    }
};
std::string PlayerTest::folder_;

double CurrentTime(PlayerWindow* w) {
    std::string t = Eval(w->Browser(), "(function(){var m=document.getElementById('quilmer_media');return m?String(m.currentTime):'-1';})()");
    return t.empty() ? -1 : std::atof(t.c_str());
}

// Opens the clip, waits for playback and checks that time moves; returns how it played.
PlayerWindow::PlaybackState PlayAndCheck(const std::wstring& path, bool screenshot = false) {
    PlayerWindow* w = OpenPlayer(path);
    EXPECT_NE(w, nullptr);
    if (!w) return PlayerWindow::PlaybackState::Failed;
    bool started = PumpUntil(
        [&] {
            return w->State() == PlayerWindow::PlaybackState::Playing ||
                   w->State() == PlayerWindow::PlaybackState::PlayingPreview ||
                   w->State() == PlayerWindow::PlaybackState::Failed;
        },
        60000);
    EXPECT_TRUE(started) << ToUtf8(path);
    auto state = w->State();
    EXPECT_NE(state, PlayerWindow::PlaybackState::Failed) << ToUtf8(path);
    double first = CurrentTime(w);
    bool advanced = PumpUntil([&] { return CurrentTime(w) > first + 0.2; }, 10000);
    EXPECT_TRUE(advanced) << ToUtf8(path) << " stayed at " << first;
    EXPECT_EQ(Eval(w->Browser(), "document.getElementById('quilmer_media').paused"), "false") << ToUtf8(path);
    if (state == PlayerWindow::PlaybackState::PlayingPreview) {
        // The page says that a copy plays, and the copy lies in the temporary folder while it does.
        EXPECT_NE(Eval(w->Browser(), "document.getElementById('quilmer_note').textContent").find("preview copy"),
                  std::string::npos);
        EXPECT_TRUE(w->GeneratedFiles().back().ends_with(L".mp4"));
        EXPECT_TRUE(FileExists(w->GeneratedFiles().back()));
        if (screenshot) test::Screenshot(w, "player-playing-preview-copy");
    }
    else if (screenshot) test::Screenshot(w, "player-playing");
    std::vector<std::wstring> files = w->GeneratedFiles();
    w->Close(true);
    test::Settle();
    for (const auto& f : files) EXPECT_FALSE(FileExists(f)) << ToUtf8(f) << " left behind";
    return state;
}

TEST_F(PlayerTest, PagesOfTheThreeClassesCarryTheirMarkupAndGoAwayOnClose) {
    PlayerWindow* flash = OpenPlayer(Clip("flv"));
    ASSERT_NE(flash, nullptr);
    EXPECT_NE(dynamic_cast<CFlvDlg*>(flash), nullptr);
    EXPECT_EQ(Playlist(), std::vector<std::wstring>{Clip("flv")});
    EXPECT_EQ(flash->GetTitle(), "clip.flv");
    EXPECT_EQ(flash->Browser()->GetId(), PlayerWindow::kBrowserId);
    ASSERT_TRUE(PumpUntil([&] { return flash->PageLoaded() && flash->State() != PlayerWindow::PlaybackState::Waiting; }, 60000));
    std::wstring page = flash->PageFile();
    ASSERT_EQ(flash->GeneratedFiles().size(), 2u);
    std::wstring playlist = flash->GeneratedFiles()[1];
    EXPECT_EQ(test::ReadText(NativePath(playlist)),
              PlaylistWriter({Clip("flv")}, false));
    EXPECT_NE(flash->PageText().find("new SWFObject("), std::string::npos);
    EXPECT_NE(flash->PageText().find("file=" + NativePath(playlist) + "&autostart=true&repeat=list"), std::string::npos);
    // The search bar's address as the page's attribute (escaped) and as the view reads it.
    EXPECT_NE(flash->PageText().find(test::Site().base + "/api_search3.php?showbar=1&amp;lang=English&amp;type=flv"),
              std::string::npos);
    EXPECT_EQ(Eval(flash->Browser(), "document.getElementById('playbar').getAttribute('src')"),
              test::Site().base + "/api_search3.php?showbar=1&lang=English&type=flv");
    // The wrapper follows the window: W - 8 by H - 90.
    flash->SetSize(620, 480);
    PumpEvents(300);
    wxSize outer = flash->GetSize();
    EXPECT_EQ(Eval(flash->Browser(), "document.getElementById('wrapper').style.width"), std::to_string(outer.x - 8) + "px");
    EXPECT_EQ(Eval(flash->Browser(), "document.getElementById('wrapper').style.height"), std::to_string(outer.y - 90) + "px");

    // Second player of another class: the playlist is replaced, the first keeps its page.
    flash->SetSize(40, 50, 600, 420);
    PumpEvents(100);
    PlayerWindow* wmp = OpenPlayer(Clip("wmv"));
    ASSERT_NE(wmp, nullptr);
    EXPECT_NE(dynamic_cast<CFlvDlg2*>(wmp), nullptr);
    EXPECT_EQ(Playlist(), std::vector<std::wstring>{Clip("wmv")});
    ASSERT_TRUE(PumpUntil([&] { return wmp->PageLoaded(); }));
    EXPECT_TRUE(wmp->PageFile().ends_with(L".html"));
    EXPECT_NE(wmp->PageText().find("<param NAME=\"URL\" VALUE=\"" + NativePath(Clip("wmv")) + "\" />"), std::string::npos);
    EXPECT_NE(wmp->PageText().find("classid=\"CLSID:6BF52A52-394A-11d3-B153-00C04F79FAA6\""), std::string::npos);
    EXPECT_TRUE(FileExists(page));
    flash->Close(true);
    wmp->Close(true);
    PumpEvents(100);
    EXPECT_FALSE(FileExists(page));
    EXPECT_FALSE(FileExists(playlist));

    // The shared placement record: a RealPlayer window opens where the Flash one was.
    auto record = LoadPlacement(SettingsStore::Instance(), L"Settings", L"Placement1");
    ASSERT_TRUE(record);
    PlayerWindow* real = OpenPlayer(Clip("rm"));
    ASSERT_NE(real, nullptr);
    EXPECT_NE(dynamic_cast<CFlvDlg3*>(real), nullptr);
    ASSERT_TRUE(PumpUntil([&] { return real->PageLoaded(); }));
    EXPECT_EQ(real->GetPosition(), wxPoint(record->normal.left, record->normal.top));
    EXPECT_EQ(real->GetSize().x, record->normal.right - record->normal.left);
    EXPECT_NE(real->PageText().find("<param name=\"SRC\" value=\"" + NativePath(Clip("rm")) + "\">"), std::string::npos);
    ASSERT_TRUE(PumpUntil([&] { return real->State() != PlayerWindow::PlaybackState::Waiting; }, 60000));
    EXPECT_EQ(Eval(real->Browser(), "document.getElementById('wrapper').style.height"),
              std::to_string(real->GetSize().y - 150) + "px");

    // A search from the search bar opens a browser window on the search page with its type.
    real->Browser()->LoadURL(test::Site().base + "/api_search3.php?q=dogs&type=flv");
    ASSERT_TRUE(PumpUntil([] { return !BrowserWindow::OpenWindows().empty(); }));
    BrowserWindow* b = BrowserWindow::OpenWindows().back();
    ASSERT_TRUE(test::WaitForPage(b->Content(), test::Site().base + "/video_search.php?q=dogs&type=flv"));
    EXPECT_EQ(b->Type(), L"flv");
    real->Close(true);
    PumpEvents(50);

    // A missing file opens nothing.
    EXPECT_EQ(OpenPlayer(WidePath(folder_ + "/no such clip.flv")), nullptr);
}

TEST_F(PlayerTest, EveryInputFormatReallyPlays) {
    for (const auto& [ext, codecs] : kRecipes) {
        SCOPED_TRACE(ext);
        PlayAndCheck(Clip(ext), ext == "mp4");
    }
}

TEST_F(PlayerTest, EveryRealSamplePlaysDirectlyOrFromAPreviewCopy) {
    // The build's shared folder; QUILMER_SHARED_DIR in the environment names another (a worktree).
    const char* shared = std::getenv("QUILMER_SHARED_DIR");
    fs::path samples = fs::path(shared && shared[0] ? shared : QUILMER_SHARED_DIR) / "media-samples";
    if (!fs::exists(samples)) GTEST_SKIP() << "no samples folder";
    int previews = 0;
    for (const auto& entry : fs::directory_iterator(samples)) {
        if (entry.path().extension() == ".md") continue;
        SCOPED_TRACE(entry.path().filename().string());
        auto state = PlayAndCheck(WidePath(entry.path().string()), entry.path().filename() == "asf-wmv2-wmav2.asf");
        if (state == PlayerWindow::PlaybackState::PlayingPreview) {
            ++previews;
            std::printf("preview copy used for %s\n", entry.path().filename().string().c_str());
        }
    }
    std::printf("%d sample(s) played from a preview copy\n", previews);
}

TEST_F(PlayerTest, ClipNothingCanReadShowsAMessage) {
    std::string bogus = folder_ + "/not a clip.mp4";
    {
        std::ofstream(bogus) << "this is not video data at all";
    }
    PlayerWindow* w = OpenPlayer(WidePath(bogus));
    ASSERT_NE(w, nullptr);
    ASSERT_TRUE(PumpUntil([&] { return w->State() == PlayerWindow::PlaybackState::Failed; }, 60000));
    ASSERT_TRUE(PumpUntil([&] {
        return Eval(w->Browser(), "(function(){var m=document.getElementById('quilmer_message');return m?m.textContent:'';})()")
                   .find("cannot be played") != std::string::npos;
    }));
    test::Screenshot(w, "player-cannot-play");
    auto files = w->GeneratedFiles();
    w->Close(true);
    PumpEvents(50);
    for (const auto& f : files) EXPECT_FALSE(FileExists(f));
}

}  // namespace
}  // namespace quilmer
