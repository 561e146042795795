#include "app/core/CallerNotice.h"

#include "foundation/Log.h"
#include "foundation/Utf8.h"
#include "foundation/protocol/WindowFinder.h"
#include "media/join/JoinReport.h"

namespace quilmer {

std::string CallerNoticeBytes(const std::wstring& sourceUrl) {
    std::string bytes = EscapeUrlBytes(ToUtf8(sourceUrl));
    bytes.push_back('\0');
    return bytes;
}

bool SendCallerNotice(const std::wstring& windowClass, const std::wstring& messageName,
                      const std::wstring& sourceUrl, std::chrono::milliseconds timeout) {
    std::optional<WindowHandle> caller = CWindowFinder(windowClass, messageName, timeout).Find();
    if (!caller) {
        CLog::Instance().Write(LOG_WARN, L"the calling program's window was not found; no notice sent\n");
        return false;
    }
    if (!SendCopyData(*caller, kCallerNoticeTag, CallerNoticeBytes(sourceUrl), timeout)) {
        CLog::Instance().Write(LOG_WARN, L"the calling program did not take the notice\n");
        return false;
    }
    return true;
}

CallerNotifier::~CallerNotifier() {
    if (thread_.joinable()) thread_.join();
}

void CallerNotifier::JobEnded(const JoinState& state, bool finished, std::function<void(bool sent)> done) {
    if (thread_.joinable()) thread_.join();
    if (!finished) {
        loop_.Post([done = std::move(done)] {
            if (done) done(false);
        });
        return;
    }
    thread_ = std::thread([this, windowClass = state.callerWindowClass, message = state.callerMessageName,
                           url = state.sourceUrl, done = std::move(done)] {
        bool sent = SendCallerNotice(windowClass, message, url);
        loop_.Post([done, sent] {
            if (done) done(sent);
        });
    });
}

}  // namespace quilmer
