#include "app/core/PropertyProbe.h"

#include <atomic>

#include "foundation/WorkerThread.h"
#include "media/CancelFlag.h"
#include "media/ClipProbe.h"

namespace quilmer {

// What the worker fills in and the loop thread reads once the worker has posted its end. Shared,
// so that a task posted by an abandoned probe finds it still there and sees it was abandoned.
struct PropertyProbe::Pending {
    std::wstring path;
    Done done;
    CancelFlag cancel;
    ClipProperties record;
    bool probed = false;
    std::atomic<bool> ran{false};
    std::atomic<bool> abandoned{false};
};

PropertyProbe::PropertyProbe(EventLoop& loop, std::wstring encoderPath)
    : loop_(loop), encoderPath_(std::move(encoderPath)) {}

PropertyProbe::~PropertyProbe() { Abandon(); }

bool PropertyProbe::Start(const std::wstring& path, Done done) {
    if (running_) return false;
    auto pending = std::make_shared<Pending>();
    pending->path = path;
    pending->done = std::move(done);
    std::wstring encoder = encoderPath_;
    EventLoop* loop = &loop_;
    // The posted task holds the pending record, never this object: it checks `abandoned` first.
    auto worker = std::make_unique<WorkerThread>([pending, encoder, loop, this] {
        pending->ran = true;
        pending->probed = ProbeWithFallback(pending->path, pending->record, encoder, {}, &pending->cancel);
        pending->record.path = pending->path;
        loop->Post([pending, this] {
            if (!pending->abandoned) Finished(pending);
        });
        return 0;
    });
    // A stop that outlasts its time-out ends the encoder run through the flag.
    worker->SetStopHandler([pending] { pending->cancel.Request(); });
    pending_ = pending;
    running_ = true;
    worker_ = std::move(worker);
    // A work that is over by the time Start looks has posted its result all the same.
    if (!worker_->Start() && !pending->ran) {
        running_ = false;
        pending_.reset();
        worker_.reset();
        return false;
    }
    return true;
}

void PropertyProbe::Finished(const std::shared_ptr<Pending>& pending) {
    if (pending != pending_) return;
    worker_.reset();  // the work has posted this as its last step: the join is immediate
    pending_.reset();
    running_ = false;
    if (pending->done) pending->done(pending->record, pending->probed);
}

void PropertyProbe::Abandon() {
    if (!pending_) return;
    pending_->abandoned = true;
    pending_->cancel.Request();
    worker_.reset();  // waits: the raised flag ends the encoder run and any copy at once
    pending_.reset();
    running_ = false;
}

}  // namespace quilmer
