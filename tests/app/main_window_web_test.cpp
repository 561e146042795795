// The real main window with its web pieces, in the real WebKit against the maker's site on
// loopback (tests/web/WebTestSupport starts it): the pane in its slot, the browser windows the
// window's commands open, the player windows its "Play..." buttons open, the join's reports.

#include <gtest/gtest.h>
#include <wx/hyperlink.h>
#include <wx/listctrl.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "../support/DialogAnswers.h"
#include "../support/ScratchFolder.h"
#include "../web/WebTestSupport.h"
#include "app/MainDlg.h"
#include "app/PropertyDialog.h"
#include "controls/LanguageChooser.h"
#include "controls/WindowSkin.h"
#include "foundation/AppFolders.h"
#include "foundation/FileUtil.h"
#include "foundation/Settings.h"
#include "foundation/Utf8.h"
#include "foundation/Version.h"
#include "lang/LanguageManager.h"
#include "web/BrowserWindow.h"
#include "web/PlayerWindow.h"
#include "web/WebContext.h"
#include "web/WebPane.h"

namespace quilmer {
namespace {

namespace fs = std::filesystem;
using test::Eval;
using test::PumpEvents;
using test::PumpUntil;
using test::Site;
using test::WaitForPage;

std::string Url(wxWebView* view) { return Eval(view, "location.href"); }
std::string Language() { return ToUtf8(LanguageManager::Instance().CurrentLanguage()); }
std::string Escaped(std::string text) {
    for (std::size_t at = text.find(' '); at != std::string::npos; at = text.find(' ', at)) text.replace(at, 1, "%20");
    return text;
}

BrowserWindow* NewestBrowser() {
    const auto& all = BrowserWindow::OpenWindows();
    return all.empty() ? nullptr : all.back();
}

std::vector<PlayerWindow*> Players() {
    std::vector<PlayerWindow*> players;
    for (wxWindow* w : wxTopLevelWindows)
        if (auto* p = dynamic_cast<PlayerWindow*>(w); p && !p->IsBeingDeleted()) players.push_back(p);
    return players;
}

void CloseWebWindows() {
    for (BrowserWindow* w : std::vector<BrowserWindow*>(BrowserWindow::OpenWindows())) w->Close(true);
    for (PlayerWindow* p : Players()) p->Close(true);
    test::Settle();
}

// Records the top-level windows handed to AttachSkin while it lives.
struct SkinAttachments {
    std::vector<wxTopLevelWindow*> windows;
    SkinAttacher previous = SetSkinAttacher([this](wxTopLevelWindow* w) { windows.push_back(w); });
    ~SkinAttachments() { SetSkinAttacher(previous); }
    bool Has(wxTopLevelWindow* w) const { return std::find(windows.begin(), windows.end(), w) != windows.end(); }
};

// A clip made with ffmpeg once for the runner.
class Clips {
public:
    static Clips& Get() {
        static Clips clips;
        return clips;
    }
    bool Make(const std::string& name, const std::string& codecs, bool audio = true) {
        std::string out = folder_.File(name);
        std::string cmd = "ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=160x120:rate=15 " +
                          std::string(audio ? "-f lavfi -i sine=frequency=440:sample_rate=44100 " : "") + "-t 4 " +
                          codecs + " '" + out + "'";
        return std::system(cmd.c_str()) == 0;
    }
    std::wstring Path(const std::string& name) { return WidePath(folder_.File(name)); }
    test::ScratchFolder folder_{"quilmer-main-web-clips"};
};

class MainWindowWeb : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        AppFolders::OverrideProgramFolder(WidePath(QUILMER_PROGRAM_DIR "/"));
        // The pane and the window's own commands use the same language: the program's.
        SetWebLanguageSource({});
    }
    void SetUp() override { Open(); }
    void TearDown() override {
        CloseWebWindows();
        if (window_) window_->Close(true);
        test::Settle();
    }
    void Open() {
        window_ = new CMainDlg(WidePath(QUILMER_PROGRAM_DIR "/"));
        window_->SetPosition(wxPoint(0, 0));
        window_->Show();
        PumpEvents(100);
    }
    // As a click on the window's control.
    void Press(int id) { test::Press(window_, id); }
    // A command no control carries, sent as a menu command of the window.
    void Command(int id) {
        wxCommandEvent event(wxEVT_MENU, id);
        event.SetEventObject(window_);
        window_->ProcessWindowEvent(event);
        PumpEvents(50);
    }
    void Key(int code) {
        wxKeyEvent event(wxEVT_CHAR_HOOK);
        event.m_keyCode = code;
        event.SetEventObject(window_);
        window_->ProcessWindowEvent(event);
        PumpEvents(50);
    }
    std::string StartAddress() {
        return Site().base + "/api_joiner.php?lang=" + Escaped(Language()) +
               "&type=joiner&ver=" + ToUtf8(FormatVersion(3));
    }
    // Waits for a new browser window and its content page.
    BrowserWindow* BrowserOn(const std::string& address) {
        EXPECT_TRUE(PumpUntil([] { return NewestBrowser() != nullptr; })) << address;
        BrowserWindow* w = NewestBrowser();
        if (!w) return nullptr;
        EXPECT_TRUE(WaitForPage(w->Content(), address)) << Url(w->Content());
        EXPECT_EQ(Url(w->Content()), address);
        return w;
    }

    CMainDlg* window_ = nullptr;
};

TEST_F(MainWindowWeb, PaneStartsWithLanguageAndVersionAndItsLinksOpenBrowserWindows) {
    WebPane* pane = window_->MainWebPane();
    ASSERT_NE(pane, nullptr);
    EXPECT_EQ(pane->GetParent(), window_->WebPaneSlot());
    EXPECT_EQ(pane->Browser()->GetId(), WebPane::kMainPaneId);
    // The pane fills its slot.
    test::Settle();
    EXPECT_EQ(pane->GetSize(), window_->WebPaneSlot()->GetClientSize());
    ASSERT_TRUE(WaitForPage(pane->Browser(), Site().base + "/api_joiner.php"));
    EXPECT_EQ(Url(pane->Browser()), StartAddress());
    EXPECT_EQ(Eval(pane->Browser(), "document.getElementById('lang').textContent"), Language());
    EXPECT_EQ(Eval(pane->Browser(), "document.getElementById('ver').textContent"), ToUtf8(FormatVersion(3)));
    EXPECT_FALSE(pane->ShowingSnapPage());
    test::Screenshot(window_, "main-window-with-pane");

    // A link of the pane opens a browser window; the pane keeps its page.
    Eval(pane->Browser(), "document.getElementById('help_link').click()");
    BrowserWindow* help = BrowserOn(Site().base + "/api_help.php?lang=" + Escaped(Language()) + "&type=joiner");
    ASSERT_NE(help, nullptr);
    EXPECT_EQ(help->Type(), L"flv");
    EXPECT_EQ(Url(pane->Browser()), StartAddress());
    test::Screenshot(help, "browser-window-from-main-pane");
    CloseWebWindows();

    // Another language, then command 2007: the pane starts again in it, and the link follows.
    LanguageManager& languages = LanguageManager::Instance();
    const std::wstring before = languages.CurrentLanguage();
    int french = -1;
    for (std::size_t i = 0; i < languages.LanguageCount(); ++i)
        if (languages.LanguageAt(i).name == L"French") french = static_cast<int>(i);
    ASSERT_GE(french, 0);
    auto* chooser = dynamic_cast<LanguageChooser*>(wxWindow::FindWindowById(kIdLanguage, window_));
    ASSERT_NE(chooser, nullptr);
    auto choose = [&](int index) {
        chooser->SetSelection(index);
        wxCommandEvent event(wxEVT_COMBOBOX, kIdLanguage);
        event.SetInt(index);
        event.SetEventObject(chooser);
        chooser->ProcessWindowEvent(event);
        PumpEvents(100);
    };
    choose(french);
    ASSERT_EQ(Language(), "French");
    Command(kIdRefresh);
    ASSERT_TRUE(PumpUntil([&] { return Url(pane->Browser()) == StartAddress(); })) << Url(pane->Browser());
    ASSERT_TRUE(WaitForPage(pane->Browser(), StartAddress()));
    EXPECT_EQ(Eval(pane->Browser(), "document.getElementById('lang').textContent"), "French");
    for (std::size_t i = 0; i < languages.LanguageCount(); ++i)
        if (languages.LanguageAt(i).name == before) choose(static_cast<int>(i));
    EXPECT_EQ(languages.CurrentLanguage(), before);
}

TEST_F(MainWindowWeb, HelpKeyLinkAndVideoDownloadOpenTheirPages) {
    const std::string lang = Escaped(Language());
    SkinAttachments skins;
    Key(WXK_F1);
    BrowserWindow* help = BrowserOn(Site().base + "/api_help.php?lang=" + lang + "&type=joiner");
    ASSERT_NE(help, nullptr);
    EXPECT_TRUE(skins.Has(help));  // skinned like every other window of the program
    EXPECT_EQ(help->Type(), L"flv");
    EXPECT_EQ(help->Language(), LanguageManager::Instance().CurrentLanguage());
    CloseWebWindows();

    // No companion program anywhere: the download site.
    SettingsStore::Instance().WriteString(L"Companion", L"AppPath", nullptr);
    Press(kIdVideoDownload);
    BrowserWindow* download = BrowserOn(Site().base + "/soft.php?type=flv&lang=" + lang);
    ASSERT_NE(download, nullptr);
    EXPECT_EQ(download->Type(), L"flv");
    CloseWebWindows();

    // The link 1039 goes to the site's start page for the language.
    wxHyperlinkEvent link(window_, kIdLink, "");
    window_->ProcessWindowEvent(link);
    BrowserWindow* site = BrowserOn(Site().base + "/api_joiner.php?lang=" + lang);
    ASSERT_NE(site, nullptr);
    CloseWebWindows();

    // A companion program installed where its installer says: it starts, and no window opens.
    test::ScratchFolder folder("quilmer-companion \"x\"");
    std::string marker = folder.File("started");
    std::string program = folder.File("corvane-downloader");
    {
        std::ofstream script(program);
        script << "#!/bin/sh\necho \"$#\" > '" << marker << "'\n";
    }
    fs::permissions(program, fs::perms::owner_all);
    SettingsStore::Instance().WriteString(L"Companion", L"AppPath", WidePath(folder.Native()));
    SettingsStore::Instance().WriteString(L"Companion", L"AppName", L"corvane-downloader");
    Press(kIdVideoDownload);
    EXPECT_TRUE(PumpUntil([&] { return test::ReadText(marker) == "0\n"; }, 10000));
    PumpEvents(200);
    EXPECT_TRUE(BrowserWindow::OpenWindows().empty());
    SettingsStore::Instance().WriteString(L"Companion", L"AppPath", nullptr);
}

// Waits until the player really plays: the media element reports "playing" and its time moves.
void ExpectPlaying(PlayerWindow* w, const char* what) {
    ASSERT_NE(w, nullptr) << what;
    ASSERT_TRUE(PumpUntil(
        [&] {
            return w->State() == PlayerWindow::PlaybackState::Playing ||
                   w->State() == PlayerWindow::PlaybackState::PlayingPreview ||
                   w->State() == PlayerWindow::PlaybackState::Failed;
        },
        60000))
        << what;
    EXPECT_NE(w->State(), PlayerWindow::PlaybackState::Failed) << what;
    auto time = [&] {
        std::string t = Eval(w->Browser(), "String(document.getElementById('quilmer_media').currentTime)");
        return t.empty() ? -1.0 : std::atof(t.c_str());
    };
    double first = time();
    EXPECT_TRUE(PumpUntil([&] { return time() > first + 0.2; }, 10000)) << what << " stayed at " << first;
    EXPECT_EQ(Eval(w->Browser(), "String(document.getElementById('quilmer_media').paused)"), "false") << what;
}

TEST_F(MainWindowWeb, PlayButtonDoubleClickAndPropertyPlayOpenPlayersThatPlay) {
    Clips& clips = Clips::Get();
    ASSERT_TRUE(clips.Make("first clip.mp4", "-c:v libx264 -pix_fmt yuv420p -c:a aac -f mp4"));
    ASSERT_TRUE(clips.Make("second.wmv", "-c:v wmv2 -c:a wmav2 -f asf"));
    window_->AddClips({clips.Path("first clip.mp4"), clips.Path("second.wmv")});
    ASSERT_EQ(window_->Clips().Count(), 2u);

    // "Play..." with the second row selected: a Windows Media player on that clip.
    window_->SelectRow(1);
    SkinAttachments skins;
    Press(kIdPlay);
    ASSERT_EQ(Players().size(), 1u);
    PlayerWindow* player = Players().front();
    EXPECT_TRUE(skins.Has(player));
    EXPECT_EQ(player->MediaPath(), clips.Path("second.wmv"));
    EXPECT_EQ(player->Kind(), PlayerKind::WindowsMedia);
    ExpectPlaying(player, "Play button");
    test::Screenshot(player, "player-from-main-window");
    std::vector<std::wstring> files = player->GeneratedFiles();
    EXPECT_FALSE(files.empty());
    player->Close(true);
    test::Settle();
    for (const auto& f : files) EXPECT_FALSE(FileExists(f)) << ToUtf8(f);

    // A double click on the first row plays it in the Flash-page player.
    auto* list = dynamic_cast<wxListCtrl*>(wxWindow::FindWindowById(kIdClipList, window_));
    ASSERT_NE(list, nullptr);
    wxListEvent activated(wxEVT_LIST_ITEM_ACTIVATED, kIdClipList);
    activated.m_itemIndex = 0;
    activated.SetEventObject(list);
    list->ProcessWindowEvent(activated);
    PumpEvents(50);
    ASSERT_EQ(Players().size(), 1u);
    EXPECT_EQ(Players().front()->MediaPath(), clips.Path("first clip.mp4"));
    EXPECT_EQ(Players().front()->Kind(), PlayerKind::Flash);
    ExpectPlaying(Players().front(), "double click");
    CloseWebWindows();

    // The property dialog's "Play...".
    ClipProperties record;
    record.path = clips.Path("first clip.mp4");
    auto* dialog = new PropertyDialog(window_, record, 0);
    dialog->Show();
    PumpEvents(50);
    wxWindow* play = wxWindow::FindWindowById(kIdPropPlay, dialog);
    ASSERT_NE(play, nullptr);
    wxCommandEvent click(wxEVT_BUTTON, kIdPropPlay);
    click.SetEventObject(play);
    play->ProcessWindowEvent(click);
    PumpEvents(50);
    ASSERT_EQ(Players().size(), 1u);
    ExpectPlaying(Players().front(), "property dialog");
    dialog->Destroy();

    // A clip that has gone since it was added opens nothing.
    CloseWebWindows();
    fs::remove(fs::path(NativePath(clips.Path("second.wmv"))));
    window_->SelectRow(1);
    Press(kIdPlay);
    PumpEvents(100);
    EXPECT_TRUE(Players().empty());
}

TEST_F(MainWindowWeb, AClipDroppedOnThePaneJoinsTheListAndThePaneKeepsItsPage) {
    ASSERT_TRUE(Clips::Get().Make("dropped.mp4", "-c:v libx264 -pix_fmt yuv420p -c:a aac -f mp4"));
    WebPane* pane = window_->MainWebPane();
    ASSERT_TRUE(WaitForPage(pane->Browser(), Site().base + "/api_joiner.php"));
    std::size_t before = window_->Clips().Count();
    test::DragFilesOnto(pane->Browser(), {NativePath(Clips::Get().Path("dropped.mp4"))});
    ASSERT_TRUE(PumpUntil([&] { return window_->Clips().Count() == before + 1; }, 5000));
    EXPECT_EQ(window_->Clips().At(before).path, Clips::Get().Path("dropped.mp4"));
    PumpEvents(500);
    EXPECT_EQ(Url(pane->Browser()), StartAddress());
    test::Screenshot(window_, "main-window-clip-dropped-on-pane");
}

TEST_F(MainWindowWeb, SiteDownShowsTheSnapPageInThePane) {
    window_->Close(true);
    test::Settle();
    const std::string live = Site().base;
    const std::string down = "http://127.0.0.1:" + std::to_string(test::ClosedPort());
    setenv("QUILMER_SITE_URL", down.c_str(), 1);
    Open();
    WebPane* pane = window_->MainWebPane();
    ASSERT_NE(pane, nullptr);
    bool snapped = PumpUntil([&] { return pane->ShowingSnapPage(); }, 30000);
    setenv("QUILMER_SITE_URL", live.c_str(), 1);
    ASSERT_TRUE(snapped);
    ASSERT_TRUE(PumpUntil([&] { return Eval(pane->Browser(), "document.readyState") == "complete" &&
                                       Eval(pane->Browser(), "document.images.length") == "1"; }));
    // The picture links to the download page of the site the program is set to.
    EXPECT_NE(Eval(pane->Browser(), "document.images[0].parentNode.href").find(down + "/download.php"),
              std::string::npos);
    EXPECT_EQ(Eval(pane->Browser(), "String(document.images[0].naturalWidth > 0)"), "true");
    test::Screenshot(window_, "main-window-site-down");
}

TEST_F(MainWindowWeb, HandedOverJoinReportsIncompleteClipsThroughTheReportBrowser) {
    ReportBrowser* reports = window_->Reports();
    ASSERT_NE(reports, nullptr);
    EXPECT_EQ(reports->Browser()->GetParent(), window_);
    EXPECT_EQ(reports->Browser()->GetId(), ReportBrowser::kId);
    EXPECT_FALSE(reports->Browser()->IsShown());

    // Clips without sound lack the audio figures: each is reported, and the join still finishes.
    Clips& clips = Clips::Get();
    ASSERT_TRUE(clips.Make("silent one.flv", "-c:v flv1 -f flv", false));
    ASSERT_TRUE(clips.Make("silent two.flv", "-c:v flv1 -f flv", false));
    test::ScratchFolder out("quilmer-main-web-out");
    CMainDlg::HandOverRequest job;
    job.clips = {clips.Path("silent one.flv"), clips.Path("silent two.flv")};
    job.outputPath = WidePath(out.File("joined.flv"));
    job.sourceUrl = L"http://v.example/watch?id=7&t=a b";
    std::optional<bool> ended;
    window_->SetHandOverEndedHandler([&](bool finished) { ended = finished; });
    const std::string log = Site().runtime + "/reports.log";
    window_->StartHandedOverJob(job);
    ASSERT_TRUE(PumpUntil([&] { return ended.has_value(); }, 120000));
    EXPECT_TRUE(*ended);
    EXPECT_TRUE(FileExists(job.outputPath));
    window_ = nullptr;  // the window closes itself after a handed-over join
    EXPECT_TRUE(PumpUntil([&] {
        return test::ReadText(log).find("GET /api_joinerlog.php?lang=" + Escaped(Language()) +
                                        "&url=http://v.example/watch%3fid%3d7%26t%3da%20b ") != std::string::npos;
    })) << test::ReadText(log);
}

}  // namespace
}  // namespace quilmer
