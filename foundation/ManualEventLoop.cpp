#include "foundation/ManualEventLoop.h"

namespace quilmer {

void ManualEventLoop::Post(Task task) {
    std::lock_guard<std::mutex> lock(mutex_);
    tasks_.push_back(std::move(task));
}

TimerId ManualEventLoop::StartTimer(std::uint32_t periodMs, TimerCallback callback) {
    TimerId id = nextTimerId_++;
    timers_[id] = Timer{periodMs, now_ + (periodMs ? periodMs : 1), std::move(callback)};
    return id;
}

bool ManualEventLoop::StopTimer(TimerId id) { return timers_.erase(id) > 0; }

int ManualEventLoop::RunPending() {
    int count = 0;
    for (;;) {
        Task task;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (tasks_.empty()) return count;
            task = std::move(tasks_.front());
            tasks_.pop_front();
        }
        task();
        ++count;
    }
}

void ManualEventLoop::Advance(std::uint32_t ms) {
    const std::uint64_t end = now_ + ms;
    RunPending();
    for (;;) {
        // The earliest due timer within the window; ties go to the older timer.
        TimerId next = 0;
        std::uint64_t nextDue = end + 1;
        for (auto& [id, timer] : timers_)
            if (timer.due < nextDue) {
                nextDue = timer.due;
                next = id;
            }
        if (next == 0) break;
        now_ = nextDue;
        Timer& timer = timers_[next];
        timer.due += timer.periodMs ? timer.periodMs : 1;
        TimerCallback callback = timer.callback;  // copy: the callback may stop its timer
        if (!callback(static_cast<std::uint32_t>(now_))) timers_.erase(next);
        RunPending();
    }
    now_ = end;
}

}  // namespace quilmer
