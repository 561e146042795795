// The program's own manager, as the programs reach it: AttachFrameSkin on each top-level window. Runs in
// a runner of its own process state: the program folder and the user folder are set first, so the
// singleton finds the shipped skins and a private settings file.

#include <gtest/gtest.h>
#include <wx/dialog.h>
#include <wx/frame.h>
#include <wx/menu.h>

#include "foundation/AppFolders.h"
#include "foundation/FileUtil.h"
#include "foundation/Settings.h"
#include "skin/gui/FrameSkinManager.h"
#include "tests/support/GuiTestSupport.h"
#include "tests/support/ScratchFolder.h"

namespace quilmer {
namespace {

TEST(SkinService, TheChoiceOfTheLastRunIsInForceAtStart) {
    static test::ScratchFolder user;  // outlives the test: the singletons keep pointing at it
    AppFolders::OverrideProgramFolder(WidePath(QUILMER_PROGRAM_DIR "/"));
    AppFolders::OverrideUserFolder(user.Wide());
    ASSERT_TRUE(SettingsStore::Instance().WriteString(L"Config", L"SkinName", L"midnight"));

    auto* frame = new wxFrame(nullptr, wxID_ANY, "Quilmer", wxPoint(80, 80), wxSize(480, 320));
    ASSERT_TRUE(AttachFrameSkin(frame));
    CFrameSkinManager& manager = CFrameSkinManager::Instance();
    // The stored name matches the installed folder without regard to case.
    EXPECT_EQ(manager.SkinName(), L"Midnight");
    EXPECT_TRUE(manager.IsSkinActive());
    frame->Show();
    test::PumpEvents(200);
    ASSERT_TRUE(manager.Find(frame));
    EXPECT_TRUE(manager.Find(frame)->IsSkinned());
    test::SaveScreenshot(frame, "skin_service_Midnight");

    // The chooser in a menu of the window, as the main window puts it.
    wxMenu menu;
    AppendSkinMenu(&menu);
    EXPECT_NE(menu.FindItem(kSkinMenuFirstId), nullptr);
    EXPECT_EQ(menu.GetMenuItemCount(), 1u);

    // Detached by hand: the system frame is back and the window stays.
    EXPECT_TRUE(manager.DetachWindow(frame));
    EXPECT_EQ(manager.Find(frame), nullptr);
    EXPECT_FALSE(frame->HasFlag(wxBORDER_NONE));
    EXPECT_FALSE(manager.DetachWindow(frame));
    // The singleton is left with a skin loaded; it is released at exit, after wx has shut down.
    frame->Destroy();
    test::PumpEvents(100);
}

}  // namespace
}  // namespace quilmer
