#pragma once
// Where a window skin puts things on a window of a given size: frame sizes, anchors, hit codes,
// the caption text, the window shape and the maximised and minimum sizes. Pure arithmetic, shared
// by the frame drawing of the GUI and its tests. All coordinates are window coordinates: (0, 0)
// is the window's top-left corner, W x H its outer size.

#include <vector>

#include "skin/WindowSkin.h"

namespace quilmer {

struct FrameSizes {
    int left = 0, top = 0, right = 0, bottom = 0;
};
// top: tallest of TopLeft/Top/TopRight; left/right: width of Left/Right; bottom: tallest of the
// bottom row. Absent parts count 0.
FrameSizes SkinFrameSizes(const WindowSkin& skin);

// The anchor's area on a W x H window (negative x/y count from the right/bottom edge).
SkinRect AnchorArea(const WindowSkin& skin, int anchor, int width, int height);

enum class SkinHit {
    Nowhere,
    Client,
    Caption,
    Border,
    SystemMenu,
    MinButton,
    MaxButton,
    Close,
    Left,
    Right,
    Top,
    Bottom,
    TopLeft,
    TopRight,
    BottomLeft,
    BottomRight
};

// The resize border: each side as the skin says, else defaultBorder.
FrameSizes SkinResizeBorder(const WindowSkin& skin, int defaultBorder);

// Hit code of the point (x, y). resizable: the window may be resized by the user and is not
// maximised. gripSize: the square at the bottom-right corner that resizes both ways.
SkinHit SkinHitTest(const WindowSkin& skin, int x, int y, int width, int height, bool resizable,
                    int defaultBorder, int gripSize);
// The caption button a hit code names (kButtonNone for other codes).
int ButtonForHit(SkinHit hit);

// The caption text's place: its clip rectangle and the text's top-left corner, for a text of
// textWidth x textHeight pixels. Returns false when the skin has no caption.
struct CaptionPlacement {
    SkinRect clip;
    int x = 0, y = 0;
};
bool PlaceCaption(const WindowSkin& skin, int width, int textWidth, int textHeight, CaptionPlacement& out);

// One shape of the region resolved for a window size: left, top, right, bottom in window pixels
// (right and bottom exclusive) and the rounded corner's size.
struct ResolvedShape {
    ShapeType type = kShapeRectangle;
    SkinRect rect;
    int cornerWidth = 0, cornerHeight = 0;
    ShapeCombine combine = kCombineNone;
};
// The region's shapes at a window size, in order. Shapes of an unknown type are left out; the
// first shape's combine mode is not used. valid is false when a shape cannot be built (no area):
// the window then has no shape of its own.
struct ResolvedRegion {
    bool valid = true;
    std::vector<ResolvedShape> shapes;
};
ResolvedRegion ResolveRegion(const WindowSkin& skin, int width, int height);
// The outline of one shape as a polygon (ellipses and rounded corners as short straight runs).
struct SkinPoint {
    int x = 0, y = 0;
};
std::vector<SkinPoint> ShapeOutline(const ResolvedShape& shape);
// Whether the pixel (x, y) belongs to the combined region (tests, and a check of the GUI's shape).
bool RegionContains(const ResolvedRegion& region, int x, int y);

// A maximised window's place (x, y, width, height) relative to the work area's top-left corner.
// onPrimary: the window is on the primary display, where it covers exactly the work area;
// elsewhere the maximise crop applies.
SkinRect MaximisedPlacement(const WindowSkin& skin, int workWidth, int workHeight, bool onPrimary);

// The smallest size the user may resize the window to: 320 x 240, the skin's minimum size and the
// window's own minimum, whichever is larger.
void SkinMinimumSize(const WindowSkin& skin, int ownMinWidth, int ownMinHeight, int& minWidth,
                     int& minHeight);

// The hot and pressed caption buttons, driven by the mouse over the frame.
class CaptionButtonTracker {
public:
    int Hot() const { return hot_; }
    int Pressed() const { return pressed_; }
    // The mouse moved to a point with this hit code. True when the title row must be repainted.
    bool MouseMove(SkinHit hit, bool leftButtonDown);
    // The left button went down. True when a caption button was hit (the frame handles the click).
    bool ButtonDown(SkinHit hit);
    // The left button came up: the button whose command runs (kButtonNone when it was released
    // elsewhere than where it was pressed).
    int ButtonUp(SkinHit hit);
    // The mouse left the window.
    bool Leave();
    void Reset() { hot_ = pressed_ = kButtonNone; }

private:
    int hot_ = kButtonNone;
    int pressed_ = kButtonNone;
};

}  // namespace quilmer
