#pragma once
// Reading a skin folder: "skin.xml" and the image it names. skins/README.md describes the file
// for skin authors.
//
// A skin is all or nothing: a file that is not XML, an image that is missing or not an image, a
// rectangle outside the image, a negative size or a number beyond +-32767 refuses the whole skin
// with a reason, and the windows keep the system frame. Values the format gives a default to
// (colours, font size and weight, alignment, minimum size, unknown part names, unknown elements)
// fall back to it instead.

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/ImageFile.h"
#include "skin/WindowSkin.h"

namespace quilmer {

// Tells the size of an image file, or nothing when the file is missing or is not an image. The GUI
// passes one that decodes the file fully, but only once its header declares a size the reader
// accepts (at most kMaxImageSide a side); ProbeImageFile reads the PNG and BMP headers, from
// regular files only.
using ImageProbe = std::function<std::optional<ImageSize>(const std::wstring& path)>;
std::optional<ImageSize> ProbeImageFile(const std::wstring& path);

// Largest magnitude of a number in a skin definition.
constexpr int kSkinNumberLimit = 32767;

// The window kinds: ordinary top-level windows and dialogs.
extern const wchar_t* const kMainWindowKind;  // "CMainWnd"
extern const wchar_t* const kDialogKind;      // "CDialog"

struct SkinDefinition {
    std::wstring folder;  // ends in '/'
    // Each kind's skin; a kind the file has no skin for keeps a record without an image.
    WindowSkin mainWindow;
    WindowSkin dialog;
    // The menu-bar watermark image, or empty.
    std::wstring watermarkPath;

    const WindowSkin& ForKind(std::wstring_view kind) const;
};

// Reads skinFolder + "skin.xml" (skinFolder with or without a trailing '/'). On refusal returns
// false and says why in error; out is then left empty.
bool ReadSkinFolder(const std::wstring& skinFolder, SkinDefinition& out, std::wstring& error,
                    const ImageProbe& probe = ProbeImageFile);
// The same from the text of a definition (tests; images still come from skinFolder).
bool ReadSkinText(std::string_view xml, const std::wstring& skinFolder, SkinDefinition& out,
                  std::wstring& error, const ImageProbe& probe = ProbeImageFile);

// Value syntax, exposed for the tests of each rule.
namespace skin_syntax {
// "%i" as C reads it (decimal, 0x hex, 0 octal, leading blanks, stops at the first other
// character). Nothing when no digit is there; out-of-range values give nothing and set tooLarge.
std::optional<long long> ScanInt(std::string_view text, std::size_t* used = nullptr);
// "x,y,w,h" -> left x, top y, right x+w, bottom y+h; "x,y" (point) -> x, y, 0, 0.
struct ParsedRect {
    bool present = false;  // a rect or a point was readable
    bool isPoint = false;
    long long v[4] = {0, 0, 0, 0};  // the four numbers as written (point: x, y, 0, 0)
};
ParsedRect ParseRectOrPoint(std::string_view rect, std::string_view point);
// Exactly six hex digits RRGGBB -> red | green << 8 | blue << 16; anything else gives def.
SkinColour ParseColour(std::string_view text, SkinColour def);
}  // namespace skin_syntax

}  // namespace quilmer
