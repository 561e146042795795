// Replays joins recorded by estimate.sh (TIMELEFT_RECORD=DIR) through the time-left estimator on
// a manual clock, and scores them as timeleft.py scores a live join. The same recordings replayed
// before and after a change to the estimator compare the two without the noise of a shared
// machine. A one-pass join's recording has the encoder's positions; a classic join's has when each
// encoder run began and ended (the clips probed at once, then an adapter probe and a conversion
// per clip, the final encode or its two passes, the check), and the positions within a run are
// taken to move evenly, in the whole seconds the pipeline's counter shows.
// Usage: timeleft_replay [-v] TRACE...     (-v: every look, shown against really left)
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "media/OnePassCost.h"
#include "media/TimeLeftEstimator.h"

namespace quilmer {
namespace {

bool verbose = false;

// A recording: the clips, when the encoder started, each position it reported and when, when it
// ended, and the wall time of the whole join. Replayed as the joiner runs it: the estimate is
// asked every 0.25 s, the display shows it in whole seconds once a second, and what it shows is
// compared every 0.5 s from 10 % of the join on with the time that really remained.
struct Trace {
    std::string name;
    std::wstring format;
    double wall = 0;
    std::vector<double> clipSeconds;
    std::vector<PictureWork> pictures;
    double run = 0, exit = 0;
    std::vector<std::pair<double, double>> positions;  // (when, seconds of output)
    std::vector<std::pair<double, double>> runs;       // (start, end) of every encoder run
    std::vector<std::vector<std::pair<double, double>>> runPositions;  // the positions of each run
    bool classic = false;
};

std::optional<Trace> ReadTrace(const std::filesystem::path& path) {
    std::ifstream in(path);
    Trace t;
    t.name = path.stem().string();
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        std::string kind;
        words >> kind;
        if (kind == "format") {
            std::string f;
            words >> f;
            t.format.assign(f.begin(), f.end());
        } else if (kind == "wall") {
            words >> t.wall;
        } else if (kind == "clip") {
            PictureWork p;
            double seconds = 0;
            words >> seconds >> p.codec >> p.width >> p.height >> p.fps;
            t.clipSeconds.push_back(seconds);
            t.pictures.push_back(p);
        } else if (kind == "run") {
            words >> t.run;
            t.runPositions.emplace_back();
        } else if (kind == "exit") {
            words >> t.exit;
            t.runs.push_back({t.run, t.exit});
        } else if (kind == "done") {
            double at = 0;
            std::string us;
            words >> at >> us;
            if (!us.empty() && std::isdigit(static_cast<unsigned char>(us[0]))) {
                t.positions.push_back({at, std::stod(us) / 1e6});
                if (!t.runPositions.empty()) t.runPositions.back().push_back({at, std::stod(us) / 1e6});
            }
        }
    }
    t.classic = t.name.rfind("classic", 0) == 0;
    const std::size_t finalRuns = t.format == L"mp4" ? 2 : 1;
    if (t.classic && t.runs.size() != 1 + 2 * t.clipSeconds.size() + finalRuns + 1) return std::nullopt;
    if (t.wall <= 0 || t.clipSeconds.empty() || t.exit <= t.run) return std::nullopt;
    if (!t.classic) t.run = t.runs.back().first;
    return t;
}

struct Score {
    double median = 0, worst = 0;
    std::size_t scored = 0;
};

// The classic join's steps at the recorded times: Begin and the position of each tick.
struct ClassicEvents {
    const Trace& t;
    std::size_t step = 0;  // the next step to begin
    struct Event {
        double at;
        JoinWork work;
        int clip;
        double from, to, media;  // the run that does the step's media work, and how much
        const std::vector<std::pair<double, double>>* positions;  // as recorded, or none
    };
    std::vector<Event> events;

    explicit ClassicEvents(const Trace& trace) : t(trace) {
        const std::size_t n = t.clipSeconds.size();
        for (std::size_t i = 0; i < n; ++i) {
            const auto probe = t.runs[1 + 2 * i], convert = t.runs[2 + 2 * i];
            events.push_back({probe.first, JoinWork::Convert, static_cast<int>(i), convert.first, convert.second,
                              t.clipSeconds[i], &t.runPositions[2 + 2 * i]});
        }
        double total = 0;
        for (double s : t.clipSeconds) total += s;
        const double converted = t.runs[2 * n].second;
        events.push_back({converted, JoinWork::Concatenate, -1, 0, 0, 0, nullptr});
        std::size_t r = 1 + 2 * n;
        if (t.format == L"mp4") {
            events.push_back({t.runs[r].first, JoinWork::Mp4Pass1, -1, t.runs[r].first, t.runs[r].second, total,
                              &t.runPositions[r]});
            ++r;
            events.push_back({t.runs[r].first, JoinWork::Mp4Pass2, -1, t.runs[r].first, t.runs[r].second, total,
                              &t.runPositions[r]});
        } else {
            events.push_back({t.runs[r].first, JoinWork::Encode, -1, t.runs[r].first, t.runs[r].second, total,
                              &t.runPositions[r]});
        }
        events.push_back({t.runs[r].second, JoinWork::Check, -1, 0, 0, 0, nullptr});
    }
    // Brings the estimator to `now`.
    void Advance(TimeLeftEstimator& e, double now) {
        while (step < events.size() && events[step].at <= now) {
            const Event& ev = events[step];
            if (ev.work == JoinWork::Concatenate) {
                double total = 0;
                for (double s : t.clipSeconds) total += s;
                e.SetJoinedSeconds(total);
            }
            e.Begin(ev.work, ev.clip);
            ++step;
        }
        if (step == 0) return;
        const Event& running = events[step - 1];
        if (running.positions && !running.positions->empty()) {
            // As recorded, in the whole seconds the counter keeps.
            double done = 0;
            for (const auto& [at, seconds] : *running.positions)
                if (at <= now) done = std::floor(seconds);
            e.SetDone(done > 0 ? done + 0.5 : 0);
            return;
        }
        // Not recorded: the encoder's first position half a second after it starts, and then
        // evenly on.
        if (running.to > running.from && now >= running.from + 0.5) {
            const double share = std::min((now - running.from) / (running.to - running.from), 1.0);
            const double done = std::floor(share * running.media);
            e.SetDone(done > 0 ? done + 0.5 : 0);
        }
    }
};

Score Replay(const Trace& t) {
    double now = 0;
    TimeLeftEstimator estimator([&now] { return now; });
    PictureWork output = t.pictures.front();
    if (output.width <= 0) output = {"", 320, 240, 25};
    output.fps = output.fps >= 20 ? output.fps : 20;
    std::vector<double> left;  // what the estimate was at each tick, -1: none
    std::vector<double> shown;  // what the display showed from each second on
    std::size_t next = 0;
    bool started = false, checking = false;
    double estimate = -1;
    std::optional<ClassicEvents> classic;
    if (t.classic) {
        // As the command-line joiner starts it: every clip probed ahead, so lengths and pictures
        // are known from the start.
        estimator.Start(t.format, t.clipSeconds, TimeLeftEstimator::ClassicPlan(static_cast<int>(t.clipSeconds.size()), t.format));
        if (!getenv("REPLAY_NO_PICTURES")) estimator.SetClipPictures(t.pictures);
        classic.emplace(t);
    }
    for (now = 0; now < t.wall; now += 0.25) {
        if (classic) {
            // The pipeline looks at its counters and asks for the estimate four times a second.
            classic->Advance(estimator, now);
            std::optional<double> s = estimator.SecondsLeft();
            estimate = s ? *s : -1;
            if (std::fmod(now, 1.0) == 0) shown.push_back(estimate < 0 ? -1 : std::lround(estimate));
            continue;
        }
        if (!started && now >= t.run) {
            estimator.Start(t.format, t.clipSeconds, {{JoinWork::OnePass}, {JoinWork::Check}});
            estimator.SetClipCosts(OnePassClipCosts(t.pictures, output, t.format));
            estimator.Begin(JoinWork::OnePass);
            started = true;
        }
        if (started && !checking && now >= t.exit) {
            estimator.Begin(JoinWork::Check);
            checking = true;
        }
        if (started) {
            while (next < t.positions.size() && t.positions[next].first <= now) ++next;
            if (!checking && next > 0) estimator.SetDone(t.positions[next - 1].second);
            std::optional<double> s = estimator.SecondsLeft();
            estimate = s ? *s : -1;
        }
        if (std::fmod(now, 1.0) == 0) shown.push_back(estimate < 0 ? -1 : std::lround(estimate));
    }
    std::vector<double> errors;
    for (double look = 0.1 * t.wall; look < t.wall; look += 0.5) {
        const std::size_t drawn = static_cast<std::size_t>(look);
        if (drawn >= shown.size() || shown[drawn] < 0) continue;
        const double remaining = t.wall - static_cast<double>(drawn);
        errors.push_back(std::abs(shown[drawn] - remaining) / std::max(remaining, 2.0));
        if (verbose) std::printf("  %5.1f shown %4.0f really %5.1f\n", look, shown[drawn], remaining);
    }
    Score score;
    if (errors.empty()) return score;
    std::sort(errors.begin(), errors.end());
    score.median = errors[errors.size() / 2];
    score.worst = errors.back();
    score.scored = errors.size();
    return score;
}

}  // namespace
}  // namespace quilmer

int main(int argc, char** argv) {
    using namespace quilmer;
    int scored = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-v") == 0) {
            verbose = true;
            continue;
        }
        std::optional<Trace> t = ReadTrace(argv[i]);
        if (!t) {
            std::fprintf(stderr, "not a recording of a join: %s\n", argv[i]);
            continue;
        }
        const Score s = Replay(*t);
        std::printf("%-22s %6.1f s  %3zu scored  median %3.0f %%  worst %3.0f %%\n", t->name.c_str(), t->wall,
                    s.scored, 100 * s.median, 100 * s.worst);
        ++scored;
    }
    return scored > 0 ? 0 : 1;
}
