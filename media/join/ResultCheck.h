#pragma once
// The last look at a join's output before it counts as made: it must read back as media of
// roughly the length of the clips that went into it. An encoder that died part-way leaves a file
// without a duration (AVI without its index, MP4 without its header) or a short one.

#include "media/ClipProperties.h"

#include <optional>
#include <string>

namespace quilmer {

// Seconds of a probe's duration field ("00:01:02.50"); nullopt when absent, "N/A" or malformed.
std::optional<double> DurationSeconds(const std::wstring& field);

// Empty when the result is acceptable, otherwise why not. `probed` is whether the output could
// be probed at all; `expectedSeconds` is the sum of the joined clips' durations, nullopt when a
// clip's duration was unknown (then any positive duration passes). The tolerance is generous
// (10 %, at least 1.5 s): frame-rate rounding moves a join's length a little, a broken file a lot.
std::wstring CheckJoinResult(const ClipProperties& result, bool probed, std::optional<double> expectedSeconds);

}  // namespace quilmer
