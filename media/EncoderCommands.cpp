#include "media/EncoderCommands.h"

#include <boost/regex.hpp>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <unistd.h>

#include "foundation/AppFolders.h"
#include "foundation/FileUtil.h"
#include "foundation/Strings.h"
#include "foundation/TextTranslator.h"
#include "media/RealMediaFit.h"
#include "media/TempNames.h"
#include "media/WindowsCommandLine.h"

namespace quilmer {

namespace {

std::wstring Program(const std::wstring& encoderPath) { return L"\"" + encoderPath + L"\""; }
std::wstring Q(const std::wstring& path) { return QuoteWindowsArgument(path); }
std::wstring Num(int value) { return std::to_wstring(value); }

// regex_search that counts Boost's "too complex" exception as no match.
bool SafeSearch(const std::wstring& text, boost::wsmatch& m, const wchar_t* expression) {
    try {
        return boost::regex_search(text, m, boost::wregex(expression));
    } catch (const std::exception&) {
        return false;
    }
}

// Group 1 of `expression` in `field`, trimmed, as a whole decimal number; `fallback` otherwise.
int WholeNumber(const std::wstring& field, const wchar_t* expression, int fallback) {
    if (field.empty()) return fallback;
    boost::wsmatch m;
    if (!SafeSearch(field, m, expression)) return fallback;
    std::wstring text = Trim(std::wstring(m[1].first, m[1].second));
    if (text.empty()) return fallback;
    wchar_t* end = nullptr;
    errno = 0;
    long value = std::wcstol(text.c_str(), &end, 10);
    if (errno != 0 || *end != L'\0' || value < INT_MIN || value > INT_MAX) return fallback;
    return static_cast<int>(value);
}

}  // namespace

std::wstring DefaultPass1PresetPath() { return AppFolders::Instance().ProgramFolder() + kPass1PresetName; }
std::wstring DefaultPass2PresetPath() { return AppFolders::Instance().ProgramFolder() + kPass2PresetName; }

FinalEncodeParams FinalEncodeParamsFromProbe(const ClipProperties& probe) {
    FinalEncodeParams p;
    p.audioKbps = WholeNumber(probe.audioBitrate, L"(.+)kb/s", p.audioKbps);
    p.videoKbps = WholeNumber(probe.bitrate, L"(.+)kb/s", p.videoKbps);
    p.sampleRateHz = WholeNumber(probe.sampleRate, L"(.+)Hz", p.sampleRateHz);
    return p;
}

double FrameRateFromProbe(const ClipProperties& probe) {
    boost::wsmatch m;
    if (!SafeSearch(probe.frameRate, m, L"(.*)fps")) return 0;
    std::wstring text = Trim(std::wstring(m[1].first, m[1].second));
    if (text.empty()) return 0;
    wchar_t* end = nullptr;
    double value = std::wcstod(text.c_str(), &end);
    if (*end != L'\0' || !std::isfinite(value)) return 0;
    return value;
}

std::wstring ConversionCommandLine(const std::wstring& encoderPath, const std::wstring& clipPath,
                                   const std::wstring& intermediatePath, double frameRate) {
    const bool slow = !(std::trunc(frameRate) >= 20);
    return Program(encoderPath) + L" -i " + Q(clipPath) +
           (slow ? L" -sameq -r 20 -f mpeg -y " : L" -sameq -f mpeg -y ") + Q(intermediatePath);
}

std::wstring FinalEncodeCommandLine(JoinPhase phase, const FinalEncodeInputs& in) {
    const std::wstring head = Program(in.encoderPath) + L" -f mpeg -i " + Q(in.concatFile);
    const FinalEncodeParams& p = in.params;
    const std::wstring out = Q(in.outputPath);
    switch (phase) {
        case JoinPhase::EncodingAvi:
            return head + L" -acodec libmp3lame -vcodec msmpeg4 -ab " + Num(p.audioKbps) + L"k -b " +
                   Num(p.videoKbps) + L"k -ar " + Num(p.sampleRateHz) + L" -sameq -f avi -y " + out;
        case JoinPhase::EncodingFlv:
            return head + L" -sameq -ar " + Num(MapSampleRate(p.sampleRateHz)) + L" -f flv -y " + out;
        case JoinPhase::EncodingRmvb:
            return head + L" -sameq -ar " + Num(MapSampleRate(p.sampleRateHz)) + L" -f rm -y " + out;
        case JoinPhase::EncodingWmv:
            return head + L" -sameq -ar " + Num(MapSampleRate(p.sampleRateHz)) +
                   L" -vcodec wmv2 -acodec wmav2 -y " + out;
        case JoinPhase::EncodingMp4Pass1:
            return head + L" -an -pass 1 -vcodec libx264 -fpre " + Q(in.pass1Preset) + L" -b " +
                   Num(p.videoKbps) + L"k -bt " + Num(p.videoKbps) + L"k -threads 0 -f mp4 -y " + out;
        case JoinPhase::EncodingMp4Pass2:
            return head + L" -acodec libfaac -ab " + Num(p.audioKbps) + L"k -pass 2 -vcodec libx264 -fpre " +
                   Q(in.pass2Preset) + L" -b " + Num(p.videoKbps) + L"k -bt " + Num(p.videoKbps) +
                   L"k -threads 0 -f mp4 -y " + out;
        default:
            return {};
    }
}

std::wstring RealMediaFitNote(int width, int height) {
    std::wstring note = Tr(L"RealMedia takes no frame over 64 kB: a frame that would be larger is coded coarser.");
    const RealMediaFrame frame = FitRealMediaFrame(width, height);
    if (frame.scaledDown) {
        note += L" " + Tr(L"The picture is scaled down to the largest RealMedia frame:") + L" " + std::to_wstring(width) +
                L"x" + std::to_wstring(height) + L" -> " + std::to_wstring(frame.width) + L"x" +
                std::to_wstring(frame.height) + L".";
    }
    return note;
}

std::optional<JoinPhase> FirstEncodePhase(const TargetFormat& format) {
    if (format == L"avi") return JoinPhase::EncodingAvi;
    if (format == L"flv") return JoinPhase::EncodingFlv;
    if (format == L"rmvb") return JoinPhase::EncodingRmvb;
    if (format == L"wmv") return JoinPhase::EncodingWmv;
    if (format == L"mp4") return JoinPhase::EncodingMp4Pass1;
    return std::nullopt;
}

std::wstring MakeMp4WorkingFolder(const std::wstring& outputPath) {
    // Wide text throughout: std::filesystem::path converts wide strings through the "C" locale
    // and throws on any name that is not ASCII.
    const std::size_t slash = outputPath.rfind(L'/');
    std::wstring folder = slash == std::wstring::npos ? std::wstring() : outputPath.substr(0, slash);
    if (slash == 0) folder = L"/";
    if (folder.empty()) {
        char buffer[PATH_MAX];
        if (getcwd(buffer, sizeof buffer) == nullptr) return {};
        folder = WidePath(buffer);
    }
    if (folder.back() != L'/') folder += L'/';
    return ReserveTemporaryFolder(folder);
}

}  // namespace quilmer
