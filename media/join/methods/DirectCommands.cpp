#include "media/join/methods/DirectCommands.h"

#include "foundation/FileUtil.h"
#include "media/OnePassCost.h"
#include "media/RealMediaFit.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace quilmer {

namespace {

std::wstring W(const std::string& text) { return WidePath(text); }

// "file:" keeps a name that begins with '-' or holds ':' from reading as an option or protocol.
std::wstring FileUrl(const std::wstring& path) { return L"file:" + path; }

std::vector<std::wstring> Head(const std::wstring& ffmpeg) {
    return {ffmpeg, L"-nostdin", L"-hide_banner", L"-nostats", L"-loglevel", L"error", L"-progress", L"pipe:1", L"-y"};
}

std::string Seconds(double seconds) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.3f", seconds);
    return buffer;
}

int Nearest(int requested, const std::vector<int>& supported) {
    for (int rate : supported)
        if (rate >= requested) return rate;
    return supported.back();
}

int Even(int value) { return std::max(2, value / 2 * 2); }

// Where a clip begins: its earliest picture or sound.
double ClipStart(const MediaInfo& c) {
    if (c.video && c.audio) return std::min(c.video->start, c.audio->start);
    if (c.video) return c.video->start;
    return c.audio ? c.audio->start : 0;
}

}  // namespace

std::wstring RealFfmpegPath() {
    const char* configured = std::getenv("QUILMER_REAL_FFMPEG");
    if (configured != nullptr && configured[0] == '/') return WidePath(configured);
    return L"/usr/bin/ffmpeg";
}

std::string MuxerFor(const TargetFormat& target) {
    if (target == L"wmv") return "asf";
    if (target == L"rmvb") return "rm";
    return NativePath(target);
}

SingleTarget SingleTargetFor(const TargetFormat& target, const MediaInfo& first) {
    SingleTarget t;
    if (first.video) {
        const VideoInfo& v = *first.video;
        double width = v.width, height = v.height;
        int num = 0, den = 0;
        if (std::sscanf(v.aspect.c_str(), "%d:%d", &num, &den) == 2 && num > 0 && den > 0) width = width * num / den;
        if (std::abs(v.rotation) % 180 == 90) std::swap(width, height);
        t.width = Even(static_cast<int>(std::lround(width)));
        t.height = Even(static_cast<int>(std::lround(height)));
        double fps = FractionValue(v.frameRate);
        if (fps > 0 && fps <= 120) t.frameRate = std::trunc(fps) >= 20 ? v.frameRate : "20";
    }
    if (target == L"rmvb") {
        const RealMediaFrame frame = FitRealMediaFrame(t.width, t.height);
        t.scaledFrom = frame.scaledDown ? std::to_string(t.width) + "x" + std::to_string(t.height) : "";
        t.width = frame.width;
        t.height = frame.height;
    }
    if (first.bitRate > 0) t.params.videoKbps = static_cast<int>(first.bitRate / 1000);
    if (first.audio && first.audio->bitRate > 0) t.params.audioKbps = static_cast<int>(first.audio->bitRate / 1000);
    if (first.audio && first.audio->sampleRate > 0) t.params.sampleRateHz = first.audio->sampleRate;
    const int rate = t.params.sampleRateHz;
    if (target == L"avi") {
        t.sampleRate = Nearest(rate, {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000});
    } else if (target == L"flv") {
        t.sampleRate = Nearest(MapSampleRate(rate), {11025, 22050, 44100});
    } else if (target == L"rmvb") {
        t.sampleRate = Nearest(MapSampleRate(rate), {32000, 44100, 48000});
    } else if (target == L"wmv") {
        t.sampleRate = Nearest(MapSampleRate(rate), {8000, 11025, 16000, 22050, 32000, 44100, 48000});
    } else {
        t.sampleRate = 44100;  // the classic join's sound is 44.1 kHz all the way to the MP4
    }
    return t;
}

double SegmentSeconds(const MediaInfo& clip, const std::string& frameRate) {
    const double fps = FractionValue(frameRate);
    if (fps <= 0 || clip.duration <= 0) return std::max(clip.duration, 0.0);
    return std::ceil(clip.duration * fps - 1e-3) / fps;
}

std::string SingleFilterGraph(const std::vector<MediaInfo>& clips, const SingleTarget& t) {
    const std::string size = std::to_string(t.width) + "x" + std::to_string(t.height);
    const std::string w = std::to_string(t.width), h = std::to_string(t.height);
    const std::string sound = "aformat=sample_rates=" + std::to_string(t.sampleRate) + ":channel_layouts=" + t.channelLayout;
    std::string graph, inputs;
    for (std::size_t i = 0; i < clips.size(); ++i) {
        const MediaInfo& c = clips[i];
        const std::string n = std::to_string(i);
        const std::string length = Seconds(c.duration);
        // Each clip's streams keep their places against each other: a picture that starts after
        // the sound is preceded by black, a sound that starts after the picture by silence.
        const double begin = ClipStart(c);
        if (c.video) {
            graph += "[" + n + ":" + std::to_string(c.video->index) + "]";
            // Pixels that are not square are made square first, so that the fit keeps the shape.
            // The filters follow a picture that changes size midway (they are not rebuilt, which
            // would start the join over).
            graph += "scale=trunc(iw*sar/2)*2:trunc(ih/2)*2:eval=frame,setsar=1,";
            graph += "scale=" + w + ":" + h + ":force_original_aspect_ratio=decrease:force_divisible_by=2:eval=frame,pad=" +
                     w + ":" + h + ":(ow-iw)/2:(oh-ih)/2:black:eval=frame,setsar=1,setpts=PTS-STARTPTS,";
            // Black before a late picture is counted in frames of the output's rate (of the
            // clip's own, a slow clip's lead would be rounded to a whole one of its frames), and
            // the last picture is held to the clip's end when the sound outlasts it: the fps
            // filter after the concat holds a picture only up to the next clip's first.
            graph += "fps=" + t.frameRate + ",";
            const double lead = c.video->start - begin;
            std::string pad = lead > 0.001 ? "start_duration=" + Seconds(lead) : "";
            if (c.duration > 0) pad += (pad.empty() ? "" : ":") + std::string("stop_mode=clone:stop=-1");
            if (!pad.empty()) graph += "tpad=" + pad + ",";
            if (c.duration > 0) graph += "trim=end=" + length + ",";
            graph += "format=" + t.pixelFormat + "[v" + n + "];";
        } else {
            graph += "color=c=black:s=" + size + ":r=" + t.frameRate + ":d=" + length +
                     ",setsar=1,format=" + t.pixelFormat + "[v" + n + "];";
        }
        if (c.audio) {
            const double lead = std::max(0.0, c.audio->start - begin);
            graph += "[" + n + ":" + std::to_string(c.audio->index) + "]asetpts=PTS-STARTPTS+" + Seconds(lead) +
                     "/TB,aresample=" + std::to_string(t.sampleRate) + ":async=1000:first_pts=0," + sound + "[a" + n +
                     "];";
        } else {
            graph += "anullsrc=r=" + std::to_string(t.sampleRate) + ":cl=" + t.channelLayout + ",atrim=duration=" + length + "," +
                     sound + "[a" + n + "];";
        }
        inputs += "[v" + n + "][a" + n + "]";
    }
    // The concat filter pads each clip's sound with silence to the end of its longer stream, and
    // the fps filter holds a picture across a gap up to the next clip's.
    graph += inputs + "concat=n=" + std::to_string(clips.size()) + ":v=1:a=1[cv][a];[cv]fps=" + t.frameRate + "[v]";
    return graph;
}

std::vector<std::size_t> SingleRuns(const std::vector<MediaInfo>& clips) {
    std::vector<std::size_t> runs;
    long long pixels = 0;
    for (const MediaInfo& clip : clips) {
        const long long area = clip.video ? static_cast<long long>(clip.video->width) * clip.video->height : 0;
        if (runs.empty() || runs.back() >= kMaxClipsPerRun || pixels + area > kMaxPixelsPerRun) {
            runs.push_back(0);
            pixels = 0;
        }
        ++runs.back();
        pixels += area;
    }
    return runs;
}

std::vector<std::wstring> SingleArgs(const std::wstring& ffmpeg, const std::vector<std::wstring>& clips,
                                     const std::wstring& graphScript, const std::wstring& output,
                                     const TargetFormat& target, const SingleTarget& t) {
    std::vector<std::wstring> a = Head(ffmpeg);
    // A clip whose picture changes size midway must not have the graph rebuilt (see the graph).
    for (const std::wstring& clip : clips) a.insert(a.end(), {L"-reinit_filter", L"0", L"-i", FileUrl(clip)});
    a.insert(a.end(), {L"-filter_complex_script", FileUrl(graphScript), L"-map", L"[v]", L"-map", L"[a]",
                       L"-map_chapters", L"-1"});  // chapters are placed by the copy, or not wanted
    const std::wstring audioKbps = std::to_wstring(t.params.audioKbps) + L"k";
    const std::wstring videoKbps = std::to_wstring(t.params.videoKbps) + L"k";
    // The codecs and qualities of the classic final encode; the fixed quantizer 2 stands for its
    // "same quality", MP4 is one pass of x264 at the bit rate the two passes aim for.
    if (target == L"avi") {
        a.insert(a.end(), {L"-c:v", L"msmpeg4", L"-q:v", L"2", L"-c:a", L"libmp3lame", L"-b:a", audioKbps});
    } else if (target == L"flv") {
        a.insert(a.end(), {L"-c:v", L"flv", L"-q:v", L"2", L"-c:a", L"libmp3lame"});
    } else if (target == L"rmvb") {
        a.insert(a.end(), {L"-c:v", L"rv10", L"-q:v", L"2", L"-maxrate", W(kRealMediaMaxRate), L"-bufsize",
                           W(kRealMediaFrameBuffer), L"-c:a", L"ac3"});
    } else if (target == L"wmv") {
        a.insert(a.end(), {L"-c:v", L"wmv2", L"-q:v", L"2", L"-c:a", L"wmav2"});
    } else {
        a.insert(a.end(), {L"-c:v", L"libx264", L"-preset", L"slow", L"-b:v", videoKbps, L"-bt", videoKbps,
                           L"-pix_fmt", L"yuv420p", L"-c:a", L"aac", L"-b:a", audioKbps});
    }
    a.insert(a.end(), {L"-ar", std::to_wstring(t.sampleRate), L"-ac", L"2", L"-f", W(MuxerFor(target)), FileUrl(output)});
    return a;
}

std::optional<std::int64_t> ProgressReader::Feed(std::string_view chunk) {
    partial_.append(chunk);
    std::optional<std::int64_t> latest;
    std::size_t start = 0;
    for (std::size_t end; (end = partial_.find('\n', start)) != std::string::npos; start = end + 1) {
        std::string_view line(partial_.data() + start, end - start);
        // out_time_us is the position; out_time_ms holds the same microseconds in older versions.
        for (std::string_view key : {std::string_view("out_time_us="), std::string_view("out_time_ms=")}) {
            if (line.substr(0, key.size()) != key) continue;
            char* stop = nullptr;
            std::string value(line.substr(key.size()));
            long long us = std::strtoll(value.c_str(), &stop, 10);
            if (stop != value.c_str() && us >= 0) latest = std::max<std::int64_t>(latest.value_or(0), us);
            break;
        }
    }
    partial_.erase(0, start);
    if (partial_.size() > 4096) partial_.clear();  // no line is that long; never grow without end
    return latest;
}

std::vector<double> SingleClipCosts(const std::vector<MediaInfo>& clips, const TargetFormat& target,
                                    const SingleTarget& t) {
    std::vector<PictureWork> pictures;
    for (const MediaInfo& clip : clips) {
        PictureWork p;
        if (clip.video) {
            p = {clip.video->codec, clip.video->width, clip.video->height, FractionValue(clip.video->frameRate)};
            if (std::abs(clip.video->rotation) % 180 == 90) std::swap(p.width, p.height);
        }
        pictures.push_back(p);
    }
    return OnePassClipCosts(pictures, {"", t.width, t.height, FractionValue(t.frameRate)}, target);
}

}  // namespace quilmer
