#pragma once
// The time-left estimate of the classic join: follows the pipeline's steps and counters and asks
// the estimator once a tick what to show.

#include <optional>
#include <vector>

#include "media/JoinPhase.h"
#include "media/TimeLeftEstimator.h"
#include "media/join/JoinState.h"

namespace quilmer {

class PipelineTimeLeft {
public:
    explicit PipelineTimeLeft(TimeLeftEstimator::Clock clock = {}) : estimator_(std::move(clock)) {}

    // Lengths of the clips of the next join that the caller already knows (in clip order; 0 or
    // less where unknown). The join learns each length from its own probe otherwise.
    void SetClipSecondsHint(std::vector<double> seconds) { hint_ = std::move(seconds); }
    // And their pictures, from their probes (nullopt where unknown), which cost the conversions
    // and the final encode before they run.
    void SetClipPicturesHint(std::vector<std::optional<PictureWork>> pictures) { pictures_ = std::move(pictures); }
    // A join of state.clips into state.targetFormat starts now.
    void Start(const JoinState& state);
    // The pipeline entered phase (state as it stands then); joinedSeconds is the length of the
    // converted clips once the concatenation begins, when known.
    void PhaseBegins(const JoinState& state, JoinPhase phase, std::optional<double> joinedSeconds);
    // Once a tick: the seconds to show as left, negative while no estimate can be trusted.
    double Tick(const JoinState& state);
    void Stop() { estimator_.Stop(); }

private:
    TimeLeftEstimator estimator_;
    std::vector<double> hint_;
    std::vector<std::optional<PictureWork>> pictures_;
};

// The picture a probe describes ("640x360 pixels", "25 fps", "h264"); none for a sound-only clip.
PictureWork PictureOf(const ClipProperties& probe);

}  // namespace quilmer
