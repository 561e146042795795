#pragma once
// The Property command's probe, off the loop thread: a probe may take up to its time limit (a
// named pipe, a stalled mount) and a copy of the file after that, and the window must keep
// answering meanwhile. One probe at a time; Abandon stops it (the encoder is ended at once, a copy
// stops at its next block) and its result is then never delivered.

#include <functional>
#include <memory>
#include <string>

#include "foundation/EventLoop.h"
#include "media/ClipProperties.h"

namespace quilmer {

class CancelFlag;
class WorkerThread;

class PropertyProbe {
public:
    // Called on the loop thread with the record (path set to the probed path) and whether the
    // probe succeeded.
    using Done = std::function<void(const ClipProperties& record, bool probed)>;

    PropertyProbe(EventLoop& loop, std::wstring encoderPath);
    ~PropertyProbe();  // Abandon
    PropertyProbe(const PropertyProbe&) = delete;
    PropertyProbe& operator=(const PropertyProbe&) = delete;

    // Starts probing path; false (and nothing started) while another probe runs or when no
    // worker could be started.
    bool Start(const std::wstring& path, Done done);
    // Stops the running probe and waits for its worker; its Done is never called.
    void Abandon();
    bool IsRunning() const { return running_; }

private:
    struct Pending;
    void Finished(const std::shared_ptr<Pending>& pending);

    EventLoop& loop_;
    std::wstring encoderPath_;
    std::shared_ptr<Pending> pending_;
    std::unique_ptr<WorkerThread> worker_;
    bool running_ = false;
};

}  // namespace quilmer
