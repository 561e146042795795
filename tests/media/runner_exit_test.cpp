// How an encoder run ended, as the join needs to know it: the exit status, a death by a signal
// someone else sent, our own stop (SIGTERM, then SIGKILL for an encoder that does not listen),
// and the time limit of a run that never answers.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "media/CancelFlag.h"
#include "media/EncoderRunner.h"
#include "tests/support/ScratchFolder.h"

namespace quilmer {
namespace {

using Clock = std::chrono::steady_clock;

class RunnerExitTest : public ::testing::Test {
protected:
    test::ScratchFolder dir{"runner-exit"};

    static std::wstring Script(const std::string& body) { return L"/bin/sh -c \"" + WidePath(body) + L"\""; }

    EncoderExit Run(const std::string& body, CancelFlag* cancel = nullptr,
                    std::chrono::milliseconds limit = std::chrono::milliseconds::zero()) {
        EncoderExit exit;
        RunEncoder(
            L"", Script(body),
            [this](std::string&, std::string& chunk) {
                output += chunk;
                if (output.find("ready") != std::string::npos) ready = true;
                return true;
            },
            [](std::string&) { return true; }, cancel, &exit, limit);
        return exit;
    }

    pid_t ReadPid(const std::string& name) const {
        std::ifstream in(dir.Native(name));
        pid_t pid = 0;
        in >> pid;
        return pid;
    }
    static bool Running(pid_t pid) {
        if (pid <= 0 || kill(pid, 0) != 0) return false;
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string pidText, name, state;
        stat >> pidText >> name >> state;
        return state != "Z";
    }
    static bool WaitGone(pid_t pid) {
        auto end = Clock::now() + std::chrono::seconds(10);
        while (Running(pid) && Clock::now() < end) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return !Running(pid);
    }

    std::string output;
    std::atomic<bool> ready{false};  // the script said "ready" (read by the stopping thread)
};

TEST_F(RunnerExitTest, ExitStatusAndSignalsAreReportedAndOnlyStatusZeroSucceeds) {
    EncoderExit ok = Run("exit 0");
    EXPECT_TRUE(ok.started);
    EXPECT_TRUE(ok.Succeeded());

    EncoderExit failed = Run("echo 'Conversion failed!'; exit 3");
    EXPECT_EQ(failed.exitCode, 3);
    EXPECT_FALSE(failed.stoppedByUs);
    EXPECT_FALSE(failed.Succeeded());
    EXPECT_NE(failed.Describe().find(L"3"), std::wstring::npos);

    // Killed by someone else (the OOM killer, a user's kill -9): a crash, not our stop.
    EncoderExit killed = Run("kill -9 $$");
    EXPECT_EQ(killed.signal, SIGKILL);
    EXPECT_FALSE(killed.stoppedByUs);
    EXPECT_FALSE(killed.Succeeded());
    EXPECT_NE(killed.Describe().find(L"signal 9 (SIGKILL)"), std::wstring::npos) << NativePath(killed.Describe());

    EncoderExit missing;
    EXPECT_FALSE(RunEncoder(L"", L"\"/no/such/encoder\" -i x", {}, {}, nullptr, &missing));
    EXPECT_FALSE(missing.started);
    EXPECT_FALSE(missing.Succeeded());
}

TEST_F(RunnerExitTest, AStopAsksWithSigtermFirst) {
    CancelFlag cancel;
    std::thread stopper([&] {
        auto end = Clock::now() + std::chrono::seconds(10);
        while (!ready && Clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        cancel.Request();
    });
    // An encoder that ends tidily on SIGTERM gets the chance to.
    EncoderExit exit = Run("trap 'echo tidy > " + dir.Native("term") + "; exit 0' TERM; echo ready; "
                           "while :; do sleep 0.05; done",
                           &cancel);
    stopper.join();
    EXPECT_TRUE(exit.stoppedByUs);
    EXPECT_FALSE(exit.Succeeded());  // a stopped run is never a success, whatever its status
    EXPECT_EQ(exit.signal, 0);
    std::ifstream term(dir.Native("term"));
    std::string word;
    term >> word;
    EXPECT_EQ(word, "tidy");
}

TEST_F(RunnerExitTest, AnEncoderThatIgnoresSigtermIsKilledWithEverythingItStarted) {
    CancelFlag cancel;
    std::thread stopper([&] {
        auto end = Clock::now() + std::chrono::seconds(10);
        while (!ready && Clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        cancel.Request();
    });
    auto start = Clock::now();
    EncoderExit exit = Run("trap '' TERM; echo $$ > " + dir.Native("pid") + "; sleep 600 & echo $! > " +
                               dir.Native("child") + "; echo ready; wait",
                           &cancel);
    stopper.join();
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(30));  // did not wait for the sleep
    EXPECT_TRUE(exit.stoppedByUs);
    EXPECT_EQ(exit.signal, 0);  // our own kill is not reported as a crash
    EXPECT_TRUE(WaitGone(ReadPid("pid")));
    EXPECT_TRUE(WaitGone(ReadPid("child")));
}

TEST_F(RunnerExitTest, ARunPastItsTimeLimitIsStopped) {
    auto start = Clock::now();
    EncoderExit exit = Run("echo $$ > " + dir.Native("pid") + "; exec sleep 600", nullptr, std::chrono::milliseconds(300));
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(30));
    EXPECT_TRUE(exit.timedOut);
    EXPECT_TRUE(exit.stoppedByUs);
    EXPECT_FALSE(exit.Succeeded());
    EXPECT_TRUE(WaitGone(ReadPid("pid")));

    // A silent run that closed its output but lingers is stopped by the limit too.
    exit = Run("exec >/dev/null 2>&1; sleep 600", nullptr, std::chrono::milliseconds(300));
    EXPECT_TRUE(exit.timedOut);
}

TEST_F(RunnerExitTest, TheEncoderInheritsNoDescriptorOfOurs) {
    // A descriptor opened without close-on-exec, as a std::ofstream's or another thread's may be.
    int leaky = open("/dev/null", O_RDONLY);
    ASSERT_GE(leaky, 3);
    // Asked of the shell itself with a builtin: a listing through a pipeline would race with the
    // shell's own pipe descriptors.
    Run("if [ -e /proc/$$/fd/" + std::to_string(leaky) + " ]; then echo inherited; else echo closed; fi");
    close(leaky);
    EXPECT_EQ(output, "closed\n");
}

TEST_F(RunnerExitTest, TheChildLearnsWhichProcessStartedIt) {
    Run("echo engine=$QUILMER_ENGINE_PID");
    EXPECT_NE(output.find("engine=" + std::to_string(getpid())), std::string::npos) << output;
}

TEST_F(RunnerExitTest, TheAdapterDoesNotStartWhenItsEngineIsAlreadyGone) {
    const std::string adapter = QUILMER_PROGRAM_DIR "/ffmpeg";
    ASSERT_EQ(access(adapter.c_str(), X_OK), 0);
    std::ofstream(dir.Native("logger")) << "#!/bin/sh\necho ran > '" << dir.Native("ran") << "'\n";
    chmod(dir.Native("logger").c_str(), 0755);
    std::ofstream(dir.Native("clip.flv")) << "x";
    const std::string run = "QUILMER_REAL_FFMPEG='" + dir.Native("logger") + "' exec '" + adapter + "' -i '" +
                            dir.Native("clip.flv") + "'";
    // Started by a process that is not the engine named (the engine died before the adapter
    // could ask to die with it): it ends at once, and starts no encoder.
    EncoderExit orphan = Run("QUILMER_ENGINE_PID=1 " + run);
    EXPECT_EQ(orphan.exitCode, 1);
    EXPECT_FALSE(std::filesystem::exists(dir.Native("ran")));
    // Started by the engine it names: it runs the real encoder.
    Run(run);
    EXPECT_TRUE(std::filesystem::exists(dir.Native("ran")));
}

}  // namespace
}  // namespace quilmer
