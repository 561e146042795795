#include "controls/WxEventLoop.h"

#include <wx/timer.h>

#include <chrono>

namespace quilmer {

class WxEventLoop::Timer final : public wxTimer {
public:
    Timer(WxEventLoop& loop, TimerId id, TimerCallback callback)
        : loop_(loop), id_(id), callback_(std::move(callback)) {}
    void Notify() override { loop_.Fire(id_); }
    TimerCallback& Callback() { return callback_; }

private:
    WxEventLoop& loop_;
    TimerId id_;
    TimerCallback callback_;
};

WxEventLoop::WxEventLoop() = default;

WxEventLoop::~WxEventLoop() {
    for (auto& [id, timer] : timers_) timer->Stop();
    handler_.DeletePendingEvents();
}

std::uint32_t WxEventLoop::TickMs() {
    auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

void WxEventLoop::Post(Task task) {
    // CallAfter queues an event, which wx allows from any thread.
    handler_.CallAfter([task = std::move(task)] {
        if (task) task();
    });
}

TimerId WxEventLoop::StartTimer(std::uint32_t periodMs, TimerCallback callback) {
    TimerId id = nextId_++;
    auto timer = std::make_unique<Timer>(*this, id, std::move(callback));
    timer->Start(static_cast<int>(periodMs > 0 ? periodMs : 1));
    timers_[id] = std::move(timer);
    return id;
}

bool WxEventLoop::StopTimer(TimerId id) {
    auto it = timers_.find(id);
    if (it == timers_.end()) return false;
    it->second->Stop();
    Bury(std::move(it->second));
    timers_.erase(it);
    return true;
}

void WxEventLoop::Bury(std::unique_ptr<Timer> timer) {
    stopped_.push_back(std::move(timer));
    handler_.CallAfter([this] { stopped_.clear(); });
}

void WxEventLoop::Fire(TimerId id) {
    auto it = timers_.find(id);
    if (it == timers_.end()) return;
    // The callback may stop this or any timer; a copy keeps it alive while it runs.
    TimerCallback callback = it->second->Callback();
    bool keep = callback ? callback(TickMs()) : false;
    if (!keep) StopTimer(id);
}

}  // namespace quilmer
