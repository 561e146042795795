// A task or timer that throws does not end the program: the loop goes on with the next one.

#include "foundation/PlainEventLoop.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace quilmer {
namespace {

TEST(PlainEventLoopExceptions, AThrowingTaskOrTimerDoesNotEndTheLoop) {
    PlainEventLoop loop;
    int ticks = 0;
    loop.StartTimer(1, [&](std::uint32_t) -> bool {
        ++ticks;
        throw std::runtime_error("timer failed");
    });
    loop.Post([] { throw std::runtime_error("task failed"); });
    loop.Post([] { throw 42; });
    loop.Post([&] {
        // The timer may tick first; either way the loop runs on to here.
        loop.StartTimer(20, [&](std::uint32_t) {
            loop.Quit(7);
            return false;
        });
    });
    int code = 0;
    ASSERT_TRUE(loop.RunFor(std::chrono::seconds(30), &code));
    EXPECT_EQ(code, 7);
    EXPECT_LE(ticks, 1);  // a timer that threw is stopped
}

}  // namespace
}  // namespace quilmer
