#include "foundation/CallbackTimer.h"

namespace quilmer {

CallbackTimer::CallbackTimer(EventLoop& loop, std::uint32_t periodMs, Callback callback)
    : loop_(loop), periodMs_(periodMs), state_(std::make_shared<State>()) {
    state_->callback = std::move(callback);
    StartLoopTimer();
}

CallbackTimer::~CallbackTimer() { StopTimer(); }

void CallbackTimer::StartLoopTimer() {
    if (!state_->callback) return;
    std::weak_ptr<State> weak = state_;
    state_->id = loop_.StartTimer(periodMs_, [weak](std::uint32_t tickMs) {
        std::shared_ptr<State> state = weak.lock();
        if (!state || !state->callback) return false;
        TimerId mine = state->id;
        Callback callback = state->callback;  // copy: the callback may release or destroy us
        bool again = callback(tickMs);
        // If the callback restarted the timer, the new registration is the one that counts.
        if (state->id != mine) return false;
        if (!again) state->id = 0;
        return again;
    });
}

void CallbackTimer::Restart() {
    StopTimer();
    StartLoopTimer();
}

bool CallbackTimer::StopTimer() {
    if (state_->id == 0) return false;
    TimerId id = state_->id;
    state_->id = 0;
    return loop_.StopTimer(id);
}

void CallbackTimer::Release() {
    StopTimer();
    state_->callback = nullptr;
}

}  // namespace quilmer
