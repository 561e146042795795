#pragma once
// The asking side of the window protocol: find windows by class and registered message, send
// them copy-data, ask them to close. Every call blocks its thread for at most its time-out per
// window, so a GUI thread should ask from a worker (a window of its own process could only
// answer once the GUI thread is free again).

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quilmer {

// One registered window (its socket), as a finder met it.
struct WindowHandle {
    std::wstring className;
    std::string socketPath;

    bool operator==(const WindowHandle&) const = default;
};

inline constexpr std::chrono::milliseconds kWindowAnswerTimeout{2000};

// The registered windows of a class, oldest registration first. Sockets left behind by
// processes that died are removed on the way.
std::vector<WindowHandle> EnumerateWindows(const std::wstring& className);

class CWindowFinder {
public:
    CWindowFinder(const std::wstring& className, const std::wstring& messageName,
                  std::chrono::milliseconds timeout = kWindowAnswerTimeout);

    // Asks each window of the class the registered message, one after the other; the first
    // that answers with the message's id within the time-out is the result. Windows that hang
    // cost at most the time-out each, dead ones nothing.
    std::optional<WindowHandle> Find() const;
    std::uint32_t MessageId() const { return messageId_; }

private:
    std::wstring className_;
    std::uint32_t messageId_;
    std::chrono::milliseconds timeout_;
};

// The window's numeric reply, or nullopt when it did not answer in time, is gone, or belongs to
// another class.
std::optional<std::int64_t> SendWindowMessage(const WindowHandle& window, std::uint32_t message,
                                              std::chrono::milliseconds timeout = kWindowAnswerTimeout);
std::optional<std::int64_t> SendCopyData(const WindowHandle& window, std::uint64_t tag,
                                         std::string_view bytes,
                                         std::chrono::milliseconds timeout = kWindowAnswerTimeout);
// Asks the window to close; true when it took the request (it closes in its own time).
bool PostCloseRequest(const WindowHandle& window, std::chrono::milliseconds timeout = kWindowAnswerTimeout);
// True while the window is registered and its owner is alive.
bool WindowExists(const WindowHandle& window);

}  // namespace quilmer
