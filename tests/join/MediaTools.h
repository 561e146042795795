#pragma once
// Real-media helpers for the integration tests: run a program with an argument vector (no
// shell), make short clips with the system's ffmpeg, measure what a file holds with ffprobe.

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace quilmer::testing {

struct ProgramResult {
    int status = -1;  // exit status, or -1 when it could not run or died by a signal
    std::string output;  // standard output and standard error together
};

inline ProgramResult RunProgram(const std::vector<std::string>& args) {
    ProgramResult result;
    int fds[2];
    if (pipe(fds) != 0) return result;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", 0, 0);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (rc != 0) {
        close(fds[0]);
        return result;
    }
    char buffer[4096];
    ssize_t n;
    while ((n = read(fds[0], buffer, sizeof buffer)) > 0) result.output.append(buffer, static_cast<std::size_t>(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

inline bool HaveProgram(const std::string& name) { return RunProgram({name, "-version"}).status == 0; }

// Makes a clip of `seconds` from test patterns. Empty video or audio leaves that stream out.
// videoArgs/audioArgs are codec options, e.g. {"-c:v", "flv1"}.
inline bool MakeClip(const std::string& path, double seconds, const std::string& size, const std::string& rate,
                     const std::vector<std::string>& videoArgs, int sampleRate, int channels,
                     const std::vector<std::string>& audioArgs) {
    std::vector<std::string> args = {"ffmpeg", "-v", "error", "-y"};
    std::string duration = std::to_string(seconds);
    if (!size.empty())
        args.insert(args.end(), {"-f", "lavfi", "-i", "testsrc=size=" + size + ":rate=" + rate + ":duration=" + duration});
    if (sampleRate > 0)
        args.insert(args.end(), {"-f", "lavfi", "-i",
                                 "sine=frequency=440:sample_rate=" + std::to_string(sampleRate) + ":duration=" + duration});
    if (!size.empty()) {
        args.insert(args.end(), videoArgs.begin(), videoArgs.end());
        args.insert(args.end(), {"-pix_fmt", "yuv420p"});
    } else {
        args.push_back("-vn");
    }
    if (sampleRate > 0) {
        args.insert(args.end(), {"-ac", std::to_string(channels)});
        args.insert(args.end(), audioArgs.begin(), audioArgs.end());
    } else {
        args.push_back("-an");
    }
    args.push_back("-t");
    args.push_back(duration);
    args.push_back("file:" + path);  // "file:" keeps a leading '-' from reading as an option
    return RunProgram(args).status == 0;
}

// One clip of a test set, made with MakeClip.
struct ClipRecipe {
    std::string name;
    double seconds;
    std::string size, rate;  // empty size: no video
    std::vector<std::string> video;
    int sampleRate, channels;  // 0: no audio
    std::vector<std::string> audio;
};
inline bool MakeClip(const std::string& path, const ClipRecipe& c) {
    return MakeClip(path, c.seconds, c.size, c.rate, c.video, c.sampleRate, c.channels, c.audio);
}

// The mixed set of the join tests: containers, frame sizes, frame rates (below and above 20,
// fractional), sample rates and channel counts all differ; one clip has no audio, one has only
// audio; the names carry blanks, quotes, non-ASCII letters and a leading dash.
inline const std::vector<ClipRecipe>& MixedClips() {
    static const std::vector<ClipRecipe> clips = {
        {"clip one.flv", 2, "160x120", "25", {"-c:v", "flv1"}, 44100, 2, {"-c:a", "libmp3lame"}},
        {"it's \"quoted\".mp4", 2, "176x144", "30000/1001", {"-c:v", "libx264"}, 48000, 1, {"-c:a", "aac"}},
        {"Ünïcödé clip.avi", 2, "320x240", "15", {"-c:v", "mpeg4"}, 22050, 1, {"-c:a", "libmp3lame"}},
        {"-leading dash.mov", 2, "160x120", "12.5", {"-c:v", "mpeg4"}, 0, 0, {}},
        {"audio only.wma", 2, "", "", {}, 32000, 2, {"-c:a", "wmav2"}},
    };
    return clips;
}

inline double ToDouble(const std::string& text) {
    char* end = nullptr;
    double value = std::strtod(text.c_str(), &end);
    return end == text.c_str() ? -1 : value;
}

inline double FileDuration(const std::string& path) {
    auto r = RunProgram({"ffprobe", "-v", "error", "-show_entries", "format=duration", "-of", "csv=p=0",
                         "file:" + path});
    return r.status == 0 ? ToDouble(r.output) : -1;
}

// Where the last packet of the first stream of a kind ("v" or "a") ends, in seconds; -1 when the
// file has no such stream.
inline double StreamEnd(const std::string& path, const std::string& kind) {
    auto r = RunProgram({"ffprobe", "-v", "error", "-select_streams", kind + ":0", "-show_entries",
                         "packet=pts_time,duration_time", "-of", "csv=p=0", "file:" + path});
    if (r.status != 0) return -1;
    double end = -1;
    std::istringstream lines(r.output);
    std::string line;
    while (std::getline(lines, line)) {
        auto comma = line.find(',');
        double pts = ToDouble(line.substr(0, comma));
        double duration = comma == std::string::npos ? 0 : ToDouble(line.substr(comma + 1));
        if (pts >= 0) end = std::max(end, pts + std::max(duration, 0.0));
    }
    return end;
}

// Decoder complaints when the whole file is decoded; empty for a clean file.
inline std::string DecodeErrors(const std::string& path) {
    auto r = RunProgram({"ffmpeg", "-v", "error", "-i", "file:" + path, "-f", "null", "-"});
    return r.status == 0 ? r.output : "exit " + std::to_string(r.status) + ": " + r.output;
}

// Processes (other than this one) whose command line mentions text: encoders left running.
inline std::vector<int> ProcessesMentioning(const std::string& text) {
    std::vector<int> found;
    DIR* proc = opendir("/proc");
    if (!proc) return found;
    while (dirent* entry = readdir(proc)) {
        int pid = std::atoi(entry->d_name);
        if (pid <= 0 || pid == getpid()) continue;
        // Plain reads: a process may end while it is read (ESRCH), which a stream would throw on.
        std::string cmdline;
        int fd = open(("/proc/" + std::string(entry->d_name) + "/cmdline").c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) continue;
        char buffer[4096];
        ssize_t n;
        while ((n = read(fd, buffer, sizeof buffer)) > 0) cmdline.append(buffer, static_cast<std::size_t>(n));
        close(fd);
        if (cmdline.find(text) != std::string::npos) {
            // A zombie has an empty command line, so whatever matched is alive.
            found.push_back(pid);
        }
    }
    closedir(proc);
    return found;
}

}  // namespace quilmer::testing
