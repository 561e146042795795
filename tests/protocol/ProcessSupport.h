#pragma once
// Child processes for the protocol tests: started with an argument vector, standard output and
// error on pipes of their own, an optional QUILMER_FAKE_MODE for the fake main program.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace quilmer::test {

using namespace std::chrono_literals;

struct Child {
    using Clock = std::chrono::steady_clock;
    pid_t pid = -1;
    int out = -1;  // the child's standard output
    int err = -1;  // its standard error

    Child() = default;
    Child(Child&& other) noexcept : pid(other.pid), out(other.out), err(other.err) {
        other.out = other.err = -1;
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // Reads standard output up to a line that holds text (or the end).
    bool WaitForLine(const std::string& text, std::chrono::milliseconds limit = 10s) {
        std::string seen;
        auto deadline = Clock::now() + limit;
        while (Clock::now() < deadline) {
            pollfd p{out, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0) continue;
            char c;
            if (::read(out, &c, 1) != 1) return false;
            seen += c;
            if (seen.find(text) != std::string::npos) return true;
        }
        return false;
    }
    static std::string ReadRest(int fd) {
        std::string all;
        char buffer[4096];
        ssize_t n;
        while ((n = ::read(fd, buffer, sizeof buffer)) > 0) all.append(buffer, static_cast<std::size_t>(n));
        return all;
    }
    // Exit code, or -1 (signal, or still running after the limit: then it is killed).
    int Wait(std::chrono::milliseconds limit = 30s) {
        auto deadline = Clock::now() + limit;
        int status = 0;
        while (::waitpid(pid, &status, WNOHANG) == 0) {
            if (Clock::now() > deadline) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, &status, 0);
                return -1;
            }
            std::this_thread::sleep_for(20ms);
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    ~Child() {
        if (out >= 0) ::close(out);
        if (err >= 0) ::close(err);
    }
};

inline Child Start(const std::vector<std::string>& args, const std::string& mode = "") {
    Child child;
    int outPipe[2], errPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0) return child;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        if (std::string(*e).rfind("QUILMER_FAKE_MODE=", 0) != 0) env.push_back(*e);
    if (!mode.empty()) env.push_back("QUILMER_FAKE_MODE=" + mode);
    std::vector<char*> envp, argv;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    if (::posix_spawn(&child.pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) child.pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    child.out = outPipe[0];
    child.err = errPipe[0];
    return child;
}

}  // namespace quilmer::test
