// How the real main window ends and what it leaves behind, under Xvfb: a close that comes while a
// modal dialog is open (from another program over the window protocol, from the end of a
// handed-over join, during the join's result), the windows it opened, the Property command's
// probe that must not hold the window, and a save name that gets its extension only after the
// dialog's own overwrite question.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <wx/filedlg.h>
#include <wx/msgdlg.h>
#include <wx/uiaction.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <thread>

#include "../join/MediaTools.h"
#include "../support/DialogAnswers.h"
#include "../support/GuiTestSupport.h"
#include "../support/ScratchFolder.h"
#include "app/AboutDialog.h"
#include "app/MainDlg.h"
#include "app/PropertyDialog.h"
#include "app/core/SingleInstance.h"
#include "controls/MessageBoxes.h"
#include "controls/LanguageChooser.h"
#include "foundation/AppFolders.h"
#include "foundation/FileUtil.h"
#include "foundation/protocol/WindowFinder.h"
#include "lang/LanguageManager.h"
#include "web/BrowserWindow.h"
#include "web/PlayerWindow.h"

namespace quilmer {
namespace {

namespace fs = std::filesystem;
using test::DialogAnswers;
using test::PumpEvents;
using test::PumpUntil;
using test::SaveScreenshot;

struct Setting {
    std::unique_ptr<test::ScratchFolder> user;
    std::unique_ptr<test::ScratchFolder> clips;
    std::string flv, avi;
};
Setting& Shared() {
    static Setting setting;
    return setting;
}

class LifetimeEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        Setting& s = Shared();
        s.user = std::make_unique<test::ScratchFolder>("quilmer-life-user");
        s.clips = std::make_unique<test::ScratchFolder>("quilmer-life-clips");
        AppFolders::OverrideProgramFolder(WidePath(QUILMER_PROGRAM_DIR "/"));
        AppFolders::OverrideUserFolder(WidePath(s.user->Native()));
        s.flv = s.clips->File("first.flv");
        s.avi = s.clips->File("second.avi");
        using testing::MakeClip;
        ok_ = MakeClip(s.flv, 1, "160x120", "25", {"-c:v", "flv1"}, 44100, 2, {"-c:a", "libmp3lame"}) &&
              MakeClip(s.avi, 1, "160x120", "15", {"-c:v", "mpeg4"}, 22050, 1, {"-c:a", "libmp3lame"});
    }
    void TearDown() override {
        Shared().clips.reset();
        Shared().user.reset();
    }
    static bool Ready() { return ok_; }

private:
    static inline bool ok_ = false;
};

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new LifetimeEnvironment);

// Asks this process's main window to close over the window protocol, as the updater or any
// program of the user would; from a thread of its own, since the window answers on this one.
class CloseRequest {
public:
    CloseRequest() {
        thread_ = std::thread([this] {
            auto windows = EnumerateWindows(SingleInstance::kWindowClass);
            taken_ = !windows.empty() && PostCloseRequest(windows.front());
            done_ = true;
        });
    }
    ~CloseRequest() { thread_.join(); }
    bool Taken() {
        PumpUntil([this] { return done_.load(); }, 10000);
        return taken_;
    }

private:
    std::thread thread_;
    std::atomic<bool> done_{false};
    std::atomic<bool> taken_{false};
};

class LifetimeTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!LifetimeEnvironment::Ready()) GTEST_SKIP() << "ffmpeg could not make the test clips";
        output_ = std::make_unique<test::ScratchFolder>("quilmer-life-out");
        window_ = new CMainDlg();
        window_->Bind(wxEVT_DESTROY, [this](wxWindowDestroyEvent& event) {
            if (event.GetEventObject() == window_) destroyed_ = true;
            event.Skip();
        });
        window_->Show();
        PumpEvents(200);
    }
    void TearDown() override {
        if (window_ && !destroyed_) {
            window_->Close(true);
            WaitUntilDestroyed();
        }
        // Whatever a test opened goes with its window.
        for (wxWindow* left : wxTopLevelWindows) left->Destroy();
        PumpEvents(100);
        output_.reset();
    }

    bool WaitUntilDestroyed(int ms = 20000) {
        return PumpUntil(
            [this] {
                wxTheApp->ProcessIdle();
                return destroyed_;
            },
            ms);
    }

    void Press(int id) { test::Press(window_, id); }

    // A dialog left on screen until something else ends it; `shown` runs in its loop first.
    DialogAnswers::Handler LeaveOpen(std::function<void(wxDialog*)> shown) {
        return [shown](wxDialog* dialog) {
            dialog->CallAfter([dialog, shown] {
                PumpEvents(200);
                shown(dialog);
            });
            return static_cast<int>(wxID_NONE);
        };
    }

    DialogAnswers answers_;
    std::unique_ptr<test::ScratchFolder> output_;
    CMainDlg* window_ = nullptr;
    bool destroyed_ = false;
};

// ---- a close while modal dialogs are open ------------------------------------------------------

TEST_F(LifetimeTest, CloseRequestOfAnotherProgramEndsTheOpenDialogFirst) {
    // About, then the open dialog of Add: each is ended by the close, its code returns, and only
    // then does the window go.
    for (int command : {kIdAbout, kIdAdd}) {
        if (command == kIdAdd) SetUp();
        bool requested = false;
        bool dialogSeen = false;
        answers_.Then(LeaveOpen([&](wxDialog* dialog) {
            dialogSeen = true;
            SaveScreenshot(dialog, command == kIdAbout ? "close-request-over-about" : "close-request-over-add");
            CloseRequest request;
            requested = request.Taken();
        }));
        Press(command);  // returns once the dialog has ended
        EXPECT_TRUE(dialogSeen) << command;
        EXPECT_TRUE(requested) << command;
        EXPECT_TRUE(WaitUntilDestroyed()) << command;
        EXPECT_TRUE(answers_.Unexpected().empty()) << command;
        window_ = nullptr;
        destroyed_ = false;
    }
}

TEST_F(LifetimeTest, HandedOverJoinThatEndsUnderTheAboutBoxClosesBoth) {
    const Setting& s = Shared();
    CMainDlg::HandOverRequest job;
    job.clips = {WidePath(s.flv), WidePath(s.avi)};
    job.outputPath = WidePath(output_->File("handed.avi"));
    job.callerWindowClass = L"Nobody's Window";
    job.callerMessageName = L"UWM_Nobody";
    std::optional<bool> ended;
    window_->SetHandOverEndedHandler([&](bool finished) { ended = finished; });
    window_->StartHandedOverJob(job);
    ASSERT_TRUE(window_->IsJoining());
    // The box stays open while the join runs on beneath it.
    answers_.Then(LeaveOpen([&](wxDialog* dialog) { SaveScreenshot(dialog, "about-over-handed-over-join"); }));
    Press(kIdAbout);
    ASSERT_TRUE(ended.has_value()) << "the about box ended before the join did";
    EXPECT_TRUE(*ended);
    EXPECT_TRUE(WaitUntilDestroyed());
    window_ = nullptr;
    EXPECT_EQ(answers_.Seen(), 1);
    EXPECT_GT(testing::FileDuration(output_->File("handed.avi")), 1.5);
}

TEST_F(LifetimeTest, CloseDuringTheJoinResultLetsTheJoinFinishItsWork) {
    const Setting& s = Shared();
    window_->AddClips({WidePath(s.flv), WidePath(s.avi)});
    const std::string output = output_->File("joined.flv");
    answers_.Then([&](wxDialog* dialog) {
        static_cast<wxFileDialog*>(dialog)->SetPath(wxString::FromUTF8(output));
        return static_cast<int>(wxID_OK);
    });
    bool resultShown = false;
    answers_.Then(LeaveOpen([&](wxDialog* dialog) {
        resultShown = dynamic_cast<PropertyDialog*>(dialog) != nullptr;
        SaveScreenshot(dialog, "close-request-over-join-result");
        CloseRequest request;
        EXPECT_TRUE(request.Taken());
    }));
    Press(kIdJoin);
    ASSERT_TRUE(window_->IsJoining());
    EXPECT_TRUE(WaitUntilDestroyed(120000));
    window_ = nullptr;
    EXPECT_TRUE(resultShown);
    EXPECT_TRUE(answers_.Unexpected().empty());
    // The join's end ran whole: the output stays and its intermediate files are gone.
    EXPECT_EQ(output_->List(), (std::vector<std::string>{"joined.flv"}));
    EXPECT_GT(testing::FileDuration(output), 1.5);
}

TEST_F(LifetimeTest, ClosingTheMainWindowClosesThePlayerAndBrowserWindowsItOpened) {
    window_->AddClips({WidePath(Shared().flv)});
    Press(kIdPlay);
    window_->ExecuteCommand(kIdLink);  // a browser window on the maker's site
    PumpEvents(500);
    std::size_t others = 0;
    for (wxWindow* window : wxTopLevelWindows)
        if (window != window_ && window->IsShown()) ++others;
    ASSERT_GE(others, 2u);
    SaveScreenshot(window_, "main-window-with-player-and-browser");
    window_->Close();
    EXPECT_TRUE(WaitUntilDestroyed());
    window_ = nullptr;
    EXPECT_TRUE(PumpUntil(
        [] {
            wxTheApp->ProcessIdle();
            return wxTopLevelWindows.empty();
        },
        10000))
        << wxTopLevelWindows.size() << " windows left";
}

// ---- what every window of the program has -----------------------------------------------------

template <typename T>
std::vector<T*> WindowsOf() {
    std::vector<T*> found;
    for (wxWindow* window : wxTopLevelWindows)
        if (auto* typed = dynamic_cast<T*>(window); typed && !window->IsBeingDeleted()) found.push_back(typed);
    return found;
}

void PressKeyIn(wxTopLevelWindow* window, int key) {
    window->Raise();
    window->SetFocus();
    PumpEvents(200);
    wxUIActionSimulator keys;
    keys.Char(key);
    PumpEvents(300);
}

TEST_F(LifetimeTest, EveryWindowWearsTheProgramIconAndF1OpensHelpFromAPlayer) {
    EXPECT_FALSE(window_->GetIcons().IsEmpty());
    std::vector<std::string> bare;
    auto note = [&bare](wxDialog* dialog) {
        if (dialog->GetIcons().IsEmpty()) bare.push_back(wxString(dialog->GetClassInfo()->GetClassName()).utf8_string());
    };
    answers_.Then(test::Inspect(note));  // About
    Press(kIdAbout);
    answers_.Then(test::Inspect(note));  // the open dialog of Add
    Press(kIdAdd);
    answers_.Then(test::Inspect(note));  // a message box
    ShowMessage(window_, L"a message", L"Tips");
    answers_.Then(test::Inspect(note));  // a message with details
    ShowMessage(window_, L"a message", L"Tips", L"its details");
    window_->AddClips({WidePath(Shared().flv), WidePath(Shared().avi)});
    answers_.Then(test::Inspect(note));  // Property
    Press(kIdProperty);
    EXPECT_TRUE(PumpUntil([&] { return answers_.Seen() == 5; }));
    EXPECT_TRUE(bare.empty()) << bare.front();

    Press(kIdPlay);
    ASSERT_TRUE(PumpUntil([] { return WindowsOf<PlayerWindow>().size() == 1; }));
    PlayerWindow* player = WindowsOf<PlayerWindow>().front();
    EXPECT_FALSE(player->GetIcons().IsEmpty());
    SaveScreenshot(player, "player-window-with-icon");
    // F1 in the player: the help page in a browser window, which wears the icon as well.
    ASSERT_TRUE(WindowsOf<BrowserWindow>().empty());
    PressKeyIn(player, WXK_F1);
    ASSERT_TRUE(PumpUntil([] { return WindowsOf<BrowserWindow>().size() == 1; }, 10000));
    EXPECT_FALSE(WindowsOf<BrowserWindow>().front()->GetIcons().IsEmpty());
    WindowsOf<BrowserWindow>().front()->Close(true);
    PumpEvents(200);
    // Escape closes the player as its close box would.
    PressKeyIn(player, WXK_ESCAPE);
    EXPECT_TRUE(PumpUntil(
        [] {
            wxTheApp->ProcessIdle();
            return WindowsOf<PlayerWindow>().empty();
        },
        10000));
    EXPECT_TRUE(answers_.Unexpected().empty());
}

// ---- Property probes off the loop thread -------------------------------------------------------

TEST_F(LifetimeTest, SlowPropertyProbeLeavesTheWindowAnsweringAndEscapeOrCloseAbandonIt) {
    // A named pipe nobody writes holds a probe until its time limit.
    const std::string pipe = output_->File("stuck.flv");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    window_->AddClips({WidePath(pipe)});
    Press(kIdProperty);
    EXPECT_EQ(answers_.Seen(), 0) << "no dialog while the probe runs";
    ASSERT_TRUE(PumpUntil([&] { return !testing::ProcessesMentioning(pipe).empty(); }, 10000));
    // Other programs still find the window.
    std::atomic<bool> found{false}, asked{false};
    std::thread finder([&] {
        found = CWindowFinder(SingleInstance::kWindowClass, SingleInstance::kMessageName).Find().has_value();
        asked = true;
    });
    PumpUntil([&] { return asked.load(); }, 10000);
    finder.join();
    EXPECT_TRUE(found);
    SaveScreenshot(window_, "main-window-probing");

    // Escape, as the user presses it.
    window_->Raise();
    window_->SetFocus();
    PumpEvents(100);
    wxUIActionSimulator keys;
    keys.Char(WXK_ESCAPE);
    EXPECT_TRUE(PumpUntil([&] { return testing::ProcessesMentioning(pipe).empty(); }, 10000));
    PumpEvents(500);
    EXPECT_EQ(answers_.Seen(), 0) << "an abandoned probe shows nothing";

    // A close abandons the next one.
    Press(kIdProperty);
    ASSERT_TRUE(PumpUntil([&] { return !testing::ProcessesMentioning(pipe).empty(); }, 10000));
    window_->Close();
    EXPECT_TRUE(WaitUntilDestroyed(10000));
    window_ = nullptr;
    EXPECT_TRUE(testing::ProcessesMentioning(pipe).empty());
    EXPECT_EQ(answers_.Seen(), 0);
}

// ---- the save name completed after the dialog ---------------------------------------------------

TEST_F(LifetimeTest, TypedNameThatGetsAnExistingFilesExtensionAsksInTheUsersLanguage) {
    LanguageManager& languages = LanguageManager::Instance();
    int german = -1;
    for (std::size_t i = 0; i < languages.LanguageCount(); ++i)
        if (languages.LanguageAt(i).name == L"German") german = static_cast<int>(i);
    ASSERT_GE(german, 0);
    auto* chooser = dynamic_cast<LanguageChooser*>(wxWindow::FindWindowById(kIdLanguage, window_));
    ASSERT_NE(chooser, nullptr);
    chooser->SetSelection(german);
    wxCommandEvent pick(wxEVT_COMBOBOX, kIdLanguage);
    pick.SetInt(german);
    pick.SetEventObject(chooser);
    chooser->ProcessWindowEvent(pick);
    PumpEvents(100);

    const Setting& s = Shared();
    window_->AddClips({WidePath(s.flv), WidePath(s.avi)});
    output_->Write("taken.flv", "the user's own file");
    const std::string typed = output_->File("taken");  // the flv filter adds ".flv"
    auto typeName = [typed](wxDialog* dialog) {
        auto* files = dynamic_cast<wxFileDialog*>(dialog);
        EXPECT_NE(files, nullptr);
        if (!files) return static_cast<int>(wxID_CANCEL);
        files->SetPath(wxString::FromUTF8(typed));
        return static_cast<int>(wxID_OK);
    };
    std::wstring asked;
    answers_.Then(typeName);
    answers_.Then(LeaveOpen([&](wxDialog* dialog) {
        if (auto* box = dynamic_cast<wxMessageDialogBase*>(dialog)) asked = box->GetMessage().ToStdWstring();
        SaveScreenshot(dialog, "replace-question-german");
        dialog->EndModal(wxID_NO);
    }));
    // No: the save dialog again, then cancelled (and the second, flv-ordered one as well).
    answers_.Then([](wxDialog*) { return static_cast<int>(wxID_CANCEL); });
    answers_.Then([](wxDialog*) { return static_cast<int>(wxID_CANCEL); });
    Press(kIdJoin);
    EXPECT_NE(asked.find(L"Diese Datei ist bereits vorhanden. Soll sie ersetzt werden?"), std::wstring::npos)
        << NativePath(asked);
    EXPECT_NE(asked.find(WidePath(typed + ".flv")), std::wstring::npos);
    EXPECT_EQ(answers_.Seen(), 4);
    EXPECT_FALSE(window_->IsJoining());
    std::ifstream kept(output_->File("taken.flv"));
    std::stringstream text;
    text << kept.rdbuf();
    EXPECT_EQ(text.str(), "the user's own file");

    // Yes: the join starts on that name.
    answers_.Then(typeName);
    answers_.Then([](wxDialog*) { return static_cast<int>(wxID_YES); });
    Press(kIdJoin);
    EXPECT_TRUE(window_->IsJoining());
    EXPECT_NE(window_->Pipeline().State().outputPath.find(L"/taken."), std::wstring::npos);
    Press(kIdCancel);
    EXPECT_TRUE(answers_.Unexpected().empty());

    int english = -1;
    for (std::size_t i = 0; i < languages.LanguageCount(); ++i)
        if (languages.LanguageAt(i).name == L"English") english = static_cast<int>(i);
    chooser->SetSelection(english);
    pick.SetInt(english);
    chooser->ProcessWindowEvent(pick);
}

}  // namespace
}  // namespace quilmer
