#include "foundation/CallbackTimer.h"
#include "foundation/ManualEventLoop.h"
#include "foundation/WorkerThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "tests/support/TestSupport.h"

using namespace quilmer;
using namespace std::chrono_literals;

namespace {

// Polls the owner's view until the worker is seen ended (the limit only turns a hang into a failure).
bool EventuallyEnded(WorkerThread& worker) {
    return quilmer::test::WaitUntil([&] { return worker.QueryState(0) == WorkerThread::kEnded; }, 30s);
}

}  // namespace

TEST(WorkerThread, ReportsRunningThenEndedWithExitCode) {
    std::atomic<bool> release{false};
    WorkerThread worker([&] {
        while (!release) std::this_thread::sleep_for(1ms);
        return 7;
    });
    EXPECT_EQ(worker.QueryState(0), WorkerThread::kUnknown);
    ASSERT_TRUE(worker.Start());
    EXPECT_FALSE(worker.Start());  // once per object
    EXPECT_TRUE(worker.IsRunning());
    EXPECT_EQ(worker.QueryState(0), WorkerThread::kRunning);
    release = true;
    EXPECT_TRUE(EventuallyEnded(worker));
    EXPECT_FALSE(worker.IsRunning());
    EXPECT_EQ(worker.ExitCode(), 7);
    EXPECT_EQ(worker.QueryState(0), WorkerThread::kEnded);
}

TEST(WorkerThread, WorkThatEndsAtOnceCountsAsEnded) {
    for (int i = 0; i < 20; ++i) {
        WorkerThread worker([] { return 3; });
        bool started = worker.Start();
        // Either Start already saw it ended, or the owner sees it end shortly.
        if (started) {
            EXPECT_TRUE(EventuallyEnded(worker));
        }
        EXPECT_FALSE(worker.IsRunning());
        EXPECT_EQ(worker.ExitCode(), 3);
    }
    WorkerThread thrower([]() -> int { throw 1; });
    thrower.Start();
    thrower.StopAndWait();
    EXPECT_EQ(thrower.ExitCode(), -1);
}

TEST(WorkerThread, CooperativeWorkStopsWithoutTheHandler) {
    bool handlerCalled = false;
    WorkerThread* self = nullptr;
    WorkerThread worker(
        [&] {
            while (!self->WaitForStop(1000)) {
            }
            return 5;
        },
        60000);
    self = &worker;
    worker.SetStopHandler([&] { handlerCalled = true; });
    ASSERT_TRUE(worker.Start());
    auto begin = std::chrono::steady_clock::now();
    worker.Stop();
    // The work saw the stop itself: the owner did not sit out the minute of the stop time-out.
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 30s);
    EXPECT_FALSE(handlerCalled);
    EXPECT_FALSE(worker.IsRunning());
    EXPECT_EQ(worker.QueryState(0), WorkerThread::kEnded);
    EXPECT_FALSE(worker.StopRequested());  // reset after the stop
    worker.Stop();                           // not running: nothing
}

TEST(WorkerThread, StopOutlastingTimeoutCallsHandlerThenJoins) {
    // Stands in for a work blocked on an encoder that ignores the stop: only the handler (which
    // would kill the encoder) releases it.
    std::atomic<bool> released{false};
    std::atomic<int> handlerCalls{0};
    WorkerThread worker(
        [&] {
            while (!released) std::this_thread::sleep_for(1ms);
            return 9;
        },
        100);
    worker.SetStopHandler([&] {
        ++handlerCalls;
        released = true;
    });
    ASSERT_TRUE(worker.Start());
    auto begin = std::chrono::steady_clock::now();
    worker.StopAndWait();
    auto took = std::chrono::steady_clock::now() - begin;
    EXPECT_GE(took, 100ms);  // the handler comes only after the time-out
    EXPECT_LT(took, 30s);
    EXPECT_EQ(handlerCalls, 1);
    EXPECT_FALSE(worker.IsRunning());
    EXPECT_EQ(worker.ExitCode(), 9);
    EXPECT_EQ(worker.QueryState(0), WorkerThread::kEnded);
}

TEST(WorkerThread, HandlerIsCalledAgainUntilTheWorkEnds) {
    // A handler that comes too early (the encoder was not started yet) gets another chance.
    std::atomic<int> handlerCalls{0};
    WorkerThread worker(
        [&] {
            while (handlerCalls < 3) std::this_thread::sleep_for(1ms);
            return 0;
        },
        30);
    worker.SetStopHandler([&] { ++handlerCalls; });
    ASSERT_TRUE(worker.Start());
    worker.StopAndWait();
    EXPECT_EQ(handlerCalls, 3);
}

TEST(CallbackTimer, TicksUntilCallbackDeclinesAndRestarts) {
    ManualEventLoop loop;
    std::vector<std::uint32_t> ticks;
    CallbackTimer timer(loop, 1000, [&](std::uint32_t tick) {
        ticks.push_back(tick);
        return ticks.size() < 3;
    });
    EXPECT_TRUE(timer.IsRunning());
    loop.Advance(999);
    EXPECT_TRUE(ticks.empty());
    loop.Advance(5001);
    EXPECT_EQ(ticks, (std::vector<std::uint32_t>{1000, 2000, 3000}));
    EXPECT_FALSE(timer.IsRunning());
    EXPECT_FALSE(timer.StopTimer());  // already stopped: nothing ran
    timer.Restart();
    loop.Advance(1000);
    EXPECT_EQ(ticks.size(), 4u);
    EXPECT_FALSE(timer.IsRunning());
    EXPECT_EQ(loop.RunningTimerCount(), 0u);
}

TEST(CallbackTimer, StopReleaseAndDestructionEndTicks) {
    ManualEventLoop loop;
    int count = 0;
    {
        CallbackTimer timer(loop, 40, [&](std::uint32_t) { return ++count, true; });
        loop.Advance(120);
        EXPECT_EQ(count, 3);
        EXPECT_TRUE(timer.StopTimer());
        loop.Advance(200);
        EXPECT_EQ(count, 3);
        timer.Restart();
        loop.Advance(40);
        EXPECT_EQ(count, 4);
    }
    EXPECT_EQ(loop.RunningTimerCount(), 0u);  // destruction stopped it

    auto held = std::make_shared<int>(0);
    CallbackTimer timer(loop, 10, [held](std::uint32_t) { return true; });
    timer.Release();
    EXPECT_EQ(held.use_count(), 1);  // callback dropped
    timer.Restart();                 // nothing to run
    EXPECT_FALSE(timer.IsRunning());
}

TEST(CallbackTimer, CallbackMayDestroyOrRestartItsTimer) {
    ManualEventLoop loop;
    CallbackTimer* timer = nullptr;
    timer = new CallbackTimer(loop, 100, [&](std::uint32_t) {
        delete timer;
        return true;
    });
    loop.Advance(300);  // must not touch the deleted object
    EXPECT_EQ(loop.RunningTimerCount(), 0u);

    int ticks = 0;
    CallbackTimer* self = nullptr;
    CallbackTimer restarting(loop, 100, [&](std::uint32_t) {
        if (++ticks == 1) self->Restart();
        return false;  // declines, but the restarted timer stays
    });
    self = &restarting;
    loop.Advance(100);
    EXPECT_TRUE(restarting.IsRunning());
    loop.Advance(100);
    EXPECT_EQ(ticks, 2);
    EXPECT_FALSE(restarting.IsRunning());
}
