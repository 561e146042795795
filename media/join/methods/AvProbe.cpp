#include "media/join/methods/AvProbe.h"
#include "media/join/methods/ChapterIo.h"

#include "foundation/FileUtil.h"
#include "foundation/TextTranslator.h"
#include "media/join/methods/AvSupport.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/crc.h>
#include <libavutil/display.h>
#include <libavutil/pixdesc.h>
}

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <cstdio>

namespace quilmer {

namespace {

std::string Fraction(AVRational value, char separator) {
    return std::to_string(value.num) + separator + std::to_string(value.den);
}

std::string SetupHash(const AVCodecParameters& par) {
    if (!par.extradata || par.extradata_size <= 0) return {};
    const std::uint32_t crc = av_crc(av_crc_get_table(AV_CRC_32_IEEE_LE), 0, par.extradata,
                                     static_cast<std::size_t>(par.extradata_size));
    char text[24];
    std::snprintf(text, sizeof text, "crc32:%08x", crc);
    return text;
}

int Rotation(const AVStream& stream) {
    std::size_t size = 0;
    const std::uint8_t* matrix = av_stream_get_side_data(&stream, AV_PKT_DATA_DISPLAYMATRIX, &size);
    if (!matrix || size < 9 * sizeof(std::int32_t)) return 0;
    const double degrees = av_display_rotation_get(reinterpret_cast<const std::int32_t*>(matrix));
    return std::isfinite(degrees) ? static_cast<int>(std::lround(degrees)) : 0;
}

struct PacketDeleter {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};

// What the packets of the clip's picture and sound streams hold, microseconds.
struct Held {
    std::int64_t start = AV_NOPTS_VALUE;  // the first packet shown
    std::int64_t end = AV_NOPTS_VALUE;    // the end of the last whole packet
    bool firstPictureKey = true;
    bool pictureSeen = false;
    bool soundSeen = false;
    bool readFailed = false;  // a read was broken off by the stop or the time limit

    void Take(const AVFormatContext& file, const AVPacket& packet, int video, int audio, std::int64_t size) {
        if (packet.stream_index != video && packet.stream_index != audio) return;
        if (PacketHidden(file, packet, size)) return;
        const AVStream& stream = *file.streams[packet.stream_index];
        const std::int64_t at = packet.pts != AV_NOPTS_VALUE ? packet.pts : packet.dts;
        if (at == AV_NOPTS_VALUE) return;
        if (packet.stream_index == video && !pictureSeen) {
            pictureSeen = true;
            firstPictureKey = (packet.flags & AV_PKT_FLAG_KEY) != 0;
        }
        if (packet.stream_index == audio) soundSeen = true;
        const std::int64_t from = av_rescale_q(at, stream.time_base, AV_TIME_BASE_Q);
        start = start == AV_NOPTS_VALUE ? from : std::min(start, from);
        end = std::max(end == AV_NOPTS_VALUE ? from : end, PacketEndMicros(packet, stream));
    }
};

// Reads packets until the end of the file, a read that fails (the rest of a cut file) or, when
// `enough` says so, earlier.
void ReadPackets(AVFormatContext& file, AVPacket& packet, Held& held, int video, int audio, std::int64_t size,
                 const AvInterrupt& interrupt, const std::function<bool()>& enough) {
    for (;;) {
        const int code = av_read_frame(&file, &packet);
        if (code < 0) {
            if (code == AVERROR_EXIT || interrupt.TimedOut() || (interrupt.cancel && interrupt.cancel->IsRequested()))
                held.readFailed = true;
            return;
        }
        held.Take(file, packet, video, audio, size);
        av_packet_unref(&packet);
        if (enough && enough()) return;
    }
}

// A long clip is read from its start only until picture and sound have shown, then from shortly
// before the end its header gives: reading a whole film would cost seconds. When the tail does
// not reach the header's end (a cut download; a seek the format cannot do), everything is read.
constexpr std::int64_t kWholeReadMicros = 60 * AV_TIME_BASE;
constexpr std::int64_t kTailMicros = 10 * AV_TIME_BASE;

void MeasureHeld(AVFormatContext& file, MediaInfo& info, const AvInterrupt& interrupt) {
    std::unique_ptr<AVPacket, PacketDeleter> packet(av_packet_alloc());
    if (!packet) return;
    const int video = info.video ? info.video->index : -1;
    const int audio = info.audio ? info.audio->index : -1;
    const std::int64_t size = file.pb ? avio_size(file.pb) : -1;
    const std::int64_t claimed = file.duration != AV_NOPTS_VALUE && file.duration > 0 ? file.duration : 0;
    Held held;
    bool measured = false;
    if (claimed > kWholeReadMicros) {
        ReadPackets(file, *packet, held, video, audio, size, interrupt, [&] {
            return (held.pictureSeen || video < 0) && (held.soundSeen || audio < 0);
        });
        const std::int64_t first = file.start_time != AV_NOPTS_VALUE ? file.start_time : 0;
        if (!held.readFailed &&
            avformat_seek_file(&file, -1, INT64_MIN, first + claimed - kTailMicros, first + claimed - kTailMicros,
                               0) >= 0) {
            Held tail = held;
            ReadPackets(file, *packet, tail, video, audio, size, interrupt, {});
            if (!tail.readFailed && tail.end != AV_NOPTS_VALUE && tail.end >= first + claimed - AV_TIME_BASE) {
                held = tail;
                measured = true;
            }
        }
        if (!measured && !held.readFailed) {
            avformat_seek_file(&file, -1, INT64_MIN, INT64_MIN, INT64_MIN, 0);
            held = Held{};
        }
    }
    if (!measured && !held.readFailed) ReadPackets(file, *packet, held, video, audio, size, interrupt, {});
    if (held.readFailed) {
        info.duration = info.headerDuration;  // stopped: the caller fails anyway
        return;
    }
    info.holdsPackets = held.end != AV_NOPTS_VALUE;
    info.duration = info.holdsPackets ? static_cast<double>(held.end - held.start) / AV_TIME_BASE : 0;
    info.startsOnKeyFrame = held.firstPictureKey;
}

double StartSeconds(const AVStream& stream) {
    return stream.start_time == AV_NOPTS_VALUE ? 0 : static_cast<double>(stream.start_time) * av_q2d(stream.time_base);
}

}  // namespace

std::optional<MediaInfo> ProbeMediaFile(const std::wstring& path, const CancelFlag& cancel, std::wstring& why,
                                        std::chrono::milliseconds timeLimit) {
    AvInterrupt interrupt{&cancel, std::chrono::steady_clock::now() + timeLimit};
    AvInput context = OpenAvInput(path, interrupt, why);
    if (!context) return std::nullopt;
    if (cancel.IsRequested() || interrupt.TimedOut()) {
        why = Tr(L"stopped");
        return std::nullopt;
    }

    MediaInfo info;
    info.container = context->iformat ? context->iformat->name : "";
    if (context->duration != AV_NOPTS_VALUE && context->duration > 0)
        info.headerDuration = static_cast<double>(context->duration) / AV_TIME_BASE;
    info.bitRate = context->bit_rate > 0 ? context->bit_rate : 0;
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        AVStream& stream = *context->streams[i];
        const AVCodecParameters& par = *stream.codecpar;
        if (par.codec_type == AVMEDIA_TYPE_VIDEO && !info.video && !(stream.disposition & AV_DISPOSITION_ATTACHED_PIC)) {
            if (par.width <= 0 || par.height <= 0) continue;
            VideoInfo v;
            v.codec = avcodec_get_name(par.codec_id);
            if (const char* profile = avcodec_profile_name(par.codec_id, par.profile)) v.profile = profile;
            v.width = par.width;
            v.height = par.height;
            if (const char* pixels = av_get_pix_fmt_name(static_cast<AVPixelFormat>(par.format))) v.pixelFormat = pixels;
            AVRational rate = stream.r_frame_rate;
            if (av_q2d(rate) <= 0 || av_q2d(rate) > 1000) rate = stream.avg_frame_rate;
            if (rate.num > 0 && rate.den > 0) v.frameRate = Fraction(rate, '/');
            v.timeBase = Fraction(stream.time_base, '/');
            const AVRational sar = av_guess_sample_aspect_ratio(context.get(), &stream, nullptr);
            if (sar.num > 0 && sar.den > 0) v.aspect = Fraction(sar, ':');
            v.setup = SetupHash(par);
            v.rotation = Rotation(stream);
            v.index = static_cast<int>(i);
            v.start = StartSeconds(stream);
            info.video = v;
        } else if (par.codec_type == AVMEDIA_TYPE_AUDIO && !info.audio) {
            AudioInfo a;
            a.codec = avcodec_get_name(par.codec_id);
            a.sampleRate = par.sample_rate;
            a.channels = par.ch_layout.nb_channels;
            a.bitRate = par.bit_rate > 0 ? par.bit_rate : 0;
            a.index = static_cast<int>(i);
            a.start = StartSeconds(stream);
            info.audio = a;
        }
    }
    if (!info.video && !info.audio) {
        why = Tr(L"it holds neither picture nor sound");
        return std::nullopt;
    }
    info.chapters = ReadChapters(*context);
    MeasureHeld(*context, info, interrupt);
    if (cancel.IsRequested() || interrupt.TimedOut()) {
        why = Tr(L"stopped");
        return std::nullopt;
    }
    return info;
}

}  // namespace quilmer
