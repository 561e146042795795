// quilmer-join and the user's files: the terminal closing stops and cleans up like Ctrl-C, a
// second join into the same output is refused, a full disk keeps the old output and is named,
// and messages give the real cause.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "JoinTestSupport.h"
#include "MediaTools.h"

namespace quilmer {
namespace {

using namespace quilmer::testing;

const std::string kProgram = QUILMER_PROGRAM_DIR "/quilmer-join";

// Starts a classic join (it writes intermediates one can wait for) with quilmer-join, its output
// discarded; returns its process id.
pid_t StartJoin(std::vector<std::string> args) {
    args.insert(args.begin(), {kProgram, "--method", "classic"});
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

bool HasIntermediate(const ScratchFolder& dir) {
    for (const auto& name : dir.List())
        if (name.size() > 4 && name.substr(name.size() - 4) == ".qjv") return true;
    return false;
}

class QuilmerJoinSafetyTest : public ::testing::Test {
protected:
    ScratchFolder dir{"quilmer-join-safety"};

    void SetUp() override {
        if (!HaveProgram("ffmpeg") || access((QUILMER_PROGRAM_DIR "/ffmpeg"), X_OK) != 0)
            GTEST_SKIP() << "needs ffmpeg and the encoder adapter";
        ASSERT_TRUE(MakeClip(dir.Native("a.flv"), 1, "96x72", "25", {"-c:v", "flv1"}, 22050, 1,
                             {"-c:a", "libmp3lame"}));
    }
    void MakeLongClip() {
        ASSERT_TRUE(MakeClip(dir.Native("long.mp4"), 20, "320x240", "25", {"-c:v", "libx264"}, 44100, 2,
                             {"-c:a", "aac"}));
    }
    ProgramResult Join(std::vector<std::string> args) {
        args.insert(args.begin(), kProgram);
        return RunProgram(args);
    }
};

TEST_F(QuilmerJoinSafetyTest, ClosedTerminalStopsTheJoinAndCleansUp) {
    MakeLongClip();
    WriteFile(dir.Native("out.avi"), "old");
    pid_t pid = StartJoin({"-o", dir.Native("out.avi"), dir.Native("long.mp4"), dir.Native("long.mp4")});
    ASSERT_GT(pid, 0);
    bool converting = WaitFor([&] { return HasIntermediate(dir); }, {}, std::chrono::seconds(20));
    kill(pid, SIGHUP);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(converting);
    ASSERT_TRUE(WIFEXITED(status)) << "killed by the signal instead of stopping";
    EXPECT_EQ(WEXITSTATUS(status), 128 + SIGHUP);
    std::vector<int> left;
    WaitFor([&] { return (left = ProcessesMentioning(dir.Native())).empty(); }, {}, std::chrono::seconds(1));
    EXPECT_TRUE(left.empty()) << "the encoder runs on";
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"a.flv", "long.mp4", "out.avi"}));
    EXPECT_EQ(ReadFile(dir.Native("out.avi")), "old");
}

TEST_F(QuilmerJoinSafetyTest, ASecondJoinIntoTheSameOutputIsRefusedWhileTheFirstRuns) {
    MakeLongClip();
    pid_t pid = StartJoin({"-o", dir.Native("out.flv"), dir.Native("long.mp4"), dir.Native("long.mp4")});
    ASSERT_GT(pid, 0);
    bool converting = WaitFor([&] { return HasIntermediate(dir); }, {}, std::chrono::seconds(20));
    auto second = Join({"-o", dir.Native("out.flv"), dir.Native("a.flv"), dir.Native("a.flv")});
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    ASSERT_TRUE(converting);
    EXPECT_EQ(second.status, 1);
    EXPECT_NE(second.output.find("Another join is writing this output file"), std::string::npos)
        << second.output;
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"a.flv", "long.mp4"}));

    auto again = Join({"-o", dir.Native("out.flv"), dir.Native("a.flv"), dir.Native("a.flv")});
    EXPECT_EQ(again.status, 0) << "the lock went with the first join\n" << again.output;
}

TEST_F(QuilmerJoinSafetyTest, FullDiskKeepsTheOldOutputAndIsNamed) {
    if (geteuid() != 0) GTEST_SKIP() << "mounting a small file system needs root";
    // From room for hardly anything to room for the whole join: the disk fills during a
    // conversion, the copy or the final encode (which one depends on the encoder's sizes).
    int failed = 0;
    for (const char* size : {"size=60k", "size=200k", "size=300k", "size=2m"}) {
        SCOPED_TRACE(size);
        ScratchFolder small("quilmer-join-full");
        if (mount("tmpfs", small.Path().c_str(), "tmpfs", 0, size) != 0)
            GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
        WriteFile(small.Native("out.avi"), "old");
        auto r = Join(
            {"-o", small.Native("out.avi"), dir.Native("a.flv"), dir.Native("a.flv"), dir.Native("a.flv")});
        std::vector<std::string> left = small.List();
        std::string result = ReadFile(small.Native("out.avi"));
        double seconds = FileDuration(small.Native("out.avi"));
        umount(small.Path().c_str());
        EXPECT_EQ(left, (std::vector<std::string>{"out.avi"}));
        if (r.status == 0) {
            EXPECT_NEAR(seconds, 3, 0.3) << "a complete new output";
            continue;
        }
        ++failed;
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.output.find("No space left on device"), std::string::npos) << r.output;
        EXPECT_EQ(r.output.find("could not be converted"), std::string::npos) << "not the clip's fault\n"
                                                                              << r.output;
        EXPECT_EQ(result, "old");
    }
    EXPECT_GE(failed, 1);
}

TEST_F(QuilmerJoinSafetyTest, MessagesGiveTheRealCause) {
    // An output where nothing can be written is named before any work, not blamed on the clips.
    auto proc = Join({"-o", "/proc/out.flv", dir.Native("a.flv"), dir.Native("a.flv")});
    EXPECT_EQ(proc.status, 1);
    EXPECT_NE(proc.output.find("folder of the output file cannot be written: /proc/"), std::string::npos)
        << proc.output;
    EXPECT_EQ(proc.output.find("convert"), std::string::npos) << proc.output;

    auto missing = Join({"-o", dir.Native("out.flv"), dir.Native("missing.flv"), dir.Native("a.flv")});
    EXPECT_NE(missing.output.find("No such file or directory"), std::string::npos) << missing.output;

    // Names as long as the file system allows: a 255-byte clip name joins, a 256-byte output
    // name is refused with a reason.
    const std::string longClip = std::string(251, 'c') + ".flv";
    std::filesystem::copy_file(dir.Native("a.flv"), dir.Native(longClip));
    auto longName = Join({"-o", dir.Native("out.flv"), dir.Native(longClip), dir.Native(longClip)});
    EXPECT_EQ(longName.status, 0) << longName.output;
    auto tooLong =
        Join({"-o", dir.Native(std::string(252, 'o') + ".flv"), dir.Native("a.flv"), dir.Native("a.flv")});
    EXPECT_EQ(tooLong.status, 1);
    EXPECT_NE(tooLong.output.find("too long"), std::string::npos) << tooLong.output;
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"a.flv", longClip, "out.flv"}));

    // A clip in a folder the user may not enter is not "not found".
    if (geteuid() != 0 || !HaveProgram("setpriv")) return;
    ScratchFolder open("quilmer-join-nobody");
    ASSERT_EQ(chmod(open.Path().c_str(), 0777), 0);
    ASSERT_EQ(chmod(dir.Path().c_str(), 0700), 0);
    auto denied = RunProgram({"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", kProgram, "-o",
                              open.Native("out.flv"), dir.Native("a.flv"), dir.Native("a.flv")});
    EXPECT_EQ(denied.status, 1);
    EXPECT_NE(denied.output.find("Clip cannot be read: " + dir.Native("a.flv") + " (Permission denied)"),
              std::string::npos)
        << denied.output;
}

}  // namespace
}  // namespace quilmer
