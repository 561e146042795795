#pragma once
// Every command line the engine gives the encoder, built from fixed templates. Paths are always
// quoted (QuoteWindowsArgument), so an ordinary path appears as "PATH" exactly as in the
// templates and an unusual one (quotes, trailing backslash) still reaches the encoder intact.

#include <optional>
#include <string>

#include "media/ClipProperties.h"
#include "media/JoinPhase.h"
#include "media/TargetFormat.h"

namespace quilmer {

inline constexpr const wchar_t* kPass1PresetName = L"libx264-slow_firstpass.ffpreset";
inline constexpr const wchar_t* kPass2PresetName = L"libx264-slow.ffpreset";
inline constexpr const wchar_t* kIntermediateExtension = L".qjv";

// ProgramFolder() + the preset names.
std::wstring DefaultPass1PresetPath();
std::wstring DefaultPass2PresetPath();

// Parameters of the final encode, taken from the first clip's probe.
struct FinalEncodeParams {
    int audioKbps = 128;
    int videoKbps = 264;
    int sampleRateHz = 22050;
};

// audioKbps from audioBitrate, videoKbps from bitrate ("(.+)kb/s"), sampleRateHz from sampleRate
// ("(.+)Hz"); a field that is empty, does not match or is not a whole number gives the default.
FinalEncodeParams FinalEncodeParamsFromProbe(const ClipProperties& probe);

// The number before "fps" in frameRate ("(.*)fps"); 0 when empty or not a number.
double FrameRateFromProbe(const ClipProperties& probe);

// Conversion of one clip to an MPEG program stream: with "-r 20" when the frame rate truncated
// to an integer is below 20 (0 included, i.e. not reported).
std::wstring ConversionCommandLine(const std::wstring& encoderPath, const std::wstring& clipPath,
                                   const std::wstring& intermediatePath, double frameRate);

struct FinalEncodeInputs {
    std::wstring encoderPath;
    std::wstring concatFile;
    std::wstring outputPath;
    std::wstring pass1Preset;  // mp4 only
    std::wstring pass2Preset;  // mp4 only
    FinalEncodeParams params;
};

// The final-encode command of a phase (EncodingAvi .. EncodingMp4Pass2); an empty string for any
// other phase. flv, rmvb and wmv get the mapped sample rate, avi the rate unchanged, mp4 none.
std::wstring FinalEncodeCommandLine(JoinPhase phase, const FinalEncodeInputs& inputs);

// What a RealMedia output changes of a first clip of this frame size (0 when unknown): every
// frame kept below the format's 64 kB, and a picture larger than its frames scaled down.
std::wstring RealMediaFitNote(int width, int height);

// The phase of the (first) final encode of a target format; nullopt for an unknown format.
std::optional<JoinPhase> FirstEncodePhase(const TargetFormat& format);

// Makes the working folder of the two mp4 passes next to the output: the output's folder plus a
// fresh name of hexadecimal digits. Returns the folder with a trailing '/', or an empty string
// when no name could be had or the folder could not be made.
std::wstring MakeMp4WorkingFolder(const std::wstring& outputPath);

}  // namespace quilmer
