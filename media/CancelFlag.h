#pragma once
// A stop request that any thread may raise and that a blocked encoder run notices at once: the
// flag is backed by an eventfd, so the runner can wait for "output or stop" in one poll().

#include <atomic>

namespace quilmer {

class CancelFlag {
public:
    CancelFlag();
    ~CancelFlag();
    CancelFlag(const CancelFlag&) = delete;
    CancelFlag& operator=(const CancelFlag&) = delete;

    // Raises the flag; a RunEncoder call waiting on it ends its process at once. Any thread.
    void Request();
    bool IsRequested() const;
    // Lowers the flag for the next run. Call it only while no run uses the flag.
    void Reset();

    // Readable while the flag is raised (-1 when no eventfd could be made; the runner then
    // polls the flag with a short time-out instead).
    int WaitHandle() const { return fd_; }

private:
    std::atomic<bool> requested_{false};
    int fd_ = -1;
};

}  // namespace quilmer
