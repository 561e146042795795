// The save dialog's chapter check box in the real main window, under Xvfb: on when nothing is
// stored, its choice kept in the settings for the next dialog, and the join that follows writes
// a chapter per clip or none.

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/filedlg.h>

#include <functional>
#include <memory>
#include <sstream>

#include "../join/MediaTools.h"
#include "../support/DialogAnswers.h"
#include "../support/GuiTestSupport.h"
#include "../support/ScratchFolder.h"
#include "app/MainDlg.h"
#include "app/PropertyDialog.h"
#include "app/core/JoinMethodChoice.h"
#include "foundation/AppFolders.h"
#include "foundation/FileUtil.h"
#include "foundation/Settings.h"
#include "lang/LanguageManager.h"

namespace quilmer {
namespace {

using test::DialogAnswers;
using test::Inspect;
using test::PumpEvents;
using test::PumpUntil;

struct Clips {
    std::unique_ptr<test::ScratchFolder> user, folder;
    std::string partA, partB;  // two parts of one video, 1 s each: a lossless join
    bool ok = false;
};
Clips& Shared() {
    static Clips clips;
    return clips;
}

class ChaptersEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        Clips& c = Shared();
        c.user = std::make_unique<test::ScratchFolder>("quilmer-chapters-user");
        c.folder = std::make_unique<test::ScratchFolder>("quilmer-chapters-clips");
        AppFolders::OverrideProgramFolder(WidePath(QUILMER_PROGRAM_DIR "/"));
        AppFolders::OverrideUserFolder(WidePath(c.user->Native()));
        c.partA = c.folder->File("part «1».mp4");
        c.partB = c.folder->File("part 2.mp4");
        const std::vector<std::string> h264 = {"-c:v", "libx264", "-g", "25"};
        c.ok = testing::MakeClip(c.partA, 1, "160x120", "25", h264, 44100, 2, {"-c:a", "aac"}) &&
               testing::MakeClip(c.partB, 1, "160x120", "25", h264, 44100, 2, {"-c:a", "aac"});
    }
    void TearDown() override {
        Shared().folder.reset();
        Shared().user.reset();
    }
};
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new ChaptersEnvironment);

// The screen rectangle of GTK's file chooser, which wx knows no size for.
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

struct BoxSeen {
    bool shown = false;
    bool checked = false;
    wxString label;
};

// Once the save dialog is on screen: notes the chapter box, sets it to `check`, picks the
// lossless method, types `path` and presses OK (cancels when the path is empty).
DialogAnswers::Handler AnswerSaveDialog(const std::string& path, bool check, BoxSeen& seen,
                                        const std::string& screenshot = {}) {
    return [path, check, &seen, screenshot](wxDialog* dialog) {
        auto* files = dynamic_cast<wxFileDialog*>(dialog);
        EXPECT_NE(files, nullptr);
        if (!files) return static_cast<int>(wxID_CANCEL);
        files->CallAfter([files, path, check, &seen, screenshot] {
            PumpEvents(300);
            seen.shown = true;
            wxWindow* extra = files->GetExtraControl();
            auto* box = extra ? dynamic_cast<wxCheckBox*>(extra->FindWindow(kIdChapters)) : nullptr;
            EXPECT_NE(box, nullptr) << "the save dialog has the chapter box";
            if (box) {
                seen.checked = box->GetValue();
                seen.label = box->GetLabel();
                box->SetValue(check);
            }
            if (auto* choice = extra ? dynamic_cast<wxChoice*>(extra->FindWindow(kIdJoinMethod)) : nullptr)
                choice->SetSelection(JoinMethodIndex(JoinMethod::Lossless));
            if (!path.empty()) files->SetPath(wxString::FromUTF8(path));
            PumpEvents(200);
            if (!screenshot.empty()) {
                PumpEvents(150);
                wxBitmap bitmap = test::GrabScreen(NativeScreenRect(files));
                bitmap.SaveFile(wxString::FromUTF8((test::ScreenshotFolder() / (screenshot + ".png")).string()),
                                wxBITMAP_TYPE_PNG);
            }
            files->EndModal(path.empty() ? wxID_CANCEL : wxID_OK);
        });
        return static_cast<int>(wxID_NONE);
    };
}

std::vector<std::string> ChapterTitles(const std::string& path) {
    auto r = testing::RunProgram({"ffprobe", "-v", "error", "-show_entries", "chapter_tags=title", "-of", "csv=p=0",
                                  "file:" + path});
    std::vector<std::string> titles;
    std::istringstream lines(r.output);
    for (std::string line; std::getline(lines, line);)
        if (!line.empty()) titles.push_back(line);
    return titles;
}

class ChapterBoxTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!Shared().ok) GTEST_SKIP() << "ffmpeg could not make the test clips";
        SettingsStore::Instance().DeleteValue(L"Config", L"Chapters");
        output_ = std::make_unique<test::ScratchFolder>("quilmer-chapters-out");
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

    // Joins the two parts through the save dialog with the box set to `check`; true once the
    // result was shown.
    bool JoinParts(const std::string& output, bool check, BoxSeen& seen, const std::string& screenshot = {}) {
        window_->AddClips({WidePath(Shared().partA), WidePath(Shared().partB)});
        bool resultShown = false;
        answers_.Then(AnswerSaveDialog(output, check, seen, screenshot));
        answers_.Then(Inspect([&](wxDialog* dialog) {
            EXPECT_NE(wxWindow::FindWindowById(kIdPropFileName, dialog), nullptr)
                << "not the result: " << dialog->GetTitle().utf8_string();
            resultShown = true;
        }));
        test::Press(window_, kIdJoin);
        return PumpUntil([&] { return resultShown && !window_->IsJoining(); }, 60000);
    }

    DialogAnswers answers_;
    std::unique_ptr<test::ScratchFolder> output_;
    CMainDlg* window_ = nullptr;
};

TEST_F(ChapterBoxTest, TheBoxIsOnByDefaultItsChoiceIsKeptAndTheJoinFollowsIt) {
    BoxSeen first;
    const std::string bare = output_->File("no chapters.mp4");
    ASSERT_TRUE(JoinParts(bare, false, first, "save-dialog-chapters"));
    ASSERT_TRUE(first.shown);
    EXPECT_TRUE(first.checked) << "nothing stored: a chapter per clip";
    EXPECT_EQ(first.label, "A chapter per clip (MP4, WMV)");
    EXPECT_FALSE(StoredChapters());
    EXPECT_TRUE(ChapterTitles(bare).empty());

    BoxSeen second;
    const std::string chaptered = output_->File("with chapters.mp4");
    ASSERT_TRUE(JoinParts(chaptered, true, second));
    EXPECT_FALSE(second.checked) << "the last choice";
    EXPECT_TRUE(StoredChapters());
    EXPECT_EQ(ChapterTitles(chaptered), (std::vector<std::string>{"part «1»", "part 2"}));
    EXPECT_TRUE(answers_.Unexpected().empty());
}

TEST_F(ChapterBoxTest, TheBoxSpeaksTheInterfaceLanguage) {
    LanguageManager& languages = LanguageManager::Instance();
    bool found = false;
    for (std::size_t i = 0; i < languages.LanguageCount() && !found; ++i)
        if (languages.LanguageAt(i).name == L"German") {
            languages.SelectLanguage(i);
            found = true;
        }
    ASSERT_TRUE(found);
    window_->AddClips({WidePath(Shared().partA), WidePath(Shared().partB)});
    BoxSeen seen;
    answers_.Then(AnswerSaveDialog("", true, seen, "save-dialog-chapters-german"));
    test::Press(window_, kIdJoin);
    for (std::size_t i = 0; i < languages.LanguageCount(); ++i)
        if (languages.LanguageAt(i).name == L"English") languages.SelectLanguage(i);
    ASSERT_TRUE(seen.shown);
    EXPECT_EQ(seen.label, "Ein Kapitel pro Clip (MP4, WMV)");
    EXPECT_FALSE(window_->IsJoining());
}

}  // namespace
}  // namespace quilmer
