#include "media/join/methods/AvProbe.h"

#include "foundation/FileUtil.h"
#include "foundation/TextTranslator.h"
#include "media/join/methods/AvSupport.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/crc.h>
#include <libavutil/display.h>
#include <libavutil/pixdesc.h>
}

#include <cmath>
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
        info.duration = static_cast<double>(context->duration) / AV_TIME_BASE;
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
    return info;
}

}  // namespace quilmer
