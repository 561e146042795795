// Replays one-pass joins recorded by estimate.sh (TIMELEFT_RECORD=DIR) through the time-left
// estimator on a manual clock, and scores them as timeleft.py scores a live join. The same
// recordings replayed before and after a change to the estimator compare the two without the
// noise of a shared machine.
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
        } else if (kind == "exit") {
            words >> t.exit;
        } else if (kind == "done") {
            double at = 0;
            std::string us;
            words >> at >> us;
            if (!us.empty() && std::isdigit(static_cast<unsigned char>(us[0])))
                t.positions.push_back({at, std::stod(us) / 1e6});
        }
    }
    if (t.wall <= 0 || t.clipSeconds.empty() || t.exit <= t.run) return std::nullopt;
    return t;
}

struct Score {
    double median = 0, worst = 0;
    std::size_t scored = 0;
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
    for (now = 0; now < t.wall; now += 0.25) {
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
            std::fprintf(stderr, "not a recording of a one-pass join: %s\n", argv[i]);
            continue;
        }
        const Score s = Replay(*t);
        std::printf("%-22s %6.1f s  %3zu scored  median %3.0f %%  worst %3.0f %%\n", t->name.c_str(), t->wall,
                    s.scored, 100 * s.median, 100 * s.worst);
        ++scored;
    }
    return scored > 0 ? 0 : 1;
}
