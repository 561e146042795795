#include "media/av/MediaInfo.h"

#include "foundation/FileUtil.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace quilmer {

namespace {

std::wstring Wide(const std::string& text) { return WidePath(text); }

}  // namespace

bool HoldsLessThanHeader(const MediaInfo& info) {
    return info.holdsPackets && info.headerDuration > 0 && info.duration > 0 &&
           info.headerDuration - info.duration > 0.5;
}

double FractionValue(const std::string& fraction) {
    const std::size_t slash = fraction.find('/');
    char* end = nullptr;
    double num = std::strtod(fraction.c_str(), &end);
    double den = 1;
    if (slash != std::string::npos) den = std::strtod(fraction.c_str() + slash + 1, nullptr);
    if (!std::isfinite(num) || !std::isfinite(den) || num <= 0 || den <= 0) return 0;
    return num / den;
}

std::wstring ClockText(double seconds) {
    if (!(seconds >= 0) || !std::isfinite(seconds)) seconds = 0;
    long long centis = std::llround(seconds * 100);
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "%02lld:%02lld:%02lld.%02lld", centis / 360000, centis / 6000 % 60,
                  centis / 100 % 60, centis % 100);
    return Wide(buffer);
}

ClipProperties PropertiesFromMediaInfo(const std::wstring& path, const MediaInfo& info) {
    ClipProperties p;
    p.path = path;
    std::string container = info.container.substr(0, info.container.find(','));
    if (container == "mov") container = "mp4";
    if (container == "asf") container = "wmv";
    if (container == "rm") container = "rmvb";
    p.format = Wide(container);
    if (info.duration > 0) p.duration = ClockText(info.duration);
    if (info.bitRate > 0) p.bitrate = std::to_wstring(info.bitRate / 1000) + L" kb/s";
    if (info.video) {
        p.videoCodec = Wide(info.video->codec);
        p.resolution = std::to_wstring(info.video->width) + L"x" + std::to_wstring(info.video->height) + L" pixels";
        double fps = FractionValue(info.video->frameRate);
        if (fps > 0) {
            char buffer[32];
            std::snprintf(buffer, sizeof buffer, "%.4g fps", fps);
            p.frameRate = Wide(buffer);
        }
    }
    if (info.audio) {
        p.audioCodec = Wide(info.audio->codec);
        if (info.audio->sampleRate > 0) p.sampleRate = std::to_wstring(info.audio->sampleRate) + L" Hz";
        if (info.audio->bitRate > 0) p.audioBitrate = std::to_wstring(info.audio->bitRate / 1000) + L" kb/s";
    }
    return p;
}

OutputPicture PictureOf(const MediaInfo& info) {
    OutputPicture picture;
    picture.measured = info.holdsPackets;
    picture.present = info.video.has_value() && info.pictureFrom >= 0;
    if (picture.present) {
        picture.start = info.pictureFrom;
        picture.end = info.pictureTo;
    }
    return picture;
}

}  // namespace quilmer
