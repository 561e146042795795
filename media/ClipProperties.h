#pragma once
// What a probe found out about one clip: ten texts, units included, shown as they are.

#include <string>

namespace quilmer {

struct ClipProperties {
    std::wstring path;          // the file described
    std::wstring format;        // container word: flv, f4v, rmvb, avi, mp4, wmv, mp3, matroska, WebM or empty
    std::wstring resolution;    // "640x360 pixels"
    std::wstring bitrate;       // overall, "512 kb/s"
    std::wstring frameRate;     // "25 fps", "29.97 fps"
    std::wstring duration;      // "00:03:25.45"
    std::wstring videoCodec;    // "h264"
    std::wstring audioCodec;    // "aac"
    std::wstring audioBitrate;  // "128 kb/s"
    std::wstring sampleRate;    // "44100 Hz"

    void Clear() { *this = ClipProperties{}; }
    bool operator==(const ClipProperties&) const = default;
};

}  // namespace quilmer
