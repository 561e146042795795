#include "media/join/methods/StreamCopy.h"

#include "foundation/FileUtil.h"
#include "foundation/TextTranslator.h"
#include "media/av/AvSupport.h"
#include "media/join/methods/ChapterIo.h"
#include "media/join/methods/DirectCommands.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
}

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <thread>

namespace quilmer {

namespace {

struct OutputCloser {
    void operator()(AVFormatContext* context) const {
        if (!(context->oformat->flags & AVFMT_NOFILE)) avio_closep(&context->pb);
        avformat_free_context(context);
    }
};

struct PacketFree {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};

struct FilterFree {
    void operator()(AVBSFContext* filter) const { av_bsf_free(&filter); }
};

struct Track {
    AVMediaType type = AVMEDIA_TYPE_UNKNOWN;
    AVStream* stream = nullptr;
    std::unique_ptr<AVBSFContext, FilterFree> filter;  // only where the container needs another form
    std::int64_t lastDts = AV_NOPTS_VALUE;
};

// The first picture (no cover picture) and the first sound stream of a file.
int FindStream(const AVFormatContext& file, AVMediaType type) {
    for (unsigned i = 0; i < file.nb_streams; ++i) {
        const AVStream& s = *file.streams[i];
        if (s.codecpar->codec_type != type) continue;
        if (type == AVMEDIA_TYPE_VIDEO && (s.disposition & AV_DISPOSITION_ATTACHED_PIC)) continue;
        return static_cast<int>(i);
    }
    return -1;
}

// A pause after each packet when QUILMER_TEST_COPY_DELAY_US is set: the tests stop a copy in
// the middle, which on short clips would otherwise be over before the stop arrives.
std::chrono::microseconds TestDelay() {
    static const std::chrono::microseconds delay = [] {
        const char* text = std::getenv("QUILMER_TEST_COPY_DELAY_US");
        long value = text ? std::strtol(text, nullptr, 10) : 0;
        return std::chrono::microseconds(std::clamp(value, 0L, 1000000L));
    }();
    return delay;
}

class Copier {
public:
    Copier(const std::wstring& output, const TargetFormat& target, const CancelFlag& cancel,
           const CopyProgress& progress, const std::vector<PlannedChapter>& chapters)
        : output_(output), target_(target), cancel_(cancel), progress_(progress), chapters_(chapters) {
        interrupt_.cancel = &cancel;
    }

    std::int64_t Length() const { return length_; }

    std::wstring Run(const std::vector<std::wstring>& clips) {
        QuietAvLog();
        ClearAvComplaint();
        packet_.reset(av_packet_alloc());
        if (!packet_) return Tr(L"out of memory");
        std::int64_t offset = 0;  // where the next clip starts in the output, microseconds
        for (std::size_t i = 0; i < clips.size(); ++i) {
            std::wstring failure = CopyClip(clips[i], i == 0, offset);
            if (!failure.empty()) return failure;
        }
        for (Track& track : tracks_)
            if (track.filter) {
                if (std::wstring failure = Filter(track, nullptr); !failure.empty()) return failure;
            }
        if (!context_) return Tr(L"there are no clips to join");
        if (!chapters_.empty() && FormatKeepsChapters(target_)) {
            // The MP4 muxer keeps the chapters it is given by now; ASF has set aside their room.
            if (context_->nb_chapters == 0 && !ReserveChapters(*context_, chapters_)) return Tr(L"out of memory");
            SetChapterTimes(*context_, PlaceChapters(chapters_, clipStarts_, offset));
        }
        int code = av_write_trailer(context_.get());
        if (code < 0) return Complaint(output_, code);
        length_ = offset;
        return {};
    }

private:
    std::wstring Stopped() const { return Tr(L"stopped"); }

    std::wstring Complaint(const std::wstring& file, int code) const {
        if (cancel_.IsRequested()) return Stopped();
        std::string said = LastAvComplaint();
        return file + L": " + WidePath(said.empty() ? AvErrorText(code) : said);
    }

    std::wstring Open(const std::wstring& clip, AvInput& input) {
        std::wstring why;
        input = OpenAvInput(clip, interrupt_, why);
        if (input) return {};
        return cancel_.IsRequested() ? Stopped() : clip + L": " + why;
    }

    // The output and its streams, shaped by the first clip.
    std::wstring Begin(const AVFormatContext& first, const std::vector<int>& sources) {
        AVFormatContext* raw = nullptr;
        const std::string muxer = MuxerFor(target_);
        int code = avformat_alloc_output_context2(&raw, nullptr, muxer.c_str(), nullptr);
        if (code < 0 || !raw) return Complaint(output_, code);
        context_.reset(raw);
        context_->interrupt_callback = interrupt_.Callback();
        for (int index : sources) {
            const AVStream& in = *first.streams[index];
            AVStream* out = avformat_new_stream(context_.get(), nullptr);
            if (!out) return Tr(L"out of memory");
            if ((code = avcodec_parameters_copy(out->codecpar, in.codecpar)) < 0) return Complaint(output_, code);
            // A codec tag the new container does not know for this codec would mislabel it.
            unsigned tag = 0;
            const AVCodecTag* const* tags = context_->oformat->codec_tag;
            if (tags && av_codec_get_id(tags, in.codecpar->codec_tag) != in.codecpar->codec_id &&
                av_codec_get_tag2(tags, in.codecpar->codec_id, &tag))
                out->codecpar->codec_tag = 0;
            out->time_base = in.time_base;
            out->avg_frame_rate = in.avg_frame_rate;
            out->r_frame_rate = in.r_frame_rate;
            out->sample_aspect_ratio = av_guess_sample_aspect_ratio(const_cast<AVFormatContext*>(&first),
                                                                    const_cast<AVStream*>(&in), nullptr);
            out->codecpar->sample_aspect_ratio = out->sample_aspect_ratio;
            out->disposition = in.disposition & AV_DISPOSITION_DEFAULT;
            // The turn a phone recorded goes along.
            std::size_t size = 0;
            if (const std::uint8_t* matrix = av_stream_get_side_data(&in, AV_PKT_DATA_DISPLAYMATRIX, &size)) {
                if (std::uint8_t* copy = av_stream_new_side_data(out, AV_PKT_DATA_DISPLAYMATRIX, size))
                    std::copy(matrix, matrix + size, copy);
            }
            Track track;
            track.type = in.codecpar->codec_type;
            track.stream = out;
            if (track.type == AVMEDIA_TYPE_VIDEO && target_ == L"avi") {
                // AVI keeps no timestamps, only a frame rate: its clock must be the frame rate.
                AVRational rate = in.r_frame_rate.num > 0 ? in.r_frame_rate : in.avg_frame_rate;
                if (rate.num > 0 && rate.den > 0) out->time_base = av_inv_q(rate);
                // H.264 from MP4, FLV or Matroska carries length prefixes; AVI wants the byte stream.
                const AVCodecParameters& par = *in.codecpar;
                if (par.codec_id == AV_CODEC_ID_H264 && par.extradata_size > 0 && par.extradata[0] == 1) {
                    std::wstring failure = AddFilter(track, "h264_mp4toannexb", in);
                    if (!failure.empty()) return failure;
                    if ((code = avcodec_parameters_copy(out->codecpar, track.filter->par_out)) < 0)
                        return Complaint(output_, code);
                    out->codecpar->codec_tag = 0;
                }
            }
            tracks_.push_back(std::move(track));
        }
        if (!(context_->oformat->flags & AVFMT_NOFILE)) {
            AVIOContext* io = nullptr;
            AVIOInterruptCB callback = interrupt_.Callback();
            code = avio_open2(&io, AvFileUrl(output_).c_str(), AVIO_FLAG_WRITE, &callback, nullptr);
            if (code < 0) return Complaint(output_, code);
            context_->pb = io;
        }
        // ASF writes its markers in the header, which it writes again at the end with the times
        // by then set; the MP4 muxer would build its chapter track now, from times not yet known,
        // so it gets the chapters only at the end (libavformat writes them in the 'chpl' box).
        if (!chapters_.empty() && target_ == L"wmv" && !ReserveChapters(*context_, chapters_))
            return Tr(L"out of memory");
        code = avformat_write_header(context_.get(), nullptr);
        if (code < 0) return Complaint(output_, code);
        return {};
    }

    std::wstring AddFilter(Track& track, const char* name, const AVStream& in) {
        const AVBitStreamFilter* kind = av_bsf_get_by_name(name);
        AVBSFContext* raw = nullptr;
        if (!kind || av_bsf_alloc(kind, &raw) < 0) return Tr(L"out of memory");
        track.filter.reset(raw);
        int code = avcodec_parameters_copy(raw->par_in, in.codecpar);
        if (code >= 0) {
            raw->time_base_in = in.time_base;
            code = av_bsf_init(raw);
        }
        return code < 0 ? Complaint(output_, code) : std::wstring();
    }

    std::wstring CopyClip(const std::wstring& clip, bool first, std::int64_t& offset) {
        AvInput input;
        if (std::wstring failure = Open(clip, input); !failure.empty()) return failure;
        std::vector<int> sources;  // the clip's stream feeding each track
        if (first) {
            // The first clip's order of picture and sound becomes the output's.
            const int video = FindStream(*input, AVMEDIA_TYPE_VIDEO), audio = FindStream(*input, AVMEDIA_TYPE_AUDIO);
            if (video >= 0) sources.push_back(video);
            if (audio >= 0) sources.push_back(audio);
            std::sort(sources.begin(), sources.end());
            if (sources.empty()) return clip + L": " + Tr(L"it holds neither picture nor sound");
            if (std::wstring failure = Begin(*input, sources); !failure.empty()) return failure;
        } else {
            for (const Track& track : tracks_) {
                const int index = FindStream(*input, track.type);
                if (index < 0) return clip + L": " + Tr(L"it lacks a stream the first clip has");
                sources.push_back(index);
            }
        }
        std::vector<int> trackOf(input->nb_streams, -1);
        for (std::size_t t = 0; t < sources.size(); ++t) trackOf[sources[t]] = static_cast<int>(t);

        const std::int64_t start = input->start_time != AV_NOPTS_VALUE ? input->start_time : 0;
        const std::int64_t size = input->pb ? avio_size(input->pb) : -1;
        std::int64_t end = 0;  // the clip's length by its packets, microseconds
        // Where the clip's first picture (or, without pictures, its first sound) lands.
        std::int64_t firstPicture = INT64_MAX, firstSound = INT64_MAX;
        const std::chrono::microseconds delay = TestDelay();
        for (;;) {
            if (cancel_.IsRequested()) return Stopped();
            int code = av_read_frame(input.get(), packet_.get());
            if (code == AVERROR_EOF) break;
            if (code < 0) return Complaint(clip, code);
            const int t = packet_->stream_index < static_cast<int>(trackOf.size()) ? trackOf[packet_->stream_index] : -1;
            // What a player would not show is not copied: the lead-in an edit list hides would
            // run back into the clip before, and a packet cut off by the end of a partial
            // download only makes the decoder complain.
            if (t < 0 || PacketHidden(*input, *packet_, size)) {
                av_packet_unref(packet_.get());
                continue;
            }
            const AVStream& in = *input->streams[packet_->stream_index];
            end = std::max(end, PacketEndMicros(*packet_, in) - start);
            if (packet_->pts != AV_NOPTS_VALUE) {
                std::int64_t& first = in.codecpar->codec_type == AVMEDIA_TYPE_VIDEO ? firstPicture : firstSound;
                first = std::min(first, av_rescale_q(packet_->pts, in.time_base, AV_TIME_BASE_Q) - start);
            }
            Track& track = tracks_[t];
            Shift(*packet_, in.time_base, track, offset - start);
            if (std::wstring failure = Filter(track, packet_.get()); !failure.empty()) return failure;
            if (delay.count() > 0) std::this_thread::sleep_for(delay);
        }
        if (end <= 0 && input->duration != AV_NOPTS_VALUE) end = input->duration;
        const std::int64_t lead = firstPicture != INT64_MAX ? firstPicture : firstSound != INT64_MAX ? firstSound : 0;
        clipStarts_.push_back(offset + std::max<std::int64_t>(lead, 0));
        offset += std::max<std::int64_t>(end, 0);
        return {};
    }

    // Moves a packet by `shift` microseconds into the output stream's clock, keeping its
    // decoding times rising as every muxer wants them.
    void Shift(AVPacket& packet, AVRational from, Track& track, std::int64_t shift) {
        // A filter takes the clock the first clip gave it; the muxer the one it settled on.
        const AVRational to = track.filter ? track.filter->time_base_in : track.stream->time_base;
        auto move = [&](std::int64_t value) {
            if (value == AV_NOPTS_VALUE) return value;
            return av_rescale_q_rnd(value, from, to, static_cast<AVRounding>(AV_ROUND_NEAR_INF | AV_ROUND_PASS_MINMAX)) +
                   av_rescale_q(shift, AV_TIME_BASE_Q, to);
        };
        packet.pts = move(packet.pts);
        packet.dts = move(packet.dts);
        if (packet.duration > 0) packet.duration = av_rescale_q(packet.duration, from, to);
        packet.time_base = to;
        packet.pos = -1;
    }

    std::wstring Filter(Track& track, AVPacket* packet) {
        if (!track.filter) return Write(track, *packet);
        int code = av_bsf_send_packet(track.filter.get(), packet);
        if (code < 0) return Complaint(output_, code);
        for (;;) {
            code = av_bsf_receive_packet(track.filter.get(), packet_.get());
            if (code == AVERROR(EAGAIN) || code == AVERROR_EOF) return {};
            if (code < 0) return Complaint(output_, code);
            av_packet_rescale_ts(packet_.get(), track.filter->time_base_out, track.stream->time_base);
            if (std::wstring failure = Write(track, *packet_); !failure.empty()) return failure;
        }
    }

    std::wstring Write(Track& track, AVPacket& packet) {
        if (packet.dts != AV_NOPTS_VALUE) {
            if (track.lastDts != AV_NOPTS_VALUE && packet.dts <= track.lastDts) {
                packet.dts = track.lastDts + 1;
                if (packet.pts != AV_NOPTS_VALUE && packet.pts < packet.dts) packet.pts = packet.dts;
            }
            track.lastDts = packet.dts;
        }
        const std::int64_t at = packet.dts != AV_NOPTS_VALUE ? packet.dts : packet.pts;
        packet.stream_index = track.stream->index;
        int code = av_interleaved_write_frame(context_.get(), &packet);
        if (code < 0) return Complaint(output_, code);
        if (progress_ && at != AV_NOPTS_VALUE) progress_(av_rescale_q(at, track.stream->time_base, AV_TIME_BASE_Q));
        return {};
    }

    const std::wstring& output_;
    const TargetFormat& target_;
    const CancelFlag& cancel_;
    const CopyProgress& progress_;
    const std::vector<PlannedChapter>& chapters_;
    std::vector<std::int64_t> clipStarts_;  // microseconds of the output, one per clip copied
    AvInterrupt interrupt_;
    std::unique_ptr<AVFormatContext, OutputCloser> context_;
    std::unique_ptr<AVPacket, PacketFree> packet_;
    std::vector<Track> tracks_;
    std::int64_t length_ = 0;
};

}  // namespace

std::wstring CopyStreams(const std::vector<std::wstring>& clips, const std::wstring& output,
                         const TargetFormat& target, const CancelFlag& cancel, const CopyProgress& progress,
                         std::int64_t* length, const std::vector<PlannedChapter>& chapters) {
    Copier copier(output, target, cancel, progress, chapters);
    std::wstring failure = copier.Run(clips);
    if (length) *length = copier.Length();
    return failure;
}

}  // namespace quilmer
