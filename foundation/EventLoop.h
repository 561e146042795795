#pragma once
// The one seam between the GUI-free core and whatever runs the program's main loop.
// The core never blocks the loop thread for long work: it starts a worker, and the worker reaches
// the loop thread only through Post. Timers tick on the loop thread.

#include <cstdint>
#include <functional>

namespace quilmer {

using TimerId = std::uint64_t;

class EventLoop {
public:
    using Task = std::function<void()>;
    // Receives the loop's tick time in milliseconds (wraps at 2^32, like a system tick count).
    // Returning false stops the timer.
    using TimerCallback = std::function<bool(std::uint32_t tickMs)>;

    virtual ~EventLoop() = default;

    // Queues a task to run on the loop thread, after the tasks queued before it. Safe from any
    // thread, including the loop thread itself.
    virtual void Post(Task task) = 0;

    // Starts a periodic timer; the first tick comes one period from now. Loop thread only.
    // Returns a non-zero id.
    virtual TimerId StartTimer(std::uint32_t periodMs, TimerCallback callback) = 0;

    // Stops a timer. Returns false when no timer with that id runs. Loop thread only; a timer's
    // callback may stop its own or any other timer.
    virtual bool StopTimer(TimerId id) = 0;
};

}  // namespace quilmer
