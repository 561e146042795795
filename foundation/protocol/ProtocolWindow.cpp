#include "foundation/protocol/ProtocolWindow.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "foundation/FileUtil.h"
#include "foundation/Log.h"
#include "foundation/protocol/WindowFolder.h"

namespace quilmer {

namespace {

// A peer has this long to deliver its whole request.
constexpr auto kRequestDeadline = std::chrono::milliseconds(5000);
// Requests open at once (read, waiting for the owner, or being answered); more are told Busy.
constexpr std::size_t kMaxConnections = 32;

using Clock = std::chrono::steady_clock;

std::atomic<unsigned> g_serial{0};

bool FillAddress(sockaddr_un& address, const std::string& path) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.size() > kMaxSocketPath) return false;
    std::memcpy(address.sun_path, path.data(), path.size());
    return true;
}

struct Connection {
    int fd = -1;
    enum class Phase { Reading, Waiting, Writing } phase = Phase::Reading;
    RequestReader reader;
    Clock::time_point deadline;
    std::string out;
    std::size_t written = 0;
};

}  // namespace

struct ProtocolWindow::Shared {
    EventLoop* loop = nullptr;
    Handler handler;
    std::string classBytes;
    int listenFd = -1;
    int wakeFd = -1;
    std::thread thread;

    std::mutex mutex;
    bool alive = true;  // false once the window is gone: posted requests are dropped
    bool stop = false;
    std::deque<std::pair<std::uint64_t, std::int64_t>> replies;  // connection id, value

    void Wake() {
        std::uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(wakeFd, &one, sizeof one);
    }
};

namespace {

void Deliver(const std::shared_ptr<ProtocolWindow::Shared>& shared, std::uint64_t id, WindowRequest request,
             bool wantsReply) {
    shared->loop->Post([shared, id, request = std::move(request), wantsReply] {
        {
            std::lock_guard<std::mutex> lock(shared->mutex);
            if (!shared->alive) return;
        }
        std::int64_t value = 0;
        try {
            value = shared->handler ? shared->handler(request) : 0;
        } catch (const std::exception& e) {
            CLog::Instance().Write(LOG_ERR, L"window request handler failed: " + WidePath(e.what()) + L"\n");
        } catch (...) {
            CLog::Instance().Write(LOG_ERR, L"window request handler failed\n");
        }
        if (!wantsReply) return;
        std::lock_guard<std::mutex> lock(shared->mutex);
        if (!shared->alive) return;
        shared->replies.emplace_back(id, value);
        shared->Wake();
    });
}

void Serve(std::shared_ptr<ProtocolWindow::Shared> shared) {
    std::map<std::uint64_t, Connection> connections;
    std::uint64_t nextId = 1;

    auto close = [&](std::map<std::uint64_t, Connection>::iterator it) {
        ::close(it->second.fd);
        return connections.erase(it);
    };
    auto startReply = [](Connection& c, ReplyStatus status, std::int64_t value) {
        c.out = EncodeReply(status, value);
        c.written = 0;
        c.phase = Connection::Phase::Writing;
    };

    for (;;) {
        std::vector<pollfd> fds;
        std::vector<std::uint64_t> ids;
        fds.push_back({shared->wakeFd, POLLIN, 0});
        fds.push_back({shared->listenFd, POLLIN, 0});
        Clock::time_point now = Clock::now();
        int timeoutMs = -1;
        for (auto& [id, c] : connections) {
            short events = 0;
            if (c.phase == Connection::Phase::Reading) {
                events = POLLIN;
                auto left =
                    std::chrono::duration_cast<std::chrono::milliseconds>(c.deadline - now).count() + 1;
                if (left < 0) left = 0;
                if (timeoutMs < 0 || left < timeoutMs) timeoutMs = static_cast<int>(left);
            } else if (c.phase == Connection::Phase::Writing) {
                events = POLLOUT;
            }
            // Waiting connections are still watched for hang-ups (always reported).
            fds.push_back({c.fd, events, 0});
            ids.push_back(id);
        }
        int ready = ::poll(fds.data(), fds.size(), timeoutMs);
        if (ready < 0 && errno != EINTR) {
            CLog::Instance().Write(LOG_ERR, L"window socket poll failed\n");
            break;
        }

        if (fds[0].revents & POLLIN) {
            std::uint64_t count = 0;
            [[maybe_unused]] ssize_t n = ::read(shared->wakeFd, &count, sizeof count);
        }
        {
            std::lock_guard<std::mutex> lock(shared->mutex);
            if (shared->stop) break;
            while (!shared->replies.empty()) {
                auto [id, value] = shared->replies.front();
                shared->replies.pop_front();
                auto it = connections.find(id);
                if (it != connections.end() && it->second.phase == Connection::Phase::Waiting)
                    startReply(it->second, ReplyStatus::Handled, value);
            }
        }

        for (std::size_t i = 0; i < ids.size(); ++i) {
            auto it = connections.find(ids[i]);
            if (it == connections.end()) continue;
            Connection& c = it->second;
            short revents = fds[i + 2].revents;
            if (c.phase == Connection::Phase::Reading && (revents & (POLLIN | POLLHUP | POLLERR))) {
                char buffer[16384];
                ssize_t n = ::recv(c.fd, buffer,
                                   std::min(sizeof buffer, std::max<std::size_t>(c.reader.Wanted(), 1)), 0);
                if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
                    close(it);  // gone mid-frame
                    continue;
                }
                if (n < 0) continue;
                RequestReader::State state = c.reader.Feed(buffer, static_cast<std::size_t>(n));
                if (state == RequestReader::State::Invalid) {
                    CLog::Instance().Write(
                        LOG_WARN, L"window request refused: " + WidePath(c.reader.Problem()) + L"\n");
                    startReply(c, ReplyStatus::BadRequest, 0);
                } else if (state == RequestReader::State::Complete) {
                    const WindowRequest& request = c.reader.Request();
                    if (c.reader.ClassBytes() != shared->classBytes) {
                        startReply(c, ReplyStatus::WrongClass, 0);
                    } else if (request.kind == RequestKind::Close) {
                        // Posted, like a close message: acknowledged before the owner sees it.
                        Deliver(shared, it->first, request, false);
                        startReply(c, ReplyStatus::Handled, 1);
                    } else {
                        c.phase = Connection::Phase::Waiting;
                        Deliver(shared, it->first, request, true);
                    }
                }
            } else if (c.phase == Connection::Phase::Waiting && (revents & (POLLHUP | POLLERR))) {
                close(it);  // the asker gave up; its reply is dropped when it comes
                continue;
            }
            if (c.phase == Connection::Phase::Writing &&
                (revents & (POLLOUT | POLLHUP | POLLERR) || c.written == 0)) {
                ssize_t n = ::send(c.fd, c.out.data() + c.written, c.out.size() - c.written, MSG_NOSIGNAL);
                if (n > 0) c.written += static_cast<std::size_t>(n);
                if (c.written >= c.out.size() || (n < 0 && errno != EAGAIN && errno != EINTR)) {
                    close(it);
                    continue;
                }
            }
        }

        now = Clock::now();
        for (auto it = connections.begin(); it != connections.end();) {
            if (it->second.phase == Connection::Phase::Reading && now >= it->second.deadline)
                it = close(it);  // too slow: half a frame is not kept forever
            else
                ++it;
        }

        if (fds[1].revents & POLLIN) {
            for (;;) {
                int fd = ::accept4(shared->listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
                if (fd < 0) break;
                Connection c;
                c.fd = fd;
                c.deadline = Clock::now() + kRequestDeadline;
                if (connections.size() >= kMaxConnections) {
                    std::string busy = EncodeReply(ReplyStatus::Busy, 0);
                    [[maybe_unused]] ssize_t n = ::send(fd, busy.data(), busy.size(), MSG_NOSIGNAL);
                    ::close(fd);
                    continue;
                }
                connections.emplace(nextId++, std::move(c));
            }
        }
    }
    for (auto& [id, c] : connections) ::close(c.fd);
}

}  // namespace

ProtocolWindow::ProtocolWindow(EventLoop& loop, const std::wstring& className, Handler handler)
    : className_(className) {
    if (ClassNameBytes(className).size() > frames::kMaxClassBytes) {
        error_ = "class name longer than " + std::to_string(frames::kMaxClassBytes) + " bytes";
        return;
    }
    std::string folder = WindowFolder(&error_);
    if (folder.empty()) return;
    std::string name =
        ClassKey(className) + "-" + std::to_string(::getpid()) + "-" + std::to_string(++g_serial);
    std::string finalPath = folder + "/" + name;
    std::string tempPath = folder + "/.t-" + name;
    sockaddr_un address{};
    if (!FillAddress(address, tempPath)) {
        error_ = "socket path too long: " + tempPath;
        return;
    }
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error_ = std::string("cannot make a socket: ") + std::strerror(errno);
        return;
    }
    ::unlink(tempPath.c_str());
    // Bound under a temporary name and renamed once listening, so that a finder never meets the
    // socket in the moment between bind and listen and takes it for a dead one.
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::chmod(tempPath.c_str(), 0600) != 0 || ::listen(fd, 16) != 0 ||
        ::rename(tempPath.c_str(), finalPath.c_str()) != 0) {
        error_ = "cannot register the window at " + finalPath + ": " + std::strerror(errno);
        ::unlink(tempPath.c_str());
        ::close(fd);
        return;
    }
    int wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake < 0) {
        error_ = std::string("cannot make an event descriptor: ") + std::strerror(errno);
        ::unlink(finalPath.c_str());
        ::close(fd);
        return;
    }
    shared_ = std::make_shared<Shared>();
    shared_->loop = &loop;
    shared_->handler = std::move(handler);
    shared_->classBytes = ClassNameBytes(className);
    shared_->listenFd = fd;
    shared_->wakeFd = wake;
    socketPath_ = finalPath;
    shared_->thread = std::thread(Serve, shared_);
}

ProtocolWindow::~ProtocolWindow() { Unregister(); }

bool ProtocolWindow::IsRegistered() const { return shared_ != nullptr; }

void ProtocolWindow::Unregister() {
    if (!shared_) return;
    // The name goes first, so that nobody connects to a window that is going away.
    ::unlink(socketPath_.c_str());
    {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        shared_->alive = false;
        shared_->stop = true;
        shared_->Wake();
    }
    if (shared_->thread.joinable()) shared_->thread.join();
    ::close(shared_->listenFd);
    ::close(shared_->wakeFd);
    shared_->wakeFd = -1;
    shared_.reset();
    socketPath_.clear();
}

}  // namespace quilmer
