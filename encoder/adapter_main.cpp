// The encoder adapter: installed in the program folder under the name the engine runs, it takes
// the engine's encoder command lines, runs Debian's ffmpeg with modern options that give the
// intended result, and prints the report and progress lines the engine reads. Its exit status
// is the real encoder's.

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <linux/close_range.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "encoder/AdapterCommand.h"
#include "encoder/OutputFilter.h"

extern char** environ;

namespace {

using namespace quilmer::adapter;

constexpr const char* kDefaultRealEncoder = "/usr/bin/ffmpeg";
constexpr const char* kRealEncoderVariable = "QUILMER_REAL_FFMPEG";

volatile sig_atomic_t g_child = 0;
// The signal that ended the last real run, passed on as our own end so that the engine can tell
// an encoder that was killed from one that gave up.
int g_lastSignal = 0;

void ForwardSignal(int signal) {
    if (g_child > 0) kill(g_child, signal);
}

void WriteAll(int fd, std::string_view text) {
    while (!text.empty()) {
        ssize_t n = write(fd, text.data(), text.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return;
        }
        text.remove_prefix(static_cast<std::size_t>(n));
    }
}

void Fail(const std::string& message) { WriteAll(STDOUT_FILENO, message + "\n"); }

bool SameFile(const char* a, const char* b) {
    struct stat sa, sb;
    return stat(a, &sa) == 0 && stat(b, &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// The real encoder, by absolute path, and never this adapter itself (which would run itself
// for ever).
bool FindRealEncoder(std::string& path) {
    const char* configured = std::getenv(kRealEncoderVariable);
    path = (configured != nullptr && *configured != '\0') ? configured : kDefaultRealEncoder;
    if (path.empty() || path[0] != '/') {
        Fail(std::string(kRealEncoderVariable) + " must be an absolute path: " + path);
        return false;
    }
    if (access(path.c_str(), X_OK) != 0) {
        Fail("The real encoder cannot be run: " + path + ": " + std::strerror(errno));
        return false;
    }
    if (SameFile(path.c_str(), "/proc/self/exe")) {
        Fail("The real encoder is this adapter itself: " + path);
        return false;
    }
    return true;
}

struct RunResult {
    int status = 1;
    bool started = false;
    int signal = 0;  // the signal that ended the real encoder, if one did
};

// The adapter never outlives the engine that started it: when the engine's thread ends (the
// engine crashed or was killed), the kernel sends us SIGKILL. The engine may already be gone by
// the time we ask for that, so we compare our parent with the pid the engine gave us.
bool BindToEngine() {
    if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0) return true;  // not fatal: ends are still tidy normally
    const char* engine = std::getenv("QUILMER_ENGINE_PID");
    if (engine == nullptr || *engine == '\0') return true;  // run by hand
    return std::to_string(getppid()) == engine;
}

// Runs the real encoder with its output and errors on one pipe; `onOutput` sees every read.
template <typename OnOutput>
RunResult RunReal(const std::string& program, const std::vector<std::string>& args, OnOutput onOutput) {
    RunResult result;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return result;
    std::vector<std::string> argvStore = {program};
    argvStore.insert(argvStore.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : argvStore) argv.push_back(a.data());
    argv.push_back(nullptr);

    // A pipe that tells whether exec worked (it closes on exec; a failure writes errno).
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) {
        close(fds[0]);
        close(fds[1]);
        return result;
    }
    const pid_t adapter = getpid();
    // fork, not posix_spawn: the child must ask for its own death signal before it execs, so that
    // the real encoder ends with us even when we are killed.
    pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != adapter) _exit(127);  // we were killed before the line above
        dup2(fds[1], STDOUT_FILENO);
        dup2(fds[1], STDERR_FILENO);
        // Only the standard three go on to the real encoder: everything else closes on exec (the
        // exec report pipe among them, which is what tells the parent that exec worked).
        if (close_range(3, ~0U, CLOSE_RANGE_CLOEXEC) != 0) {
            for (int fd = 3; fd < 1024; ++fd)
                if (fd != report[1]) close(fd);
        }
        signal(SIGTERM, SIG_DFL);
        signal(SIGINT, SIG_DFL);
        signal(SIGHUP, SIG_DFL);
        signal(SIGPIPE, SIG_DFL);
        execv(program.c_str(), argv.data());
        int error = errno;
        ssize_t ignored = write(report[1], &error, sizeof error);
        (void)ignored;
        _exit(127);
    }
    int rc = pid < 0 ? errno : 0;
    close(fds[1]);
    close(report[1]);
    if (pid > 0) {
        int error = 0;
        ssize_t n;
        while ((n = read(report[0], &error, sizeof error)) < 0 && errno == EINTR) {
        }
        if (n == static_cast<ssize_t>(sizeof error)) {
            rc = error;
            while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
            }
        }
    }
    close(report[0]);
    if (rc != 0) {
        close(fds[0]);
        Fail("The real encoder could not be started: " + program + ": " + std::strerror(rc));
        return result;
    }
    result.started = true;
    g_child = pid;
    if (const char* trace = std::getenv("QUILMER_ADAPTER_TRACE"); trace != nullptr && *trace == '1') {
        std::string line = "adapter runs:";
        for (std::size_t i = 0; i + 1 < argv.size(); ++i) line += std::string(" '") + argv[i] + "'";
        WriteAll(STDERR_FILENO, line + "\n");
    }
    char buffer[4096];
    for (;;) {
        ssize_t n = read(fds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        onOutput(std::string_view(buffer, static_cast<std::size_t>(n)));
    }
    close(fds[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    g_child = 0;
    if (WIFEXITED(status)) {
        result.status = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.status = 128 + WTERMSIG(status);
        result.signal = WTERMSIG(status);
    }
    g_lastSignal = result.signal;
    return result;
}

// The engine probes each clip right before converting it. What the probe found (whether the clip
// has a picture and sound) is kept in a small per-user cache keyed by the file's identity, so
// that the conversion starts with the right options instead of learning them from a failed run.
// The adapter's private folder (mode 0700, ours), or an empty string when there is none.
std::string PrivateFolder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    std::string folder = (runtime != nullptr && *runtime == '/')
                             ? std::string(runtime) + "/quilmer-adapter"
                             : "/tmp/quilmer-adapter-" + std::to_string(getuid());
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return {};
    struct stat folderStat;
    // Only a private folder of our own is trusted.
    if (lstat(folder.c_str(), &folderStat) != 0 || !S_ISDIR(folderStat.st_mode) ||
        folderStat.st_uid != getuid() || (folderStat.st_mode & 077) != 0) {
        return {};
    }
    return folder;
}

std::string CacheFile(const std::string& input) {
    struct stat st;
    if (stat(input.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return {};
    char resolved[PATH_MAX];
    std::string key = realpath(input.c_str(), resolved) != nullptr ? resolved : input;
    for (long long part : {static_cast<long long>(st.st_dev), static_cast<long long>(st.st_ino),
                           static_cast<long long>(st.st_size), static_cast<long long>(st.st_mtim.tv_sec)}) {
        key += '|';
        key += std::to_string(part);
    }
    key += '.';
    key += std::to_string(st.st_mtim.tv_nsec);
    const std::string folder = PrivateFolder();
    if (folder.empty()) return {};
    char name[32];
    std::snprintf(name, sizeof name, "/%016zx", std::hash<std::string>{}(key));
    return folder + name;
}

// Entries matter only between a probe and the conversion right after it; a day's grace is plenty,
// and dropping older ones keeps the folder from growing with every clip ever probed.
void PruneCache(const std::string& folder) {
    constexpr time_t kMaxAgeSeconds = 24 * 60 * 60;
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) return;
    const time_t now = time(nullptr);
    while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.') continue;
        const std::string path = folder + "/" + entry->d_name;
        struct stat st;
        if (lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && now - st.st_mtime > kMaxAgeSeconds)
            unlink(path.c_str());
    }
    closedir(dir);
}

void RememberStreams(const std::string& input, const std::string& report) {
    std::optional<ConvertVariant> v = VariantFromProbeReport(report);
    const std::string file = CacheFile(input);
    if (!v || file.empty()) return;
    const std::string temporary = file + "." + std::to_string(getpid());
    FILE* out = std::fopen(temporary.c_str(), "we");
    if (out == nullptr) return;
    std::fprintf(out, "%d %d %.3f\n", v->blackVideo ? 1 : 0, v->silentAudio ? 1 : 0,
                 v->durationSeconds.value_or(-1.0));
    std::fclose(out);
    if (std::rename(temporary.c_str(), file.c_str()) != 0) std::remove(temporary.c_str());
    PruneCache(file.substr(0, file.rfind('/')));
}

ConvertVariant RecalledStreams(const std::string& input) {
    ConvertVariant v;
    const std::string file = CacheFile(input);
    if (file.empty()) return v;
    FILE* in = std::fopen(file.c_str(), "re");
    if (in == nullptr) return v;
    int black = 0, silent = 0;
    double seconds = -1;
    // A file with neither stream gets no made-up intermediate, so such an entry is not used.
    if (std::fscanf(in, "%d %d %lf", &black, &silent, &seconds) == 3 && !(black && silent)) {
        v.blackVideo = black == 1;
        v.silentAudio = silent == 1;
        if (seconds > 0) v.durationSeconds = seconds;
    }
    std::fclose(in);
    return v;
}

int Probe(const std::string& real, const OldCommand& command) {
    std::string report;
    RunResult r = RunReal(real, BuildModernArgs(command, Kind::Probe),
                          [&](std::string_view bytes) { report.append(bytes); });
    if (!r.started) return 1;
    const std::string normalized = NormalizeProbeReport(report);
    WriteAll(STDOUT_FILENO, normalized);
    // Each input's block ("Input #k" and the indented lines under it) is remembered for its file.
    std::vector<std::string> inputs = {command.input};
    inputs.insert(inputs.end(), command.moreInputs.begin(), command.moreInputs.end());
    std::size_t pos = 0;
    while ((pos = normalized.find("Input #", pos)) != std::string::npos) {
        if (pos > 0 && normalized[pos - 1] != '\n') {
            ++pos;
            continue;
        }
        const std::size_t index = std::strtoul(normalized.c_str() + pos + 7, nullptr, 10);
        std::size_t end = normalized.find('\n', pos);
        while (end != std::string::npos && end + 1 < normalized.size() && normalized[end + 1] == ' ')
            end = normalized.find('\n', end + 1);
        const std::string block = normalized.substr(pos, end == std::string::npos ? std::string::npos : end + 1 - pos);
        if (index < inputs.size()) RememberStreams(inputs[index], block);
        pos = end == std::string::npos ? normalized.size() : end;
    }
    return r.status;
}

bool Contains(const std::string& text, const char* needle) { return text.find(needle) != std::string::npos; }

// Where the clip's streams begin and end, from a run of the real encoder that copies its packets
// into a listing in the private folder (removed again).
std::optional<ClipLayout> ScanLayout(const std::string& real, const std::string& input) {
    const std::string folder = PrivateFolder();
    if (folder.empty()) return std::nullopt;
    std::string listing = folder + "/layout-XXXXXX";
    int fd = mkstemp(listing.data());
    if (fd < 0) return std::nullopt;
    close(fd);
    std::string report;
    RunResult r = RunReal(real, LayoutScanArgs(input, listing), [&](std::string_view bytes) { report.append(bytes); });
    std::string packets;
    if (FILE* in = std::fopen(listing.c_str(), "re")) {
        char buffer[65536];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, in)) > 0;) packets.append(buffer, n);
        std::fclose(in);
    }
    unlink(listing.c_str());
    if (!r.started || r.status != 0) return std::nullopt;
    return LayoutFromPackets(packets, report);
}

// A concat list for the final encode, in the private folder; removed when the run ends.
class JoinedList {
public:
    ~JoinedList() {
        if (!path_.empty()) unlink(path_.c_str());
    }
    // Fills joined when the input is a set of byte-joined program streams it can lay out.
    void Prepare(const std::string& input, JoinedInput& joined) {
        char resolved[PATH_MAX];
        if (realpath(input.c_str(), resolved) == nullptr) return;
        const std::vector<ProgramStreamPart> parts = ScanProgramStream(resolved);
        if (parts.empty()) return;
        joined.width = parts.front().width;
        joined.height = parts.front().height;
        const std::string list = ConcatListFor(resolved, parts);
        const std::string folder = PrivateFolder();
        if (list.empty() || folder.empty()) return;
        std::string name = folder + "/join-XXXXXX";
        int fd = mkstemp(name.data());
        if (fd < 0) return;
        path_ = name;
        WriteAll(fd, list);
        if (close(fd) != 0) return;
        joined.concatList = path_;
    }

private:
    std::string path_;
};

// Runs a conversion or encode; a conversion that fails at once because the clip lacks a picture
// or sound, or has a rate MPEG-2 cannot code, is run again with that made up.
int Encode(const std::string& real, const OldCommand& command, Kind kind) {
    ConvertVariant variant;
    JoinedInput joined;
    JoinedList list;
    RunOutputFilter filter;
    if (kind == Kind::Convert) {
        variant = RecalledStreams(command.input);
        if (!variant.blackVideo) {
            variant.layout = ScanLayout(real, command.input);
            // The engine adds up the clips' lengths from the Duration lines: the length the
            // packets hold, not what a header (or the first of several) claims.
            if (variant.layout) filter.SetReportedDuration(variant.layout->Length());
        }
    } else if (command.inputFormat == "mpeg") {
        list.Prepare(command.input, joined);
    }
    for (int attempt = 0;; ++attempt) {
        RunResult r = RunReal(real, BuildModernArgs(command, kind, variant, joined),
                              [&](std::string_view bytes) { WriteAll(STDOUT_FILENO, filter.Feed(bytes)); });
        if (!r.started) return 1;
        if (r.status != 0 && kind == Kind::Convert && attempt < 3) {
            const std::string& raw = filter.Raw();
            ConvertVariant next = variant;
            if (Contains(raw, "Stream map '0:V:0' matches no streams")) next.blackVideo = true;
            if (Contains(raw, "Stream map '0:a:0' matches no streams")) next.silentAudio = true;
            if (Contains(raw, "MPEG-1/2 does not support")) next.standardFrameRate = true;
            const bool changed = next.blackVideo != variant.blackVideo ||
                                 next.silentAudio != variant.silentAudio ||
                                 next.standardFrameRate != variant.standardFrameRate;
            // A file with neither picture nor sound is not a clip: no made-up intermediate.
            if (changed && !(next.blackVideo && next.silentAudio)) {
                next.durationSeconds = filter.InputDuration();
                variant = next;
                filter.Discard();
                continue;
            }
        }
        WriteAll(STDOUT_FILENO, filter.Finish());
        return r.status;
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (!BindToEngine()) return 1;  // the engine is gone already: nobody wants our work
    signal(SIGPIPE, SIG_IGN);
    struct sigaction forward {};
    forward.sa_handler = ForwardSignal;
    sigaction(SIGTERM, &forward, nullptr);
    sigaction(SIGINT, &forward, nullptr);
    sigaction(SIGHUP, &forward, nullptr);

    std::vector<std::string> args(argv + 1, argv + argc);
    OldCommand command;
    Kind kind;
    std::string error;
    if (!ParseOldCommand(args, command, kind, error)) {
        Fail(error);
        return 1;
    }
    std::string real;
    if (!FindRealEncoder(real)) return 1;
    const int status = kind == Kind::Probe ? Probe(real, command) : Encode(real, command, kind);
    if (const char* trace = std::getenv("QUILMER_ADAPTER_TRACE"); trace != nullptr && *trace == '1') {
        // The adapter's own processor time, without the real encoder's, for the benchmark.
        struct rusage self {};
        getrusage(RUSAGE_SELF, &self);
        const double ms = (self.ru_utime.tv_sec + self.ru_stime.tv_sec) * 1e3 +
                          (self.ru_utime.tv_usec + self.ru_stime.tv_usec) / 1e3;
        WriteAll(STDERR_FILENO, "adapter cpu ms: " + std::to_string(ms) + "\n");
    }
    if (g_lastSignal != 0) {
        signal(g_lastSignal, SIG_DFL);
        raise(g_lastSignal);
    }
    return status;
}
