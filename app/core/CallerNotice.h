#pragma once
// The notice a calling program gets when the join it handed over has finished: the caller's
// window (class "AppMainWndClassName", answering the registered message "AppUserMsg") receives
// copy-data with tag 1 whose bytes are "FlvUrl" in UTF-8, URL-escaped, plus one zero byte.
//
// Only a finished join (its output written) is announced. A join that fails, is stopped or is
// closed sends nothing: the caller sees the program end (exit code 2, as always) without a
// notice, and takes that as the failure. A caller whose window cannot be found gets nothing
// either; the program ends all the same.

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

#include "foundation/EventLoop.h"
#include "media/join/JoinState.h"

namespace quilmer {

inline constexpr std::uint64_t kCallerNoticeTag = 1;

// The notice's bytes: escaped UTF-8 of the text and a terminating zero byte. The escape is the
// one of the report address, without that address's length limit, so a long text arrives whole.
std::string CallerNoticeBytes(const std::wstring& sourceUrl);

// Finds the caller's window and sends the notice; blocks for up to the time-out per window of
// that class. True when a window answered and took the copy-data.
bool SendCallerNotice(const std::wstring& windowClass, const std::wstring& messageName,
                      const std::wstring& sourceUrl,
                      std::chrono::milliseconds timeout = std::chrono::milliseconds(2000));

// The end of a handed-over job, off the loop thread: the search for the caller may take seconds
// and must not freeze the window (nor wait on a window of this very process). done(sent) runs
// on the loop thread afterwards, where the program then ends with exit code 2.
class CallerNotifier {
public:
    explicit CallerNotifier(EventLoop& loop) : loop_(loop) {}
    // Waits for a notice still being sent.
    ~CallerNotifier();
    CallerNotifier(const CallerNotifier&) = delete;
    CallerNotifier& operator=(const CallerNotifier&) = delete;

    // finished: the join wrote its output. Only then is a notice sent; done is called anyway.
    void JobEnded(const JoinState& state, bool finished, std::function<void(bool sent)> done);

private:
    EventLoop& loop_;
    std::thread thread_;
};

}  // namespace quilmer
