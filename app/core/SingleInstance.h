#pragma once
// The main window's presence on the window protocol, by which other programs (the updater,
// calling programs) find a running main program: window class "Corvane Video", answering the
// registered message "UWM_JoinDownload_IsMe" with its own id. Several copies of the program
// may run at once; each registers its own window. Nothing here refuses a second copy.
//
// Requests arrive on the loop thread of the event loop given at construction:
// - the registered message: reply = its id; any other message: reply 0;
// - copy-data with tag 100 and at least one byte: reply 1, and the text (in the locale's
//   character set, up to the first NUL) goes to acceptText when it is not empty; the program
//   ignores it. Any other copy-data: reply 0;
// - a close request: close() runs, which is the window's own close path (as its close box).

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "foundation/EventLoop.h"
#include "foundation/protocol/ProtocolWindow.h"

namespace quilmer {

class SingleInstance {
public:
    static constexpr const wchar_t* kWindowClass = L"Corvane Video";
    static constexpr const wchar_t* kMessageName = L"UWM_JoinDownload_IsMe";
    // Kept with the instance as the program always has; nothing reads it.
    static constexpr const wchar_t* kIdentity = L"{3ACBD1A0-3E03-4441-A10C-F117A63A73C1}";
    static constexpr std::uint64_t kCopyDataTag = 100;

    struct Callbacks {
        std::function<bool(const std::wstring&)> acceptText;
        std::function<void()> close;
    };

    // Registers the window at once. Call and destroy on the loop thread.
    SingleInstance(EventLoop& loop, Callbacks callbacks);

    bool IsRegistered() const { return window_ && window_->IsRegistered(); }
    std::string Error() const { return window_ ? window_->Error() : std::string(); }
    std::uint32_t MessageId() const { return messageId_; }
    // The answer to one request (what the window thread's requests come to).
    std::int64_t Handle(const WindowRequest& request);

private:
    Callbacks callbacks_;
    std::uint32_t messageId_;
    std::unique_ptr<ProtocolWindow> window_;
};

}  // namespace quilmer
