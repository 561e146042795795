#pragma once
// The encoder adapter's translation: the engine's (old-style) encoder command lines in, the
// argument vectors for Debian's ffmpeg out.

#include <optional>
#include <string>
#include <vector>

namespace quilmer::adapter {

// One command line of the engine, as options.
struct OldCommand {
    std::string inputFormat;   // -f before -i
    std::string input;         // -i
    std::vector<std::string> moreInputs;  // further -i, only in a probe of several files
    std::string outputFormat;  // -f after -i
    std::string output;        // the last plain argument; empty for a probe
    bool sameQuality = false;  // -sameq
    bool overwrite = false;    // -y
    bool noAudio = false;      // -an
    std::string frameRate, audioCodec, videoCodec, audioBitrate, videoBitrate, bitrateTolerance, sampleRate,
        pass, preset, threads;
};

enum class Kind { Probe, Convert, EncodeAvi, EncodeFlv, EncodeRm, EncodeWmv, EncodeMp4Pass1, EncodeMp4Pass2 };

// Reads the arguments after the program name. False with a message for an option or a shape the
// engine never uses.
bool ParseOldCommand(const std::vector<std::string>& args, OldCommand& command, Kind& kind,
                     std::string& error);

// How a conversion is adjusted after a first attempt showed what the clip lacks.
struct ConvertVariant {
    bool blackVideo = false;                // the clip has no picture: a black one of its length
    bool silentAudio = false;               // the clip has no sound: silence of its length
    std::optional<double> durationSeconds;  // the clip's length, when known
    bool standardFrameRate = false;         // the clip's rate cannot be coded in MPEG-2: use 25
};

// What a probe report of one input (as the adapter prints it) says a conversion must make up: no video
// stream other than a cover picture gives a black picture, no audio stream gives silence.
// nullopt when the report shows no input at all.
std::optional<ConvertVariant> VariantFromProbeReport(const std::string& report);

// The arguments for the real ffmpeg (without its program name).
std::vector<std::string> BuildModernArgs(const OldCommand& command, Kind kind,
                                         const ConvertVariant& variant = {});

// The sample rate nearest to `requested` among `supported` (ascending): the smallest that is not
// below it, else the largest.
int NearestSampleRate(int requested, const std::vector<int>& supported);

}  // namespace quilmer::adapter
