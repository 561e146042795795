// The encoder adapter: installed in the program folder under the name the engine runs, it takes
// the engine's encoder command lines, runs Debian's ffmpeg with modern options that give the
// intended result, and prints the report and progress lines the engine reads. Its exit status
// is the real encoder's.

#include "encoder/AdapterCommand.h"
#include "encoder/OutputFilter.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern char** environ;

namespace {

using namespace quilmer::adapter;

constexpr const char* kDefaultRealEncoder = "/usr/bin/ffmpeg";
constexpr const char* kRealEncoderVariable = "QUILMER_REAL_FFMPEG";

volatile sig_atomic_t g_child = 0;

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
};

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

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (rc != 0) {
        close(fds[0]);
        Fail("The real encoder could not be started: " + program + ": " + std::strerror(rc));
        return result;
    }
    result.started = true;
    g_child = pid;
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
    }
    return result;
}

int Probe(const std::string& real, const OldCommand& command) {
    std::string report;
    RunResult r = RunReal(real, BuildModernArgs(command, Kind::Probe), [&](std::string_view bytes) { report.append(bytes); });
    if (!r.started) return 1;
    WriteAll(STDOUT_FILENO, NormalizeProbeReport(report));
    return r.status;
}

bool Contains(const std::string& text, const char* needle) { return text.find(needle) != std::string::npos; }

// Runs a conversion or encode; a conversion that fails at once because the clip lacks a picture
// or sound, or has a rate MPEG-2 cannot code, is run again with that made up.
int Encode(const std::string& real, const OldCommand& command, Kind kind) {
    ConvertVariant variant;
    RunOutputFilter filter;
    for (int attempt = 0;; ++attempt) {
        RunResult r = RunReal(real, BuildModernArgs(command, kind, variant),
                              [&](std::string_view bytes) { WriteAll(STDOUT_FILENO, filter.Feed(bytes)); });
        if (!r.started) return 1;
        if (r.status != 0 && kind == Kind::Convert && attempt < 3) {
            const std::string& raw = filter.Raw();
            ConvertVariant next = variant;
            if (Contains(raw, "Stream map '0:V:0' matches no streams")) next.blackVideo = true;
            if (Contains(raw, "Stream map '0:a:0' matches no streams")) next.silentAudio = true;
            if (Contains(raw, "MPEG-1/2 does not support")) next.standardFrameRate = true;
            const bool changed = next.blackVideo != variant.blackVideo || next.silentAudio != variant.silentAudio ||
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
    return kind == Kind::Probe ? Probe(real, command) : Encode(real, command, kind);
}
