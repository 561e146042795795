#pragma once
// Join progress: what one piece of encoder output says (input duration, position reached), the
// counters the running step writes and the UI reads, and the percentage they give.

#include <cstdint>
#include <mutex>
#include <optional>
#include <string_view>

#include "media/JoinPhase.h"

namespace quilmer {

struct ProgressReading {
    // Whole seconds of the input ("Duration: hh:mm:ss."); when a chunk holds one, it is not
    // searched for a position.
    std::optional<std::int64_t> durationSeconds;
    // Whole seconds reached ("time=S."), the first in the chunk.
    std::optional<std::int64_t> doneSeconds;
};

// Reads one chunk of output, as it came from one read, up to its first zero byte. Text that looks
// like a duration or position but is not a number is ignored, never an error.
ProgressReading ParseProgress(std::string_view chunk);

struct ProgressSnapshot {
    std::int64_t doneSeconds = 0;
    std::int64_t totalSeconds = 0;
};

// The job's counters with their own lock (the job lock): written by the worker's output handler,
// read once a second by the UI thread.
class ProgressCounters {
public:
    // Applies a reading taken in `phase`: while converting, a duration becomes the step's total
    // and is added to the sum; in a final encode the total is the sum (the duration the encoder
    // reports for the concatenation is not used); a position sets doneSeconds. Other phases do
    // nothing.
    void Apply(JoinPhase phase, const ProgressReading& reading);

    ProgressSnapshot Snapshot() const;
    std::int64_t SumSeconds() const;

    void ResetStep();  // total and done to 0, when a step ends or the join stops
    void ResetJob();   // all three to 0, when a join starts
    void SetStep(std::int64_t doneSeconds, std::int64_t totalSeconds);

private:
    mutable std::mutex lock_;
    std::int64_t sumSeconds_ = 0;
    std::int64_t totalSeconds_ = 0;
    std::int64_t doneSeconds_ = 0;
};

// The progress bar's value (0..100) for the counters, or nullopt when either counter is 0 (the
// bar keeps its last value). `clipCount` is the number of clips of the join, `pendingCount` the
// clips still waiting (the running one already taken out); both matter only while converting.
std::optional<int> ProgressPercent(JoinPhase phase, const ProgressSnapshot& counters, int clipCount,
                                   int pendingCount);

}  // namespace quilmer
