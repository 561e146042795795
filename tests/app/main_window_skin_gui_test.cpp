// The real main window with the skins of the program folder, as quilmer runs it: the skin
// attacher installed, the chooser behind the window's "S&kin" button. A runner of its own, since
// the skin manager is the process's one service and keeps the choice in the settings.

#include <gtest/gtest.h>
#include <wx/button.h>
#include <wx/menu.h>

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "../support/GuiTestSupport.h"
#include "../support/ScratchFolder.h"
#include "app/AboutDialog.h"
#include "app/MainDlg.h"
#include "app/PropertyDialog.h"
#include "controls/LanguageChooser.h"
#include "controls/WindowSkin.h"
#include "foundation/AppFolders.h"
#include "foundation/FileUtil.h"
#include "foundation/Settings.h"
#include "foundation/TextTranslator.h"
#include "lang/LanguageManager.h"
#include "skin/gui/FrameSkinManager.h"
#include "web/PlayerWindow.h"

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


// The main window's own controls, found by id in any window opened from it.
const int kControlIds[] = {kIdClipList, kIdMoveUp, kIdProperty, kIdProgress, kIdJoin,   kIdCancel,
                           kIdLanguage, kIdSkin,   kIdLink,     kIdAbout,    kIdWebPane, kIdVideoDownload};

wxRect ClientRect(wxTopLevelWindow* window, wxWindow* control) {
    return wxRect(window->ScreenToClient(control->GetScreenPosition()), control->GetSize());
}

// Where each control of the main window sits in its client area.
std::vector<wxRect> ControlPlaces(wxTopLevelWindow* window) {
    std::vector<wxRect> places;
    for (int id : kControlIds)
        if (wxWindow* control = wxWindow::FindWindowById(id, window)) places.push_back(ClientRect(window, control));
    return places;
}

// Where each child of a dialog sits in its client area, in the order the dialog made them.
std::vector<wxRect> ChildPlaces(wxTopLevelWindow* window) {
    std::vector<wxRect> places;
    for (wxWindow* child : window->GetChildren())
        if (!child->IsTopLevel()) places.push_back(ClientRect(window, child));
    return places;
}

void CollectShown(wxWindow* parent, std::vector<wxWindow*>& out) {
    for (wxWindow* child : parent->GetChildren()) {
        if (child->IsTopLevel() || !child->IsShown()) continue;
        out.push_back(child);
        CollectShown(child, out);
    }
}

// The colours of one row (or column) of a part of the skin image.
std::set<unsigned long> PartColours(const LoadedWindowSkin& skin, const wxImage& image, int part, int row,
                                    int column) {
    std::set<unsigned long> colours;
    if (!skin.def.partPresent[part]) return colours;
    const SkinRect& r = skin.def.partRect[part];
    for (int x = r.left; x < r.right; ++x)
        for (int y = r.top; y < r.bottom; ++y)
            if ((row < 0 || y == r.top + row) && (column < 0 || x == r.left + column))
                colours.insert(wxColour(image.GetRed(x, y), image.GetGreen(x, y), image.GetBlue(x, y)).GetRGB());
    return colours;
}

// Checks that the skinned main window leaves the skin's frame to the skin: no shown control reaches
// into the title row or the edges, the controls keep their size and their places relative to the
// frame's inside (expected: the places without a skin), and the screen shows the skin's own title
// and left edge where the controls used to be drawn.
void ExpectFrameUncovered(wxTopLevelWindow* window, const LoadedWindowSkin& skin,
                          std::vector<wxRect> (*places)(wxTopLevelWindow*), const std::vector<wxRect>& unskinned,
                          const wxSize& unskinnedClient, const std::string& shotName) {
    FrameSizes f = SkinFrameSizes(skin.def);
    ASSERT_GT(f.top, 0);
    ASSERT_GT(f.left, 0);
    wxSize client = window->GetClientSize();
    EXPECT_EQ(client, unskinnedClient + wxSize(f.left + f.right, f.top + f.bottom))
        << "the window grows by the frame";
    wxRect inside(f.left, f.top, client.x - f.left - f.right, client.y - f.top - f.bottom);

    std::vector<wxWindow*> shown;
    CollectShown(window, shown);
    ASSERT_FALSE(shown.empty());
    for (wxWindow* child : shown) {
        wxRect r(window->ScreenToClient(child->GetScreenPosition()), child->GetSize());
        if (r.IsEmpty()) continue;
        EXPECT_TRUE(inside.Contains(r)) << child->GetClassInfo()->GetClassName() << " id " << child->GetId()
                                        << " at " << r.x << "," << r.y << " " << r.width << "x" << r.height
                                        << " reaches out of the frame's inside " << inside.x << "," << inside.y
                                        << " " << inside.width << "x" << inside.height;
    }
    std::vector<wxRect> now = places(window);
    ASSERT_EQ(now.size(), unskinned.size());
    for (std::size_t i = 0; i < now.size(); ++i) {
        wxRect expected = unskinned[i];
        expected.Offset(f.left, f.top);
        EXPECT_EQ(now[i], expected) << "control " << i << " at " << now[i].x << "," << now[i].y << " "
                                    << now[i].width << "x" << now[i].height;
    }

    // The pixels: the title row's fill between its corners, above and below the caption, and the
    // left edge below the title row are the skin's image, in the active or the inactive look.
    auto shot = SaveScreenshot(window, shotName);
    wxImage screen(wxString::FromUTF8(shot.string()), wxBITMAP_TYPE_PNG);
    ASSERT_TRUE(screen.IsOk());
    wxImage image = skin.image.ConvertToImage();
    auto width = [&](int part) { return skin.def.partPresent[part] ? skin.def.partRect[part].Width() : 0; };
    int fillLeft = std::max(width(kPartTopLeft), width(kPartTopLeftIA));
    int fillRight = client.x - std::max(width(kPartTopRight), width(kPartTopRightIA));
    int mismatches = 0, samples = 0;
    std::string first;
    auto pixel = [&](int x, int y) {
        return wxColour(screen.GetRed(x, y), screen.GetGreen(x, y), screen.GetBlue(x, y));
    };
    auto miss = [&](int x, int y) {
        if (mismatches++ == 0)
            first = "first at " + std::to_string(x) + "," + std::to_string(y) + ": " +
                    pixel(x, y).GetAsString(wxC2S_HTML_SYNTAX).utf8_string();
    };
    for (int y : {1, f.top - 2}) {
        std::set<unsigned long> allowed = PartColours(skin, image, kPartTop, y, -1);
        std::set<unsigned long> inactive = PartColours(skin, image, kPartTopIA, y, -1);
        allowed.insert(inactive.begin(), inactive.end());
        ASSERT_FALSE(allowed.empty());
        for (int x = fillLeft; x < fillRight; x += 5, ++samples)
            if (!allowed.count(pixel(x, y).GetRGB()))
                miss(x, y);
    }
    for (int x = 0; x < f.left; ++x) {
        std::set<unsigned long> allowed = PartColours(skin, image, kPartLeft, -1, x);
        ASSERT_FALSE(allowed.empty());
        for (int y = f.top + 10; y < client.y - f.bottom - 10; y += 7, ++samples)
            if (!allowed.count(pixel(x, y).GetRGB()))
                miss(x, y);
    }
    EXPECT_GT(samples, 100);
    EXPECT_EQ(mismatches, 0) << "of " << samples << " title row and left edge pixels, " << first;
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

TEST_F(MainWindowSkinTest, SkinnedFrameIsNotCoveredByTheControls) {
    ASSERT_FALSE(manager.LoadSkin(L""));
    Open();
    const std::vector<wxRect> places = ControlPlaces(window);
    const wxSize client = window->GetClientSize();
    ASSERT_EQ(places.size(), std::size(kControlIds));
    window->Destroy();
    window = nullptr;
    PumpEvents(100);

    // Opened with the skin in force, as at the start of the program.
    for (const std::wstring name : {L"Daylight", L"Midnight"}) {
        SCOPED_TRACE(wxString(name).utf8_string());
        ASSERT_TRUE(manager.LoadSkin(name)) << wxString(manager.LastError()).utf8_string();
        Open();
        const LoadedWindowSkin* skin = manager.WindowSkinFor(kMainWindowKind);
        ASSERT_NE(skin, nullptr);
        ExpectFrameUncovered(window, *skin, ControlPlaces, places, client,
                             "main-window-skin-" + wxString(name).utf8_string());
        window->Destroy();
        window = nullptr;
        PumpEvents(100);
    }

    // Switched at run time, from no skin through both and back: laid out again each time, and
    // without a skin everything is where it was.
    ASSERT_FALSE(manager.LoadSkin(L""));
    Open();
    const wxRect outer = window->GetRect();
    for (const std::wstring name : {L"Midnight", L"Daylight"}) {
        SCOPED_TRACE("switched to " + wxString(name).utf8_string());
        ASSERT_TRUE(Choose(wxString(name)));
        ASSERT_TRUE(PumpUntil([&] { return manager.SkinName() == name; }, 5000));
        const LoadedWindowSkin* skin = manager.WindowSkinFor(kMainWindowKind);
        ASSERT_NE(skin, nullptr);
        ExpectFrameUncovered(window, *skin, ControlPlaces, places, client,
                             "main-window-skin-switched-" + wxString(name).utf8_string());
    }
    ASSERT_TRUE(Choose(wxS("(No skin)")));
    ASSERT_TRUE(PumpUntil([&] { return !manager.IsSkinActive(); }, 5000));
    PumpEvents(200);
    EXPECT_EQ(window->GetClientSize(), client);
    EXPECT_EQ(window->GetRect(), outer);
    EXPECT_EQ(ControlPlaces(window), places);
    SaveScreenshot(window, "main-window-skin-switched-none");
}

TEST_F(MainWindowSkinTest, DialogsThatPlaceTheirControlsKeepTheFrameUncovered) {
    ClipProperties record;
    record.path = L"/clips/first clip.flv";
    record.format = L"flv";
    record.resolution = L"640x360 pixels";
    record.duration = L"00:01:05.00";
    record.videoCodec = L"h264";
    record.audioCodec = L"aac";
    // Each dialog opened beside the main window, as its buttons open it (without the modal loop).
    using Make = std::function<wxDialog*(wxWindow*)>;
    const std::vector<std::pair<std::string, Make>> dialogs = {
        {"about-box", [](wxWindow* owner) { return new AboutDialog(owner); }},
        {"property-dialog", [&record](wxWindow* owner) { return new PropertyDialog(owner, record, 0); }},
    };
    auto show = [](wxDialog* dialog) {
        dialog->Show();
        PumpUntil([&] { return dialog->IsShownOnScreen(); }, 5000);
        // Without a window manager GTK maps a dialog at the screen's corner whatever its position
        // says; moving it once it is shown puts it where wx believes it is.
        wxPoint at = dialog->GetPosition();
        dialog->Move(at + wxPoint(1, 1));
        PumpEvents(50);
        dialog->Move(at);
        PumpEvents(200);
    };
    ASSERT_FALSE(manager.LoadSkin(L""));
    Open();
    for (const auto& [label, make] : dialogs) {
        SCOPED_TRACE(label);
        wxDialog* dialog = make(window);
        show(dialog);
        const std::vector<wxRect> places = ChildPlaces(dialog);
        const wxSize client = dialog->GetClientSize();
        ASSERT_GE(places.size(), 5u);
        dialog->Destroy();
        PumpEvents(100);
        for (const std::wstring name : {L"Daylight", L"Midnight"}) {
            SCOPED_TRACE(wxString(name).utf8_string());
            ASSERT_TRUE(manager.LoadSkin(name));
            dialog = make(window);
            show(dialog);
            const LoadedWindowSkin* skin = manager.WindowSkinFor(kDialogKind);
            ASSERT_NE(skin, nullptr);
            ExpectFrameUncovered(dialog, *skin, ChildPlaces, places, client,
                                 label + "-skin-" + wxString(name).utf8_string());
            dialog->Destroy();
            PumpEvents(100);
        }
        ASSERT_FALSE(manager.LoadSkin(L""));
    }
}

TEST_F(MainWindowSkinTest, PlayerPageStaysInsideTheFrameOnceBuilt) {
    // The player builds its page a moment after it opens and sizes its view then: inside the
    // frame, as its sizer places it, not over the frame's right and bottom edges.
    test::ScratchFolder clips("quilmer-skin-player");
    clips.Write("clip.flv", "FLV");
    ASSERT_TRUE(manager.LoadSkin(L"Midnight"));
    PlayerWindow* player = OpenPlayer(clips.Wide("clip.flv"));
    ASSERT_NE(player, nullptr);
    ASSERT_TRUE(PumpUntil([&] { return player->PageLoaded(); }, 30000));
    PumpEvents(200);
    const LoadedWindowSkin* skin = manager.WindowSkinFor(kMainWindowKind);
    ASSERT_NE(skin, nullptr);
    FrameSizes f = SkinFrameSizes(skin->def);
    wxSize client = player->GetClientSize();
    EXPECT_EQ(ClientRect(player, player->Browser()),
              wxRect(f.left, f.top, client.x - f.left - f.right, client.y - f.top - f.bottom));
    SaveScreenshot(player, "player-skin-Midnight");
    player->Destroy();
    PumpEvents(100);
}

TEST_F(MainWindowSkinTest, PlayerReopenedUnderASkinKeepsItsSize) {
    test::ScratchFolder clips("quilmer-skin-reopen");
    clips.Write("clip.flv", "FLV");
    ASSERT_TRUE(manager.LoadSkin(L"Midnight"));
    std::vector<wxSize> sizes;
    for (int round = 0; round < 3; ++round) {
        PlayerWindow* player = OpenPlayer(clips.Wide("clip.flv"));
        ASSERT_NE(player, nullptr);
        PumpEvents(300);
        sizes.push_back(player->GetSize());
        if (round == 2) SaveScreenshot(player, "player-skin-reopened");
        player->Close(true);  // keeps its placement
        PumpEvents(200);
    }
    EXPECT_EQ(sizes[1], sizes[0]);
    EXPECT_EQ(sizes[2], sizes[0]);
    ASSERT_FALSE(manager.LoadSkin(L""));
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
