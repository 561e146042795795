#include "media/EncoderRunner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>
#include <vector>

#include "foundation/FileUtil.h"
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

// The child is the leader of its own process group, so one kill reaches whatever it started
// (the adapter's real encoder included).
void KillGroup(pid_t pid) {
    if (kill(-pid, SIGKILL) != 0) kill(pid, SIGKILL);
}

bool Cancelled(CancelFlag* cancel) { return cancel != nullptr && cancel->IsRequested(); }

// Waits for the child to exit after its output ended; a stop request meanwhile kills it.
void ReapAfterEnd(pid_t pid, CancelFlag* cancel) {
    for (;;) {
        int status = 0;
        pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid || (r < 0 && errno != EINTR)) return;
        if (Cancelled(cancel)) {
            KillGroup(pid);
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
            return;
        }
        if (cancel != nullptr && cancel->WaitHandle() >= 0) {
            pollfd p{cancel->WaitHandle(), POLLIN, 0};
            poll(&p, 1, 20);
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
}

}  // namespace

bool RunEncoder(const std::wstring& workingFolder, const std::wstring& commandLine,
                const OutputChunkHandler& onChunk, const OutputEndHandler& onEnd, CancelFlag* cancel) {
    std::vector<std::wstring> wideArgs = SplitWindowsCommandLine(commandLine);
    if (wideArgs.empty() || wideArgs[0].empty()) return false;
    std::vector<std::string> args;
    args.reserve(wideArgs.size());
    for (const std::wstring& a : wideArgs) args.push_back(NativePath(a));
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    Fd outRead, outWrite, inRead, inWrite;
    if (!MakePipe(outRead, outWrite) || !MakePipe(inRead, inWrite)) return false;

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attr);
    posix_spawn_file_actions_adddup2(&actions, inRead.Get(), STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, outWrite.Get(), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, outWrite.Get(), STDERR_FILENO);
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

    pid_t pid = -1;
    // A bare name is looked up on PATH; a path is taken as it stands.
    int rc = posix_spawnp(&pid, argv[0], &actions, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) return false;

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
        KillGroup(pid);
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    } else {
        ReapAfterEnd(pid, cancel);
    }
    outRead.Reset();
    return onEnd ? onEnd(accumulated) : true;
}

}  // namespace quilmer
