#include "web/core/WebRules.h"

#include "foundation/Strings.h"
#include "foundation/Utf8.h"
#include "web/core/MarkupEscape.h"

#include <cctype>
#include <string_view>

namespace quilmer {

namespace {

bool Contains(std::wstring_view text, std::wstring_view part) { return text.find(part) != std::wstring_view::npos; }
bool Contains(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }

// The form text of a page is 8-bit; it becomes wide text through the locale's character set.
std::wstring WideForm(const std::string& text) { return FromAnsi(text); }

// Percent-escapes are decoded too, because the toolbar page sends its form text URL-encoded.
std::wstring DecodeFormValue(std::string value) {
    for (char& c : value) {
        if (c == '+') c = ' ';
    }
    std::string bytes;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '%' && i + 2 < value.size() &&
            std::isxdigit(static_cast<unsigned char>(value[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(value[i + 2]))) {
            bytes += static_cast<char>(std::stoi(value.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            bytes += value[i];
        }
    }
    std::wstring wide = FromUtf8(bytes);
    if (wide.empty() && !bytes.empty()) wide = FromAnsi(bytes);
    return wide;
}

}  // namespace

std::wstring QueryValue(const std::wstring& value) { return FromUtf8(EscapeUrlPart(ToUtf8(value), "")); }

std::wstring ToolbarPageAddress(const std::wstring& site, const std::wstring& language, const std::wstring& type) {
    return site + L"/api_iebar3.php?lang=" + QueryValue(language) + L"&type=" + QueryValue(type);
}

std::wstring JoinerPageAddress(const std::wstring& site, const std::wstring& language,
                               const std::wstring& shortVersion) {
    return site + L"/api_joiner.php?lang=" + QueryValue(language) + L"&type=joiner&ver=" + QueryValue(shortVersion);
}

std::wstring HelpPageAddress(const std::wstring& site, const std::wstring& language) {
    return site + L"/api_help.php?lang=" + QueryValue(language) + L"&type=joiner";
}

std::wstring DownloadPageAddress(const std::wstring& site, const std::wstring& language) {
    return site + L"/soft.php?type=flv&lang=" + QueryValue(language);
}

bool IsWebAddress(const std::wstring& address) {
    return StartsWithNoCase(address, L"http://") || StartsWithNoCase(address, L"https://");
}

bool IsBlankPage(const std::wstring& address) { return address == L"about:blank" || address == L"about:srcdoc"; }

bool MayNavigateFromPage(const std::wstring& address) { return IsWebAddress(address) || IsBlankPage(address); }

bool IsSearchText(const std::wstring& text) {
    if (Contains(text, L" ")) return true;
    return !Contains(text, L".") && !Contains(text, L":") && !Contains(text, L"localhost");
}

std::wstring DecodeEntities(const std::wstring& text) {
    std::wstring out = text;
    ReplaceAll(out, L"&amp;", L"&");
    ReplaceAll(out, L"&gt;", L">");
    ReplaceAll(out, L"&lt;", L"<");
    ReplaceAll(out, L"&quot;", L"\"");
    return out;
}

std::string EscapeAddressText(const std::wstring& text, bool escapePercent, std::size_t maxBytes) {
    static constexpr std::string_view kSpecial = " <>\"#{}|\\^~[]`";
    std::string out;
    for (unsigned char c : ToUtf8(text)) {
        bool escape = c <= 0x20 || c >= 0x7F || kSpecial.find(static_cast<char>(c)) != std::string_view::npos ||
                      (escapePercent && c == '%');
        out += escape ? FormatA("%%%02X", c) : std::string(1, static_cast<char>(c));
    }
    if (maxBytes != 0 && out.size() > maxBytes) return {};
    return out;
}

bool IsIgnoredNavigationStatus(long long status) {
    if (status >= 0 && status <= 399) return true;
    switch (status) {
        case 0x800C0008LL: case 0x800C000DLL: case 0x800C0014LL:
        case 0x800C0015LL: case 0x800C0017LL: case 0x800C0100LL:
            return true;
        default:
            return false;
    }
}

std::wstring NavigationErrorAddress(const std::wstring& site, const std::wstring& failedAddress, long long status,
                                    const std::wstring& language) {
    if (IsIgnoredNavigationStatus(status)) return {};
    std::wstring errorPage = site + L"/naverr.php";
    if (StartsWithNoCase(failedAddress, errorPage)) return {};
    // Codes of the 0x800C.... family are signed 32-bit numbers on the page.
    long long shown = (status > 0x7FFFFFFFLL && status <= 0xFFFFFFFFLL) ? status - 0x100000000LL : status;
    std::wstring failed = FromUtf8(EscapeAddressText(failedAddress, true, 2083));
    return errorPage + L"?url=" + failed + L"&errorid=" + ToWString(shown) + L"&lang=" + QueryValue(language);
}

SearchBarRedirect DecideSearchBarNavigation(const std::wstring& site, const std::wstring& address) {
    SearchBarRedirect result;
    if (!Contains(address, L"api_search") || !Contains(address, L"q=")) return result;
    auto typeAt = address.find(L"&type=");
    if (typeAt != std::wstring::npos) result.type = address.substr(typeAt + 6);
    auto queryAt = address.find(L"?q=");
    result.url = site + L"/video_search.php" + (queryAt == std::wstring::npos ? L"" : address.substr(queryAt));
    return result;
}

ToolbarDecision DecideToolbarNavigation(const std::wstring& site, const std::wstring& address,
                                        const std::string& formData) {
    ToolbarDecision d;
    bool addressHasQuery = Contains(address, L"q=");
    if (formData.empty() && !addressHasQuery) return d;

    if (formData.rfind("address", 0) == 0 && formData.size() >= 5 && !Contains(formData, "back_i")) {
        auto at = formData.find("address=");
        std::string value = at == std::string::npos ? std::string() : formData.substr(at + 8);
        d.setPending = true;
        d.pending = Trim(DecodeFormValue(value));
        d.setCurrentAddress = true;
        d.currentAddress = DecodeEntities(d.pending);
        return d;
    }
    if (!addressHasQuery) {
        if (formData.rfind("s=", 0) == 0) {
            std::string data = formData;
            ReplaceAll(data, "s=", "q=");
            d.cancel = true;
            d.contentAddress = site + L"/video_search.php?" + WideForm(data);
        } else if (Contains(formData, "hid=") && !Contains(formData, "_i")) {
            std::string data = formData;
            ReplaceAll(data, "hid=", "");
            d.setPending = true;
            d.pending = DecodeFormValue(data);
        } else if (formData.rfind("address=", 0) == 0) {
            std::string data = formData;
            ReplaceAll(data, "address=", "");
            d.setPending = true;
            d.pending = DecodeFormValue(data);
        } else if (Contains(formData, "download_i") && formData.size() >= 5 && !Contains(formData, "stop_h")) {
            d.download = true;
            d.cancel = true;
        }
        return d;
    }
    d.cancel = true;
    auto queryAt = address.find(L"?q=");
    d.contentAddress = site + L"/video_search.php" + (queryAt == std::wstring::npos ? L"" : address.substr(queryAt));
    return d;
}

std::wstring AddressForPending(const std::wstring& site, const std::wstring& currentAddress,
                               const std::wstring& pending, const std::wstring& type) {
    if (IsSearchText(currentAddress)) {
        return site + L"/search?q=" + FromUtf8(EscapeAddressText(currentAddress, false)) + L"&type=" + type +
               L"&cate=sb";
    }
    std::wstring target = DecodeEntities(pending);
    if (!target.empty() && !Contains(target, L":")) target = L"http://" + target;
    return target;
}

PaneDecision DecideMainPaneNavigation(const std::wstring& site, const std::wstring& address,
                                      const std::string& formData, const std::wstring& language) {
    PaneDecision d;
    bool longForm = formData.size() > 4;
    if (longForm && Contains(formData, "hid=") && Contains(formData, "_i")) {
        d.cancel = true;
        return d;
    }
    if (Contains(address, L"corvane:")) {
        d.cancel = true;
        return d;
    }
    if (longForm && Contains(formData, "hid=")) {
        std::string data = formData;
        ReplaceAll(data, "hid=", "");
        d.cancel = true;
        d.openBrowser = true;
        d.browserAddress = DecodeFormValue(data);
        d.browserType = L"flv";
        return d;
    }
    if (Contains(address, L"api_joiner") && !formData.empty() && !Contains(formData, "_i")) {
        std::string data = formData;
        ReplaceAll(data, "s=", "q=");
        auto typeAt = data.find("&type=");
        // Form text without a type: the pane's own category.
        d.browserType = typeAt == std::string::npos ? L"flv" : WideForm(data.substr(typeAt + 6));
        d.cancel = true;
        d.openBrowser = true;
        d.browserAddress = site + L"/video_search.php?" + WideForm(data) + L"&lang=" + QueryValue(language);
        return d;
    }
    return d;
}

std::string SnapPage(const std::wstring& site, const std::string& imageSource) {
    return "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\"/></head>"
           "<body style=\"overflow:hidden; margin:0; padding-left:50px; padding-top:25px\">"
           "<a href=\"" + EscapeAttribute(ToUtf8(site) + "/download.php") +
           "\" target=\"_blank\"><img id=\"snap\" border=\"0\" src=\"" + EscapeAttribute(imageSource) +
           "\"/></a></body></html>";
}

}  // namespace quilmer
