#pragma once
// One window skin: the pieces of a skin image that make up a window frame, read from a skin
// folder's "skin.xml" (SkinReader.h). GUI-free: the image itself is loaded by the front end from
// imagePath; this record only holds what the definition says.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace quilmer {

// The frame pieces, in the order of the part table of "skin.xml".
enum SkinPart : int {
    kPartTopLeft,
    kPartTop,
    kPartTopRight,
    kPartTopLeftIA,
    kPartTopIA,
    kPartTopRightIA,
    kPartLeftTop,
    kPartLeft,
    kPartLeftBottom,
    kPartRightTop,
    kPartRight,
    kPartRightBottom,
    kPartBottomLeft,
    kPartBottom,
    kPartBottomRight,
    kPartSystem,
    kPartSystemHover,
    kPartSystemDown,
    kPartMinimise,
    kPartMinimiseHover,
    kPartMinimiseDown,
    kPartMaximise,
    kPartMaximiseHover,
    kPartMaximiseDown,
    kPartClose,
    kPartCloseHover,
    kPartCloseDown,
    kPartCount
};

enum SkinAnchor : int {
    kAnchorIcon,
    kAnchorSystem,
    kAnchorMinimise,
    kAnchorMaximise,
    kAnchorClose,
    kAnchorCount
};

// Caption buttons as the run-time state counts them: 0 none, then the anchors that are buttons.
enum CaptionButton : int {
    kButtonNone = 0,
    kButtonSystem = 1,
    kButtonMinimise = 2,
    kButtonMaximise = 3,
    kButtonClose = 4
};

enum PartMode : int { kModeTile = 0, kModeStretch = 1 };
enum CaptionAlign : int { kAlignLeft = 0, kAlignCentre = 1, kAlignRight = 2 };

// The names used in "skin.xml" (matched without regard to case).
extern const std::array<const wchar_t*, kPartCount> kSkinPartNames;
extern const std::array<const wchar_t*, kAnchorCount> kSkinAnchorNames;

struct SkinRect {
    int left = 0, top = 0, right = 0, bottom = 0;
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    bool operator==(const SkinRect&) const = default;
};

// A colour as red | green << 8 | blue << 16, or kNoColour.
using SkinColour = std::int32_t;
constexpr SkinColour kNoColour = -1;
inline int ColourRed(SkinColour c) { return c & 0xFF; }
inline int ColourGreen(SkinColour c) { return (c >> 8) & 0xFF; }
inline int ColourBlue(SkinColour c) { return (c >> 16) & 0xFF; }

enum ShapeType : int { kShapeRectangle, kShapeEllipse, kShapeRoundRect, kShapeUnknown };
enum ShapeCombine : int { kCombineAnd, kCombineCopy, kCombineDiff, kCombineOr, kCombineXor, kCombineNone };

// One "shape" of the "region" element, kept as written: its coordinates depend on the window size
// and are resolved at each size (SkinGeometry.h).
struct SkinShape {
    ShapeType type = kShapeUnknown;
    bool hasRect = false;
    SkinRect rect;  // left, top, right, bottom; negative values count from the far edge
    int cornerWidth = 0, cornerHeight = 0;
    ShapeCombine combine = kCombineNone;
};

// A resize border or maximise crop side that the skin leaves to the default.
constexpr int kSkinDefault = -1;

struct WindowSkin {
    bool captionPresent = false;
    bool caps = false;
    std::array<bool, kPartCount> partPresent{};
    std::array<SkinRect, kPartCount> partRect{};
    std::array<int, kPartCount> partMode{};
    std::array<bool, kAnchorCount> anchorPresent{};
    std::array<SkinRect, kAnchorCount> anchorRect{};  // x, y (negative: from the far edge), x+w, y+h

    // The skin image: a file in the skin folder. Empty when the read failed.
    std::wstring imagePath;
    int imageWidth = 0, imageHeight = 0;

    // left, top, right (the third number), bottom (top + the fourth number).
    SkinRect captionRect;
    SkinColour outlineColour = kNoColour;
    SkinColour shadowColour = kNoColour;
    SkinColour inactiveColour = 0x808080;
    SkinColour colour = 0xFFFFFF;

    // Caption font: used only when fontFace is not empty; otherwise the system's caption font.
    std::wstring fontFace;
    int fontSize = 13;
    bool fontSizeInPoints = false;  // fontSize then counts tenths of a point
    int fontWeight = 700;
    int align = kAlignLeft;

    bool hasRegion = false;
    std::vector<SkinShape> region;

    std::array<int, 4> maximiseCrop{kSkinDefault, 0, kSkinDefault, kSkinDefault};
    int minimumWidth = 0, minimumHeight = 0;
    std::array<int, 4> resizeBorder{kSkinDefault, kSkinDefault, kSkinDefault, kSkinDefault};

    bool HasImage() const { return !imagePath.empty(); }

    // The caption font's height as a negative character height in pixels, at the screen's dots per
    // inch (vertical).
    int CaptionFontHeight(int dotsPerInch) const;
};

}  // namespace quilmer
