#pragma once
// How the updater reaches the running main program to close it: the window protocol finds a
// window by its class name and by its answer to a registered message, and asks it to close.
// ProtocolWindows implements it over the window protocol (foundation/protocol); tests may
// script their own.

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace quilmer {

class WindowProtocol {
public:
    using WindowRef = std::uint64_t;
    virtual ~WindowProtocol() = default;

    // The first window of the class that answers the registered message with the message's own
    // id within answerTimeout.
    virtual std::optional<WindowRef> FindWindow(const std::wstring& windowClass,
                                                const std::wstring& messageName,
                                                std::chrono::milliseconds answerTimeout) = 0;
    // Asks the window to close (does not wait).
    virtual bool PostClose(WindowRef window) = 0;
    virtual bool WindowExists(WindowRef window) = 0;
};

struct CloseTimings {
    std::chrono::milliseconds answerTimeout{2000};
    std::chrono::milliseconds poll{1000};
    std::chrono::milliseconds afterClose{1100};
    // A window that is still there after this long is given up on; the extraction then goes on.
    std::chrono::milliseconds giveUp{60000};
};

// Finds the main program's window and closes it, waiting until it is gone. False when no such
// window answered, or when it did not go away in time.
bool CloseMainProgram(WindowProtocol& protocol, const std::wstring& windowClass,
                      const std::wstring& messageName, const CloseTimings& timings,
                      const std::function<void(std::chrono::milliseconds)>& sleep);

}  // namespace quilmer
