// The real main window of quilmer, driven under Xvfb: buttons and list keys receive the events
// a user's clicks and keys make, the open and save dialogs are answered by a modal-dialog hook,
// and the joins run the encoder adapter of the program folder on clips made with ffmpeg.

#include <gtest/gtest.h>
#include <wx/bmpbuttn.h>
#include <wx/button.h>
#include <wx/dnd.h>
#include <wx/filedlg.h>
#include <wx/gauge.h>
#include <wx/listctrl.h>
#include <wx/modalhook.h>
#include <wx/msgdlg.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/tooltip.h>

#include <algorithm>
#include <filesystem>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <thread>

#include "../join/MediaTools.h"
#include "../support/DialogAnswers.h"
#include "../support/GuiTestSupport.h"
#include "../support/ScratchFolder.h"
#include "app/AboutDialog.h"
#include "app/MainDlg.h"
#include "app/PropertyDialog.h"
#include "app/core/HandOver.h"
#include "app/core/StartupArgument.h"
#include "controls/LanguageChooser.h"
#include "controls/MessageBoxes.h"
#include "controls/WxEventLoop.h"
#include "foundation/AppFolders.h"
#include "foundation/FileUtil.h"
#include "foundation/Log.h"
#include "foundation/SiteAddresses.h"
#include "lang/IniFile.h"
#include "lang/LanguageManager.h"

namespace quilmer {
namespace {

namespace fs = std::filesystem;
using test::PumpEvents;
using test::PumpUntil;
using test::SaveScreenshot;
using test::DialogAnswers;
using test::Inspect;
using test::TextOf;

// Shared by every test: the program folder of the build, a private user folder, and the clips.
struct Setting {
    std::unique_ptr<test::ScratchFolder> user;
    std::unique_ptr<test::ScratchFolder> clips;
    std::string flv, mp4, avi, threeGp, longClip;
};
Setting& Shared() {
    static Setting setting;
    return setting;
}

class GuiEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        Setting& s = Shared();
        s.user = std::make_unique<test::ScratchFolder>("quilmer-gui-user");
        s.clips = std::make_unique<test::ScratchFolder>("quilmer-gui-clips");
        AppFolders::OverrideProgramFolder(WidePath(QUILMER_PROGRAM_DIR "/"));
        AppFolders::OverrideUserFolder(WidePath(s.user->Native()));
        s.flv = s.clips->File("first clip.flv");
        s.mp4 = s.clips->File("second «clip».mp4");
        s.avi = s.clips->File("third.avi");
        s.threeGp = s.clips->File("phone.3gp");
        s.longClip = s.clips->File("long.flv");
        using testing::MakeClip;
        ok_ = MakeClip(s.flv, 1, "160x120", "25", {"-c:v", "flv1"}, 44100, 2, {"-c:a", "libmp3lame"}) &&
              MakeClip(s.mp4, 1, "176x144", "30", {"-c:v", "libx264"}, 48000, 1, {"-c:a", "aac"}) &&
              MakeClip(s.avi, 1, "160x120", "15", {"-c:v", "mpeg4"}, 22050, 1, {"-c:a", "libmp3lame"}) &&
              MakeClip(s.threeGp, 1, "176x144", "15", {"-c:v", "libx264"}, 0, 0, {}) &&
              MakeClip(s.longClip, 30, "320x240", "25", {"-c:v", "flv1"}, 44100, 2, {"-c:a", "libmp3lame"});
    }
    void TearDown() override {
        Shared().clips.reset();
        Shared().user.reset();
    }
    static bool Ready() { return ok_; }

private:
    static inline bool ok_ = false;
};

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new GuiEnvironment);

// A file dialog answered with one path (OK), or cancelled when path is empty.
DialogAnswers::Handler ChooseFile(const std::string& path, std::vector<wxString>* wildcards = nullptr) {
    return [path, wildcards](wxDialog* dialog) {
        auto* files = dynamic_cast<wxFileDialog*>(dialog);
        EXPECT_NE(files, nullptr);
        if (!files) return static_cast<int>(wxID_CANCEL);
        if (wildcards) wildcards->push_back(files->GetWildcard());
        if (path.empty()) return static_cast<int>(wxID_CANCEL);
        files->SetPath(wxString::FromUTF8(path));
        return static_cast<int>(wxID_OK);
    };
}

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!GuiEnvironment::Ready()) GTEST_SKIP() << "ffmpeg could not make the test clips";
        output_ = std::make_unique<test::ScratchFolder>("quilmer-gui-out");
        window_ = new CMainDlg();
        window_->Show();
        PumpEvents(200);
    }
    void TearDown() override {
        if (window_) {
            window_->Close(true);
            PumpEvents(100);
        }
        output_.reset();
    }

    template <typename T = wxWindow>
    T* Control(int id) {
        return dynamic_cast<T*>(wxWindow::FindWindowById(id, window_));
    }
    wxListCtrl* List() { return Control<wxListCtrl>(kIdClipList); }

    // As a click on the control: its command event, handled where the click's would be.
    void Press(int id) { test::Press(window_, id); }
    void SelectRow(long row) {
        List()->SetItemState(row, wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED,
                             wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED);
        PumpEvents(30);
    }
    void PressKeyInList(int key) {
        wxListEvent event(wxEVT_LIST_KEY_DOWN, kIdClipList);
        event.SetKeyCode(key);
        event.SetEventObject(List());
        List()->ProcessWindowEvent(event);
        PumpEvents(30);
    }
    void AddByDialog(const std::string& path) {
        answers_.Then(ChooseFile(path));
        Press(kIdAdd);
    }
    void Drop(const std::vector<std::string>& paths) {
        wxArrayString names;
        for (const auto& path : paths) names.push_back(wxString::FromUTF8(path));
        auto* target = dynamic_cast<wxFileDropTarget*>(List()->GetDropTarget());
        ASSERT_NE(target, nullptr);
        target->OnDropFiles(10, 10, names);
        PumpEvents(30);
    }
    std::vector<std::wstring> Rows() {
        std::vector<std::wstring> rows;
        for (long i = 0; i < List()->GetItemCount(); ++i)
            rows.push_back(List()->GetItemText(i).ToStdWstring());
        return rows;
    }
    bool Enabled(int id) { return Control(id)->IsEnabled(); }
    std::vector<std::string> FilesIn(const std::string& folder) {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder))
            names.push_back(entry.path().filename().string());
        return names;
    }

    DialogAnswers answers_;
    std::unique_ptr<test::ScratchFolder> output_;
    CMainDlg* window_ = nullptr;
};

TEST_F(MainWindowTest, StartsIdleWithItsControlsAndTexts) {
    EXPECT_EQ(window_->GetTitle(), "Corvane Quilmer");
    EXPECT_EQ(window_->GetName(), "Corvane Video");
    EXPECT_FALSE(Enabled(kIdJoin));
    EXPECT_FALSE(Enabled(kIdCancel));
    for (int id :
         {kIdMoveUp, kIdMoveDown, kIdPlay, kIdAdd, kIdRemove, kIdProperty, kIdVideoDownload, kIdAbout})
        EXPECT_TRUE(Enabled(id)) << id;
    EXPECT_EQ(TextOf(window_, kIdJoin), L"&Join...");
    EXPECT_EQ(Control<wxButton>(kIdMoveUp)->GetToolTipText(), "Move Up");
    EXPECT_EQ(Control<wxButton>(kIdProperty)->GetToolTipText(), "Property...");
    wxListItem column;
    column.SetMask(wxLIST_MASK_TEXT | wxLIST_MASK_WIDTH | wxLIST_MASK_FORMAT);
    ASSERT_TRUE(List()->GetColumn(1, column));
    EXPECT_EQ(column.GetText(), "File Path");
    EXPECT_EQ(column.GetAlign(), wxLIST_FORMAT_CENTRE);
    EXPECT_EQ(List()->GetColumnWidth(0), 280);
    EXPECT_EQ(Control<wxGauge>(kIdProgress)->GetValue(), 0);
    // The window keeps the size its layout was made for.
    EXPECT_EQ(window_->GetClientSize(), wxDLG_UNIT(Control(kIdClipList)->GetParent(), wxSize(419, 332)));
    SaveScreenshot(window_, "main-window-idle");
    EXPECT_TRUE(answers_.Unexpected().empty());
}

TEST_F(MainWindowTest, ColumnWidthsAreKeptBetweenRuns) {
    List()->SetColumnWidth(0, 200);
    List()->SetColumnWidth(1, 310);
    window_->Close(true);
    PumpEvents(50);
    window_ = new CMainDlg();
    window_->Show();
    PumpEvents(100);
    EXPECT_EQ(List()->GetColumnWidth(0), 200);
    EXPECT_EQ(List()->GetColumnWidth(1), 310);
    SaveScreenshot(window_, "main-window-columns-restored");
    List()->SetColumnWidth(0, 280);
    List()->SetColumnWidth(1, 250);
}

TEST_F(MainWindowTest, AddSkipsDuplicatesAndEnablesJoinFromTwoClips) {
    const Setting& s = Shared();
    AddByDialog(s.flv);
    AddByDialog(s.flv);  // the same file again
    EXPECT_EQ(Rows(), (std::vector<std::wstring>{L"first clip.flv"}));
    EXPECT_FALSE(Enabled(kIdJoin));
    answers_.Then(ChooseFile(""));  // a cancelled dialog changes nothing
    Press(kIdAdd);
    EXPECT_EQ(List()->GetItemCount(), 1);

    AddByDialog(s.mp4);
    EXPECT_EQ(Rows(), (std::vector<std::wstring>{L"first clip.flv", L"second «clip».mp4"}));
    EXPECT_EQ(List()->GetItemText(1, 1).ToStdWstring(), WidePath(s.clips->Native()));
    EXPECT_TRUE(Enabled(kIdJoin));

    // Dropped files join the list by the same rule; a dropped folder adds nothing.
    Drop({s.avi, s.mp4, s.clips->Path()});
    EXPECT_EQ(Rows(), (std::vector<std::wstring>{L"first clip.flv", L"second «clip».mp4", L"third.avi"}));
    EXPECT_EQ(answers_.Seen(), 4);
    SaveScreenshot(window_, "main-window-added");
}

TEST_F(MainWindowTest, MoveRemoveAndDeleteKeepASensibleSelection) {
    const Setting& s = Shared();
    window_->AddClips({WidePath(s.flv), WidePath(s.mp4), WidePath(s.avi)});
    SelectRow(1);
    Press(kIdMoveUp);
    EXPECT_EQ(Rows(), (std::vector<std::wstring>{L"second «clip».mp4", L"first clip.flv", L"third.avi"}));
    EXPECT_EQ(window_->SelectedRow(), 0u);
    Press(kIdMoveUp);  // the first row goes nowhere
    EXPECT_EQ(Rows(), (std::vector<std::wstring>{L"second «clip».mp4", L"first clip.flv", L"third.avi"}));
    EXPECT_EQ(window_->SelectedRow(), 0u);
    Press(kIdMoveDown);
    EXPECT_EQ(Rows(), (std::vector<std::wstring>{L"first clip.flv", L"second «clip».mp4", L"third.avi"}));
    SelectRow(2);
    Press(kIdMoveDown);  // the last row goes nowhere
    EXPECT_EQ(Rows(), (std::vector<std::wstring>{L"first clip.flv", L"second «clip».mp4", L"third.avi"}));
    EXPECT_EQ(window_->SelectedRow(), 2u);
    SaveScreenshot(window_, "main-window-reordered");

    PressKeyInList(WXK_DELETE);
    EXPECT_EQ(Rows(), (std::vector<std::wstring>{L"first clip.flv", L"second «clip».mp4"}));
    EXPECT_EQ(window_->SelectedRow(), 1u);
    EXPECT_TRUE(Enabled(kIdJoin));
    SelectRow(0);
    Press(kIdRemove);
    EXPECT_EQ(Rows(), (std::vector<std::wstring>{L"second «clip».mp4"}));
    EXPECT_FALSE(Enabled(kIdJoin));
    SelectRow(0);
    List()->SetItemState(0, 0, wxLIST_STATE_SELECTED);
    Press(kIdRemove);  // nothing selected: nothing removed
    EXPECT_EQ(List()->GetItemCount(), 1);
}

TEST_F(MainWindowTest, PropertyShowsTheSelectedClip) {
    const Setting& s = Shared();
    window_->AddClips({WidePath(s.flv), WidePath(s.mp4)});
    SelectRow(1);
    std::map<int, std::wstring> shown;
    answers_.Then(Inspect([&shown](wxDialog* dialog) {
        for (int id : {kIdPropFileName, kIdPropType, kIdPropDimensions, kIdPropDuration, kIdPropVideoCodec,
                       kIdPropAudioCodec, kIdPropAudioBitrate})
            shown[id] = TextOf(dialog, id);
        shown[0] = dialog->GetTitle().ToStdWstring();
        SaveScreenshot(dialog, "property-dialog-clip");
    }));
    Press(kIdProperty);
    // The probe runs off the loop thread: the dialog comes once it has answered.
    EXPECT_TRUE(PumpUntil([&] { return !shown[0].empty(); }));
    EXPECT_EQ(shown[0], L"Property");
    EXPECT_EQ(shown[kIdPropFileName], WidePath(s.mp4));
    EXPECT_EQ(shown[kIdPropType], L"mp4");
    EXPECT_EQ(shown[kIdPropDimensions], L"176x144 pixels");
    EXPECT_EQ(shown[kIdPropVideoCodec], L"h264");
    EXPECT_EQ(shown[kIdPropAudioCodec], L"aac");
    EXPECT_EQ(shown[kIdPropDuration].substr(0, 8), L"00:00:01");
    EXPECT_TRUE(answers_.Unexpected().empty());
}

TEST_F(MainWindowTest, JoinWithOneClipDoesNothing) {
    window_->AddClips({WidePath(Shared().flv)});
    EXPECT_FALSE(Enabled(kIdJoin));
    Press(kIdJoin);  // even when the command arrives anyway
    EXPECT_EQ(answers_.Seen(), 0);
    EXPECT_FALSE(window_->IsJoining());
    SaveScreenshot(window_, "main-window-one-clip");
}

TEST_F(MainWindowTest, ThreeGpFirstOffersMp4FirstAndTwoCancelsLeaveTheWindowIdle) {
    const Setting& s = Shared();
    window_->AddClips({WidePath(s.threeGp), WidePath(s.flv)});
    std::vector<wxString> wildcards;
    answers_.Then(ChooseFile("", &wildcards));
    answers_.Then(ChooseFile("", &wildcards));
    Press(kIdJoin);
    ASSERT_EQ(wildcards.size(), 2u);
    EXPECT_TRUE(wildcards[0].StartsWith("Mp4 Files (*.mp4)|*.mp4|Flv Files (*.flv)|*.flv|Avi"))
        << wildcards[0];
    EXPECT_TRUE(wildcards[1].StartsWith("Flv Files (*.flv)|*.flv|Mp4 Files (*.mp4)|*.mp4")) << wildcards[1];
    EXPECT_FALSE(window_->IsJoining());
    EXPECT_TRUE(Enabled(kIdJoin));
    EXPECT_EQ(List()->GetItemCount(), 2);
    SaveScreenshot(window_, "main-window-3gp-save-cancelled");
}

TEST_F(MainWindowTest, JoinOfMixedClipsShowsTheTimeLeftAndTheOutputsProperties) {
    // Three short clips of different kinds, then one of 30 s: the time left can be told once a
    // few clips are converted, and the rest of the join lasts long enough to show it.
    const Setting& s = Shared();
    window_->AddClips({WidePath(s.flv), WidePath(s.mp4), WidePath(s.avi), WidePath(s.longClip)});
    const std::string output = output_->File("together.mp4");
    answers_.Then(ChooseFile(output));
    std::map<int, std::wstring> shown;
    bool resultShown = false;
    answers_.Then(Inspect([&](wxDialog* dialog) {
        auto* properties = dynamic_cast<PropertyDialog*>(dialog);
        EXPECT_NE(properties, nullptr);
        if (properties) {
            EXPECT_EQ(properties->ResultFlag(), 1);
        }
        for (int id : {kIdPropFileName, kIdPropType, kIdPropDuration, kIdPropVideoCodec})
            shown[id] = TextOf(dialog, id);
        SaveScreenshot(dialog, "property-dialog-join-result");
        resultShown = true;
    }));
    Press(kIdJoin);
    ASSERT_TRUE(window_->IsJoining());
    EXPECT_FALSE(Enabled(kIdJoin));
    EXPECT_FALSE(Enabled(kIdAdd));
    EXPECT_TRUE(Enabled(kIdCancel));
    EXPECT_TRUE(Enabled(kIdPlay));
    // The status names the step while it runs.
    EXPECT_TRUE(PumpUntil([&] { return window_->StepText().find(L"clip") != std::wstring::npos; }, 20000));
    SaveScreenshot(window_, "main-window-joining");
    bool sawEncoding = false;
    bool sawTimeLeft = false;
    const auto joinStarted = std::chrono::steady_clock::now();
    ASSERT_TRUE(PumpUntil(
        [&] {
            sawEncoding =
                sawEncoding || window_->StepText().find(L"Encoding the output, pass") != std::wstring::npos;
            sawTimeLeft = sawTimeLeft || window_->TimeLeft().rfind(L"About ", 0) == 0;
            return resultShown;
        },
        120000));
    EXPECT_TRUE(sawEncoding);
    // The estimate keeps quiet for a join about to end; on a fast machine this one may end
    // before it can be trusted, but a join that ran for a while must have shown one.
    const double joinSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - joinStarted).count();
    if (joinSeconds >= 12) {
        EXPECT_TRUE(sawTimeLeft) << "a join of " << joinSeconds << " s showed no time left";
    } else if (!sawTimeLeft) {
        std::printf("note: the join took %.1f s, too short for a time-left figure\n", joinSeconds);
    }
    EXPECT_EQ(shown[kIdPropFileName], WidePath(output));
    EXPECT_EQ(shown[kIdPropType], L"mp4");
    EXPECT_EQ(shown[kIdPropVideoCodec], L"h264");
    EXPECT_EQ(shown[kIdPropDuration].substr(0, 7), L"00:00:3");
    EXPECT_GT(testing::FileDuration(output), 32.5);
    PumpEvents(100);
    EXPECT_EQ(List()->GetItemCount(), 0);
    EXPECT_FALSE(Enabled(kIdJoin));
    EXPECT_FALSE(Enabled(kIdCancel));
    EXPECT_TRUE(Enabled(kIdAdd));
    EXPECT_EQ(Control<wxGauge>(kIdProgress)->GetValue(), 0);
    EXPECT_EQ(FilesIn(output_->Path()), (std::vector<std::string>{"together.mp4"}));
    EXPECT_TRUE(answers_.Unexpected().empty()) << (answers_.Unexpected().empty() ? "" : answers_.Unexpected().front());
    SaveScreenshot(window_, "main-window-after-join");
}

TEST_F(MainWindowTest, CancelledJoinEmptiesTheListAndLeavesNothingBehind) {
    const Setting& s = Shared();
    window_->AddClips({WidePath(s.longClip), WidePath(s.flv), WidePath(s.avi)});
    answers_.Then(ChooseFile(output_->File("stopped.flv")));
    Press(kIdJoin);
    ASSERT_TRUE(window_->IsJoining());
    // Stop while the encoder converts the first clip.
    ASSERT_TRUE(PumpUntil([&] {
        return window_->Pipeline().State().phase == JoinPhase::Converting &&
               !testing::ProcessesMentioning(output_->Path()).empty();
    }));
    SaveScreenshot(window_, "main-window-before-cancel");
    Press(kIdCancel);
    EXPECT_FALSE(window_->IsJoining());
    EXPECT_EQ(List()->GetItemCount(), 0);
    EXPECT_TRUE(Enabled(kIdJoin));
    EXPECT_FALSE(Enabled(kIdCancel));
    EXPECT_EQ(Control<wxGauge>(kIdProgress)->GetValue(), 0);
    PumpEvents(300);
    EXPECT_TRUE(FilesIn(output_->Path()).empty());
    EXPECT_TRUE(testing::ProcessesMentioning(output_->Path()).empty());
    Press(kIdJoin);  // the list is empty: nothing happens
    EXPECT_EQ(answers_.Seen(), 1);
    EXPECT_TRUE(answers_.Unexpected().empty());
    SaveScreenshot(window_, "main-window-after-cancel");
}

TEST_F(MainWindowTest, HandedOverJobJoinsWithoutAskingAndEndsTheProgram) {
    const Setting& s = Shared();
    CMainDlg::HandOverRequest job;
    job.clips = {WidePath(s.avi), WidePath(s.flv)};
    job.outputPath = WidePath(output_->File("handed.avi"));
    job.callerWindowClass = L"Caller Window";
    job.callerMessageName = L"UWM_Caller";
    job.sourceUrl = L"http://source.example/v";
    std::optional<bool> ended;
    window_->SetHandOverEndedHandler([&](bool finished) { ended = finished; });
    bool destroyed = false;
    window_->Bind(wxEVT_DESTROY, [&](wxWindowDestroyEvent& event) {
        if (event.GetEventObject() == window_) destroyed = true;
        event.Skip();
    });
    window_->StartHandedOverJob(job);
    EXPECT_TRUE(window_->IsJoining());
    EXPECT_EQ(window_->Pipeline().State().callerWindowClass, L"Caller Window");
    EXPECT_EQ(window_->Pipeline().State().sourceUrl, L"http://source.example/v");
    EXPECT_EQ(List()->GetItemCount(), 2);
    EXPECT_TRUE(Enabled(kIdCancel));
    EXPECT_FALSE(Enabled(kIdJoin));
    SaveScreenshot(window_, "main-window-handed-over-join");
    ASSERT_TRUE(PumpUntil([&] { return ended.has_value(); }, 120000));
    EXPECT_TRUE(*ended);
    EXPECT_TRUE(PumpUntil(
        [&] {
            wxTheApp->ProcessIdle();
            return destroyed;
        },
        5000));
    window_ = nullptr;              // the window closed itself
    EXPECT_EQ(answers_.Seen(), 0);  // no save dialog, no result dialog
    EXPECT_GT(testing::FileDuration(output_->File("handed.avi")), 1.5);
}

// A job handed over on the command line, as quilmer's entry point leaves it for the window.
class StartupJob {
public:
    explicit StartupJob(std::wstring job) { StartupArgument() = std::move(job); }
    ~StartupJob() { StartupArgument().clear(); }
};

TEST_F(MainWindowTest, StartupJobJoinsInItsLanguageAndEndsTheProgram) {
    const Setting& s = Shared();
    window_->Close(true);
    PumpEvents(100);
    std::wstring output = WidePath(output_->File("started «job».avi"));
    StartupJob job(BuildHandOverArgument({WidePath(s.flv), WidePath(s.avi)}, output, L"No Such Caller",
                                         L"UWM_NoSuchCaller", L"French", L"http://source.example/v?a=1"));
    window_ = new CMainDlg();
    bool destroyed = false;
    window_->Bind(wxEVT_DESTROY, [&](wxWindowDestroyEvent& event) {
        if (event.GetEventObject() == window_) destroyed = true;
        event.Skip();
    });
    window_->Show();
    EXPECT_TRUE(window_->IsFindable());
    EXPECT_EQ(Rows(), (std::vector<std::wstring>{L"first clip.flv", L"third.avi"}));
    ASSERT_TRUE(PumpUntil([&] { return window_->IsJoining(); }, 5000)) << "command 1035 was posted";
    EXPECT_TRUE(window_->Pipeline().State().handedOver);
    EXPECT_EQ(window_->Pipeline().State().sourceUrl, L"http://source.example/v?a=1");
    EXPECT_EQ(LanguageManager::Instance().CurrentLanguage(), L"French");
    EXPECT_EQ(Control(kIdJoin)->GetLabel(), wxString::FromUTF8("&Fusionner..."));
    SaveScreenshot(window_, "main-window-startup-job-french");
    EXPECT_TRUE(PumpUntil(
        [&] {
            wxTheApp->ProcessIdle();
            return destroyed;
        },
        120000))
        << "the window ends the program once the join is over";
    window_ = nullptr;
    EXPECT_EQ(answers_.Seen(), 0);  // no save dialog, no result
    EXPECT_NEAR(testing::FileDuration(NativePath(output)), 2.0, 0.5);
    LanguageManager& languages = LanguageManager::Instance();
    for (std::size_t i = 0; i < languages.LanguageCount(); ++i)
        if (languages.LanguageAt(i).name == L"English") languages.SelectLanguage(i);
}

// A job the join refuses at its start: the refusal is shown once the window is up, then the
// program ends (the caller gets no notice). Queued while the web view ran the loop during the
// window's construction, such a job used to close the window half built (SIGSEGV).
TEST_F(MainWindowTest, RefusedStartupJobsShowWhyAndEndTheProgram) {
    const Setting& s = Shared();
    window_->Close(true);
    PumpEvents(100);
    fs::create_directory(output_->File("a folder.avi"));
    struct Job {
        std::string output;
        std::vector<std::string> clips;
        std::string reason;  // part of the message shown; empty: the join fails later (the last job)
    };
    const std::vector<Job> jobs = {
        {output_->File("missing/out.avi"), {s.flv, s.avi}, "does not exist"},
        {"/proc/out.avi", {s.flv, s.avi}, "cannot be written"},
        {s.flv, {s.flv, s.avi}, "one of the clips"},
        {output_->File("out.txt"), {s.flv, s.avi}, "extension"},
        {output_->File("a folder.avi"), {s.flv, s.avi}, "is a folder"},
        {output_->File(std::string(100000, 'n') + ".avi"), {s.flv, s.avi}, "too long"},
        {output_->File("out.avi"), {s.clips->File("gone1.flv"), s.clips->File("gone2.flv")}, ""},
    };
    for (const Job& job : jobs) {
        SCOPED_TRACE(job.output.substr(0, 80));
        std::vector<std::wstring> clips;
        for (const auto& clip : job.clips) clips.push_back(WidePath(clip));
        StartupJob startup(BuildHandOverArgument(clips, WidePath(job.output), L"No Such Caller",
                                                 L"UWM_NoSuchCaller", L"English", L"u"));
        wxString shown;
        int before = answers_.Seen();
        answers_.Then([&](wxDialog* dialog) {
            if (auto* box = dynamic_cast<wxMessageDialogBase*>(dialog)) shown = box->GetMessage();
            return static_cast<int>(wxID_OK);
        });
        window_ = new CMainDlg();
        std::optional<bool> ended;
        window_->SetHandOverEndedHandler([&](bool finished) { ended = finished; });
        bool destroyed = false;
        window_->Bind(wxEVT_DESTROY, [&](wxWindowDestroyEvent& event) {
            if (event.GetEventObject() == window_) destroyed = true;
            event.Skip();
        });
        window_->Show();
        EXPECT_TRUE(PumpUntil(
            [&] {
                wxTheApp->ProcessIdle();
                return destroyed;
            },
            60000))
            << "the program ends";
        window_ = nullptr;
        EXPECT_EQ(ended, std::optional<bool>(false));
        if (!job.reason.empty()) {
            EXPECT_EQ(answers_.Seen(), before + 1) << "the reason, once";
            EXPECT_NE(shown.Find(wxString::FromUTF8(job.reason)), wxNOT_FOUND) << shown;
        }
        EXPECT_FALSE(fs::exists(output_->File("out.avi")));
    }
    EXPECT_TRUE(answers_.Unexpected().empty());
}

TEST_F(MainWindowTest, BrokenStartupJobShowsWhyAndKeepsItsUsableClips) {
    const Setting& s = Shared();
    window_->Close(true);
    PumpEvents(100);
    // A folder among the clips, and no output path.
    StartupJob job(WidePath("{#VideoClipsPath#:[#" + s.flv + "#,#" + s.clips->Native() + "#,#" + s.mp4 +
                            "#],#AppMainWndClassName#:#X#,#AppUserMsg#:#Y#,#CurLangName#:#English#,#FlvUrl#:##}"));
    wxString shown;
    answers_.Then([&](wxDialog* dialog) {
        if (auto* box = dynamic_cast<wxMessageDialogBase*>(dialog)) shown = box->GetMessage();
        return static_cast<int>(wxID_OK);
    });
    window_ = new CMainDlg();
    window_->Show();
    ASSERT_TRUE(PumpUntil([&] { return answers_.Seen() == 1; }, 5000)) << "the message once the window is up";
    EXPECT_NE(shown.Find("OutputPath"), wxNOT_FOUND) << shown;
    EXPECT_NE(shown.Find("Clip 2"), wxNOT_FOUND) << shown;
    EXPECT_EQ(Rows(), (std::vector<std::wstring>{L"first clip.flv", WidePath("second «clip».mp4")}));
    PumpEvents(300);
    EXPECT_FALSE(window_->IsJoining());
    EXPECT_FALSE(window_->Pipeline().State().handedOver) << "started as if by the user";
    EXPECT_TRUE(Enabled(kIdJoin));
    EXPECT_TRUE(FilesIn(output_->Path()).empty());
    SaveScreenshot(window_, "main-window-broken-startup-job");
}

TEST_F(MainWindowTest, FailureDetailsOpenAndCloseWithTheirButton) {
    bool checked = false;
    answers_.Then(Inspect([&](wxDialog* dialog) {
        auto* details = dynamic_cast<DetailsDialog*>(dialog);
        ASSERT_NE(details, nullptr);
        auto* toggle = wxWindow::FindWindowById(DetailsDialog::kIdToggleDetails, dialog);
        EXPECT_EQ(toggle->GetLabel(), "Show details");
        EXPECT_FALSE(details->DetailsShown());
        wxCommandEvent press(wxEVT_BUTTON, DetailsDialog::kIdToggleDetails);
        press.SetEventObject(toggle);
        toggle->ProcessWindowEvent(press);
        PumpEvents(100);
        EXPECT_TRUE(details->DetailsShown());
        EXPECT_EQ(toggle->GetLabel(), "Hide details");
        SaveScreenshot(dialog, "failure-with-details");
        toggle->ProcessWindowEvent(press);
        EXPECT_FALSE(details->DetailsShown());
        EXPECT_EQ(toggle->GetLabel(), "Show details");
        checked = true;
    }));
    window_->ShowFailure(L"Failed to merge files.", L"Tips",
                         L"encoder: Invalid data found when processing input");
    EXPECT_TRUE(checked);
}

// Every text the user can read in a window: labels, captions, tips and column headers.
std::map<std::string, std::wstring> VisibleTexts(wxWindow* window, const std::string& prefix = "") {
    std::map<std::string, std::wstring> texts;
    std::function<void(wxWindow*, const std::string&)> walk = [&](wxWindow* w, const std::string& path) {
        std::string key = path + "/" + std::to_string(w->GetId()) + ":" +
                          wxString(w->GetClassInfo()->GetClassName()).utf8_string();
        if (auto* top = dynamic_cast<wxTopLevelWindow*>(w))
            texts[key + "#title"] = top->GetTitle().ToStdWstring();
        if (auto* list = dynamic_cast<wxListCtrl*>(w)) {
            for (int c = 0; c < list->GetColumnCount(); ++c) {
                wxListItem item;
                item.SetMask(wxLIST_MASK_TEXT);
                list->GetColumn(c, item);
                texts[key + "#col" + std::to_string(c)] = item.GetText().ToStdWstring();
            }
        } else if (dynamic_cast<wxControl*>(w) && !dynamic_cast<wxTextCtrl*>(w) && !w->GetLabel().empty()) {
            texts[key] = w->GetLabel().ToStdWstring();
        }
        if (w->GetToolTip()) texts[key + "#tip"] = w->GetToolTipText().ToStdWstring();
        int n = 0;
        for (wxWindow* child : w->GetChildren())
            if (!child->IsTopLevel()) walk(child, key + "." + std::to_string(n++));
    };
    walk(window, prefix);
    return texts;
}

// English text -> French text, through the keys of the two packs.
std::map<std::wstring, std::wstring> EnglishToFrench() {
    std::wstring folder = WidePath(QUILMER_PROGRAM_DIR "/language/");
    std::map<std::wstring, std::wstring> french;
    for (const auto& [key, text] : IniFile(folder + L"French.lng").ReadSection(L"String"))
        french.emplace(key, text);
    std::map<std::wstring, std::wstring> result;
    for (const auto& [key, text] : IniFile(folder + L"English.lng").ReadSection(L"String"))
        if (french.count(key) && !result.count(text)) result.emplace(text, french[key]);
    return result;
}

TEST_F(MainWindowTest, LanguageSwitchesRelabelTheWindowAndAnOpenDialog) {
    LanguageManager& languages = LanguageManager::Instance();
    int french = -1, english = -1;
    for (std::size_t i = 0; i < languages.LanguageCount(); ++i) {
        if (languages.LanguageAt(i).name == L"French") french = static_cast<int>(i);
        if (languages.LanguageAt(i).name == L"English") english = static_cast<int>(i);
    }
    ASSERT_GE(french, 0);
    ASSERT_GE(english, 0);
    ClipProperties record;
    record.path = WidePath(Shared().flv);
    record.format = L"flv";
    auto* dialog = new PropertyDialog(window_, record, 0);
    dialog->Show();
    PumpEvents(100);

    auto choose = [&](int index) {
        auto* chooser = Control<LanguageChooser>(kIdLanguage);
        chooser->SetSelection(index);
        wxCommandEvent event(wxEVT_COMBOBOX, kIdLanguage);
        event.SetInt(index);
        event.SetEventObject(chooser);
        chooser->ProcessWindowEvent(event);
        PumpEvents(100);
    };
    auto texts = [&] {
        auto all = VisibleTexts(window_, "main");
        auto more = VisibleTexts(dialog, "dialog");
        all.insert(more.begin(), more.end());
        return all;
    };
    const auto englishTexts = texts();
    const auto toFrench = EnglishToFrench();
    choose(french);
    const auto frenchTexts = texts();
    SaveScreenshot(window_, "main-window-french");
    SaveScreenshot(dialog, "property-dialog-french");
    ASSERT_EQ(frenchTexts.size(), englishTexts.size());
    int translated = 0;
    for (const auto& [where, text] : englishTexts) {
        if (where.find(std::to_string(kIdLanguage)) != std::string::npos)
            continue;  // the chooser's own entries
        auto it = toFrench.find(text);
        const bool mainCaption = where.rfind("main/", 0) == 0 && where.find('.') == std::string::npos &&
                                 where.find("#title") != std::string::npos;
        if (mainCaption) {
            EXPECT_EQ(frenchTexts.at(where), text) << "the main window's caption stays";
            continue;
        }
        if (it == toFrench.end()) {
            EXPECT_EQ(frenchTexts.at(where), text) << where;  // values and addresses stay
        } else {
            EXPECT_EQ(frenchTexts.at(where), it->second) << where << " was " << wxString(text).utf8_string();
            ++translated;
        }
    }
    EXPECT_GE(translated, 25);  // main window labels, tips, headers; the dialog's rows and buttons
    EXPECT_EQ(frenchTexts.at("dialog/" + std::to_string(dialog->GetId()) + ":wxDialog#title"), L"Propriétés");

    choose(english);
    EXPECT_EQ(texts(), englishTexts);
    choose(french);
    EXPECT_EQ(texts(), frenchTexts);
    choose(french);  // the current language again: nothing changes
    EXPECT_EQ(texts(), frenchTexts);
    SaveScreenshot(window_, "main-window-french-again");
    dialog->Destroy();
    PumpEvents(50);
    SaveScreenshot(window_, "main-window-french-without-dialog");
    choose(english);
}

// Tab goes through the controls in the order the window shows them: the skin button beside the
// language chooser comes before the link row (it used to come after "&About...").
TEST_F(MainWindowTest, TabOrderFollowsTheVisualOrder) {
    const wxWindowList& order = Control(kIdSkin)->GetParent()->GetChildren();
    auto at = [&](int id) {
        int index = 0;
        for (wxWindow* child : order) {
            if (child->GetId() == id) return index;
            ++index;
        }
        return -1;
    };
    EXPECT_EQ(at(kIdSkin), at(kIdLanguage) + 1);
    EXPECT_LT(at(kIdSkin), at(kIdLink));
    EXPECT_LT(at(kIdSkin), at(kIdVideoDownload));
    EXPECT_LT(at(kIdVideoDownload), at(kIdAbout));
}

TEST_F(MainWindowTest, AboutBoxShowsVersionAndLinks) {
    std::map<int, std::wstring> shown;
    answers_.Then(Inspect([&](wxDialog* dialog) {
        for (int id : {static_cast<int>(kIdAboutTitle), 1005, 101, 102}) shown[id] = TextOf(dialog, id);
        SaveScreenshot(dialog, "about-box");
    }));
    Press(kIdAbout);
    EXPECT_EQ(shown[kIdAboutTitle].rfind(L"Quilmer(corvane) v1.9", 0), 0u) << wxString(shown[kIdAboutTitle]);
    // The site the program is set to (CTest points it at loopback).
    EXPECT_EQ(shown[1005], SiteBaseAddress() + L"/");
    EXPECT_EQ(shown[101], L"support@corvane.example");
    EXPECT_EQ(shown[102], L"Email:");
}

TEST(WxEventLoopTest, PostsFromAnyThreadRunInOrderOnTheGuiThreadAndTimersStopThemselves) {
    WxEventLoop loop;
    std::vector<int> order;
    bool onGuiThread = true;
    std::thread worker([&] {
        for (int i = 0; i < 50; ++i)
            loop.Post([&order, &onGuiThread, i] {
                onGuiThread = onGuiThread && wxIsMainThread();
                order.push_back(i);
            });
    });
    worker.join();
    ASSERT_TRUE(PumpUntil([&] { return order.size() == 50; }, 5000));
    EXPECT_TRUE(onGuiThread);
    EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));

    int ticks = 0;
    int otherTicks = 0;
    TimerId other = loop.StartTimer(20, [&](std::uint32_t) { return ++otherTicks, true; });
    loop.StartTimer(10, [&](std::uint32_t) {
        if (++ticks == 3) {
            loop.StopTimer(other);
            return false;  // and itself
        }
        return true;
    });
    PumpEvents(400);
    EXPECT_EQ(ticks, 3);
    int stoppedAt = otherTicks;
    PumpEvents(100);
    EXPECT_EQ(otherTicks, stoppedAt);
    EXPECT_FALSE(loop.StopTimer(other));
}

}  // namespace
}  // namespace quilmer
