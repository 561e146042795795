#pragma once
// Runs one function once on a thread of its own, tells whether it has ended, and stops it.
// No thread is ever killed: killing a thread would leave whatever it holds (the job lock, the
// allocator's locks, an encoder process) in a broken state. A stop instead asks the work to end
// (StopRequested / WaitForStop), waits the stop time-out, and then calls the stop handler, whose
// job is to end what the work is blocked on (for a join step: kill the encoder process, so that
// the work function returns by itself). The wait then goes on until the work has returned.
//
// Owner-thread object: create, start, query, stop and destroy it on one thread (the loop
// thread); only the work function runs on the new thread.

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

namespace quilmer {

class WorkerThread {
public:
    using Work = std::function<int()>;

    enum State : int { kRunning = 1, kEnded = 2, kUnknown = 3 };

    WorkerThread(Work work, std::uint32_t stopTimeoutMs = 5000);
    ~WorkerThread();  // StopAndWait
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // Starts the thread (once per object). False when the thread cannot be created, when it is
    // already started, or when the work has already returned by the time Start looks (callers
    // then treat the worker as ended; ExitCode() holds its result).
    bool Start();

    // kRunning while the work runs; kEnded once it has returned (then IsRunning() turns false)
    // or after a stop; kUnknown before Start. The answer is available at once, so the time-out
    // never delays it.
    int QueryState(std::uint32_t timeoutMs = 0);

    // Asks the work to stop and waits for it: after the stop time-out the stop handler is called,
    // and again after each further time-out, until the work has returned. Nothing when the
    // thread was never started or is already collected.
    void StopAndWait();
    // StopAndWait, only when running.
    void Stop();

    bool IsRunning() const { return running_; }

    // Called on the owner's thread when a stop outlasts the time-out.
    void SetStopHandler(std::function<void()> handler);

    // For the work function (any thread): whether a stop was asked for, and an interruptible
    // sleep that returns true as soon as one is.
    bool StopRequested() const;
    bool WaitForStop(std::uint32_t timeoutMs) const;

    // The work's result once it has returned (0 before; -1 when it threw).
    int ExitCode() const;

private:
    void ThreadMain();
    void Collect();

    Work work_;
    std::uint32_t stopTimeoutMs_;
    std::function<void()> stopHandler_;
    std::thread thread_;
    bool started_ = false;
    bool running_ = false;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    bool finished_ = false;
    bool stopRequested_ = false;
    int exitCode_ = 0;
};

}  // namespace quilmer
