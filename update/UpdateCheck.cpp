#include "update/UpdateCheck.h"

#include <unistd.h>

#include <cstdio>

#include "foundation/FileUtil.h"
#include "foundation/WorkerThread.h"
#include "update/HttpClient.h"

namespace quilmer {

bool DownloadToFile(const std::wstring& url, const std::wstring& path, const std::atomic<bool>* cancel,
                    std::string* error) {
    auto fail = [&](std::string why) {
        if (error) *error = std::move(why);
        return false;
    };
    Teska::HttpClient client;
    client.SetCancelFlag(cancel);
    auto response = client.Get(url, false);
    int status = response->StatusCode();
    if (status < 200 || status > 299) {
        return fail(status ? "HTTP status " + std::to_string(status) : response->ErrorText());
    }
    std::string side = NativePath(path) + ".download";
    std::FILE* out = std::fopen(side.c_str(), "wbe");  // "e": close-on-exec
    if (!out) return fail("cannot create " + side);
    char buffer[16384];
    bool writeFailed = false;
    while (std::size_t n = response->Read(buffer, sizeof buffer)) {
        if (std::fwrite(buffer, 1, n, out) != n) {
            writeFailed = true;
            break;
        }
    }
    if (std::fclose(out) != 0) writeFailed = true;
    if (writeFailed || !response->Completed()) {
        ::unlink(side.c_str());
        return fail(writeFailed ? "cannot write " + side : response->ErrorText());
    }
    if (std::rename(side.c_str(), NativePath(path).c_str()) != 0) {
        ::unlink(side.c_str());
        return fail("cannot replace " + NativePath(path));
    }
    return true;
}

UpdateCheck::UpdateCheck(EventLoop& loop, std::wstring descriptorPath, std::wstring descriptorUrl,
                         std::function<void(int)> onReady)
    : loop_(loop),
      descriptorPath_(std::move(descriptorPath)),
      descriptorUrl_(std::move(descriptorUrl)),
      onReady_(std::move(onReady)) {}

std::unique_ptr<WorkerThread> UpdateCheck::MakeWorker(std::shared_ptr<UpdateCheck> job) {
    auto worker = std::make_unique<WorkerThread>([job] { return job->Run(); }, 5000);
    worker->SetStopHandler([job] { job->Cancel(); });
    return worker;
}

int UpdateCheck::Run() {
    // A stale descriptor from an earlier run must not be judged as this run's answer.
    ::unlink(NativePath(descriptorPath_).c_str());
    if (!DownloadToFile(descriptorUrl_, descriptorPath_, &cancel_)) return 1;
    if (cancel_) return 1;
    loop_.Post([ready = onReady_] {
        if (ready) ready(1);
    });
    return 0;
}

}  // namespace quilmer
