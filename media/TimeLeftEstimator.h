#pragma once
// The time a running join still needs, told from the work that remains rather than from the
// progress bar: every step of the join (probe and conversion of each clip, the copy, each pass of
// the final encode, the one-pass encode, the check of the result) costs a start-up plus a time per
// second of media that depends on the kind of step. The costs start from priors per target format
// and follow what the join measures as it runs: each kind learns from its own finished steps and
// from the running one, and the kinds not seen yet are scaled by how much faster or slower this
// machine is than the priors so far. The figure shown is smoothed, and none is given until enough
// of the join has been measured.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "media/OnePassCost.h"

namespace quilmer {

enum class JoinWork { Probe, Convert, Concatenate, Encode, Mp4Pass1, Mp4Pass2, OnePass, StreamCopy, Check };

struct WorkCost {
    double fixedSeconds = 0;    // start-up of one step, whatever its length
    double perMediaSecond = 0;  // wall seconds per second of media
};

// What a kind of work costs on the machine the priors were measured on, for a target format
// ("avi", "flv", "rmvb", "wmv", "mp4"; the final and the one-pass encodes depend on it).
WorkCost PriorCost(JoinWork work, const std::wstring& format);

class TimeLeftEstimator {
public:
    // Monotonic seconds; the steady clock unless a test brings its own.
    using Clock = std::function<double()>;
    struct Step {
        JoinWork work;
        int clip = -1;  // the clip a probe or a conversion works on; -1: the whole join
    };

    explicit TimeLeftEstimator(Clock clock = {});

    // The steps of a classic join of `clips` clips into format: probe and conversion of each clip,
    // the copy, the final encode (two passes for mp4), the check.
    static std::vector<Step> ClassicPlan(int clips, const std::wstring& format);

    // A new join into format, made of plan in that order, over clips of these lengths in seconds
    // (0 or less: not known yet; such a clip is taken to be as long as the known ones on average).
    void Start(const std::wstring& format, std::vector<double> clipSeconds, std::vector<Step> plan);
    // A clip's length became known (its probe).
    void SetClipSeconds(int clip, double seconds);
    // The length of the joined media, once known (clips left out no longer count).
    void SetJoinedSeconds(double seconds);
    // What a second of each clip costs in the one-pass encode, relative to the others (in clip
    // order; OnePassClipCosts). The encode's position then counts as the work of the clips it has
    // passed, and the rest is costed by the clips still to come.
    void SetClipCosts(std::vector<double> costs);
    // The next step of `work` (on `clip`) begins now; the steps before it have ended, and those
    // skipped did not run. A step not in the rest of the plan is ignored.
    void Begin(JoinWork work, int clip = -1);
    // Seconds of media the running step has done so far.
    void SetDone(double mediaSeconds);
    // The pictures of the clips of a classic join (in clip order), or of one clip once its probe
    // tells: each conversion and the final encode are then costed by the frames they code
    // (ClassicCost), and a pace measured on the conversions carries over whole to the encode.
    void SetClipPictures(const std::vector<PictureWork>& pictures);
    void SetClipPicture(int clip, const PictureWork& picture);
    // Seconds left, smoothed; nullopt before the join has been measured well enough.
    std::optional<double> SecondsLeft();
    // The join ended (finished or stopped): no estimate until the next Start.
    void Stop();

private:
    struct StepPace {
        JoinWork work;
        double pace;  // the step's wall time over what the priors said
    };

    double Now() const;
    double MediaOf(const Step& step) const;
    double AverageClipSeconds() const;
    // An encode's position `seconds` into the joined media as seconds of average work, each clip
    // weighing by its cost per second (none: all alike).
    double WorkUpTo(double seconds, const std::vector<double>& costs) const;
    // What a second of each clip costs in a final encode, from the pictures (none when unknown).
    std::vector<double> FinalEncodeCosts(JoinWork work) const;
    double PaceOf(JoinWork work) const;  // how much slower than its prior this kind goes
    // What a step costs by the priors: the format's, or the pictures' where they are known.
    WorkCost StepPrior(const Step& step) const;
    WorkCost CostOf(const Step& step) const;
    bool CostedByPictures() const;
    bool LastStepMeasured() const;  // the running step is the last on media and has been measured
    int PaceStepsNeeded() const;
    std::optional<double> RawSecondsLeft() const;
    void EndStep(double now);

    Clock clock_;
    std::wstring format_;
    std::vector<double> clipSeconds_;
    std::vector<bool> leftOut_;  // clips whose conversion was skipped
    std::optional<double> joinedSeconds_;
    std::vector<double> clipCosts_;  // empty: every second costs the same
    std::vector<PictureWork> pictures_;
    std::vector<bool> pictureKnown_;
    std::vector<Step> plan_;
    int current_ = -1;  // index in plan_ of the running step
    double stepStart_ = 0;
    double done_ = 0;
    double firstDone_ = 0;  // the running step's first position, and when it came
    double firstDoneAt_ = 0;
    double lastDoneAt_ = 0;  // when the latest position came
    double joinStart_ = 0;
    bool running_ = false;
    std::vector<StepPace> paces_;  // the finished steps, in order
    double mediaWall_ = 0;         // time spent in finished steps on media
    std::optional<double> shown_;
    double shownAt_ = 0;
};

}  // namespace quilmer
