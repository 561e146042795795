#pragma once
// Between the program's wide strings and wxString. Paths keep every byte: a name that is not
// valid UTF-8 travels through the core as U+DC80+byte characters, which the screen cannot show,
// so display text turns those into U+FFFD while paths go through the core's own conversion.

#include <wx/string.h>

#include <string>

#include "foundation/FileUtil.h"

namespace quilmer {

// Text for a label, list cell or title.
inline wxString ToWx(const std::wstring& text) {
    std::wstring shown = text;
    for (auto& ch : shown)
        if (ch >= 0xDC80 && ch <= 0xDCFF) ch = 0xFFFD;
    return wxString(shown);
}

// A path as wx hands it over (a dialog, a drop) to the core's wide path.
inline std::wstring PathFromWx(const wxString& path) {
    const wxScopedCharBuffer bytes = path.fn_str();
    if (bytes.length() > 0 || path.empty()) return WidePath(std::string(bytes.data(), bytes.length()));
    return WidePath(path.utf8_string());
}

// A core path for wx calls that open or launch it.
inline wxString PathToWx(const std::wstring& path) {
    std::string native = NativePath(path);
    wxString converted(native.c_str(), *wxConvFileName);
    return converted.empty() && !native.empty() ? wxString::FromUTF8(native) : converted;
}

}  // namespace quilmer
