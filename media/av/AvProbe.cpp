#include "media/av/AvProbe.h"

#include "foundation/FileUtil.h"
#include "foundation/TextTranslator.h"
#include "media/av/AvSupport.h"
#include "media/av/H264Setup.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/crc.h>
#include <libavutil/display.h>
#include <libavutil/channel_layout.h>
#include <libavutil/pixdesc.h>
#include <libavutil/samplefmt.h>
}

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <cstdio>
#include <vector>

namespace quilmer {

namespace {

// The chapters of an open file, from its start (the file's start time), in order.
std::vector<ChapterMark> ReadChapters(const AVFormatContext& file) {
    std::vector<ChapterMark> marks;
    const std::int64_t start = file.start_time != AV_NOPTS_VALUE ? file.start_time : 0;
    for (unsigned i = 0; i < file.nb_chapters; ++i) {
        const AVChapter& c = *file.chapters[i];
        if (c.start == AV_NOPTS_VALUE || c.time_base.num <= 0 || c.time_base.den <= 0) continue;
        ChapterMark mark;
        mark.startMicros = av_rescale_q(c.start, c.time_base, AV_TIME_BASE_Q) - start;
        if (const AVDictionaryEntry* title = av_dict_get(c.metadata, "title", nullptr, 0)) mark.title = title->value;
        marks.push_back(std::move(mark));
    }
    return marks;
}


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

std::string Level(const AVCodecParameters& par) {
    if (par.level <= 0) return {};
    if (par.codec_id == AV_CODEC_ID_H264) {
        if (par.level == 9) return "1b";
        return std::to_string(par.level / 10) + "." + std::to_string(par.level % 10);
    }
    if (par.codec_id == AV_CODEC_ID_HEVC) {
        const int tenths = par.level / 3;
        return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10);
    }
    return std::to_string(par.level);
}

std::string FieldOrder(AVFieldOrder order) {
    switch (order) {
    case AV_FIELD_PROGRESSIVE: return "progressive";
    case AV_FIELD_TT: return "tt";
    case AV_FIELD_BB: return "bb";
    case AV_FIELD_TB: return "tb";
    case AV_FIELD_BT: return "bt";
    default: return {};
    }
}

std::string Named(const char* name) { return name ? name : ""; }

std::string StreamKind(AVMediaType type) {
    switch (type) {
    case AVMEDIA_TYPE_VIDEO: return "video";
    case AVMEDIA_TYPE_AUDIO: return "audio";
    case AVMEDIA_TYPE_SUBTITLE: return "subtitle";
    case AVMEDIA_TYPE_ATTACHMENT: return "attachment";
    default: return "data";
    }
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
    std::int64_t pictureStart = AV_NOPTS_VALUE;  // the picture's packets alone
    std::int64_t pictureEnd = AV_NOPTS_VALUE;
    bool firstPictureKey = true;
    bool pictureSeen = false;
    bool soundSeen = false;
    bool readFailed = false;  // a read was broken off by the stop or the time limit
    // A sound packet that gives no length (WMA Pro packs seconds into one) lasts as long as the
    // shortest step between two of them.
    std::int64_t soundLast = AV_NOPTS_VALUE;
    std::int64_t soundStep = 0;
    bool soundLastLengthless = false;

    std::int64_t End() const {
        if (!soundLastLengthless || soundStep <= 0) return end;
        return std::max(end, soundLast + soundStep);
    }

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
        const std::int64_t until = PacketEndMicros(packet, stream);
        start = start == AV_NOPTS_VALUE ? from : std::min(start, from);
        end = std::max(end == AV_NOPTS_VALUE ? from : end, until);
        if (packet.stream_index == audio) {
            if (soundLast != AV_NOPTS_VALUE && from > soundLast && (soundStep <= 0 || from - soundLast < soundStep))
                soundStep = from - soundLast;
            if (soundLast == AV_NOPTS_VALUE || from >= soundLast) {
                soundLast = from;
                soundLastLengthless = packet.duration <= 0;
            }
        }
        if (packet.stream_index == video) {
            pictureStart = pictureStart == AV_NOPTS_VALUE ? from : std::min(pictureStart, from);
            pictureEnd = std::max(pictureEnd == AV_NOPTS_VALUE ? from : pictureEnd, until);
        }
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
    info.duration = info.holdsPackets ? static_cast<double>(held.End() - held.start) / AV_TIME_BASE : 0;
    info.startsOnKeyFrame = held.firstPictureKey;
    if (info.holdsPackets && held.pictureStart != AV_NOPTS_VALUE) {
        info.pictureFrom = static_cast<double>(held.pictureStart - held.start) / AV_TIME_BASE;
        info.pictureTo = static_cast<double>(held.pictureEnd - held.start) / AV_TIME_BASE;
    }
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
            v.level = Level(par);
            v.fieldOrder = FieldOrder(par.field_order);
            if (par.color_range != AVCOL_RANGE_UNSPECIFIED) v.colorRange = Named(av_color_range_name(par.color_range));
            if (par.color_primaries != AVCOL_PRI_UNSPECIFIED)
                v.colorPrimaries = Named(av_color_primaries_name(par.color_primaries));
            if (par.color_trc != AVCOL_TRC_UNSPECIFIED) v.colorTransfer = Named(av_color_transfer_name(par.color_trc));
            if (par.color_space != AVCOL_SPC_UNSPECIFIED) v.colorSpace = Named(av_color_space_name(par.color_space));
            if (par.codec_id == AV_CODEC_ID_H264 && par.extradata_size > 0)
                v.setupCore = H264DecodingSetupHash(par.extradata, static_cast<std::size_t>(par.extradata_size));
            info.video = v;
        } else if (par.codec_type == AVMEDIA_TYPE_AUDIO && !info.audio) {
            AudioInfo a;
            a.codec = avcodec_get_name(par.codec_id);
            a.sampleRate = par.sample_rate;
            a.channels = par.ch_layout.nb_channels;
            a.bitRate = par.bit_rate > 0 ? par.bit_rate : 0;
            a.index = static_cast<int>(i);
            a.start = StartSeconds(stream);
            if (const char* profile = avcodec_profile_name(par.codec_id, par.profile)) a.profile = profile;
            if (par.ch_layout.order != AV_CHANNEL_ORDER_UNSPEC) {
                char layout[128];
                if (av_channel_layout_describe(&par.ch_layout, layout, sizeof layout) > 0) a.channelLayout = layout;
            }
            a.sampleFormat = Named(av_get_sample_fmt_name(static_cast<AVSampleFormat>(par.format)));
            a.setup = SetupHash(par);
            info.audio = a;
        } else {
            OtherStream other;
            other.kind = StreamKind(par.codec_type);
            if (par.codec_id != AV_CODEC_ID_NONE) other.codec = avcodec_get_name(par.codec_id);
            other.coverPicture = (stream.disposition & AV_DISPOSITION_ATTACHED_PIC) != 0;
            other.index = static_cast<int>(i);
            info.others.push_back(other);
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

OutputPicture MeasureOutputPicture(const std::wstring& path, CancelFlag& cancel) {
    std::wstring why;
    std::optional<MediaInfo> info = ProbeMediaFile(path, cancel, why);
    return info ? PictureOf(*info) : OutputPicture{};
}

}  // namespace quilmer
