#include "skin/SkinGeometry.h"

#include <algorithm>
#include <cmath>

namespace quilmer {

namespace {

int PartHeight(const WindowSkin& skin, int part) {
    return skin.partPresent[part] ? std::max(0, skin.partRect[part].Height()) : 0;
}
int PartWidth(const WindowSkin& skin, int part) {
    return skin.partPresent[part] ? std::max(0, skin.partRect[part].Width()) : 0;
}

bool Inside(const SkinRect& r, int x, int y) {
    return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}

// A shape coordinate: negative values count from the far edge (width + 2 + v).
int ShapeCoordinate(int v, int extent) { return v < 0 ? extent + 2 + v : v; }

bool InsidePolygon(const std::vector<SkinPoint>& polygon, double x, double y) {
    bool inside = false;
    for (std::size_t i = 0, j = polygon.size() - 1; i < polygon.size(); j = i++) {
        const SkinPoint& a = polygon[i];
        const SkinPoint& b = polygon[j];
        if ((a.y > y) != (b.y > y)) {
            double cross = a.x + (y - a.y) * double(b.x - a.x) / double(b.y - a.y);
            if (x < cross) inside = !inside;
        }
    }
    return inside;
}

}  // namespace

FrameSizes SkinFrameSizes(const WindowSkin& skin) {
    FrameSizes f;
    f.top = std::max(
        {PartHeight(skin, kPartTopLeft), PartHeight(skin, kPartTop), PartHeight(skin, kPartTopRight)});
    f.left = PartWidth(skin, kPartLeft);
    f.right = PartWidth(skin, kPartRight);
    f.bottom = std::max({PartHeight(skin, kPartBottomLeft), PartHeight(skin, kPartBottom),
                         PartHeight(skin, kPartBottomRight)});
    return f;
}

SkinRect AnchorArea(const WindowSkin& skin, int anchor, int width, int height) {
    const SkinRect& a = skin.anchorRect[anchor];
    int w = a.Width(), h = a.Height();
    int x = a.left < 0 ? width + a.left : a.left;
    int y = a.top < 0 ? height + a.top : a.top;
    return SkinRect{x, y, x + w, y + h};
}

FrameSizes SkinResizeBorder(const WindowSkin& skin, int defaultBorder) {
    auto side = [&](int i) { return skin.resizeBorder[i] < 0 ? defaultBorder : skin.resizeBorder[i]; };
    return FrameSizes{side(0), side(1), side(2), side(3)};
}

SkinHit SkinHitTest(const WindowSkin& skin, int x, int y, int width, int height, bool resizable,
                    int defaultBorder, int gripSize) {
    if (x < 0 || y < 0 || x >= width || y >= height) return SkinHit::Nowhere;
    static const std::pair<int, SkinHit> buttons[] = {{kAnchorSystem, SkinHit::SystemMenu},
                                                      {kAnchorMinimise, SkinHit::MinButton},
                                                      {kAnchorMaximise, SkinHit::MaxButton},
                                                      {kAnchorClose, SkinHit::Close}};
    for (auto [anchor, hit] : buttons)
        if (skin.anchorPresent[anchor] && Inside(AnchorArea(skin, anchor, width, height), x, y)) return hit;

    if (resizable) {
        if (x >= width - gripSize && y >= height - gripSize) return SkinHit::BottomRight;
        FrameSizes b = SkinResizeBorder(skin, defaultBorder);
        if (x < b.left)
            return y < b.top ? SkinHit::TopLeft : y < height - b.bottom ? SkinHit::Left : SkinHit::BottomLeft;
        if (x >= width - b.right)
            return y < b.top               ? SkinHit::TopRight
                   : y < height - b.bottom ? SkinHit::Right
                                           : SkinHit::BottomRight;
        if (y < b.top) return SkinHit::Top;
        if (y >= height - b.bottom) return SkinHit::Bottom;
    }
    FrameSizes f = SkinFrameSizes(skin);
    if (y < f.top) return SkinHit::Caption;
    if (x >= f.left && x < width - f.right && y < height - f.bottom) return SkinHit::Client;
    return SkinHit::Border;
}

int ButtonForHit(SkinHit hit) {
    switch (hit) {
        case SkinHit::SystemMenu:
            return kButtonSystem;
        case SkinHit::MinButton:
            return kButtonMinimise;
        case SkinHit::MaxButton:
            return kButtonMaximise;
        case SkinHit::Close:
            return kButtonClose;
        default:
            return kButtonNone;
    }
}

bool PlaceCaption(const WindowSkin& skin, int width, int textWidth, int textHeight, CaptionPlacement& out) {
    if (!skin.captionPresent) return false;
    const SkinRect& c = skin.captionRect;
    SkinRect clip;
    clip.left = c.left < 0 ? width + c.left : c.left;
    // The right end counts from the right edge when it is not positive (a "point" caption runs to the
    // right edge).
    clip.right = c.right <= 0 ? width + c.right : c.right;
    clip.top = c.top;
    clip.bottom = c.bottom > c.top ? c.bottom : c.top + std::max(SkinFrameSizes(skin).top - c.top, 0);
    out.clip = clip;
    switch (skin.align) {
        case kAlignCentre:
            out.x = std::max((clip.left + clip.right) / 2 - textWidth / 2, clip.left + 1);
            break;
        case kAlignRight:
            out.x = std::max(clip.right - textWidth - 1, clip.left + 1);
            break;
        default:
            out.x = clip.left + 1;
            break;
    }
    out.y = (clip.top + clip.bottom) / 2 - textHeight / 2;
    return true;
}

ResolvedRegion ResolveRegion(const WindowSkin& skin, int width, int height) {
    ResolvedRegion out;
    for (const SkinShape& s : skin.region) {
        if (s.type == kShapeUnknown) continue;
        ResolvedShape r;
        r.type = s.type;
        r.combine = s.combine;
        r.cornerWidth = s.cornerWidth;
        r.cornerHeight = s.cornerHeight;
        if (s.hasRect)
            r.rect = SkinRect{ShapeCoordinate(s.rect.left, width), ShapeCoordinate(s.rect.top, height),
                              ShapeCoordinate(s.rect.right, width), ShapeCoordinate(s.rect.bottom, height)};
        else
            r.rect = SkinRect{0, 0, width + 1, height + 1};
        if (r.rect.right <= r.rect.left || r.rect.bottom <= r.rect.top) {
            out.valid = false;
            out.shapes.clear();
            return out;
        }
        out.shapes.push_back(r);
    }
    return out;
}

std::vector<SkinPoint> ShapeOutline(const ResolvedShape& shape) {
    const SkinRect& r = shape.rect;
    if (shape.type == kShapeRectangle)
        return {{r.left, r.top}, {r.right, r.top}, {r.right, r.bottom}, {r.left, r.bottom}};

    double rx, ry;
    if (shape.type == kShapeEllipse) {
        rx = r.Width() / 2.0;
        ry = r.Height() / 2.0;
    } else {
        rx = std::min(shape.cornerWidth, r.Width()) / 2.0;
        ry = std::min(shape.cornerHeight, r.Height()) / 2.0;
        if (rx <= 0 || ry <= 0)
            return {{r.left, r.top}, {r.right, r.top}, {r.right, r.bottom}, {r.left, r.bottom}};
    }
    // Corner centres: for an ellipse all four meet in the middle.
    double cxLeft = r.left + rx, cxRight = r.right - rx, cyTop = r.top + ry, cyBottom = r.bottom - ry;
    const int steps = 16;  // per quarter
    const double pi = std::acos(-1.0);
    std::vector<SkinPoint> points;
    auto arc = [&](double cx, double cy, double from) {
        for (int i = 0; i <= steps; ++i) {
            double a = from + (pi / 2) * i / steps;
            SkinPoint p{int(std::lround(cx + rx * std::cos(a))), int(std::lround(cy - ry * std::sin(a)))};
            if (points.empty() || points.back().x != p.x || points.back().y != p.y) points.push_back(p);
        }
    };
    arc(cxRight, cyTop, 0);              // top-right corner, counter-clockwise from the right
    arc(cxLeft, cyTop, pi / 2);          // top-left
    arc(cxLeft, cyBottom, pi);           // bottom-left
    arc(cxRight, cyBottom, 3 * pi / 2);  // bottom-right
    return points;
}

bool RegionContains(const ResolvedRegion& region, int x, int y) {
    if (!region.valid || region.shapes.empty()) return true;  // no shape of its own: the whole window
    bool in = false;
    bool first = true;
    double px = x + 0.5, py = y + 0.5;
    for (const ResolvedShape& s : region.shapes) {
        bool here = InsidePolygon(ShapeOutline(s), px, py);
        if (first) {
            in = here;
            first = false;
            continue;
        }
        switch (s.combine) {
            case kCombineAnd:
                in = in && here;
                break;
            case kCombineCopy:
                in = here;
                break;
            case kCombineDiff:
                in = in && !here;
                break;
            case kCombineOr:
                in = in || here;
                break;
            case kCombineXor:
                in = in != here;
                break;
            default:
                break;  // a shape without a combine mode is dropped
        }
    }
    return in;
}

SkinRect MaximisedPlacement(const WindowSkin& skin, int workWidth, int workHeight, bool onPrimary) {
    if (onPrimary) return SkinRect{0, 0, workWidth, workHeight};
    FrameSizes f = SkinFrameSizes(skin);
    const auto& crop = skin.maximiseCrop;
    int x = crop[0] < 0 ? -f.left : -crop[0];
    int y = crop[1] < 0 ? -f.top : -crop[1];
    int w = crop[2] < 0 ? workWidth + f.right : workWidth + crop[2];
    int h = crop[3] < 0 ? workHeight + f.bottom : workHeight + crop[3];
    return SkinRect{x, y, x + w, y + h};
}

void SkinMinimumSize(const WindowSkin& skin, int ownMinWidth, int ownMinHeight, int& minWidth,
                     int& minHeight) {
    minWidth = std::max({320, skin.minimumWidth, ownMinWidth});
    minHeight = std::max({240, skin.minimumHeight, ownMinHeight});
}

bool CaptionButtonTracker::MouseMove(SkinHit hit, bool leftButtonDown) {
    int before = hot_;
    int under = ButtonForHit(hit);
    hot_ = under;
    if (pressed_ != kButtonNone && pressed_ != under && !leftButtonDown) {
        pressed_ = kButtonNone;
        hot_ = kButtonNone;
    }
    return hot_ != before;
}

bool CaptionButtonTracker::ButtonDown(SkinHit hit) {
    int button = ButtonForHit(hit);
    if (button == kButtonNone) return false;
    hot_ = pressed_ = button;
    return true;
}

int CaptionButtonTracker::ButtonUp(SkinHit hit) {
    int command = kButtonNone;
    if (pressed_ != kButtonNone && pressed_ == hot_ && ButtonForHit(hit) == pressed_) command = pressed_;
    hot_ = pressed_ = kButtonNone;
    return command;
}

bool CaptionButtonTracker::Leave() {
    if (hot_ == kButtonNone) return false;
    hot_ = kButtonNone;
    return true;
}

}  // namespace quilmer
