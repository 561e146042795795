#pragma once
// The version-check job: run once per program run on a worker thread, it fetches the version
// descriptor and its signature into the user's data folder and tells the loop thread when the
// file is ready and signed by the maker. Every failure is silent: no descriptor, no notice; a
// descriptor whose signature does not verify is removed and leaves a line in the log.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "foundation/EventLoop.h"
#include "update/PackageSignature.h"

namespace quilmer {

class WorkerThread;

// The most a version descriptor may be; a larger answer is no descriptor.
inline constexpr std::uint64_t kDescriptorSizeLimit = 1024 * 1024;

// Fetches url into path: the body goes to a side file that replaces path only when the server
// answered 2xx and the whole body arrived. False otherwise (path is then absent or untouched).
// maxBytes (0: no limit): a body announced or found to be larger fails as soon as that is known.
bool DownloadToFile(const std::wstring& url, const std::wstring& path,
                    const std::atomic<bool>* cancel = nullptr, std::string* error = nullptr,
                    std::uint64_t maxBytes = 0);
// The same with a stop question asked between reads and while waiting for the server.
bool DownloadToFile(const std::wstring& url, const std::wstring& path, std::function<bool()> stopRequested,
                    std::string* error = nullptr, std::uint64_t maxBytes = 0);

class UpdateCheck {
public:
    // onReady runs on the loop thread with the automatic-check flag (1), and only while the
    // receiver (the window that asked) still holds the object receiverAlive points to: a window
    // keeps a shared_ptr of its own for this and drops it when it goes, so a notice that arrives
    // after the window is gone is dropped instead of reaching a destroyed window.
    UpdateCheck(EventLoop& loop, std::wstring descriptorPath, std::wstring descriptorUrl,
                std::weak_ptr<const void> receiverAlive, std::function<void(int autoCheckFlag)> onReady);

    // The worker's function: deletes the old descriptor, downloads the new one and its
    // signature, checks it and posts the ready notice. Returns 0 when the notice was posted, 1 otherwise.
    int Run();
    // The same, abandoning the download as soon as stopRequested answers true.
    int Run(const std::function<bool()>& stopRequested);
    // The key the descriptor's signature must verify with (default: the built-in one).
    void SetDescriptorKey(const PackageKey& key) { key_ = key; }
    // Makes a download in progress give up (the worker's stop handler).
    void Cancel() { cancel_ = true; }

    // The worker that runs the job once. A stop ends a download in progress within a fraction of
    // a second (the stop time-out of 5000 ms is only the last resort). Start it when the main
    // window is ready; when no thread can be made, Start fails and nothing waits for the job.
    static std::unique_ptr<WorkerThread> MakeWorker(std::shared_ptr<UpdateCheck> job);

    const std::wstring& DescriptorPath() const { return descriptorPath_; }
    const std::wstring& DescriptorUrl() const { return descriptorUrl_; }

private:
    EventLoop& loop_;
    std::wstring descriptorPath_;
    std::wstring descriptorUrl_;
    std::weak_ptr<const void> receiverAlive_;
    std::function<void(int)> onReady_;
    std::atomic<bool> cancel_{false};
    PackageKey key_ = BuiltInPackageKey();
};

}  // namespace quilmer
