#include "web/core/MarkupEscape.h"

#include "foundation/Strings.h"
#include "foundation/Utf8.h"

#include <cstdint>
#include <vector>

namespace quilmer {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes UTF-8 into code points; each byte of a malformed, overlong, surrogate or truncated
// sequence gives one U+FFFD.
std::vector<char32_t> CodePoints(std::string_view bytes) {
    std::vector<char32_t> out;
    out.reserve(bytes.size());
    std::size_t i = 0;
    while (i < bytes.size()) {
        auto b = static_cast<unsigned char>(bytes[i]);
        std::size_t len = b < 0x80 ? 1 : (b >> 5) == 0x6 ? 2 : (b >> 4) == 0xE ? 3 : (b >> 3) == 0x1E ? 4 : 0;
        char32_t cp = len == 1 ? b : len == 2 ? (b & 0x1F) : len == 3 ? (b & 0x0F) : (b & 0x07);
        bool ok = len != 0 && i + len <= bytes.size();
        for (std::size_t k = 1; ok && k < len; ++k) {
            auto c = static_cast<unsigned char>(bytes[i + k]);
            ok = (c & 0xC0) == 0x80;
            cp = (cp << 6) | (c & 0x3F);
        }
        static constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
        ok = ok && cp >= kLeast[len] && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF);
        if (!ok) {
            out.push_back(kReplacement);
            ++i;
            continue;
        }
        out.push_back(cp);
        i += len;
    }
    return out;
}

std::string EscapeEntities(std::string_view bytes, bool quotes) {
    std::string out;
    for (char32_t cp : CodePoints(bytes)) {
        switch (cp) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += quotes ? "&quot;" : "\""; break;
            case '\'': out += quotes ? "&#39;" : "'"; break;
            default: AppendUtf8(out, cp);
        }
    }
    return out;
}

bool IsAsciiAlnum(char32_t c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

}  // namespace

std::string ValidUtf8(std::string_view bytes) {
    std::string out;
    for (char32_t cp : CodePoints(bytes)) AppendUtf8(out, cp);
    return out;
}

std::string EscapeMarkupText(std::string_view bytes) { return EscapeEntities(bytes, false); }

std::string EscapeAttribute(std::string_view bytes) { return EscapeEntities(bytes, true); }

std::string EscapeScriptString(std::string_view bytes) {
    static constexpr std::string_view kPlain = " .,:/-_%";
    std::string out;
    for (char32_t cp : CodePoints(bytes)) {
        if (IsAsciiAlnum(cp) || (cp < 0x80 && kPlain.find(static_cast<char>(cp)) != std::string_view::npos)) {
            out += static_cast<char>(cp);
        } else if (cp < 0x100) {
            out += FormatA("\\x%02x", static_cast<unsigned>(cp));
        } else if (cp < 0x10000) {
            out += FormatA("\\u%04x", static_cast<unsigned>(cp));
        } else {
            char32_t v = cp - 0x10000;
            out += FormatA("\\u%04x\\u%04x", static_cast<unsigned>(0xD800 + (v >> 10)),
                           static_cast<unsigned>(0xDC00 + (v & 0x3FF)));
        }
    }
    return out;
}

std::string ScriptStringLiteral(std::string_view bytes) {
    std::string out(1, '\'');
    out += EscapeScriptString(bytes);
    out += '\'';
    return out;
}

std::string EscapeUrlPart(std::string_view bytes, std::string_view keep) {
    std::string out;
    for (unsigned char c : bytes) {
        bool plain = IsAsciiAlnum(c) || c == '-' || c == '.' || c == '_' || c == '~' ||
                     (c != 0 && keep.find(static_cast<char>(c)) != std::string_view::npos);
        out += plain ? std::string(1, static_cast<char>(c)) : FormatA("%%%02X", c);
    }
    return out;
}

}  // namespace quilmer
