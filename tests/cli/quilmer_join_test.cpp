// quilmer-join as a user runs it: exit status, messages, and Ctrl-C / SIGTERM.

#include "JoinTestSupport.h"
#include "MediaTools.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>

namespace quilmer {
namespace {

using namespace quilmer::testing;

const std::string kProgram = QUILMER_PROGRAM_DIR "/quilmer-join";

class QuilmerJoinTest : public ::testing::Test {
protected:
    ScratchFolder dir{"quilmer-join"};

    void SetUp() override {
        // Both programs are built by this project: missing ones are a fault, never a skip.
        ASSERT_EQ(access(kProgram.c_str(), X_OK), 0) << "quilmer-join was not built";
        ASSERT_EQ(access((QUILMER_PROGRAM_DIR "/ffmpeg"), X_OK), 0) << "the encoder adapter was not built";
        if (!HaveProgram("ffmpeg")) QUILMER_SKIP_OR_FAIL_IN_CI("needs Debian's ffmpeg");
        ASSERT_TRUE(MakeClip(dir.Native("-first clip.flv"), 2, "160x120", "25", {"-c:v", "flv1"}, 44100, 2,
                             {"-c:a", "libmp3lame"}));
        ASSERT_TRUE(MakeClip(dir.Native("zweiter «Clip».mp4"), 2, "176x144", "15", {"-c:v", "mpeg4"}, 22050, 1,
                             {"-c:a", "aac"}));
    }

    ProgramResult Join(std::vector<std::string> args) {
        args.insert(args.begin(), kProgram);
        return RunProgram(args);
    }
};

TEST_F(QuilmerJoinTest, JoinsAndPrintsWhereTheOutputIs) {
    auto r = Join({"--method", "classic", "-o", dir.Native("out.avi"), "--", dir.Native("-first clip.flv"),
                   dir.Native("zweiter «Clip».mp4")});
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find(dir.Native("out.avi")), std::string::npos);
    EXPECT_NE(r.output.find("encoding avi"), std::string::npos);  // plain progress lines off a terminal
    EXPECT_NEAR(FileDuration(dir.Native("out.avi")), 4, 0.6);
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"-first clip.flv", "out.avi", "zweiter «Clip».mp4"}));
}

TEST_F(QuilmerJoinTest, FailuresSayWhyAndExitNonZero) {
    std::string clip = dir.Native("zweiter «Clip».mp4");
    WriteFile(dir.Native("notes.txt"), "not a video at all");
    struct Case {
        std::vector<std::string> args;
        int status;
        const char* says;
    } cases[] = {
        {{"--help"}, 0, "Usage: quilmer-join"},
        {{"-o", dir.Native("out.flv")}, 2, "no clips"},
        {{"-o", dir.Native("out.mkv"), clip}, 1, "Unknown output extension"},
        {{"-o", dir.Native("out.flv"), dir.Native("missing.flv")}, 1, "No such file or directory"},
        {{"-o", dir.Native("out.flv"), clip, dir.Native("notes.txt")}, 1, "not a video or audio file"},
        {{"-o", clip, clip}, 1, "one of the clips"},
        {{"-o", dir.Native("no/such/folder/out.flv"), clip}, 1, "does not exist"},
    };
    for (const auto& c : cases) {
        auto r = Join(c.args);
        EXPECT_EQ(r.status, c.status) << c.says << "\n" << r.output;
        EXPECT_NE(r.output.find(c.says), std::string::npos) << r.output;
    }
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"-first clip.flv", "notes.txt", "zweiter «Clip».mp4"}));
}

TEST_F(QuilmerJoinTest, MissingEncoderIsReported) {
    // The program looks for the encoder of the classic join in its own folder.
    std::filesystem::copy_file(kProgram, dir.Native("quilmer-join"));
    auto r = RunProgram({dir.Native("quilmer-join"), "--method", "classic", "-o", dir.Native("o.flv"), dir.Native("-first clip.flv")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("encoder is missing"), std::string::npos) << r.output;
}

TEST_F(QuilmerJoinTest, SigtermStopsTheJoinAndCleansUp) {
    ASSERT_TRUE(MakeClip(dir.Native("long.mp4"), 20, "320x240", "25", {"-c:v", "libx264"}, 44100, 2, {"-c:a", "aac"}));
    std::vector<std::string> args = {kProgram,         "--method",         "classic", "-o", dir.Native("out.mp4"),
                                     dir.Native("long.mp4"), dir.Native("long.mp4")};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    // Wait until the first conversion is writing its intermediate file.
    bool converting = WaitFor(
        [&] {
            for (const auto& name : dir.List())
                if (name.size() > 4 && name.substr(name.size() - 4) == ".qjv") return true;
            return false;
        },
        {}, std::chrono::seconds(20));
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(converting);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 128 + SIGTERM);
    std::vector<int> left;
    WaitFor([&] { return (left = ProcessesMentioning(dir.Native())).empty(); }, {}, std::chrono::seconds(30));
    EXPECT_TRUE(left.empty());
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"-first clip.flv", "long.mp4", "zweiter «Clip».mp4"}));
}

}  // namespace
}  // namespace quilmer
