// quilmer-join in the situations that used to abort it, hang it or pass a broken file for a
// result: folders and names of any bytes under any locale, an encoder killed part-way, a clip
// that never yields data, and a stop during the up-front check of many clips.

#include "JoinTestSupport.h"
#include "MediaTools.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>

#include <cstring>

namespace quilmer {
namespace {

using namespace quilmer::testing;
using Clock = std::chrono::steady_clock;

const std::string kProgram = QUILMER_PROGRAM_DIR "/quilmer-join";

// The environment of a child: ours without `unset`, with `set` ("NAME=value") added.
std::vector<std::string> Environment(const std::vector<std::string>& set, const std::vector<std::string>& unset) {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        std::string entry = *e;
        std::string name = entry.substr(0, entry.find('='));
        bool drop = std::find(unset.begin(), unset.end(), name) != unset.end();
        for (const auto& s : set) drop = drop || s.substr(0, s.find('=')) == name;
        if (!drop) env.push_back(entry);
    }
    env.insert(env.end(), set.begin(), set.end());
    return env;
}

// quilmer-join started in the background, its output (both streams) into `log`. These cases
// are about the classic join through the adapter, so they ask for it.
pid_t Start(const std::vector<std::string>& args, const std::vector<std::string>& env, const std::string& log) {
    std::vector<std::string> all = {kProgram, "--method", "classic"};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv, envp;
    for (auto& a : all) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    for (auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

// The exit status (128 + n for death by signal n), or -1 when it has not ended within the limit
// (it is then killed, so that a failing test leaves nothing behind).
int WaitExit(pid_t pid, std::chrono::seconds limit) {
    auto end = Clock::now() + limit;
    int status = 0;
    while (Clock::now() < end) {
        pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
}

int RunJoin(const std::vector<std::string>& args, const std::vector<std::string>& env, const std::string& log) {
    pid_t pid = Start(args, env, log);
    return pid < 0 ? -1 : WaitExit(pid, std::chrono::seconds(240));
}

std::vector<std::string> Names(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename().native());
    std::sort(names.begin(), names.end());
    return names;
}

void WriteScript(const std::string& path, const std::string& body) {
    WriteFile(path, "#!/bin/bash\n" + body);
    chmod(path.c_str(), 0755);
}

class QuilmerJoinFaultsTest : public ::testing::Test {
protected:
    ScratchFolder dir{"quilmer-join-faults"};
    ScratchFolder aside{"quilmer-join-aside"};  // logs and wrapper scripts, out of dir's listing

    void SetUp() override {
        ASSERT_EQ(access(kProgram.c_str(), X_OK), 0);
        ASSERT_EQ(access(QUILMER_PROGRAM_DIR "/ffmpeg", X_OK), 0);
        if (!HaveProgram("ffmpeg")) GTEST_SKIP() << "needs the system's ffmpeg";
    }

    std::string Log() const { return ReadFile(aside.Native("log")); }
};

TEST_F(QuilmerJoinFaultsTest, FoldersAndNamesOfAnyBytesJoinUnderAnyLocale) {
    ASSERT_TRUE(MakeClip(aside.Native("a.flv"), 1, "160x120", "25", {"-c:v", "flv1"}, 44100, 1, {"-c:a", "libmp3lame"}));
    ASSERT_TRUE(MakeClip(dir.Native("b.wmv"), 1, "176x144", "15", {"-c:v", "wmv2"}, 22050, 1, {"-c:a", "wmav2"}));
    const std::vector<std::string> folders = {"Vid\xC3\xA9os \xE8\xA7\x86\xE9\xA2\x91", "bad\xFF\xFE name"};
    struct Locale {
        const char* name;
        std::vector<std::string> set, unset;
    } locales[] = {
        {"LANG unset", {}, {"LANG", "LC_ALL", "LC_CTYPE", "LANGUAGE"}},
        {"C", {"LC_ALL=C"}, {}},
        {"C.UTF-8", {"LANG=C.UTF-8"}, {"LC_ALL", "LC_CTYPE"}},
    };
    for (const auto& folder : folders) {
        std::filesystem::create_directory(dir.Native(folder));
        // The clip's own name is odd too: a Latin-1 byte that is not UTF-8.
        const std::string clip = dir.Native(folder + "/clip \xE9.flv");
        std::filesystem::copy_file(aside.Native("a.flv"), clip);
        for (const auto& locale : locales) {
            SCOPED_TRACE(std::string(locale.name) + ", folder " + folder);
            auto env = Environment(locale.set, locale.unset);
            const std::string out = dir.Native(folder + "/out.mp4");
            int status = RunJoin({"-q", "-o", out, clip, dir.Native("b.wmv")}, env, aside.Native("log"));
            EXPECT_EQ(status, 0) << Log();
            EXPECT_NEAR(FileDuration(out), 2, 0.6);
            EXPECT_NE(Log().find(out), std::string::npos) << Log();  // the path is printed as its bytes
            // Nothing of the join is left beside the output.
            EXPECT_EQ(Names(dir.Native(folder)), (std::vector<std::string>{"clip \xE9.flv", "out.mp4"})) << Log();
            std::filesystem::remove(out);
        }
    }
    std::vector<std::string> expected = {"b.wmv", folders[0], folders[1]};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Names(dir.Native()), expected);
}

TEST_F(QuilmerJoinFaultsTest, ANonMediaClipWithANonAsciiNameIsRefusedNotAborted) {
    ASSERT_TRUE(MakeClip(dir.Native("a.flv"), 1, "160x120", "25", {"-c:v", "flv1"}, 44100, 1, {"-c:a", "libmp3lame"}));
    WriteFile(dir.Native("\xC3\x9Cn\xC3\xAF.txt"), "not a video at all");
    WriteFile(dir.Native("\xFF.txt"), "not a video either");
    for (const char* name : {"\xC3\x9Cn\xC3\xAF.txt", "\xFF.txt"}) {
        for (const auto& env : {Environment({}, {"LANG", "LC_ALL", "LC_CTYPE"}), Environment({"LANG=C.UTF-8"}, {"LC_ALL"})}) {
            int status = RunJoin({"-o", dir.Native("out.avi"), dir.Native("a.flv"), dir.Native(name)}, env, aside.Native("log"));
            EXPECT_EQ(status, 1) << Log();  // 134 was the abort
            EXPECT_NE(Log().find("not a video or audio file"), std::string::npos) << Log();
            EXPECT_NE(Log().find(dir.Native(name)), std::string::npos) << Log();
        }
    }
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"a.flv", "\xC3\x9Cn\xC3\xAF.txt", "\xFF.txt"}));
}

TEST_F(QuilmerJoinFaultsTest, AnEncoderKilledDuringTheFinalEncodeFailsTheJoin) {
    ASSERT_TRUE(MakeClip(dir.Native("a.flv"), 6, "320x240", "25", {"-c:v", "flv1"}, 44100, 2, {"-c:a", "libmp3lame"}));
    ASSERT_TRUE(MakeClip(dir.Native("b.flv"), 6, "320x240", "25", {"-c:v", "flv1"}, 44100, 2, {"-c:a", "libmp3lame"}));
    // The final encode writes the ".partial" output: that run of the real encoder dies after 0.4 s
    // (and so does whatever ran it, should the encoder have finished first).
    WriteScript(aside.Native("killer"), "case \"$*\" in *.partial.*)\n"
                                        "  /usr/bin/ffmpeg \"$@\" & child=$!\n"
                                        "  sleep 0.4; kill -9 $child 2>/dev/null; wait $child; kill -9 $$ ;;\n"
                                        "esac\n"
                                        "exec /usr/bin/ffmpeg \"$@\"\n");
    for (const char* out : {"out.avi", "out.mp4"}) {
        SCOPED_TRACE(out);
        int status = RunJoin({"-o", dir.Native(out), dir.Native("a.flv"), dir.Native("b.flv")},
                         Environment({"QUILMER_REAL_FFMPEG=" + aside.Native("killer")}, {}), aside.Native("log"));
        EXPECT_EQ(status, 1) << Log();
        EXPECT_NE(Log().find("killed by signal 9"), std::string::npos) << Log();
        EXPECT_EQ(Log().find("format:"), std::string::npos) << Log();  // no result is shown
        // The partial output, the intermediates, the "_all" file and the working folder are gone.
        EXPECT_EQ(dir.List(), (std::vector<std::string>{"a.flv", "b.flv"})) << Log();
    }
}

class FifoClipTest : public QuilmerJoinFaultsTest {
protected:
    void SetUp() override {
        QuilmerJoinFaultsTest::SetUp();
        if (IsSkipped()) return;
        ASSERT_TRUE(MakeClip(dir.Native("a.flv"), 1, "160x120", "25", {"-c:v", "flv1"}, 44100, 1, {"-c:a", "libmp3lame"}));
        ASSERT_EQ(mkfifo(dir.Native("stalled.flv").c_str(), 0600), 0);
    }

    // quilmer-join, the adapter and the real encoder all waiting on the pipe that never yields data.
    pid_t StartStuck() {
        pid_t pid = Start({"-o", dir.Native("out.avi"), dir.Native("a.flv"), dir.Native("stalled.flv")},
                          Environment({}, {}), aside.Native("log"));
        bool stuck = WaitFor([&] { return ProcessesMentioning(dir.Native("stalled.flv")).size() >= 3; }, {},
                             std::chrono::seconds(20));
        EXPECT_TRUE(stuck) << "the probe of the named pipe never started";
        return pid;
    }

    bool NothingLeftRunning() {
        return WaitFor([&] { return ProcessesMentioning(dir.Native()).empty(); }, {}, std::chrono::seconds(10));
    }
};

TEST_F(FifoClipTest, SigtermEndsAJoinStuckOnAClipThatNeverYieldsData) {
    pid_t pid = StartStuck();
    ASSERT_GT(pid, 0);
    kill(pid, SIGTERM);
    EXPECT_EQ(WaitExit(pid, std::chrono::seconds(20)), 128 + SIGTERM) << Log();
    EXPECT_TRUE(NothingLeftRunning());
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"a.flv", "stalled.flv"}));
}

TEST_F(FifoClipTest, TheAdapterAndTheEncoderDieWithAKilledJoiner) {
    pid_t pid = StartStuck();
    ASSERT_GT(pid, 0);
    kill(pid, SIGKILL);
    EXPECT_EQ(WaitExit(pid, std::chrono::seconds(20)), 128 + SIGKILL);
    EXPECT_TRUE(NothingLeftRunning()) << ProcessesMentioning(dir.Native()).size() << " left";
}

TEST_F(QuilmerJoinFaultsTest, CtrlCDuringTheCheckOfEightyClipsStopsAtOnce) {
    ASSERT_TRUE(MakeClip(aside.Native("a.flv"), 1, "160x120", "25", {"-c:v", "flv1"}, 44100, 1, {"-c:a", "libmp3lame"}));
    std::vector<std::string> args = {"-o", dir.Native("out.avi")};
    std::vector<std::string> names;
    for (int i = 0; i < 80; ++i) {
        names.push_back("clip-" + std::to_string(100 + i) + ".flv");
        std::filesystem::copy_file(aside.Native("a.flv"), dir.Native(names.back()));
        args.push_back(dir.Native(names.back()));
    }
    std::sort(names.begin(), names.end());
    // Every file takes half a second to read: checking all 80 would take 40 s, however they are
    // grouped into encoder starts.
    WriteScript(aside.Native("slow"), "n=0; for a in \"$@\"; do [ \"$a\" = -i ] && n=$((n + 1)); done\n"
                                      "sleep $((n / 2)).$(((n % 2) * 5))\n"
                                      "exec /usr/bin/ffmpeg \"$@\"\n");
    auto start = Clock::now();
    pid_t pid = Start(args, Environment({"QUILMER_REAL_FFMPEG=" + aside.Native("slow")}, {}), aside.Native("log"));
    ASSERT_GT(pid, 0);
    // The check is under way once the adapter runs for one of the clips.
    ASSERT_TRUE(WaitFor([&] { return ProcessesMentioning(dir.Native("clip-")).size() >= 2; }, {},
                        std::chrono::seconds(20)));
    kill(pid, SIGINT);
    EXPECT_EQ(WaitExit(pid, std::chrono::seconds(30)), 128 + SIGINT) << Log();
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(35));  // far below the 40 s a full check takes
    EXPECT_TRUE(WaitFor([&] { return ProcessesMentioning(dir.Native()).empty(); }, {}, std::chrono::seconds(10)));
    EXPECT_EQ(dir.List(), names);
}

TEST_F(QuilmerJoinFaultsTest, ClipsAreProbedOnceAndManyWithOneEncoderStart) {
    std::vector<std::string> args = {"-o", dir.Native("out.flv")};
    for (const char* name : {"a.flv", "b.flv", "c.flv"}) {
        ASSERT_TRUE(MakeClip(dir.Native(name), 1, "160x120", "25", {"-c:v", "flv1"}, 22050, 1, {"-c:a", "libmp3lame"}));
        args.push_back(dir.Native(name));
    }
    // Logs every start of the real encoder; a probe is the only run without "-y".
    WriteScript(aside.Native("logger"), "echo \"$*\" >> '" + aside.Native("starts") + "'\nexec /usr/bin/ffmpeg \"$@\"\n");
    int status = RunJoin(args, Environment({"QUILMER_REAL_FFMPEG=" + aside.Native("logger")}, {}), aside.Native("log"));
    ASSERT_EQ(status, 0) << Log();
    std::istringstream starts(ReadFile(aside.Native("starts")));
    std::vector<std::string> probes;
    for (std::string line; std::getline(starts, line);)
        // (the one-packet look at a clip's first picture before its conversion is no probe)
        if (line.find(" -y ") == std::string::npos && line.find("-f framecrc") == std::string::npos)
            probes.push_back(line);
    // One start reads the three clips; the only other probe is the check of the result.
    ASSERT_EQ(probes.size(), 2u) << ReadFile(aside.Native("starts"));
    EXPECT_NE(probes[0].find("a.flv -i " + dir.Native("b.flv") + " -i " + dir.Native("c.flv")), std::string::npos)
        << probes[0];
    EXPECT_NE(probes[1].find("out.partial.flv"), std::string::npos) << probes[1];
}

}  // namespace
}  // namespace quilmer
