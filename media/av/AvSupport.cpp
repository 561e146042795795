#include "media/av/AvSupport.h"

#include "foundation/FileUtil.h"
#include "foundation/TextTranslator.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace quilmer {

namespace {

thread_local std::string lastComplaint;

void KeepComplaint(void* avcl, int level, const char* format, va_list args) {
    if (level > AV_LOG_ERROR) return;
    char line[1024];
    int prefix = 0;  // no "[mov @ 0x55...]": the text is shown to users
    av_log_format_line(avcl, level, format, args, line, sizeof line, &prefix);
    std::string text = line;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
    if (!text.empty()) lastComplaint = text;
}

int Interrupted(void* opaque) {
    const auto* interrupt = static_cast<const AvInterrupt*>(opaque);
    return (interrupt->cancel && interrupt->cancel->IsRequested()) || interrupt->TimedOut() ? 1 : 0;
}

}  // namespace

void QuietAvLog() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_callback(KeepComplaint); });
}

std::string LastAvComplaint() { return lastComplaint; }
void ClearAvComplaint() { lastComplaint.clear(); }

AVIOInterruptCB AvInterrupt::Callback() const { return AVIOInterruptCB{Interrupted, const_cast<AvInterrupt*>(this)}; }

std::string AvErrorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

std::string AvFileUrl(const std::wstring& path) { return "file:" + NativePath(path); }

bool IsRegularFile(const std::wstring& path) {
    struct stat st {};
    return stat(NativePath(path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

AvInput OpenAvInput(const std::wstring& path, const AvInterrupt& interrupt, std::wstring& why) {
    QuietAvLog();
    ClearAvComplaint();
    if (!IsRegularFile(path)) {
        why = Tr(L"not a regular file");
        return nullptr;
    }
    AVFormatContext* raw = avformat_alloc_context();
    if (!raw) {
        why = Tr(L"out of memory");
        return nullptr;
    }
    raw->interrupt_callback = interrupt.Callback();
    auto complaint = [&why](int code) {
        std::string said = LastAvComplaint();
        why = WidePath(said.empty() ? AvErrorText(code) : said);
    };
    int code = avformat_open_input(&raw, AvFileUrl(path).c_str(), nullptr, nullptr);  // frees raw on failure
    if (code < 0) {
        complaint(code);
        return nullptr;
    }
    AvInput input(raw);
    code = avformat_find_stream_info(input.get(), nullptr);
    if (code < 0) {
        complaint(code);
        return nullptr;
    }
    return input;
}

std::int64_t PacketEndMicros(const AVPacket& packet, const AVStream& stream) {
    const std::int64_t at = packet.pts != AV_NOPTS_VALUE ? packet.pts : packet.dts;
    if (at == AV_NOPTS_VALUE) return 0;
    const std::int64_t length = packet.duration;
    std::int64_t end = av_rescale_q(at + std::max<std::int64_t>(length, 0), stream.time_base, AV_TIME_BASE_Q);
    if (length <= 0 && stream.codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
        const AVRational rate = stream.avg_frame_rate.num > 0 ? stream.avg_frame_rate : stream.r_frame_rate;
        if (rate.num > 0 && rate.den > 0) end += av_rescale_q(1, av_inv_q(rate), AV_TIME_BASE_Q);
    }
    return end;
}

bool PacketCutShort(const AVFormatContext& file, const AVPacket& packet, std::int64_t fileSize) {
    if (fileSize <= 0 || packet.pos < 0 || packet.stream_index < 0 ||
        packet.stream_index >= static_cast<int>(file.nb_streams))
        return false;
    if (file.iformat && std::strcmp(file.iformat->name, "flv") == 0) {
        // FLV packets count from their tag's header, which gives the whole tag's size.
        if (packet.pos + packet.size + 32 < fileSize || !file.pb) return false;
        const std::int64_t at = avio_tell(file.pb);
        std::uint8_t head[4] = {};
        const bool read = avio_seek(file.pb, packet.pos, SEEK_SET) >= 0 && avio_read(file.pb, head, 4) == 4;
        avio_seek(file.pb, at, SEEK_SET);
        const std::int64_t tag = (std::int64_t{head[1]} << 16) | (head[2] << 8) | head[3];
        return !read || packet.pos + 11 + tag > fileSize;
    }
    if (packet.pos + packet.size < fileSize) return false;
    // A complete MP4 whose index comes first ends with its last sample: the index tells whole
    // samples from cut ones. Searched from the end, where such a packet lies.
    AVStream* stream = file.streams[packet.stream_index];
    for (int i = avformat_index_get_entries_count(stream) - 1; i >= 0; --i) {
        const AVIndexEntry* entry = avformat_index_get_entry(stream, i);
        if (entry && entry->pos == packet.pos) return entry->size > packet.size;
        if (entry && entry->pos < packet.pos) break;
    }
    return true;
}

bool PacketHidden(const AVFormatContext& file, const AVPacket& packet, std::int64_t fileSize) {
    return (packet.flags & AV_PKT_FLAG_DISCARD) != 0 || PacketCutShort(file, packet, fileSize);
}

}  // namespace quilmer
