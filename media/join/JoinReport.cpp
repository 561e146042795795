#include "media/join/JoinReport.h"

#include "foundation/Utf8.h"

#include <cstring>

namespace quilmer {

std::string EscapeUrlBytes(std::string_view bytes) {
    static const char* kept = "!'()*-./:_~%";
    static const char* hex = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                     (c != 0 && std::strchr(kept, c) != nullptr);
        if (plain) {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back('%');
            out.push_back(hex[c >> 4]);
            out.push_back(hex[c & 15]);
        }
    }
    return out;
}

std::string EscapeUrl(std::string_view bytes) {
    std::string out = EscapeUrlBytes(bytes);
    if (out.size() > 2083) return {};
    return out;
}

std::wstring JoinReportAddress(const std::wstring& server, const std::wstring& language, const std::wstring& sourceUrl) {
    // The language is escaped too: pack names hold blanks ("Chinese Simplified").
    return server + L"/api_joinerlog.php?lang=" + FromUtf8(EscapeUrl(ToUtf8(language))) + L"&url=" +
           FromUtf8(EscapeUrl(ToUtf8(sourceUrl)));
}

}  // namespace quilmer
