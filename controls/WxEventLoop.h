#pragma once
// The core's event loop on wxWidgets: posted tasks run as queued events of the GUI thread, timers
// are wxTimers. Tasks still queued when the loop object goes away are dropped.

#include <wx/event.h>

#include <map>
#include <memory>
#include <vector>

#include "foundation/EventLoop.h"

namespace quilmer {

class WxEventLoop final : public EventLoop {
public:
    WxEventLoop();
    ~WxEventLoop() override;
    WxEventLoop(const WxEventLoop&) = delete;
    WxEventLoop& operator=(const WxEventLoop&) = delete;

    void Post(Task task) override;
    TimerId StartTimer(std::uint32_t periodMs, TimerCallback callback) override;
    bool StopTimer(TimerId id) override;

    // Milliseconds of a monotonic clock, wrapping at 2^32 like a tick count.
    static std::uint32_t TickMs();

private:
    class Timer;
    void Fire(TimerId id);
    void Bury(std::unique_ptr<Timer> timer);

    wxEvtHandler handler_;
    std::map<TimerId, std::unique_ptr<Timer>> timers_;
    // Timers stopped from inside their own tick die after it returns.
    std::vector<std::unique_ptr<Timer>> stopped_;
    TimerId nextId_ = 1;
};

}  // namespace quilmer
