#pragma once
// The main window's compatibility report, kept up to date off the loop thread: each change of
// the clip list starts a check of the new list on a worker (the clips are opened and read, which
// takes a moment per clip and may stall on a slow mount), abandoning the check of the list
// before. Only the check of the latest list is delivered, on the loop thread.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "foundation/EventLoop.h"
#include "media/join/methods/ClipListCheck.h"

namespace quilmer {

class WorkerThread;

class CompatibilityWatch {
public:
    using Done = std::function<void(const ClipListCheck& check)>;

    // `done` is called on the loop thread with each finished check.
    CompatibilityWatch(EventLoop& loop, Done done);
    ~CompatibilityWatch();  // Abandon
    CompatibilityWatch(const CompatibilityWatch&) = delete;
    CompatibilityWatch& operator=(const CompatibilityWatch&) = delete;

    // Checks `clips` for a join into `target`; the check of an earlier list is abandoned. An
    // empty list is not checked (nothing is delivered). False when no worker could be started.
    bool Check(const std::vector<std::wstring>& clips, const TargetFormat& target);
    // Stops the running check and waits for its worker; its result is never delivered.
    void Abandon();
    bool IsRunning() const { return worker_ != nullptr; }

private:
    struct Pending;
    void Finished(const std::shared_ptr<Pending>& pending);

    EventLoop& loop_;
    Done done_;
    std::shared_ptr<Pending> pending_;
    std::unique_ptr<WorkerThread> worker_;
};

// The line under the clip list: "" for an empty list, else the check's summary.
std::wstring CompatibilityLineText(const ClipListCheck& check, std::size_t clipCount);
// The line while the check runs.
std::wstring CompatibilityCheckingText();

}  // namespace quilmer
