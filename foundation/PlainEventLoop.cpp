#include "foundation/PlainEventLoop.h"

#include <cstdio>
#include <exception>
#include <vector>

namespace quilmer {

namespace {

// A task or timer that throws must not end the program (and leave encoders and files behind):
// the owner of the work handles its own failures; this is the last line, which says what
// happened and goes on.
template <class F>
auto Guarded(F&& f, decltype(f()) fallback) -> decltype(f()) {
    try {
        return f();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "unexpected error in an event-loop task: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "unexpected error in an event-loop task\n");
    }
    return fallback;
}

}  // namespace

PlainEventLoop::PlainEventLoop() : start_(Clock::now()) {}
PlainEventLoop::~PlainEventLoop() = default;

void PlainEventLoop::Post(Task task) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        tasks_.push_back(std::move(task));
    }
    wake_.notify_one();
}

TimerId PlainEventLoop::StartTimer(std::uint32_t periodMs, TimerCallback callback) {
    TimerId id = nextTimerId_++;
    timers_[id] = Timer{periodMs, Clock::now() + std::chrono::milliseconds(periodMs), std::move(callback)};
    return id;
}

bool PlainEventLoop::StopTimer(TimerId id) { return timers_.erase(id) > 0; }

int PlainEventLoop::Run() {
    int code = 0;
    RunUntil(Clock::now() + std::chrono::hours(24 * 365), false, &code);
    return code;
}

bool PlainEventLoop::RunFor(std::chrono::milliseconds limit, int* code) {
    return RunUntil(Clock::now() + limit, true, code);
}

void PlainEventLoop::Quit(int code) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
        quitCode_ = code;
    }
    wake_.notify_one();
}

std::uint32_t PlainEventLoop::TickMs() const {
    return static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start_).count());
}

void PlainEventLoop::FireDueTimers() {
    // Collect first: a callback may start or stop timers.
    auto now = Clock::now();
    std::vector<TimerId> due;
    for (auto& [id, timer] : timers_)
        if (timer.due <= now) due.push_back(id);
    for (TimerId id : due) {
        auto it = timers_.find(id);
        if (it == timers_.end()) continue;  // stopped by an earlier callback
        // Schedule from the previous due time so ticks do not drift, but never in the past.
        it->second.due += std::chrono::milliseconds(it->second.periodMs);
        if (it->second.due < now) it->second.due = now + std::chrono::milliseconds(it->second.periodMs);
        TimerCallback callback = it->second.callback;  // copy: the callback may stop its timer
        if (!Guarded([&] { return callback(TickMs()); }, false)) timers_.erase(id);
    }
}

bool PlainEventLoop::RunUntil(Clock::time_point deadline, bool bounded, int* code) {
    for (;;) {
        Task task;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            auto wakeAt = deadline;
            for (auto& entry : timers_)
                if (entry.second.due < wakeAt) wakeAt = entry.second.due;
            wake_.wait_until(lock, wakeAt, [&] { return quit_ || !tasks_.empty(); });
            if (quit_) {
                quit_ = false;
                if (code) *code = quitCode_;
                return true;
            }
            if (!tasks_.empty()) {
                task = std::move(tasks_.front());
                tasks_.pop_front();
            }
        }
        if (task) Guarded([&] { task(); return 0; }, 0);
        FireDueTimers();
        if (bounded && Clock::now() >= deadline) return false;
    }
}

}  // namespace quilmer
