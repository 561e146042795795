#include "foundation/protocol/WindowFinder.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <tuple>

#include "foundation/protocol/WindowFolder.h"
#include "foundation/protocol/WindowFrames.h"

namespace quilmer {

namespace {

using Clock = std::chrono::steady_clock;

enum class Connect { Connected, Stale, Unreachable };

// Connects without blocking. A socket nobody listens on any more (its process died without
// removing it) is removed.
Connect ConnectTo(const std::string& path, int& fd) {
    fd = -1;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() > kMaxSocketPath) return Connect::Unreachable;
    std::memcpy(address.sun_path, path.data(), path.size());
    int s = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (s < 0) return Connect::Unreachable;
    if (::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        fd = s;
        return Connect::Connected;
    }
    int error = errno;
    ::close(s);
    if (error == ECONNREFUSED) {
        ::unlink(path.c_str());
        return Connect::Stale;
    }
    // EAGAIN: the window's queue is full, which only a hung window lets happen.
    return Connect::Unreachable;
}

bool WaitFor(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return false;
        pollfd p{fd, events, 0};
        int r = ::poll(&p, 1, static_cast<int>(left));
        if (r > 0) return true;
        if (r < 0 && errno != EINTR) return false;
    }
}

std::optional<Reply> Exchange(const WindowHandle& window, const WindowRequest& request,
                              std::chrono::milliseconds timeout) {
    Clock::time_point deadline = Clock::now() + timeout;
    int fd = -1;
    if (ConnectTo(window.socketPath, fd) != Connect::Connected) return std::nullopt;
    std::string frame = EncodeRequest(ClassNameBytes(window.className), request);
    std::size_t sent = 0;
    std::string answer;
    bool ok = true;
    while (ok && sent < frame.size()) {
        ssize_t n = ::send(fd, frame.data() + sent, frame.size() - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            ok = WaitFor(fd, POLLOUT, deadline);
        } else {
            ok = false;
        }
    }
    while (ok && answer.size() < frames::kReplySize) {
        char buffer[frames::kReplySize];
        ssize_t n = ::recv(fd, buffer, frames::kReplySize - answer.size(), 0);
        if (n > 0) {
            answer.append(buffer, static_cast<std::size_t>(n));
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            ok = WaitFor(fd, POLLIN, deadline);
        } else {
            ok = false;  // closed before answering (a refused frame may still have its reply)
        }
    }
    ::close(fd);
    return DecodeReply(answer);
}

std::optional<std::int64_t> HandledValue(const std::optional<Reply>& reply) {
    if (!reply || reply->status != ReplyStatus::Handled) return std::nullopt;
    return reply->value;
}

}  // namespace

std::vector<WindowHandle> EnumerateWindows(const std::wstring& className) {
    std::vector<WindowHandle> windows;
    std::string folder = WindowFolder();
    if (folder.empty()) return windows;
    std::string prefix = ClassKey(className) + "-";
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return windows;
    std::vector<std::tuple<std::int64_t, std::int64_t, std::string>> found;
    while (dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (name.compare(0, prefix.size(), prefix) != 0) continue;
        std::string path = folder + "/" + name;
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode) || st.st_uid != ::geteuid()) continue;
        found.emplace_back(st.st_mtim.tv_sec, st.st_mtim.tv_nsec, path);
    }
    ::closedir(dir);
    std::sort(found.begin(), found.end());
    for (auto& [sec, nsec, path] : found) {
        // Sockets of processes that have died go now, so they never cost anybody a wait.
        int fd = -1;
        if (ConnectTo(path, fd) == Connect::Stale) continue;
        if (fd >= 0) ::close(fd);
        windows.push_back({className, path});
    }
    return windows;
}

CWindowFinder::CWindowFinder(const std::wstring& className, const std::wstring& messageName,
                             std::chrono::milliseconds timeout)
    : className_(className), messageId_(RegisteredMessageId(messageName)), timeout_(timeout) {}

std::optional<WindowHandle> CWindowFinder::Find() const {
    if (messageId_ == 0) return std::nullopt;
    for (const WindowHandle& window : EnumerateWindows(className_)) {
        std::optional<std::int64_t> answer = SendWindowMessage(window, messageId_, timeout_);
        if (answer && *answer == static_cast<std::int64_t>(messageId_)) return window;
    }
    return std::nullopt;
}

std::optional<std::int64_t> SendWindowMessage(const WindowHandle& window, std::uint32_t message,
                                              std::chrono::milliseconds timeout) {
    WindowRequest request;
    request.kind = RequestKind::Message;
    request.value = message;
    return HandledValue(Exchange(window, request, timeout));
}

std::optional<std::int64_t> SendCopyData(const WindowHandle& window, std::uint64_t tag,
                                         std::string_view bytes, std::chrono::milliseconds timeout) {
    if (bytes.size() > frames::kMaxPayloadBytes) return std::nullopt;
    WindowRequest request;
    request.kind = RequestKind::CopyData;
    request.value = tag;
    request.bytes.assign(bytes.data(), bytes.size());
    return HandledValue(Exchange(window, request, timeout));
}

bool PostCloseRequest(const WindowHandle& window, std::chrono::milliseconds timeout) {
    WindowRequest request;
    request.kind = RequestKind::Close;
    return HandledValue(Exchange(window, request, timeout)).has_value();
}

bool WindowExists(const WindowHandle& window) {
    int fd = -1;
    if (ConnectTo(window.socketPath, fd) != Connect::Connected) return false;
    ::close(fd);
    return true;
}

}  // namespace quilmer
