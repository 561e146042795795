#pragma once
// Real-media helpers for the integration tests: run a program with an argument vector (no
// shell), make short clips with the system's ffmpeg, measure what a file holds with ffprobe.

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <iterator>
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

// Where the first packet of the first stream of a kind begins, in seconds; -1 without one.
inline double FirstPacketAt(const std::string& path, const std::string& kind) {
    auto r = RunProgram({"ffprobe", "-v", "error", "-select_streams", kind + ":0", "-show_entries", "packet=pts_time",
                         "-of", "csv=p=0", "file:" + path});
    if (r.status != 0) return -1;
    double start = -1;
    std::istringstream lines(r.output);
    for (std::string line; std::getline(lines, line);) {
        const double pts = ToDouble(line);
        if (line.rfind("N/A", 0) != 0 && pts >= 0 && (start < 0 || pts < start)) start = pts;
    }
    return start;
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

namespace quilmer::testing {

// Times of the frames that are mostly white (a flash), once per flash.
inline std::vector<double> FlashTimes(const std::string& path) {
    auto r = RunProgram({"ffmpeg", "-nostats", "-i", "file:" + path, "-map", "0:v:0", "-vf",
                         "signalstats,metadata=print:key=lavfi.signalstats.YAVG:file=-", "-f", "null", "-"});
    std::vector<double> times;
    std::istringstream lines(r.output);
    double at = -1;
    for (std::string line; std::getline(lines, line);) {
        auto pts = line.find("pts_time:");
        if (pts != std::string::npos) at = ToDouble(line.substr(pts + 9));
        auto yavg = line.find("YAVG=");
        if (yavg != std::string::npos && ToDouble(line.substr(yavg + 5)) > 128 &&
            (times.empty() || at - times.back() > 0.5))
            times.push_back(at);
    }
    return times;
}

// Times where a tone begins after silence (a beep).
inline std::vector<double> BeepTimes(const std::string& path) {
    auto r = RunProgram({"ffmpeg", "-nostats", "-i", "file:" + path, "-map", "0:a:0", "-af",
                         "silencedetect=n=-30dB:d=0.04", "-f", "null", "-"});
    std::vector<double> times;
    std::istringstream lines(r.output);
    for (std::string line; std::getline(lines, line);) {
        auto end = line.find("silence_end: ");
        if (end != std::string::npos) times.push_back(ToDouble(line.substr(end + 13)));
    }
    return times;
}

// The worst distance from a flash to its nearest beep; -1 without flashes or beeps.
inline double WorstFlashToBeep(const std::string& path) {
    std::vector<double> flashes = FlashTimes(path), beeps = BeepTimes(path);
    if (flashes.empty() || beeps.empty()) return -1;
    double worst = 0;
    for (double f : flashes) {
        double nearest = 1e9;
        for (double b : beeps) nearest = std::min(nearest, std::fabs(b - f));
        worst = std::max(worst, nearest);
    }
    return worst;
}

// A recording whose picture starts `pictureOffset` seconds after its sound: a 6 s picture with a
// white flash at 3 s and an 8 s sound with a beep at 5 s, so that with an offset of 2 s the flash
// and the beep come together. outputArgs go before the output (e.g. {"-output_ts_offset", "1000"}).
inline bool MakeLatePictureClip(const std::string& path, double pictureOffset,
                                const std::vector<std::string>& outputArgs = {}) {
    const std::string picture = path + ".picture.mp4", sound = path + ".sound.m4a";
    bool ok = RunProgram({"ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
                          "color=c=black:s=160x120:r=25:d=6,drawbox=c=white:t=fill:enable='between(t,3,3.04)'",
                          "-c:v", "libx264", "-pix_fmt", "yuv420p", "file:" + picture})
                  .status == 0 &&
              RunProgram({"ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
                          "sine=frequency=1000:sample_rate=44100:duration=8,volume=volume=0:enable='not(between(t,5,5.1))'",
                          "-c:a", "aac", "file:" + sound})
                      .status == 0;
    if (ok) {
        std::vector<std::string> args = {"ffmpeg", "-v", "error", "-y", "-itsoffset", std::to_string(pictureOffset),
                                         "-i", "file:" + picture, "-i", "file:" + sound, "-map", "0:v", "-map", "1:a",
                                         "-c", "copy"};
        args.insert(args.end(), outputArgs.begin(), outputArgs.end());
        args.push_back("file:" + path);
        ok = RunProgram(args).status == 0;
    }
    std::remove(picture.c_str());
    std::remove(sound.c_str());
    return ok;
}

// A slow Flash recording whose sound outlasts its picture: 10 fps for `pictureSeconds`, MP3 for
// `soundSeconds`, a white frame and a beep at 1 s, made together.
inline bool MakeLongSoundClip(const std::string& path, double pictureSeconds, double soundSeconds) {
    return RunProgram({"ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
                       "sine=frequency=1000:sample_rate=22050:duration=" + std::to_string(soundSeconds) +
                           ",volume=volume=0:enable='not(between(t,1,1.08))'",
                       "-f", "lavfi", "-i",
                       "color=c=black:s=96x72:r=10:d=" + std::to_string(pictureSeconds) +
                           ",drawbox=c=white:t=fill:enable='between(t,1,1.09)'",
                       "-map", "0:a", "-map", "1:v", "-c:v", "flv1", "-c:a", "libmp3lame", "-ac", "1", "-ar", "22050",
                       "file:" + path})
               .status == 0;
}

// Splices FLV files tag by tag into one recording, as a streaming server appends them: each part
// keeps its own onMetaData and codec headers, its timestamps moved on past the part before. The
// first part's header (and its metadata's duration) stands for the whole file.
inline bool SpliceFlv(const std::string& out, const std::vector<std::string>& parts) {
    std::string result;
    std::uint32_t shift = 0;
    for (const std::string& part : parts) {
        std::ifstream in(part, std::ios::binary);
        std::string d((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (d.size() < 13 || d.compare(0, 3, "FLV") != 0) return false;
        auto byte = [&d](std::size_t i) { return static_cast<std::uint32_t>(static_cast<unsigned char>(d[i])); };
        const std::size_t headerSize = (byte(5) << 24) | (byte(6) << 16) | (byte(7) << 8) | byte(8);
        if (result.empty()) result = d.substr(0, headerSize + 4);
        std::uint32_t last = 0;
        for (std::size_t p = headerSize + 4; p + 11 <= d.size();) {
            const std::size_t size = (byte(p + 1) << 16) | (byte(p + 2) << 8) | byte(p + 3);
            if (p + 11 + size + 4 > d.size()) break;
            const std::uint32_t ts = ((byte(p + 4) << 16) | (byte(p + 5) << 8) | byte(p + 6) | (byte(p + 7) << 24));
            last = std::max(last, ts);
            std::string tag = d.substr(p, 11 + size + 4);
            const std::uint32_t moved = ts + shift;
            tag[4] = static_cast<char>((moved >> 16) & 0xFF);
            tag[5] = static_cast<char>((moved >> 8) & 0xFF);
            tag[6] = static_cast<char>(moved & 0xFF);
            tag[7] = static_cast<char>((moved >> 24) & 0xFF);
            result += tag;
            p += 11 + size + 4;
        }
        shift += last + 40;
    }
    std::ofstream(out, std::ios::binary) << result;
    return true;
}

}  // namespace quilmer::testing
