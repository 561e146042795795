#pragma once
// A window of the protocol: registered under a class name, it answers requests from other
// programs (registered messages, copy-data, close). Several windows, in one process or many,
// may share a class.
//
// The socket is served by a thread of its own, which reads and checks the frames; only whole,
// well-formed requests reach the owner, as tasks posted to its event loop, so a peer that sends
// garbage, a frame too long or half a frame, or that vanishes mid-way, costs the owner nothing.
// The handler runs on the loop thread and its result is the numeric reply. A close request is
// acknowledged at once (like a posted message) and then handed to the handler.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "foundation/EventLoop.h"
#include "foundation/protocol/WindowFrames.h"

namespace quilmer {

class ProtocolWindow {
public:
    using Handler = std::function<std::int64_t(const WindowRequest&)>;

    // Registers at once; IsRegistered() tells whether that worked.
    ProtocolWindow(EventLoop& loop, const std::wstring& className, Handler handler);
    // Unregisters. Call on the loop thread: requests already posted are then dropped, unanswered.
    ~ProtocolWindow();
    ProtocolWindow(const ProtocolWindow&) = delete;
    ProtocolWindow& operator=(const ProtocolWindow&) = delete;

    bool IsRegistered() const;
    // Why registration failed.
    const std::string& Error() const { return error_; }
    const std::wstring& ClassName() const { return className_; }
    // The window's socket (native path), empty when not registered.
    const std::string& SocketPath() const { return socketPath_; }
    // Removes the window at once; the destructor does it otherwise.
    void Unregister();

    struct Shared;  // what the socket thread and posted requests share

private:
    std::wstring className_;
    std::string socketPath_;
    std::string error_;
    std::shared_ptr<Shared> shared_;
};

}  // namespace quilmer
