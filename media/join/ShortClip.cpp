#include "media/join/ShortClip.h"

#include "foundation/Strings.h"
#include "foundation/TextTranslator.h"

#include <cstdio>

namespace quilmer {

namespace {

std::wstring Tenths(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", seconds);
    return std::wstring(text, text + std::char_traits<char>::length(text));
}

}  // namespace

std::wstring ShortClipWarning(const std::wstring& clip, double heldSeconds, double headerSeconds) {
    // Named slots instead of a format: a translation may put them in any order, and a stray
    // '%' in it cannot break anything.
    std::wstring text = Tr(L"{clip} holds {held} s of the {header} s its header gives; the rest is missing, "
                           L"perhaps an incomplete download");
    ReplaceAll(text, L"{held}", Tenths(heldSeconds));
    ReplaceAll(text, L"{header}", Tenths(headerSeconds));
    ReplaceAll(text, L"{clip}", clip);  // last: a clip's name may hold anything
    return text;
}

}  // namespace quilmer
