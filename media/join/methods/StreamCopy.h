#pragma once
// The lossless join done in this process: the packets of each clip's first picture and first
// sound stream are written one after the other into the target container through libavformat,
// each clip's timestamps moved on to where the clip before it ended. Nothing is decoded. This
// is what ffmpeg's concat demuxer with "-c copy" does, without starting ffmpeg and without
// looking at every clip a second time in another process.

#include "media/CancelFlag.h"
#include "media/TargetFormat.h"
#include "media/join/Chapters.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace quilmer {

// Called with the output position in microseconds as the copy goes on.
using CopyProgress = std::function<void(std::int64_t)>;

// Copies the clips into `output` (created or truncated) in the target's container. The clips
// must agree with each other (CheckLossless). Returns "" when done, else what went wrong; a
// raised `cancel` ends the copy at its next packet. The caller removes a partial output.
// `length` receives the length written in microseconds: the sum of the clips' lengths by their
// packets, which is what a player shows even where a clip's header says otherwise.
// `chapters` (planned with one piece per clip) are written placed where each clip's first
// picture (or, without one, its first sound) lands in the output.
std::wstring CopyStreams(const std::vector<std::wstring>& clips, const std::wstring& output,
                         const TargetFormat& target, const CancelFlag& cancel, const CopyProgress& progress,
                         std::int64_t* length = nullptr, const std::vector<PlannedChapter>& chapters = {});

}  // namespace quilmer
