#pragma once
// The ways a join can be made, and the choice between them. `classic` is the pipeline of the
// folder above (every clip converted to an intermediate, joined, encoded again); the others run
// the real ffmpeg once on all clips: `lossless` copies the packets (the clips must agree with
// each other and fit the target container), `single` decodes each clip once and encodes the
// target once, `smart` copies the clips that match and re-encodes only the others (SmartJoin.h),
// `auto` takes lossless when it can, smart when most of the clips match, and single otherwise.

#include "media/TargetFormat.h"
#include "media/av/MediaInfo.h"

#include <optional>
#include <string>
#include <vector>

namespace quilmer {

enum class JoinMethod { Classic, Lossless, Single, Auto, Smart };

// "classic", "lossless", "single", "auto", "smart"; nullopt for anything else.
std::optional<JoinMethod> ParseJoinMethod(const std::string& name);
const char* JoinMethodName(JoinMethod method);

// The verdict on joining clips by stream copy into a target format.
struct LosslessVerdict {
    bool possible = false;
    // When not possible: names the first clip that stands in the way and the property, e.g.
    // "b.mp4 differs from the first clip in frame size: 1280x720, not 640x360".
    std::wstring refusal;
    // When possible: what the clips share, e.g. "all 20 clips share h264 640x360 25 fps, aac
    // 44100 Hz stereo".
    std::wstring summary;
};

// `clips` are the clip paths (for the messages), `infos` their reports in the same order.
LosslessVerdict CheckLossless(const std::vector<std::wstring>& clips, const std::vector<MediaInfo>& infos,
                              const TargetFormat& target);

// Whether the target container can hold a stream of this codec without re-encoding.
bool ContainerHoldsVideo(const TargetFormat& target, const std::string& codec);
bool ContainerHoldsAudio(const TargetFormat& target, const std::string& codec);

// The method a request comes to, with the reason shown to the user. A `lossless` request that
// cannot be met stays `lossless` (the join then refuses with verdict.refusal).
struct MethodChoice {
    JoinMethod method = JoinMethod::Single;
    std::wstring reason;
};
MethodChoice ChooseMethod(JoinMethod requested, const LosslessVerdict& verdict);

}  // namespace quilmer
