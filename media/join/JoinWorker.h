#pragma once
// One step of a join's work on a thread of its own, with what every such step needs: an
// exception in the work becomes the step's failure text instead of ending the program with the
// encoder and the join's files left behind; the loop thread hears of the end through a posted
// call that never reaches an owner that is gone; and a stop that outlasts the thread's time-out
// raises the owner's cancel flag, which ends the process the work waits on.

#include "foundation/EventLoop.h"
#include "foundation/WorkerThread.h"
#include "media/CancelFlag.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace quilmer {

class JoinWorker {
public:
    JoinWorker(EventLoop& loop, CancelFlag& cancel, std::uint32_t stopTimeoutMs);
    ~JoinWorker();
    JoinWorker(const JoinWorker&) = delete;
    JoinWorker& operator=(const JoinWorker&) = delete;

    // Runs `work` on a new thread. An exception's text, or why the thread could not start, goes
    // to `failure` (the caller's, read once the work has ended); `ended` then runs on the loop
    // thread, unless this worker is gone by then.
    void Start(std::function<void()> work, std::wstring& failure, std::function<void()> ended);
    // A step has been started and not yet stopped.
    bool Active() const { return thread_ != nullptr; }
    // The work has returned (or its thread has ended some other way).
    bool Ended() const;
    // Asks the work to stop, waits for its thread and lets it go; nothing when none is active.
    void Stop();

private:
    EventLoop& loop_;
    CancelFlag& cancel_;
    std::uint32_t stopTimeoutMs_;
    std::unique_ptr<WorkerThread> thread_;
    std::atomic<bool> done_{false};
    std::shared_ptr<JoinWorker*> alive_;
};

}  // namespace quilmer
