#include "media/TimeLeftEstimator.h"

#include "media/ClassicCost.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace quilmer {

namespace {

// How much the pace of the kind weighs against the running step's own: seconds of media.
constexpr double kPriorMediaSeconds = 3;
// The encoders report their position about twice a second; a report this late is overdue.
constexpr double kReportGapSeconds = 1;
// The pace of a kind of work is the median of its last steps.
constexpr std::size_t kPaceSteps = 7;
// An estimate is given once the join has run this long and this much of it was work on media.
constexpr double kTrustElapsed = 2;
constexpr double kTrustEvidence = 1.5;
constexpr double kTrustShareOfStep = 0.1;
// A join in one step is trusted once its positions have come in for this long: the encoder
// reports twice a second, and its pace swings in its first seconds.
constexpr double kTrustMovingSeconds = 2;
// A join that is about to end gets no figure: in whole seconds, redrawn once a second, a figure
// of a few seconds is off by more than the rest of the join is worth. Once shown, it stays.
constexpr double kShortestFirstFigure = 4;
// The shown figure counts down by itself; it follows a new estimate with this time constant, only
// when the two differ by more than the band, and by at most a share of what is left per second:
// less when it rises, since a moment's slow progress at the start of a step is no reason to add a
// third to a long wait.
constexpr double kFollowSeconds = 1.0;
constexpr double kBandSeconds = 0.2;
constexpr double kBandShare = 0.05;
constexpr double kMaxChangeShare = 0.3;
constexpr double kMaxChangeSeconds = 1;
constexpr double kMaxRiseShare = 0.1;
// Once the last step on media has reported its position for this long, what is left is that
// step's own measure: a figure above it comes down to it at once (one below it still rises
// only gradually, so that one slow moment does not make it leap).
constexpr double kMeasuredSeconds = 1;
constexpr double kFollowMeasuredSeconds = 0.3;

bool WorksOnMedia(JoinWork work) { return work != JoinWork::Probe; }

// A pass of the classic join's final encode.
bool IsFinalEncode(JoinWork work) {
    return work == JoinWork::Encode || work == JoinWork::Mp4Pass1 || work == JoinWork::Mp4Pass2;
}

// The steps whose pace tells how fast this machine is with these clips; the probes, the copy and
// the check are too short to say.
bool SetsThePace(JoinWork work) {
    return work != JoinWork::Probe && work != JoinWork::Concatenate && work != JoinWork::Check;
}

}  // namespace

WorkCost PriorCost(JoinWork work, const std::wstring& format) {
    // Measured with bench/timeleft on a two-core machine (seconds of wall time per second of media,
    // between the synthesised and the real clips); another machine, or clips that are harder to
    // decode, are followed by the pace the join measures.
    switch (work) {
    case JoinWork::Probe: return {0.15, 0};
    case JoinWork::Convert: return {0.3, 0.012};  // two program starts and a probe before the first frame
    case JoinWork::Concatenate: return {0.2, 0.002};
    case JoinWork::Check: return {0.1, 0};
    case JoinWork::StreamCopy: return {0.1, 0.002};
    case JoinWork::Mp4Pass1: return {0.3, 0.044};
    case JoinWork::Mp4Pass2: return {0.3, 0.12};
    case JoinWork::Encode:
        if (format == L"avi") return {0.3, 0.025};
        if (format == L"flv") return {0.3, 0.019};
        if (format == L"rmvb") return {0.3, 0.023};
        if (format == L"wmv") return {0.3, 0.021};
        return {0.3, 0.03};
    case JoinWork::OnePass:
        // One start that opens every clip.
        if (format == L"avi") return {0.5, 0.026};
        if (format == L"flv") return {0.5, 0.013};
        if (format == L"rmvb") return {0.5, 0.008};
        if (format == L"wmv") return {0.5, 0.008};
        if (format == L"mp4") return {0.5, 0.12};
        return {0.5, 0.03};
    }
    return {0.1, 0.05};
}

TimeLeftEstimator::TimeLeftEstimator(Clock clock) : clock_(std::move(clock)) {
    if (!clock_) {
        clock_ = [] {
            return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
        };
    }
}

std::vector<TimeLeftEstimator::Step> TimeLeftEstimator::ClassicPlan(int clips, const std::wstring& format) {
    std::vector<Step> plan;
    for (int i = 0; i < clips; ++i) {
        plan.push_back({JoinWork::Probe, i});
        plan.push_back({JoinWork::Convert, i});
    }
    plan.push_back({JoinWork::Concatenate});
    if (format == L"mp4") {
        plan.push_back({JoinWork::Mp4Pass1});
        plan.push_back({JoinWork::Mp4Pass2});
    } else {
        plan.push_back({JoinWork::Encode});
    }
    plan.push_back({JoinWork::Check});
    return plan;
}

double TimeLeftEstimator::Now() const { return clock_(); }

void TimeLeftEstimator::Start(const std::wstring& format, std::vector<double> clipSeconds,
                              std::vector<Step> plan) {
    format_ = format;
    clipSeconds_ = std::move(clipSeconds);
    leftOut_.assign(clipSeconds_.size(), false);
    joinedSeconds_.reset();
    clipCosts_.clear();
    pictures_.assign(clipSeconds_.size(), PictureWork{});
    pictureKnown_.assign(clipSeconds_.size(), false);
    plan_ = std::move(plan);
    current_ = -1;
    done_ = 0;
    paces_.clear();
    mediaWall_ = 0;
    shown_.reset();
    joinStart_ = stepStart_ = Now();
    running_ = true;
}

void TimeLeftEstimator::Stop() {
    running_ = false;
    shown_.reset();
}

void TimeLeftEstimator::SetClipSeconds(int clip, double seconds) {
    if (clip >= 0 && static_cast<std::size_t>(clip) < clipSeconds_.size() && seconds > 0)
        clipSeconds_[clip] = seconds;
}

void TimeLeftEstimator::SetJoinedSeconds(double seconds) {
    if (seconds > 0) joinedSeconds_ = seconds;
}

void TimeLeftEstimator::SetClipCosts(std::vector<double> costs) {
    if (costs.size() != clipSeconds_.size() ||
        std::any_of(costs.begin(), costs.end(), [](double c) { return !(c > 0) || !std::isfinite(c); }))
        costs.clear();  // none, or not what these clips cost: every second alike
    clipCosts_ = std::move(costs);
}

void TimeLeftEstimator::SetClipPictures(const std::vector<PictureWork>& pictures) {
    for (std::size_t i = 0; i < pictures.size(); ++i) SetClipPicture(static_cast<int>(i), pictures[i]);
}

void TimeLeftEstimator::SetClipPicture(int clip, const PictureWork& picture) {
    if (clip < 0 || static_cast<std::size_t>(clip) >= pictures_.size()) return;
    pictures_[clip] = picture;
    pictureKnown_[clip] = true;
}

bool TimeLeftEstimator::CostedByPictures() const {
    return std::find(pictureKnown_.begin(), pictureKnown_.end(), true) != pictureKnown_.end();
}

WorkCost TimeLeftEstimator::StepPrior(const Step& step) const {
    const WorkCost prior = PriorCost(step.work, format_);
    if (step.work == JoinWork::Check && std::any_of(plan_.begin(), plan_.end(), [](const Step& s) {
            return s.work == JoinWork::Convert;
        })) {
        const StepSeconds check = ClassicCheckCost(format_);
        return {check.fixed, check.perSecond};
    }
    if (!CostedByPictures() || !(IsFinalEncode(step.work) || step.work == JoinWork::Convert)) return prior;
    // A clip whose picture is not known yet costs what the known ones do on average.
    auto perSecondOf = [this](auto&& cost) {
        double sum = 0;
        int count = 0;
        for (std::size_t i = 0; i < pictures_.size(); ++i)
            if (pictureKnown_[i] && !leftOut_[i]) {
                sum += cost(pictures_[i]);
                ++count;
            }
        return count > 0 ? sum / count : 0.0;
    };
    if (step.work == JoinWork::Convert) {
        auto conversion = [](const PictureWork& p) { return ClassicConversionCost(p).perSecond; };
        const bool known = step.clip >= 0 && static_cast<std::size_t>(step.clip) < pictures_.size() &&
                           pictureKnown_[step.clip];
        const StepSeconds c = ClassicConversionCost(known ? pictures_[step.clip] : PictureWork{});
        return {c.fixed, known ? c.perSecond : perSecondOf(conversion)};
    }
    // Every clip's converted frames are coded at the first clip's frame.
    const std::vector<double> costs = FinalEncodeCosts(step.work);
    const double clipAverage = AverageClipSeconds();
    double seconds = 0, work = 0, sum = 0;
    for (std::size_t i = 0; i < clipSeconds_.size(); ++i) {
        sum += costs[i];
        if (leftOut_[i]) continue;
        const double length = clipSeconds_[i] > 0 ? clipSeconds_[i] : clipAverage;
        seconds += length;
        work += length * costs[i];
    }
    const double average = costs.empty() ? 0 : sum / static_cast<double>(costs.size());
    return {prior.fixedSeconds, seconds > 0 ? work / seconds : average};
}

double TimeLeftEstimator::AverageClipSeconds() const {
    double known = 0;
    int count = 0;
    for (std::size_t i = 0; i < clipSeconds_.size(); ++i)
        if (!leftOut_[i] && clipSeconds_[i] > 0) {
            known += clipSeconds_[i];
            ++count;
        }
    return count > 0 ? known / count : 0;
}

double TimeLeftEstimator::WorkUpTo(double seconds, const std::vector<double>& costs) const {
    if (costs.size() != clipSeconds_.size()) return seconds;
    // The costs are scaled so that the whole join is as much work as seconds it lasts.
    const double average = AverageClipSeconds();
    double length = 0, work = 0, done = 0;
    for (std::size_t i = 0; i < clipSeconds_.size(); ++i) {
        if (leftOut_[i]) continue;
        const double clip = clipSeconds_[i] > 0 ? clipSeconds_[i] : average;
        done += costs[i] * std::clamp(seconds - length, 0.0, clip);
        work += costs[i] * clip;
        length += clip;
    }
    if (work <= 0) return seconds;
    // Past the clips' known lengths (a clip longer than its header said) at the average cost.
    return done * length / work + std::max(seconds - length, 0.0);
}

std::vector<double> TimeLeftEstimator::FinalEncodeCosts(JoinWork work) const {
    if (!CostedByPictures()) return {};
    const FinalPass pass = work == JoinWork::Mp4Pass1 ? FinalPass::Mp4First
                           : work == JoinWork::Mp4Pass2 ? FinalPass::Mp4Second
                                                        : FinalPass::Only;
    PictureWork frame;
    for (std::size_t i = 0; i < pictures_.size(); ++i)
        if (pictureKnown_[i]) {
            frame = pictures_[i];
            break;
        }
    std::vector<double> costs(pictures_.size(), 0);
    double sum = 0;
    int known = 0;
    for (std::size_t i = 0; i < pictures_.size(); ++i)
        if (pictureKnown_[i]) {
            costs[i] = ClassicEncodePerSecond(pictures_[i], frame, format_, pass);
            sum += costs[i];
            ++known;
        }
    // A clip whose picture is not known yet costs what the known ones do on average.
    for (std::size_t i = 0; i < pictures_.size(); ++i)
        if (!pictureKnown_[i]) costs[i] = sum / known;
    return costs;
}

double TimeLeftEstimator::MediaOf(const Step& step) const {
    if (!WorksOnMedia(step.work)) return 0;
    double known = 0;
    int knownCount = 0, unknownCount = 0;
    for (std::size_t i = 0; i < clipSeconds_.size(); ++i) {
        if (leftOut_[i]) continue;
        if (clipSeconds_[i] > 0) {
            known += clipSeconds_[i];
            ++knownCount;
        } else {
            ++unknownCount;
        }
    }
    const double average = knownCount > 0 ? known / knownCount : 0;
    if (step.clip >= 0) {
        double s = static_cast<std::size_t>(step.clip) < clipSeconds_.size() ? clipSeconds_[step.clip] : 0;
        return s > 0 ? s : average;
    }
    if (joinedSeconds_) return *joinedSeconds_;
    return known + average * unknownCount;
}

double TimeLeftEstimator::PaceOf(JoinWork work) const {
    // The median of the last finished steps of this kind; a kind not seen yet goes at the pace of
    // the steps on media so far. A median keeps one odd step from setting the pace of the rest.
    auto median = [this](auto&& counts) {
        std::vector<double> values;
        for (auto it = paces_.rbegin(); it != paces_.rend() && values.size() < kPaceSteps; ++it)
            if (counts(it->work)) values.push_back(it->pace);
        if (values.empty()) return 0.0;
        std::sort(values.begin(), values.end());
        const std::size_t n = values.size();
        return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    };
    double pace = median([work](JoinWork w) { return w == work; });
    // The short steps (probes, the copy, the check) go by their own measure or their prior.
    if (!SetsThePace(work)) return pace > 0 ? std::clamp(pace, 0.05, 20.0) : 1.0;
    // The second pass of mp4 reads the same joined frames as the first and encodes them with
    // the same encoder at the same size: the first pass's pace carries over whole.
    if (pace <= 0 && work == JoinWork::Mp4Pass2) pace = median([](JoinWork w) { return w == JoinWork::Mp4Pass1; });
    // Another kind's pace says only half of what it would for this one: part of it is this
    // machine's speed, part what these clips cost beyond what the priors know of them (the
    // pictures' contents, the load of the moment), which the final encodes need not share.
    if (pace <= 0) pace = std::sqrt(median([](JoinWork w) { return SetsThePace(w); }));
    if (pace <= 0 && current_ >= 0 && done_ > 0) {
        // Nothing finished yet: the running step so far.
        const WorkCost prior = StepPrior(plan_[current_]);
        pace = (Now() - stepStart_) / (prior.fixedSeconds + prior.perMediaSecond * done_);
    }
    return pace > 0 ? std::clamp(pace, 0.05, 20.0) : 1.0;
}

WorkCost TimeLeftEstimator::CostOf(const Step& step) const {
    const WorkCost prior = StepPrior(step);
    const double pace = PaceOf(step.work);
    return {prior.fixedSeconds * pace, prior.perMediaSecond * pace};
}

int TimeLeftEstimator::PaceStepsNeeded() const {
    // A classic join has a pace once a few conversions are measured; a join in one step only has
    // the running step to go by.
    int conversions = 0;
    for (const Step& step : plan_) conversions += step.work == JoinWork::Convert;
    return std::min(conversions, 3);
}

std::optional<double> TimeLeftEstimator::RawSecondsLeft() const {
    if (!running_ || current_ < 0) return std::nullopt;
    const double now = Now();
    const Step& step = plan_[current_];
    const WorkCost cost = CostOf(step);
    const double media = MediaOf(step);
    const double inStep = now - stepStart_;
    const bool moving = done_ > 0 && media > 0 && WorksOnMedia(step.work);
    double left;
    double rate = 0;
    if (moving) {
        // The running step's own pace from its first position to its latest (its start-up left
        // out; the time since the latest counts only once the next is overdue, or each wait
        // between reports would read as a stall), the kind's pace counting as a few seconds of media.
        const double measured =
            (lastDoneAt_ - firstDoneAt_) + std::max(now - lastDoneAt_ - kReportGapSeconds, 0.0);
        rate = (measured + cost.perMediaSecond * kPriorMediaSeconds) /
               (done_ - firstDone_ + kPriorMediaSeconds);
        left = std::max(media - done_, 0.0) * rate;
    } else {
        left = std::max(cost.fixedSeconds + media * cost.perMediaSecond - inStep, 0.0);
    }
    for (std::size_t i = static_cast<std::size_t>(current_) + 1; i < plan_.size(); ++i) {
        WorkCost next = CostOf(plan_[i]);
        const WorkCost prior = StepPrior(plan_[i]);
        if (rate > 0 && step.work == JoinWork::Mp4Pass1 && plan_[i].work == JoinWork::Mp4Pass2) {
            // The second pass at the running first pass's pace (see PaceOf).
            const double pace = std::clamp(rate / StepPrior(step).perMediaSecond, 0.05, 20.0);
            next = {prior.fixedSeconds * pace, prior.perMediaSecond * pace};
        }
        left += next.fixedSeconds + MediaOf(plan_[i]) * next.perMediaSecond;
    }

    // Trusted once enough of the media work has been measured, with the lengths to scale it.
    const double evidence = mediaWall_ + (moving ? inStep : 0);
    int paced = 0;
    for (const StepPace& p : paces_) paced += SetsThePace(p.work);
    const bool lengthKnown = joinedSeconds_ || std::any_of(clipSeconds_.begin(), clipSeconds_.end(),
                                                           [](double s) { return s > 0; });
    if (!lengthKnown || evidence < kTrustEvidence || now - joinStart_ < kTrustElapsed ||
        paced < PaceStepsNeeded())
        return std::nullopt;
    // A join in one step goes by that step alone: past its start-up, a tenth of it must be done.
    if (paced == 0 &&
        !(moving && done_ >= kTrustShareOfStep * media && now - firstDoneAt_ >= kTrustMovingSeconds))
        return std::nullopt;
    return left;
}

bool TimeLeftEstimator::LastStepMeasured() const {
    if (!running_ || current_ < 0 || !WorksOnMedia(plan_[current_].work) || done_ <= 0) return false;
    for (std::size_t i = static_cast<std::size_t>(current_) + 1; i < plan_.size(); ++i)
        if (SetsThePace(plan_[i].work)) return false;
    const double media = MediaOf(plan_[current_]);
    return Now() - firstDoneAt_ >= kMeasuredSeconds && done_ >= kTrustShareOfStep * media;
}

std::optional<double> TimeLeftEstimator::SecondsLeft() {
    std::optional<double> raw = RawSecondsLeft();
    if (!raw)
        return shown_ ? std::optional<double>(std::max(*shown_ - (Now() - shownAt_), 0.0)) : std::nullopt;
    const double now = Now();
    if (!shown_) {
        if (*raw < kShortestFirstFigure) return std::nullopt;
        shown_ = *raw;
        shownAt_ = now;
        return shown_;
    }
    const double dt = std::max(now - shownAt_, 0.0);
    const double counted = std::max(*shown_ - dt, 0.0);  // where the last figure has counted down to
    const double gap = *raw - counted;
    double next = counted;
    if (std::abs(gap) > std::max(kBandSeconds, kBandShare * counted)) {
        if (gap < 0 && LastStepMeasured()) {
            next += gap * (1 - std::exp(-dt / kFollowMeasuredSeconds));
        } else {
            const double fall = (kMaxChangeShare * counted + kMaxChangeSeconds) * dt;
            const double rise = (kMaxRiseShare * counted + kMaxChangeSeconds) * dt;
            next += std::clamp(gap * (1 - std::exp(-dt / kFollowSeconds)), -fall, rise);
        }
    }
    shown_ = std::max(next, 0.0);
    shownAt_ = now;
    return shown_;
}

void TimeLeftEstimator::EndStep(double now) {
    const Step& step = plan_[current_];
    const double wall = std::max(now - stepStart_, 0.0);
    const double media = MediaOf(step);
    if (WorksOnMedia(step.work)) mediaWall_ += wall;
    const WorkCost prior = StepPrior(step);
    const double predicted = prior.fixedSeconds + prior.perMediaSecond * media;
    if (predicted > 0) paces_.push_back({step.work, wall / predicted});
}

void TimeLeftEstimator::Begin(JoinWork work, int clip) {
    if (!running_) return;
    for (std::size_t i = static_cast<std::size_t>(current_ + 1); i < plan_.size(); ++i) {
        if (plan_[i].work != work || plan_[i].clip != clip) continue;
        const double now = Now();
        if (current_ >= 0) EndStep(now);
        // A conversion skipped is a clip left out: it no longer counts towards the joined length.
        for (std::size_t j = static_cast<std::size_t>(current_ + 1); j < i; ++j)
            if (plan_[j].work == JoinWork::Convert && plan_[j].clip >= 0 &&
                static_cast<std::size_t>(plan_[j].clip) < leftOut_.size())
                leftOut_[plan_[j].clip] = true;
        current_ = static_cast<int>(i);
        stepStart_ = now;
        done_ = firstDone_ = 0;
        return;
    }
}

void TimeLeftEstimator::SetDone(double mediaSeconds) {
    if (!running_ || current_ < 0) return;
    // The encoder's position as the work of the clips it has passed: in the one-pass encode by
    // what each clip costs to read and encode, in the final encode by the frames each clip's
    // intermediate brings.
    const JoinWork work = plan_[current_].work;
    if (work == JoinWork::OnePass) {
        mediaSeconds = WorkUpTo(mediaSeconds, clipCosts_);
    } else if (IsFinalEncode(work)) {
        mediaSeconds = WorkUpTo(mediaSeconds, FinalEncodeCosts(work));
    }
    const double now = Now();
    if (done_ <= 0 && mediaSeconds > 0) {
        firstDone_ = mediaSeconds;
        firstDoneAt_ = now;
    }
    if (mediaSeconds != done_) lastDoneAt_ = now;  // the counters are read more often than they move
    done_ = std::max(mediaSeconds, 0.0);
}

}  // namespace quilmer
