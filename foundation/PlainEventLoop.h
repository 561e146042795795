#pragma once
// An event loop for programs without a GUI (the command-line front end) and for tests that want
// real time: Run() executes posted tasks and timers on the calling thread until Quit().

#include "foundation/EventLoop.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>

namespace quilmer {

class PlainEventLoop final : public EventLoop {
public:
    PlainEventLoop();
    ~PlainEventLoop() override;

    void Post(Task task) override;
    TimerId StartTimer(std::uint32_t periodMs, TimerCallback callback) override;
    bool StopTimer(TimerId id) override;

    // Runs until Quit() is called (from any thread). Returns the code given to Quit().
    int Run();
    // Like Run, but returns false when the time limit passes before Quit() (the loop is left
    // ready to run again).
    bool RunFor(std::chrono::milliseconds limit, int* code = nullptr);
    void Quit(int code = 0);

private:
    using Clock = std::chrono::steady_clock;
    struct Timer {
        std::uint32_t periodMs;
        Clock::time_point due;
        TimerCallback callback;
    };

    bool RunUntil(Clock::time_point deadline, bool bounded, int* code);
    void FireDueTimers();
    std::uint32_t TickMs() const;

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Task> tasks_;
    bool quit_ = false;
    int quitCode_ = 0;

    // Timers are touched only on the loop thread.
    std::map<TimerId, Timer> timers_;
    TimerId nextTimerId_ = 1;
    Clock::time_point start_;
};

}  // namespace quilmer
