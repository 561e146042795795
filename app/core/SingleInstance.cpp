#include "app/core/SingleInstance.h"

#include "foundation/Strings.h"

namespace quilmer {

SingleInstance::SingleInstance(EventLoop& loop, Callbacks callbacks)
    : callbacks_(std::move(callbacks)), messageId_(RegisteredMessageId(kMessageName)) {
    window_ = std::make_unique<ProtocolWindow>(
        loop, kWindowClass, [this](const WindowRequest& request) { return Handle(request); });
}

std::int64_t SingleInstance::Handle(const WindowRequest& request) {
    switch (request.kind) {
        case RequestKind::Message:
            return request.value == messageId_ ? static_cast<std::int64_t>(messageId_) : 0;
        case RequestKind::CopyData: {
            if (request.value != kCopyDataTag || request.bytes.empty()) return 0;
            std::wstring text = FromAnsi(request.bytes);
            if (!text.empty() && callbacks_.acceptText) callbacks_.acceptText(text);
            return 1;
        }
        case RequestKind::Close: {
            // A copy: the close path may destroy this object before it returns.
            std::function<void()> close = callbacks_.close;
            if (close) close();
            return 0;
        }
    }
    return 0;
}

}  // namespace quilmer
