#include "foundation/ManualEventLoop.h"
#include "foundation/PlainEventLoop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

using namespace quilmer;

TEST(ManualEventLoop, TimersFireAtTheirDueTimesInOrder) {
    ManualEventLoop loop;
    std::vector<std::pair<char, std::uint32_t>> fired;
    loop.StartTimer(1000, [&](std::uint32_t t) { fired.push_back({'a', t}); return true; });
    loop.StartTimer(1500, [&](std::uint32_t t) { fired.push_back({'b', t}); return true; });
    loop.Advance(999);
    EXPECT_TRUE(fired.empty());
    loop.Advance(2001);
    std::vector<std::pair<char, std::uint32_t>> expected{{'a', 1000}, {'b', 1500}, {'a', 2000}, {'a', 3000}, {'b', 3000}};
    EXPECT_EQ(fired, expected);
}

TEST(ManualEventLoop, CallbackReturningFalseOrStoppingItselfEndsTheTimer) {
    ManualEventLoop loop;
    int ticksA = 0, ticksB = 0;
    loop.StartTimer(10, [&](std::uint32_t) { return ++ticksA < 2; });
    TimerId b = 0;
    b = loop.StartTimer(10, [&](std::uint32_t) { ++ticksB; loop.StopTimer(b); return true; });
    loop.Advance(100);
    EXPECT_EQ(ticksA, 2);
    EXPECT_EQ(ticksB, 1);
    EXPECT_EQ(loop.RunningTimerCount(), 0u);
    EXPECT_FALSE(loop.StopTimer(b));
}

TEST(ManualEventLoop, TasksPostedFromOtherThreadsRunOnRunPending) {
    ManualEventLoop loop;
    int ran = 0;
    std::thread t([&] { loop.Post([&] { ++ran; loop.Post([&] { ++ran; }); }); });
    t.join();
    EXPECT_EQ(ran, 0);
    EXPECT_EQ(loop.RunPending(), 2);
    EXPECT_EQ(ran, 2);
}

TEST(PlainEventLoop, RunsPostedTasksAndTimersUntilQuit) {
    PlainEventLoop loop;
    const auto loopThread = std::this_thread::get_id();
    bool ran = false;  // touched on the loop thread only
    std::thread::id ranOn;
    int ticks = 0;
    loop.StartTimer(5, [&](std::uint32_t) {
        // Quits only once the task posted from the other thread has run here.
        if (++ticks >= 3 && ran) loop.Quit(7);
        return true;
    });
    std::thread t([&] {
        loop.Post([&] {
            ran = true;
            ranOn = std::this_thread::get_id();
        });
    });
    int code = -1;
    EXPECT_TRUE(loop.RunFor(std::chrono::seconds(30), &code)) << "the posted task never ran";
    t.join();
    EXPECT_EQ(code, 7);
    EXPECT_TRUE(ran);
    EXPECT_EQ(ranOn, loopThread);
    EXPECT_GE(ticks, 3);
}

TEST(PlainEventLoop, RunForGivesUpAtItsLimit) {
    PlainEventLoop loop;
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(loop.RunFor(std::chrono::milliseconds(50)));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
}

TEST(PlainEventLoop, QuitFromAnotherThreadWakesTheLoop) {
    // The loop waits with nothing to do (no timer, no task); only Quit's wake-up can end the wait
    // before the limit. A loop that missed the wake-up would sit out the whole minute.
    PlainEventLoop loop;
    std::atomic<bool> running{false};
    loop.Post([&] { running = true; });
    std::thread t([&] {
        while (!running) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        // The loop has run the task; give it a moment to go back to waiting (either order must
        // work, the pause only makes the waiting case the usual one).
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        loop.Quit(3);
    });
    const auto start = std::chrono::steady_clock::now();
    int code = -1;
    const bool quit = loop.RunFor(std::chrono::seconds(60), &code);
    const auto took = std::chrono::steady_clock::now() - start;
    t.join();
    EXPECT_TRUE(quit);
    EXPECT_EQ(code, 3);
    EXPECT_LT(took, std::chrono::seconds(30)) << "Quit did not wake the waiting loop";
}
