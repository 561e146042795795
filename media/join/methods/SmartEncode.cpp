#include "media/join/methods/SmartEncode.h"

#include "foundation/FileUtil.h"
#include "foundation/Strings.h"
#include "foundation/TextTranslator.h"
#include "media/RealMediaFit.h"
#include "media/av/AvSupport.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>

namespace quilmer {

namespace {

std::wstring W(const std::string& text) { return WidePath(text); }

std::wstring FileUrl(const std::wstring& path) { return L"file:" + path; }

// The first picture packets a stream's header SEI can be in.
constexpr int kPacketsSearched = 8;

// The options text of x264's SEI ("x264 - core 164 ... - options: cabac=1 ref=3 ..."), "" when
// the packet has none.
std::string X264OptionsIn(const std::uint8_t* data, int size) {
    const std::string text(reinterpret_cast<const char*>(data), static_cast<std::size_t>(std::max(size, 0)));
    const std::size_t core = text.find("x264 - core ");
    if (core == std::string::npos) return {};
    const std::size_t options = text.find("options: ", core);
    if (options == std::string::npos) return {};
    std::size_t end = options + 9;
    while (end < text.size() && text[end] >= 0x20 && text[end] < 0x7F) ++end;
    return text.substr(options + 9, end - options - 9);
}

double Number(const std::map<std::string, std::string>& options, const std::string& key, double otherwise) {
    auto found = options.find(key);
    if (found == options.end()) return otherwise;
    char* end = nullptr;
    double value = std::strtod(found->second.c_str(), &end);
    return end == found->second.c_str() ? otherwise : value;
}

std::string ProfileName(const std::string& probed) {
    if (probed == "High") return "high";
    if (probed == "Main") return "main";
    if (probed == "Baseline" || probed == "Constrained Baseline") return "baseline";
    if (probed == "High 10") return "high10";
    if (probed == "High 4:2:2") return "high422";
    if (probed == "High 4:4:4 Predictive") return "high444";
    return {};
}

// libavcodec's encoder of each codec this program can rebuild a stream of.
const char* VideoEncoder(const std::string& codec) {
    static const std::map<std::string, const char*> encoders = {
        {"h264", "libx264"},       {"mpeg4", "mpeg4"}, {"msmpeg4v3", "msmpeg4"}, {"msmpeg4v2", "msmpeg4v2"},
        {"flv1", "flv"},           {"wmv1", "wmv1"},   {"wmv2", "wmv2"},         {"mjpeg", "mjpeg"},
        {"mpeg2video", "mpeg2video"}, {"rv10", "rv10"}, {"rv20", "rv20"},
    };
    auto found = encoders.find(codec);
    return found == encoders.end() ? nullptr : found->second;
}

const char* AudioEncoder(const std::string& codec) {
    static const std::map<std::string, const char*> encoders = {
        {"aac", "aac"},     {"mp3", "libmp3lame"}, {"ac3", "ac3"},     {"mp2", "mp2"},   {"pcm_s16le", "pcm_s16le"},
        {"wmav1", "wmav1"}, {"wmav2", "wmav2"},    {"opus", "libopus"}, {"alac", "alac"}, {"nellymoser", "nellymoser"},
    };
    auto found = encoders.find(codec);
    return found == encoders.end() ? nullptr : found->second;
}

std::string ChannelLayout(int channels) {
    if (channels == 1) return "mono";
    if (channels == 2) return "stereo";
    if (channels == 6) return "5.1";
    return {};
}

// The muxer and file extension of the reference's container (libavformat's demuxer name).
bool ContainerOf(const std::string& demuxer, std::string& muxer, std::wstring& extension) {
    auto has = [&demuxer](const char* name) { return demuxer.find(name) != std::string::npos; };
    if (has("mp4") || has("mov")) {
        muxer = "mp4", extension = L".mp4";
    } else if (demuxer == "flv") {
        muxer = "flv", extension = L".flv";
    } else if (demuxer == "avi") {
        muxer = "avi", extension = L".avi";
    } else if (demuxer == "asf") {
        muxer = "asf", extension = L".wmv";
    } else if (has("matroska")) {
        muxer = "matroska", extension = L".mkv";
    } else if (demuxer == "rm") {
        muxer = "rm", extension = L".rm";
    } else {
        return false;
    }
    return true;
}

}  // namespace

std::optional<ReferenceDetails> ReadReferenceDetails(const std::wstring& path, const CancelFlag& cancel,
                                                     std::wstring& why) {
    AvInterrupt interrupt{&cancel, std::chrono::steady_clock::now() + std::chrono::seconds(30)};
    AvInput input = OpenAvInput(path, interrupt, why);
    if (!input) return std::nullopt;
    ReferenceDetails details;
    int video = -1;
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        const AVStream& s = *input->streams[i];
        if (s.codecpar->codec_type == AVMEDIA_TYPE_VIDEO && !(s.disposition & AV_DISPOSITION_ATTACHED_PIC)) {
            video = static_cast<int>(i);
            details.level = s.codecpar->level > 0 ? s.codecpar->level : 0;
            details.videoBitRate = s.codecpar->bit_rate > 0 ? s.codecpar->bit_rate : 0;
            break;
        }
    }
    if (video < 0) return details;
    AVPacket* packet = av_packet_alloc();
    if (!packet) return details;
    for (int seen = 0; seen < kPacketsSearched && !cancel.IsRequested() && av_read_frame(input.get(), packet) >= 0;) {
        if (packet->stream_index == video) {
            ++seen;
            details.x264Options = X264OptionsIn(packet->data, packet->size);
        }
        av_packet_unref(packet);
        if (!details.x264Options.empty()) break;
    }
    av_packet_free(&packet);
    if (details.x264Options.empty() && input->streams[video]->codecpar->extradata) {
        // Some muxers keep the SEI with the parameter sets.
        const AVCodecParameters& par = *input->streams[video]->codecpar;
        details.x264Options = X264OptionsIn(par.extradata, par.extradata_size);
    }
    return details;
}

std::optional<std::string> X264ParamsFromOptions(const std::string& text) {
    std::map<std::string, std::string> o;
    std::istringstream words(text);
    for (std::string word; words >> word;) {
        const std::size_t equals = word.find('=');
        if (equals != std::string::npos) o[word.substr(0, equals)] = word.substr(equals + 1);
    }
    if (o.empty() || o.count("cabac") == 0) return std::nullopt;
    if (o.count("cqm") && o["cqm"] != "0") return std::nullopt;  // a custom matrix is not in the text
    if (o.count("interlaced") && o["interlaced"] != "0") return std::nullopt;
    std::string p;
    auto add = [&p](const std::string& key, const std::string& value) {
        if (!p.empty()) p += ':';
        p += key + "=" + value;
    };
    auto copy = [&](const char* from, const char* to) {
        if (o.count(from)) add(to, o[from]);
    };
    copy("cabac", "cabac");
    copy("ref", "ref");
    if (o.count("deblock")) {
        // "1:0:0": on, strength, threshold.
        int on = 1, alpha = 0, beta = 0;
        std::sscanf(o["deblock"].c_str(), "%d:%d:%d", &on, &alpha, &beta);
        if (on) add("deblock", std::to_string(alpha) + "," + std::to_string(beta));
        else add("no-deblock", "1");
    }
    copy("8x8dct", "8x8dct");
    copy("subme", "subme");
    copy("trellis", "trellis");
    copy("psy", "psy");
    // x264 lowers the chroma offset it was given for its psychovisual optimisations and writes the
    // lowered one: give back the one it was given.
    const double subme = Number(o, "subme", 7), trellis = Number(o, "trellis", 1);
    double psyRd = 0, psyTrellis = 0;
    if (o.count("psy_rd")) std::sscanf(o["psy_rd"].c_str(), "%lf:%lf", &psyRd, &psyTrellis);
    if (Number(o, "psy", 1) == 0) psyRd = psyTrellis = 0;
    if (o.count("psy_rd")) {
        char value[64];
        std::snprintf(value, sizeof value, "%.2f,%.2f", psyRd, psyTrellis);
        add("psy-rd", value);
    }
    int chroma = static_cast<int>(Number(o, "chroma_qp_offset", 0));
    if (subme >= 6 && psyRd > 0) chroma += psyRd < 0.25 ? 1 : 2;
    if (trellis > 0 && psyTrellis > 0) chroma += psyTrellis < 0.25 ? 1 : 2;
    add("chroma-qp-offset", std::to_string(chroma));
    copy("bframes", "bframes");
    if (o.count("b_pyramid")) {
        static const char* const names[] = {"none", "strict", "normal"};
        const int pyramid = std::atoi(o["b_pyramid"].c_str());
        if (pyramid >= 0 && pyramid <= 2) add("b-pyramid", names[pyramid]);
    }
    copy("weightb", "weightb");
    copy("weightp", "weightp");
    copy("open_gop", "open-gop");
    copy("keyint", "keyint");
    copy("keyint_min", "min-keyint");
    copy("constrained_intra", "constrained-intra");
    copy("bluray_compat", "bluray-compat");
    copy("intra_refresh", "intra-refresh");
    copy("vbv_maxrate", "vbv-maxrate");
    copy("vbv_bufsize", "vbv-bufsize");
    copy("nal_hrd", "nal-hrd");
    // The rate control sets the starting quantizer the picture parameters carry.
    const std::string rc = o.count("rc") ? o["rc"] : "crf";
    if (rc == "crf" && o.count("crf")) {
        add("crf", o["crf"]);
    } else if (rc == "cqp" && o.count("qp")) {
        add("qp", o["qp"]);
    } else if (o.count("bitrate")) {
        add("bitrate", o["bitrate"]);
    }
    return p;
}

std::optional<SmartEncoder> SmartEncoderFor(const MediaInfo& reference, const ReferenceDetails& details,
                                            std::wstring& why) {
    SmartEncoder e;
    if (!ContainerOf(reference.container, e.muxer, e.extension)) {
        why = Tr(L"the matching clips' container cannot be written again");
        return std::nullopt;
    }
    if (reference.video) {
        const VideoInfo& v = *reference.video;
        const char* encoder = VideoEncoder(v.codec);
        if (!encoder) {
            why = FormatW(TrFormat(L"there is no encoder for the video codec %ls").c_str(), W(v.codec).c_str());
            return std::nullopt;
        }
        const bool square = v.aspect.empty() || v.aspect == "1:1" || v.aspect == "0:1";
        if (!square || v.rotation != 0 || FractionValue(v.frameRate) <= 0) {
            why = Tr(L"the matching clips' picture is turned, has pixels that are not square, or has no frame rate");
            return std::nullopt;
        }
        e.frame.width = v.width;
        e.frame.height = v.height;
        e.frame.frameRate = v.frameRate;
        e.frame.pixelFormat = v.pixelFormat.empty() ? "yuv420p" : v.pixelFormat;
        e.video = {L"-c:v", W(encoder), L"-pix_fmt", W(e.frame.pixelFormat)};
        if (v.codec == "h264") {
            std::optional<std::string> params = X264ParamsFromOptions(details.x264Options);
            if (!params) {
                why = Tr(L"the matching clips' H.264 was not made by x264 with settings that can be given again");
                return std::nullopt;
            }
            if (details.level > 0) *params += ":level=" + std::to_string(details.level);
            const std::string profile = ProfileName(v.profile);
            if (!profile.empty()) e.video.insert(e.video.end(), {L"-profile:v", W(profile)});
            e.video.insert(e.video.end(), {L"-x264-params", W(*params)});
        } else if (v.codec == "rv10" || v.codec == "rv20") {
            e.video.insert(e.video.end(), {L"-q:v", L"2", L"-maxrate", W(kRealMediaMaxRate), L"-bufsize",
                                           W(kRealMediaFrameBuffer)});
        } else if (details.videoBitRate > 0) {
            e.video.insert(e.video.end(), {L"-b:v", std::to_wstring(details.videoBitRate)});
        } else {
            e.video.insert(e.video.end(), {L"-q:v", L"2"});
        }
        // The reference's clock: an MP4 track's time scale is otherwise the encoder's choice.
        int num = 0, den = 0;
        if (e.muxer == "mp4" && std::sscanf(v.timeBase.c_str(), "%d/%d", &num, &den) == 2 && num == 1 && den > 0)
            e.video.insert(e.video.end(), {L"-video_track_timescale", std::to_wstring(den)});
    }
    if (reference.audio) {
        const AudioInfo& a = *reference.audio;
        const char* encoder = AudioEncoder(a.codec);
        e.frame.channelLayout = ChannelLayout(a.channels);
        if (!encoder || e.frame.channelLayout.empty() || a.sampleRate <= 0) {
            why = FormatW(TrFormat(L"there is no encoder for the sound codec %ls").c_str(), W(a.codec).c_str());
            return std::nullopt;
        }
        e.frame.sampleRate = a.sampleRate;
        e.audio = {L"-c:a", W(encoder), L"-ar", std::to_wstring(a.sampleRate), L"-ac", std::to_wstring(a.channels)};
        if (a.bitRate > 0 && a.codec.rfind("pcm_", 0) != 0) e.audio.insert(e.audio.end(), {L"-b:a", std::to_wstring(a.bitRate)});
    }
    return e;
}

std::string SmartFilterGraph(const std::vector<MediaInfo>& clips, const SmartEncoder& encoder, bool hasVideo,
                             bool hasAudio) {
    std::string graph = SingleFilterGraph(clips, encoder.frame);
    if (!hasVideo) graph += ";[v]nullsink";
    if (!hasAudio) graph += ";[a]anullsink";
    return graph;
}

std::vector<std::wstring> SmartArgs(const std::wstring& ffmpeg, const std::vector<std::wstring>& clips,
                                    const std::wstring& graphScript, const std::wstring& output,
                                    const SmartEncoder& encoder, bool hasVideo, bool hasAudio, bool probeOnly,
                                    double seconds) {
    std::vector<std::wstring> a = {ffmpeg,     L"-nostdin", L"-hide_banner", L"-nostats", L"-loglevel",
                                   L"error",   L"-progress", L"pipe:1",      L"-y"};
    for (const std::wstring& clip : clips) a.insert(a.end(), {L"-reinit_filter", L"0", L"-i", FileUrl(clip)});
    a.insert(a.end(), {L"-filter_complex_script", FileUrl(graphScript)});
    if (hasVideo) {
        a.insert(a.end(), {L"-map", L"[v]"});
        a.insert(a.end(), encoder.video.begin(), encoder.video.end());
        if (probeOnly) a.insert(a.end(), {L"-frames:v", L"1"});
    }
    if (hasAudio) {
        a.insert(a.end(), {L"-map", L"[a]"});
        a.insert(a.end(), encoder.audio.begin(), encoder.audio.end());
    }
    if (seconds > 0 && !probeOnly) {
        char text[32];
        std::snprintf(text, sizeof text, "%.6f", seconds);
        a.insert(a.end(), {L"-t", W(text)});
    }
    a.insert(a.end(), {L"-f", W(encoder.muxer), FileUrl(output)});
    return a;
}

}  // namespace quilmer
