#include "foundation/WorkerThread.h"

#include <chrono>
#include <system_error>

namespace quilmer {

WorkerThread::WorkerThread(Work work, std::uint32_t stopTimeoutMs)
    : work_(std::move(work)), stopTimeoutMs_(stopTimeoutMs) {}

WorkerThread::~WorkerThread() { StopAndWait(); }

bool WorkerThread::Start() {
    if (started_ || !work_) return false;
    started_ = true;
    try {
        thread_ = std::thread(&WorkerThread::ThreadMain, this);
    } catch (const std::system_error&) {
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!finished_) {
            running_ = true;
            return true;
        }
    }
    Collect();
    return false;
}

void WorkerThread::ThreadMain() {
    int code;
    try {
        code = work_();
    } catch (...) {
        code = -1;  // an escaping exception would end the whole program
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        exitCode_ = code;
        finished_ = true;
    }
    changed_.notify_all();
}

void WorkerThread::Collect() {
    if (thread_.joinable()) thread_.join();
    running_ = false;
}

int WorkerThread::QueryState(std::uint32_t /*timeoutMs*/) {
    if (!started_) return kUnknown;
    if (!thread_.joinable()) return kEnded;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!finished_) return kRunning;
    }
    Collect();
    return kEnded;
}

void WorkerThread::StopAndWait() {
    if (!thread_.joinable()) return;
    std::unique_lock<std::mutex> lock(mutex_);
    stopRequested_ = true;
    changed_.notify_all();
    const auto timeout = std::chrono::milliseconds(stopTimeoutMs_);
    while (!changed_.wait_for(lock, timeout, [this] { return finished_; })) {
        // Outlasted the time-out: end what the work waits on, and keep waiting for it.
        auto handler = stopHandler_;
        lock.unlock();
        if (handler) handler();
        lock.lock();
    }
    stopRequested_ = false;
    lock.unlock();
    Collect();
}

void WorkerThread::Stop() {
    if (running_) StopAndWait();
}

void WorkerThread::SetStopHandler(std::function<void()> handler) { stopHandler_ = std::move(handler); }

bool WorkerThread::StopRequested() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return stopRequested_;
}

bool WorkerThread::WaitForStop(std::uint32_t timeoutMs) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return stopRequested_; });
}

int WorkerThread::ExitCode() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return exitCode_;
}

}  // namespace quilmer
