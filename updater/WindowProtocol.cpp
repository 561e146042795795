#include "updater/WindowProtocol.h"

namespace quilmer {

bool CloseMainProgram(WindowProtocol& protocol, const std::wstring& windowClass,
                      const std::wstring& messageName, const CloseTimings& timings,
                      const std::function<void(std::chrono::milliseconds)>& sleep) {
    std::optional<WindowProtocol::WindowRef> window =
        protocol.FindWindow(windowClass, messageName, timings.answerTimeout);
    if (!window) return false;
    protocol.PostClose(*window);
    std::chrono::milliseconds waited{0};
    while (protocol.WindowExists(*window)) {
        if (waited >= timings.giveUp) return false;
        sleep(timings.poll);
        waited += timings.poll;
    }
    // Give the program time to end after its window is gone.
    sleep(timings.afterClose);
    return true;
}

}  // namespace quilmer
