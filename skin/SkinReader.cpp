#include "skin/SkinReader.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <pugixml.hpp>

#include "foundation/FileUtil.h"
#include "foundation/Strings.h"
#include "foundation/Utf8.h"

namespace quilmer {

const wchar_t* const kMainWindowKind = L"CMainWnd";
const wchar_t* const kDialogKind = L"CDialog";

const std::array<const wchar_t*, kPartCount> kSkinPartNames = {
    L"TopLeft",    L"Top",           L"TopRight",     L"TopLeftIA", L"TopIA",         L"TopRightIA",
    L"LeftTop",    L"Left",          L"LeftBottom",   L"RightTop",  L"Right",         L"RightBottom",
    L"BottomLeft", L"Bottom",        L"BottomRight",  L"System",    L"SystemHover",   L"SystemDown",
    L"Minimise",   L"MinimiseHover", L"MinimiseDown", L"Maximise",  L"MaximiseHover", L"MaximiseDown",
    L"Close",      L"CloseHover",    L"CloseDown"};

const std::array<const wchar_t*, kAnchorCount> kSkinAnchorNames = {L"Icon", L"System", L"Minimise",
                                                                   L"Maximise", L"Close"};

int WindowSkin::CaptionFontHeight(int dotsPerInch) const {
    if (!fontSizeInPoints) return -fontSize;
    // Tenths of a point at the screen's resolution, rounded as the system's MulDiv rounds.
    long long scaled = static_cast<long long>(dotsPerInch) * fontSize;
    long long height = (scaled + (scaled >= 0 ? 360 : -360)) / 720;
    return -static_cast<int>(std::llabs(height));
}

const WindowSkin& SkinDefinition::ForKind(std::wstring_view kind) const {
    return kind == kDialogKind ? dialog : mainWindow;
}

namespace skin_syntax {

std::optional<long long> ScanInt(std::string_view text, std::size_t* used) {
    std::string copy(text);
    const char* begin = copy.c_str();
    char* end = nullptr;
    errno = 0;
    long long value = std::strtoll(begin, &end, 0);
    if (end == begin) return std::nullopt;
    if (used) *used = static_cast<std::size_t>(end - begin);
    if (errno == ERANGE) return value < 0 ? -(1LL << 62) : (1LL << 62);
    return value;
}

ParsedRect ParseRectOrPoint(std::string_view rect, std::string_view point) {
    ParsedRect out;
    auto scanList = [&](std::string_view text, int count) {
        std::size_t pos = 0;
        for (int i = 0; i < count; ++i) {
            if (i > 0) {
                if (pos >= text.size() || text[pos] != ',') return false;
                ++pos;
            }
            std::size_t used = 0;
            auto v = ScanInt(text.substr(pos), &used);
            if (!v) return false;
            out.v[i] = *v;
            pos += used;
        }
        return true;
    };
    if (!rect.empty() && scanList(rect, 4)) {
        out.present = true;
        return out;
    }
    out = ParsedRect{};
    if (!point.empty() && scanList(point, 2)) {
        out.present = true;
        out.isPoint = true;
        out.v[2] = out.v[3] = 0;
    }
    return out;
}

SkinColour ParseColour(std::string_view text, SkinColour def) {
    if (text.size() != 6) return def;
    int channels[3];
    for (int i = 0; i < 3; ++i) {
        int value = 0;
        for (int j = 0; j < 2; ++j) {
            char c = text[i * 2 + j];
            int digit;
            if (c >= '0' && c <= '9')
                digit = c - '0';
            else if (c >= 'a' && c <= 'f')
                digit = c - 'a' + 10;
            else if (c >= 'A' && c <= 'F')
                digit = c - 'A' + 10;
            else
                return def;
            value = value * 16 + digit;
        }
        channels[i] = value;
    }
    return channels[0] | (channels[1] << 8) | (channels[2] << 16);
}

}  // namespace skin_syntax

namespace {

using namespace skin_syntax;

std::wstring Attr(const pugi::xml_node& node, const char* name) {
    return FromUtf8(node.attribute(name).value());
}
std::string_view RawAttr(const pugi::xml_node& node, const char* name) {
    return node.attribute(name).value();
}

int PartIndex(const std::wstring& name) {
    for (int i = 0; i < kPartCount; ++i)
        if (EqualsNoCase(name, kSkinPartNames[i])) return i;
    return -1;
}
int AnchorIndex(const std::wstring& name) {
    for (int i = 0; i < kAnchorCount; ++i)
        if (EqualsNoCase(name, kSkinAnchorNames[i])) return i;
    return -1;
}

// A path in the definition, relative to the skin folder. Backslashes of skins written for the
// other system are folder separators. Absolute paths and ".." are refused: a skin reads only
// its own folder.
bool SkinFilePath(const std::wstring& folder, std::wstring relative, std::wstring& out) {
    for (auto& c : relative)
        if (c == L'\\') c = L'/';
    if (relative.empty() || relative.front() == L'/') return false;
    std::size_t start = 0;
    while (start <= relative.size()) {
        std::size_t end = relative.find(L'/', start);
        if (end == std::wstring::npos) end = relative.size();
        if (relative.compare(start, end - start, L"..") == 0) return false;
        start = end + 1;
    }
    out = folder + relative;
    return true;
}

class WindowSkinReader {
public:
    WindowSkinReader(const std::wstring& folder, const ImageProbe& probe) : folder_(folder), probe_(probe) {}

    enum class Result { Ok, Missing, Malformed };

    Result Read(const pugi::xml_node& windowSkins, const wchar_t* kind, WindowSkin& out,
                std::wstring& error) {
        pugi::xml_node chosen;
        for (auto ws = windowSkins.child("windowSkin"); ws && !chosen; ws = ws.next_sibling("windowSkin"))
            for (auto target = ws.child("target"); target; target = target.next_sibling("target"))
                if (Attr(target, "window") == kind) {
                    chosen = ws;
                    break;
                }
        if (!chosen) return Result::Missing;

        skin_ = WindowSkin{};
        error_.clear();
        for (auto child = chosen.first_child(); child && error_.empty(); child = child.next_sibling()) {
            if (child.type() != pugi::node_element) continue;
            std::string_view name = child.name();
            if (name == "parts")
                ReadParts(child);
            else if (name == "anchors")
                ReadAnchors(child);
            else if (name == "region")
                ReadRegion(child);
            else if (name == "caption")
                ReadCaption(child);
            else if (name == "image")
                ReadImage(child);
            else if (name == "maximiseCrop")
                ReadFour(child, "maximiseCrop", skin_.maximiseCrop, false);
            else if (name == "resizeBorder")
                ReadFour(child, "resizeBorder", skin_.resizeBorder, true);
            else if (name == "minimumSize")
                ReadMinimumSize(child);
        }
        if (error_.empty()) CheckParts();
        if (!error_.empty()) {
            error = std::wstring(kind) + L": " + error_;
            return Result::Malformed;
        }
        if (!skin_.HasImage()) return Result::Missing;
        out = std::move(skin_);
        return Result::Ok;
    }

private:
    void Fail(const std::wstring& what) {
        if (error_.empty()) error_ = what;
    }

    // Checks every number of a rectangle against the limit.
    bool InLimits(const ParsedRect& r, const std::wstring& where) {
        for (long long v : r.v)
            if (v > kSkinNumberLimit || v < -kSkinNumberLimit) {
                Fail(where + L": number out of range");
                return false;
            }
        return true;
    }

    void ReadParts(const pugi::xml_node& parts) {
        for (auto part = parts.child("part"); part; part = part.next_sibling("part")) {
            std::wstring name = Attr(part, "name");
            ParsedRect r = ParseRectOrPoint(RawAttr(part, "rect"), RawAttr(part, "point"));
            if (!r.present) continue;
            int index = PartIndex(name);
            if (index < 0) continue;
            if (!InLimits(r, L"part \"" + name + L"\"")) return;
            if (!r.isPoint && (r.v[2] < 0 || r.v[3] < 0)) {
                Fail(L"part \"" + name + L"\" has a negative size");
                return;
            }
            SkinRect rect{int(r.v[0]), int(r.v[1]), int(r.v[0] + r.v[2]), int(r.v[1] + r.v[3])};
            // A part of no width or height (or given as a point) still draws one pixel.
            if (rect.right == rect.left) rect.right = rect.left + 1;
            if (rect.bottom == rect.top) rect.bottom = rect.top + 1;
            skin_.partPresent[index] = true;
            skin_.partRect[index] = rect;
            skin_.partMode[index] = EqualsNoCase(Attr(part, "mode"), L"stretch") ? kModeStretch : kModeTile;
        }
    }

    void ReadAnchors(const pugi::xml_node& anchors) {
        for (auto anchor = anchors.child("anchor"); anchor; anchor = anchor.next_sibling("anchor")) {
            std::wstring name = Attr(anchor, "name");
            ParsedRect r = ParseRectOrPoint(RawAttr(anchor, "rect"), RawAttr(anchor, "point"));
            if (!r.present) continue;
            int index = AnchorIndex(name);
            if (index < 0) continue;
            if (!InLimits(r, L"anchor \"" + name + L"\"")) return;
            if (r.v[2] < 0 || r.v[3] < 0) {
                Fail(L"anchor \"" + name + L"\" has a negative size");
                return;
            }
            skin_.anchorPresent[index] = true;
            skin_.anchorRect[index] =
                SkinRect{int(r.v[0]), int(r.v[1]), int(r.v[0] + r.v[2]), int(r.v[1] + r.v[3])};
        }
    }

    void ReadRegion(const pugi::xml_node& region) {
        skin_.hasRegion = true;
        skin_.region.clear();
        for (auto shape = region.child("shape"); shape; shape = shape.next_sibling("shape")) {
            SkinShape s;
            std::wstring type = Attr(shape, "type");
            if (EqualsNoCase(type, L"rectangle"))
                s.type = kShapeRectangle;
            else if (EqualsNoCase(type, L"ellipse"))
                s.type = kShapeEllipse;
            else if (EqualsNoCase(type, L"roundRect"))
                s.type = kShapeRoundRect;
            ParsedRect r = ParseRectOrPoint(RawAttr(shape, "rect"), RawAttr(shape, "point"));
            if (r.present) {
                if (!InLimits(r, L"region shape")) return;
                s.hasRect = true;
                s.rect = SkinRect{int(r.v[0]), int(r.v[1]), int(r.v[2]), int(r.v[3])};
            }
            ParsedRect size = ParseRectOrPoint({}, RawAttr(shape, "size"));
            if (size.present) {
                if (!InLimits(size, L"region shape size")) return;
                s.cornerWidth = int(std::llabs(size.v[0]));
                s.cornerHeight = int(std::llabs(size.v[1]));
            }
            std::wstring combine = Attr(shape, "combine");
            if (EqualsNoCase(combine, L"and"))
                s.combine = kCombineAnd;
            else if (EqualsNoCase(combine, L"copy"))
                s.combine = kCombineCopy;
            else if (EqualsNoCase(combine, L"diff"))
                s.combine = kCombineDiff;
            else if (EqualsNoCase(combine, L"or"))
                s.combine = kCombineOr;
            else if (EqualsNoCase(combine, L"xor"))
                s.combine = kCombineXor;
            skin_.region.push_back(s);
        }
    }

    void ReadCaption(const pugi::xml_node& caption) {
        ParsedRect r = ParseRectOrPoint(RawAttr(caption, "rect"), RawAttr(caption, "point"));
        if (r.present) {
            if (!InLimits(r, L"caption")) return;
            if (r.v[3] < 0) {
                Fail(L"caption has a negative height");
                return;
            }
            skin_.captionPresent = true;
            skin_.captionRect = SkinRect{int(r.v[0]), int(r.v[1]), int(r.v[2]), int(r.v[1] + r.v[3])};
        }
        skin_.fontFace = Attr(caption, "fontFace");
        std::string_view size = RawAttr(caption, "fontSize");
        auto n = ScanInt(size);
        skin_.fontSizeInPoints = size.find("pt") != std::string_view::npos;
        skin_.fontSize = 13;
        // A size no screen can show falls back to the default too.
        if (n && *n > 0 && *n <= (skin_.fontSizeInPoints ? 7200 : 500))
            skin_.fontSize = int(*n);
        else if (n)
            skin_.fontSizeInPoints = false;

        std::wstring weight = Attr(caption, "fontWeight");
        skin_.fontWeight = 700;
        if (EqualsNoCase(weight, L"bold"))
            skin_.fontWeight = 700;
        else if (EqualsNoCase(weight, L"normal"))
            skin_.fontWeight = 400;
        else if (auto w = ScanInt(RawAttr(caption, "fontWeight")); w && *w >= 1 && *w <= 1000)
            skin_.fontWeight = int(*w);

        skin_.colour = ParseColour(RawAttr(caption, "colour"), skin_.colour);
        skin_.inactiveColour = ParseColour(RawAttr(caption, "inactiveColour"), skin_.inactiveColour);
        skin_.shadowColour = ParseColour(RawAttr(caption, "shadowColour"), skin_.shadowColour);
        skin_.outlineColour = ParseColour(RawAttr(caption, "outlineColour"), skin_.outlineColour);
        skin_.caps = !RawAttr(caption, "caps").empty();
        std::wstring align = Attr(caption, "align");
        skin_.align = kAlignLeft;
        if (EqualsNoCase(align, L"center"))
            skin_.align = kAlignCentre;
        else if (EqualsNoCase(align, L"right"))
            skin_.align = kAlignRight;
    }

    void ReadImage(const pugi::xml_node& image) {
        std::wstring path = Attr(image, "path");
        std::wstring full;
        if (path.empty()) {
            // Bitmap resources of the program do not exist on this system.
            Fail(RawAttr(image, "res").empty()
                     ? L"image names no file"
                     : L"image names a program resource (\"res\"); skins here use files");
            return;
        }
        if (!SkinFilePath(folder_, path, full)) {
            Fail(L"image path \"" + path + L"\" leaves the skin folder");
            return;
        }
        auto size = probe_ ? probe_(full) : std::nullopt;
        if (!size) {
            Fail(L"image \"" + path + L"\" is missing or is not an image");
            return;
        }
        if (size->width > kMaxImageSide || size->height > kMaxImageSide) {
            Fail(L"image \"" + path + L"\" declares " + std::to_wstring(size->width) + L"x" +
                 std::to_wstring(size->height) + L" pixels, more than " + std::to_wstring(kMaxImageSide) +
                 L" a side");
            return;
        }
        std::wstring type = Attr(image, "type");
        if (EqualsNoCase(type, L"watermark") || EqualsNoCase(type, L"water") || EqualsNoCase(type, L"alpha"))
            return;
        skin_.imagePath = full;
        skin_.imageWidth = size->width;
        skin_.imageHeight = size->height;
    }

    void ReadFour(const pugi::xml_node& node, const char* what, std::array<int, 4>& out,
                  bool negativeIsDefault) {
        ParsedRect r = ParseRectOrPoint(RawAttr(node, "rect"), {});
        if (!r.present) return;
        if (!InLimits(r, FromUtf8(what))) return;
        for (int i = 0; i < 4; ++i) out[i] = (negativeIsDefault && r.v[i] < 0) ? kSkinDefault : int(r.v[i]);
    }

    void ReadMinimumSize(const pugi::xml_node& node) {
        auto read = [&](const char* name) {
            auto v = ScanInt(RawAttr(node, name));
            if (!v) return 0;
            if (*v > kSkinNumberLimit) {
                Fail(L"minimumSize: number out of range");
                return 0;
            }
            return *v < 0 ? 0 : int(*v);
        };
        skin_.minimumWidth = read("width");
        skin_.minimumHeight = read("height");
    }

    // Every part must lie inside the image: drawing a piece that is not there has no sound meaning.
    void CheckParts() {
        if (!skin_.HasImage()) return;
        for (int i = 0; i < kPartCount; ++i) {
            if (!skin_.partPresent[i]) continue;
            const SkinRect& r = skin_.partRect[i];
            if (r.left < 0 || r.top < 0 || r.right > skin_.imageWidth || r.bottom > skin_.imageHeight ||
                r.right <= r.left || r.bottom <= r.top) {
                Fail(std::wstring(L"part \"") + kSkinPartNames[i] + L"\" lies outside the " +
                     std::to_wstring(skin_.imageWidth) + L"x" + std::to_wstring(skin_.imageHeight) +
                     L" image");
                return;
            }
        }
    }

    const std::wstring& folder_;
    const ImageProbe& probe_;
    WindowSkin skin_;
    std::wstring error_;
};

bool ReadDocument(const pugi::xml_document& doc, const std::wstring& folder, SkinDefinition& out,
                  std::wstring& error, const ImageProbe& probe) {
    pugi::xml_node skin = doc.child("root").child("skin");
    if (!skin) {
        error = L"skin.xml has no root/skin element";
        return false;
    }
    SkinDefinition def;
    def.folder = folder;
    WindowSkinReader reader(folder, probe);
    pugi::xml_node windowSkins = skin.child("windowSkins");
    auto mainResult = reader.Read(windowSkins, kMainWindowKind, def.mainWindow, error);
    if (mainResult == WindowSkinReader::Result::Malformed) return false;
    auto dialogResult = reader.Read(windowSkins, kDialogKind, def.dialog, error);
    if (dialogResult == WindowSkinReader::Result::Malformed) return false;
    if (mainResult != WindowSkinReader::Result::Ok && dialogResult != WindowSkinReader::Result::Ok) {
        error = L"skin.xml has no window skin with an image for \"CMainWnd\" or \"CDialog\"";
        return false;
    }

    pugi::xml_node watermark = skin.child("watermarks").child("watermark");
    if (watermark && std::string_view(watermark.attribute("target").value()) == "CCoolMenuBar") {
        std::wstring full;
        // A watermark that cannot be used is only an ornament: the skin stays without it.
        if (SkinFilePath(folder, Attr(watermark, "path"), full) && probe) {
            auto size = probe(full);
            if (size && size->width <= kMaxImageSide && size->height <= kMaxImageSide) def.watermarkPath = full;
        }
    }
    out = std::move(def);
    return true;
}

constexpr std::size_t kMaxDefinitionBytes = 4u * 1024 * 1024;

std::wstring WithSlash(const std::wstring& folder) {
    return (!folder.empty() && folder.back() == L'/') ? folder : folder + L'/';
}

}  // namespace

std::optional<ImageSize> ProbeImageFile(const std::wstring& path) {
    std::string bytes;
    if (!ReadRegularFile(path, kMaxImageFileBytes, bytes)) return std::nullopt;
    return DeclaredImageSize(bytes);
}

bool ReadSkinText(std::string_view xml, const std::wstring& skinFolder, SkinDefinition& out,
                  std::wstring& error, const ImageProbe& probe) {
    pugi::xml_document doc;
    pugi::xml_parse_result parsed = doc.load_buffer(xml.data(), xml.size());
    if (!parsed) {
        error = L"skin.xml is not well-formed XML (" + FromUtf8(parsed.description()) + L" at byte " +
                std::to_wstring(parsed.offset) + L")";
        return false;
    }
    return ReadDocument(doc, WithSlash(skinFolder), out, error, probe);
}

bool ReadSkinFolder(const std::wstring& skinFolder, SkinDefinition& out, std::wstring& error,
                    const ImageProbe& probe) {
    std::wstring folder = WithSlash(skinFolder);
    std::string text;
    std::wstring why;
    // A definition is a few kilobytes; a huge file is not one. Nor is a FIFO or a device.
    if (!ReadRegularFile(folder + L"skin.xml", kMaxDefinitionBytes, text, &why)) {
        error = L"skin.xml cannot be read: " + why;
        return false;
    }
    return ReadSkinText(text, folder, out, error, probe);
}

}  // namespace quilmer
