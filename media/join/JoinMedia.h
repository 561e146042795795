#pragma once
// What the join needs from the media engine, behind an interface so that the state machine can
// be tested without an encoder.

#include "media/CancelFlag.h"
#include "media/ClipProperties.h"
#include "media/EncoderRunner.h"
#include "media/av/MediaInfo.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace quilmer {

class JoinMedia {
public:
    using ChunkHandler = std::function<void(const std::string& chunk)>;

    virtual ~JoinMedia() = default;

    // Probes one file synchronously into properties (cleared first, path set). False when the
    // file is missing, the encoder cannot run, the file is not media it understands, or the probe
    // was stopped (cancel, or no answer within the probe time limit). Never on the loop thread.
    virtual bool Probe(const std::wstring& path, ClipProperties& properties, CancelFlag& cancel) = 0;

    // Looks into one file in this process, without the encoder: above all the length its whole
    // packets hold, which for a partial download is less than its header gives. nullopt when
    // it cannot be read so; the join then goes by the probe alone. Never on the loop thread.
    virtual std::optional<MediaInfo> LookInside(const std::wstring& path, CancelFlag& cancel) = 0;

    // Runs one encoder command line to its end on the calling thread, handing every piece of
    // output to onChunk. Setting cancel (Request) ends the process at once. The answer tells how
    // the process ended: not started, stopped by us, killed by a signal, or its exit status.
    virtual EncoderExit Run(const std::wstring& workingFolder, const std::wstring& commandLine,
                            const ChunkHandler& onChunk, CancelFlag& cancel) = 0;
};

// The real thing: the encoder adapter of the program folder, and libavformat for the look inside.
std::unique_ptr<JoinMedia> MakeEncoderJoinMedia(const std::wstring& encoderPath);

}  // namespace quilmer
