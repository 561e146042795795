#include "encoder/AdapterCommand.h"

#include <cstdlib>
#include <map>
#include <sstream>

#include "encoder/OutputFilter.h"
#include "media/RealMediaFit.h"

namespace quilmer::adapter {

namespace {

// Every intermediate carries the same audio, so that byte-joined intermediates decode as one
// stream (differing audio parameters make the joined file's timing drift).
constexpr const char* kIntermediateRate = "44100";
constexpr const char* kIntermediateChannels = "2";
constexpr const char* kIntermediateAudioBitrate = "192k";
// Quantizer standing for "keep the quality": the old -sameq reused the source's quantizer, and
// the intermediates are made at 2.
constexpr const char* kSameQuality = "2";

const std::vector<int> kMp3Rates = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};
const std::vector<int> kFlvRates = {11025, 22050, 44100};
const std::vector<int> kAc3Rates = {32000, 44100, 48000};
const std::vector<int> kWmaRates = {8000, 11025, 16000, 22050, 32000, 44100, 48000};

std::string Rate(const std::string& requested, const std::vector<int>& supported) {
    return std::to_string(NearestSampleRate(std::atoi(requested.c_str()), supported));
}

std::string FormatSeconds(double seconds) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.6f", seconds);
    return buffer;
}

// Pictures of every clip get square pixels and even sizes (MPEG-2 wants them), so that the final
// encode can fit each one into the first clip's frame by its shape alone.
constexpr const char* kSquarePixels = "scale=trunc(iw*sar/2)*2:trunc(ih/2)*2,setsar=1";

std::string ConcatQuoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'') {
            out += "'\\''";
        } else {
            out += c;
        }
    }
    return out + "'";
}


void AddPlainConversion(std::vector<std::string>& a, const ConvertVariant& v) {
    auto add = [&a](std::initializer_list<std::string> items) { a.insert(a.end(), items); };
    std::string graph;
    const std::string length = v.durationSeconds ? FormatSeconds(*v.durationSeconds) : std::string();
    if (v.blackVideo) graph += "color=c=black:s=320x240:r=25" + (length.empty() ? "" : ":d=" + length) + "[v]";
    if (v.silentAudio) {
        if (!graph.empty()) graph += ";";
        graph += std::string("anullsrc=r=") + kIntermediateRate + ":cl=stereo" +
                 (length.empty() ? "" : ",atrim=duration=" + length) + "[a]";
    }
    if (!graph.empty()) add({"-filter_complex", graph});
    if (v.blackVideo) {
        add({"-map", "[v]"});
    } else {
        add({"-map", "0:V:0", "-vf", std::string("setpts=PTS-STARTPTS,") + kSquarePixels});
    }
    if (v.silentAudio) {
        add({"-map", "[a]"});
    } else if (v.blackVideo) {
        add({"-map", "0:a:0"});
    } else {
        add({"-map", "0:a:0", "-af", "asetpts=PTS-STARTPTS,apad"});
    }
    // Without knowing where the streams end, everything ends with the clip's own picture (or, for
    // a made-up picture, its sound); the muxer-level flag cuts the padded stream exactly there.
    add({"-shortest", "-fflags", "+shortest"});
}

// The clip from its start to the end of its longest stream: black until a late first picture,
// the last picture held after an early last one, silence where the sound is missing at the end
// (a late start of the sound is filled by the final encode, which follows the sound's clock).
// A picture that changes size midway (a phone turned during a recording) is fitted into the
// first picture's frame: the filters are told to follow each frame instead of being rebuilt,
// since a rebuilt chain would start its clock and its padding again. When the intermediate gets
// another frame rate (`rate`), the frames are made at that rate first, so that the last picture
// is held for the whole of its time (the encoder's own rate change gives the last frame of a
// slower clip a single frame of the new rate, and the picture ends short of the sound) and the
// black before a late picture is rounded to a frame of that rate, not of the clip's.
void AddLayoutConversion(std::vector<std::string>& a, const ClipLayout& layout, bool silentAudio,
                         const std::string& rate) {
    auto add = [&a](std::initializer_list<std::string> items) { a.insert(a.end(), items); };
    const double start = layout.Start();
    const std::string length = FormatSeconds(layout.Length());
    const std::string lead = FormatSeconds(std::max(0.0, layout.videoStart - start));
    std::string picture = "scale=trunc(iw*sar/2)*2:trunc(ih/2)*2:eval=frame,setsar=1";
    if (layout.width > 0 && layout.height > 0) {
        const std::string w = std::to_string(layout.width), h = std::to_string(layout.height);
        picture += ",scale=" + w + ":" + h + ":force_original_aspect_ratio=decrease:force_divisible_by=2:eval=frame,pad=" +
                   w + ":" + h + ":(ow-iw)/2:(oh-ih)/2:eval=frame,setsar=1";
    }
    picture += ",setpts=PTS-STARTPTS";
    if (!rate.empty()) picture += ",fps=" + rate;
    picture += ",tpad=start_duration=" + lead + ":stop_mode=clone:stop=-1,trim=end=" + length;
    if (silentAudio) {
        add({"-filter_complex", std::string("anullsrc=r=") + kIntermediateRate + ":cl=stereo,atrim=duration=" +
                                    length + "[a]"});
    }
    add({"-map", "0:V:0", "-vf", picture});
    if (silentAudio) {
        add({"-map", "[a]"});
    } else {
        add({"-map", "0:a:0", "-af", "asetpts=PTS-" + FormatSeconds(start) + "/TB,apad,atrim=start=0:end=" + length});
    }
}

}  // namespace

std::string ConcatListFor(const std::string& path, const std::vector<ProgramStreamPart>& parts) {
    // The part reader takes options up to ",,:"; a name holding it cannot be given.
    if (path.empty() || path[0] != '/' || path.find(",,") != std::string::npos || parts.empty()) return {};
    if (path.find('\n') != std::string::npos || path.find('\r') != std::string::npos) return {};
    std::string list = "ffconcat version 1.0\n";
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const ProgramStreamPart& p = parts[i];
        list += "file " +
                ConcatQuoted("subfile,,start," + std::to_string(p.begin) + ",end," + std::to_string(p.end) +
                             ",,:" + path) +
                "\n";
        // The reader starts each part at its earliest timestamp; the pictures may begin a little
        // later. Each part lasts until the next part's first picture follows its last one (the
        // last part until its last picture ends, so that the reader knows the whole length).
        const double lead = (p.videoStart - p.firstTimestamp) / 90000.0;
        double nextLead = 0;
        if (i + 1 < parts.size())
            nextLead = (parts[i + 1].videoStart - parts[i + 1].firstTimestamp) / 90000.0;
        const double seconds = lead + PictureSeconds(p) - nextLead;
        list += "duration " + FormatSeconds(std::max(seconds, 0.0)) + "\n";
    }
    return list;
}

namespace {
// Sound that begins before the first picture or outlasts the last one by less than this is the
// sound codec's priming or its padded last frame (MP3 and AAC), not sound the user would miss:
// there the clip begins and ends with its picture, so that joined clips do not show black or
// hold a picture for a moment at every boundary.
constexpr double kCodecTail = 0.1;
}  // namespace

double ClipLayout::Start() const {
    if (videoStart < 0) return std::max(audioStart, 0.0);
    if (audioStart < 0) return videoStart;
    if (audioStart < videoStart && videoStart - audioStart < kCodecTail) return videoStart;
    return std::min(videoStart, audioStart);
}

double ClipLayout::End() const {
    if (videoStart >= 0 && audioEnd > videoEnd && audioEnd - videoEnd < kCodecTail) return videoEnd;
    return std::max(videoEnd, audioEnd);
}

std::optional<ClipLayout> LayoutFromPackets(const std::string& framecrc, const std::string& report) {
    struct Stream {
        long long num = 0, den = 0;
        bool video = false, seen = false;
        double start = 0, end = 0, lastPts = 0, step = 0;
        int width = 0, height = 0;
        long long sarNum = 1, sarDen = 1;
    };
    Stream streams[2];
    std::istringstream lines(framecrc);
    for (std::string line; std::getline(lines, line);) {
        int index = -1;
        if (line.rfind("#", 0) == 0) {
            const std::size_t colon = line.find(':');
            const std::size_t space = line.find(' ');
            if (colon == std::string::npos || space == std::string::npos || space > colon) continue;
            index = std::atoi(line.c_str() + space + 1);
            if (index < 0 || index > 1) continue;
            Stream& s = streams[index];
            const std::string key = line.substr(1, space - 1), value = line.substr(colon + 1);
            if (key == "tb") {
                if (std::sscanf(value.c_str(), " %lld/%lld", &s.num, &s.den) != 2) s.num = s.den = 0;
            } else if (key == "media_type") {
                s.video = value.find("video") != std::string::npos;
            } else if (key == "dimensions") {
                std::sscanf(value.c_str(), " %dx%d", &s.width, &s.height);
            } else if (key == "sar") {
                if (std::sscanf(value.c_str(), " %lld/%lld", &s.sarNum, &s.sarDen) != 2 || s.sarNum <= 0 ||
                    s.sarDen <= 0)
                    s.sarNum = s.sarDen = 1;
            }
            continue;
        }
        long long dts = 0, pts = 0, duration = 0;
        if (std::sscanf(line.c_str(), "%d, %lld, %lld, %lld", &index, &dts, &pts, &duration) != 4) continue;
        if (index < 0 || index > 1) continue;
        Stream& s = streams[index];
        if (s.num <= 0 || s.den <= 0) continue;
        const double at = static_cast<double>(pts) * s.num / s.den;
        const double length = static_cast<double>(duration) * s.num / s.den;
        if (!s.seen) {
            s.seen = true;
            s.start = s.end = at;
        } else if (at > s.lastPts && (s.step <= 0 || at - s.lastPts < s.step)) {
            // The shortest step between packets stands in for a packet that gives no length.
            s.step = at - s.lastPts;
        }
        s.start = std::min(s.start, at);
        s.end = std::max(s.end, at + length);
        s.lastPts = std::max(s.lastPts, at);
    }
    ClipLayout layout;
    bool any = false;
    for (Stream& s : streams) {
        if (!s.seen) continue;
        any = true;
        // A packet without a length still lasts until the next one would come.
        if (s.end <= s.lastPts) s.end = s.lastPts + (s.step > 0 ? s.step : 0.04);
        if (s.video && layout.videoStart < 0) {
            layout.videoStart = s.start;
            layout.videoEnd = s.end;
            int width = static_cast<int>(static_cast<double>(s.width) * s.sarNum / s.sarDen) / 2 * 2;
            int height = s.height / 2 * 2;
            for (const char* turn : {"rotation of -90", "rotation of 90", "rotation of -270", "rotation of 270"})
                if (report.find(turn) != std::string::npos) std::swap(width, height);
            layout.width = width;
            layout.height = height;
        } else if (!s.video && layout.audioStart < 0) {
            layout.audioStart = s.start;
            layout.audioEnd = s.end;
        }
    }
    if (!any) return std::nullopt;
    return layout;
}

std::vector<std::string> LayoutScanArgs(const std::string& input, const std::string& listing) {
    // Packets are copied, not decoded: reading the clip once costs little next to converting it.
    return {"-hide_banner", "-nostdin", "-y", "-i",        input,   "-map", "0:V:0?", "-map",
            "0:a:0?",       "-c",       "copy", "-f", "framecrc", "file:" + listing};
}

std::optional<ConvertVariant> VariantFromProbeReport(const std::string& report) {
    // One input's report (a probe of several files is split into one report per file first).
    if (report.find("Input #") == std::string::npos) return std::nullopt;
    ConvertVariant v;
    bool video = false, audio = false;
    std::size_t pos = 0;
    while (pos < report.size()) {
        std::size_t end = report.find('\n', pos);
        if (end == std::string::npos) end = report.size();
        const std::string line = report.substr(pos, end - pos);
        pos = end + 1;
        const std::size_t duration = line.find("Duration: ");
        if (duration != std::string::npos && !v.durationSeconds) {
            const std::string rest = line.substr(duration + 10);
            v.durationSeconds = ParseClock(rest.substr(0, rest.find(',')));
        }
        if (line.find("Stream #") == std::string::npos) continue;
        if (line.find(": Video: ") != std::string::npos && line.find("(attached pic)") == std::string::npos)
            video = true;
        if (line.find(": Audio: ") != std::string::npos) audio = true;
    }
    v.blackVideo = !video;
    v.silentAudio = !audio;
    return v;
}

int NearestSampleRate(int requested, const std::vector<int>& supported) {
    for (int rate : supported) {
        if (rate >= requested) return rate;
    }
    return supported.back();
}

bool ParseOldCommand(const std::vector<std::string>& args, OldCommand& c, Kind& kind, std::string& error) {
    c = OldCommand{};
    std::map<std::string, std::string*> valued = {
        {"-r", &c.frameRate},     {"-acodec", &c.audioCodec}, {"-vcodec", &c.videoCodec},
        {"-ab", &c.audioBitrate}, {"-b", &c.videoBitrate},    {"-bt", &c.bitrateTolerance},
        {"-ar", &c.sampleRate},   {"-pass", &c.pass},         {"-fpre", &c.preset},
        {"-threads", &c.threads},
    };
    bool haveInput = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto needValue = [&](std::string& into) {
            if (i + 1 >= args.size()) {
                error = "Missing argument for option '" + a.substr(1) + "'";
                return false;
            }
            into = args[++i];
            return true;
        };
        if (a == "-i") {
            if (haveInput) {
                // A probe may name several files (one encoder start for many clips).
                std::string more;
                if (!needValue(more)) return false;
                c.moreInputs.push_back(more);
                continue;
            }
            if (!needValue(c.input)) return false;
            haveInput = true;
        } else if (a == "-f") {
            if (!needValue(haveInput ? c.outputFormat : c.inputFormat)) return false;
        } else if (a == "-sameq") {
            c.sameQuality = true;
        } else if (a == "-y") {
            c.overwrite = true;
        } else if (a == "-an") {
            c.noAudio = true;
        } else if (valued.count(a) != 0) {
            if (!needValue(*valued[a])) return false;
        } else if (!a.empty() && a[0] == '-' && a.size() > 1) {
            error = "Unrecognized option '" + a.substr(1) + "'";
            return false;
        } else {
            if (!haveInput || !c.output.empty()) {
                error = "Unexpected argument '" + a + "'";
                return false;
            }
            c.output = a;
        }
    }
    if (!haveInput) {
        error = "No input file given (-i)";
        return false;
    }
    if (c.output.empty()) {
        kind = Kind::Probe;
        return true;
    }
    if (!c.moreInputs.empty()) {
        error = "Only one input file is accepted";
        return false;
    }
    if (c.outputFormat == "mpeg") {
        kind = Kind::Convert;
        return true;
    }
    if (c.inputFormat != "mpeg") {
        error = "Only an MPEG program stream (-f mpeg) is accepted as the input of an encode";
        return false;
    }
    if (c.outputFormat == "avi") {
        kind = Kind::EncodeAvi;
    } else if (c.outputFormat == "flv") {
        kind = Kind::EncodeFlv;
    } else if (c.outputFormat == "rm") {
        kind = Kind::EncodeRm;
    } else if (c.outputFormat.empty() && c.videoCodec == "wmv2") {
        kind = Kind::EncodeWmv;
    } else if (c.outputFormat == "mp4" && c.videoCodec == "libx264" && (c.pass == "1" || c.pass == "2")) {
        kind = c.pass == "1" ? Kind::EncodeMp4Pass1 : Kind::EncodeMp4Pass2;
    } else {
        error = "Unsupported output (format '" + c.outputFormat + "', video codec '" + c.videoCodec + "')";
        return false;
    }
    return true;
}

std::vector<std::string> BuildModernArgs(const OldCommand& c, Kind kind, const ConvertVariant& v,
                                         const JoinedInput& joined) {
    std::vector<std::string> a = {"-hide_banner", "-nostdin"};
    if (kind == Kind::Probe) {
        a.insert(a.end(), {"-i", c.input});
        for (const std::string& more : c.moreInputs) a.insert(a.end(), {"-i", more});
        return a;
    }
    if (c.overwrite) a.push_back("-y");
    if (!joined.concatList.empty()) {
        // The intermediates laid end to end by their own clocks (see ProgramStreamScan.h).
        a.insert(a.end(), {"-protocol_whitelist", "file,subfile", "-f", "concat", "-safe", "0", "-i",
                           joined.concatList});
    } else {
        if (!c.inputFormat.empty()) a.insert(a.end(), {"-f", c.inputFormat});
        if (kind == Kind::Convert && v.layout && !v.blackVideo) a.insert(a.end(), {"-reinit_filter:v", "0"});
        a.insert(a.end(), {"-i", c.input});
    }
    auto add = [&a](std::initializer_list<std::string> items) { a.insert(a.end(), items); };
    // The sound follows the timestamps of the picture: where one clip's sound runs a little past
    // its last picture, the overlap is dropped (and a gap filled) at that very boundary instead of
    // shifting all sound after it.
    auto syncAudio = [&] { add({"-af", "aresample=async=1:min_hard_comp=0.02:first_pts=0"}); };
    // Later clips of another size or shape are fitted into the first clip's frame, their shape
    // kept, with black bars.
    auto fitPicture = [&](int width, int height) {
        if (width <= 0 || height <= 0) return;
        const std::string w = std::to_string(width), h = std::to_string(height);
        add({"-vf", "scale=" + w + ":" + h +
                        ":force_original_aspect_ratio=decrease:force_divisible_by=2,pad=" + w + ":" + h +
                        ":(ow-iw)/2:(oh-ih)/2,setsar=1"});
    };
    auto sameq = [&] {
        if (c.sameQuality) add({"-q:v", kSameQuality});
    };

    switch (kind) {
        case Kind::Convert: {
            const std::string rate = !c.frameRate.empty() ? c.frameRate : v.standardFrameRate ? "25" : "";
            if (v.layout && !v.blackVideo) {
                AddLayoutConversion(a, *v.layout, v.silentAudio, rate);
            } else {
                AddPlainConversion(a, v);
            }
            // MPEG-2 rather than MPEG-1: it codes 20 fps (and other rates) exactly.
            add({"-c:v", "mpeg2video"});
            sameq();
            if (!rate.empty()) add({"-r", rate});
            add({"-c:a", "mp2", "-b:a", kIntermediateAudioBitrate, "-ar", kIntermediateRate, "-ac",
                 kIntermediateChannels, "-f", "mpeg"});
            break;
        }
        case Kind::EncodeAvi:
            syncAudio();
            fitPicture(joined.width, joined.height);
            add({"-c:v", "msmpeg4", "-c:a", "libmp3lame"});
            if (!c.audioBitrate.empty()) add({"-b:a", c.audioBitrate});
            if (!c.videoBitrate.empty()) add({"-b:v", c.videoBitrate});
            if (!c.sampleRate.empty()) add({"-ar", Rate(c.sampleRate, kMp3Rates)});
            sameq();
            add({"-f", "avi"});
            break;
        case Kind::EncodeFlv:
            syncAudio();
            fitPicture(joined.width, joined.height);
            add({"-c:v", "flv", "-c:a", "libmp3lame"});
            sameq();
            if (!c.sampleRate.empty()) add({"-ar", Rate(c.sampleRate, kFlvRates)});
            add({"-f", "flv"});
            break;
        case Kind::EncodeRm: {
            // RealVideo 1 codes only whole macroblocks, and the muxer takes no frame over 64 kB.
            syncAudio();
            if (joined.width > 0 && joined.height > 0) {
                const RealMediaFrame frame = FitRealMediaFrame(joined.width, joined.height);
                fitPicture(frame.width, frame.height);
            } else {
                add({"-vf", "scale=trunc((iw+8)/16)*16:trunc((ih+8)/16)*16"});
            }
            add({"-c:v", "rv10", "-c:a", "ac3"});
            sameq();
            add({"-maxrate", kRealMediaMaxRate, "-bufsize", kRealMediaFrameBuffer});
            if (!c.sampleRate.empty()) add({"-ar", Rate(c.sampleRate, kAc3Rates)});
            add({"-f", "rm"});
            break;
        }
        case Kind::EncodeWmv:
            syncAudio();
            fitPicture(joined.width, joined.height);
            sameq();
            if (!c.sampleRate.empty()) add({"-ar", Rate(c.sampleRate, kWmaRates)});
            // The container is named, not guessed from the output's extension, which may be a
            // temporary name of another type.
            add({"-c:v", "wmv2", "-c:a", "wmav2", "-f", "asf"});
            break;
        case Kind::EncodeMp4Pass1:
        case Kind::EncodeMp4Pass2: {
            const bool second = kind == Kind::EncodeMp4Pass2;
            // Both passes encode the audio too: x264's second pass needs exactly the frames of
            // the first, and ffmpeg's frame timing at the end depends on the audio stream.
            syncAudio();
            fitPicture(joined.width, joined.height);
            add({"-c:a", "aac"});
            if (second && !c.audioBitrate.empty()) add({"-b:a", c.audioBitrate});
            add({"-pass", second ? "2" : "1", "-c:v", "libx264"});
            if (!c.preset.empty()) add({"-fpre", c.preset});
            if (!c.videoBitrate.empty()) add({"-b:v", c.videoBitrate});
            if (!c.bitrateTolerance.empty()) add({"-bt", c.bitrateTolerance});
            if (!c.threads.empty()) add({"-threads", c.threads});
            add({"-fps_mode", "cfr", "-pix_fmt", "yuv420p", "-f", "mp4"});
            break;
        }
        case Kind::Probe:
            break;
    }
    a.push_back(c.output);
    return a;
}

}  // namespace quilmer::adapter
