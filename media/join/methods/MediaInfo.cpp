#include "media/join/methods/MediaInfo.h"

#include "foundation/FileUtil.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace quilmer {

namespace {

using nlohmann::json;

std::string Text(const json& object, const char* key) {
    auto it = object.find(key);
    if (it == object.end()) return {};
    if (it->is_string()) return it->get<std::string>();
    if (it->is_number_integer()) return std::to_string(it->get<long long>());
    if (it->is_number()) return std::to_string(it->get<double>());
    return {};
}

long long Whole(const json& object, const char* key) {
    auto it = object.find(key);
    if (it == object.end()) return 0;
    if (it->is_number_integer()) return it->get<long long>();
    if (it->is_string()) return std::atoll(it->get<std::string>().c_str());
    return 0;
}

double Real(const json& object, const char* key) {
    std::string text = Text(object, key);
    if (text.empty()) return 0;
    char* end = nullptr;
    double value = std::strtod(text.c_str(), &end);
    return (end == text.c_str() || !std::isfinite(value) || value < 0) ? 0 : value;
}

bool IsCoverPicture(const json& stream) {
    auto d = stream.find("disposition");
    return d != stream.end() && d->is_object() && Whole(*d, "attached_pic") != 0;
}

int Rotation(const json& stream) {
    // Newer reports give a display matrix in side data, older ones a "rotate" tag.
    if (auto side = stream.find("side_data_list"); side != stream.end() && side->is_array())
        for (const json& entry : *side)
            if (entry.is_object() && entry.contains("rotation")) return static_cast<int>(Whole(entry, "rotation"));
    if (auto tags = stream.find("tags"); tags != stream.end() && tags->is_object())
        return static_cast<int>(Whole(*tags, "rotate"));
    return 0;
}

std::wstring Wide(const std::string& text) { return WidePath(text); }

}  // namespace

double FractionValue(const std::string& fraction) {
    const std::size_t slash = fraction.find('/');
    char* end = nullptr;
    double num = std::strtod(fraction.c_str(), &end);
    double den = 1;
    if (slash != std::string::npos) den = std::strtod(fraction.c_str() + slash + 1, nullptr);
    if (!std::isfinite(num) || !std::isfinite(den) || num <= 0 || den <= 0) return 0;
    return num / den;
}

std::optional<MediaInfo> ParseMediaInfoJson(const std::string& text) {
    json report = json::parse(text, nullptr, false);
    if (report.is_discarded() || !report.is_object()) return std::nullopt;
    MediaInfo info;
    if (auto format = report.find("format"); format != report.end() && format->is_object()) {
        info.container = Text(*format, "format_name");
        info.duration = Real(*format, "duration");
        info.bitRate = Whole(*format, "bit_rate");
    }
    auto streams = report.find("streams");
    if (streams == report.end() || !streams->is_array()) return std::nullopt;
    for (const json& s : *streams) {
        if (!s.is_object()) continue;
        const std::string type = Text(s, "codec_type");
        if (type == "video" && !info.video && !IsCoverPicture(s)) {
            VideoInfo v;
            v.codec = Text(s, "codec_name");
            v.profile = Text(s, "profile");
            v.width = static_cast<int>(Whole(s, "width"));
            v.height = static_cast<int>(Whole(s, "height"));
            v.pixelFormat = Text(s, "pix_fmt");
            v.frameRate = Text(s, "r_frame_rate");
            if (FractionValue(v.frameRate) <= 0 || FractionValue(v.frameRate) > 1000) v.frameRate = Text(s, "avg_frame_rate");
            v.timeBase = Text(s, "time_base");
            v.aspect = Text(s, "sample_aspect_ratio");
            v.setup = Text(s, "extradata_hash");
            v.rotation = Rotation(s);
            v.index = static_cast<int>(Whole(s, "index"));
            if (v.width > 0 && v.height > 0) {
                info.video = v;
                if (info.audio) info.pictureFirst = false;
            }
        } else if (type == "audio" && !info.audio) {
            AudioInfo a;
            a.codec = Text(s, "codec_name");
            a.sampleRate = static_cast<int>(Whole(s, "sample_rate"));
            a.channels = static_cast<int>(Whole(s, "channels"));
            a.bitRate = Whole(s, "bit_rate");
            a.index = static_cast<int>(Whole(s, "index"));
            info.audio = a;
        }
    }
    if (!info.video && !info.audio) return std::nullopt;
    return info;
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

}  // namespace quilmer
