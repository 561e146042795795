#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "media/CancelFlag.h"
#include "media/EncoderRunner.h"

namespace quilmer {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

class EncoderRunnerTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("quilmer-runner-" + std::to_string(getpid()));
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    // A shell script run as the encoder; the runner itself never uses a shell.
    std::wstring Script(const std::string& body) {
        return L"/bin/sh -c \"" + std::wstring(body.begin(), body.end()) + L"\"";
    }
    std::wstring Path(const char* name) const { return (dir_ / name).wstring(); }
    pid_t ReadPid(const char* name) const {
        std::ifstream in(dir_ / name);
        pid_t pid = 0;
        in >> pid;
        return pid;
    }
    // Running, not merely a zombie waiting for whoever adopted it.
    static bool Alive(pid_t pid) {
        if (pid <= 0 || kill(pid, 0) != 0) return false;
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string pidText, name, state;
        stat >> pidText >> name >> state;
        return state != "Z";
    }

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
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
    EXPECT_FALSE(Alive(ReadPid("parent")));  // reaped, not a zombie
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(Alive(ReadPid("child")));
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
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        cancel.Request();
    });
    const auto start = Clock::now();
    RunEncoder(L"", Script("echo $$ > " + fs::path(Path("pid")).string() + "; exec sleep 60"), Collect(),
               End(), &cancel);
    stopper.join();
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(ends_, 1);
    EXPECT_FALSE(Alive(ReadPid("pid")));

    // A flag raised before the run stops it before it reads anything; Reset makes it usable again.
    EXPECT_TRUE(cancel.IsRequested());
    RunEncoder(L"", Script("sleep 60"), Collect(), End(), &cancel);
    EXPECT_EQ(ends_, 2);
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
