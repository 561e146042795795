// The real main window with the skins of the program folder, as quilmer runs it: the skin
// attacher installed, the chooser behind the window's "S&kin" button. A runner of its own, since
// the skin manager is the process's one service and keeps the choice in the settings.

#include <gtest/gtest.h>
#include <wx/button.h>
#include <wx/menu.h>

#include <memory>
#include <string>

#include "../support/GuiTestSupport.h"
#include "../support/ScratchFolder.h"
#include "app/MainDlg.h"
#include "controls/LanguageChooser.h"
#include "controls/WindowSkin.h"
#include "foundation/AppFolders.h"
#include "foundation/FileUtil.h"
#include "foundation/Settings.h"
#include "foundation/TextTranslator.h"
#include "lang/LanguageManager.h"
#include "skin/gui/FrameSkinManager.h"

namespace quilmer {
namespace {

using test::PumpEvents;
using test::PumpUntil;
using test::SaveScreenshot;

class SkinEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        user_ = std::make_unique<test::ScratchFolder>("quilmer-skin-user");
        AppFolders::OverrideProgramFolder(WidePath(QUILMER_PROGRAM_DIR "/"));
        AppFolders::OverrideUserFolder(WidePath(user_->Native()));
        SetSkinAttacher([](wxTopLevelWindow* window) { AttachFrameSkin(window); });
    }
    void TearDown() override {
        SetSkinAttacher({});
        user_.reset();
    }

private:
    std::unique_ptr<test::ScratchFolder> user_;
};

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new SkinEnvironment);

wxColour Pixel(const std::filesystem::path& png, int x, int y) {
    wxImage image(wxString::FromUTF8(png.string()), wxBITMAP_TYPE_PNG);
    if (!image.IsOk() || x >= image.GetWidth() || y >= image.GetHeight()) return wxNullColour;
    return wxColour(image.GetRed(x, y), image.GetGreen(x, y), image.GetBlue(x, y));
}

class MainWindowSkinTest : public ::testing::Test {
protected:
    CFrameSkinManager& manager = CFrameSkinManager::Instance();
    CMainDlg* window = nullptr;

    void SetUp() override {
        ASSERT_GE(manager.InstalledSkins().size(), 2u) << "the shipped skins are missing from the program folder";
    }
    void TearDown() override {
        if (window) window->Destroy();
        PumpEvents(100);
        manager.LoadSkin(L"");
    }

    CMainDlg* Open() {
        window = new CMainDlg();
        window->Move(40, 40);
        window->Show();
        window->Raise();
        PumpEvents(300);
        return window;
    }

    wxButton* SkinButton() { return dynamic_cast<wxButton*>(wxWindow::FindWindowById(kIdSkin, window)); }

    // Chooses the entry labelled label in the chooser the button opens, as a click on it does.
    bool Choose(const wxString& label) {
        std::unique_ptr<wxMenu> menu(window->CreateSkinChooserMenu());
        for (wxMenuItem* item : menu->GetMenuItems()) {
            if (item->GetItemLabelText() != wxMenuItem::GetLabelText(label)) continue;
            wxCommandEvent choose(wxEVT_MENU, item->GetId());
            choose.SetEventObject(menu.get());
            menu->ProcessEvent(choose);
            PumpEvents(300);
            return true;
        }
        return false;
    }
};

TEST_F(MainWindowSkinTest, OpensInEachShippedSkinAndWithout) {
    std::map<std::wstring, wxColour> captionPixel;
    for (const std::wstring name : {L"", L"Daylight", L"Midnight"}) {
        SCOPED_TRACE(wxString(name).utf8_string());
        // The skin in force when the window opens, as at the start of the program.
        ASSERT_EQ(manager.LoadSkin(name), !name.empty()) << wxString(manager.LastError()).utf8_string();
        Open();
        SkinnedWindow* skinned = manager.Find(window);
        ASSERT_NE(skinned, nullptr) << "the main window is attached";
        EXPECT_EQ(skinned->IsSkinned(), !name.empty());
        EXPECT_TRUE(SkinButton() && SkinButton()->IsShownOnScreen());
        auto shot = SaveScreenshot(window, "main-window-skin-" + (name.empty() ? std::string("none")
                                                                               : wxString(name).utf8_string()));
        // Skinned, the caption row is the skin's drawing: the window's top edge differs by skin and
        // from the plain window (whose top row is its panel).
        captionPixel[name] = Pixel(shot, window->GetSize().x / 2, 3);
        // The contents keep their size inside the drawn frame.
        EXPECT_GE(window->GetClientSize().x, window->WebPaneSlot()->GetSize().x);
        window->Destroy();
        window = nullptr;
        PumpEvents(100);
    }
    EXPECT_NE(captionPixel[L"Daylight"], captionPixel[L"Midnight"]);
    EXPECT_NE(captionPixel[L""], captionPixel[L"Midnight"]);
}

TEST_F(MainWindowSkinTest, ChooserSwitchesTheOpenWindowAndKeepsTheChoice) {
    ASSERT_FALSE(manager.LoadSkin(L""));
    Open();
    ASSERT_NE(SkinButton(), nullptr);
    EXPECT_EQ(SkinButton()->GetLabel(), wxS("S&kin"));
    ASSERT_FALSE(manager.Find(window)->IsSkinned());

    ASSERT_TRUE(Choose(wxS("Midnight")));
    ASSERT_TRUE(PumpUntil([&] { return manager.SkinName() == L"Midnight"; }, 5000));
    EXPECT_TRUE(manager.Find(window)->IsSkinned()) << "applied to the open window";
    EXPECT_EQ(SettingsStore::Instance().ReadString(L"Config", L"SkinName"), L"Midnight");
    SaveScreenshot(window, "main-window-chooser-Midnight");
    {
        // Opened again, the chooser shows the skin in force.
        std::unique_ptr<wxMenu> menu(window->CreateSkinChooserMenu());
        int checked = 0;
        for (wxMenuItem* item : menu->GetMenuItems())
            if (item->IsChecked()) {
                ++checked;
                EXPECT_EQ(item->GetItemLabelText(), wxS("Midnight"));
            }
        EXPECT_EQ(checked, 1);
    }

    ASSERT_TRUE(Choose(wxS("Daylight")));
    ASSERT_TRUE(PumpUntil([&] { return manager.SkinName() == L"Daylight"; }, 5000));
    EXPECT_TRUE(manager.Find(window)->IsSkinned());
    EXPECT_EQ(SettingsStore::Instance().ReadString(L"Config", L"SkinName"), L"Daylight");
    SaveScreenshot(window, "main-window-chooser-Daylight");

    ASSERT_TRUE(Choose(wxS("(No skin)")));
    ASSERT_TRUE(PumpUntil([&] { return !manager.IsSkinActive(); }, 5000));
    EXPECT_FALSE(manager.Find(window)->IsSkinned()) << "the system frame is back";
    EXPECT_EQ(SettingsStore::Instance().ReadString(L"Config", L"SkinName"), L"") << "Daylight is no longer kept";
    SaveScreenshot(window, "main-window-chooser-none");
}

TEST_F(MainWindowSkinTest, ChooserSpeaksTheLanguageShown) {
    ASSERT_TRUE(manager.LoadSkin(L"Daylight"));
    Open();
    LanguageManager& languages = LanguageManager::Instance();
    int french = -1;
    int english = -1;
    for (std::size_t i = 0; i < languages.LanguageCount(); ++i) {
        if (languages.LanguageAt(i).name == L"French") french = static_cast<int>(i);
        if (languages.LanguageAt(i).name == L"English") english = static_cast<int>(i);
    }
    ASSERT_GE(french, 0);
    ASSERT_GE(english, 0);
    auto* chooser = dynamic_cast<LanguageChooser*>(wxWindow::FindWindowById(kIdLanguage, window));
    ASSERT_NE(chooser, nullptr);
    chooser->Choose(french);
    PumpEvents(200);
    {
        std::unique_ptr<wxMenu> menu(window->CreateSkinChooserMenu());
        ASSERT_GE(menu->GetMenuItemCount(), 3u);
        EXPECT_EQ(menu->FindItemByPosition(0)->GetItemLabelText(), wxS("(Aucun habillage)"));
    }
    EXPECT_EQ(SkinButton()->GetLabel(), wxS("&Habillage"));
    SaveScreenshot(window, "main-window-skin-French");
    // Back to English: the entry follows.
    chooser->Choose(english);
    PumpEvents(200);
    std::unique_ptr<wxMenu> menu(window->CreateSkinChooserMenu());
    EXPECT_EQ(menu->FindItemByPosition(0)->GetItemLabelText(), wxS("(No skin)"));
    EXPECT_EQ(SkinButton()->GetLabel(), wxS("S&kin"));
}

}  // namespace
}  // namespace quilmer
