#pragma once
// Progress figures of the package download: the speed meter and the size, speed and status
// texts the updater window shows.

#include <cstdint>
#include <string>

#include "updater/DownloadStep.h"

namespace quilmer {

// Rate of a transfer, renewed about once per second from the running byte total.
class SpeedMeter {
public:
    // elapsedMs since the previous update; total bytes so far. The previous total starts at 0,
    // so the first rate after a resume counts the resumed bytes too.
    void Update(std::uint32_t elapsedMs, std::uint64_t totalBytes);
    double BytesPerSecond() const { return rate_; }

private:
    std::uint64_t previousTotal_ = 0;
    double rate_ = 0.0;
    std::uint64_t accumulatedMs_ = 0;
};

// "512 bytes", "1.50 KB", "2.00 MB", ... up to "EB".
std::wstring FormatSizeText(std::uint64_t bytes);
// "%.2f MB/S", "%.2f KB/S" or "%.0f bytes/S".
std::wstring FormatSpeedText(double bytesPerSecond);
// downloaded * 100 / total, truncated; 0 when either is 0. May exceed 100 when the total was
// unknown at the start of a resumed download.
unsigned ProgressPercent(std::uint64_t downloaded, std::uint64_t total);
// "512/1024B  50%" + 38 blanks + speed text.
std::wstring StatusLineText(std::uint64_t downloaded, std::uint64_t total, const std::wstring& speedText);

// What the user can do after a step that ended this way (translated); empty when there is
// nothing to say (a pause, or the update went through).
std::wstring FailureAdvice(StepOutcome outcome);

}  // namespace quilmer
