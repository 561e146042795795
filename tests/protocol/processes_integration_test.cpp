// The window protocol between real processes: quilmer-caller against a fake main program that
// uses the main window's own classes, two main programs at once, and the updater closing one.

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <string>
#include <thread>

#include "ProcessSupport.h"
#include "ProtocolTestSupport.h"
#include "app/core/SingleInstance.h"
#include "foundation/protocol/WindowFinder.h"
#include "updater/ProtocolWindows.h"
#include "updater/WindowProtocol.h"

namespace quilmer {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::Child;
using test::Start;

class ProcessesTest : public ::testing::Test {
protected:
    test::PrivateRuntimeDir runtime;
};

TEST_F(ProcessesTest, CallerReceivesTheExactNoticeBytes) {
    const std::string url = "http://v.example/watch?v=a b&t=\"1\"#x \xc3\xa9\xe6\x97\xa5";
    Child caller =
        Start({QUILMER_CALLER, "--quilmer", QUILMER_FAKE_QUILMER, "-o", "/tmp/out file.mp4", "-u", url, "-t",
               "30", "/v/clip one.flv", "/v/it's \"q\".wmv", "/v/\xc3\xa9t\xc3\xa9.mov"});
    ASSERT_GT(caller.pid, 0);
    int code = caller.Wait();
    std::string out = Child::ReadRest(caller.out);
    std::string err = Child::ReadRest(caller.err);
    EXPECT_EQ(code, 0) << err;
    EXPECT_EQ(out,
              std::string("http://v.example/watch%3fv%3da%20b%26t%3d%221%22%23x%20%c3%a9%e6%97%a5") + '\0');
    EXPECT_NE(err.find("quilmer ended with exit code 2"), std::string::npos) << err;
}

TEST_F(ProcessesTest, CallerFailsWhenQuilmerEndsWithoutNoticeOrTakesTooLong) {
    Child failed = Start(
        {QUILMER_CALLER, "-q", QUILMER_FAKE_QUILMER, "-o", "/tmp/o.avi", "/v/a.flv", "/v/b.flv"}, "fail");
    EXPECT_EQ(failed.Wait(), 3);
    EXPECT_EQ(Child::ReadRest(failed.out), "");
    EXPECT_NE(Child::ReadRest(failed.err).find("without a notice"), std::string::npos);

    auto start = Clock::now();
    Child slow = Start(
        {QUILMER_CALLER, "-q", QUILMER_FAKE_QUILMER, "-t", "1", "-o", "/tmp/o.avi", "/v/a.flv"}, "wait");
    EXPECT_EQ(slow.Wait(), 4);
    EXPECT_LT(Clock::now() - start, 10s);
    // The fake main program is still there; close it through its window like anybody would.
    std::optional<WindowHandle> left =
        CWindowFinder(SingleInstance::kWindowClass, SingleInstance::kMessageName).Find();
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
