#pragma once
// How the smart join re-encodes a clip that does not match the reference clip: to the
// reference's codec, profile, level, frame size, pixel format, frame rate, time base, sample
// rate and channels, with encoder settings that give the same codec setup data, so that the
// re-encoded pieces and the copied clips can share one stream of the output.

#include "media/CancelFlag.h"
#include "media/TargetFormat.h"
#include "media/join/methods/DirectCommands.h"
#include "media/av/MediaInfo.h"

#include <optional>
#include <string>
#include <vector>

namespace quilmer {

// What only the reference file itself tells (MediaInfo does not carry it).
struct ReferenceDetails {
    int level = 0;                // the codec's level (H.264: 30 for 3.0), 0 when unknown
    long long videoBitRate = 0;   // bits/s of the picture stream, 0 when unknown
    std::string x264Options;      // "cabac=1 ref=3 ..." as x264 wrote it into the stream, "" when none
};

// Reads the details from the first picture packets of `path`; nullopt with `why` when the file
// cannot be read.
std::optional<ReferenceDetails> ReadReferenceDetails(const std::wstring& path, const CancelFlag& cancel,
                                                     std::wstring& why);

// x264's parameters (for ffmpeg's -x264-params) that rebuild the parameter sets of a stream x264
// described with `options`; nullopt when a setting cannot be given back (a custom quantizer
// matrix, interlacing).
std::optional<std::string> X264ParamsFromOptions(const std::string& options);

// The encoder of each stream, with its settings, and the frame the graph must end in.
struct SmartEncoder {
    SingleTarget frame;                  // size, rate, pixel format, sample rate, channels
    std::vector<std::wstring> video;     // "-c:v libx264 -profile:v high ..." (empty without picture)
    std::vector<std::wstring> audio;     // "-c:a aac -b:a 128k ..." (empty without sound)
    std::string muxer;                   // the reference's own container, which the pieces are written in
    std::wstring extension;              // ".mp4"
};

// The encoder that rebuilds `reference`'s streams, or nullopt with `why` (in the user's language)
// when this program cannot make them.
std::optional<SmartEncoder> SmartEncoderFor(const MediaInfo& reference, const ReferenceDetails& details,
                                            std::wstring& why);

// The run of ffmpeg that encodes `clips` (graph from SingleFilterGraph in `graphScript`) into
// `output` with `encoder`, ending after `seconds` (the clips' length, so that the encoder's
// padding of the last sound frame and the frame rate's rounding do not add to it; 0: no end).
// `probeOnly`: just the first picture, to see the setup data it makes.
std::vector<std::wstring> SmartArgs(const std::wstring& ffmpeg, const std::vector<std::wstring>& clips,
                                    const std::wstring& graphScript, const std::wstring& output,
                                    const SmartEncoder& encoder, bool hasVideo, bool hasAudio, bool probeOnly,
                                    double seconds = 0);

// SingleFilterGraph for the smart encode: the outputs the reference has no stream for are dropped.
std::string SmartFilterGraph(const std::vector<MediaInfo>& clips, const SmartEncoder& encoder, bool hasVideo,
                             bool hasAudio);

}  // namespace quilmer
