#pragma once
// Looks at a media file in this process through libavformat: what the joins need to decide and
// to build their commands (the first picture stream that is not a cover picture, the first sound
// stream, the length its packets hold, the container). Opening a file this way costs a few
// milliseconds where starting ffprobe costs fifty, which is most of a lossless join's time.

#include "media/CancelFlag.h"
#include "media/av/MediaInfo.h"

#include <chrono>
#include <optional>
#include <string>

namespace quilmer {

// The report of one file, or nullopt with `why` saying what is wrong (not a regular file, not
// a format libavformat knows, neither picture nor sound). A raised `cancel` or the time limit
// ends the reading at its next read.
std::optional<MediaInfo> ProbeMediaFile(const std::wstring& path, const CancelFlag& cancel, std::wstring& why,
                                        std::chrono::milliseconds timeLimit = std::chrono::seconds(30));

// Where the picture of a finished output lies, for the result check; not measured when the
// file cannot be looked into.
OutputPicture MeasureOutputPicture(const std::wstring& path, CancelFlag& cancel);

}  // namespace quilmer
