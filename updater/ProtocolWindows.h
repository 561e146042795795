#pragma once
// The updater's reach to the running main program over the window protocol
// (foundation/protocol): found by class and registered message, closed by a close request.

#include <map>
#include <mutex>

#include "foundation/protocol/WindowFinder.h"
#include "updater/WindowProtocol.h"

namespace quilmer {

class ProtocolWindows final : public WindowProtocol {
public:
    std::optional<WindowRef> FindWindow(const std::wstring& windowClass, const std::wstring& messageName,
                                        std::chrono::milliseconds answerTimeout) override;
    bool PostClose(WindowRef window) override;
    bool WindowExists(WindowRef window) override;

    // The one the updater program uses.
    static ProtocolWindows& Instance();

private:
    std::mutex mutex_;
    std::map<WindowRef, WindowHandle> windows_;
    WindowRef next_ = 1;
};

}  // namespace quilmer
