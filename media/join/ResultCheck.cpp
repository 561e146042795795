#include "media/join/ResultCheck.h"

#include "foundation/Strings.h"
#include "foundation/TextTranslator.h"
#include "media/EncoderCommands.h"

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

double ExpectedLength::Total() const {
    double total = 0;
    for (const ClipLength& c : clips) total += c.seconds;
    return total;
}

double ReencodeSlackPerClip(const ClipProperties& result) {
    double fps = FrameRateFromProbe(result);
    const double frame = fps >= 1 && fps <= 240 ? 1.0 / fps : 0.1;
    // The sound's end is known only as far as its packets say (a WMA packet may span a quarter
    // of a second at low rates).
    return frame + 0.12;
}

namespace {

constexpr double kSoundPriming = 0.12;

// Why the output's picture does not cover it (`seconds` long), or empty. Its length against the
// clips' is the length check's: the clips' lengths may be off by the sound's last packet, when
// the packets give no length of their own. The picture is held to the shorter of the two ends:
// an output's sound may run on past the clips by its encoder's delay and last frame (MP3 in AVI,
// RealAudio), which no picture need cover.
std::wstring CheckPicture(const ExpectedLength& expected, const OutputPicture& picture, double seconds) {
    if (!expected.picture || !picture.measured) return {};
    if (!picture.present) return Tr(L"The output has no picture.");
    // The output may begin with the sound codec's priming (MP3 in FLV: up to a fifth of a second
    // at 11 kHz), before the first picture, which comes a frame after it at most.
    if (picture.start > expected.slackPerClip + kSoundPriming)
        return Tr(L"The output's first picture is missing; its picture begins this long after its start:") +
               FormatW(L" %.2f s.", picture.start);
    const double total = expected.Total();
    const double end = expected.complete && total > 0 ? std::min(total, seconds) : seconds;
    if (end - picture.end > expected.slackPerClip)
        return Tr(L"The output's last picture is missing; its picture ends before the clips do:") +
               FormatW(L" %.2f s / %.2f s.", picture.end, end);
    return {};
}

}  // namespace

std::wstring CheckJoinResult(const ClipProperties& result, bool probed, const ExpectedLength& expected,
                             const OutputPicture& picture) {
    if (!probed) return Tr(L"The output cannot be read back as video.");
    std::optional<double> seconds = DurationSeconds(result.duration);
    if (!seconds || *seconds <= 0) return Tr(L"The output has no duration; it is incomplete.");
    const double total = expected.Total();
    const double slack = expected.slackPerClip * static_cast<double>(expected.clips.size());
    if (!expected.complete || total <= 0) return CheckPicture(expected, picture, *seconds);
    const double missing = total - *seconds;
    if (missing > slack) {
        std::wstring reason = Tr(L"The output is shorter than the clips:") +
                              FormatW(L" %.2f s / %.2f s.", *seconds, total);
        // A clip that is missing as a whole can be named; a shortfall spread over several cannot.
        for (const ClipLength& c : expected.clips) {
            if (!c.clip.empty() && c.seconds > slack && std::fabs(c.seconds - missing) <= slack)
                return reason + L" " + Tr(L"This clip is missing from the output:") + L" " + c.clip;
        }
        if (expected.clips.size() == 1 && !expected.clips.front().clip.empty())
            return reason + L" " + Tr(L"This clip came out short:") + L" " + expected.clips.front().clip;
        return reason;
    }
    if (-missing > std::max(1.5, total * 0.1)) {
        return FormatW(TrFormat(L"The output lasts %.1f s instead of the clips' %.1f s; it is incomplete.").c_str(),
                       *seconds, total);
    }
    return CheckPicture(expected, picture, *seconds);
}

std::wstring CheckJoinResult(const ClipProperties& result, bool probed, std::optional<double> expectedSeconds) {
    ExpectedLength expected;
    expected.complete = expectedSeconds.has_value();
    if (expectedSeconds) expected.clips.push_back({L"", *expectedSeconds});
    expected.slackPerClip = ReencodeSlackPerClip(result);
    return CheckJoinResult(result, probed, expected);
}

}  // namespace quilmer
