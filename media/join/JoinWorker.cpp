#include "media/join/JoinWorker.h"

#include "foundation/TextTranslator.h"
#include "media/join/CatchUnexpected.h"

namespace quilmer {

JoinWorker::JoinWorker(EventLoop& loop, CancelFlag& cancel, std::uint32_t stopTimeoutMs)
    : loop_(loop), cancel_(cancel), stopTimeoutMs_(stopTimeoutMs), alive_(std::make_shared<JoinWorker*>(this)) {}

JoinWorker::~JoinWorker() {
    Stop();
    alive_.reset();
}

void JoinWorker::Start(std::function<void()> work, std::wstring& failure, std::function<void()> ended) {
    Stop();
    done_ = false;
    std::weak_ptr<JoinWorker*> weak = alive_;
    auto announce = [this, weak, ended = std::move(ended)] {
        loop_.Post([weak, ended] {
            if (weak.lock()) ended();
        });
    };
    thread_ = std::make_unique<WorkerThread>(
        [this, work = std::move(work), &failure, announce] {
            // The work may have set a failure of its own; an exception's text takes its place.
            if (std::wstring unexpected = CatchUnexpected(work); !unexpected.empty()) failure = unexpected;
            done_ = true;
            announce();
            return 0;
        },
        stopTimeoutMs_);
    thread_->SetStopHandler([this] { cancel_.Request(); });
    if (!thread_->Start() && !done_) {
        // The thread could not be made: the join cannot go on, and must not wait for it.
        failure = Tr(L"Cannot start a worker thread.");
        done_ = true;
        announce();
    }
}

bool JoinWorker::Ended() const {
    if (!thread_) return false;
    return done_ || !thread_->IsRunning() || thread_->QueryState(0) == WorkerThread::kEnded;
}

void JoinWorker::Stop() {
    if (!thread_) return;
    thread_->StopAndWait();
    thread_.reset();
}

}  // namespace quilmer
