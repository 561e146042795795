// The window protocol between real processes: quilmer-caller against a fake main program that
// uses the main window's own classes, two main programs at once, and the updater closing one.

#include "ProtocolTestSupport.h"
#include "app/core/SingleInstance.h"
#include "foundation/protocol/WindowFinder.h"
#include "updater/ProtocolWindows.h"
#include "updater/WindowProtocol.h"

#include <gtest/gtest.h>

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

namespace quilmer {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

struct Child {
    pid_t pid = -1;
    int out = -1;  // the child's standard output
    int err = -1;  // its standard error

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

Child Start(const std::vector<std::string>& args, const std::string& mode = "") {
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

class ProcessesTest : public ::testing::Test {
protected:
    test::PrivateRuntimeDir runtime;
};

TEST_F(ProcessesTest, CallerReceivesTheExactNoticeBytes) {
    const std::string url = "http://v.example/watch?v=a b&t=\"1\"#x \xc3\xa9\xe6\x97\xa5";
    Child caller = Start({QUILMER_CALLER, "--quilmer", QUILMER_FAKE_QUILMER, "-o", "/tmp/out file.mp4", "-u", url,
                          "-t", "30", "/v/clip one.flv", "/v/it's \"q\".wmv", "/v/\xc3\xa9t\xc3\xa9.mov"});
    ASSERT_GT(caller.pid, 0);
    int code = caller.Wait();
    std::string out = Child::ReadRest(caller.out);
    std::string err = Child::ReadRest(caller.err);
    EXPECT_EQ(code, 0) << err;
    EXPECT_EQ(out, std::string("http://v.example/watch%3fv%3da%20b%26t%3d%221%22%23x%20%c3%a9%e6%97%a5") + '\0');
    EXPECT_NE(err.find("quilmer ended with exit code 2"), std::string::npos) << err;
}

TEST_F(ProcessesTest, CallerFailsWhenQuilmerEndsWithoutNoticeOrTakesTooLong) {
    Child failed = Start({QUILMER_CALLER, "-q", QUILMER_FAKE_QUILMER, "-o", "/tmp/o.avi", "/v/a.flv", "/v/b.flv"},
                         "fail");
    EXPECT_EQ(failed.Wait(), 3);
    EXPECT_EQ(Child::ReadRest(failed.out), "");
    EXPECT_NE(Child::ReadRest(failed.err).find("without a notice"), std::string::npos);

    auto start = Clock::now();
    Child slow = Start({QUILMER_CALLER, "-q", QUILMER_FAKE_QUILMER, "-t", "1", "-o", "/tmp/o.avi", "/v/a.flv"},
                       "wait");
    EXPECT_EQ(slow.Wait(), 4);
    EXPECT_LT(Clock::now() - start, 10s);
    // The fake main program is still there; close it through its window like anybody would.
    std::optional<WindowHandle> left = CWindowFinder(SingleInstance::kWindowClass, SingleInstance::kMessageName).Find();
    ASSERT_TRUE(left);
    EXPECT_TRUE(PostCloseRequest(*left));

    Child missing = Start({QUILMER_CALLER, "-q", "/nonexistent/quilmer", "-o", "/tmp/o.avi", "/v/a.flv"});
    EXPECT_EQ(missing.Wait(), 1);
    Child usage = Start({QUILMER_CALLER, "/v/a.flv"});
    EXPECT_EQ(usage.Wait(), 1);
}

TEST_F(ProcessesTest, TwoMainProgramsAtOnceAndTheUpdaterClosesOne) {
    Child first = Start({QUILMER_FAKE_QUILMER}, "wait");
    Child second = Start({QUILMER_FAKE_QUILMER}, "wait");
    ASSERT_TRUE(first.WaitForLine("registered"));
    ASSERT_TRUE(second.WaitForLine("registered"));
    EXPECT_EQ(EnumerateWindows(SingleInstance::kWindowClass).size(), 2u);

    ProtocolWindows windows;
    CloseTimings timings;
    timings.poll = 100ms;
    timings.afterClose = 100ms;
    timings.giveUp = 20s;
    auto sleep = [](std::chrono::milliseconds ms) { std::this_thread::sleep_for(ms); };
    // Closes the first main program found and waits until its window is gone.
    EXPECT_TRUE(CloseMainProgram(windows, L"Corvane Video", L"UWM_JoinDownload_IsMe", timings, sleep));
    EXPECT_EQ(EnumerateWindows(SingleInstance::kWindowClass).size(), 1u);
    EXPECT_TRUE(CloseMainProgram(windows, L"Corvane Video", L"UWM_JoinDownload_IsMe", timings, sleep));
    EXPECT_EQ(first.Wait(5s), 2);
    EXPECT_EQ(second.Wait(5s), 2);
    EXPECT_FALSE(CloseMainProgram(windows, L"Corvane Video", L"UWM_JoinDownload_IsMe", timings, sleep));
}

TEST_F(ProcessesTest, KilledMainProgramLeavesNothingThatCostsTime) {
    Child victim = Start({QUILMER_FAKE_QUILMER}, "wait");
    ASSERT_TRUE(victim.WaitForLine("registered"));
    ::kill(victim.pid, SIGKILL);
    victim.Wait();
    auto start = Clock::now();
    EXPECT_FALSE(CWindowFinder(SingleInstance::kWindowClass, SingleInstance::kMessageName).Find());
    EXPECT_LT(Clock::now() - start, 1s);
    EXPECT_TRUE(std::filesystem::is_empty(runtime.WindowFolder()));
}

}  // namespace
}  // namespace quilmer
