#pragma once
// Small pieces every test runner shares: honest skips, environment variables put back, waiting
// for an event instead of sleeping, and loopback ports that cannot be taken by a neighbour.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <thread>

namespace quilmer::test {

// CI is set (to anything) on the build machines; there every tool the tests use is installed,
// so a missing one is a fault of the machine, not a reason to report green.
inline bool InCi() {
    const char* ci = std::getenv("CI");
    return ci != nullptr && *ci != '\0';
}

}  // namespace quilmer::test

// Skips the test for something the machine may truly lack (a system program, the sample clips
// beside the checkout); under CI the same is a failure. Never for what this project builds.
#define QUILMER_SKIP_OR_FAIL_IN_CI(reason)                                      \
    do {                                                                        \
        if (::quilmer::test::InCi()) {                                          \
            FAIL() << "CI is set, so this cannot be skipped: " << reason;       \
        } else {                                                                \
            GTEST_SKIP() << reason;                                             \
        }                                                                       \
    } while (0)

namespace quilmer::test {

// Sets (or with nullopt removes) one environment variable and puts the old state back.
class ScopedEnv {
public:
    ScopedEnv(std::string name, const std::optional<std::string>& value) : name_(std::move(name)) {
        if (const char* old = std::getenv(name_.c_str())) old_ = old;
        if (value)
            ::setenv(name_.c_str(), value->c_str(), 1);
        else
            ::unsetenv(name_.c_str());
    }
    ~ScopedEnv() {
        if (old_)
            ::setenv(name_.c_str(), old_->c_str(), 1);
        else
            ::unsetenv(name_.c_str());
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    std::optional<std::string> old_;
};

// Polls until the condition holds or the (generous) limit passes; step runs between polls.
// Use it to wait for an event; the limit is only there so that a fault fails instead of hanging.
inline bool WaitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds limit = std::chrono::seconds(30),
                      const std::function<void()>& step = {}) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (step) step();
        if (condition()) return true;
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

// A loopback TCP port held by this process for as long as the object lives: bound, never
// listening, so a connection to it is refused and no other test can take it meanwhile. With
// shareable, a server given "reuseport" may bind the same port beside it (same user only).
class ReservedPort {
public:
    explicit ReservedPort(bool shareable = false) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd_ < 0) return;
        int one = 1;
        if (shareable) ::setsockopt(fd_, SOL_SOCKET, SO_REUSEPORT, &one, sizeof one);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
            ::close(fd_);
            fd_ = -1;
            return;
        }
        port_ = ntohs(addr.sin_port);
    }
    ~ReservedPort() { Release(); }
    ReservedPort(const ReservedPort&) = delete;
    ReservedPort& operator=(const ReservedPort&) = delete;

    int Port() const { return port_; }
    void Release() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_ = -1;
    int port_ = 0;
};

}  // namespace quilmer::test
