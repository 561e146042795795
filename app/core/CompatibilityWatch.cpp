#include "app/core/CompatibilityWatch.h"

#include <atomic>

#include "foundation/TextTranslator.h"
#include "foundation/WorkerThread.h"
#include "media/CancelFlag.h"

namespace quilmer {

// What the worker fills in and the loop thread reads once the worker has posted its end; shared,
// so that a task posted by an abandoned check finds it still there and sees it was abandoned.
struct CompatibilityWatch::Pending {
    std::vector<std::wstring> clips;
    TargetFormat target;
    CancelFlag cancel;
    ClipListCheck check;
    std::atomic<bool> ran{false};
    std::atomic<bool> abandoned{false};
};

CompatibilityWatch::CompatibilityWatch(EventLoop& loop, Done done) : loop_(loop), done_(std::move(done)) {}

CompatibilityWatch::~CompatibilityWatch() { Abandon(); }

bool CompatibilityWatch::Check(const std::vector<std::wstring>& clips, const TargetFormat& target) {
    Abandon();
    if (clips.empty()) return true;
    auto pending = std::make_shared<Pending>();
    pending->clips = clips;
    pending->target = target;
    EventLoop* loop = &loop_;
    // The posted task holds the pending record, never this object: it checks `abandoned` first.
    auto worker = std::make_unique<WorkerThread>([pending, loop, this] {
        pending->ran = true;
        pending->check = CheckClipList(pending->clips, pending->target, pending->cancel);
        loop->Post([pending, this] {
            if (!pending->abandoned) Finished(pending);
        });
        return 0;
    });
    worker->SetStopHandler([pending] { pending->cancel.Request(); });
    pending_ = pending;
    worker_ = std::move(worker);
    if (!worker_->Start() && !pending->ran) {
        pending_.reset();
        worker_.reset();
        return false;
    }
    return true;
}

void CompatibilityWatch::Finished(const std::shared_ptr<Pending>& pending) {
    if (pending != pending_) return;
    worker_.reset();  // the work has posted this as its last step: the join is immediate
    pending_.reset();
    if (done_ && !pending->check.stopped) done_(pending->check);
}

void CompatibilityWatch::Abandon() {
    if (!pending_) return;
    pending_->abandoned = true;
    pending_->cancel.Request();
    worker_.reset();  // waits: the raised flag ends the reading of a clip at its next read
    pending_.reset();
}

std::wstring CompatibilityLineText(const ClipListCheck& check, std::size_t clipCount) {
    if (clipCount == 0) return {};
    return check.Summary();
}

std::wstring CompatibilityCheckingText() { return Tr(L"Comparing the clips..."); }

}  // namespace quilmer
