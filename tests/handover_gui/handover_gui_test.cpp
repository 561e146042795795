// A calling program hands the real main program a join: quilmer-caller starts quilmer with the
// job, quilmer joins without asking, tells the caller, and ends with exit code 2. Needs a display
// (Xvfb), ffmpeg, and quilmer in the program folder.

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>

#include "MediaTools.h"
#include "ProcessSupport.h"
#include "ProtocolTestSupport.h"
#include "TestSupport.h"
#include "app/core/CallerNotice.h"
#include "app/core/HandOver.h"
#include "app/core/SingleInstance.h"
#include "foundation/FileUtil.h"
#include "foundation/protocol/WindowFinder.h"

namespace quilmer {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::Child;
using test::Start;

const std::string kQuilmer = QUILMER_PROGRAM_DIR "/quilmer";

class HandOverGuiTest : public ::testing::Test {
protected:
    test::PrivateRuntimeDir runtime;
    test::ScratchFolder dir{"handover-gui"};
    test::ScratchFolder config{"handover-config"};
    // The program's settings go to the scratch folder, not to the user's.
    test::ScopedEnv configHome{"XDG_CONFIG_HOME", config.Path()};
    // quilmer writes each message box it shows to stderr as well.
    test::ScopedEnv echo{"QUILMER_ECHO_MESSAGES", "1"};

    void SetUp() override {
        // quilmer is built with these tests: its absence is a fault, never a reason to skip.
        ASSERT_EQ(::access(kQuilmer.c_str(), X_OK), 0) << "no " << kQuilmer;
        if (!std::getenv("DISPLAY")) QUILMER_SKIP_OR_FAIL_IN_CI("needs a display (run under xvfb-run)");
        if (!testing::HaveProgram("ffmpeg")) QUILMER_SKIP_OR_FAIL_IN_CI("needs ffmpeg");
    }

    // The main windows of this test's folder, found as any caller would.
    std::vector<WindowHandle> MainWindows() { return EnumerateWindows(SingleInstance::kWindowClass); }

    bool WaitForMainWindows(std::size_t count, std::chrono::seconds limit = 30s) {
        auto deadline = Clock::now() + limit;
        while (Clock::now() < deadline) {
            if (MainWindows().size() == count &&
                (count == 0 ||
                 CWindowFinder(SingleInstance::kWindowClass, SingleInstance::kMessageName).Find()))
                return true;
            std::this_thread::sleep_for(200ms);
        }
        return false;
    }

    // Asks every main window to close; then they must all be gone.
    void CloseMainWindows() {
        for (const auto& w : MainWindows()) PostCloseRequest(w);
        EXPECT_TRUE(WaitForMainWindows(0, 20s));
    }
};

// Reads fd until a line holding text has arrived (true), it ends, or the limit passes.
bool ReadUntil(int fd, const std::string& text, std::string& seen, std::chrono::seconds limit) {
    auto deadline = Clock::now() + limit;
    while (Clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) continue;
        char buffer[512];
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0) return false;
        seen.append(buffer, static_cast<std::size_t>(n));
        auto at = seen.find(text);
        if (at != std::string::npos && seen.find('\n', at) != std::string::npos) return true;
    }
    return false;
}

// The process number quilmer-caller reports for the quilmer it started.
pid_t StartedPid(const std::string& callerErrors) {
    std::smatch m;
    if (!std::regex_search(callerErrors, m, std::regex("\\(process ([0-9]+)\\)"))) return -1;
    return static_cast<pid_t>(std::stol(m[1]));
}

TEST_F(HandOverGuiTest, JoinsThreeMixedClipsAndNotifiesTheCaller) {
    const std::string a = dir.Native("first clip \"one\".flv");
    const std::string b = dir.Native("zweiter \xc3\xa9t\xc3\xa9 'Clip' \xe6\x97\xa5.mp4");
    const std::string c = dir.Native("third [x] & y.avi");
    ASSERT_TRUE(testing::MakeClip(a, 2, "160x120", "25", {"-c:v", "flv1"}, 44100, 2, {"-c:a", "libmp3lame"}));
    ASSERT_TRUE(testing::MakeClip(b, 2, "176x144", "15", {"-c:v", "mpeg4"}, 22050, 1, {"-c:a", "aac"}));
    ASSERT_TRUE(
        testing::MakeClip(c, 1, "160x120", "25", {"-c:v", "mpeg4"}, 44100, 2, {"-c:a", "libmp3lame"}));
    const std::string output = dir.Native("joined \xc3\xa9 out.mp4");
    const std::string url = "http://video.example/watch?v=1&t=\"a b\"#\xc3\xa9";

    Child caller = Start({QUILMER_CALLER, "-q", kQuilmer, "-t", "400", "-o", output, "-u", url, a, b, c});
    int code = caller.Wait(450s);
    std::string notice = Child::ReadRest(caller.out);
    std::string errors = Child::ReadRest(caller.err);
    EXPECT_EQ(code, 0) << errors;
    EXPECT_EQ(notice, CallerNoticeBytes(WidePath(url)));
    EXPECT_EQ(notice, std::string("http://video.example/watch%3fv%3d1%26t%3d%22a%20b%22%23%c3%a9") + '\0');
    EXPECT_NE(errors.find("quilmer ended with exit code 2"), std::string::npos) << errors;
    EXPECT_NEAR(testing::FileDuration(output), 5.0, 0.8);
    EXPECT_EQ(testing::DecodeErrors(output), "");
}

TEST_F(HandOverGuiTest, OneClipIsAddedAndNothingIsJoined) {
    const std::string a = dir.Native("only.flv");
    ASSERT_TRUE(testing::MakeClip(a, 1, "160x120", "25", {"-c:v", "flv1"}, 44100, 2, {"-c:a", "libmp3lame"}));
    const std::string output = dir.Native("never.avi");
    Child caller = Start({QUILMER_CALLER, "-q", kQuilmer, "-t", "10", "-o", output, a});
    EXPECT_EQ(caller.Wait(60s), 4);  // no notice: the window stays open with the clip
    // quilmer, still running, holds the caller's stderr open: read what is there, not to its end.
    std::string errors;
    ReadUntil(caller.err, "(process ", errors, 5s);
    pid_t quilmer = StartedPid(errors);
    EXPECT_GT(quilmer, 0);
    EXPECT_TRUE(WaitForMainWindows(1, 5s));
    EXPECT_FALSE(std::filesystem::exists(output));
    CloseMainWindows();
    if (quilmer > 0 && ::kill(quilmer, 0) == 0) ::kill(quilmer, SIGKILL);
}

TEST_F(HandOverGuiTest, BrokenJobShowsWhyAndJoinsNothing) {
    const std::string a = dir.Native("a.flv");
    const std::string b = dir.Native("b.flv");
    ASSERT_TRUE(testing::MakeClip(a, 1, "160x120", "25", {"-c:v", "flv1"}, 44100, 2, {"-c:a", "libmp3lame"}));
    ASSERT_TRUE(testing::MakeClip(b, 1, "160x120", "25", {"-c:v", "flv1"}, 44100, 2, {"-c:a", "libmp3lame"}));
    // Two good clips but no output path: the window starts with the clips and the message.
    std::string job = "{#VideoClipsPath#:[#" + a + "#,#" + b +
                      "#],#AppMainWndClassName#:#X#,#AppUserMsg#:#Y#," +
                      "#CurLangName#:#English#,#FlvUrl#:##}";
    Child quilmer = Start({kQuilmer, job});
    ASSERT_GT(quilmer.pid, 0);
    // The message box names the missing member; the window is up and answers other programs.
    std::string errors;
    EXPECT_TRUE(ReadUntil(quilmer.err, "OutputPath", errors, 30s)) << errors;
    auto shown = errors.find("message: ");
    ASSERT_NE(shown, std::string::npos) << errors;
    std::string message = errors.substr(shown);
    EXPECT_NE(message.find("cannot be run"), std::string::npos) << message;
    EXPECT_NE(message.find("OutputPath"), std::string::npos) << message;
    EXPECT_TRUE(WaitForMainWindows(1, 30s));
    std::this_thread::sleep_for(3s);  // time in which a wrongly started join would write something
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"a.flv", "b.flv"})) << "nothing joined";
    ::kill(quilmer.pid, SIGTERM);  // the message box is open; its close path is not the point here
    quilmer.Wait(10s);
    errors += Child::ReadRest(quilmer.err);
    EXPECT_EQ(errors.find("message: ", shown + 1), std::string::npos) << "one message only: " << errors;
}

// A job the join refuses at its start (here: its output folder does not exist) used to crash
// quilmer during start-up (signal 11). Now the window comes up and shows the reason; closing the
// message ends the program (tests/app drives that part).
TEST_F(HandOverGuiTest, RefusedJobShowsWhyInsteadOfCrashing) {
    const std::string a = dir.Native("a.flv");
    const std::string b = dir.Native("b.flv");
    ASSERT_TRUE(testing::MakeClip(a, 1, "160x120", "25", {"-c:v", "flv1"}, 44100, 2, {"-c:a", "libmp3lame"}));
    ASSERT_TRUE(testing::MakeClip(b, 1, "160x120", "25", {"-c:v", "flv1"}, 44100, 2, {"-c:a", "libmp3lame"}));
    Child caller = Start({QUILMER_CALLER, "-q", kQuilmer, "-t", "60", "-o", dir.Native("missing/out.mp4"), a, b});
    std::string errors;
    EXPECT_TRUE(ReadUntil(caller.err, "does not exist", errors, 60s)) << errors;
    EXPECT_NE(errors.find("message: "), std::string::npos) << errors;
    EXPECT_TRUE(WaitForMainWindows(1, 20s)) << "the window is up, with the message over it";
    std::this_thread::sleep_for(1s);
    pid_t quilmer = StartedPid(errors);
    ASSERT_GT(quilmer, 0) << errors;
    EXPECT_EQ(::kill(quilmer, 0), 0) << "quilmer is still running: " << errors;
    ::kill(quilmer, SIGTERM);  // the message box waits for a user
    caller.Wait(30s);
    errors += Child::ReadRest(caller.err);
    EXPECT_EQ(errors.find("ended by signal 11"), std::string::npos) << errors;
    EXPECT_EQ(errors.find("message: ", errors.find("message: ") + 1), std::string::npos) << "once: " << errors;
}

TEST_F(HandOverGuiTest, TwoCopiesRunAtOnce) {
    Child first = Start({kQuilmer});
    Child second = Start({kQuilmer});
    ASSERT_TRUE(WaitForMainWindows(2, 40s));
    CloseMainWindows();
    EXPECT_EQ(first.Wait(20s), 2);
    EXPECT_EQ(second.Wait(20s), 2);
}

}  // namespace
}  // namespace quilmer
