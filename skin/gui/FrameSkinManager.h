#pragma once
// Skinned window frames. CFrameSkinManager is the process-wide service: the installed skins, the
// "Config"/"SkinName" choice, the loaded skin (one window skin for ordinary windows, "CMainWnd",
// and one for dialogs, "CDialog") and one SkinnedWindow per attached top-level window.
//
// While a skin is in force an attached window runs without the system frame (wxBORDER_NONE |
// wxFRAME_SHAPED, undecorated on GTK) and SkinnedWindow draws the frame from the skin image into
// the window's own edges. The contents make room for it, however the window lays them out: its
// sizer (or the single child wx sizes to the whole window) is wrapped in a sizer whose borders are
// the frame sizes; children placed by position are moved right and down by the frame's left and
// top sizes. The window grows by the frame (its minimum and maximum sizes too), so the contents
// keep their size; another skin, or none, puts them back and sizes the window again. It moves, resizes,
// minimises, maximises and closes the window from its caption buttons and borders, and cuts the
// window to the skin's region at every size. Without a skin the window has its system frame.
//
// Windows join with AttachWindow once they exist and leave by themselves when destroyed.
// Everything runs on the GUI thread.

#include <wx/bitmap.h>
#include <wx/font.h>
#include <wx/gdicmn.h>
#include <wx/toplevel.h>
#include <wx/weakref.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "skin/SkinGeometry.h"
#include "skin/SkinReader.h"

class wxDC;
class wxMenu;
class wxMouseEvent;
class wxSizer;
class wxSizerItem;

namespace quilmer {

class SettingsStore;
class CFrameSkinManager;

// A window skin ready to draw: the definition with its image and caption font.
struct LoadedWindowSkin {
    WindowSkin def;
    wxBitmap image;
    wxFont font;  // the caption font (the system's when the skin names none)
};

class SkinnedWindow {
public:
    SkinnedWindow(CFrameSkinManager& manager, wxTopLevelWindow* window, std::wstring kind);
    ~SkinnedWindow();
    SkinnedWindow(const SkinnedWindow&) = delete;
    SkinnedWindow& operator=(const SkinnedWindow&) = delete;

    wxTopLevelWindow* Window() const { return window_; }
    const std::wstring& Kind() const { return kind_; }

    // Draws with skin, or gives the window its system frame back when skin is null.
    void Apply(const LoadedWindowSkin* skin);
    bool IsSkinned() const { return skin_ != nullptr; }

    // The window's state as the frame runs it (there may be no window manager to ask).
    bool IsMaximised() const { return maximised_; }
    void Maximise();
    void Restore();
    void Minimise();
    int MinimiseCount() const { return minimiseCount_; }

    // The screen rectangle of an anchor (SkinAnchor), empty when the skin has none.
    wxRect AnchorScreenRect(int anchor) const;
    int HotButton() const { return tracker_.Hot(); }
    int PressedButton() const { return tracker_.Pressed(); }
    // The hit code at a point in window coordinates.
    SkinHit HitAt(const wxPoint& point) const;
    // The shape the window was last given (empty: the whole window).
    const wxRegion& Shape() const { return shape_; }

    // The window is going away: forget it without touching it.
    void Abandon() { window_ = nullptr; }

private:
    void Unskin();
    void WrapContents(const FrameSizes& room);
    void UnwrapContents();
    void MovePlacedChildren(const wxPoint& offset);
    void ResizeForRoom(const FrameSizes& room);
    void PlaceMaximised();
    void UpdateShape();
    void PaintFrame(wxDC& dc);
    void DrawTitleRow(wxDC& dc, int width, bool active);
    void DrawPart(wxDC& dc, int part, int x, int y);
    void FillPart(wxDC& dc, int part, int x, int y, int width, int height);
    void RepaintTitle();
    void RunButton(int button);
    void ShowSystemMenu();

    void OnPaint(wxPaintEvent& event);
    void OnSize(wxSizeEvent& event);
    void OnActivate(wxActivateEvent& event);
    void OnIdle(wxIdleEvent& event);
    void OnLeftDown(wxMouseEvent& event);
    void OnLeftUp(wxMouseEvent& event);
    void OnLeftDClick(wxMouseEvent& event);
    void OnMotion(wxMouseEvent& event);
    void OnLeave(wxMouseEvent& event);
    void OnCaptureLost(wxMouseCaptureLostEvent& event);
    void EndDrag();

    CFrameSkinManager& manager_;
    wxTopLevelWindow* window_;
    std::wstring kind_;
    const LoadedWindowSkin* skin_ = nullptr;
    long originalStyle_ = 0;

    // The room the window has grown by: the frame sizes of the skin drawn (none without a skin).
    FrameSizes room_;
    // The sizer that holds the window's contents inside the frame (Sizer and SoleChild).
    wxSizer* frameSizer_ = nullptr;
    wxSizer* contentSizer_ = nullptr;
    wxWindow* soleChild_ = nullptr;
    // The children placed by position, moved right and down by placedOffset_ (a child destroyed
    // meanwhile drops out by itself).
    std::vector<wxWeakRef<wxWindow>> placed_;
    wxPoint placedOffset_;

    CaptionButtonTracker tracker_;
    enum class Drag { None, Move, Resize, Button } drag_ = Drag::None;
    SkinHit dragHit_ = SkinHit::Nowhere;
    wxPoint dragStartMouse_;
    wxRect dragStartRect_;

    bool maximised_ = false;
    wxRect normalRect_;
    int minimiseCount_ = 0;
    wxRegion shape_;
    wxString drawnTitle_;
};

class CFrameSkinManager {
public:
    // The program's manager, built on first use on the program folder's skins/ and the settings
    // store: it loads the skin the user chose last time.
    static CFrameSkinManager& Instance();

    // A manager on an explicit skins folder and store (tests).
    CFrameSkinManager(std::wstring skinsFolder, SettingsStore& store);
    ~CFrameSkinManager();
    CFrameSkinManager(const CFrameSkinManager&) = delete;
    CFrameSkinManager& operator=(const CFrameSkinManager&) = delete;

    void EnumerateSkins();
    const std::vector<std::wstring>& InstalledSkins() const { return installed_; }

    // Puts the named skin in force (empty or unknown: no skin) and redraws every attached window.
    // A skin that cannot be read leaves no skin in force; LastError() says why. The choice is
    // stored in "SkinName" at once. Returns whether a skin is in force afterwards.
    bool LoadSkin(const std::wstring& name, bool force = false);
    const std::wstring& SkinName() const { return skinName_; }
    bool IsSkinActive() const { return !skinName_.empty(); }
    const std::wstring& LastError() const { return lastError_; }

    bool AttachWindow(wxTopLevelWindow* window);
    bool DetachWindow(wxTopLevelWindow* window);
    void ApplyToWindows();
    SkinnedWindow* Find(wxTopLevelWindow* window) const;

    // The window skin for the window's kind, or null (no skin in force, or none for that kind).
    const LoadedWindowSkin* WindowSkinFor(const std::wstring& kind) const;
    // The menu-bar watermark of the skin in force (may be invalid).
    const wxBitmap& MenuBarWatermark() const { return watermark_; }

private:
    friend class SkinnedWindow;
    void Forget(wxTopLevelWindow* window);
    void OnWindowDestroy(wxWindowDestroyEvent& event);

    std::wstring skinsFolder_;
    SettingsStore& store_;
    std::vector<std::wstring> installed_;
    std::wstring skinName_;
    std::wstring lastError_;
    std::map<std::wstring, std::unique_ptr<LoadedWindowSkin>> windowSkins_;
    wxBitmap watermark_;
    std::map<wxTopLevelWindow*, std::unique_ptr<SkinnedWindow>> windows_;
};

// CFrameSkinManager::Instance().AttachWindow(window). The programs install it as the attacher of
// controls/WindowSkin.h (SetSkinAttacher), through which every top-level window and dialog comes
// here once it exists.
bool AttachFrameSkin(wxTopLevelWindow* window);

// The skin chooser: "(No skin)" and every installed skin as radio items, the skin in force
// checked; choosing one applies it at once to every attached window and stores it. The menu
// handles its own commands (ids kSkinMenuFirstId onwards), so it works as a submenu of any menu
// or popup.
constexpr int kSkinMenuFirstId = wxID_HIGHEST + 1400;
constexpr int kSkinMenuLastId = wxID_HIGHEST + 1499;
wxMenu* CreateSkinMenu(CFrameSkinManager& manager = CFrameSkinManager::Instance());
// Appends the chooser to menu as the submenu "S&kin".
void AppendSkinMenu(wxMenu* menu, CFrameSkinManager& manager = CFrameSkinManager::Instance());

}  // namespace quilmer
