#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <vector>

#include "media/ClassicCost.h"
#include "media/OnePassCost.h"
#include "media/TimeLeftEstimator.h"

namespace quilmer {
namespace {

// A join played out against a clock the test moves: every step takes its true time, the running
// step reports whole seconds of media done (as the encoder's counters do), and the estimate is
// looked at every half second and compared with the time that really remained.
struct Sample {
    double at;
    std::optional<double> shown;
    double remaining;
};

struct TrueStep {
    TimeLeftEstimator::Step step;
    double media;        // seconds of media the step works on
    double seconds;      // what it really takes
    double startUp = 0;  // of which the first part passes before any media is done
};

class Join {
public:
    Join(const std::wstring& format, std::vector<double> clipSeconds, std::vector<TrueStep> steps,
         std::vector<double> hint = {}, double lookEvery = 0.5)
        : steps_(std::move(steps)),
          lookEvery_(lookEvery),
          clipSeconds_(std::move(clipSeconds)),
          estimator_([this] { return now_; }) {
        std::vector<TimeLeftEstimator::Step> plan;
        if (hint.empty()) hint.assign(clipSeconds_.size(), 0);
        for (const TrueStep& s : steps_) plan.push_back(s.step);
        estimator_.Start(format, hint, plan);
    }
    void Pictures(const std::vector<PictureWork>& pictures) { estimator_.SetClipPictures(pictures); }

    std::vector<Sample> Run() {
        double total = 0;
        for (const TrueStep& s : steps_) total += s.seconds;
        std::vector<Sample> samples;
        double nextLook = 0;
        for (const TrueStep& s : steps_) {
            if (s.step.clip >= 0 && s.step.work == JoinWork::Convert)
                estimator_.SetClipSeconds(s.step.clip, clipSeconds_[s.step.clip]);
            estimator_.Begin(s.step.work, s.step.clip);
            const double begin = now_;
            while (nextLook < begin + s.seconds) {
                now_ = nextLook;
                // The encoder reports twice a second; a look between two reports reads the last.
                const double reported = std::max(std::floor(now_ / 0.5) * 0.5, begin);
                if (s.step.work != JoinWork::Probe && s.step.work != JoinWork::Concatenate &&
                    s.step.work != JoinWork::Check)
                    estimator_.SetDone(std::floor(s.media * std::max(reported - begin - s.startUp, 0.0) /
                                                  (s.seconds - s.startUp)) +
                                       0.5);
                samples.push_back({now_, estimator_.SecondsLeft(), total - now_});
                nextLook += lookEvery_;
            }
            now_ = begin + s.seconds;
        }
        return samples;
    }

private:
    std::vector<TrueStep> steps_;
    double lookEvery_;
    std::vector<double> clipSeconds_;
    double now_ = 0;
    TimeLeftEstimator estimator_;
};

// The steps of a classic join whose every kind of work costs `slower` times its prior; the first
// conversion may take longer still.
std::vector<TrueStep> ClassicJoin(const std::wstring& format, const std::vector<double>& clips, double slower,
                                  double firstConversionFactor = 1) {
    std::vector<TrueStep> steps;
    double total = 0;
    for (double c : clips) total += c;
    for (const auto& step : TimeLeftEstimator::ClassicPlan(static_cast<int>(clips.size()), format)) {
        double media = step.clip >= 0 ? clips[step.clip] : total;
        if (step.work == JoinWork::Probe) media = 0;
        WorkCost prior = PriorCost(step.work, format);
        if (step.work == JoinWork::Check) prior = {ClassicCheckCost(format).fixed, ClassicCheckCost(format).perSecond};
        double seconds = slower * (prior.fixedSeconds + prior.perMediaSecond * media);
        if (step.work == JoinWork::Convert && step.clip == 0) seconds *= firstConversionFactor;
        steps.push_back({step, media, seconds, slower * prior.fixedSeconds});
    }
    return steps;
}

double Error(const Sample& s) { return std::abs(*s.shown - s.remaining) / std::max(s.remaining, 2.0); }

// Median and worst error of the estimates shown after 10 % of the join.
std::pair<double, double> Score(const std::vector<Sample>& samples) {
    std::vector<double> errors;
    const double wall = samples.front().remaining;
    for (const Sample& s : samples)
        if (s.at >= 0.1 * wall && s.shown) errors.push_back(Error(s));
    if (errors.empty()) return {1e9, 1e9};
    std::sort(errors.begin(), errors.end());
    return {errors[errors.size() / 2], errors.back()};
}

// A classic join whose steps take what the pictures make them cost: each conversion by its clip's
// own frame and decoder, the final encode by the first clip's frame.
std::vector<TrueStep> ClassicJoinOf(const std::wstring& format, const std::vector<double>& clips,
                                    const std::vector<PictureWork>& pictures) {
    std::vector<TrueStep> steps = ClassicJoin(format, clips, 1);
    for (TrueStep& s : steps) {
        if (s.step.work == JoinWork::Convert) {
            const StepSeconds c = ClassicConversionCost(pictures[s.step.clip]);
            s.seconds = c.fixed + c.perSecond * clips[s.step.clip];
            s.startUp = c.fixed;
        } else if (s.step.work == JoinWork::Encode) {
            double seconds = 0;
            for (std::size_t i = 0; i < clips.size(); ++i)
                seconds += clips[i] * ClassicEncodePerSecond(pictures[i], pictures[0], format, FinalPass::Only);
            s.seconds = s.startUp + seconds;
        }
    }
    return steps;
}

TEST(TimeLeftEstimator, AClassicJoinCostsItsStepsByTheClipsPictures) {
    // A large first clip sets the frame of the final encode, and small cheap clips follow: their
    // conversions go fast, the final encode of their frames at the large frame does not. By the
    // format's priors alone, the conversions' pace makes the final encode look quick; the
    // pictures tell what it costs before it starts.
    const std::vector<double> clips = {30, 60, 60, 60, 60, 60};
    std::vector<PictureWork> pictures = {{"h264", 1280, 720, 30}};
    // At the first clip's rate, so that a second of every clip costs about the same to encode and
    // the encoder's position moves evenly, as this test moves it.
    for (int i = 1; i < 6; ++i) pictures.push_back({"mpeg4", 176, 144, 30});
    const std::vector<TrueStep> steps = ClassicJoinOf(L"flv", clips, pictures);

    // What it says while the clips are converted, before the final encode tells its own pace.
    double encodeBegins = 0;
    for (const TrueStep& s : steps) {
        if (s.step.work == JoinWork::Encode) break;
        encodeBegins += s.seconds;
    }
    auto worstBeforeTheEncode = [&](const std::vector<Sample>& samples) {
        double worst = 0;
        for (const Sample& s : samples)
            if (s.at < encodeBegins && s.shown) worst = std::max(worst, Error(s));
        return worst;
    };
    Join byPictures(L"flv", clips, steps, clips);
    byPictures.Pictures(pictures);
    const std::vector<Sample> samples = byPictures.Run();
    EXPECT_LE(worstBeforeTheEncode(samples), 0.30);
    auto [median, worst] = Score(samples);
    EXPECT_LE(median, 0.15);
    EXPECT_LE(worst, 0.30);

    Join byFormat(L"flv", clips, steps, clips);
    EXPECT_GT(worstBeforeTheEncode(byFormat.Run()), 0.5) << "the format's priors alone should be far off";
}

TEST(ClassicCosts, FollowTheFramesEachStepCodes) {
    // A conversion codes the clip's own frame at 20 fps at the least, and pays for its decoder.
    const StepSeconds small = ClassicConversionCost({"mpeg4", 176, 144, 15});
    const StepSeconds vga = ClassicConversionCost({"mpeg4", 640, 480, 15});
    const StepSeconds vgaH264 = ClassicConversionCost({"h264", 640, 480, 15});
    EXPECT_GT(vga.perSecond, 8 * small.perSecond);
    EXPECT_GT(vgaH264.perSecond, vga.perSecond);
    const double slow = ClassicConversionCost({"mpeg4", 640, 480, 10}).perSecond;
    EXPECT_NEAR(slow, vga.perSecond, 0.1 * vga.perSecond) << "both are coded at 20 fps";
    EXPECT_GT(ClassicConversionCost({"mpeg4", 640, 480, 30}).perSecond, 1.4 * vga.perSecond);
    // A sound-only clip still gets a picture (black frames), so it costs something.
    EXPECT_GT(ClassicConversionCost({}).perSecond, 0);
    // The final encode codes every clip at the first clip's frame: a small clip costs nearly what
    // a clip of that frame does, and mp4's second pass far more than its first.
    const PictureWork frame{"h264", 640, 480, 25};
    const double same = ClassicEncodePerSecond(frame, frame, L"flv", FinalPass::Only);
    const double fitted = ClassicEncodePerSecond({"mpeg4", 176, 144, 25}, frame, L"flv", FinalPass::Only);
    EXPECT_GT(fitted, 0.8 * same);
    // A wide clip that only gains borders above and below is spared the scaler: it costs less
    // than one of fewer pixels that must be scaled.
    EXPECT_EQ(FitOf({"mpeg4", 640, 360, 25}, frame), Fit::Padded);
    EXPECT_EQ(FitOf({"mpeg4", 480, 480, 25}, frame), Fit::Padded);
    EXPECT_EQ(FitOf({"mpeg4", 640, 500, 25}, frame), Fit::Scaled);
    EXPECT_EQ(FitOf(frame, frame), Fit::Same);
    const double bordered = ClassicEncodePerSecond({"mpeg4", 640, 360, 25}, frame, L"flv", FinalPass::Only);
    const double scaled = ClassicEncodePerSecond({"mpeg4", 560, 400, 25}, frame, L"flv", FinalPass::Only);
    EXPECT_LT(bordered, scaled);
    EXPECT_GT(ClassicEncodePerSecond(frame, frame, L"mp4", FinalPass::Mp4Second),
              2 * ClassicEncodePerSecond(frame, frame, L"mp4", FinalPass::Mp4First));
}

TEST(TimeLeftEstimator, FollowsStepsOfDifferentCost) {
    // Ten clips into mp4: the two final passes cost far more than the conversions, and the clips
    // are twice as hard to decode as the priors assume. The share of the progress bar (half for
    // the conversions) would put the end far too early; the estimator follows the work that
    // remains.
    std::vector<double> clips = {8, 24, 8, 24, 8, 24, 8, 24, 8, 24};
    std::vector<TrueStep> steps = ClassicJoin(L"mp4", clips, 1);
    for (TrueStep& s : steps)
        if (s.step.work == JoinWork::Convert) s.seconds *= 2;
    Join join(L"mp4", clips, steps, clips);
    auto [median, worst] = Score(join.Run());
    // The conversions' pace carries over to the final passes only halfway (it is partly the
    // clips', not the machine's), so the error is bounded, not gone, until the passes run. The
    // progress bar's share would be off by more than half for most of the join.
    EXPECT_LE(median, 0.30);
    EXPECT_LE(worst, 0.50);
}

TEST(TimeLeftEstimator, FollowsASlowerMachine) {
    // Everything three times slower than the priors: the conversions tell part of it ahead, the
    // final passes tell the rest as soon as they run.
    std::vector<double> clips = {8, 24, 8, 24, 8, 24, 8, 24, 8, 24};
    Join join(L"mp4", clips, ClassicJoin(L"mp4", clips, 3), clips);
    std::vector<Sample> samples = join.Run();
    auto [median, worst] = Score(samples);
    EXPECT_LE(median, 0.5);
    const double wall = samples.front().remaining;
    for (const Sample& s : samples) {
        if (s.at >= 0.6 * wall && s.shown) {
            EXPECT_LE(Error(s), 0.30) << "at " << s.at;
        }
    }
}

TEST(TimeLeftEstimator, ClipLengthsLearnedOneByOne) {
    // Without the lengths ahead, each probe tells one; the estimate still settles within bounds.
    std::vector<double> clips(8, 60);
    Join join(L"flv", clips, ClassicJoin(L"flv", clips, 1));
    auto [median, worst] = Score(join.Run());
    EXPECT_LE(median, 0.15);
    EXPECT_LE(worst, 0.30);
}

TEST(TimeLeftEstimator, SecondPassGoesAtTheFirstPassPace) {
    // Into mp4 on a machine whose encoder is three times slower than the priors, while the
    // conversions go at their priors' speed: once the first pass has been measured, the second
    // is expected at its pace from its very start, before it has told a position of its own.
    std::vector<double> clips(10, 30);
    std::vector<TrueStep> steps = ClassicJoin(L"mp4", clips, 1);
    double secondPassStarts = 0;
    bool seen = false;
    for (TrueStep& s : steps) {
        if (s.step.work == JoinWork::Mp4Pass1 || s.step.work == JoinWork::Mp4Pass2) s.seconds *= 3;
        seen = seen || s.step.work == JoinWork::Mp4Pass2;
        if (!seen) secondPassStarts += s.seconds;
    }
    Join join(L"mp4", clips, steps, clips);
    std::vector<Sample> samples = join.Run();
    int looked = 0;
    for (const Sample& s : samples)
        if (s.at >= secondPassStarts && s.at < secondPassStarts + 3 && s.shown) {
            EXPECT_LE(Error(s), 0.20) << "at " << s.at;
            ++looked;
        }
    EXPECT_GT(looked, 0);
}

TEST(TimeLeftEstimator, RecoversFromASlowFirstStep) {
    // The first conversion takes six times as long (a cold disk); the later ones run at the speed
    // of the priors. The estimate must not keep the first step's pace for the rest of the join.
    std::vector<double> clips(12, 10);
    Join join(L"avi", clips, ClassicJoin(L"avi", clips, 1, 6), clips);
    std::vector<Sample> samples = join.Run();
    const double wall = samples.front().remaining;
    std::vector<double> late;
    for (const Sample& s : samples)
        if (s.at >= 0.5 * wall && s.shown) late.push_back(Error(s));
    ASSERT_FALSE(late.empty());
    EXPECT_LE(*std::max_element(late.begin(), late.end()), 0.30);
}

TEST(TimeLeftEstimator, NoEstimateUntilTheJoinHasBeenMeasured) {
    double now = 0;
    TimeLeftEstimator estimator([&now] { return now; });
    EXPECT_FALSE(estimator.SecondsLeft());  // no join
    estimator.Start(L"flv", {0, 0}, TimeLeftEstimator::ClassicPlan(2, L"flv"));
    estimator.Begin(JoinWork::Probe, 0);
    now = 0.5;
    EXPECT_FALSE(estimator.SecondsLeft());  // nothing measured, no length known
    estimator.SetClipSeconds(0, 120);
    estimator.Begin(JoinWork::Convert, 0);
    now = 3.0;
    estimator.SetDone(80);
    EXPECT_FALSE(estimator.SecondsLeft());  // one clip, half converted, is no measure of the join
    estimator.Begin(JoinWork::Probe, 1);
    estimator.SetClipSeconds(1, 120);
    estimator.Begin(JoinWork::Convert, 1);
    now = 4.0;
    EXPECT_FALSE(estimator.SecondsLeft());  // one conversion could have been an odd one
    estimator.Begin(JoinWork::Concatenate);
    now = 4.5;
    ASSERT_TRUE(estimator.SecondsLeft());
    EXPECT_GT(*estimator.SecondsLeft(), 0);
    estimator.Stop();
    EXPECT_FALSE(estimator.SecondsLeft());
}

TEST(TimeLeftEstimator, ALastStepFasterThanForeseenIsFollowedOnceMeasured) {
    // The final encode goes three times as fast as the conversions made it look: as soon as it
    // has reported its position for a second, the figure comes down to what it measures instead
    // of counting down from the old figure.
    std::vector<double> clips(6, 120);
    std::vector<TrueStep> steps = ClassicJoin(L"flv", clips, 1);
    double encodeBegins = 0, encodeSeconds = 0;
    for (TrueStep& s : steps) {
        if (s.step.work == JoinWork::Encode) {
            s.seconds /= 3;
            encodeSeconds = s.seconds;
        }
        if (s.step.work == JoinWork::Convert) s.seconds *= 2;  // a slow spell while converting
    }
    for (const TrueStep& s : steps) {
        if (s.step.work == JoinWork::Encode) break;
        encodeBegins += s.seconds;
    }
    Join join(L"flv", clips, steps, clips);
    int looked = 0;
    for (const Sample& s : join.Run()) {
        if (s.at < encodeBegins + 0.5 * encodeSeconds || !s.shown) continue;
        EXPECT_LE(Error(s), 0.30) << "at " << s.at;
        ++looked;
    }
    EXPECT_GT(looked, 0);
}

TEST(TimeLeftEstimator, NoWildJumpsWhenTheKindOfStepChanges) {
    // Conversions run at the priors' speed, but the final encode is four times slower than its
    // prior: the figure shown may move towards the new truth, but by at most a bounded share of
    // what is left from one look to the next, and it never goes back up and down in a zigzag.
    std::vector<double> clips(6, 20);
    std::vector<TrueStep> steps = ClassicJoin(L"wmv", clips, 1);
    for (TrueStep& s : steps)
        if (s.step.work == JoinWork::Encode) s.seconds *= 4;
    Join join(L"wmv", clips, steps, clips);
    std::vector<Sample> samples = join.Run();
    int reversals = 0, lastDirection = 0;
    for (std::size_t i = 1; i < samples.size(); ++i) {
        if (!samples[i - 1].shown || !samples[i].shown) continue;
        const double counted = std::max(*samples[i - 1].shown - 0.5, 0.0);
        const double change = *samples[i].shown - counted;
        EXPECT_LE(std::abs(change), 0.5 + 0.25 * counted) << "at " << samples[i].at;
        int direction = change > 0.5 ? 1 : change < -0.5 ? -1 : 0;
        if (direction != 0 && lastDirection != 0 && direction != lastDirection) ++reversals;
        if (direction != 0) lastDirection = direction;
    }
    EXPECT_LE(reversals, 2);
    // And it ends right: once the encode has been measured the estimate holds.
    const double wall = samples.front().remaining;
    for (const Sample& s : samples)
        if (s.at >= 0.75 * wall && s.shown) {
            EXPECT_LE(Error(s), 0.30) << "at " << s.at;
        }
}

TEST(TimeLeftEstimator, TheWaitForTheEncodersNextReportIsNoStall) {
    // Every step goes at its prior, and the figure is asked for four times a second while the
    // encoders report twice: a look just after a step's first position must not read the time
    // since as time spent without progress.
    std::vector<double> clips = {20, 60, 20, 60, 20, 60};
    Join join(L"flv", clips, ClassicJoin(L"flv", clips, 1), clips, 0.25);
    auto [median, worst] = Score(join.Run());
    EXPECT_LE(median, 0.1);
    EXPECT_LE(worst, 0.15);
}

TEST(TimeLeftEstimator, TheCheckOfALongClassicResultCounts) {
    // Forty minutes into WMV: reading the result's end takes seconds, which the last figures of
    // the encode must still include.
    std::vector<double> clips(10, 240);
    std::vector<TrueStep> steps = ClassicJoin(L"wmv", clips, 1);
    ASSERT_EQ(steps.back().step.work, JoinWork::Check);
    steps.back().seconds = 2.3;  // as measured
    Join join(L"wmv", clips, steps, clips);
    for (const Sample& s : join.Run()) {
        if (s.shown && s.remaining < 4) {
            EXPECT_LE(Error(s), 0.3) << "at " << s.at;
        }
    }
}

TEST(TimeLeftEstimator, AClipLeftOutNoLongerCounts) {
    // Two joins of five clips of 60 s, alike up to the fourth clip: in one it is probed as usual,
    // in the other its probe fails and the fifth clip comes next. The first look at the
    // estimate (not yet smoothed) must leave out the conversion and the final work of that clip.
    auto firstLook = [](bool leaveOut) {
        double now = 0;
        TimeLeftEstimator estimator([&now] { return now; });
        estimator.Start(L"flv", {60, 60, 60, 60, 60}, TimeLeftEstimator::ClassicPlan(5, L"flv"));
        for (int clip = 0; clip < 3; ++clip) {
            estimator.Begin(JoinWork::Probe, clip);
            now += 0.2;
            estimator.Begin(JoinWork::Convert, clip);
            now += 1;
        }
        estimator.Begin(JoinWork::Probe, leaveOut ? 4 : 3);
        now += 0.2;
        return estimator.SecondsLeft().value_or(-1);
    };
    const double withAll = firstLook(false), withoutOne = firstLook(true);
    ASSERT_GT(withoutOne, 0);
    // Left: two conversions and the final work on 300 s, against one and 240 s.
    EXPECT_LT(withoutOne, 0.9 * withAll);
    EXPECT_GT(withoutOne, 0.6 * withAll);
}

TEST(OnePassClipCosts, FollowTheWorkEachClipNeeds) {
    const PictureWork output{"", 320, 240, 25};
    const std::vector<PictureWork> clips = {
        {"flv1", 320, 240, 25},   // decoded cheaply, passes the scaler untouched
        {"h264", 640, 480, 30},   // four times the pixels, a dearer decoder, scaled down
        {"mpeg4", 176, 144, 15},  // small and slow: little to decode or scale
        {"", 0, 0, 0},            // sound only: a black picture is encoded all the same
    };
    const std::vector<double> flv = OnePassClipCosts(clips, output, L"flv");
    ASSERT_EQ(flv.size(), 4u);
    // Reading the big clip adds more than the encoder's own work; the small one, scaled up,
    // costs more than a clip of the output's frame but far less than the big one.
    EXPECT_GT(flv[1], 1.5 * flv[0]);
    EXPECT_GT(flv[2], flv[0]);
    EXPECT_LT(flv[2], 0.6 * flv[1]);
    EXPECT_LT(flv[3], flv[0]);
    EXPECT_GT(flv[3], 0.7 * flv[0]);
    // Into mp4 the encoder's share outweighs what the clips differ by.
    const std::vector<double> mp4 = OnePassClipCosts(clips, output, L"mp4");
    EXPECT_LT(mp4[1] / mp4[0], flv[1] / flv[0]);
    EXPECT_GT(mp4[0], flv[0]);
}

// A one-pass encode played out on the manual clock: each second of clip i takes costs[i] x
// `scale` of wall time, the encoder reports its position twice a second, and the estimate is
// looked at every quarter second.
std::vector<Sample> OnePassJoin(const std::vector<double>& clips, const std::vector<double>& trueCosts,
                                double scale, const std::vector<double>* toldCosts) {
    double now = 0;
    TimeLeftEstimator estimator([&now] { return now; });
    estimator.Start(L"flv", clips, {{JoinWork::OnePass}, {JoinWork::Check}});
    if (toldCosts) estimator.SetClipCosts(*toldCosts);
    estimator.Begin(JoinWork::OnePass);
    const double startUp = 0.5;
    // Where the encode is at each moment: start-up, then the clips one after another.
    std::vector<std::pair<double, double>> ends;  // (wall time, media position) at each clip's end
    double wall = startUp, media = 0;
    for (std::size_t i = 0; i < clips.size(); ++i) {
        wall += clips[i] * trueCosts[i] * scale;
        media += clips[i];
        ends.push_back({wall, media});
    }
    const double total = wall + 0.1;
    auto positionAt = [&](double t) {
        double fromWall = startUp, fromMedia = 0;
        for (const auto& [endWall, endMedia] : ends) {
            if (t < endWall) return fromMedia + (endMedia - fromMedia) * (t - fromWall) / (endWall - fromWall);
            fromWall = endWall;
            fromMedia = endMedia;
        }
        return media;
    };
    std::vector<Sample> samples;
    for (now = 0; now < total; now += 0.25) {
        if (now >= wall) {
            estimator.Begin(JoinWork::Check);
        } else if (now >= startUp && std::fmod(now, 0.5) == 0) {
            estimator.SetDone(positionAt(now));
        }
        samples.push_back({now, estimator.SecondsLeft(), total - now});
    }
    return samples;
}

TEST(TimeLeftEstimator, OnePassEncodeCostsTheClipsStillToCome) {
    // Four clips that are cheap to decode, then four that cost three times as much per second:
    // going by the first clips' pace alone the estimate would promise the end far too soon.
    std::vector<double> clips(8, 30);
    std::vector<double> costs = {1, 1, 1, 1, 3, 3, 3, 3};
    auto [blindMedian, blindWorst] = Score(OnePassJoin(clips, costs, 0.05, nullptr));
    auto [median, worst] = Score(OnePassJoin(clips, costs, 0.05, &costs));
    EXPECT_GT(blindMedian, 0.3);
    EXPECT_LE(median, 0.15);
    EXPECT_LE(worst, 0.30);
    // Costs told on another scale mean the same.
    std::vector<double> scaled;
    for (double c : costs) scaled.push_back(c * 1e-3);
    EXPECT_NEAR(Score(OnePassJoin(clips, costs, 0.05, &scaled)).second, worst, 1e-6);
    // Costs that do not fit the clips are not used.
    std::vector<double> wrong = {1, 2};
    EXPECT_NEAR(Score(OnePassJoin(clips, costs, 0.05, &wrong)).second, blindWorst, 1e-6);
}

TEST(TimeLeftEstimator, AOnePassJoinAboutToEndShowsNoFigure) {
    // A join of a few seconds: its figure would never be trusted before it is nearly over.
    std::vector<double> clips(4, 10);
    std::vector<double> costs(4, 1);
    for (const Sample& s : OnePassJoin(clips, costs, 0.08, &costs)) EXPECT_FALSE(s.shown) << "at " << s.at;
    // Three times longer, it shows one once it has been measured for a while.
    std::vector<Sample> longer = OnePassJoin(clips, costs, 0.25, &costs);
    auto first = std::find_if(longer.begin(), longer.end(), [](const Sample& s) { return s.shown.has_value(); });
    ASSERT_NE(first, longer.end());
    EXPECT_GE(first->at, 2.5);  // start-up, then two seconds of positions
    EXPECT_GE(*first->shown, 4);
}

}  // namespace
}  // namespace quilmer
