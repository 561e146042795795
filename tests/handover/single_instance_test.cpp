// The main window's responder and the notice a caller gets, over real sockets in one process.

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <mutex>

#include "ProtocolTestSupport.h"
#include "app/core/CallerNotice.h"
#include "app/core/SingleInstance.h"
#include "foundation/protocol/WindowFinder.h"

namespace quilmer {
namespace {

using namespace std::chrono_literals;

class ResponderTest : public ::testing::Test {
protected:
    test::PrivateRuntimeDir runtime;
    test::LoopThread loop;
};

TEST_F(ResponderTest, AnswersItsMessageTakesTag100AndClosesThroughTheWindowsPath) {
    std::mutex mutex;
    std::vector<std::wstring> texts;
    std::atomic<int> closes{0};
    SingleInstance::Callbacks callbacks;
    callbacks.acceptText = [&](const std::wstring& text) {
        std::lock_guard<std::mutex> lock(mutex);
        texts.push_back(text);
        return true;
    };
    callbacks.close = [&] { ++closes; };
    SingleInstance first(loop.Loop(), callbacks);
    SingleInstance second(loop.Loop(), callbacks);  // a second copy of the program is welcome
    ASSERT_TRUE(first.IsRegistered()) << first.Error();
    ASSERT_TRUE(second.IsRegistered());
    EXPECT_EQ(first.MessageId(), RegisteredMessageId(L"UWM_JoinDownload_IsMe"));

    EXPECT_EQ(EnumerateWindows(L"Corvane Video").size(), 2u);
    std::optional<WindowHandle> window = CWindowFinder(L"Corvane Video", L"UWM_JoinDownload_IsMe").Find();
    ASSERT_TRUE(window);
    EXPECT_EQ(SendWindowMessage(*window, 0xC001), 0);

    EXPECT_EQ(SendCopyData(*window, 100, "D:\\clip one.flv"), 1);
    EXPECT_EQ(SendCopyData(*window, 100, std::string("\0tail", 5)), 1);  // accepted; no text to pass on
    EXPECT_EQ(SendCopyData(*window, 100, ""), 0);
    EXPECT_EQ(SendCopyData(*window, 1, "x"), 0);
    EXPECT_EQ(SendCopyData(*window, 101, "x"), 0);
    {
        std::lock_guard<std::mutex> lock(mutex);
        ASSERT_EQ(texts.size(), 1u);
        EXPECT_EQ(texts[0], L"D:\\clip one.flv");
    }

    EXPECT_TRUE(PostCloseRequest(*window));
    for (int i = 0; i < 200 && closes == 0; ++i) std::this_thread::sleep_for(10ms);
    EXPECT_EQ(closes, 1);
    loop.Stop();
}

TEST(CallerNotice, BytesAreTheEscapedUtf8TextAndAZero) {
    EXPECT_EQ(CallerNoticeBytes(L"http://v.example/a b?x=\"\u00e9\"&y=#1"),
              std::string("http://v.example/a%20b%3fx%3d%22%c3%a9%22%26y%3d%231") + '\0');
    EXPECT_EQ(CallerNoticeBytes(L""), std::string(1, '\0'));
    // Longer than a browser address may be: still whole.
    EXPECT_EQ(CallerNoticeBytes(std::wstring(3000, L'a')).size(), 3001u);
}

TEST_F(ResponderTest, CallerGetsTheNoticeOnlyForAFinishedJob) {
    std::mutex mutex;
    std::vector<std::pair<std::uint64_t, std::string>> received;
    const std::wstring callerClass = L"Caller \u00e9";
    const std::uint32_t id = RegisteredMessageId(L"UWM_CallerDone");
    ProtocolWindow caller(loop.Loop(), callerClass, [&](const WindowRequest& r) -> std::int64_t {
        if (r.kind == RequestKind::Message) return r.value == id ? id : 0;
        std::lock_guard<std::mutex> lock(mutex);
        received.emplace_back(r.value, r.bytes);
        return 1;
    });

    JoinState state;
    state.handedOver = true;
    state.callerWindowClass = callerClass;
    state.callerMessageName = L"UWM_CallerDone";
    state.sourceUrl = L"http://v.example/\u65e5?a=1";

    // The notifier reports back on the loop it was given; here that is the test's own loop.
    PlainEventLoop own;
    CallerNotifier notifier(own);
    std::vector<bool> ends;
    notifier.JobEnded(state, false, [&](bool sent) {
        ends.push_back(sent);
        own.Quit();
    });
    ASSERT_TRUE(own.RunFor(5s));
    notifier.JobEnded(state, true, [&](bool sent) {
        ends.push_back(sent);
        own.Quit();
    });
    ASSERT_TRUE(own.RunFor(10s));
    EXPECT_EQ(ends, (std::vector<bool>{false, true}));
    {
        std::lock_guard<std::mutex> lock(mutex);
        ASSERT_EQ(received.size(), 1u);
        EXPECT_EQ(received[0].first, 1u);
        EXPECT_EQ(received[0].second, std::string("http://v.example/%e6%97%a5%3fa%3d1") + '\0');
    }

    // No caller window: nothing sent, the end still comes.
    state.callerWindowClass = L"Gone";
    notifier.JobEnded(state, true, [&](bool sent) {
        ends.push_back(sent);
        own.Quit();
    });
    ASSERT_TRUE(own.RunFor(10s));
    EXPECT_EQ(ends.back(), false);
    loop.Stop();
}

}  // namespace
}  // namespace quilmer
