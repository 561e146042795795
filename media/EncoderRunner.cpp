#include "media/EncoderRunner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "foundation/FileUtil.h"
#include "foundation/Strings.h"
#include "foundation/TextTranslator.h"
#include "media/CancelFlag.h"
#include "media/WindowsCommandLine.h"

extern char** environ;

namespace quilmer {

namespace {

constexpr std::size_t kReadSize = 4096;

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { Reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int Get() const { return fd_; }
    void Reset(int fd = -1) {
        if (fd_ >= 0) close(fd_);
        fd_ = fd;
    }

private:
    int fd_;
};

bool MakePipe(Fd& readEnd, Fd& writeEnd) {
    int fds[2];
    // Close-on-exec: a process started by another thread at the same time must not inherit our
    // ends (it would hold the pipe open and our read would never see its end).
    if (pipe2(fds, O_CLOEXEC) != 0) return false;
    readEnd.Reset(fds[0]);
    writeEnd.Reset(fds[1]);
    return true;
}

bool Cancelled(CancelFlag* cancel) { return cancel != nullptr && cancel->IsRequested(); }

using Clock = std::chrono::steady_clock;

// Waits up to `limit` for the child to end, without reaping it (the pid, and with it the process
// group's id, stays ours until it is reaped). True when it has ended.
bool WaitEnded(pid_t pid, std::chrono::milliseconds limit) {
    const auto end = Clock::now() + limit;
    for (;;) {
        siginfo_t info{};
        int r = waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT);
        if (r == 0 && info.si_pid == pid) return true;
        if (r < 0 && errno != EINTR) return true;  // nothing to wait for
        if (Clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

// The child is the leader of its own process group, so a signal to the group reaches whatever it
// started (the adapter's real encoder included). SIGTERM first, so that the encoder can end its
// work tidily; SIGKILL when it has not ended after the grace (an encoder blocked opening a named
// pipe never ends otherwise), and to whatever of the group is still left once the leader has ended.
void StopGroup(pid_t pid) {
    if (kill(-pid, SIGTERM) != 0) kill(pid, SIGTERM);
    WaitEnded(pid, kEncoderStopGrace);
    if (kill(-pid, SIGKILL) != 0) kill(pid, SIGKILL);
}

// Reaps the child and records how it ended.
void Reap(pid_t pid, EncoderExit& exit) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return;
    }
    if (WIFEXITED(status)) {
        exit.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status) && !exit.stoppedByUs) {
        exit.signal = WTERMSIG(status);
    }
}

// Waits for the child to exit after its output ended; a stop request or the deadline meanwhile
// stops it.
void ReapAfterEnd(pid_t pid, CancelFlag* cancel, std::optional<Clock::time_point> deadline, EncoderExit& exit) {
    for (;;) {
        if (WaitEnded(pid, std::chrono::milliseconds::zero())) break;
        const bool late = deadline && Clock::now() >= *deadline;
        if (Cancelled(cancel) || late) {
            exit.stoppedByUs = true;
            exit.timedOut = late && !Cancelled(cancel);
            StopGroup(pid);
            break;
        }
        if (cancel != nullptr && cancel->WaitHandle() >= 0) {
            pollfd p{cancel->WaitHandle(), POLLIN, 0};
            poll(&p, 1, 20);
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    Reap(pid, exit);
}

// The environment of the child: ours, with QUILMER_ENGINE_PID naming this process.
std::vector<std::string> ChildEnvironment() {
    std::vector<std::string> env;
    const std::string key = "QUILMER_ENGINE_PID=";
    for (char** e = environ; e != nullptr && *e != nullptr; ++e)
        if (std::strncmp(*e, key.c_str(), key.size()) != 0) env.emplace_back(*e);
    env.push_back(key + std::to_string(getpid()));
    return env;
}

}  // namespace

std::wstring EncoderExit::Describe() const {
    if (!started && startError != 0)
        return Tr(L"The encoder could not be started:") + L" " +
               WidePath(std::error_code(startError, std::generic_category()).message()) + L".";
    if (!started) return Tr(L"The encoder could not be started.");
    if (timedOut) return Tr(L"The encoder gave no answer in time and was stopped.");
    if (stoppedByUs) return Tr(L"The encoder was stopped.");
    if (signal != 0) {
        const char* name = sigabbrev_np(signal);
        return FormatW(TrFormat(L"The encoder was killed by signal %d (%s).").c_str(), signal,
                       name != nullptr ? (L"SIG" + WidePath(name)).c_str() : L"?");
    }
    return FormatW(TrFormat(L"The encoder ended with exit status %d.").c_str(), exitCode);
}

bool RunEncoder(const std::wstring& workingFolder, const std::wstring& commandLine,
                const OutputChunkHandler& onChunk, const OutputEndHandler& onEnd, CancelFlag* cancel,
                EncoderExit* exitOut, std::chrono::milliseconds timeLimit) {
    if (exitOut != nullptr) *exitOut = EncoderExit{};
    return RunProgramArgs(workingFolder, SplitWindowsCommandLine(commandLine), onChunk, onEnd, cancel, exitOut,
                          timeLimit);
}

bool RunProgramArgs(const std::wstring& workingFolder, const std::vector<std::wstring>& wideArgs,
                    const OutputChunkHandler& onChunk, const OutputEndHandler& onEnd, CancelFlag* cancel,
                    EncoderExit* exitOut, std::chrono::milliseconds timeLimit) {
    EncoderExit ignoredExit;
    EncoderExit& exit = exitOut != nullptr ? *exitOut : ignoredExit;
    exit = EncoderExit{};
    std::optional<Clock::time_point> deadline;
    if (timeLimit > std::chrono::milliseconds::zero()) deadline = Clock::now() + timeLimit;
    if (wideArgs.empty() || wideArgs[0].empty()) return false;
    std::vector<std::string> args;
    args.reserve(wideArgs.size());
    for (const std::wstring& a : wideArgs) args.push_back(NativePath(a));
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    Fd outRead, outWrite, inRead, inWrite;
    if (!MakePipe(outRead, outWrite) || !MakePipe(inRead, inWrite)) {
        exit.startError = errno;
        return false;
    }

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attr);
    posix_spawn_file_actions_adddup2(&actions, inRead.Get(), STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, outWrite.Get(), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, outWrite.Get(), STDERR_FILENO);
    // Nothing of ours beyond the three pipes: a descriptor another thread opened without
    // close-on-exec (a stream's file, the log) must not be held open by the encoder.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    std::string folder = NativePath(workingFolder);
    if (!folder.empty()) posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    // Own process group, default signal handling, nothing blocked: the child must die of our
    // SIGKILL and must not inherit an ignored SIGPIPE or SIGINT.
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    std::vector<std::string> envStore = ChildEnvironment();
    std::vector<char*> envp;
    for (std::string& e : envStore) envp.push_back(e.data());
    envp.push_back(nullptr);

    pid_t pid = -1;
    // A bare name is looked up on PATH; a path is taken as it stands.
    int rc = posix_spawnp(&pid, argv[0], &actions, &attr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) {
        exit.startError = rc;
        return false;
    }
    exit.started = true;

    // Only the child holds the write end now, so end-of-data means it (and its children) closed it.
    outWrite.Reset();
    inRead.Reset();
    // Standard input stays empty: a child that reads it sees its end instead of blocking.
    inWrite.Reset();

    std::string accumulated;
    std::vector<char> buffer(kReadSize, 0);
    bool stopped = false;
    const int cancelFd = cancel != nullptr ? cancel->WaitHandle() : -1;
    for (;;) {
        if (Cancelled(cancel)) {
            stopped = true;
            break;
        }
        pollfd fds[2] = {{outRead.Get(), POLLIN, 0}, {cancelFd, POLLIN, 0}};
        // Without an eventfd the flag is still looked at every 50 ms.
        int timeout = (cancel != nullptr && cancelFd < 0) ? 50 : -1;
        if (deadline) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - Clock::now()).count();
            if (left <= 0) {
                stopped = true;
                exit.timedOut = true;
                break;
            }
            timeout = timeout < 0 ? static_cast<int>(std::min<long long>(left, 1000)) : timeout;
        }
        int ready = poll(fds, cancelFd >= 0 ? 2 : 1, timeout);
        if (ready < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (ready == 0) continue;
        if (cancelFd >= 0 && (fds[1].revents & POLLIN)) {
            stopped = true;
            break;
        }
        if (fds[0].revents == 0) continue;
        ssize_t got = read(outRead.Get(), buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        std::string chunk(buffer.data(), static_cast<std::size_t>(got));
        bool keepGoing = false;
        try {
            keepGoing = onChunk ? onChunk(accumulated, chunk) : true;
        } catch (...) {
            keepGoing = false;
        }
        if (!keepGoing) {
            stopped = true;
            break;
        }
    }

    if (stopped) {
        exit.stoppedByUs = true;
        StopGroup(pid);
        Reap(pid, exit);
    } else {
        ReapAfterEnd(pid, cancel, deadline, exit);
    }
    outRead.Reset();
    return onEnd ? onEnd(accumulated) : true;
}

}  // namespace quilmer
