#pragma once
// What the in-process media code shares: libavformat's log kept out of the terminal (its last
// complaint kept for messages instead), reads that stop when asked, and error texts.

#include "media/CancelFlag.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

extern "C" {
#include <libavformat/avformat.h>
}

namespace quilmer {

// Sends libavformat's log to a per-thread buffer instead of standard error. Idempotent.
void QuietAvLog();
// The last error libav logged on this thread ("" when none), and forgetting it.
std::string LastAvComplaint();
void ClearAvComplaint();

// An interrupt callback for libavformat's reads and writes: ends them when the flag is raised
// or the deadline (if any) has passed.
struct AvInterrupt {
    const CancelFlag* cancel = nullptr;
    std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max();
    bool TimedOut() const { return std::chrono::steady_clock::now() >= deadline; }
    AVIOInterruptCB Callback() const;
};

// "Invalid data found when processing input" for an AVERROR code.
std::string AvErrorText(int code);

// libavformat's URL of a local file whose name may hold any bytes.
std::string AvFileUrl(const std::wstring& path);

// Whether the path names a regular file (a FIFO or a device would block or never end).
bool IsRegularFile(const std::wstring& path);

struct AvInputCloser {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
using AvInput = std::unique_ptr<AVFormatContext, AvInputCloser>;

// Opens a regular file and reads its streams' parameters, reads ending as `interrupt` says.
// Null with `why` ("not a regular file", or libav's complaint) when it cannot.
AvInput OpenAvInput(const std::wstring& path, const AvInterrupt& interrupt, std::wstring& why);

// Where a packet's showing ends, in microseconds of the file's clock: a picture without a
// duration lasts a frame. 0 when the packet carries no time.
std::int64_t PacketEndMicros(const AVPacket& packet, const AVStream& stream);

// Whether a packet was cut off by the end of the file (a partial download): the index of an MP4
// names a bigger sample, or, without an index, the packet runs up to the very end of the file.
// `fileSize` is avio_size() of the file, <= 0 when unknown (nothing counts as cut then).
bool PacketCutShort(const AVFormatContext& file, const AVPacket& packet, std::int64_t fileSize);

// A packet that a player shows nothing of: hidden by an edit list (the lead-in of a part cut
// without re-encoding) or cut off by the end of the file.
bool PacketHidden(const AVFormatContext& file, const AVPacket& packet, std::int64_t fileSize);

}  // namespace quilmer
