// What a join does to the user's files: an existing output is replaced only by a complete new
// one, a full disk is named as such, a second join into the same output is refused, and names of
// any length the file system allows work.

#include <gtest/gtest.h>

#include <algorithm>
#include <sys/stat.h>
#include <sys/wait.h>

#include <atomic>
#include <mutex>
#include <set>

#include "JoinTestSupport.h"
#include "foundation/ManualEventLoop.h"
#include "media/WindowsCommandLine.h"
#include "media/join/JoinPipeline.h"

namespace quilmer {
namespace {

using testing::ReadFile;
using testing::ScratchFolder;
using testing::WaitFor;
using testing::WriteFile;

// A stand-in encoder: conversions write "[clip]", final encodes copy their input. Chosen runs
// may say the disk is full (after writing half their output) or wait for a stop.
class FakeEncoder final : public JoinMedia {
public:
    std::set<int> diskFullRuns;  // run indexes
    std::atomic<int> holdRun{-1};
    std::atomic<bool> holding{false};

    bool Probe(const std::wstring& path, ClipProperties& properties, CancelFlag&) override {
        properties.Clear();
        properties.path = path;
        if (!FileExists(path)) return false;
        properties.frameRate = L"25 fps";
        // Every clip lasts a second, and a result a second for each clip it holds ("[A][B]").
        const std::string content = ReadFile(NativePath(path));
        const long held = std::count(content.begin(), content.end(), '[');
        properties.duration = L"00:00:0" + std::to_wstring(std::max(1L, held)) + L".00";
        properties.sampleRate = L"44100 Hz";
        return true;
    }

    std::optional<MediaInfo> LookInside(const std::wstring&, CancelFlag&) override { return std::nullopt; }

    EncoderExit Run(const std::wstring&, const std::wstring& commandLine, const ChunkHandler& onChunk,
                    CancelFlag& cancel) override {
        EncoderExit exit;
        exit.started = true;
        std::vector<std::wstring> args = SplitWindowsCommandLine(commandLine);
        int index;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            index = static_cast<int>(outputs_.size());
            outputs_.push_back(args.back());
        }
        std::wstring input;
        for (std::size_t i = 0; i + 1 < args.size(); ++i)
            if (args[i] == L"-i") input = args[i + 1];
        const bool conversion = args.size() > 1 && args[1] == L"-i";
        std::string content = ReadFile(NativePath(input));
        if (conversion) content = "[" + content + "]";
        const std::string output = NativePath(args.back());
        if (diskFullRuns.count(index)) {
            WriteFile(output, content.substr(0, content.size() / 2));
            onChunk("frame=    5 fps=0.0 q=2.0 size=       1kB time=00:00:00.20\n");
            onChunk("av_interleaved_write_frame(): No space left on device\n");
            onChunk("Error writing trailer of " + output + ": No space left on device\n");
            exit.exitCode = 1;  // as ffmpeg does when it cannot write
            return exit;
        }
        if (index == holdRun) {
            WriteFile(output, content.substr(0, content.size() / 2));
            holding = true;
            while (!cancel.IsRequested()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            holding = false;
            exit.stoppedByUs = true;
            return exit;
        }
        WriteFile(output, content);
        exit.exitCode = 0;
        return exit;
    }

    std::vector<std::wstring> Outputs() {
        std::lock_guard<std::mutex> lock(mutex_);
        return outputs_;
    }

private:
    std::mutex mutex_;
    std::vector<std::wstring> outputs_;
};

class Outcome final : public JoinView {
public:
    int results = 0, failures = 0;
    std::wstring detail;
    std::vector<std::wstring> leftOut;
    void SetProgress(int) override {}
    void SetJoining(bool) override {}
    void ShowResult(const ClipProperties&, bool) override { ++results; }
    void ShowFailure(const std::wstring&, const std::wstring&, const std::wstring& why) override {
        ++failures;
        detail = why;
    }
    void ClipLeftOut(const std::wstring& clip) override { leftOut.push_back(clip); }
};

class OutputSafetyTest : public ::testing::Test {
protected:
    ScratchFolder dir{"join-safety"};
    ScratchFolder program{"join-safety-program"};
    ManualEventLoop loop;
    FakeEncoder encoder;
    Outcome view;
    std::unique_ptr<JoinPipeline> pipeline =
        std::make_unique<JoinPipeline>(loop, view, encoder, program.Wide());

    std::vector<std::wstring> Clips(int count) {
        std::vector<std::wstring> clips;
        for (int i = 0; i < count; ++i) {
            std::string name = std::string(1, static_cast<char>('a' + i)) + ".flv";
            WriteFile(dir.Native(name), std::string(1, static_cast<char>('A' + i)));
            clips.push_back(dir.Wide(name));
        }
        return clips;
    }
    bool RunToEnd() {
        return WaitFor([&] { return view.results + view.failures > 0; }, [&] { loop.RunPending(); });
    }
};

TEST_F(OutputSafetyTest, CompleteResultReplacesTheOldFileInOneRename) {
    WriteFile(dir.Native("out.avi"), "old");
    // A second name of the old file: a rename leaves it alone, writing into the old file would not.
    ASSERT_EQ(link(dir.Native("out.avi").c_str(), dir.Native("old link").c_str()), 0);
    ASSERT_EQ(pipeline->StartJoin(Clips(2), dir.Wide("out.avi")), L"");
    ASSERT_TRUE(RunToEnd());
    EXPECT_EQ(view.results, 1) << NativePath(view.detail);
    EXPECT_EQ(ReadFile(dir.Native("out.avi")), "[A][B]");
    EXPECT_EQ(ReadFile(dir.Native("old link")), "old");
    EXPECT_EQ(encoder.Outputs().back(), dir.Wide("out.partial.avi"));
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"a.flv", "b.flv", "old link", "out.avi"}));
}

TEST_F(OutputSafetyTest, FullDiskInTheFinalEncodeKeepsTheOldFileAndSaysSo) {
    WriteFile(dir.Native("out.avi"), "old");
    encoder.diskFullRuns = {2};
    ASSERT_EQ(pipeline->StartJoin(Clips(2), dir.Wide("out.avi")), L"");
    ASSERT_TRUE(RunToEnd());
    EXPECT_EQ(view.results, 0);
    EXPECT_NE(view.detail.find(L"No space left on device"), std::wstring::npos) << NativePath(view.detail);
    EXPECT_EQ(ReadFile(dir.Native("out.avi")), "old");
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"a.flv", "b.flv", "out.avi"}));
}

TEST_F(OutputSafetyTest, FullDiskInAConversionIsNotBlamedOnTheClipAndEndsTheJoin) {
    encoder.diskFullRuns = {1};
    ASSERT_EQ(pipeline->StartJoin(Clips(4), dir.Wide("out.flv")), L"");
    ASSERT_TRUE(RunToEnd());
    EXPECT_TRUE(view.leftOut.empty());
    EXPECT_NE(view.detail.find(L"No space left on device"), std::wstring::npos) << NativePath(view.detail);
    EXPECT_NE(view.detail.find(dir.Wide()), std::wstring::npos) << "names the place that is full";
    EXPECT_EQ(encoder.Outputs().size(), 2u) << "nothing more is tried on a full disk";
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"a.flv", "b.flv", "c.flv", "d.flv"}));
}

TEST_F(OutputSafetyTest, StopInTheFinalEncodeKeepsTheOldFile) {
    WriteFile(dir.Native("out.mp4"), "old");
    encoder.holdRun = 3;  // the second pass
    ASSERT_EQ(pipeline->StartJoin(Clips(2), dir.Wide("out.mp4")), L"");
    ASSERT_TRUE(WaitFor([&] { return encoder.holding.load(); }, [&] { loop.RunPending(); }));
    pipeline->StopJoin();
    EXPECT_EQ(ReadFile(dir.Native("out.mp4")), "old");
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"a.flv", "b.flv", "out.mp4"}));
}

TEST_F(OutputSafetyTest, ASecondJoinIntoTheSameOutputIsRefusedWhileTheFirstRuns) {
    auto clips = Clips(2);
    encoder.holdRun = 0;
    ASSERT_EQ(pipeline->StartJoin(clips, dir.Wide("out.flv")), L"");
    ASSERT_TRUE(WaitFor([&] { return encoder.holding.load(); }, [&] { loop.RunPending(); }));

    ManualEventLoop otherLoop;
    FakeEncoder otherEncoder;
    Outcome otherView;
    JoinPipeline other(otherLoop, otherView, otherEncoder, program.Wide());
    std::wstring refusal = other.StartJoin(clips, dir.Wide("./out.flv"));
    EXPECT_NE(refusal.find(L"Another join is writing this output file"), std::wstring::npos)
        << NativePath(refusal);
    EXPECT_TRUE(otherEncoder.Outputs().empty());
    // The lock is on the output, not on the program.
    EXPECT_EQ(other.StartJoin(clips, dir.Wide("other.flv")), L"");
    other.StopJoin();

    pipeline->StopJoin();
    EXPECT_EQ(other.StartJoin(clips, dir.Wide("out.flv")), L"") << "free again once the first one ended";
    other.StopJoin();
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"a.flv", "b.flv"}));
}

TEST_F(OutputSafetyTest, ClipNamesOfAnyLengthTheFileSystemAllowsJoin) {
    // 255 bytes, two of them per letter: no room for "_all.qjv" after the clip's title.
    std::string longName;
    while (longName.size() < 251) longName += "\xc3\xa9";
    longName = longName.substr(0, 250) + "x.flv";
    ASSERT_EQ(longName.size(), 255u);
    WriteFile(dir.Native(longName), "L");
    std::vector<std::wstring> clips = {dir.Wide(longName), dir.Wide(longName)};
    std::string longOutput = std::string(251, 'o') + ".flv";
    ASSERT_EQ(pipeline->StartJoin(clips, dir.Wide(longOutput)), L"");
    ASSERT_TRUE(RunToEnd());
    EXPECT_EQ(view.results, 1) << NativePath(view.detail);
    EXPECT_EQ(ReadFile(dir.Native(longOutput)), "[L][L]");
    std::set<std::wstring> names;
    for (const auto& output : encoder.Outputs()) {
        EXPECT_LE(NativePath(output.substr(output.rfind(L'/') + 1)).size(), 255u);
        names.insert(output);
    }
    EXPECT_EQ(names.size(), encoder.Outputs().size()) << "shortened names stay apart";
    EXPECT_EQ(dir.List().size(), 2u);

    std::wstring refusal = pipeline->StartJoin(clips, dir.Wide(std::string(252, 'o') + ".flv"));
    EXPECT_NE(refusal.find(L"too long"), std::wstring::npos) << NativePath(refusal);
}

TEST_F(OutputSafetyTest, OutputsNobodyCanWriteAreRefusedBeforeAnyWorkWithTheRealCause) {
    std::wstring refusal = pipeline->StartJoin(Clips(2), L"/proc/out.flv");
    EXPECT_NE(refusal.find(L"/proc/"), std::wstring::npos) << NativePath(refusal);
    EXPECT_NE(refusal.find(L"cannot be written"), std::wstring::npos) << NativePath(refusal);
    EXPECT_TRUE(encoder.Outputs().empty());
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"a.flv", "b.flv"}));
}

TEST(ClipReadable, SaysWhyAClipCannotBeRead) {
    ScratchFolder dir("clip-readable");
    WriteFile(dir.Native("inner/clip.flv"), "x");
    EXPECT_EQ(CheckClipReadable(dir.Wide("inner/clip.flv")), L"");
    EXPECT_EQ(CheckClipReadable(dir.Wide("missing.flv")), L"No such file or directory");
    EXPECT_EQ(CheckClipReadable(dir.Wide("inner")), L"Is a directory");
    if (geteuid() != 0) GTEST_SKIP() << "the permission case needs to drop from root to another user";
    // A folder another user may not enter: the clip is there, but cannot be reached.
    ASSERT_EQ(chmod(dir.Native("inner").c_str(), 0700), 0);
    ASSERT_EQ(chmod(dir.Native().c_str(), 0755), 0);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        bool dropped = setgid(65534) == 0 && setuid(65534) == 0;
        std::string why = dropped ? NativePath(CheckClipReadable(dir.Wide("inner/clip.flv"))) : "cannot drop";
        ssize_t ignored = write(fds[1], why.data(), why.size());
        (void)ignored;
        _exit(0);
    }
    close(fds[1]);
    std::string said;
    char buffer[256];
    for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;)
        said.append(buffer, static_cast<std::size_t>(n));
    close(fds[0]);
    waitpid(child, nullptr, 0);
    EXPECT_EQ(said, "Permission denied");
}

}  // namespace
}  // namespace quilmer
