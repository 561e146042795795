#include "media/join/ResultCheck.h"

#include "foundation/Strings.h"
#include "foundation/TextTranslator.h"

#include <algorithm>
#include <cmath>
#include <cwchar>

namespace quilmer {

std::optional<double> DurationSeconds(const std::wstring& field) {
    const std::wstring text = Trim(field);
    // hh:mm:ss[.frac], every part a plain number.
    double parts[3] = {0, 0, 0};
    std::size_t start = 0;
    for (int i = 0; i < 3; ++i) {
        std::size_t end = i < 2 ? text.find(L':', start) : text.size();
        if (end == std::wstring::npos || end == start) return std::nullopt;
        std::wstring part = text.substr(start, end - start);
        if (part.size() > 12 || part.find_first_not_of(i < 2 ? L"0123456789" : L"0123456789.") != std::wstring::npos)
            return std::nullopt;
        wchar_t* stop = nullptr;
        parts[i] = std::wcstod(part.c_str(), &stop);
        if (stop == nullptr || *stop != L'\0' || !std::isfinite(parts[i])) return std::nullopt;
        start = end + 1;
    }
    return parts[0] * 3600 + parts[1] * 60 + parts[2];
}

std::wstring CheckJoinResult(const ClipProperties& result, bool probed, std::optional<double> expectedSeconds) {
    if (!probed) return Tr(L"The output cannot be read back as video.");
    std::optional<double> seconds = DurationSeconds(result.duration);
    if (!seconds || *seconds <= 0) return Tr(L"The output has no duration; it is incomplete.");
    if (!expectedSeconds || *expectedSeconds <= 0) return {};
    const double tolerance = std::max(1.5, *expectedSeconds * 0.1);
    if (std::fabs(*seconds - *expectedSeconds) > tolerance) {
        return FormatW(TrFormat(L"The output lasts %.1f s instead of the clips' %.1f s; it is incomplete.").c_str(),
                       *seconds, *expectedSeconds);
    }
    return {};
}

}  // namespace quilmer
