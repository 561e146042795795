// Stops that must take effect at once: a pause, cancel or close while the updater waits for a
// server that does not answer, and the version check stopped with its window. Also the cases
// where no worker thread can be made, and a ready notice for a window that is already gone.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <iostream>
#include <system_error>
#include <thread>

#include "foundation/ManualEventLoop.h"
#include "foundation/Utf8.h"
#include "foundation/WorkerThread.h"
#include "tests/support/ScratchFolder.h"
#include "tests/update/LoopbackServers.h"
#include "tests/update/PackageSigning.h"
#include "update/UpdateCheck.h"
#include "updater/DownloadStep.h"
#include "updater/UpdaterController.h"

using namespace quilmer;
using namespace quilmer::testing;
using quilmer::test::ScratchFolder;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

// A loopback port whose connections are made by the kernel and then never answered.
class SilentServer {
public:
    SilentServer() {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        ::listen(fd_, 16);
        socklen_t len = sizeof addr;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
    }
    ~SilentServer() { ::close(fd_); }
    std::wstring Url(const char* path) const {
        return FromUtf8("http://127.0.0.1:" + std::to_string(port_) + path);
    }

private:
    int fd_ = -1;
    int port_ = 0;
};

// While alive, no new thread of this process can be made: the default stack asked for is
// larger than the address space.
class NoNewThreads {
public:
    NoNewThreads() {
        pthread_getattr_default_np(&saved_);
        pthread_attr_t huge;
        pthread_attr_init(&huge);
        pthread_attr_setstacksize(&huge, std::size_t(1) << 47);
        pthread_setattr_default_np(&huge);
        pthread_attr_destroy(&huge);
    }
    ~NoNewThreads() {
        pthread_setattr_default_np(&saved_);
        pthread_attr_destroy(&saved_);
    }
    static bool Effective() {
        try {
            std::thread t([] {});
            t.join();
            return false;
        } catch (const std::system_error&) {
            return true;
        }
    }

private:
    pthread_attr_t saved_;
};

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Generous: the goal is well under a second; a slow, shared machine must not fail the test.
constexpr double kStopLimitSeconds = 3.0;

class View : public UpdaterView {
public:
    void SetStatusText(const std::wstring& text, bool isError) override {
        if (isError) errors.push_back(text);
    }
    void EndDialog(int result) override { ended = result; }
    std::vector<std::wstring> errors;
    int ended = 0;
};

DownloadEnvironment Environment(const ScratchFolder& tmp, const std::wstring& url) {
    DownloadEnvironment env;
    env.args = UpdaterArgs::FromValues({url, L"Corvane Video", L"UWM_JoinDownload_IsMe", L"English",
                                        FromUtf8(tmp / "data/"), L"(v1.9)", L"(v2.0)"});
    env.programFolder = FromUtf8(tmp / "prog/");
    env.startProgram = [](const std::wstring&) { return true; };
    // The real waits and time-outs of the updater: nothing shortened.
    return env;
}

}  // namespace

TEST(UpdaterInterrupt, APauseDuringTheProbeRequestTakesEffectAtOnce) {
    ScratchFolder tmp;
    fs::create_directories(tmp / "data");
    fs::create_directories(tmp / "prog");
    SilentServer silent;
    DownloadEnvironment env = Environment(tmp, silent.Url("/pkg.zip"));
    struct NullObserver : DownloadObserver {
    } observer;
    std::atomic<bool> paused{false};
    auto result = std::async(std::launch::async, [&] {
        DownloadStep step(env, observer);
        return step.Run(paused);
    });
    // Past the first half-second wait: the probe request is waiting for an answer now.
    ASSERT_EQ(result.wait_for(std::chrono::milliseconds(1200)), std::future_status::timeout);
    auto pressed = Clock::now();
    paused = true;
    ASSERT_EQ(result.wait_for(std::chrono::seconds(40)), std::future_status::ready);
    double latency = Seconds(Clock::now() - pressed);
    std::cout << "probe request stopped " << latency * 1000 << " ms after the pause\n";
    RecordProperty("probe_stop_ms", static_cast<int>(latency * 1000));
    EXPECT_EQ(result.get(), StepOutcome::Paused);
    EXPECT_LT(latency, kStopLimitSeconds);
    EXPECT_FALSE(fs::exists(tmp / "data/newversion.tmp"));
}

TEST(UpdaterInterrupt, ClosingTheUpdaterDuringTheProbeDoesNotBlock) {
    ScratchFolder tmp;
    fs::create_directories(tmp / "data");
    fs::create_directories(tmp / "prog");
    SilentServer silent;
    ManualEventLoop loop;
    View view;
    auto controller =
        std::make_unique<UpdaterController>(loop, Environment(tmp, silent.Url("/pkg.zip")), view);
    controller->Start();
    loop.Advance(1000);
    ASSERT_TRUE(controller->IsStepRunning());
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    auto closing = Clock::now();
    controller->Cancel();
    controller.reset();  // the window goes: the step must end with it
    double latency = Seconds(Clock::now() - closing);
    std::cout << "updater closed " << latency * 1000 << " ms into a silent probe\n";
    EXPECT_EQ(view.ended, 2);
    EXPECT_LT(latency, kStopLimitSeconds);
    loop.RunPending();  // reports of the ended step reach nobody
}

TEST(UpdaterInterrupt, StoppingTheVersionCheckWithItsWindowDoesNotWaitForTheServer) {
    ScratchFolder tmp;
    SilentServer silent;
    ManualEventLoop loop;
    auto window = std::make_shared<int>(0);
    int notices = 0;
    auto job = std::make_shared<UpdateCheck>(loop, FromUtf8(tmp / "quilmerver.ini"), silent.Url("/ver.php"),
                                             window, [&](int) { ++notices; });
    auto worker = UpdateCheck::MakeWorker(job);
    ASSERT_TRUE(worker->Start());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    auto stopping = Clock::now();
    worker->StopAndWait();
    double latency = Seconds(Clock::now() - stopping);
    std::cout << "version check stopped in " << latency * 1000 << " ms\n";
    EXPECT_LT(latency, kStopLimitSeconds) << "the stop did not wait for the 5 s last resort";
    EXPECT_EQ(worker->ExitCode(), 1);
    loop.RunPending();
    EXPECT_EQ(notices, 0);
}

TEST(UpdaterInterrupt, NoWorkerThreadMeansAFailureShownNotAnEndlessWait) {
    ScratchFolder tmp;
    fs::create_directories(tmp / "data");
    fs::create_directories(tmp / "prog");
    ManualEventLoop loop;
    View view;
    UpdaterController controller(loop, Environment(tmp, L"http://127.0.0.1:9/pkg.zip"), view);
    controller.Start();
    {
        NoNewThreads sabotage;
        if (!NoNewThreads::Effective()) GTEST_SKIP() << "thread creation cannot be made to fail here";
        loop.Advance(1000);
    }
    EXPECT_FALSE(controller.IsStepRunning()) << "nothing will ever end the step that never started";
    EXPECT_EQ(controller.LastOutcome(), StepOutcome::RetryLater);
    EXPECT_TRUE(controller.IsTimerArmed()) << "the next tick tries again";
    EXPECT_EQ(view.errors, std::vector<std::wstring>{L"Failure to download update file."});
    controller.Cancel();

    // The version check: the worker cannot start, and stopping it does not wait.
    auto window = std::make_shared<int>(0);
    auto job = std::make_shared<UpdateCheck>(loop, FromUtf8(tmp / "quilmerver.ini"), L"http://127.0.0.1:9/x",
                                             window, [](int) {});
    auto worker = UpdateCheck::MakeWorker(job);
    {
        NoNewThreads sabotage;
        EXPECT_FALSE(worker->Start());
    }
    auto stopping = Clock::now();
    worker->StopAndWait();
    EXPECT_LT(Seconds(Clock::now() - stopping), 1.0);
}

TEST(UpdateCheckNotice, ANoticeForAWindowThatIsGoneIsDropped) {
    ScratchFolder tmp;
    fs::create_directories(tmp / "www");
    fs::create_directories(tmp / "nginx");
    { std::ofstream(tmp / "www/quilmerver.ini") << "[main]\nversion=v2.0\n"; }
    ASSERT_TRUE(SignPackage(tmp / "www/quilmerver.ini"));
    NginxServer nginx;
    ASSERT_TRUE(nginx.Start(tmp / "nginx/", tmp / "www")) << nginx.ErrorLog();
    ManualEventLoop loop;
    struct Window {
        std::shared_ptr<int> alive = std::make_shared<int>(0);
        int notices = 0;
    };
    auto window = std::make_unique<Window>();
    int callsAfterClose = 0;
    UpdateCheck job(loop, FromUtf8(tmp / "quilmerver.ini"), FromUtf8(nginx.Url("/quilmerver.ini")),
                    window->alive, [&callsAfterClose](int) { ++callsAfterClose; });
    EXPECT_EQ(job.Run(), 0);
    window.reset();  // closed while the notice waits in the queue
    loop.RunPending();
    EXPECT_EQ(callsAfterClose, 0) << "the notice reached a window that is gone";

    Window open;
    UpdateCheck again(loop, FromUtf8(tmp / "quilmerver.ini"), FromUtf8(nginx.Url("/quilmerver.ini")),
                      open.alive, [&open](int flag) { open.notices += flag; });
    EXPECT_EQ(again.Run(), 0);
    loop.RunPending();
    EXPECT_EQ(open.notices, 1);
}
