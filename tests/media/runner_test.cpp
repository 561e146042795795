#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "media/CancelFlag.h"
#include "media/EncoderRunner.h"
#include "tests/join/MediaTools.h"
#include "tests/support/ScratchFolder.h"
#include "tests/support/TestSupport.h"

namespace quilmer {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

class EncoderRunnerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(scratch_.Path().empty());
        dir_ = scratch_.Path();
    }

    // A shell script run as the encoder; the runner itself never uses a shell.
    std::wstring Script(const std::string& body) {
        return L"/bin/sh -c \"" + std::wstring(body.begin(), body.end()) + L"\"";
    }
    std::wstring Path(const char* name) const { return (dir_ / name).wstring(); }
    // The pid a script wrote; 0 (and a failure) when it wrote none, so that a process that never
    // got to write its pid cannot pass for one that was killed.
    pid_t ReadPid(const char* name) const {
        std::ifstream in(dir_ / name);
        pid_t pid = 0;
        in >> pid;
        EXPECT_GT(pid, 0) << "no pid in " << name;
        return pid;
    }
    // Running, not merely a zombie waiting for whoever adopted it.
    static bool Alive(pid_t pid) {
        if (pid <= 0) return false;
        if (kill(pid, 0) != 0) return false;
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string pidText, name, state;
        stat >> pidText >> name >> state;
        return state != "Z";
    }

    quilmer::test::ScratchFolder scratch_{"quilmer-runner"};
    fs::path dir_;
    int chunks_ = 0;
    int ends_ = 0;
    std::string seen_;
    OutputChunkHandler Collect() {
        return [this](std::string& accumulated, std::string& chunk) {
            ++chunks_;
            accumulated += chunk;
            return true;
        };
    }
    OutputEndHandler End(bool result = true) {
        return [this, result](std::string& accumulated) {
            ++ends_;
            seen_ = accumulated;
            return result;
        };
    }
};

TEST_F(EncoderRunnerTest, MissingProgramOrFolderCallsNoHandler) {
    EXPECT_FALSE(RunEncoder(L"", L"\"/no/such/encoder\" -i x", Collect(), End()));
    EXPECT_FALSE(RunEncoder(L"", L"no-such-encoder-on-path", Collect(), End()));
    EXPECT_FALSE(RunEncoder(Path("missing-folder"), L"/bin/true", Collect(), End()));
    EXPECT_FALSE(RunEncoder(L"", L"", Collect(), End()));
    EXPECT_EQ(chunks_ + ends_, 0);
}

TEST_F(EncoderRunnerTest, OutputAndErrorsArriveAndTheEndHandlerDecides) {
    EXPECT_TRUE(RunEncoder(L"", L"/bin/true", Collect(), End()));
    EXPECT_EQ(ends_, 1);
    EXPECT_EQ(seen_, "");
    EXPECT_FALSE(
        RunEncoder(dir_.wstring(), Script("printf out; printf err 1>&2; pwd"), Collect(), End(false)));
    EXPECT_EQ(ends_, 2);
    EXPECT_EQ(seen_.substr(0, 6), "outerr");
    EXPECT_NE(seen_.find(dir_.string()), std::string::npos) << "runs in the working folder";
}

TEST_F(EncoderRunnerTest, ArgumentsArriveUnsplitAndLongLinesWork) {
    std::wstring arg(5000, L'x');
    arg += L" \"quoted\" \\ tail\\";
    std::string seen;
    RunEncoder(
        L"",
        L"/bin/echo " + std::wstring(L"\"") + L"a b" + L"\" " +
            [&] {
                std::wstring q = L"\"";
                for (wchar_t c : arg) {
                    if (c == L'"') q += L'\\';
                    q += c;
                }
                return q + L"\\\"";
            }(),
        Collect(), End());
    EXPECT_EQ(seen_, "a b " + std::string(5000, 'x') + " \"quoted\" \\ tail\\\n");
}

TEST_F(EncoderRunnerTest, StoppingHandlerKillsTheWholeProcessGroup) {
    const auto start = Clock::now();
    bool result = RunEncoder(
        L"",
        Script("sleep 60 & echo $! > " + fs::path(Path("child")).string() + "; echo $$ > " +
               fs::path(Path("parent")).string() + "; echo go; wait"),
        [&](std::string&, std::string& chunk) {
            ++chunks_;
            return chunk.find("go") == std::string::npos;
        },
        End());
    EXPECT_TRUE(result);
    EXPECT_EQ(ends_, 1);
    // Far less than the minute the script would otherwise take.
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(30));
    const pid_t parent = ReadPid("parent"), child = ReadPid("child");
    EXPECT_FALSE(Alive(parent));  // reaped, not a zombie
    // The grandchild, adopted by init, may take a moment to be gone.
    EXPECT_TRUE(quilmer::test::WaitUntil([&] { return !Alive(child); })) << "the sleep outlived the stop";
}

TEST_F(EncoderRunnerTest, ThrowingHandlerEndsTheRunLikeAStop) {
    bool result = RunEncoder(
        L"",
        Script("echo $$ > " + fs::path(Path("pid")).string() +
               "; while true; do echo tick; sleep 0.05; done"),
        [&](std::string&, std::string&) -> bool { throw std::runtime_error("bad chunk"); }, End(false));
    EXPECT_FALSE(result);
    EXPECT_EQ(ends_, 1);
    EXPECT_FALSE(Alive(ReadPid("pid")));
}

TEST_F(EncoderRunnerTest, CancelStopsASilentProcessAtOnce) {
    CancelFlag cancel;
    // The stop comes once the process has surely started (it wrote its pid), not after a guess.
    std::thread stopper([&] {
        quilmer::test::WaitUntil([&] { return fs::exists(dir_ / "pid.ready"); });
        cancel.Request();
    });
    const auto start = Clock::now();
    const std::string pidFile = (dir_ / "pid").string();
    RunEncoder(L"", Script("echo $$ > " + pidFile + "; mv " + pidFile + " " + pidFile + ".ready; exec sleep 60"),
               Collect(), End(), &cancel);
    stopper.join();
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(30)) << "the silent sleep ran on";
    EXPECT_EQ(ends_, 1);
    EXPECT_FALSE(Alive(ReadPid("pid.ready")));

    // A flag raised before the run stops it before it reads anything: no output is seen, the
    // end handler still runs and decides the result, and the minute-long process is gone.
    EXPECT_TRUE(cancel.IsRequested());
    const std::string marker = "60.0" + std::to_string(::getpid());  // a unique sleep length
    const auto again = Clock::now();
    EXPECT_FALSE(RunEncoder(L"", Script("echo started; exec sleep " + marker), Collect(), End(false), &cancel));
    EXPECT_LT(Clock::now() - again, std::chrono::seconds(30));
    EXPECT_EQ(ends_, 2);
    EXPECT_EQ(seen_, "") << "output was read after the stop";
    EXPECT_TRUE(quilmer::test::WaitUntil([&] { return quilmer::testing::ProcessesMentioning(marker).empty(); }));
    cancel.Reset();
    EXPECT_FALSE(cancel.IsRequested());
    EXPECT_TRUE(RunEncoder(L"", Script("echo done"), Collect(), End(), &cancel));
    EXPECT_EQ(seen_, "done\n");
}

TEST_F(EncoderRunnerTest, ChunksAreAtMost4096BytesAndComeAsWritten) {
    std::vector<std::size_t> sizes;
    RunEncoder(
        L"", Script("head -c 20000 /dev/zero"),
        [&](std::string&, std::string& chunk) {
            sizes.push_back(chunk.size());
            return true;
        },
        End());
    std::size_t total = 0;
    for (std::size_t s : sizes) {
        EXPECT_LE(s, 4096u);
        total += s;
    }
    EXPECT_EQ(total, 20000u);
}

}  // namespace
}  // namespace quilmer
