#pragma once
// A periodic timer on the event loop: calls the callback every period on the loop thread, until
// the callback returns false or the timer is stopped. Loop-thread object. The callback may
// stop, restart or even destroy its own timer.

#include "foundation/EventLoop.h"

#include <cstdint>
#include <functional>
#include <memory>

namespace quilmer {

class CallbackTimer {
public:
    using Callback = std::function<bool(std::uint32_t tickMs)>;

    // Starts at once; the first tick comes one period from now.
    CallbackTimer(EventLoop& loop, std::uint32_t periodMs, Callback callback);
    ~CallbackTimer();  // stops the timer
    CallbackTimer(const CallbackTimer&) = delete;
    CallbackTimer& operator=(const CallbackTimer&) = delete;

    // Stops the timer if it runs and starts it again with the same period. Nothing after
    // Release.
    void Restart();
    // Returns whether a timer was running.
    bool StopTimer();
    // Stops the timer and drops the callback (and whatever it holds).
    void Release();

    bool IsRunning() const { return state_->id != 0; }
    std::uint32_t PeriodMs() const { return periodMs_; }

private:
    // Shared with the loop's registration, so a tick that destroys this object stays safe.
    struct State {
        TimerId id = 0;
        Callback callback;
    };
    void StartLoopTimer();

    EventLoop& loop_;
    std::uint32_t periodMs_;
    std::shared_ptr<State> state_;
};

}  // namespace quilmer
