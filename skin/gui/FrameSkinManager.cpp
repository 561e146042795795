#include "skin/gui/FrameSkinManager.h"

#include <dlfcn.h>
#include <wx/app.h>
#include <wx/dcclient.h>
#include <wx/dcmemory.h>
#include <wx/dcscreen.h>
#include <wx/dialog.h>
#include <wx/display.h>
#include <wx/frame.h>
#include <wx/image.h>
#include <wx/imagpng.h>
#include <wx/log.h>
#include <wx/menu.h>
#include <wx/mstream.h>
#include <wx/settings.h>
#include <wx/sizer.h>
#include <wx/statusbr.h>
#include <wx/toolbar.h>

#include <algorithm>
#include <chrono>

#include "foundation/FileUtil.h"
#include "foundation/ImageFile.h"
#include "foundation/Log.h"
#include "foundation/Settings.h"
#include "foundation/TextTranslator.h"
#include "skin/SkinCatalog.h"

namespace quilmer {

namespace {

// The resize border where the skin gives none, and the bottom-right square that resizes both ways.
constexpr int kDefaultResizeBorder = 4;
constexpr int kGripSize = 16;

enum SystemMenuId { kSysRestore = wxID_HIGHEST + 1380, kSysMinimise, kSysMaximise, kSysClose };

wxString W(const std::wstring& text) { return wxString(text.c_str()); }
wxColour Colour(SkinColour c) { return wxColour(ColourRed(c), ColourGreen(c), ColourBlue(c)); }

// wx cannot change a live GTK window's decorations through its style; GTK can. The GTK library is
// already loaded by wx, so the function is looked up rather than linked.
void SetDecorated(wxTopLevelWindow* window, bool decorated) {
    using SetDecoratedFn = void (*)(void*, int);
    static SetDecoratedFn fn =
        reinterpret_cast<SetDecoratedFn>(::dlsym(RTLD_DEFAULT, "gtk_window_set_decorated"));
    if (fn && window->GetHandle()) fn(window->GetHandle(), decorated ? 1 : 0);
}

void EnsureImageHandlers() {
    if (!wxImage::FindHandler(wxBITMAP_TYPE_PNG)) wxImage::AddHandler(new wxPNGHandler);
}

// A skin's image, decoded from the bytes ReadImageFile accepted: only a regular file of a sane size
// whose header declares at most kMaxImageSide a side ever reaches the decoder.
wxImage DecodeSkinImage(const std::wstring& path) {
    EnsureImageHandlers();
    std::string bytes;
    ImageSize declared;
    std::wstring why;
    if (!ReadImageFile(path, bytes, declared, why)) {
        CLog::Instance().Printf(LOG_WARN, L"Skin: image %ls refused: %ls", path.c_str(), why.c_str());
        return wxImage();
    }
    wxLogNull quiet;
    wxMemoryInputStream in(bytes.data(), bytes.size());
    wxImage image(in, wxBITMAP_TYPE_ANY);
    // The decoder must have read the picture the header declared, not another one.
    if (image.IsOk() && (image.GetWidth() != declared.width || image.GetHeight() != declared.height))
        return wxImage();
    return image;
}

std::optional<ImageSize> DecodeImage(const std::wstring& path) {
    // The header first: the reader refuses an oversized image with its reason, undecoded.
    std::optional<ImageSize> declared = ProbeImageFile(path);
    if (!declared || declared->width > kMaxImageSide || declared->height > kMaxImageSide) return declared;
    wxImage image = DecodeSkinImage(path);
    if (!image.IsOk()) return std::nullopt;
    return ImageSize{image.GetWidth(), image.GetHeight()};
}

std::unique_ptr<LoadedWindowSkin> Prepare(const WindowSkin& def) {
    if (!def.HasImage()) return nullptr;
    wxImage image = DecodeSkinImage(def.imagePath);
    if (!image.IsOk()) return nullptr;
    auto loaded = std::make_unique<LoadedWindowSkin>();
    loaded->def = def;
    loaded->image = wxBitmap(image);
    if (!def.fontFace.empty()) {
        int dpi = wxScreenDC().GetPPI().y;
        int height = std::abs(def.CaptionFontHeight(dpi > 0 ? dpi : 96));
        loaded->font = wxFont(wxFontInfo(wxSize(0, std::max(height, 1))).FaceName(W(def.fontFace)));
        loaded->font.SetNumericWeight(def.fontWeight);
    }
    if (!loaded->font.IsOk()) {
        loaded->font = wxSystemSettings::GetFont(wxSYS_DEFAULT_GUI_FONT);
        loaded->font.SetNumericWeight(def.fontWeight);
    }
    return loaded;
}

wxRegion WholeWindow() { return wxRegion(0, 0, 32767, 32767); }

wxStockCursor CursorFor(SkinHit hit) {
    switch (hit) {
        case SkinHit::Left:
        case SkinHit::Right:
            return wxCURSOR_SIZEWE;
        case SkinHit::Top:
        case SkinHit::Bottom:
            return wxCURSOR_SIZENS;
        case SkinHit::TopLeft:
        case SkinHit::BottomRight:
            return wxCURSOR_SIZENWSE;
        case SkinHit::TopRight:
        case SkinHit::BottomLeft:
            return wxCURSOR_SIZENESW;
        default:
            return wxCURSOR_ARROW;
    }
}

// The children that hold the window's contents: not other top-level windows, nor a frame's menu,
// tool or status bar (wx places those itself, outside the contents).
std::vector<wxWindow*> ContentChildren(wxTopLevelWindow* window) {
    auto* frame = dynamic_cast<wxFrame*>(window);
    std::vector<wxWindow*> children;
    for (wxWindow* child : window->GetChildren()) {
        if (child->IsTopLevel()) continue;
        if (frame && (child == frame->GetMenuBar() || child == frame->GetToolBar() ||
                      child == frame->GetStatusBar()))
            continue;
        children.push_back(child);
    }
    return children;
}

bool IsResizeHit(SkinHit hit) {
    switch (hit) {
        case SkinHit::Left:
        case SkinHit::Right:
        case SkinHit::Top:
        case SkinHit::Bottom:
        case SkinHit::TopLeft:
        case SkinHit::TopRight:
        case SkinHit::BottomLeft:
        case SkinHit::BottomRight:
            return true;
        default:
            return false;
    }
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// SkinnedWindow

SkinnedWindow::SkinnedWindow(CFrameSkinManager& manager, wxTopLevelWindow* window, std::wstring kind)
    : manager_(manager), window_(window), kind_(std::move(kind)) {}

SkinnedWindow::~SkinnedWindow() {
    if (window_) Apply(nullptr);
}

void SkinnedWindow::Apply(const LoadedWindowSkin* skin) {
    if (!window_) return;
    if (!skin) {
        Unskin();
        return;
    }
    bool first = skin_ == nullptr;
    if (first) {
        originalStyle_ = window_->GetWindowStyleFlag();
        long style = (originalStyle_ & ~wxBORDER_MASK) | wxBORDER_NONE | wxFRAME_SHAPED;
        window_->SetWindowStyleFlag(style);
        SetDecorated(window_, false);
        window_->Bind(wxEVT_PAINT, &SkinnedWindow::OnPaint, this);
        window_->Bind(wxEVT_SIZE, &SkinnedWindow::OnSize, this);
        window_->Bind(wxEVT_ACTIVATE, &SkinnedWindow::OnActivate, this);
        window_->Bind(wxEVT_LEFT_DOWN, &SkinnedWindow::OnLeftDown, this);
        window_->Bind(wxEVT_LEFT_UP, &SkinnedWindow::OnLeftUp, this);
        window_->Bind(wxEVT_LEFT_DCLICK, &SkinnedWindow::OnLeftDClick, this);
        window_->Bind(wxEVT_MOTION, &SkinnedWindow::OnMotion, this);
        window_->Bind(wxEVT_LEAVE_WINDOW, &SkinnedWindow::OnLeave, this);
        window_->Bind(wxEVT_MOUSE_CAPTURE_LOST, &SkinnedWindow::OnCaptureLost, this);
        window_->Bind(wxEVT_IDLE, &SkinnedWindow::OnIdle, this);
    } else {
        UnwrapContents();
    }
    skin_ = skin;
    tracker_.Reset();
    FrameSizes room = SkinFrameSizes(skin->def);
    WrapContents(room);
    ResizeForRoom(room);
    window_->Layout();
    UpdateShape();
    window_->Refresh();
}

void SkinnedWindow::Unskin() {
    if (!skin_) return;
    EndDrag();
    if (maximised_) Restore();
    UnwrapContents();
    MovePlacedChildren(wxPoint(0, 0));
    ResizeForRoom(FrameSizes{});
    window_->Unbind(wxEVT_PAINT, &SkinnedWindow::OnPaint, this);
    window_->Unbind(wxEVT_SIZE, &SkinnedWindow::OnSize, this);
    window_->Unbind(wxEVT_ACTIVATE, &SkinnedWindow::OnActivate, this);
    window_->Unbind(wxEVT_LEFT_DOWN, &SkinnedWindow::OnLeftDown, this);
    window_->Unbind(wxEVT_LEFT_UP, &SkinnedWindow::OnLeftUp, this);
    window_->Unbind(wxEVT_LEFT_DCLICK, &SkinnedWindow::OnLeftDClick, this);
    window_->Unbind(wxEVT_MOTION, &SkinnedWindow::OnMotion, this);
    window_->Unbind(wxEVT_LEAVE_WINDOW, &SkinnedWindow::OnLeave, this);
    window_->Unbind(wxEVT_MOUSE_CAPTURE_LOST, &SkinnedWindow::OnCaptureLost, this);
    window_->Unbind(wxEVT_IDLE, &SkinnedWindow::OnIdle, this);
    if (!shape_.IsEmpty()) window_->SetShape(WholeWindow());
    shape_ = wxRegion();
    window_->SetWindowStyleFlag(originalStyle_);
    SetDecorated(window_, (originalStyle_ & wxBORDER_NONE) != wxBORDER_NONE);
    window_->SetCursor(wxNullCursor);
    skin_ = nullptr;
    tracker_.Reset();
    window_->Layout();
    window_->Refresh();
}

void SkinnedWindow::WrapContents(const FrameSizes& room) {
    contentSizer_ = window_->GetSizer();
    soleChild_ = nullptr;
    if (contentSizer_) {
        window_->SetSizer(nullptr, false);
    } else {
        // A window without a sizer whose one child fills it (wx lays such a child out itself).
        std::vector<wxWindow*> children = ContentChildren(window_);
        if (children.size() == 1) soleChild_ = children.front();
    }
    if (!contentSizer_ && !soleChild_) {
        // Children placed by position: they move by the frame's left and top sizes.
        MovePlacedChildren(wxPoint(room.left, room.top));
        return;
    }
    // Laid out by a sizer now: children moved under an earlier skin go back to their own places
    // for the sizer to place.
    MovePlacedChildren(wxPoint(0, 0));
    auto* outer = new wxBoxSizer(wxVERTICAL);
    outer->AddSpacer(room.top);
    auto* row = new wxBoxSizer(wxHORIZONTAL);
    row->AddSpacer(room.left);
    if (contentSizer_)
        row->Add(contentSizer_, 1, wxEXPAND);
    else
        row->Add(soleChild_, 1, wxEXPAND);
    row->AddSpacer(room.right);
    outer->Add(row, 1, wxEXPAND);
    outer->AddSpacer(room.bottom);
    frameSizer_ = outer;
    window_->SetSizer(outer, false);
}

void SkinnedWindow::MovePlacedChildren(const wxPoint& offset) {
    wxPoint delta = offset - placedOffset_;
    if (delta != wxPoint(0, 0))
        for (const wxWeakRef<wxWindow>& child : placed_)
            if (child) child->Move(child->GetPosition() + delta);
    placedOffset_ = offset;
    if (offset == wxPoint(0, 0)) {
        placed_.clear();
        return;
    }
    // Children that came since the last move are placed in the window's own coordinates too.
    for (wxWindow* child : ContentChildren(window_)) {
        bool known = std::any_of(placed_.begin(), placed_.end(),
                                 [child](const wxWeakRef<wxWindow>& p) { return p.get() == child; });
        if (known) continue;
        child->Move(child->GetPosition() + offset);
        placed_.emplace_back(child);
    }
}

void SkinnedWindow::ResizeForRoom(const FrameSizes& room) {
    int dw = (room.left + room.right) - (room_.left + room_.right);
    int dh = (room.top + room.bottom) - (room_.top + room_.bottom);
    room_ = room;
    if (dw == 0 && dh == 0) return;
    // The limits first, so that the new size is within them.
    auto grow = [](int value, int by) { return value == wxDefaultCoord ? value : std::max(0, value + by); };
    wxSize minSize = window_->GetMinSize();
    wxSize maxSize = window_->GetMaxSize();
    window_->SetSizeHints(grow(minSize.x, dw), grow(minSize.y, dh), grow(maxSize.x, dw), grow(maxSize.y, dh));
    if (maximised_) {
        // The window covers the work area; it is its size to come back to that changes.
        normalRect_.width = std::max(1, normalRect_.width + dw);
        normalRect_.height = std::max(1, normalRect_.height + dh);
        PlaceMaximised();
        return;
    }
    wxSize client = window_->GetClientSize();
    window_->SetClientSize(std::max(1, client.x + dw), std::max(1, client.y + dh));
}

void SkinnedWindow::UnwrapContents() {
    if (!frameSizer_) return;
    wxSizerItem* rowItem = frameSizer_->GetItem(1);
    wxSizer* row = rowItem ? rowItem->GetSizer() : nullptr;
    if (row && contentSizer_) row->Detach(contentSizer_);
    if (row && soleChild_) row->Detach(soleChild_);
    // Gives the window its own sizer back and deletes the frame's (only spacers remain in it).
    window_->SetSizer(contentSizer_, true);
    frameSizer_ = nullptr;
    contentSizer_ = nullptr;
    soleChild_ = nullptr;
}

void SkinnedWindow::UpdateShape() {
    if (!skin_ || !window_) return;
    wxSize size = window_->GetSize();
    wxRegion region;
    if (!maximised_ && !window_->IsIconized() && skin_->def.hasRegion) {
        ResolvedRegion resolved = ResolveRegion(skin_->def, size.x, size.y);
        bool first = true;
        for (const ResolvedShape& s : resolved.valid ? resolved.shapes : std::vector<ResolvedShape>{}) {
            wxRegion piece;
            if (s.type == kShapeRectangle) {
                piece = wxRegion(s.rect.left, s.rect.top, s.rect.Width(), s.rect.Height());
            } else {
                std::vector<SkinPoint> outline = ShapeOutline(s);
                std::vector<wxPoint> points;
                for (const SkinPoint& p : outline) points.emplace_back(p.x, p.y);
                piece = wxRegion(points.size(), points.data(), wxWINDING_RULE);
            }
            if (first) {
                region = piece;
                first = false;
                continue;
            }
            switch (s.combine) {
                case kCombineAnd:
                    region.Intersect(piece);
                    break;
                case kCombineCopy:
                    region = piece;
                    break;
                case kCombineDiff:
                    region.Subtract(piece);
                    break;
                case kCombineOr:
                    region.Union(piece);
                    break;
                case kCombineXor:
                    region.Xor(piece);
                    break;
                default:
                    break;
            }
        }
    }
    if (region.IsEmpty()) {
        // No shape of its own. On GTK an empty region does not take an earlier shape away, so a
        // rectangle larger than any window stands for "the whole window".
        if (shape_.IsEmpty()) return;
        shape_ = wxRegion();
        window_->SetShape(WholeWindow());
        return;
    }
    shape_ = region;
    window_->SetShape(region);
}

void SkinnedWindow::DrawPart(wxDC& dc, int part, int x, int y) {
    const WindowSkin& s = skin_->def;
    if (!s.partPresent[part]) return;
    const SkinRect& r = s.partRect[part];
    wxMemoryDC source;
    source.SelectObjectAsSource(skin_->image);
    dc.Blit(x, y, r.Width(), r.Height(), &source, r.left, r.top);
}

void SkinnedWindow::FillPart(wxDC& dc, int part, int x, int y, int width, int height) {
    const WindowSkin& s = skin_->def;
    if (!s.partPresent[part] || width <= 0 || height <= 0) return;
    const SkinRect& r = s.partRect[part];
    if (s.partMode[part] == kModeStretch) {
        // The part alone, scaled pixel for pixel: a filtered stretch of the whole image would mix
        // in its neighbours on the sheet at the edges.
        wxImage piece = skin_->image.GetSubBitmap(wxRect(r.left, r.top, r.Width(), r.Height())).ConvertToImage();
        dc.DrawBitmap(wxBitmap(piece.Scale(width, height, wxIMAGE_QUALITY_NEAREST)), x, y, false);
        return;
    }
    wxMemoryDC source;
    source.SelectObjectAsSource(skin_->image);
    for (int ty = 0; ty < height; ty += r.Height())
        for (int tx = 0; tx < width; tx += r.Width())
            dc.Blit(x + tx, y + ty, std::min(r.Width(), width - tx), std::min(r.Height(), height - ty),
                    &source, r.left, r.top);
}

void SkinnedWindow::DrawTitleRow(wxDC& dc, int width, bool active) {
    const WindowSkin& s = skin_->def;
    dc.SetBackground(wxBrush(window_->GetBackgroundColour()));
    dc.Clear();
    auto pick = [&](int activePart, int inactivePart) {
        return (!active && s.partPresent[inactivePart]) ? inactivePart : activePart;
    };
    int left = pick(kPartTopLeft, kPartTopLeftIA);
    int middle = pick(kPartTop, kPartTopIA);
    int right = pick(kPartTopRight, kPartTopRightIA);
    int leftWidth = s.partPresent[left] ? s.partRect[left].Width() : 0;
    int rightWidth = s.partPresent[right] ? s.partRect[right].Width() : 0;
    DrawPart(dc, left, 0, 0);
    DrawPart(dc, right, width - rightWidth, 0);
    if (s.partPresent[middle])
        FillPart(dc, middle, leftWidth, 0, width - leftWidth - rightWidth, s.partRect[middle].Height());

    // Caption buttons over the row, each in its state.
    static const int buttons[][4] = {{kAnchorSystem, kPartSystem, kPartSystemHover, kPartSystemDown},
                                     {kAnchorMinimise, kPartMinimise, kPartMinimiseHover, kPartMinimiseDown},
                                     {kAnchorMaximise, kPartMaximise, kPartMaximiseHover, kPartMaximiseDown},
                                     {kAnchorClose, kPartClose, kPartCloseHover, kPartCloseDown}};
    wxSize size = window_->GetSize();
    for (const auto& b : buttons) {
        if (!s.anchorPresent[b[0]]) continue;
        int button = b[0];  // anchors 1..4 are the button numbers
        int part = b[1];
        if (tracker_.Hot() == button) part = tracker_.Pressed() == button ? b[3] : b[2];
        SkinRect area = AnchorArea(s, b[0], size.x, size.y);
        DrawPart(dc, s.partPresent[part] ? part : b[1], area.left, area.top);
    }
    if (s.anchorPresent[kAnchorIcon]) {
        wxIcon icon = window_->GetIcons().GetIcon(16, wxIconBundle::FALLBACK_NEAREST_LARGER);
        if (icon.IsOk()) {
            SkinRect area = AnchorArea(s, kAnchorIcon, size.x, size.y);
            wxBitmap bitmap(icon);
            if (bitmap.GetWidth() != 16 || bitmap.GetHeight() != 16)
                bitmap = wxBitmap(bitmap.ConvertToImage().Scale(16, 16, wxIMAGE_QUALITY_HIGH));
            dc.DrawBitmap(bitmap, area.left, area.top, true);
        }
    }

    wxString text = window_->GetTitle();
    drawnTitle_ = text;
    if (s.caps) text.MakeUpper();
    if (!s.captionPresent || text.empty()) return;
    dc.SetFont(skin_->font);
    dc.SetBackgroundMode(wxTRANSPARENT);
    wxSize extent = dc.GetTextExtent(text);
    CaptionPlacement place;
    PlaceCaption(s, width, extent.x, extent.y, place);
    if (place.clip.Width() <= 0 || place.clip.Height() <= 0) return;
    wxDCClipper clip(dc, wxRect(place.clip.left, place.clip.top, place.clip.Width(), place.clip.Height()));
    if (s.shadowColour != kNoColour) {
        dc.SetTextForeground(Colour(s.shadowColour));
        dc.DrawText(text, place.x + 1, place.y + 1);
    } else if (s.outlineColour != kNoColour) {
        dc.SetTextForeground(Colour(s.outlineColour));
        for (int dx = -1; dx <= 1; ++dx)
            for (int dy = -1; dy <= 1; ++dy)
                if (dx || dy) dc.DrawText(text, place.x + dx, place.y + dy);
    }
    dc.SetTextForeground(Colour(active ? s.colour : s.inactiveColour));
    dc.DrawText(text, place.x, place.y);
}

void SkinnedWindow::PaintFrame(wxDC& dc) {
    const WindowSkin& s = skin_->def;
    wxSize size = window_->GetClientSize();
    int width = size.x, height = size.y;
    FrameSizes f = SkinFrameSizes(s);
    bool active = window_->IsActive();

    auto h = [&](int part) { return s.partPresent[part] ? s.partRect[part].Height() : 0; };
    auto w = [&](int part) { return s.partPresent[part] ? s.partRect[part].Width() : 0; };
    int leftCorner = (!active && s.partPresent[kPartTopLeftIA]) ? kPartTopLeftIA : kPartTopLeft;
    int rightCorner = (!active && s.partPresent[kPartTopRightIA]) ? kPartTopRightIA : kPartTopRight;

    // Bottom corners, then the side bands between the top corners and the bottom corners.
    DrawPart(dc, kPartBottomLeft, 0, height - h(kPartBottomLeft));
    DrawPart(dc, kPartBottomRight, width - w(kPartBottomRight), height - h(kPartBottomRight));
    auto band = [&](int topPart, int fillPart, int bottomPart, int x, int bandTop, int bandBottom) {
        DrawPart(dc, topPart, x, bandTop);
        DrawPart(dc, bottomPart, x, bandBottom - h(bottomPart));
        int fillTop = bandTop + h(topPart), fillBottom = bandBottom - h(bottomPart);
        FillPart(dc, fillPart, x, fillTop, w(fillPart), fillBottom - fillTop);
    };
    band(kPartLeftTop, kPartLeft, kPartLeftBottom, 0, h(leftCorner), height - h(kPartBottomLeft));
    band(kPartRightTop, kPartRight, kPartRightBottom, width - w(kPartRight), h(rightCorner),
         height - h(kPartBottomRight));
    FillPart(dc, kPartBottom, w(kPartBottomLeft), height - h(kPartBottom),
             width - w(kPartBottomLeft) - w(kPartBottomRight), h(kPartBottom));

    if (f.top <= 0 || width <= 0) return;
    wxBitmap buffer(width, f.top);
    {
        wxMemoryDC row(buffer);
        DrawTitleRow(row, width, active);
    }
    wxMemoryDC row;
    row.SelectObjectAsSource(buffer);
    dc.Blit(0, 0, width, f.top, &row, 0, 0);
}

void SkinnedWindow::RepaintTitle() {
    if (!window_ || !skin_) return;
    window_->RefreshRect(wxRect(0, 0, window_->GetClientSize().x, SkinFrameSizes(skin_->def).top), false);
}

wxRect SkinnedWindow::AnchorScreenRect(int anchor) const {
    if (!skin_ || !window_ || !skin_->def.anchorPresent[anchor]) return {};
    wxSize size = window_->GetSize();
    SkinRect a = AnchorArea(skin_->def, anchor, size.x, size.y);
    wxPoint origin = window_->GetScreenPosition();
    return wxRect(origin.x + a.left, origin.y + a.top, a.Width(), a.Height());
}

SkinHit SkinnedWindow::HitAt(const wxPoint& point) const {
    if (!skin_ || !window_) return SkinHit::Nowhere;
    wxSize size = window_->GetSize();
    bool resizable = window_->HasFlag(wxRESIZE_BORDER) && !maximised_;
    return SkinHitTest(skin_->def, point.x, point.y, size.x, size.y, resizable, kDefaultResizeBorder,
                       kGripSize);
}

void SkinnedWindow::Maximise() {
    if (!window_ || maximised_) return;
    normalRect_ = window_->GetRect();
    maximised_ = true;
    PlaceMaximised();
    UpdateShape();
    window_->Refresh();
}

void SkinnedWindow::PlaceMaximised() {
    int index = wxDisplay::GetFromWindow(window_);
    wxDisplay display(index == wxNOT_FOUND ? 0u : unsigned(index));
    wxRect work = display.GetClientArea();
    SkinRect place =
        MaximisedPlacement(skin_ ? skin_->def : WindowSkin{}, work.width, work.height, display.IsPrimary());
    window_->SetSize(work.x + place.left, work.y + place.top, place.Width(), place.Height());
}

void SkinnedWindow::Restore() {
    if (!window_ || !maximised_) return;
    maximised_ = false;
    window_->SetSize(normalRect_);
    UpdateShape();
    window_->Refresh();
}

void SkinnedWindow::Minimise() {
    if (!window_) return;
    ++minimiseCount_;
    window_->Iconize(true);
}

void SkinnedWindow::RunButton(int button) {
    wxTopLevelWindow* window = window_;
    // Commands run after the click is done, as a posted system command would.
    // A window whose style has no minimise or maximise box ignores those buttons, as the system
    // frame would (a skin may draw them on dialogs too).
    switch (button) {
        case kButtonMinimise:
            if (!window->HasFlag(wxMINIMIZE_BOX)) break;
            window->CallAfter([this] { Minimise(); });
            break;
        case kButtonMaximise:
            if (!window->HasFlag(wxMAXIMIZE_BOX) && !maximised_) break;
            window->CallAfter([this] { maximised_ ? Restore() : Maximise(); });
            break;
        case kButtonClose:
            window->CallAfter([window] { window->Close(); });
            break;
        default:
            break;
    }
}

void SkinnedWindow::ShowSystemMenu() {
    wxMenu menu;
    menu.Append(kSysRestore, W(Tr(L"&Restore")))->Enable(maximised_);
    menu.Append(kSysMinimise, W(Tr(L"Mi&nimize")))->Enable(window_->HasFlag(wxMINIMIZE_BOX));
    menu.Append(kSysMaximise, W(Tr(L"Ma&ximize")))->Enable(window_->HasFlag(wxMAXIMIZE_BOX) && !maximised_);
    menu.AppendSeparator();
    AppendSkinMenu(&menu, manager_);
    menu.AppendSeparator();
    menu.Append(kSysClose, W(Tr(L"&Close")));

    int chosen = wxID_NONE;
    menu.Bind(wxEVT_MENU, [&](wxCommandEvent& e) {
        if (e.GetId() >= kSysRestore && e.GetId() <= kSysClose)
            chosen = e.GetId();
        else
            e.Skip();
    });
    wxRect anchor = AnchorScreenRect(kAnchorSystem);
    wxPoint at = window_->ScreenToClient(wxPoint(anchor.x, anchor.y + anchor.height));
    auto opened = std::chrono::steady_clock::now();
    window_->PopupMenu(&menu, at);
    if (!window_) return;
    tracker_.Reset();
    RepaintTitle();
    switch (chosen) {
        case kSysRestore:
            window_->CallAfter([this] { Restore(); });
            return;
        case kSysMinimise:
            RunButton(kButtonMinimise);
            return;
        case kSysMaximise:
            RunButton(kButtonMaximise);
            return;
        case kSysClose:
            RunButton(kButtonClose);
            return;
        default:
            break;
    }
    // A menu closed at once by a second click on the system button closes the window.
    auto elapsed = std::chrono::steady_clock::now() - opened;
    wxPoint mouse = wxGetMousePosition();
    if (elapsed < std::chrono::milliseconds(300) && AnchorScreenRect(kAnchorSystem).Contains(mouse))
        RunButton(kButtonClose);
}

void SkinnedWindow::OnPaint(wxPaintEvent&) {
    wxPaintDC dc(window_);
    if (skin_) PaintFrame(dc);
}

void SkinnedWindow::OnSize(wxSizeEvent& event) {
    UpdateShape();
    window_->Refresh();
    event.Skip();
}

void SkinnedWindow::OnIdle(wxIdleEvent& event) {
    // wx reports no title change: the caption is redrawn when the title differs from the one drawn.
    if (window_->GetTitle() != drawnTitle_) {
        drawnTitle_ = window_->GetTitle();
        RepaintTitle();
    }
    event.Skip();
}

void SkinnedWindow::OnActivate(wxActivateEvent& event) {
    RepaintTitle();
    event.Skip();
}

void SkinnedWindow::OnLeftDown(wxMouseEvent& event) {
    SkinHit hit = HitAt(event.GetPosition());
    if (tracker_.ButtonDown(hit)) {
        RepaintTitle();
        if (tracker_.Pressed() == kButtonSystem) {
            window_->Update();
            ShowSystemMenu();
            return;
        }
        drag_ = Drag::Button;
    } else if (hit == SkinHit::Caption && !maximised_) {
        drag_ = Drag::Move;
    } else if (IsResizeHit(hit)) {
        drag_ = Drag::Resize;
    } else {
        event.Skip();
        return;
    }
    dragHit_ = hit;
    dragStartMouse_ = window_->ClientToScreen(event.GetPosition());
    dragStartRect_ = window_->GetRect();
    if (!window_->HasCapture()) window_->CaptureMouse();
}

void SkinnedWindow::EndDrag() {
    drag_ = Drag::None;
    if (window_ && window_->HasCapture()) window_->ReleaseMouse();
}

void SkinnedWindow::OnLeftUp(wxMouseEvent& event) {
    Drag was = drag_;
    EndDrag();
    if (was == Drag::Button) {
        int button = tracker_.ButtonUp(HitAt(event.GetPosition()));
        RepaintTitle();
        RunButton(button);
        return;
    }
    if (was == Drag::None) event.Skip();
}

void SkinnedWindow::OnLeftDClick(wxMouseEvent& event) {
    SkinHit hit = HitAt(event.GetPosition());
    if (hit == SkinHit::SystemMenu) {
        RunButton(kButtonClose);
        return;
    }
    if (hit == SkinHit::Caption && window_->HasFlag(wxMAXIMIZE_BOX)) {
        maximised_ ? Restore() : Maximise();
        return;
    }
    event.Skip();
}

void SkinnedWindow::OnMotion(wxMouseEvent& event) {
    wxPoint mouse = window_->ClientToScreen(event.GetPosition());
    wxPoint delta = mouse - dragStartMouse_;
    if (drag_ == Drag::Move) {
        window_->Move(dragStartRect_.GetPosition() + delta);
        return;
    }
    if (drag_ == Drag::Resize) {
        int minWidth, minHeight;
        wxSize own = window_->GetMinSize();
        SkinMinimumSize(skin_->def, own.x, own.y, minWidth, minHeight);
        wxRect r = dragStartRect_;
        int left = r.GetLeft(), top = r.GetTop(), right = r.GetLeft() + r.width,
            bottom = r.GetTop() + r.height;
        bool moveLeft =
            dragHit_ == SkinHit::Left || dragHit_ == SkinHit::TopLeft || dragHit_ == SkinHit::BottomLeft;
        bool moveRight =
            dragHit_ == SkinHit::Right || dragHit_ == SkinHit::TopRight || dragHit_ == SkinHit::BottomRight;
        bool moveTop =
            dragHit_ == SkinHit::Top || dragHit_ == SkinHit::TopLeft || dragHit_ == SkinHit::TopRight;
        bool moveBottom = dragHit_ == SkinHit::Bottom || dragHit_ == SkinHit::BottomLeft ||
                          dragHit_ == SkinHit::BottomRight;
        if (moveLeft) left = std::min(left + delta.x, right - minWidth);
        if (moveRight) right = std::max(right + delta.x, left + minWidth);
        if (moveTop) top = std::min(top + delta.y, bottom - minHeight);
        if (moveBottom) bottom = std::max(bottom + delta.y, top + minHeight);
        window_->SetSize(left, top, right - left, bottom - top);
        return;
    }
    SkinHit hit = HitAt(event.GetPosition());
    if (tracker_.MouseMove(hit, event.LeftIsDown())) RepaintTitle();
    window_->SetCursor(wxCursor(CursorFor(hit)));
    event.Skip();
}

void SkinnedWindow::OnLeave(wxMouseEvent& event) {
    if (drag_ == Drag::None && tracker_.Leave()) RepaintTitle();
    event.Skip();
}

void SkinnedWindow::OnCaptureLost(wxMouseCaptureLostEvent&) {
    drag_ = Drag::None;
    tracker_.Reset();
    RepaintTitle();
}

// ---------------------------------------------------------------------------------------------
// CFrameSkinManager

CFrameSkinManager& CFrameSkinManager::Instance() {
    static CFrameSkinManager manager(SkinsFolder(), SettingsStore::Instance());
    return manager;
}

CFrameSkinManager::CFrameSkinManager(std::wstring skinsFolder, SettingsStore& store)
    : skinsFolder_(std::move(skinsFolder)), store_(store) {
    if (!skinsFolder_.empty() && skinsFolder_.back() != L'/') skinsFolder_ += L'/';
    EnumerateSkins();
    LoadSkin(ReadSkinName(store_), true);
}

CFrameSkinManager::~CFrameSkinManager() {
    // Windows still attached get their system frames back (at program exit they are gone).
    while (!windows_.empty()) DetachWindow(windows_.begin()->first);
}

void CFrameSkinManager::EnumerateSkins() { installed_ = quilmer::EnumerateSkins(skinsFolder_); }

bool CFrameSkinManager::LoadSkin(const std::wstring& requested, bool force) {
    std::wstring name = FindInstalledSkin(installed_, requested);
    if (!requested.empty() && name.empty()) {
        lastError_ = L"skin \"" + requested + L"\" is not installed";
        CLog::Instance().Printf(LOG_WARN, L"Skin: %ls", lastError_.c_str());
    }
    if (name.empty()) {
        bool changed = !skinName_.empty() || !windowSkins_.empty();
        skinName_.clear();
        windowSkins_.clear();
        watermark_ = wxBitmap();
        if (ReadSkinName(store_) != L"") WriteSkinName(store_, L"");
        if (changed || force) ApplyToWindows();
        return false;
    }
    if (!force && name == skinName_) return IsSkinActive();

    SkinDefinition def;
    std::wstring error;
    std::map<std::wstring, std::unique_ptr<LoadedWindowSkin>> loaded;
    bool ok = ReadSkinFolder(skinsFolder_ + name, def, error, DecodeImage);
    if (ok) {
        for (const wchar_t* kind : {kMainWindowKind, kDialogKind})
            if (auto skin = Prepare(def.ForKind(kind))) loaded[kind] = std::move(skin);
        if (loaded.empty()) {
            ok = false;
            error = L"the skin image cannot be loaded";
        }
    }
    windowSkins_.clear();
    watermark_ = wxBitmap();
    if (!ok) {
        lastError_ = L"skin \"" + name + L"\" refused: " + error;
        CLog::Instance().Printf(LOG_ERR, L"Skin: %ls", lastError_.c_str());
        skinName_.clear();
        WriteSkinName(store_, L"");
        ApplyToWindows();
        return false;
    }
    lastError_.clear();
    windowSkins_ = std::move(loaded);
    if (!def.watermarkPath.empty()) {
        wxImage image = DecodeSkinImage(def.watermarkPath);
        if (image.IsOk()) watermark_ = wxBitmap(image);
    }
    skinName_ = name;
    if (ReadSkinName(store_) != name) WriteSkinName(store_, name);
    ApplyToWindows();
    return true;
}

const LoadedWindowSkin* CFrameSkinManager::WindowSkinFor(const std::wstring& kind) const {
    if (!IsSkinActive()) return nullptr;
    auto it = windowSkins_.find(kind);
    return it == windowSkins_.end() ? nullptr : it->second.get();
}

bool CFrameSkinManager::AttachWindow(wxTopLevelWindow* window) {
    if (!window) return false;
    auto it = windows_.find(window);
    if (it == windows_.end()) {
        std::wstring kind = dynamic_cast<wxDialog*>(window) ? kDialogKind : kMainWindowKind;
        it = windows_.emplace(window, std::make_unique<SkinnedWindow>(*this, window, kind)).first;
        // A destroyed window leaves by itself.
        window->Bind(wxEVT_DESTROY, &CFrameSkinManager::OnWindowDestroy, this);
    }
    it->second->Apply(WindowSkinFor(it->second->Kind()));
    return true;
}

void CFrameSkinManager::OnWindowDestroy(wxWindowDestroyEvent& event) {
    event.Skip();
    // Children's destroy events pass by too; only the attached window itself leaves.
    for (auto& [window, skinned] : windows_)
        if (static_cast<wxObject*>(window) == event.GetEventObject()) {
            Forget(window);
            return;
        }
}

bool CFrameSkinManager::DetachWindow(wxTopLevelWindow* window) {
    auto it = windows_.find(window);
    if (it == windows_.end()) return false;
    window->Unbind(wxEVT_DESTROY, &CFrameSkinManager::OnWindowDestroy, this);
    it->second->Apply(nullptr);
    windows_.erase(it);
    return true;
}

void CFrameSkinManager::Forget(wxTopLevelWindow* window) {
    auto it = windows_.find(window);
    if (it == windows_.end()) return;
    it->second->Abandon();
    windows_.erase(it);
}

void CFrameSkinManager::ApplyToWindows() {
    for (auto& [window, skinned] : windows_) skinned->Apply(WindowSkinFor(skinned->Kind()));
}

SkinnedWindow* CFrameSkinManager::Find(wxTopLevelWindow* window) const {
    auto it = windows_.find(window);
    return it == windows_.end() ? nullptr : it->second.get();
}

bool AttachFrameSkin(wxTopLevelWindow* window) { return CFrameSkinManager::Instance().AttachWindow(window); }

// ---------------------------------------------------------------------------------------------
// Skin chooser

wxMenu* CreateSkinMenu(CFrameSkinManager& manager) {
    auto* menu = new wxMenu;
    menu->AppendRadioItem(kSkinMenuFirstId, W(Tr(L"(No skin)")))->Check(!manager.IsSkinActive());
    const auto& skins = manager.InstalledSkins();
    for (std::size_t i = 0; i < skins.size() && kSkinMenuFirstId + 1 + int(i) <= kSkinMenuLastId; ++i) {
        wxString label = W(skins[i]);
        label.Replace("&", "&&");
        menu->AppendRadioItem(kSkinMenuFirstId + 1 + int(i), label)->Check(skins[i] == manager.SkinName());
    }
    std::vector<std::wstring> names = skins;
    CFrameSkinManager* target = &manager;
    menu->Bind(wxEVT_MENU, [target, names](wxCommandEvent& event) {
        int index = event.GetId() - kSkinMenuFirstId;
        if (index < 0 || index > int(names.size())) {
            event.Skip();
            return;
        }
        std::wstring name = index == 0 ? std::wstring() : names[index - 1];
        // Applied after the menu has closed, so the windows are redrawn without it.
        wxTheApp->CallAfter([target, name] { target->LoadSkin(name); });
    });
    // A menu kept in a menu bar shows the skin in force each time it opens (another window's
    // chooser, or a refused skin, may have changed it).
    menu->Bind(wxEVT_MENU_OPEN, [menu, target, names](wxMenuEvent& event) {
        event.Skip();
        if (event.GetMenu() != menu) return;
        int current = 0;
        for (std::size_t i = 0; i < names.size(); ++i)
            if (names[i] == target->SkinName()) current = int(i) + 1;
        if (wxMenuItem* item = menu->FindItem(kSkinMenuFirstId + current)) item->Check(true);
    });
    return menu;
}

void AppendSkinMenu(wxMenu* menu, CFrameSkinManager& manager) {
    menu->AppendSubMenu(CreateSkinMenu(manager), W(Tr(L"S&kin")));
}

}  // namespace quilmer
