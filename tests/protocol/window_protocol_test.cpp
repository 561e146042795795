// The window protocol inside one process: registration, the finder, replies, close requests,
// and a window that survives whatever a peer sends.

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <vector>

#include "ProtocolTestSupport.h"
#include "foundation/ManualEventLoop.h"
#include "foundation/protocol/ProtocolWindow.h"
#include "foundation/protocol/WindowFinder.h"
#include "foundation/protocol/WindowFolder.h"
#include "foundation/protocol/WindowFrames.h"

namespace quilmer {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const std::wstring kClass = L"Test Window \u00e9";
const std::wstring kMessage = L"UWM_Test_IsMe";

// Answers kMessage with its id, copy-data with tag * 10 + size, counts what it saw.
struct Owner {
    std::atomic<int> requests{0};
    std::atomic<int> closes{0};
    std::thread::id closeThread;
    bool answers = true;

    ProtocolWindow::Handler Handler() {
        return [this](const WindowRequest& r) -> std::int64_t {
            ++requests;
            if (r.kind == RequestKind::Message)
                return answers && r.value == RegisteredMessageId(kMessage)
                           ? static_cast<std::int64_t>(r.value)
                           : 0;
            if (r.kind == RequestKind::CopyData)
                return static_cast<std::int64_t>(r.value * 10 + r.bytes.size());
            closeThread = std::this_thread::get_id();
            ++closes;
            return 0;
        };
    }
};

int RawConnect(const std::string& path) {
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::memcpy(a.sun_path, path.data(), path.size());
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// What the window sends back before closing the connection (waits at most a few seconds).
std::string ReadAll(int fd) {
    std::string out;
    char buffer[64];
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 5000) <= 0) break;
        ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        out.append(buffer, static_cast<std::size_t>(n));
    }
    return out;
}

TEST(WindowMessages, IdsComeFromTheNameAloneInTheRegisteredRange) {
    // Fixed forever: other programs compute the same number from the same name.
    EXPECT_EQ(RegisteredMessageId(L"UWM_JoinDownload_IsMe"), 0xE548u);
    EXPECT_EQ(RegisteredMessageId(L"uwm_joindownload_isme"), 0xE548u);
    EXPECT_EQ(RegisteredMessageId(L""), 0u);
    for (const wchar_t* name : {L"a", L"UWM_QuilmerCaller_JobDone", L"\u65e5\u672c", L"x y z"}) {
        std::uint32_t id = RegisteredMessageId(name);
        EXPECT_GE(id, 0xC000u);
        EXPECT_LE(id, 0xFFFFu);
    }
    EXPECT_NE(RegisteredMessageId(L"UWM_A"), RegisteredMessageId(L"UWM_B"));
}

TEST(WindowFrames, ReaderTakesTricklesAndRefusesGarbageEarly) {
    WindowRequest request;
    request.kind = RequestKind::CopyData;
    request.value = 100;
    request.bytes = std::string("h\0llo", 5);
    std::string frame = EncodeRequest("cls", request);
    RequestReader reader;
    for (std::size_t i = 0; i + 1 < frame.size(); ++i)
        ASSERT_EQ(reader.Feed(&frame[i], 1), RequestReader::State::NeedMore) << i;
    ASSERT_EQ(reader.Feed(&frame.back(), 1), RequestReader::State::Complete);
    EXPECT_EQ(reader.ClassBytes(), "cls");
    EXPECT_EQ(reader.Request().value, 100u);
    EXPECT_EQ(reader.Request().bytes, std::string("h\0llo", 5));

    RequestReader garbage;
    EXPECT_EQ(garbage.Feed("GET / HTTP/1.1\r\nHost: x\r\n\r\n", 27), RequestReader::State::Invalid);

    // A header announcing more than the limit is refused before any of the payload arrives.
    std::string huge = EncodeRequest("cls", request);
    huge[12] = huge[13] = huge[14] = huge[15] = '\x7f';
    RequestReader big;
    EXPECT_EQ(big.Feed(huge.data(), frames::kRequestHeaderSize), RequestReader::State::Invalid);

    RequestReader extra;
    std::string twice = frame + frame;
    EXPECT_EQ(extra.Feed(twice.data(), twice.size()), RequestReader::State::Invalid);

    EXPECT_FALSE(DecodeReply("QWR1\x09\0\0\0abcdefgh"));
    auto reply = DecodeReply(EncodeReply(ReplyStatus::Handled, -7));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->value, -7);
}

class WindowProtocolTest : public ::testing::Test {
protected:
    test::PrivateRuntimeDir runtime;
    test::LoopThread loop;
};

TEST_F(WindowProtocolTest, FolderAndSocketAreTheUsersAlone) {
    Owner owner;
    ProtocolWindow window(loop.Loop(), kClass, owner.Handler());
    ASSERT_TRUE(window.IsRegistered()) << window.Error();
    EXPECT_EQ(std::filesystem::path(window.SocketPath()).parent_path().string(), runtime.WindowFolder());
    struct stat st {};
    ASSERT_EQ(::stat(runtime.WindowFolder().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ASSERT_EQ(::stat(window.SocketPath().c_str(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    EXPECT_EQ(st.st_mode & 077, 0u);
    loop.Stop();
    window.Unregister();
    EXPECT_FALSE(std::filesystem::exists(window.SocketPath()));
}

TEST_F(WindowProtocolTest, RuntimeFolderThatOthersCanReadIsNotUsed) {
    ::chmod(runtime.Scratch().Path().c_str(), 0755);
    std::string folder = WindowFolder();
    EXPECT_EQ(folder, "/tmp/quilmer-windows-" + std::to_string(::geteuid()));
    struct stat st {};
    ASSERT_EQ(::lstat(folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ::chmod(runtime.Scratch().Path().c_str(), 0700);

    // A window folder of ours left with a wider mode is narrowed again.
    std::filesystem::create_directory(runtime.WindowFolder());
    ::chmod(runtime.WindowFolder().c_str(), 0755);
    EXPECT_EQ(WindowFolder(), runtime.WindowFolder());
    ASSERT_EQ(::lstat(runtime.WindowFolder().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST_F(WindowProtocolTest, FinderReturnsAWindowOfTheClassThatAnswers) {
    Owner silent, answering, other;
    silent.answers = false;
    ProtocolWindow first(loop.Loop(), kClass, silent.Handler());
    ProtocolWindow second(loop.Loop(), kClass, answering.Handler());
    ProtocolWindow otherClass(loop.Loop(), L"Another Class", other.Handler());
    ASSERT_TRUE(first.IsRegistered() && second.IsRegistered() && otherClass.IsRegistered());

    EXPECT_EQ(EnumerateWindows(kClass).size(), 2u);
    std::optional<WindowHandle> found = CWindowFinder(kClass, kMessage).Find();
    ASSERT_TRUE(found);
    EXPECT_EQ(found->socketPath, second.SocketPath());
    EXPECT_EQ(other.requests, 0);  // windows of other classes are not even asked
    EXPECT_FALSE(CWindowFinder(kClass, L"UWM_Nobody_Knows").Find());
    EXPECT_FALSE(CWindowFinder(L"No Such Class", kMessage).Find());

    // Both answer: the first registered wins, as long as it is there.
    silent.answers = true;
    found = CWindowFinder(kClass, kMessage).Find();
    ASSERT_TRUE(found);
    EXPECT_EQ(found->socketPath, first.SocketPath());

    // A handle aimed at a socket of another class gets no answer.
    WindowHandle wrong{L"Another Class", second.SocketPath()};
    EXPECT_FALSE(SendWindowMessage(wrong, RegisteredMessageId(kMessage)));
    loop.Stop();
}

TEST_F(WindowProtocolTest, HungWindowCostsItsTimeOutAndIsSkipped) {
    ManualEventLoop neverRun;  // the owner's loop is stuck: nothing posted to it ever runs
    Owner hung, alive;
    ProtocolWindow stuck(neverRun, kClass, hung.Handler());
    std::this_thread::sleep_for(20ms);  // registration order decides who is asked first
    ProtocolWindow good(loop.Loop(), kClass, alive.Handler());

    auto start = Clock::now();
    std::optional<WindowHandle> found = CWindowFinder(kClass, kMessage).Find();
    auto elapsed = Clock::now() - start;
    ASSERT_TRUE(found);
    EXPECT_EQ(found->socketPath, good.SocketPath());
    EXPECT_GE(elapsed, 1500ms);  // the stuck window was asked and waited for
    EXPECT_LT(elapsed, 5s);
    loop.Stop();
}

TEST_F(WindowProtocolTest, StaleSocketIsSkippedAndRemoved) {
    std::filesystem::create_directories(runtime.WindowFolder());
    ::chmod(runtime.WindowFolder().c_str(), 0700);
    // What a process that died leaves behind: a socket file nobody listens on.
    std::string stale = runtime.WindowFolder() + "/" + ClassKey(kClass) + "-999999-1";
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::memcpy(a.sun_path, stale.data(), stale.size());
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ::close(fd);
    ASSERT_TRUE(std::filesystem::exists(stale));

    auto start = Clock::now();
    EXPECT_FALSE(CWindowFinder(kClass, kMessage).Find());
    EXPECT_LT(Clock::now() - start, 1s);
    EXPECT_FALSE(std::filesystem::exists(stale));

    Owner owner;
    ProtocolWindow window(loop.Loop(), kClass, owner.Handler());
    EXPECT_TRUE(CWindowFinder(kClass, kMessage).Find());
    loop.Stop();
}

TEST_F(WindowProtocolTest, CopyDataRepliesAndCloseRunsOnTheOwnersThread) {
    Owner owner;
    ProtocolWindow window(loop.Loop(), kClass, owner.Handler());
    WindowHandle handle{kClass, window.SocketPath()};
    EXPECT_EQ(SendCopyData(handle, 7, std::string(1000, 'x')), 7 * 10 + 1000);
    EXPECT_EQ(SendCopyData(handle, 0, ""), 0);
    std::string big(frames::kMaxPayloadBytes, '\xff');
    EXPECT_EQ(SendCopyData(handle, 1, big, 10s), 10 + static_cast<std::int64_t>(big.size()));

    EXPECT_TRUE(WindowExists(handle));
    EXPECT_TRUE(PostCloseRequest(handle));
    for (int i = 0; i < 200 && owner.closes == 0; ++i) std::this_thread::sleep_for(10ms);
    EXPECT_EQ(owner.closes, 1);
    EXPECT_EQ(owner.closeThread, loop.Id());
    loop.Stop();
    window.Unregister();
    EXPECT_FALSE(WindowExists(handle));
    EXPECT_FALSE(PostCloseRequest(handle, 200ms));
}

TEST_F(WindowProtocolTest, GarbageLongFramesAndBrokenPeersLeaveTheWindowWorking) {
    Owner owner;
    ProtocolWindow window(loop.Loop(), kClass, owner.Handler());
    const std::string path = window.SocketPath();

    // Garbage: told it is a bad request, then disconnected.
    int fd = RawConnect(path);
    ASSERT_GE(fd, 0);
    std::string junk(100, '\x01');
    ASSERT_EQ(::send(fd, junk.data(), junk.size(), MSG_NOSIGNAL), 100);
    auto reply = DecodeReply(ReadAll(fd));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, ReplyStatus::BadRequest);
    ::close(fd);

    // A frame announcing 4 GiB: refused at its header.
    WindowRequest request;
    request.kind = RequestKind::CopyData;
    request.value = 100;
    std::string header = EncodeRequest(ClassNameBytes(kClass), request);
    header[12] = header[13] = header[14] = header[15] = '\xff';
    fd = RawConnect(path);
    ASSERT_EQ(::send(fd, header.data(), frames::kRequestHeaderSize, MSG_NOSIGNAL),
              static_cast<ssize_t>(frames::kRequestHeaderSize));
    reply = DecodeReply(ReadAll(fd));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, ReplyStatus::BadRequest);
    ::close(fd);

    // Half a frame, then gone; and a peer that connects and says nothing, still open.
    request.bytes = "payload";
    std::string frame = EncodeRequest(ClassNameBytes(kClass), request);
    fd = RawConnect(path);
    ASSERT_EQ(::send(fd, frame.data(), frame.size() / 2, MSG_NOSIGNAL),
              static_cast<ssize_t>(frame.size() / 2));
    ::close(fd);
    int idle = RawConnect(path);
    ASSERT_GE(idle, 0);
    // Many peers at once that never finish their frame.
    std::vector<int> crowd;
    for (int i = 0; i < 40; ++i) crowd.push_back(RawConnect(path));

    // None of that reached the owner, and the crowd leaves no request unanswered for long.
    for (int c : crowd) ::close(c);
    std::this_thread::sleep_for(100ms);
    auto start = Clock::now();
    std::optional<WindowHandle> found = CWindowFinder(kClass, kMessage).Find();
    ASSERT_TRUE(found);
    EXPECT_LT(Clock::now() - start, 2s);
    EXPECT_EQ(SendCopyData(*found, 100, "ok"), 1002);
    EXPECT_EQ(owner.requests, 2);
    ::close(idle);
    loop.Stop();
}

}  // namespace
}  // namespace quilmer
