#pragma once
// The encoder adapter's translation: the engine's (old-style) encoder command lines in, the
// argument vectors for Debian's ffmpeg out.

#include <optional>
#include <string>
#include <vector>

#include "encoder/ProgramStreamScan.h"

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

// What a clip's packets hold, in seconds on the clock the real encoder uses for the clip (its
// earliest stream starts near 0). A stream that is absent has start < 0.
struct ClipLayout {
    double videoStart = -1, videoEnd = -1;
    double audioStart = -1, audioEnd = -1;
    int width = 0, height = 0;  // the first picture as shown: square pixels, even, turned upright
    double Start() const;
    double End() const;
    double Length() const { return End() - Start(); }
};

// Reads a framecrc listing of a clip's first picture stream and first sound stream (in that
// order, each optional) and the real encoder's report of the same run (for the rotation of the
// picture). nullopt when the listing holds no packet.
std::optional<ClipLayout> LayoutFromPackets(const std::string& framecrc, const std::string& report);

// How a conversion is adjusted after a first attempt showed what the clip lacks.
struct ConvertVariant {
    bool blackVideo = false;                // the clip has no picture: a black one of its length
    bool silentAudio = false;               // the clip has no sound: silence of its length
    std::optional<double> durationSeconds;  // the clip's length, when known
    bool standardFrameRate = false;         // the clip's rate cannot be coded in MPEG-2: use 25
    // Where each stream really begins and ends, learnt from the clip's packets; when known, the
    // intermediate lasts from the clip's start to the end of its longest stream, with black
    // before a late first picture and the last picture held after an early last one.
    std::optional<ClipLayout> layout;
};

// What a final encode knows of the byte-joined intermediates it reads.
struct JoinedInput {
    std::string concatList;     // a list of the parts for ffmpeg's concat reader; empty: one stream
    int width = 0, height = 0;  // the first part's picture size: later parts are fitted into it
};

// The concat list that lays the parts of `path` end to end: each part begins where the pictures
// of the one before it end. Empty when the path cannot be named in such a list.
std::string ConcatListFor(const std::string& path, const std::vector<ProgramStreamPart>& parts);


// What a probe report of one input (as the adapter prints it) says a conversion must make up: no video
// stream other than a cover picture gives a black picture, no audio stream gives silence.
// nullopt when the report shows no input at all.
std::optional<ConvertVariant> VariantFromProbeReport(const std::string& report);

// The arguments for the real ffmpeg (without its program name).
std::vector<std::string> BuildModernArgs(const OldCommand& command, Kind kind,
                                         const ConvertVariant& variant = {}, const JoinedInput& joined = {});

// The arguments that list a clip's packets (see ClipLayout) into `listing`.
std::vector<std::string> LayoutScanArgs(const std::string& input, const std::string& listing);

// The sample rate nearest to `requested` among `supported` (ascending): the smallest that is not
// below it, else the largest.
int NearestSampleRate(int requested, const std::vector<int>& supported);

}  // namespace quilmer::adapter
