#include "update/UpdateCheck.h"

#include <unistd.h>

#include <cstdio>

#include "foundation/FileUtil.h"
#include "foundation/Log.h"
#include "foundation/Utf8.h"
#include "foundation/WorkerThread.h"
#include "update/HttpClient.h"
#include "update/SignedDescriptor.h"

namespace quilmer {

bool DownloadToFile(const std::wstring& url, const std::wstring& path, const std::atomic<bool>* cancel,
                    std::string* error, std::uint64_t maxBytes) {
    std::function<bool()> stop;
    if (cancel) stop = [cancel] { return cancel->load(); };
    return DownloadToFile(url, path, std::move(stop), error, maxBytes);
}

bool DownloadToFile(const std::wstring& url, const std::wstring& path, std::function<bool()> stopRequested,
                    std::string* error, std::uint64_t maxBytes) {
    auto fail = [&](std::string why) {
        if (error) *error = std::move(why);
        return false;
    };
    Teska::HttpClient client;
    client.SetCancelCheck(std::move(stopRequested));
    auto response = client.Get(url, false);
    int status = response->StatusCode();
    if (status < 200 || status > 299) {
        return fail(status ? "HTTP status " + std::to_string(status) : response->ErrorText());
    }
    std::uint64_t announced = 0;
    if (maxBytes != 0 && response->ContentLength(announced) && announced > maxBytes) {
        return fail("the body of " + std::to_string(announced) + " bytes is over the limit");
    }
    std::string side = NativePath(path) + ".download";
    std::FILE* out = std::fopen(side.c_str(), "wbe");  // "e": close-on-exec
    if (!out) return fail("cannot create " + side);
    char buffer[16384];
    bool writeFailed = false;
    bool tooLarge = false;
    std::uint64_t received = 0;
    while (std::size_t n = response->Read(buffer, sizeof buffer)) {
        received += n;
        // A server that sends more than it announced, or announces nothing, is cut off here.
        if (maxBytes != 0 && received > maxBytes) {
            tooLarge = true;
            break;
        }
        if (std::fwrite(buffer, 1, n, out) != n) {
            writeFailed = true;
            break;
        }
    }
    if (std::fclose(out) != 0) writeFailed = true;
    if (tooLarge || writeFailed || !response->Completed()) {
        ::unlink(side.c_str());
        return fail(tooLarge      ? "the body is over the limit of " + std::to_string(maxBytes) + " bytes"
                    : writeFailed ? "cannot write " + side
                                  : response->ErrorText());
    }
    if (std::rename(side.c_str(), NativePath(path).c_str()) != 0) {
        ::unlink(side.c_str());
        return fail("cannot replace " + NativePath(path));
    }
    return true;
}

UpdateCheck::UpdateCheck(EventLoop& loop, std::wstring descriptorPath, std::wstring descriptorUrl,
                         std::weak_ptr<const void> receiverAlive, std::function<void(int)> onReady)
    : loop_(loop),
      descriptorPath_(std::move(descriptorPath)),
      descriptorUrl_(std::move(descriptorUrl)),
      receiverAlive_(std::move(receiverAlive)),
      onReady_(std::move(onReady)) {}

std::unique_ptr<WorkerThread> UpdateCheck::MakeWorker(std::shared_ptr<UpdateCheck> job) {
    // The work asks its own worker whether a stop was requested; the worker outlives the work.
    auto holder = std::make_shared<WorkerThread*>(nullptr);
    auto worker = std::make_unique<WorkerThread>(
        [job, holder] {
            WorkerThread* self = *holder;
            return job->Run([self] { return self && self->StopRequested(); });
        },
        5000);
    *holder = worker.get();
    worker->SetStopHandler([job] { job->Cancel(); });
    return worker;
}

int UpdateCheck::Run() { return Run({}); }

int UpdateCheck::Run(const std::function<bool()>& stopRequested) {
    auto stopping = [this, &stopRequested] { return cancel_ || (stopRequested && stopRequested()); };
    // A stale descriptor from an earlier run must not be judged as this run's answer.
    const std::wstring signaturePath = DescriptorSignaturePath(descriptorPath_);
    auto discard = [&] {
        ::unlink(NativePath(descriptorPath_).c_str());
        ::unlink(NativePath(signaturePath).c_str());
    };
    discard();
    if (!DownloadToFile(descriptorUrl_, descriptorPath_, stopping, nullptr, kDescriptorSizeLimit)) return 1;
    // Like an unreachable server: no offer and nothing said, only the log knows.
    auto refuse = [&](const std::string& why) {
        discard();
        CLog::Instance().Write(LOG_WARN, L"version descriptor ignored: " + FromUtf8(why));
        return 1;
    };
    std::string error;
    if (!DownloadToFile(SignatureUrlFor(descriptorUrl_), signaturePath, stopping, &error, kDescriptorSizeLimit)) {
        if (stopping()) {
            discard();
            return 1;
        }
        return refuse("its signature could not be fetched (" + error + ")");
    }
    if (!ReadSignedDescriptor(descriptorPath_, key_, &error)) return refuse(error);
    if (stopping()) return 1;
    loop_.Post([ready = onReady_, alive = receiverAlive_] {
        // Checked on the loop thread, where the receiver is destroyed too: no window can go
        // between the check and the call.
        if (ready && alive.lock()) ready(1);
    });
    return 0;
}

}  // namespace quilmer
