#include "encoder/ProgramStreamScan.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

namespace quilmer::adapter {

namespace {

std::int64_t Timestamp(const unsigned char* b) {
    return (static_cast<std::int64_t>((b[0] >> 1) & 7) << 30) | (static_cast<std::int64_t>(b[1]) << 22) |
           (static_cast<std::int64_t>(b[2] >> 1) << 15) | (static_cast<std::int64_t>(b[3]) << 7) |
           (b[4] >> 1);
}

// Frame rates of MPEG-1/2 sequence headers, by frame_rate_code.
constexpr int kRates[][2] = {{0, 0},  {24000, 1001}, {24, 1},       {25, 1}, {30000, 1001},
                             {30, 1}, {50, 1},       {60000, 1001}, {60, 1}};

// Watches the picture stream's bytes go by (across packet boundaries) for the start codes that
// matter: pictures, the sequence header (size, rate) and its extension (rate factor).
class VideoWatcher {
public:
    void Feed(ProgramStreamPart& part, const unsigned char* p, std::size_t n) {
        part_ = &part;
        for (std::size_t i = 0; i < n; ++i) {
            const unsigned char byte = p[i];
            if (pending_ > 0) {
                header_[headerSize_++] = byte;
                if (--pending_ == 0) Header();
            }
            if (window_ == 0x000001u) Code(byte);
            window_ = ((window_ << 8) | byte) & 0xFFFFFFu;
        }
    }

private:
    void Code(unsigned char code) {
        if (code == 0x00) {
            ++part_->pictures;
        } else if (code == 0xB3 && part_->width == 0) {
            kind_ = 0xB3;
            headerSize_ = 0;
            pending_ = 4;
        } else if (code == 0xB5 && sawSequence_ && !sawExtension_) {
            kind_ = 0xB5;
            headerSize_ = 0;
            pending_ = 6;
        }
    }
    void Header() {
        const unsigned char* h = header_;
        if (kind_ == 0xB3) {
            part_->width = (h[0] << 4) | (h[1] >> 4);
            part_->height = ((h[1] & 0x0F) << 8) | h[2];
            const int code = h[3] & 0x0F;
            if (code >= 1 && code <= 8) {
                part_->rateNum = kRates[code][0];
                part_->rateDen = kRates[code][1];
            }
            sawSequence_ = true;
        } else if (kind_ == 0xB5 && (h[0] >> 4) == 1) {  // sequence extension
            sawExtension_ = true;
            const int extN = (h[5] >> 5) & 0x03;
            const int extD = h[5] & 0x1F;
            part_->width |= ((h[1] & 0x01) << 13) | ((h[2] >> 7) << 12);
            part_->height |= ((h[2] >> 5) & 0x03) << 12;
            part_->rateNum *= extN + 1;
            part_->rateDen *= extD + 1;
        }
    }

    ProgramStreamPart* part_ = nullptr;
    std::uint32_t window_ = 0xFFFFFFu;
    unsigned char header_[8] = {};
    int headerSize_ = 0;
    int pending_ = 0;
    unsigned char kind_ = 0;
    bool sawSequence_ = false;
    bool sawExtension_ = false;
};

bool StartCode(const unsigned char* d, std::size_t size, std::size_t at) {
    return at + 4 <= size && d[at] == 0 && d[at + 1] == 0 && d[at + 2] == 1;
}

}  // namespace

double PictureSeconds(const ProgramStreamPart& part) {
    if (part.rateNum <= 0 || part.rateDen <= 0) return 0;
    return static_cast<double>(part.pictures) * part.rateDen / part.rateNum;
}

std::vector<ProgramStreamPart> ScanProgramStream(const unsigned char* d, std::size_t size) {
    std::vector<ProgramStreamPart> parts;
    std::vector<VideoWatcher> watchers;
    parts.reserve(16);
    std::int64_t previousClock = -1;
    std::size_t at = 0;
    auto fail = [&parts] {
        parts.clear();
        return parts;
    };
    while (at < size) {
        if (!StartCode(d, size, at)) {
            // Zero stuffing after an end code is allowed; anything else is not a stream we know.
            if (d[at] == 0) {
                ++at;
                continue;
            }
            return fail();
        }
        const unsigned char code = d[at + 3];
        if (code == 0xBA) {  // pack header
            std::int64_t clock = 0;
            std::size_t length = 0;
            if (at + 5 > size) return fail();
            if ((d[at + 4] >> 6) == 1) {  // MPEG-2
                if (at + 14 > size) return fail();
                const unsigned char* b = d + at + 4;
                clock = (static_cast<std::int64_t>((b[0] >> 3) & 7) << 30) |
                        (static_cast<std::int64_t>(b[0] & 3) << 28) |
                        (static_cast<std::int64_t>(b[1]) << 20) |
                        (static_cast<std::int64_t>(b[2] >> 3) << 15) |
                        (static_cast<std::int64_t>(b[2] & 3) << 13) | (static_cast<std::int64_t>(b[3]) << 5) |
                        (b[4] >> 3);
                length = 14 + (d[at + 13] & 7);
            } else {
                if (at + 12 > size) return fail();
                clock = Timestamp(d + at + 4);
                length = 12;
            }
            // Every intermediate starts its clock afresh: a clock that does not move on is the
            // first pack of the next one.
            if (parts.empty() || clock <= previousClock) {
                if (!parts.empty()) parts.back().end = at;
                parts.emplace_back();
                parts.back().begin = at;
            }
            previousClock = clock;
            at += length;
            continue;
        }
        if (parts.empty()) return fail();
        if (code == 0xB9) {  // program end
            at += 4;
            parts.back().end = at;
            continue;
        }
        if (code < 0xBB || at + 6 > size) return fail();
        const std::size_t length = (static_cast<std::size_t>(d[at + 4]) << 8) | d[at + 5];
        const std::size_t payload = at + 6, end = payload + length;
        if (end > size) return fail();
        const bool video = code >= 0xE0 && code <= 0xEF;
        const bool audio = (code >= 0xC0 && code <= 0xDF) || code == 0xBD;
        if (video || audio) {
            std::size_t q = payload;
            std::int64_t pts = -1;
            if (q < end && (d[q] >> 6) == 2) {  // MPEG-2 packet header
                if (q + 3 > end) return fail();
                const int flags = d[q + 1] >> 6;
                const std::size_t headerLength = d[q + 2];
                if ((flags & 2) && q + 8 <= end) pts = Timestamp(d + q + 3);
                q += 3 + headerLength;
            } else {  // MPEG-1 packet header
                while (q < end && d[q] == 0xFF) ++q;
                if (q < end && (d[q] >> 6) == 1) q += 2;
                if (q >= end) return fail();
                const int kind = d[q] >> 4;
                if (kind == 2 || kind == 3) {
                    if (q + 5 > end) return fail();
                    pts = Timestamp(d + q);
                    q += kind == 2 ? 5 : 10;
                } else {
                    q += 1;
                }
            }
            if (q > end) return fail();
            ProgramStreamPart& part = parts.back();
            if (pts >= 0) {
                if (part.firstTimestamp < 0 || pts < part.firstTimestamp) part.firstTimestamp = pts;
                if (video && (part.videoStart < 0 || pts < part.videoStart)) part.videoStart = pts;
            }
            if (video) {
                watchers.resize(parts.size());
                watchers.back().Feed(part, d + q, end - q);
            }
        }
        at = end;
        parts.back().end = at;
    }
    for (const auto& part : parts)
        if (part.pictures == 0 || part.videoStart < 0 || part.rateNum <= 0) return fail();
    return parts;
}

std::vector<ProgramStreamPart> ScanProgramStream(const std::string& path) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return {};
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0) {
        close(fd);
        return {};
    }
    const std::size_t size = static_cast<std::size_t>(st.st_size);
    void* map = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    close(fd);
    if (map == MAP_FAILED) return {};
    madvise(map, size, MADV_SEQUENTIAL);
    std::vector<ProgramStreamPart> parts = ScanProgramStream(static_cast<const unsigned char*>(map), size);
    munmap(map, size);
    return parts;
}

}  // namespace quilmer::adapter
