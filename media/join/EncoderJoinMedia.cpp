#include "media/ClipProbe.h"
#include "media/EncoderRunner.h"
#include "media/av/AvProbe.h"
#include "media/join/JoinMedia.h"

namespace quilmer {

namespace {

class EncoderJoinMedia final : public JoinMedia {
public:
    explicit EncoderJoinMedia(std::wstring encoderPath) : encoderPath_(std::move(encoderPath)) {}

    bool Probe(const std::wstring& path, ClipProperties& properties, CancelFlag& cancel) override {
        return ProbeClip(path, properties, encoderPath_, std::wstring(), &cancel);
    }

    std::optional<MediaInfo> LookInside(const std::wstring& path, CancelFlag& cancel) override {
        std::wstring why;
        return ProbeMediaFile(path, cancel, why);
    }

    EncoderExit Run(const std::wstring& workingFolder, const std::wstring& commandLine, const ChunkHandler& onChunk,
                    CancelFlag& cancel) override {
        // Nothing is accumulated: progress is read chunk by chunk.
        EncoderExit exit;
        RunEncoder(
            workingFolder, commandLine,
            [&onChunk](std::string&, std::string& chunk) {
                onChunk(chunk);
                return true;
            },
            [](std::string&) { return true; }, &cancel, &exit);
        return exit;
    }

private:
    std::wstring encoderPath_;
};

}  // namespace

std::unique_ptr<JoinMedia> MakeEncoderJoinMedia(const std::wstring& encoderPath) {
    return std::make_unique<EncoderJoinMedia>(encoderPath);
}

}  // namespace quilmer
