// Skinned frames on real windows under Xvfb: a test frame stands in for the main window
// ("CMainWnd") and a dialog of its own for the program's dialogs ("CDialog").

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <wx/button.h>
#include <wx/dialog.h>
#include <wx/display.h>
#include <wx/frame.h>
#include <wx/image.h>
#include <wx/menu.h>
#include <wx/panel.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/uiaction.h>

#include <filesystem>

#include "foundation/FileUtil.h"
#include "foundation/Settings.h"
#include "skin/gui/FrameSkinManager.h"
#include "tests/support/GuiTestSupport.h"
#include "tests/support/ScratchFolder.h"

namespace quilmer {
namespace {

using test::PumpEvents;
using test::PumpUntil;
using test::SaveScreenshot;

const std::wstring kShippedSkins = WidePath(QUILMER_PROGRAM_DIR "/skins/");

wxFrame* MakeMainWindow(bool* closed = nullptr) {
    auto* frame = new wxFrame(nullptr, wxID_ANY, "Quilmer test window", wxPoint(60, 60), wxSize(520, 380));
    auto* panel = new wxPanel(frame);
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(new wxStaticText(panel, wxID_ANY, "Clips to join:"), 0, wxALL, 8);
    sizer->Add(new wxTextCtrl(panel, wxID_ANY, "first.flv\nsecond.wmv", wxDefaultPosition, wxDefaultSize,
                              wxTE_MULTILINE),
               1, wxEXPAND | wxLEFT | wxRIGHT, 8);
    sizer->Add(new wxButton(panel, wxID_OK, "&Join..."), 0, wxALL | wxALIGN_RIGHT, 8);
    panel->SetSizer(sizer);
    // A small icon, so that skins with an "Icon" anchor have something to draw.
    wxImage mark(16, 16);
    mark.SetRGB(wxRect(0, 0, 16, 16), 0x4A, 0x90, 0xD9);
    mark.SetRGB(wxRect(4, 4, 8, 8), 0xFF, 0xFF, 0xFF);
    wxIcon icon;
    icon.CopyFromBitmap(wxBitmap(mark));
    frame->SetIcon(icon);
    if (closed)
        frame->Bind(wxEVT_CLOSE_WINDOW, [frame, closed](wxCloseEvent&) {
            *closed = true;
            frame->Destroy();
        });
    return frame;
}

wxDialog* MakeDialog() {
    auto* dialog = new wxDialog(nullptr, wxID_ANY, "Clip properties", wxPoint(640, 80), wxSize(360, 240));
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(new wxStaticText(dialog, wxID_ANY, "Duration: 00:01:05\nSize: 640x360"), 1, wxALL | wxEXPAND,
               12);
    sizer->Add(dialog->CreateButtonSizer(wxOK), 0, wxALL | wxEXPAND, 8);
    dialog->SetSizer(sizer);
    return dialog;
}

// A screen pixel of the window, from its screenshot.
wxColour ScreenPixel(const std::filesystem::path& shot, int x, int y) {
    wxImage image(wxString::FromUTF8(shot.string()), wxBITMAP_TYPE_PNG);
    if (!image.IsOk() || x >= image.GetWidth() || y >= image.GetHeight()) return wxNullColour;
    return wxColour(image.GetRed(x, y), image.GetGreen(x, y), image.GetBlue(x, y));
}

// The colour of the skin's "Top" part at row y, in the window's active or inactive look (without a
// window manager nothing gives the windows the focus, so they usually look inactive here).
wxColour TopPartPixel(const LoadedWindowSkin& skin, int y, wxTopLevelWindow* window) {
    wxImage image = skin.image.ConvertToImage();
    int part = (!window->IsActive() && skin.def.partPresent[kPartTopIA]) ? kPartTopIA : kPartTop;
    const SkinRect& r = skin.def.partRect[part];
    return wxColour(image.GetRed(r.left, r.top + y), image.GetGreen(r.left, r.top + y),
                    image.GetBlue(r.left, r.top + y));
}

class SkinnedFrameTest : public ::testing::Test {
protected:
    void SetUp() override {
        store_ = std::make_unique<SettingsStore>(scratch_.Wide("settings.json"));
        manager_ = std::make_unique<CFrameSkinManager>(kShippedSkins, *store_);
    }
    void TearDown() override {
        for (wxWindow* w : wxTopLevelWindows) w->Destroy();
        PumpEvents(100);
        manager_.reset();
    }

    wxFrame* ShowMain(bool* closed = nullptr) {
        wxFrame* frame = MakeMainWindow(closed);
        manager_->AttachWindow(frame);
        frame->Show();
        PumpUntil([&] { return frame->IsShownOnScreen(); });
        PumpEvents(200);
        return frame;
    }

    void Click(const wxPoint& screen) {
        wxUIActionSimulator sim;
        sim.MouseMove(screen);
        PumpEvents(60);
        sim.MouseClick();
        PumpEvents(150);
    }
    void Drag(const wxPoint& from, const wxPoint& to) {
        wxUIActionSimulator sim;
        sim.MouseMove(from);
        PumpEvents(60);
        sim.MouseDown();
        PumpEvents(60);
        wxPoint middle((from.x + to.x) / 2, (from.y + to.y) / 2);
        sim.MouseMove(middle);
        PumpEvents(60);
        sim.MouseMove(to);
        PumpEvents(100);
        sim.MouseUp();
        PumpEvents(150);
    }
    static wxPoint Centre(const wxRect& r) { return wxPoint(r.x + r.width / 2, r.y + r.height / 2); }

    test::ScratchFolder scratch_;
    std::unique_ptr<SettingsStore> store_;
    std::unique_ptr<CFrameSkinManager> manager_;
};

TEST_F(SkinnedFrameTest, MainWindowAndDialogInEachSkinAndWithout) {
    ASSERT_GE(manager_->InstalledSkins().size(), 2u);
    for (std::wstring name : {std::wstring(), std::wstring(L"Daylight"), std::wstring(L"Midnight")}) {
        SCOPED_TRACE(std::string(name.begin(), name.end()));
        EXPECT_EQ(manager_->LoadSkin(name), !name.empty());
        EXPECT_EQ(store_->ReadString(L"Config", L"SkinName"), name);
        wxFrame* frame = ShowMain();
        wxDialog* dialog = MakeDialog();
        manager_->AttachWindow(dialog);
        dialog->Show();
        PumpUntil([&] { return dialog->IsShownOnScreen(); });
        // Without a window manager GTK maps a dialog at the screen's corner whatever its position
        // says; moving it once it is shown puts it where wx believes it is.
        dialog->Move(641, 81);
        PumpEvents(50);
        dialog->Move(640, 80);
        PumpEvents(100);
        std::string label = name.empty() ? "none" : std::string(name.begin(), name.end());
        auto mainShot = SaveScreenshot(frame, "skin_" + label + "_main");
        auto dialogShot = SaveScreenshot(dialog, "skin_" + label + "_dialog");

        SkinnedWindow* skinnedMain = manager_->Find(frame);
        SkinnedWindow* skinnedDialog = manager_->Find(dialog);
        ASSERT_TRUE(skinnedMain && skinnedDialog);
        EXPECT_EQ(skinnedMain->Kind(), L"CMainWnd");
        EXPECT_EQ(skinnedDialog->Kind(), L"CDialog");
        EXPECT_EQ(skinnedMain->IsSkinned(), !name.empty());
        EXPECT_EQ(skinnedDialog->IsSkinned(), !name.empty());
        EXPECT_EQ(frame->HasFlag(wxBORDER_NONE), !name.empty());
        if (!name.empty()) {
            // The title row on screen is the skin's top part.
            const LoadedWindowSkin* main = manager_->WindowSkinFor(L"CMainWnd");
            ASSERT_TRUE(main);
            EXPECT_EQ(ScreenPixel(mainShot, frame->GetSize().x / 2, 2), TopPartPixel(*main, 2, frame));
            const LoadedWindowSkin* dlg = manager_->WindowSkinFor(L"CDialog");
            ASSERT_TRUE(dlg);
            EXPECT_EQ(ScreenPixel(dialogShot, dialog->GetSize().x / 2, 2), TopPartPixel(*dlg, 2, dialog));
            // The contents sit inside the frame: the panel starts below the title row.
            wxWindow* panel = frame->GetChildren().GetFirst()->GetData();
            EXPECT_EQ(panel->GetPosition().y, SkinFrameSizes(main->def).top);
            EXPECT_EQ(panel->GetPosition().x, SkinFrameSizes(main->def).left);
        } else {
            EXPECT_EQ(frame->GetChildren().GetFirst()->GetData()->GetPosition(), wxPoint(0, 0));
        }
        frame->Destroy();
        dialog->Destroy();
        PumpEvents(100);
        // Destroyed windows have left the manager by themselves.
        EXPECT_EQ(manager_->Find(frame), nullptr);
        EXPECT_EQ(manager_->Find(dialog), nullptr);
    }
}

// A window that places its children by position and has a fixed size, as the main window does.
wxFrame* MakePlacedWindow() {
    auto* frame = new wxFrame(nullptr, wxID_ANY, "Placed children", wxPoint(80, 520), wxDefaultSize,
                              wxDEFAULT_FRAME_STYLE & ~(wxRESIZE_BORDER | wxMAXIMIZE_BOX));
    new wxTextCtrl(frame, wxID_ANY, "clips", wxPoint(0, 0), wxSize(300, 120), wxTE_MULTILINE);
    new wxButton(frame, wxID_OK, "&Join...", wxPoint(310, 0), wxSize(90, 30));
    new wxButton(frame, wxID_CANCEL, "&Cancel", wxPoint(310, 130), wxSize(90, 30));
    frame->SetClientSize(400, 160);
    frame->SetMinClientSize(wxSize(400, 160));
    frame->SetMaxClientSize(wxSize(400, 160));
    return frame;
}

TEST_F(SkinnedFrameTest, ContentsMakeRoomForTheFrameHoweverTheyAreLaidOut) {
    // Each child's place in its window's client area, and the client size.
    struct Look {
        wxSize client;
        std::vector<wxRect> children;
        bool operator==(const Look&) const = default;
    };
    auto look = [](wxTopLevelWindow* window) {
        Look l{window->GetClientSize(), {}};
        for (wxWindow* child : window->GetChildren())
            if (!child->IsTopLevel()) l.children.emplace_back(child->GetPosition(), child->GetSize());
        return l;
    };
    ASSERT_FALSE(manager_->LoadSkin(L""));
    wxFrame* placed = MakePlacedWindow();
    wxDialog* dialog = MakeDialog();  // laid out by its sizer
    wxFrame* panelled = MakeMainWindow();  // one panel that fills the window
    std::vector<wxTopLevelWindow*> windows{placed, dialog, panelled};
    std::vector<Look> plain;
    std::vector<wxSize> minimum;
    for (wxTopLevelWindow* window : windows) {
        manager_->AttachWindow(window);
        window->Show();
        PumpUntil([&] { return window->IsShownOnScreen(); });
        PumpEvents(100);
        plain.push_back(look(window));
        minimum.push_back(window->GetMinSize());
    }

    for (const wchar_t* name : {L"Midnight", L"Daylight"}) {
        SCOPED_TRACE(wxString(name).utf8_string());
        ASSERT_TRUE(manager_->LoadSkin(name));
        PumpEvents(150);
        for (std::size_t i = 0; i < windows.size(); ++i) {
            wxTopLevelWindow* window = windows[i];
            SCOPED_TRACE(window->GetTitle().utf8_string());
            const LoadedWindowSkin* skin = manager_->WindowSkinFor(manager_->Find(window)->Kind());
            ASSERT_TRUE(skin);
            FrameSizes f = SkinFrameSizes(skin->def);
            // The window grows by the frame; its children keep their size and move inside it.
            Look expected = plain[i];
            expected.client += wxSize(f.left + f.right, f.top + f.bottom);
            for (wxRect& r : expected.children) r.Offset(f.left, f.top);
            EXPECT_EQ(look(window), expected);
            if (window == placed) {
                // Its fixed size grows with it.
                EXPECT_EQ(window->GetMinSize(), minimum[i] + wxSize(f.left + f.right, f.top + f.bottom));
                EXPECT_EQ(window->GetMaxSize(), window->GetMinSize());
            }
        }
        SaveScreenshot(placed, "skin_" + wxString(name).utf8_string() + "_placed_children");
    }

    // Without a skin everything is as it was.
    manager_->LoadSkin(L"");
    PumpEvents(150);
    for (std::size_t i = 0; i < windows.size(); ++i) {
        SCOPED_TRACE(windows[i]->GetTitle().utf8_string());
        EXPECT_EQ(look(windows[i]), plain[i]);
        EXPECT_EQ(windows[i]->GetMinSize(), minimum[i]);
    }
}

TEST_F(SkinnedFrameTest, SkinChangedWhileMaximisedRestoresToTheRightSize) {
    ASSERT_FALSE(manager_->LoadSkin(L""));
    wxFrame* frame = ShowMain();
    const wxSize plain = frame->GetClientSize();
    ASSERT_TRUE(manager_->LoadSkin(L"Midnight"));
    SkinnedWindow* skinned = manager_->Find(frame);
    ASSERT_TRUE(skinned && skinned->IsSkinned());
    skinned->Maximise();
    PumpEvents(100);
    const wxRect work = wxDisplay(0u).GetClientArea();
    ASSERT_EQ(frame->GetRect(), work);

    // Another skin while maximised: still maximised, and restoring gives the window its own size
    // with the new skin's frame around it.
    ASSERT_TRUE(manager_->LoadSkin(L"Daylight"));
    PumpEvents(100);
    EXPECT_TRUE(skinned->IsMaximised());
    EXPECT_EQ(frame->GetRect(), work);
    skinned->Restore();
    PumpEvents(100);
    FrameSizes f = SkinFrameSizes(manager_->WindowSkinFor(L"CMainWnd")->def);
    EXPECT_EQ(frame->GetClientSize(), plain + wxSize(f.left + f.right, f.top + f.bottom));

    // No skin while maximised: the plain window at its own size.
    skinned->Maximise();
    PumpEvents(100);
    manager_->LoadSkin(L"");
    PumpEvents(100);
    EXPECT_FALSE(skinned->IsMaximised());
    EXPECT_EQ(frame->GetClientSize(), plain);
    EXPECT_EQ(frame->GetChildren().GetFirst()->GetData()->GetRect(), wxRect(wxPoint(0, 0), plain));
}

TEST_F(SkinnedFrameTest, RoundedRegionFollowsTheSize) {
    ASSERT_TRUE(manager_->LoadSkin(L"Midnight"));
    wxFrame* frame = ShowMain();
    SkinnedWindow* skinned = manager_->Find(frame);
    ASSERT_TRUE(skinned);
    for (wxSize size : {wxSize(520, 380), wxSize(700, 450)}) {
        frame->SetSize(size);
        PumpEvents(150);
        const wxRegion& shape = skinned->Shape();
        ASSERT_FALSE(shape.IsEmpty());
        EXPECT_EQ(shape.Contains(0, 0), wxOutRegion);           // rounded top-left corner
        EXPECT_EQ(shape.Contains(size.x - 1, 0), wxOutRegion);  // rounded top-right corner, at the new size
        EXPECT_EQ(shape.Contains(size.x / 2, 0), wxInRegion);
        EXPECT_EQ(shape.Contains(0, size.y - 1), wxInRegion);  // square bottom corners
        EXPECT_EQ(shape.Contains(size.x - 1, size.y - 1), wxInRegion);
    }
    auto shot = SaveScreenshot(frame, "skin_Midnight_resized");
    // The screen shows the shape: the rounded corner lets what is below show through, while the
    // square bottom corner is the frame's own edge.
    const LoadedWindowSkin* skin = manager_->WindowSkinFor(L"CMainWnd");
    wxImage image = skin->image.ConvertToImage();
    const SkinRect& corner = skin->def.partRect[kPartBottomLeft];
    wxColour edge(image.GetRed(corner.left, corner.top), image.GetGreen(corner.left, corner.top),
                  image.GetBlue(corner.left, corner.top));
    wxSize size = frame->GetSize();
    EXPECT_EQ(ScreenPixel(shot, 0, size.y - 1), edge);
    EXPECT_NE(ScreenPixel(shot, 1, 1), edge);
    const SkinRect& topLeft = skin->def.partRect[kPartTopLeftIA];
    EXPECT_NE(ScreenPixel(shot, 1, 1), wxColour(image.GetRed(topLeft.left + 1, topLeft.top + 1),
                                                image.GetGreen(topLeft.left + 1, topLeft.top + 1),
                                                image.GetBlue(topLeft.left + 1, topLeft.top + 1)));
    // Without a skin the window has no shape of its own.
    manager_->LoadSkin(L"");
    EXPECT_TRUE(skinned->Shape().IsEmpty());
}

TEST_F(SkinnedFrameTest, CaptionButtons) {
    ASSERT_TRUE(manager_->LoadSkin(L"Daylight"));
    bool closed = false;
    wxFrame* frame = ShowMain(&closed);
    SkinnedWindow* skinned = manager_->Find(frame);
    ASSERT_TRUE(skinned);
    wxUIActionSimulator sim;

    // Hover shows the hover look.
    wxRect closeRect = skinned->AnchorScreenRect(kAnchorClose);
    ASSERT_FALSE(closeRect.IsEmpty());
    sim.MouseMove(Centre(closeRect));
    PumpEvents(150);
    EXPECT_EQ(skinned->HotButton(), kButtonClose);
    auto hover = SaveScreenshot(frame, "skin_Daylight_close_hover");
    EXPECT_EQ(skinned->HotButton(), kButtonClose);
    {
        // The button shows its hover part.
        const LoadedWindowSkin* skin = manager_->WindowSkinFor(L"CMainWnd");
        wxImage image = skin->image.ConvertToImage();
        const SkinRect& part = skin->def.partRect[kPartCloseHover];
        wxRect area = closeRect;
        area.Offset(-frame->GetScreenPosition());
        EXPECT_EQ(
            ScreenPixel(hover, area.x + 2, area.y + 2),
            wxColour(image.GetRed(part.left + 2, part.top + 2), image.GetGreen(part.left + 2, part.top + 2),
                     image.GetBlue(part.left + 2, part.top + 2)));
    }

    // Pressing Close and letting go elsewhere does not close.
    Drag(Centre(closeRect), Centre(closeRect) + wxPoint(-120, 60));
    EXPECT_FALSE(closed);
    EXPECT_EQ(skinned->PressedButton(), kButtonNone);

    // Minimise: there is no window manager under Xvfb to iconify the window, so the test checks
    // that the frame asked for it.
    Click(Centre(skinned->AnchorScreenRect(kAnchorMinimise)));
    EXPECT_EQ(skinned->MinimiseCount(), 1);
    frame->Iconize(false);
    frame->Raise();
    PumpEvents(100);

    // Maximise covers the work area of the (primary) display; a second click restores.
    wxRect before = frame->GetRect();
    Click(Centre(skinned->AnchorScreenRect(kAnchorMaximise)));
    ASSERT_TRUE(PumpUntil([&] { return skinned->IsMaximised(); }, 3000));
    PumpEvents(150);
    wxRect work = wxDisplay(0u).GetClientArea();
    EXPECT_EQ(frame->GetRect(), work);
    EXPECT_TRUE(skinned->Shape().IsEmpty());
    SaveScreenshot(frame, "skin_Daylight_maximised");
    Click(Centre(skinned->AnchorScreenRect(kAnchorMaximise)));
    ASSERT_TRUE(PumpUntil([&] { return !skinned->IsMaximised(); }, 3000));
    PumpEvents(100);
    EXPECT_EQ(frame->GetRect(), before);

    // A dialog without minimise and maximise boxes ignores those buttons of the skin.
    wxDialog* dialog = MakeDialog();
    manager_->AttachWindow(dialog);
    dialog->Show();
    PumpEvents(150);
    dialog->Move(641, 81);
    PumpEvents(50);
    dialog->Move(640, 80);
    PumpEvents(100);
    SkinnedWindow* skinnedDialog = manager_->Find(dialog);
    ASSERT_TRUE(skinnedDialog);
    wxRect dialogRect = dialog->GetRect();
    Click(Centre(skinnedDialog->AnchorScreenRect(kAnchorMaximise)));
    Click(Centre(skinnedDialog->AnchorScreenRect(kAnchorMinimise)));
    PumpEvents(100);
    EXPECT_FALSE(skinnedDialog->IsMaximised());
    EXPECT_EQ(skinnedDialog->MinimiseCount(), 0);
    EXPECT_EQ(dialog->GetRect(), dialogRect);
    dialog->Destroy();
    PumpEvents(100);

    // Close closes, and the closed window leaves the manager.
    Click(Centre(skinned->AnchorScreenRect(kAnchorClose)));
    EXPECT_TRUE(PumpUntil([&] { return closed; }, 3000));
    PumpEvents(100);
    EXPECT_EQ(manager_->Find(frame), nullptr);
}

TEST_F(SkinnedFrameTest, CaptionDragMovesAndBorderResizeKeepsTheMinimum) {
    ASSERT_TRUE(manager_->LoadSkin(L"Midnight"));
    wxFrame* frame = ShowMain();
    SkinnedWindow* skinned = manager_->Find(frame);
    ASSERT_TRUE(skinned);

    wxPoint start = frame->GetPosition();
    wxPoint grab = start + wxPoint(120, 15);
    ASSERT_EQ(skinned->HitAt(wxPoint(120, 15)), SkinHit::Caption);
    Drag(grab, grab + wxPoint(70, 45));
    EXPECT_EQ(frame->GetPosition(), start + wxPoint(70, 45));

    // The right border: dragged far to the left, the width stops at the skin's minimum (360).
    wxRect r = frame->GetRect();
    ASSERT_EQ(skinned->HitAt(wxPoint(r.width - 2, r.height / 2)), SkinHit::Right);
    Drag(wxPoint(r.GetRight() - 1, r.y + r.height / 2), wxPoint(r.x + 10, r.y + r.height / 2));
    EXPECT_EQ(frame->GetSize().x, 360);
    EXPECT_EQ(frame->GetPosition(), r.GetPosition());
    // The top border: the bottom edge stays put while the height stops at 260.
    r = frame->GetRect();
    ASSERT_EQ(skinned->HitAt(wxPoint(r.width / 2, 2)), SkinHit::Top);
    Drag(wxPoint(r.x + r.width / 2, r.y + 2), wxPoint(r.x + r.width / 2, r.y + r.height));
    EXPECT_EQ(frame->GetSize().y, 260);
    EXPECT_EQ(frame->GetRect().GetBottom(), r.GetBottom());
    // The bottom-right grip resizes both ways.
    r = frame->GetRect();
    Drag(wxPoint(r.GetRight() - 3, r.GetBottom() - 3), wxPoint(r.GetRight() + 97, r.GetBottom() + 57));
    EXPECT_EQ(frame->GetSize(), wxSize(r.width + 100, r.height + 60));
    SaveScreenshot(frame, "skin_Midnight_after_resize");
}

TEST_F(SkinnedFrameTest, SystemButtonOpensTheSystemMenu) {
    ASSERT_TRUE(manager_->LoadSkin(L"Midnight"));
    bool closed = false;
    wxFrame* frame = ShowMain(&closed);
    SkinnedWindow* skinned = manager_->Find(frame);
    ASSERT_TRUE(skinned);
    wxRect system = skinned->AnchorScreenRect(kAnchorSystem);
    ASSERT_FALSE(system.IsEmpty());

    // The menu runs its own loop: the handler of its opening picks an entry (or none) and closes it.
    int opened = 0;
    wxString pick;
    frame->Bind(wxEVT_MENU_OPEN, [&](wxMenuEvent& event) {
        wxMenu* menu = event.GetMenu();
        if (!menu || menu->GetParent() || !event.IsPopup()) return;
        ++opened;
        wxString item = pick;
        frame->CallAfter([menu, item] {
            if (!item.empty()) menu->SendEvent(menu->FindItem(item));
            wxUIActionSimulator().Char(WXK_ESCAPE);
        });
    });

    // Closed without a choice after more than 300 ms: the window stays.
    wxUIActionSimulator sim;
    sim.MouseMove(Centre(system));
    PumpEvents(60);
    frame->Bind(wxEVT_MENU_OPEN, [](wxMenuEvent& event) {
        wxMilliSleep(350);
        event.Skip();
    });
    sim.MouseClick();
    PumpEvents(400);
    EXPECT_EQ(opened, 1);
    EXPECT_FALSE(closed);

    // Maximise chosen from the menu.
    pick = "Maximize";
    sim.MouseClick();
    ASSERT_TRUE(PumpUntil([&] { return skinned->IsMaximised(); }, 3000));
    EXPECT_EQ(opened, 2);
    auto shot = SaveScreenshot(frame, "skin_Midnight_maximised_from_menu");
    // The rounded shape is gone: the far side of the maximised window is on screen.
    wxSize size = frame->GetSize();
    EXPECT_NE(ScreenPixel(shot, size.x - 30, size.y / 2), wxColour(0, 0, 0));
    EXPECT_NE(ScreenPixel(shot, size.x - 1, 1), wxColour(0, 0, 0));
    pick = "Restore";
    sim.MouseMove(Centre(skinned->AnchorScreenRect(kAnchorSystem)));
    PumpEvents(60);
    sim.MouseClick();
    ASSERT_TRUE(PumpUntil([&] { return !skinned->IsMaximised(); }, 3000));
    pick = "Close";
    sim.MouseMove(Centre(skinned->AnchorScreenRect(kAnchorSystem)));
    PumpEvents(60);
    sim.MouseClick();
    EXPECT_TRUE(PumpUntil([&] { return closed; }, 3000));
}

TEST_F(SkinnedFrameTest, ActiveAndInactiveLook) {
    ASSERT_TRUE(manager_->LoadSkin(L"Daylight"));
    wxFrame* frame = ShowMain();
    wxFrame* other = MakeMainWindow();
    other->Move(700, 500);
    manager_->AttachWindow(other);
    other->Show();
    PumpEvents(150);
    const LoadedWindowSkin* skin = manager_->WindowSkinFor(L"CMainWnd");
    wxImage image = skin->image.ConvertToImage();
    auto partPixel = [&](int part) {
        const SkinRect& r = skin->def.partRect[part];
        return wxColour(image.GetRed(r.left, r.top + 3), image.GetGreen(r.left, r.top + 3),
                        image.GetBlue(r.left, r.top + 3));
    };
    ASSERT_NE(partPixel(kPartTop), partPixel(kPartTopIA));
    // Without a window manager nothing hands out the focus; GTK's present gives it to the window.
    using PresentFn = void (*)(void*);
    auto present = reinterpret_cast<PresentFn>(::dlsym(RTLD_DEFAULT, "gtk_window_present"));
    ASSERT_TRUE(present);
    for (wxTopLevelWindow* active :
         {static_cast<wxTopLevelWindow*>(frame), static_cast<wxTopLevelWindow*>(other)}) {
        present(active->GetHandle());
        ASSERT_TRUE(PumpUntil([&] { return active->IsActive(); }, 3000));
        PumpEvents(150);
        wxTopLevelWindow* inactive = active == frame ? other : frame;
        auto activeShot =
            SaveScreenshot(active, active == frame ? "skin_Daylight_active" : "skin_Daylight_active_2");
        auto inactiveShot =
            SaveScreenshot(inactive, active == frame ? "skin_Daylight_inactive" : "skin_Daylight_inactive_2");
        EXPECT_EQ(ScreenPixel(activeShot, 200, 3), partPixel(kPartTop));
        EXPECT_EQ(ScreenPixel(inactiveShot, 200, 3), partPixel(kPartTopIA));
    }
}

TEST_F(SkinnedFrameTest, SwitchingSkinsRedrawsOpenWindows) {
    ASSERT_TRUE(manager_->LoadSkin(L"Daylight"));
    wxFrame* frame = ShowMain();
    int x = frame->GetSize().x / 2;
    auto first = SaveScreenshot(frame, "skin_switch_1_Daylight");
    EXPECT_EQ(ScreenPixel(first, x, 2), TopPartPixel(*manager_->WindowSkinFor(L"CMainWnd"), 2, frame));

    // The chooser applies the choice at once and stores it.
    std::unique_ptr<wxMenu> menu(CreateSkinMenu(*manager_));
    int midnightId = kSkinMenuFirstId + 1;
    for (std::size_t i = 0; i < manager_->InstalledSkins().size(); ++i)
        if (manager_->InstalledSkins()[i] == L"Midnight") midnightId = kSkinMenuFirstId + 1 + int(i);
    EXPECT_TRUE(menu->FindItem(midnightId)->IsRadio());
    EXPECT_FALSE(menu->IsChecked(kSkinMenuFirstId));  // not "(No skin)": Daylight is in force
    wxCommandEvent choose(wxEVT_MENU, midnightId);
    choose.SetEventObject(menu.get());
    menu->ProcessEvent(choose);
    ASSERT_TRUE(PumpUntil([&] { return manager_->SkinName() == L"Midnight"; }, 3000));
    EXPECT_EQ(store_->ReadString(L"Config", L"SkinName"), L"Midnight");
    {
        // The chooser opened again shows the skin in force.
        wxMenuEvent open(wxEVT_MENU_OPEN, 0, menu.get());
        menu->ProcessEvent(open);
        EXPECT_TRUE(menu->IsChecked(midnightId));
    }
    auto second = SaveScreenshot(frame, "skin_switch_2_Midnight");
    EXPECT_EQ(ScreenPixel(second, x, 2), TopPartPixel(*manager_->WindowSkinFor(L"CMainWnd"), 2, frame));
    EXPECT_NE(ScreenPixel(first, x, 2), ScreenPixel(second, x, 2));

    // A new title is drawn without anything else happening to the window.
    frame->SetTitle("Joining 3 clips");
    PumpEvents(200);
    auto retitled = SaveScreenshot(frame, "skin_switch_2_Midnight_retitled");
    wxImage before(wxString::FromUTF8(second.string()), wxBITMAP_TYPE_PNG);
    wxImage after(wxString::FromUTF8(retitled.string()), wxBITMAP_TYPE_PNG);
    int changed = 0;
    for (int py = 4; py < 26; ++py)
        for (int px = 60; px < frame->GetSize().x - 100; ++px)
            if (before.GetRed(px, py) != after.GetRed(px, py)) ++changed;
    EXPECT_GT(changed, 20);

    // "(No skin)" gives the window its system frame back.
    wxCommandEvent none(wxEVT_MENU, kSkinMenuFirstId);
    none.SetEventObject(menu.get());
    menu->ProcessEvent(none);
    ASSERT_TRUE(PumpUntil([&] { return !manager_->IsSkinActive(); }, 3000));
    EXPECT_FALSE(manager_->Find(frame)->IsSkinned());
    EXPECT_FALSE(frame->HasFlag(wxBORDER_NONE));
    EXPECT_EQ(store_->ReadString(L"Config", L"SkinName"), L"");
    SaveScreenshot(frame, "skin_switch_3_none");
}

TEST_F(SkinnedFrameTest, BrokenSkinFolderLeavesTheSystemFrame) {
    test::ScratchFolder skins;
    std::filesystem::copy(std::filesystem::path(QUILMER_PROGRAM_DIR) / "skins", skins.Path(),
                          std::filesystem::copy_options::recursive);
    skins.Write("Broken/skin.xml", "<root><skin><windowSkins><windowSkin><target window=");
    skins.Write(
        "NotAnImage/skin.xml",
        "<root><skin><windowSkins><windowSkin><target window=\"CMainWnd\"/><image path=\"frame.png\"/>"
        "</windowSkin></windowSkins></skin></root>");
    skins.Write("NotAnImage/frame.png", "\x89PNG\r\n\x1a\n but nothing after the signature");
    CFrameSkinManager manager(skins.Wide(), *store_);

    wxFrame* frame = MakeMainWindow();
    manager.AttachWindow(frame);
    frame->Show();
    PumpEvents(150);
    ASSERT_TRUE(manager.LoadSkin(L"Daylight"));
    EXPECT_TRUE(manager.Find(frame)->IsSkinned());
    for (const wchar_t* bad : {L"Broken", L"NotAnImage"}) {
        EXPECT_FALSE(manager.LoadSkin(bad));
        EXPECT_FALSE(manager.IsSkinActive());
        EXPECT_FALSE(manager.LastError().empty());
        EXPECT_FALSE(manager.Find(frame)->IsSkinned());
        EXPECT_FALSE(frame->HasFlag(wxBORDER_NONE));
        EXPECT_EQ(store_->ReadString(L"Config", L"SkinName"), L"");
        ASSERT_TRUE(manager.LoadSkin(L"Daylight"));
    }
    // A stored name that is no longer installed starts without a skin.
    store_->WriteString(L"Config", L"SkinName", L"Gone");
    CFrameSkinManager later(skins.Wide(), *store_);
    EXPECT_FALSE(later.IsSkinActive());
    manager.LoadSkin(L"Broken");
    SaveScreenshot(frame, "skin_broken_system_frame");
    frame->Destroy();
    PumpEvents(100);
    EXPECT_EQ(manager.Find(frame), nullptr);
}

}  // namespace
}  // namespace quilmer
