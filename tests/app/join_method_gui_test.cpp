// The join method in the real main window, under Xvfb: the save dialog is shown for real (GTK's
// file chooser with the window's method list below it), the list and the file name are set in
// it, and its OK is pressed; the joins then run on the direct engine with Debian's ffmpeg.

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <wx/button.h>
#include <wx/choice.h>
#include <wx/filedlg.h>
#include <wx/gauge.h>
#include <wx/listctrl.h>
#include <wx/modalhook.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "../join/MediaTools.h"
#include "../support/DialogAnswers.h"
#include "../support/GuiTestSupport.h"
#include "../support/ScratchFolder.h"
#include "app/MainDlg.h"
#include "app/PropertyDialog.h"
#include "app/core/JoinMethodChoice.h"
#include "controls/MessageBoxes.h"
#include "foundation/AppFolders.h"
#include "foundation/FileUtil.h"
#include "foundation/Settings.h"
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

struct Clips {
    std::unique_ptr<test::ScratchFolder> user;
    std::unique_ptr<test::ScratchFolder> folder;
    std::string partA, partB;  // two parts of one video: h264/aac, 160x120, 25 fps, 1 s each
    std::string other;         // flv1/mp3: no stream copy with the parts
    std::string longClip;      // 30 s: long enough to stop an encode in its middle
    bool ok = false;
};
Clips& Shared() {
    static Clips clips;
    return clips;
}

class MethodEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        Clips& c = Shared();
        c.user = std::make_unique<test::ScratchFolder>("quilmer-method-user");
        c.folder = std::make_unique<test::ScratchFolder>("quilmer-method-clips");
        AppFolders::OverrideProgramFolder(WidePath(QUILMER_PROGRAM_DIR "/"));
        AppFolders::OverrideUserFolder(WidePath(c.user->Native()));
        c.partA = c.folder->File("part «1».mp4");
        c.partB = c.folder->File("part 2.mp4");
        c.other = c.folder->File("other & more.flv");
        c.longClip = c.folder->File("long.mp4");
        using testing::MakeClip;
        const std::vector<std::string> h264 = {"-c:v", "libx264", "-g", "25"};
        c.ok = MakeClip(c.partA, 1, "160x120", "25", h264, 44100, 2, {"-c:a", "aac"}) &&
               MakeClip(c.partB, 1, "160x120", "25", h264, 44100, 2, {"-c:a", "aac"}) &&
               MakeClip(c.other, 1, "160x120", "25", {"-c:v", "flv1"}, 44100, 2, {"-c:a", "libmp3lame"}) &&
               MakeClip(c.longClip, 30, "640x480", "25", h264, 44100, 2, {"-c:a", "aac"});
    }
    void TearDown() override {
        Shared().folder.reset();
        Shared().user.reset();
    }
};

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new MethodEnvironment);

// The screen rectangle of a native dialog: wx knows no size for GTK's file chooser, GDK does.
wxRect NativeScreenRect(wxWindow* window) {
    using WindowOf = void* (*)(void*);
    using Origin = int (*)(void*, int*, int*);
    using Extent = int (*)(void*);
    static auto windowOf = reinterpret_cast<WindowOf>(::dlsym(RTLD_DEFAULT, "gtk_widget_get_window"));
    static auto origin = reinterpret_cast<Origin>(::dlsym(RTLD_DEFAULT, "gdk_window_get_origin"));
    static auto width = reinterpret_cast<Extent>(::dlsym(RTLD_DEFAULT, "gdk_window_get_width"));
    static auto height = reinterpret_cast<Extent>(::dlsym(RTLD_DEFAULT, "gdk_window_get_height"));
    void* gdk = windowOf && window->GetHandle() ? windowOf(window->GetHandle()) : nullptr;
    if (!gdk || !origin || !width || !height) return window->GetScreenRect();
    int x = 0, y = 0;
    origin(gdk, &x, &y);
    return wxRect(x, y, width(gdk), height(gdk));
}

void SaveNativeScreenshot(wxWindow* window, const std::string& name) {
    PumpEvents(150);
    wxBitmap bitmap = test::GrabScreen(NativeScreenRect(window));
    bitmap.SaveFile(wxString::FromUTF8((test::ScreenshotFolder() / (name + ".png")).string()),
                    wxBITMAP_TYPE_PNG);
}

// What the shown save dialog offered.
struct SaveDialogSeen {
    bool shown = false;
    int preselected = -2;
    std::vector<wxString> entries;
    wxString label;
};

// Lets the save dialog show; once it is on screen, picks `pick` in its method list (unless -1),
// types `path` and presses OK (or cancels when path is empty).
DialogAnswers::Handler ShowSaveDialog(const std::string& path, int pick, SaveDialogSeen& seen,
                                      const std::string& screenshot = {}) {
    return [path, pick, &seen, screenshot](wxDialog* dialog) {
        auto* files = dynamic_cast<wxFileDialog*>(dialog);
        EXPECT_NE(files, nullptr);
        if (!files) return static_cast<int>(wxID_CANCEL);
        files->CallAfter([files, path, pick, &seen, screenshot] {
            PumpEvents(300);
            seen.shown = true;
            wxWindow* extra = files->GetExtraControl();
            auto* choice = extra ? dynamic_cast<wxChoice*>(extra->FindWindow(kIdJoinMethod)) : nullptr;
            EXPECT_NE(choice, nullptr) << "the save dialog has the method list";
            if (choice) {
                seen.preselected = choice->GetSelection();
                for (unsigned i = 0; i < choice->GetCount(); ++i)
                    seen.entries.push_back(choice->GetString(i));
                for (wxWindow* child : extra->GetChildren())
                    if (auto* label = dynamic_cast<wxStaticText*>(child)) seen.label = label->GetLabel();
                if (pick >= 0) {
                    choice->SetSelection(pick);
                    wxCommandEvent event(wxEVT_CHOICE, kIdJoinMethod);
                    event.SetInt(pick);
                    event.SetEventObject(choice);
                    choice->ProcessWindowEvent(event);
                }
            }
            if (!path.empty()) files->SetPath(wxString::FromUTF8(path));
            PumpEvents(200);
            if (!screenshot.empty()) SaveNativeScreenshot(files, screenshot);
            files->EndModal(path.empty() ? wxID_CANCEL : wxID_OK);
        });
        return static_cast<int>(wxID_NONE);
    };
}

class JoinMethodWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!Shared().ok) GTEST_SKIP() << "ffmpeg could not make the test clips";
        SettingsStore::Instance().DeleteValue(L"Config", L"JoinMethod");
        output_ = std::make_unique<test::ScratchFolder>("quilmer-method-out");
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
    void Press(int id) { test::Press(window_, id); }
    std::wstring StoredName() { return SettingsStore::Instance().ReadString(L"Config", L"JoinMethod"); }
    std::vector<std::string> FilesInOutput() {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(output_->Path()))
            names.push_back(entry.path().filename().string());
        return names;
    }

    // A one-pass join of the long clip, chosen in the save dialog; returns once ffmpeg encodes
    // (its output has appeared).
    void StartLongOnePassJoin(const std::string& name) {
        const Clips& c = Shared();
        window_->AddClips({WidePath(c.longClip), WidePath(c.other)});
        SaveDialogSeen seen;
        answers_.Then(ShowSaveDialog(output_->File(name), JoinMethodIndex(JoinMethod::Single), seen));
        Press(kIdJoin);
        ASSERT_TRUE(window_->IsJoining());
        EXPECT_EQ(window_->Engine(), JoinEngine::Direct);
        ASSERT_TRUE(PumpUntil(
            [&] {
                return window_->Direct().Chosen() == JoinMethod::Single &&
                       !testing::ProcessesMentioning(output_->Path()).empty() && !FilesInOutput().empty();
            },
            60000));
    }

    DialogAnswers answers_;
    std::unique_ptr<test::ScratchFolder> output_;
    CMainDlg* window_ = nullptr;
};

TEST_F(JoinMethodWindowTest, AutomaticFromTheSaveDialogJoinsThePartsLosslesslyAndIsRemembered) {
    const Clips& c = Shared();
    window_->AddClips({WidePath(c.partA), WidePath(c.partB)});
    const std::string output = output_->File("joined «parts».mp4");
    SaveDialogSeen seen;
    answers_.Then(ShowSaveDialog(output, JoinMethodIndex(JoinMethod::Auto), seen, "save-dialog-join-method"));
    std::wstring resultName, resultDuration;
    bool resultShown = false;
    answers_.Then(Inspect([&](wxDialog* dialog) {
        wxWindow* name = wxWindow::FindWindowById(kIdPropFileName, dialog);
        wxWindow* duration = wxWindow::FindWindowById(kIdPropDuration, dialog);
        EXPECT_TRUE(name && duration) << "not the result: " << dialog->GetTitle().utf8_string() << " "
                                      << wxString(dialog->GetClassInfo()->GetClassName()).utf8_string();
        resultName = TextOf(name);
        resultDuration = TextOf(duration);
        SaveScreenshot(window_, "main-window-lossless-join-result");
        resultShown = true;
    }));
    Press(kIdJoin);
    ASSERT_TRUE(seen.shown);
    EXPECT_EQ(seen.preselected, JoinMethodIndex(JoinMethod::Classic)) << "nothing stored yet: classic";
    ASSERT_EQ(seen.entries.size(), 5u);
    EXPECT_EQ(seen.entries[1], "Lossless (copy the streams, no re-encoding)");
    EXPECT_EQ(StoredName(), L"auto");
    EXPECT_EQ(window_->Engine(), JoinEngine::Direct);

    ASSERT_TRUE(PumpUntil([&] { return resultShown; }, 60000));
    EXPECT_EQ(window_->Direct().Chosen(), JoinMethod::Lossless);
    EXPECT_EQ(resultName, WidePath(output));
    EXPECT_EQ(resultDuration.substr(0, 8), L"00:00:02");
    // Stream copy: the parts' summed length to within a frame (25 fps) and a little.
    const double parts = testing::FileDuration(c.partA) + testing::FileDuration(c.partB);
    EXPECT_NEAR(parts, 2.0, 0.1);
    EXPECT_NEAR(testing::FileDuration(output), parts, 0.05);
    EXPECT_EQ(FilesInOutput(), (std::vector<std::string>{"joined «parts».mp4"}));
    PumpEvents(100);
    // The line below the bar tells the method taken and why.
    const std::wstring line = window_->StepText();
    EXPECT_EQ(line.rfind(L"Lossless: all 2 clips share h264 160x120", 0), 0u) << wxString(line);
    EXPECT_EQ(Control(kIdStepText)->GetToolTipText().ToStdWstring(), line)
        << "the whole line, should it be cut";
    EXPECT_FALSE(window_->IsJoining());
    EXPECT_EQ(Control<wxListCtrl>(kIdClipList)->GetItemCount(), 0);
    EXPECT_TRUE(answers_.Unexpected().empty());
    SaveScreenshot(window_, "main-window-after-lossless-join");

    // The next save dialog starts with the method chosen last; a cancel keeps it as it was.
    window_->AddClips({WidePath(c.partA), WidePath(c.partB)});
    SaveDialogSeen again;
    answers_.Then(ShowSaveDialog("", JoinMethodIndex(JoinMethod::Single), again));
    Press(kIdJoin);
    ASSERT_TRUE(again.shown);
    EXPECT_EQ(again.preselected, JoinMethodIndex(JoinMethod::Auto));
    EXPECT_EQ(StoredName(), L"auto");
    EXPECT_FALSE(window_->IsJoining());
}

// Picks a language by its name; returns whether it exists.
bool SelectLanguage(const std::wstring& name) {
    LanguageManager& languages = LanguageManager::Instance();
    for (std::size_t i = 0; i < languages.LanguageCount(); ++i) {
        if (languages.LanguageAt(i).name == name) {
            languages.SelectLanguage(i);
            return true;
        }
    }
    return false;
}

TEST_F(JoinMethodWindowTest, SmartFromTheSaveDialogCopiesThePartsAndReencodesOnlyTheOther) {
    const Clips& c = Shared();
    window_->AddClips({WidePath(c.partA), WidePath(c.other), WidePath(c.partB)});
    const std::string output = output_->File("smart.mp4");
    SaveDialogSeen seen;
    answers_.Then(ShowSaveDialog(output, JoinMethodIndex(JoinMethod::Smart), seen));
    std::wstring resultName;
    answers_.Then(Inspect([&](wxDialog* dialog) { resultName = TextOf(dialog, kIdPropFileName); }));
    Press(kIdJoin);
    ASSERT_TRUE(seen.shown);
    EXPECT_EQ(seen.entries.at(JoinMethodIndex(JoinMethod::Smart)),
              "Smart (copy the matching clips, re-encode only the others)");
    EXPECT_EQ(StoredName(), L"smart");
    ASSERT_TRUE(PumpUntil([&] { return !resultName.empty(); }, 120000));
    EXPECT_EQ(resultName, WidePath(output));
    EXPECT_EQ(window_->Direct().Chosen(), JoinMethod::Smart);
    EXPECT_EQ(testing::DecodeErrors(output), "");
    EXPECT_NEAR(testing::FileDuration(output), 3.0, 0.15);
    PumpEvents(100);
    const std::wstring line = window_->StepText();
    EXPECT_EQ(line, L"Smart: 2 of 3 clips copied as they are, 1 re-encoded to match part «1».mp4") << wxString(line);
    EXPECT_EQ(FilesInOutput(), (std::vector<std::string>{"smart.mp4"})) << "no piece left behind";
    EXPECT_TRUE(answers_.Unexpected().empty());
    SaveScreenshot(window_, "main-window-after-smart-join");
}

TEST_F(JoinMethodWindowTest, TheMethodListSpeaksTheInterfaceLanguage) {
    const Clips& c = Shared();
    window_->AddClips({WidePath(c.partA), WidePath(c.partB)});
    ASSERT_TRUE(SelectLanguage(L"French"));
    SaveDialogSeen seen;
    answers_.Then(ShowSaveDialog("", -1, seen, "save-dialog-join-method-french"));
    Press(kIdJoin);
    SelectLanguage(L"English");
    ASSERT_TRUE(seen.shown);
    EXPECT_EQ(seen.label, wxString::FromUTF8("Méthode de fusion :"));
    ASSERT_EQ(seen.entries.size(), 5u);
    EXPECT_EQ(seen.entries[0], "Classique (convertir chaque clip, puis assembler)");
    EXPECT_EQ(seen.entries[3], "Automatique (sans perte si possible, sinon une passe)");
    EXPECT_EQ(seen.entries[4].rfind("Intelligent (copier les clips concordants, r", 0), 0u) << seen.entries[4];
    EXPECT_FALSE(window_->IsJoining());
}

TEST_F(JoinMethodWindowTest, LosslessRefusalIsShownAsAFailureAndLeavesNothing) {
    const Clips& c = Shared();
    window_->AddClips({WidePath(c.partA), WidePath(c.other)});
    SaveDialogSeen seen;
    answers_.Then(ShowSaveDialog(output_->File("refused.flv"), JoinMethodIndex(JoinMethod::Lossless), seen));
    wxString message, details;
    bool failureShown = false;
    answers_.Then(Inspect([&](wxDialog* dialog) {
        EXPECT_NE(dynamic_cast<DetailsDialog*>(dialog), nullptr);
        for (wxWindow* child : dialog->GetChildren()) {
            if (auto* text = dynamic_cast<wxTextCtrl*>(child)) details = text->GetValue();
            if (auto* label = dynamic_cast<wxStaticText*>(child); label && message.empty())
                message = label->GetLabel();
        }
        SaveScreenshot(dialog, "lossless-refused");
        failureShown = true;
    }));
    Press(kIdJoin);
    ASSERT_TRUE(PumpUntil([&] { return failureShown; }, 60000));
    EXPECT_EQ(message, "Failed to merge files.");
    // The refusal names the clip and what stands in the way.
    EXPECT_NE(details.Find("other & more.flv"), wxNOT_FOUND) << details;
    EXPECT_NE(details.Find("video codec"), wxNOT_FOUND) << details;
    EXPECT_FALSE(window_->IsJoining());
    EXPECT_TRUE(FilesInOutput().empty());
    EXPECT_EQ(StoredName(), L"lossless");
    // The line under the bar says why, with the clip's name as it is.
    const std::wstring line = window_->StepText();
    EXPECT_EQ(line.rfind(L"Lossless: ", 0), 0u) << wxString(line);
    EXPECT_NE(line.find(L"other & more.flv"), std::wstring::npos) << wxString(line);
    SaveScreenshot(window_, "main-window-after-lossless-refused");
}

TEST_F(JoinMethodWindowTest, CancelDuringAOnePassJoinStopsFFmpegAndLeavesNothing) {
    ASSERT_NO_FATAL_FAILURE(StartLongOnePassJoin("stopped.flv"));
    EXPECT_EQ(window_->StepText(), L"Encoding the output in one pass");
    EXPECT_TRUE(Control(kIdCancel)->IsEnabled());
    EXPECT_FALSE(Control(kIdJoin)->IsEnabled());
    SaveScreenshot(window_, "main-window-one-pass-before-cancel");
    Press(kIdCancel);
    EXPECT_FALSE(window_->IsJoining());
    EXPECT_EQ(Control<wxListCtrl>(kIdClipList)->GetItemCount(), 0);
    EXPECT_FALSE(Control(kIdCancel)->IsEnabled());
    EXPECT_EQ(Control<wxGauge>(kIdProgress)->GetValue(), 0);
    EXPECT_EQ(window_->StepText(), L"");
    PumpEvents(300);
    EXPECT_TRUE(FilesInOutput().empty());
    EXPECT_TRUE(testing::ProcessesMentioning(output_->Path()).empty());
    EXPECT_EQ(answers_.Seen(), 1) << "a stop shows nothing";
    SaveScreenshot(window_, "main-window-one-pass-after-cancel");
}

TEST_F(JoinMethodWindowTest, ClosingTheWindowDuringADirectJoinLeavesNothing) {
    ASSERT_NO_FATAL_FAILURE(StartLongOnePassJoin("closed.flv"));
    window_->Close();
    PumpEvents(300);
    window_ = nullptr;
    EXPECT_TRUE(FilesInOutput().empty());
    EXPECT_TRUE(testing::ProcessesMentioning(output_->Path()).empty());
    EXPECT_EQ(answers_.Seen(), 1) << "closing shows nothing";
}

TEST_F(JoinMethodWindowTest, HandedOverJobJoinsClassicWhateverTheUserChose) {
    const Clips& c = Shared();
    ASSERT_TRUE(StoreJoinMethod(JoinMethod::Lossless));
    CMainDlg::HandOverRequest job;
    job.clips = {WidePath(c.partA), WidePath(c.partB)};
    job.outputPath = WidePath(output_->File("handed.flv"));
    job.callerWindowClass = L"No Such Caller";
    job.callerMessageName = L"UWM_NoSuchCaller";
    std::optional<bool> ended;
    window_->SetHandOverEndedHandler([&](bool finished) { ended = finished; });
    bool destroyed = false;
    window_->Bind(wxEVT_DESTROY, [&](wxWindowDestroyEvent& event) {
        if (event.GetEventObject() == window_) destroyed = true;
        event.Skip();
    });
    window_->StartHandedOverJob(job);
    EXPECT_EQ(window_->Engine(), JoinEngine::Pipeline);
    EXPECT_TRUE(window_->Pipeline().IsJoining());
    EXPECT_FALSE(window_->Direct().IsJoining());
    ASSERT_TRUE(PumpUntil([&] { return ended.has_value(); }, 120000));
    EXPECT_TRUE(*ended);
    EXPECT_TRUE(PumpUntil(
        [&] {
            wxTheApp->ProcessIdle();
            return destroyed;
        },
        5000));
    window_ = nullptr;
    EXPECT_EQ(answers_.Seen(), 0);
    EXPECT_NEAR(testing::FileDuration(output_->File("handed.flv")), 2.0, 0.5);
    EXPECT_EQ(StoredName(), L"lossless") << "the job leaves the user's choice alone";
}

}  // namespace
}  // namespace quilmer

namespace quilmer {
namespace {

// The compatibility line under the list follows each change of the list, computed on a worker;
// "Details..." shows every difference of every clip.
TEST_F(JoinMethodWindowTest, TheCompatibilityLineFollowsTheListAndDetailsTellEveryDifference) {
    const Clips& c = Shared();
    const CompatibilityLine& line = window_->Compatibility();
    auto* details = Control<wxButton>(kIdCompatibilityDetails);
    ASSERT_NE(details, nullptr);
    EXPECT_EQ(line.Text(), L"");
    EXPECT_FALSE(details->IsEnabled());

    window_->AddClips({WidePath(c.partA), WidePath(c.partB)});
    EXPECT_TRUE(line.IsChecking() || line.Last().has_value()) << "the check starts with the change";
    ASSERT_TRUE(PumpUntil([&] { return line.Last().has_value(); }, 30000));
    EXPECT_EQ(line.Text(), L"All 2 clips match: they can be joined without re-encoding into one MP4 file.");
    EXPECT_TRUE(details->IsEnabled());

    window_->AddClips({WidePath(c.other)});
    ASSERT_TRUE(PumpUntil([&] { return line.Last().has_value(); }, 30000));
    EXPECT_EQ(line.Text(), L"1 of 3 clips cannot be copied as they are into one MP4 file: the join re-encodes.");
    SaveScreenshot(window_, "main-window-compatibility-line");

    std::wstring report;
    answers_.Then(Inspect([&](wxDialog* dialog) {
        for (wxWindow* child : dialog->GetChildren())
            if (auto* text = dynamic_cast<wxTextCtrl*>(child)) report = text->GetValue().ToStdWstring();
        SaveScreenshot(dialog, "compatibility-report-details");
    }));
    Press(kIdCompatibilityDetails);
    for (const wchar_t* said : {L"The reference clip is the first one, part «1».mp4.", L"2. part 2.mp4: matches the reference clip.",
                                L"3. other & more.flv:", L"The MP4 container cannot hold its video codec flv1, so this clip is re-encoded.",
                                L"Its video codec is flv1 where the reference clip has h264, so this clip is re-encoded.",
                                L"Its sound codec is mp3 where the reference clip has aac, so this clip is re-encoded.",
                                L"The automatic method would take: smart"})
        EXPECT_NE(report.find(said), std::wstring::npos) << wxString(said) << "\n" << wxString(report);
    EXPECT_TRUE(answers_.Unexpected().empty()) << answers_.Unexpected().front();
}

}  // namespace
}  // namespace quilmer
