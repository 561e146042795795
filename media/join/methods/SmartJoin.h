#pragma once
// The smart join: the clips that match a reference clip are copied packet for packet, only the
// others are re-encoded to the reference's codec settings, and the pieces are joined by stream
// copy into one file. Where the re-encoded pieces cannot be made to match (another encoder made
// the reference, or its setup data cannot be rebuilt), the join is made in one pass instead and
// the user is told why.

#include "media/CancelFlag.h"
#include "media/TargetFormat.h"
#include "media/join/methods/JoinMethod.h"
#include "media/av/MediaInfo.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace quilmer {

// Whether each clip can be copied next to the reference clip (the reference itself: whether
// the target container can hold it). The one place that decides it.
std::vector<bool> ClipsMatchingReference(const std::vector<std::wstring>& clips, const std::vector<MediaInfo>& infos,
                                         const TargetFormat& target, std::size_t reference);

struct SmartPlan {
    bool possible = false;    // some clips copied, the others re-encoded
    bool worthwhile = false;  // the copied clips hold at least half of the length
    std::size_t reference = 0;
    std::vector<bool> copied;  // per clip
    // When possible: "18 of 20 clips copied as they are, 2 re-encoded to match a.mp4"; else why not.
    std::wstring reason;
};

// The reference is the clip the most length matches (the first of equals), so that one odd
// first clip does not make every other clip odd.
SmartPlan PlanSmartJoin(const std::vector<std::wstring>& clips, const std::vector<MediaInfo>& infos,
                        const TargetFormat& target);

// ChooseMethod with the smart join: `smart` asked for is made when the plan allows it (lossless
// when every clip matches, single otherwise); `auto` takes it when lossless cannot be had and the
// plan is worthwhile.
MethodChoice ChooseJoinMethod(JoinMethod requested, const LosslessVerdict& verdict, const SmartPlan& plan);

// What the join runs through: one run of ffmpeg (counting its progress on from `before`
// microseconds; true when it succeeded) and the copy's progress.
struct SmartRunner {
    std::wstring ffmpeg;
    std::function<bool(const std::vector<std::wstring>& args, std::int64_t before)> encode;
    std::function<void(std::int64_t)> progress;
    bool chapters = false;  // the output gets a chapter per clip (its format must keep them)
};

struct SmartOutcome {
    // Not empty: the pieces cannot match the copied clips; the join must be made another way.
    std::wstring fallback;
    bool encodeFailed = false;  // a run of ffmpeg failed (its exit is the runner's to tell)
    std::wstring failure;       // anything else that stopped the join
    std::int64_t copiedMicros = 0;
};

// Makes the join into `output` in `work` (a folder of this join's own, ending in '/').
SmartOutcome MakeSmartJoin(const std::vector<std::wstring>& clips, const std::vector<MediaInfo>& infos,
                           const SmartPlan& plan, const TargetFormat& target, const std::wstring& work,
                           const std::wstring& output, const SmartRunner& runner, const CancelFlag& cancel);

}  // namespace quilmer
