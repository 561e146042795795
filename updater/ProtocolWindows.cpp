#include "updater/ProtocolWindows.h"

namespace quilmer {

std::optional<WindowProtocol::WindowRef> ProtocolWindows::FindWindow(
    const std::wstring& windowClass, const std::wstring& messageName,
    std::chrono::milliseconds answerTimeout) {
    std::optional<WindowHandle> found = CWindowFinder(windowClass, messageName, answerTimeout).Find();
    if (!found) return std::nullopt;
    std::lock_guard<std::mutex> lock(mutex_);
    WindowRef ref = next_++;
    windows_.emplace(ref, *found);
    return ref;
}

bool ProtocolWindows::PostClose(WindowRef window) {
    WindowHandle handle;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = windows_.find(window);
        if (it == windows_.end()) return false;
        handle = it->second;
    }
    return PostCloseRequest(handle);
}

bool ProtocolWindows::WindowExists(WindowRef window) {
    WindowHandle handle;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = windows_.find(window);
        if (it == windows_.end()) return false;
        handle = it->second;
    }
    return quilmer::WindowExists(handle);
}

ProtocolWindows& ProtocolWindows::Instance() {
    static ProtocolWindows instance;
    return instance;
}

}  // namespace quilmer
