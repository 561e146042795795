#include <gtest/gtest.h>

#include "skin/SkinGeometry.h"

namespace quilmer {
namespace {

WindowSkin FrameSkin() {
    WindowSkin s;
    s.imagePath = L"/x.png";
    auto part = [&](int index, SkinRect r) {
        s.partPresent[index] = true;
        s.partRect[index] = r;
    };
    part(kPartTopLeft, {0, 0, 8, 24});
    part(kPartTop, {8, 0, 9, 28});
    part(kPartLeft, {0, 30, 4, 34});
    part(kPartRight, {0, 30, 6, 34});
    part(kPartBottom, {0, 40, 1, 45});
    s.anchorPresent[kAnchorClose] = true;
    s.anchorRect[kAnchorClose] = {-24, 4, -6, 22};  // 18x18 at 24 from the right edge
    s.anchorPresent[kAnchorSystem] = true;
    s.anchorRect[kAnchorSystem] = {4, 4, 20, 20};
    return s;
}

TEST(SkinGeometry, FrameSizesAndAnchors) {
    WindowSkin s = FrameSkin();
    FrameSizes f = SkinFrameSizes(s);
    EXPECT_EQ(f.top, 28);
    EXPECT_EQ(f.left, 4);
    EXPECT_EQ(f.right, 6);
    EXPECT_EQ(f.bottom, 5);
    EXPECT_EQ(AnchorArea(s, kAnchorClose, 300, 200), (SkinRect{276, 4, 294, 22}));
    EXPECT_EQ(SkinFrameSizes(WindowSkin{}).top, 0);
}

TEST(SkinGeometry, HitTest) {
    WindowSkin s = FrameSkin();
    s.resizeBorder = {3, 2, kSkinDefault, kSkinDefault};
    const int W = 300, H = 200, border = 5, grip = 16;
    EXPECT_EQ(SkinHitTest(s, 276, 4, W, H, true, border, grip), SkinHit::Close);     // inclusive left/top
    EXPECT_EQ(SkinHitTest(s, 294, 10, W, H, true, border, grip), SkinHit::Caption);  // exclusive right
    EXPECT_EQ(SkinHitTest(s, 296, 40, W, H, true, border, grip), SkinHit::Right);
    EXPECT_EQ(SkinHitTest(s, 10, 10, W, H, true, border, grip), SkinHit::SystemMenu);
    EXPECT_EQ(SkinHitTest(s, 100, 10, W, H, true, border, grip), SkinHit::Caption);
    EXPECT_EQ(SkinHitTest(s, 100, 1, W, H, true, border, grip), SkinHit::Top);
    EXPECT_EQ(SkinHitTest(s, 100, 1, W, H, false, border, grip), SkinHit::Caption);
    EXPECT_EQ(SkinHitTest(s, 1, 1, W, H, true, border, grip), SkinHit::TopLeft);
    EXPECT_EQ(SkinHitTest(s, 2, 100, W, H, true, border, grip), SkinHit::Left);
    EXPECT_EQ(SkinHitTest(s, 3, 100, W, H, true, border, grip), SkinHit::Border);  // inside the 4-px frame
    EXPECT_EQ(SkinHitTest(s, 1, 198, W, H, true, border, grip), SkinHit::BottomLeft);
    EXPECT_EQ(SkinHitTest(s, 290, 190, W, H, true, border, grip), SkinHit::BottomRight);  // the grip
    EXPECT_EQ(SkinHitTest(s, 150, 196, W, H, true, border, grip), SkinHit::Bottom);
    EXPECT_EQ(SkinHitTest(s, 150, 100, W, H, true, border, grip), SkinHit::Client);
    EXPECT_EQ(SkinHitTest(s, 150, 196, W, H, false, border, grip), SkinHit::Border);
    EXPECT_EQ(SkinHitTest(s, 300, 100, W, H, true, border, grip), SkinHit::Nowhere);
}

TEST(SkinGeometry, CaptionPlacement) {
    WindowSkin s = FrameSkin();
    CaptionPlacement p;
    EXPECT_FALSE(PlaceCaption(s, 300, 50, 10, p));
    s.captionPresent = true;
    s.captionRect = {10, 4, -40, 24};
    ASSERT_TRUE(PlaceCaption(s, 300, 50, 10, p));
    EXPECT_EQ(p.clip, (SkinRect{10, 4, 260, 24}));
    EXPECT_EQ(p.x, 11);
    EXPECT_EQ(p.y, 9);
    s.align = kAlignCentre;
    PlaceCaption(s, 300, 50, 10, p);
    EXPECT_EQ(p.x, 110);
    s.align = kAlignRight;
    PlaceCaption(s, 300, 50, 10, p);
    EXPECT_EQ(p.x, 209);
    // A text wider than the caption starts at its left end whatever the alignment.
    PlaceCaption(s, 300, 400, 10, p);
    EXPECT_EQ(p.x, 11);
}

TEST(SkinGeometry, RegionFollowsTheWindowSize) {
    WindowSkin s;
    s.region = {SkinShape{kShapeRoundRect, true, {0, 0, -1, -1}, 20, 20, kCombineCopy},
                SkinShape{kShapeRectangle, true, {0, 10, -1, -1}, 0, 0, kCombineOr},
                SkinShape{kShapeRectangle, true, {-12, -12, -1, -1}, 0, 0, kCombineDiff},
                SkinShape{kShapeUnknown, false, {}, 0, 0, kCombineOr},
                SkinShape{kShapeEllipse, true, {0, 0, 4, 4}, 0, 0, kCombineNone}};
    for (int W : {200, 500}) {
        const int H = 120;
        ResolvedRegion region = ResolveRegion(s, W, H);
        ASSERT_TRUE(region.valid);
        ASSERT_EQ(region.shapes.size(), 4u);  // the unknown shape is left out
        EXPECT_EQ(region.shapes[0].rect, (SkinRect{0, 0, W + 1, H + 1}));
        EXPECT_FALSE(RegionContains(region, 0, 0));      // rounded top-left corner
        EXPECT_FALSE(RegionContains(region, W - 1, 0));  // rounded top-right corner
        EXPECT_TRUE(RegionContains(region, W / 2, 0));
        EXPECT_TRUE(RegionContains(region, 0, H - 20));      // square bottom (the "or" rectangle)
        EXPECT_FALSE(RegionContains(region, W - 5, H - 5));  // cut out by "diff", at the moving corner
        EXPECT_TRUE(RegionContains(region, W - 20, H - 5));
        EXPECT_TRUE(RegionContains(region, 1, 1) == false);  // the dropped ellipse adds nothing
    }
    s.region = {SkinShape{kShapeEllipse, false, {}, 0, 0, kCombineCopy},
                SkinShape{kShapeRectangle, true, {0, 0, 50, 100}, 0, 0, kCombineXor}};
    ResolvedRegion x = ResolveRegion(s, 100, 100);
    EXPECT_FALSE(RegionContains(x, 25, 50));  // in both: xor leaves it out
    EXPECT_TRUE(RegionContains(x, 2, 2));     // only in the rectangle
    EXPECT_TRUE(RegionContains(x, 75, 50));   // only in the ellipse
    s.region.back().combine = kCombineAnd;
    EXPECT_FALSE(RegionContains(ResolveRegion(s, 100, 100), 75, 50));
    // A shape without area cannot be built: the window keeps no shape of its own.
    s.region = {SkinShape{kShapeRectangle, true, {50, 0, 10, 10}, 0, 0, kCombineCopy}};
    EXPECT_FALSE(ResolveRegion(s, 100, 100).valid);
}

TEST(SkinGeometry, MaximisedAndMinimumSizes) {
    WindowSkin s = FrameSkin();
    // On the primary display a maximised window covers the work area exactly.
    EXPECT_EQ(MaximisedPlacement(s, 1600, 1170, true), (SkinRect{0, 0, 1600, 1170}));
    // Elsewhere without a crop: the frame's default across, vertical position 0.
    EXPECT_EQ(MaximisedPlacement(s, 1600, 1170, false), (SkinRect{-4, 0, -4 + 1606, 1175}));
    s.maximiseCrop = {2, 3, 10, -1};
    EXPECT_EQ(MaximisedPlacement(s, 1600, 1170, false), (SkinRect{-2, -3, -2 + 1610, -3 + 1175}));

    int w, h;
    SkinMinimumSize(s, 0, 0, w, h);
    EXPECT_EQ(w, 320);
    EXPECT_EQ(h, 240);
    s.minimumWidth = 500;
    SkinMinimumSize(s, 0, 300, w, h);
    EXPECT_EQ(w, 500);
    EXPECT_EQ(h, 300);
}

TEST(SkinGeometry, CaptionButtonPressAndRelease) {
    CaptionButtonTracker t;
    EXPECT_TRUE(t.MouseMove(SkinHit::Close, false));
    EXPECT_EQ(t.Hot(), kButtonClose);
    EXPECT_FALSE(t.MouseMove(SkinHit::Close, false));  // no change, no repaint
    EXPECT_TRUE(t.ButtonDown(SkinHit::Close));
    EXPECT_EQ(t.ButtonUp(SkinHit::Close), kButtonClose);
    EXPECT_EQ(t.Pressed(), kButtonNone);

    // Pressed on Close, released elsewhere: nothing runs.
    t.ButtonDown(SkinHit::Close);
    t.MouseMove(SkinHit::Caption, true);
    EXPECT_EQ(t.Pressed(), kButtonClose);
    EXPECT_EQ(t.ButtonUp(SkinHit::Caption), kButtonNone);
    // Pressed, dragged away and back with the button still down: it still runs.
    t.ButtonDown(SkinHit::MinButton);
    t.MouseMove(SkinHit::Caption, true);
    t.MouseMove(SkinHit::MinButton, true);
    EXPECT_EQ(t.ButtonUp(SkinHit::MinButton), kButtonMinimise);
    // A press whose release was missed ends when the mouse moves on without the button.
    t.ButtonDown(SkinHit::MaxButton);
    t.MouseMove(SkinHit::Caption, false);
    EXPECT_EQ(t.Pressed(), kButtonNone);
    EXPECT_FALSE(t.ButtonDown(SkinHit::Caption));
}

}  // namespace
}  // namespace quilmer
