// Real clips through the adapter: every input type is probed and converted to an intermediate,
// the intermediates are joined byte for byte, and the join is encoded into every target format.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <atomic>
#include <thread>

#include "foundation/AppFolders.h"
#include "media/CancelFlag.h"
#include "media/ClipProbe.h"
#include "media/EncoderCommands.h"
#include "media/EncoderRunner.h"
#include "media/Progress.h"
#include "media/TargetFormat.h"
#include "media/WindowsCommandLine.h"
#include "tests/join/MediaTools.h"
#include "tests/support/ScratchFolder.h"
#include "tests/support/TestSupport.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>

#include <condition_variable>
#include <mutex>

namespace quilmer {
namespace {

namespace fs = std::filesystem;

const std::wstring kProgramFolder = std::wstring(L"" QUILMER_PROGRAM_DIR) + L"/";
const std::wstring kAdapter = kProgramFolder + L"ffmpeg";
const std::string kRealEncoder = "/usr/bin/ffmpeg";
const std::string kRealProbe = "/usr/bin/ffprobe";

std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

// Runs a real tool with the given arguments; returns its exit-independent output.
std::string RunTool(const std::string& program, const std::vector<std::string>& args) {
    std::vector<std::wstring> wide = {Wide(program)};
    for (const auto& a : args) wide.push_back(Wide(a));
    std::string out;
    RunEncoder(
        L"", JoinWindowsCommandLine(wide),
        [&](std::string& acc, std::string& chunk) {
            acc += chunk;
            return true;
        },
        [&](std::string& acc) {
            out = acc;
            return true;
        });
    return out;
}

struct ClipSpec {
    std::string extension;
    std::string recipe;  // ffmpeg output options; "V" and "A" inputs are added as needed
    bool video, audio;
    std::string size;
    std::string rate;  // video frame rate
    int sampleRate;
    // What the probe must find.
    std::wstring format, videoCodec, audioCodec, frameRate;
};

const std::vector<ClipSpec>& Clips() {
    static const std::vector<ClipSpec> clips = {
        {"flv", "-c:v flv -c:a libmp3lame -f flv", true, true, "160x120", "25", 44100, L"flv", L"flv1",
         L"mp3", L"25 fps"},
        {"f4v", "-c:v libx264 -pix_fmt yuv420p -c:a aac -f flv", true, true, "160x120", "25", 48000, L"f4v",
         L"h264", L"aac", L"25 fps"},
        {"hlv", "-c:v flv -c:a libmp3lame -f flv", true, true, "160x120", "25", 22050, L"flv", L"flv1",
         L"mp3", L"25 fps"},
        {"flx", "-c:v flv -c:a libmp3lame -f flv", true, true, "160x120", "20", 11025, L"flv", L"flv1",
         L"mp3", L"20 fps"},
        {"fmv", "-c:v flv -c:a libmp3lame -f flv", true, true, "160x120", "15", 44100, L"flv", L"flv1",
         L"mp3", L"15 fps"},
        {"rmvb", "-c:v rv20 -c:a ac3 -f rm", true, true, "160x128", "25", 48000, L"rmvb", L"rv20", L"ac3",
         L"25 fps"},
        {"rm", "-c:v rv10 -c:a ac3 -f rm", true, true, "160x112", "25", 44100, L"rmvb", L"rv10", L"ac3",
         L"25 fps"},
        {"mp4", "-c:v libx264 -pix_fmt yuv420p -c:a aac -f mp4", true, true, "160x120", "30000/1001", 48000,
         L"mp4", L"h264", L"aac", L"29.97 fps"},
        {"3gp", "-c:v h263 -c:a aac -ac 1 -f 3gp", true, true, "176x144", "15", 8000, L"mp4", L"h263", L"aac",
         L"15 fps"},
        {"mov", "-c:v mpeg4 -c:a pcm_s16le -f mov", true, true, "160x120", "25", 32000, L"mp4", L"mpeg4",
         L"pcm_s16le", L"25 fps"},
        {"avi", "-c:v mpeg4 -f avi", true, false, "160x120", "15", 0, L"avi", L"mpeg4", L"", L"15 fps"},
        {"wmv", "-c:v wmv2 -c:a wmav2 -f asf", true, true, "160x120", "25", 22050, L"wmv", L"wmv2", L"wmav2",
         L"25 fps"},
        {"wma", "-c:a wmav2 -f asf", false, true, "", "", 44100, L"wmv", L"", L"wmav2", L""},
        {"asf", "-c:v msmpeg4 -c:a wmav1 -f asf", true, true, "160x120", "25", 22050, L"wmv", L"msmpeg4v3",
         L"wmav1", L"25 fps"},
    };
    return clips;
}

constexpr double kClipSeconds = 2.0;

struct StreamSpan {
    double start = 0, end = 0;
    bool present = false;
    double Length() const { return end - start; }
};

// First and last moment of one stream, from its packets (works for containers without durations).
StreamSpan Span(const fs::path& file, const char* stream) {
    std::string out = RunTool(kRealProbe, {"-v", "error", "-select_streams", stream, "-show_entries",
                                           "packet=pts_time,duration_time", "-of", "csv=p=0", file.string()});
    StreamSpan span;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        double pts = 0, duration = 0;
        if (std::sscanf(line.c_str(), "%lf,%lf", &pts, &duration) < 1) continue;
        if (!span.present) span.start = span.end = pts;
        span.present = true;
        span.start = std::min(span.start, pts);
        span.end = std::max(span.end, pts + duration);
    }
    return span;
}

// Seconds of one stream as far as it really decodes (headers of real clips may say otherwise).
double DecodedLength(const fs::path& file, const char* stream) {
    std::string out = RunTool(kRealEncoder, {"-nostdin", "-v", "error", "-stats", "-i", file.string(), "-map",
                                             std::string("0:") + stream, "-f", "null", "-"});
    std::size_t at = out.rfind("time=");
    int h = 0, m = 0;
    double s = 0;
    if (at == std::string::npos || std::sscanf(out.c_str() + at, "time=%d:%d:%lf", &h, &m, &s) != 3)
        return -1;
    return h * 3600 + m * 60 + s;
}

// What the synthesised clips depend on: their recipes, the real encoder that makes them and the
// adapter that probes them. A change to any of these makes a new set instead of reusing a stale one.
std::string ClipSetKey() {
    std::string text = std::to_string(kClipSeconds);
    for (const ClipSpec& c : Clips()) text += "|" + c.extension + " " + c.recipe + " " + c.size + " " + c.rate + " " +
                                              std::to_string(c.sampleRate);
    for (const std::string& program : {kRealEncoder, std::string(QUILMER_PROGRAM_DIR "/ffmpeg")}) {
        std::ifstream in(program, std::ios::binary);
        text += "|" + std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    char key[32];
    std::snprintf(key, sizeof key, "%016zx", std::hash<std::string>{}(text));
    return key;
}

// The last position the engine's parser reads in a run's output, taken line by line. The counters
// see the output as it was read, and a busy machine may deliver the whole run in one read (whose
// first position is then the one counted), so the adapter's report is checked here instead.
std::int64_t LastPosition(const std::string& log) {
    std::int64_t last = -1;
    std::size_t begin = 0;
    while (begin < log.size()) {
        std::size_t end = log.find_first_of("\r\n", begin);
        if (end == std::string::npos) end = log.size();
        ProgressReading reading = ParseProgress(std::string_view(log).substr(begin, end - begin));
        if (reading.doneSeconds) last = *reading.doneSeconds;
        begin = end + 1;
    }
    return last;
}

class ClipPipelineTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // The engine finds the adapter and its presets in the program folder.
        programFolderBefore_ = AppFolders::Instance().ProgramFolder();
        AppFolders::OverrideProgramFolder(kProgramFolder);
        scratch_ = new quilmer::test::ScratchFolder("quilmer pipeline");
        dir_ = scratch_->Path();
        fs::create_directories(dir_ / "out dir");
        // CTest runs every case in a process of its own, so the synthesised clips are made once
        // per build tree and clip set: in a private folder first, then moved into place in one
        // rename. Sets of other keys are stale and removed.
        const fs::path cache = fs::path(QUILMER_PROGRAM_DIR).parent_path() / "tests";
        clips_ = cache / ("media-clips-" + ClipSetKey());
        std::error_code ignored;
        for (const auto& entry : fs::directory_iterator(cache, ignored)) {
            const std::string name = entry.path().filename().string();
            if (name.rfind("media-clips-", 0) == 0 && entry.path() != clips_) fs::remove_all(entry.path(), ignored);
        }
        if (fs::exists(clips_ / "complete")) return;
        const fs::path fresh = dir_ / "clips";
        fs::create_directories(fresh);
        for (const ClipSpec& c : Clips()) {
            std::vector<std::string> args = {"-hide_banner", "-nostdin", "-y", "-loglevel", "error"};
            const std::string d = std::to_string(kClipSeconds);
            if (c.video) {
                args.insert(args.end(),
                            {"-f", "lavfi", "-i", "testsrc=s=" + c.size + ":r=" + c.rate + ":d=" + d});
            }
            if (c.audio) {
                args.insert(args.end(), {"-f", "lavfi", "-i",
                                         "sine=f=440:r=" + std::to_string(c.sampleRate) + ":d=" + d});
            }
            std::istringstream recipe(c.recipe);
            for (std::string w; recipe >> w;) args.push_back(w);
            args.push_back((fresh / ("clip." + c.extension)).string());
            std::string log = RunTool(kRealEncoder, args);
            ASSERT_TRUE(fs::exists(fresh / ("clip." + c.extension))) << c.extension << ": " << log;
        }
        std::ofstream(fresh / "complete") << "all clips made\n";
        std::error_code error;
        fs::rename(fresh, clips_, error);  // fails harmlessly when another process got there first
        ASSERT_TRUE(fs::exists(clips_ / "complete"));
    }
    static void TearDownTestSuite() {
        delete scratch_;
        scratch_ = nullptr;
        AppFolders::OverrideProgramFolder(programFolderBefore_);
    }

    void SetUp() override {
        // The adapter this project builds is never optional.
        ASSERT_EQ(access(QUILMER_PROGRAM_DIR "/ffmpeg", X_OK), 0) << "the encoder adapter was not built";
        ASSERT_TRUE(fs::exists(clips_ / "complete")) << "the clips could not be made";
    }

    static fs::path Clip(const std::string& extension) { return clips_ / ("clip." + extension); }

    // Runs one encoder command through the adapter, feeding progress as the engine does.
    static bool RunWithProgress(const std::wstring& workingFolder, const std::wstring& commandLine,
                                JoinPhase phase, ProgressCounters& counters, std::string* log = nullptr) {
        return RunEncoder(
            workingFolder, commandLine,
            [&](std::string& acc, std::string& chunk) {
                counters.Apply(phase, ParseProgress(chunk));
                if (log != nullptr) acc += chunk;
                return true;
            },
            [&](std::string& acc) {
                if (log != nullptr) *log = acc;
                return true;
            });
    }

    static quilmer::test::ScratchFolder* scratch_;
    static std::wstring programFolderBefore_;
    static fs::path dir_;
    static fs::path clips_;
};

quilmer::test::ScratchFolder* ClipPipelineTest::scratch_ = nullptr;
std::wstring ClipPipelineTest::programFolderBefore_;
fs::path ClipPipelineTest::dir_;
fs::path ClipPipelineTest::clips_;

TEST_F(ClipPipelineTest, EveryInputTypeIsProbedRight) {
    for (const ClipSpec& c : Clips()) {
        SCOPED_TRACE(c.extension);
        ClipProperties p;
        ASSERT_TRUE(ProbeClip(Clip(c.extension).wstring(), p, kAdapter));
        EXPECT_EQ(p.path, Clip(c.extension).wstring());
        EXPECT_EQ(p.format, c.format);
        EXPECT_EQ(p.videoCodec, c.videoCodec);
        EXPECT_EQ(p.audioCodec, c.audioCodec);
        EXPECT_EQ(p.frameRate, c.frameRate);
        EXPECT_EQ(p.resolution, c.video ? Wide(c.size) + L" pixels" : L"");
        EXPECT_EQ(p.sampleRate, c.audio ? std::to_wstring(c.sampleRate) + L" Hz" : L"");
        if (c.audio) {
            EXPECT_FALSE(p.audioBitrate.empty());
        }
        EXPECT_EQ(p.duration.substr(0, 7), L"00:00:0");
        EXPECT_FALSE(p.bitrate.empty());
    }
}

TEST_F(ClipPipelineTest, UnreadableAndMissingInputsFailTheProbe) {
    // A folder of its own, so that what other cases leave in the scratch folder does not count.
    fs::create_directories(dir_ / "probe");
    const fs::path junk = dir_ / "probe" / "junk.flv";
    std::ofstream(junk) << "not a video at all";
    ClipProperties p;
    EXPECT_FALSE(ProbeClip(junk.wstring(), p, kAdapter));
    EXPECT_EQ(p.path, junk.wstring());
    EXPECT_EQ(p.format, L"");
    EXPECT_FALSE(ProbeWithFallback(junk.wstring(), p, kAdapter));
    EXPECT_EQ(p.path, junk.wstring());
    // The retry's temporary copy is gone again.
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir_ / "probe")) ++files;
    EXPECT_EQ(files, 1u) << "a copy was left beside the clip";

    ClipProperties untouched;
    untouched.format = L"kept";
    EXPECT_FALSE(ProbeClip((dir_ / "probe" / "missing.flv").wstring(), untouched, kAdapter));
    EXPECT_EQ(untouched.format, L"kept");
    EXPECT_FALSE(ProbeClip(Clip("flv").wstring(), p, L"/no/such/encoder"));
}

TEST_F(ClipPipelineTest, ClipsJoinIntoEveryTargetFormat) {
    // Each clip becomes an intermediate with one video and one audio stream of the same audio
    // parameters, whatever it held.
    std::vector<fs::path> intermediates;
    ProgressCounters counters;
    double expected = 0;
    for (const ClipSpec& c : Clips()) {
        SCOPED_TRACE(c.extension);
        ClipProperties p;
        ASSERT_TRUE(ProbeClip(Clip(c.extension).wstring(), p, kAdapter));
        const fs::path intermediate = dir_ / "out dir" / (c.extension + ".qjv");
        counters.ResetStep();
        std::string log;
        ASSERT_FALSE(fs::exists(intermediate));
        ASSERT_TRUE(RunWithProgress(L"",
                                    ConversionCommandLine(kAdapter, Clip(c.extension).wstring(),
                                                          intermediate.wstring(), FrameRateFromProbe(p)),
                                    JoinPhase::Converting, counters, &log));
        ASSERT_TRUE(fs::exists(intermediate)) << log;
        EXPECT_EQ(counters.Snapshot().totalSeconds, 2);
        EXPECT_GE(LastPosition(log), 1) << log;
        EXPECT_LE(counters.Snapshot().doneSeconds, 3) << log;
        StreamSpan v = Span(intermediate, "v:0"), a = Span(intermediate, "a:0");
        EXPECT_TRUE(v.present && a.present);
        EXPECT_NEAR(v.Length(), kClipSeconds, 0.25);
        EXPECT_NEAR(a.Length(), kClipSeconds, 0.25);
        expected += kClipSeconds;
        intermediates.push_back(intermediate);
    }
    EXPECT_EQ(counters.SumSeconds(), 2 * static_cast<std::int64_t>(Clips().size()));

    // Real clips of other sizes and rates, with sound and picture of slightly different lengths.
    // The samples folder beside the checkout may be absent on a developer's machine (the join is
    // then of the synthesised clips alone); when it is there, every clip named here must be too.
    const fs::path samples = fs::path(QUILMER_SHARED_DIR) / "media-samples";
    const bool haveSamples = fs::is_directory(samples);
    if (!haveSamples && quilmer::test::InCi()) FAIL() << "CI is set but the sample clips are missing: " << samples;
    if (!haveSamples) std::printf("note: no sample clips in %s; joining the synthesised clips only\n", samples.c_str());
    for (const char* name :
         {"3gp-apple-h263-amrnb.3gp", "flv-vp6f-mp3-barsandtone.flv", "wma-wmav2-wmfsdk10.wma"}) {
        if (!haveSamples) break;
        const fs::path clip = samples / name;
        ASSERT_TRUE(fs::exists(clip)) << clip;
        SCOPED_TRACE(name);
        ClipProperties p;
        ASSERT_TRUE(ProbeClip(clip.wstring(), p, kAdapter));
        const fs::path intermediate = dir_ / "out dir" / (clip.stem().string() + ".qjv");
        ASSERT_TRUE(RunWithProgress(
            L"",
            ConversionCommandLine(kAdapter, clip.wstring(), intermediate.wstring(), FrameRateFromProbe(p)),
            JoinPhase::Converting, counters));
        ASSERT_TRUE(fs::exists(intermediate));
        StreamSpan v = Span(intermediate, "v:0"), a = Span(intermediate, "a:0");
        // The intermediate keeps every second of the clip: sound that outlasts the picture is not cut.
        EXPECT_GE(a.end, v.end - 0.2) << "the clip's sound was cut at the end of its picture";
        expected += std::max(v.Length(), a.Length());
        intermediates.push_back(intermediate);
    }

    const fs::path concat = dir_ / "out dir" / "flv_all.qjv";
    {
        std::ofstream out(concat, std::ios::binary);
        for (const fs::path& f : intermediates) out << std::ifstream(f, std::ios::binary).rdbuf();
    }

    ClipProperties first;
    ASSERT_TRUE(ProbeClip(Clip("flv").wstring(), first, kAdapter));
    EXPECT_EQ(DefaultEncoderPath(), kAdapter);
    FinalEncodeInputs inputs{kAdapter,
                             concat.wstring(),
                             L"",
                             DefaultPass1PresetPath(),
                             DefaultPass2PresetPath(),
                             FinalEncodeParamsFromProbe(first)};
    EXPECT_TRUE(fs::exists(inputs.pass1Preset)) << "presets lie beside the adapter";

    for (const wchar_t* format : {L"avi", L"flv", L"rmvb", L"wmv", L"mp4"}) {
        SCOPED_TRACE(std::string(format, format + wcslen(format)));
        inputs.outputPath = (dir_ / "out dir" / (std::wstring(L"joined.") + format)).wstring();
        std::optional<JoinPhase> phase = FirstEncodePhase(format);
        ASSERT_TRUE(phase);
        std::wstring workingFolder;
        if (*phase == JoinPhase::EncodingMp4Pass1) {
            workingFolder = MakeMp4WorkingFolder(inputs.outputPath);
            ASSERT_FALSE(workingFolder.empty());
        }
        std::vector<JoinPhase> phases = {*phase};
        if (*phase == JoinPhase::EncodingMp4Pass1) phases.push_back(JoinPhase::EncodingMp4Pass2);
        for (JoinPhase step : phases) {
            // Each step must write the output itself: nothing of an earlier step is left to find.
            fs::remove(inputs.outputPath);
            counters.ResetStep();
            std::string log;
            ASSERT_TRUE(RunWithProgress(workingFolder, FinalEncodeCommandLine(step, inputs), step, counters, &log));
            ASSERT_TRUE(fs::exists(inputs.outputPath)) << log;
            ASSERT_GT(fs::file_size(inputs.outputPath), 0u) << log;
            // The step's length comes from the encoder's report of its input: the joined length.
            EXPECT_NEAR(static_cast<double>(counters.Snapshot().totalSeconds), expected, 1.0 + 0.02 * expected) << log;
            EXPECT_GE(static_cast<double>(LastPosition(log)), expected - 2.0) << log;
        }
        if (!workingFolder.empty()) fs::remove_all(workingFolder);

        const fs::path out(inputs.outputPath);
        EXPECT_EQ(TargetFormatForPath(out.wstring()), format);
        EXPECT_EQ(RunTool(kRealEncoder, {"-v", "error", "-i", out.string(), "-f", "null", "-"}), "")
            << "decodes without errors";
        StreamSpan v = Span(out, "v:0"), a = Span(out, "a:0");
        ASSERT_TRUE(v.present && a.present);
        const double tolerance = 0.5 + 0.02 * expected;
        std::printf("joined %-5ls expected %6.2f s  video %6.2f s  audio %6.2f s  ends apart %5.3f s\n",
                    format, expected, v.Length(), a.Length(), std::fabs(v.end - a.end));
        EXPECT_NEAR(v.Length(), expected, tolerance);
        EXPECT_NEAR(a.Length(), expected, tolerance);
        EXPECT_NEAR(v.end, a.end, 0.2) << "picture and sound end together";
        ClipProperties joined;
        EXPECT_TRUE(ProbeClip(out.wstring(), joined, kAdapter));
        EXPECT_FALSE(joined.resolution.empty());
    }
}

// Feeds a clip's first half through a named pipe and holds the pipe open until released, so
// that a conversion reading it cannot finish by itself.
class HeldInput {
public:
    HeldInput(const fs::path& fifo, const fs::path& clip) : fifo_(fifo) {
        ready_ = ::mkfifo(fifo.c_str(), 0600) == 0;
        if (!ready_) return;
        std::ifstream in(clip, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        writer_ = std::thread([this, half = bytes.substr(0, bytes.size() / 2)] {
            // A reader killed mid-write gives this thread EPIPE instead of the process SIGPIPE.
            sigset_t pipeSignal;
            sigemptyset(&pipeSignal);
            sigaddset(&pipeSignal, SIGPIPE);
            pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
            int fd = ::open(fifo_.c_str(), O_WRONLY | O_CLOEXEC);  // waits for the reader
            if (fd >= 0) {
                for (std::size_t done = 0; done < half.size();) {
                    ssize_t n = ::write(fd, half.data() + done, half.size() - done);
                    if (n <= 0) break;
                    done += static_cast<std::size_t>(n);
                }
            }
            std::unique_lock lock(mutex_);
            released_.wait(lock, [this] { return release_; });
            if (fd >= 0) ::close(fd);
        });
    }
    ~HeldInput() {
        Release();
        if (writer_.joinable()) writer_.join();
    }
    bool Ready() const { return ready_; }
    // Lets the reader see the end of its input; unblocks the writer's own open when nobody read.
    void Release() {
        {
            std::lock_guard lock(mutex_);
            if (release_) return;
            release_ = true;
        }
        released_.notify_all();
        int fd = ::open(fifo_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) ::close(fd);
    }

private:
    fs::path fifo_;
    bool ready_ = false;
    std::thread writer_;
    std::mutex mutex_;
    std::condition_variable released_;
    bool release_ = false;
};

TEST_F(ClipPipelineTest, StoppingAConversionEndsTheAdapterAndTheRealEncoder) {
    // The input never ends while the test holds it, so only the stop can end this conversion.
    const fs::path input = dir_ / "held input.flv";
    HeldInput held(input, Clip("flv"));
    ASSERT_TRUE(held.Ready());
    const fs::path intermediate = dir_ / "out dir" / "stopped.qjv";
    const std::string marker = input.string();
    auto processes = [&] { return quilmer::testing::ProcessesMentioning(marker).size(); };

    CancelFlag cancel;
    std::atomic<bool> stopSent{false}, sawBothRunning{false}, releasedByWatchdog{false};
    std::thread stopper([&] {
        // The adapter and the real encoder both run (both name the input) before the stop.
        sawBothRunning = quilmer::test::WaitUntil([&] { return processes() >= 2; }, std::chrono::seconds(60));
        stopSent = true;
        cancel.Request();
        // A stop that did not end the run: let the input end so the test fails instead of hanging.
        if (!quilmer::test::WaitUntil([&] { return processes() == 0; }, std::chrono::seconds(60))) {
            releasedByWatchdog = true;
            held.Release();
        }
    });
    int chunks = 0;
    const bool started = RunEncoder(
        L"", ConversionCommandLine(kAdapter, input.wstring(), intermediate.wstring(), 0),
        [&](std::string&, std::string&) { return ++chunks, true; }, [](std::string&) { return true; }, &cancel);
    const bool returnedAfterStop = stopSent.load();
    stopper.join();
    EXPECT_TRUE(started);
    EXPECT_TRUE(sawBothRunning) << "the conversion did not get going";
    EXPECT_TRUE(returnedAfterStop) << "the run ended before the stop, so the stop was not tested";
    EXPECT_FALSE(releasedByWatchdog) << "the stop did not end the encoders; the test had to end their input";
    EXPECT_TRUE(quilmer::test::WaitUntil([&] { return processes() == 0; })) << "an encoder outlived the stop";
}

TEST_F(ClipPipelineTest, AdapterRefusesToRunItselfAndUnknownCommands) {
    std::string log;
    auto run = [&](const std::wstring& commandLine) {
        RunEncoder(
            L"", commandLine,
            [](std::string& acc, std::string& chunk) {
                acc += chunk;
                return true;
            },
            [&](std::string& acc) {
                log = acc;
                return true;
            });
    };
    {
        quilmer::test::ScopedEnv loop("QUILMER_REAL_FFMPEG", std::string(kAdapter.begin(), kAdapter.end()));
        run(ProbeCommandLine(kAdapter, Clip("flv").wstring()));
    }
    EXPECT_NE(log.find("is this adapter itself"), std::string::npos) << log;
    run(L"\"" + kAdapter + L"\" -i x -vf hflip -f mpeg out");
    EXPECT_NE(log.find("Unrecognized option 'vf'"), std::string::npos) << log;
}

// The real clips beside the checkout: probed with sensible properties and converted.
TEST_F(ClipPipelineTest, SampleClipsProbeAndConvert) {
    const fs::path samples = fs::path(QUILMER_SHARED_DIR) / "media-samples";
    if (!fs::is_directory(samples)) QUILMER_SKIP_OR_FAIL_IN_CI("no sample clips in " << samples);
    int probed = 0;
    for (const auto& entry : fs::directory_iterator(samples)) {
        const fs::path clip = entry.path();
        if (TargetFormatForPath(clip.wstring()).empty()) continue;
        SCOPED_TRACE(clip.filename().string());
        ClipProperties p;
        ASSERT_TRUE(ProbeClip(clip.wstring(), p, kAdapter));
        ++probed;
        EXPECT_FALSE(p.format.empty());
        EXPECT_FALSE(p.duration.empty());
        EXPECT_FALSE(p.audioCodec.empty() && p.videoCodec.empty());
        if (!p.videoCodec.empty()) {
            EXPECT_NE(p.resolution.find(L"x"), std::wstring::npos);
            EXPECT_FALSE(p.frameRate.empty());
        }
        if (!p.audioCodec.empty()) {
            EXPECT_NE(p.sampleRate.find(L" Hz"), std::wstring::npos);
        }

        // Long clips are only probed, to keep the suite short.
        int h = 0, m = 0;
        double sec = 0;
        ASSERT_EQ(std::swscanf(p.duration.c_str(), L"%d:%d:%lf", &h, &m, &sec), 3);
        if (h * 3600 + m * 60 + sec > 12) continue;
        const double length = DecodedLength(clip, p.videoCodec.empty() ? "a:0" : "v:0");
        const fs::path intermediate = dir_ / "out dir" / (clip.stem().string() + ".qjv");
        ProgressCounters counters;
        ASSERT_TRUE(RunWithProgress(
            L"",
            ConversionCommandLine(kAdapter, clip.wstring(), intermediate.wstring(), FrameRateFromProbe(p)),
            JoinPhase::Converting, counters));
        ASSERT_TRUE(fs::exists(intermediate));
        StreamSpan v = Span(intermediate, "v:0"), a = Span(intermediate, "a:0");
        EXPECT_TRUE(v.present && a.present);
        EXPECT_NEAR(v.Length(), length, 0.5);
        EXPECT_NEAR(a.Length(), length, 0.5);
        fs::remove(intermediate);
    }
    EXPECT_GT(probed, 10);
}

}  // namespace
}  // namespace quilmer
