#include "media/join/PipelineTimeLeft.h"

#include "media/EncoderCommands.h"
#include "media/join/ResultCheck.h"

#include <cwchar>

namespace quilmer {

PictureWork PictureOf(const ClipProperties& probe) {
    PictureWork p;
    int width = 0, height = 0;
    if (std::swscanf(probe.resolution.c_str(), L"%dx%d", &width, &height) != 2 || width <= 0 || height <= 0 ||
        width > 16384 || height > 16384)
        return p;
    p.width = width;
    p.height = height;
    p.fps = FrameRateFromProbe(probe);
    for (wchar_t c : probe.videoCodec) p.codec += c > 0 && c < 128 ? static_cast<char>(c) : '?';
    return p;
}

void PipelineTimeLeft::Start(const JoinState& state) {
    std::vector<double> seconds = std::move(hint_);
    hint_.clear();
    seconds.resize(state.clips.size(), 0);
    const int count = static_cast<int>(state.clips.size());
    estimator_.Start(state.targetFormat, std::move(seconds),
                     TimeLeftEstimator::ClassicPlan(count, state.targetFormat));
    for (std::size_t i = 0; i < pictures_.size(); ++i)
        if (pictures_[i]) estimator_.SetClipPicture(static_cast<int>(i), *pictures_[i]);
    pictures_.clear();
}

void PipelineTimeLeft::PhaseBegins(const JoinState& state, JoinPhase phase,
                                   std::optional<double> joinedSeconds) {
    const int next = static_cast<int>(state.nextClipIndex);
    switch (phase) {
        case JoinPhase::Probing:
            estimator_.Begin(JoinWork::Probe, next);
            break;
        case JoinPhase::Converting:
            // The clip has just been taken from the queue, and its probe tells its length.
            if (std::optional<double> seconds = DurationSeconds(state.probe.duration))
                estimator_.SetClipSeconds(next - 1, *seconds);
            estimator_.SetClipPicture(next - 1, PictureOf(state.probe));
            estimator_.Begin(JoinWork::Convert, next - 1);
            break;
        case JoinPhase::Concatenating:
            if (joinedSeconds) estimator_.SetJoinedSeconds(*joinedSeconds);
            estimator_.Begin(JoinWork::Concatenate);
            break;
        case JoinPhase::EncodingMp4Pass1:
            estimator_.Begin(JoinWork::Mp4Pass1);
            break;
        case JoinPhase::EncodingMp4Pass2:
            estimator_.Begin(JoinWork::Mp4Pass2);
            break;
        case JoinPhase::CheckingResult:
            estimator_.Begin(JoinWork::Check);
            break;
        default:
            if (IsFinalEncode(phase)) estimator_.Begin(JoinWork::Encode);
            break;
    }
}

double PipelineTimeLeft::Tick(const JoinState& state) {
    // Only these steps read a position from the encoder; the copy's counters are a placeholder.
    // The counter holds whole seconds cut toward zero: half a second more on average.
    if (state.phase == JoinPhase::Converting || IsFinalEncode(state.phase)) {
        const std::int64_t done = state.counters.Snapshot().doneSeconds;
        estimator_.SetDone(done > 0 ? static_cast<double>(done) + 0.5 : 0);
    }
    std::optional<double> left = estimator_.SecondsLeft();
    return left ? *left : -1;
}

}  // namespace quilmer
