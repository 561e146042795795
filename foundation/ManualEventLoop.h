#pragma once
// An event loop for tests whose clock moves only when the test says so, so that timer-driven
// logic (the join's step and monitor ticks, the updater's download step) is tested without
// sleeping. Post is thread-safe; everything else belongs to the test's thread.

#include "foundation/EventLoop.h"

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>

namespace quilmer {

class ManualEventLoop final : public EventLoop {
public:
    void Post(Task task) override;
    TimerId StartTimer(std::uint32_t periodMs, TimerCallback callback) override;
    bool StopTimer(TimerId id) override;

    // Runs queued tasks, including those they queue, until none is left. Returns how many ran.
    int RunPending();
    // Moves the clock forward by ms, firing every timer at each of its due times in order and
    // running the queued tasks before and after each tick.
    void Advance(std::uint32_t ms);

    std::uint64_t NowMs() const { return now_; }
    bool IsTimerRunning(TimerId id) const { return timers_.count(id) != 0; }
    std::size_t RunningTimerCount() const { return timers_.size(); }

private:
    struct Timer {
        std::uint32_t periodMs;
        std::uint64_t due;
        TimerCallback callback;
    };

    std::mutex mutex_;
    std::deque<Task> tasks_;
    std::map<TimerId, Timer> timers_;
    TimerId nextTimerId_ = 1;
    std::uint64_t now_ = 0;
};

}  // namespace quilmer
