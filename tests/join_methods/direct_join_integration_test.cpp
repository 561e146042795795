// The direct join methods with the real ffmpeg: parts of one video joined by stream copy (the
// packets come through unchanged), a set that cannot be copied refused with the reason, mixed
// clips joined in one pass, and stops that leave nothing behind.

#include "foundation/FileUtil.h"
#include "foundation/PlainEventLoop.h"
#include "media/av/AvProbe.h"
#include "media/join/methods/DirectJoin.h"
#include "tests/join/JoinTestSupport.h"
#include "tests/join/MediaTools.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cmath>
#include <fstream>
#include <functional>
#include <sstream>

namespace quilmer {
namespace {

using namespace quilmer::testing;
using quilmer::test::ScopedEnv;
using quilmer::test::WaitUntil;

const std::string kJoinProgram = QUILMER_PROGRAM_DIR "/quilmer-join";

class RecordingView final : public JoinView {
public:
    explicit RecordingView(PlainEventLoop& loop) : loop_(loop) {}
    std::vector<int> progress;
    int results = 0, failures = 0;
    ClipProperties result;
    std::wstring detail, method, reason;

    void SetProgress(int percent) override { progress.push_back(percent); }
    void SetJoining(bool) override {}
    void ShowResult(const ClipProperties& properties, bool) override {
        ++results;
        result = properties;
        loop_.Quit(0);
    }
    void ShowFailure(const std::wstring&, const std::wstring&, const std::wstring& why) override {
        ++failures;
        detail = why;
        loop_.Quit(1);
    }
    void MethodChosen(const std::wstring& m, const std::wstring& r) override {
        method = m;
        reason = r;
    }

private:
    PlainEventLoop& loop_;
};

struct Joined {
    int code = -1;  // 0 made, 1 failed, 3 refused at the start
    std::wstring detail, method, reason;
    std::vector<int> progress;
};

Joined JoinWith(const std::vector<std::string>& clips, const std::string& output, JoinMethod method) {
    PlainEventLoop loop;
    RecordingView view(loop);
    DirectJoin join(loop, view);
    std::vector<std::wstring> wide;
    for (const auto& c : clips) wide.push_back(WidePath(c));
    Joined j;
    std::wstring refusal = join.StartJoin(wide, WidePath(output), method);
    if (!refusal.empty()) {
        j.code = 3;
        j.detail = refusal;
        return j;
    }
    int code = 0;
    if (!loop.RunFor(std::chrono::minutes(5), &code)) code = -2;
    j = {code, view.detail, view.method, view.reason, view.progress};
    return j;
}

// One line per packet of the first stream of a kind: its size and checksum, in file order.
// Empty packets are left out: AVI holds a frame over a gap in the timestamps with an empty one.
std::vector<std::string> Packets(const std::string& path, const std::string& kind, bool decoded = false) {
    std::vector<std::string> args = {"ffmpeg", "-v", "error", "-i", "file:" + path, "-map", "0:" + kind + ":0"};
    if (!decoded) args.insert(args.end(), {"-c", "copy"});
    args.insert(args.end(), {"-f", "framemd5", "-"});
    ProgramResult r = RunProgram(args);
    std::vector<std::string> packets;
    std::istringstream lines(r.output);
    for (std::string line; std::getline(lines, line);) {
        if (line.empty() || line[0] == '#') continue;
        // "0, dts, pts, duration, size, md5": size and checksum.
        std::size_t comma = 0;
        for (int i = 0; i < 4 && comma != std::string::npos; ++i) comma = line.find(',', comma + 1);
        if (comma == std::string::npos) continue;
        // Side data ("S=1, ...") may follow; the sound of a cut part carries some.
        std::size_t end = line.find(',', line.find(',', comma + 1) + 1);
        std::string packet = line.substr(comma + 1, end == std::string::npos ? std::string::npos : end - comma - 1);
        if (std::atoi(packet.c_str()) > 0) packets.push_back(packet);
    }
    return packets;
}

// Size and checksum of each packet of the first stream of a kind that a player shows: a packet an
// edit list hides (the encoder's priming at the start of an MP4 part) is left out, as the join
// leaves it out.
std::vector<std::string> ShownPackets(const std::string& path, const std::string& kind) {
    ProgramResult r = RunProgram({"ffprobe", "-v", "error", "-select_streams", kind + ":0", "-show_data_hash", "md5",
                                  "-show_entries", "packet=size,flags,data_hash", "-of", "csv=p=0", "file:" + path});
    std::vector<std::string> packets;
    std::istringstream lines(r.output);
    for (std::string line; std::getline(lines, line);)
        if (!line.empty() && std::isdigit(static_cast<unsigned char>(line[0])) && line.find(",KD") == std::string::npos &&
            line.find(",_D") == std::string::npos)
            packets.push_back(line.substr(0, line.find(',')) + line.substr(line.rfind(',')));
    return packets;
}

// Where two packet lists part, for a short message.
std::string FirstDifference(const std::vector<std::string>& a, const std::vector<std::string>& b) {
    std::size_t i = 0;
    while (i < a.size() && i < b.size() && a[i] == b[i]) ++i;
    if (i == a.size() && i == b.size()) return "";
    return "packet " + std::to_string(i) + " of " + std::to_string(a.size()) + "/" + std::to_string(b.size()) + ": " +
           (i < a.size() ? a[i] : "-") + " vs " + (i < b.size() ? b[i] : "-");
}

std::vector<std::string> PartsPackets(const std::vector<std::string>& parts, const std::string& kind, bool decoded = false) {
    std::vector<std::string> all;
    for (const auto& p : parts) {
        auto some = Packets(p, kind, decoded);
        all.insert(all.end(), some.begin(), some.end());
    }
    return all;
}

double StreamStart(const std::string& path, const std::string& kind) {
    auto r = RunProgram({"ffprobe", "-v", "error", "-select_streams", kind + ":0", "-show_entries",
                         "packet=pts_time", "-of", "csv=p=0", "file:" + path});
    double start = 1e9;
    std::istringstream lines(r.output);
    for (std::string line; std::getline(lines, line);)
        if (double t = ToDouble(line); t >= 0) start = std::min(start, t);
    return start;
}

// From the first packet to the end of the last, of picture and sound together.
double Span(const std::string& path) {
    return std::max(StreamEnd(path, "v"), StreamEnd(path, "a")) - std::min(StreamStart(path, "v"), StreamStart(path, "a"));
}

struct PartsCase {
    const char* label;
    const char* extension;
    std::vector<std::string> codecs;  // encoder options, container included
    const char* segmentFormat;
    const char* other;  // a compatible other container, if any
    bool rewrapped;     // the other container stores the streams differently (TS into MP4)
};

const PartsCase kPartsCases[] = {
    {"flv_h264", "flv", {"-c:v", "libx264", "-c:a", "aac", "-f", "flv"}, "flv", "mp4", false},
    {"flv_sorenson", "flv", {"-c:v", "flv1", "-c:a", "libmp3lame", "-f", "flv"}, "flv", "avi", false},
    {"mp4", "mp4", {"-c:v", "libx264", "-c:a", "aac", "-f", "mp4"}, "mp4", "flv", false},
    {"avi", "avi", {"-c:v", "mpeg4", "-c:a", "libmp3lame", "-f", "avi"}, "avi", "mp4", false},
    // No other container the targets offer holds WMV 8 and WMA 2 (AVI's has no timestamps for
    // ASF's clock, and its sound drifts), so these parts only join into their own format.
    {"wmv", "wmv", {"-c:v", "wmv2", "-c:a", "wmav2", "-f", "asf"}, "asf", nullptr, false},
    {"ts", "ts", {"-c:v", "libx264", "-c:a", "aac", "-f", "mpegts"}, "mpegts", "mp4", true},
};

class DirectJoinTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveProgram("ffmpeg") || !HaveProgram("ffprobe") || access("/usr/bin/ffmpeg", X_OK) != 0)
            QUILMER_SKIP_OR_FAIL_IN_CI("ffmpeg and ffprobe are not installed");
        ASSERT_FALSE(folder_.Path().empty());
    }

    // Cuts one synthesised 3-second video (a key frame every second) into parts of a second.
    std::vector<std::string> MakeParts(const PartsCase& c, const std::string& prefix) {
        std::string whole = folder_.Native(prefix + " whole." + c.extension);
        std::vector<std::string> args = {"ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
                                         "testsrc=size=160x120:rate=25:duration=3", "-f", "lavfi", "-i",
                                         "sine=frequency=440:sample_rate=44100:duration=3", "-g", "25", "-pix_fmt",
                                         "yuv420p", "-ac", "2"};
        args.insert(args.end(), c.codecs.begin(), c.codecs.end());
        args.push_back("file:" + whole);
        EXPECT_EQ(RunProgram(args).status, 0);
        auto r = RunProgram({"ffmpeg", "-v", "error", "-y", "-i", "file:" + whole, "-map", "0", "-c", "copy", "-f",
                             "segment", "-segment_time", "1", "-reset_timestamps", "1", "-segment_format",
                             c.segmentFormat, folder_.Native(prefix + " part's %d." + c.extension)});
        EXPECT_EQ(r.status, 0) << r.output;
        std::filesystem::remove(whole);
        std::vector<std::string> parts;
        for (int i = 0; i < 10; ++i) {
            std::string part = folder_.Native(prefix + " part's " + std::to_string(i) + "." + c.extension);
            if (std::filesystem::exists(part)) parts.push_back(part);
        }
        EXPECT_GE(parts.size(), 3u);
        return parts;
    }

    ScratchFolder folder_{"quilmer-direct"};
};

class LosslessPartsTest : public DirectJoinTest, public ::testing::WithParamInterface<PartsCase> {};

TEST_P(LosslessPartsTest, PartsOfOneVideoJoinWithTheirPacketsUnchanged) {
    const PartsCase& c = GetParam();
    std::vector<std::string> parts = MakeParts(c, c.label);
    ASSERT_FALSE(parts.empty());
    double partsLength = 0;
    for (const auto& p : parts) partsLength += Span(p);

    const std::string own = c.extension == std::string("ts") ? "flv" : c.extension;  // TS is no target format
    std::vector<std::string> targets = {own};
    if (c.other) targets.push_back(c.other);
    for (const std::string& extension : targets) {
        SCOPED_TRACE(std::string(c.label) + " into " + extension);
        const std::string out = folder_.Native(std::string("joined ") + c.label + "." + extension);
        Joined j = JoinWith(parts, out, JoinMethod::Lossless);
        ASSERT_EQ(j.code, 0) << NativePath(j.detail);
        EXPECT_EQ(j.method, L"lossless");
        EXPECT_EQ(j.reason.rfind(L"all " + std::to_wstring(parts.size()) + L" clips share", 0), 0u) << NativePath(j.reason);

        if (c.rewrapped) {
            // Another way of storing the same pictures: they decode to the same frames, and the
            // sound packets lose only their 7-byte ADTS headers.
            EXPECT_EQ(FirstDifference(Packets(out, "v", true), PartsPackets(parts, "v", true)), "");
            auto outSound = Packets(out, "a"), inSound = PartsPackets(parts, "a");
            ASSERT_EQ(outSound.size(), inSound.size());
            for (std::size_t i = 0; i < outSound.size(); ++i)
                EXPECT_EQ(std::atoi(outSound[i].c_str()) + 7, std::atoi(inSound[i].c_str())) << "packet " << i;
        } else {
            EXPECT_EQ(FirstDifference(Packets(out, "v"), PartsPackets(parts, "v")), "");
            std::vector<std::string> shown;
            for (const auto& p : parts) {
                auto some = ShownPackets(p, "a");
                shown.insert(shown.end(), some.begin(), some.end());
            }
            EXPECT_EQ(FirstDifference(ShownPackets(out, "a"), shown), "");
        }
        // The joining demuxer starts each part where the previous one's container says it ends,
        // which may leave up to a frame between a part's last picture and the next one's first.
        EXPECT_NEAR(Span(out), partsLength, 0.041 * static_cast<double>(parts.size()));
        EXPECT_NEAR(StreamEnd(out, "v"), StreamEnd(out, "a"), 0.1)
            << "picture from " << StreamStart(out, "v") << ", sound from " << StreamStart(out, "a");
        EXPECT_FALSE(j.progress.empty());
        std::filesystem::remove(out);
    }
    // Nothing of the joins is left: no list, no temporary output, no reordered copy.
    std::vector<std::string> expected;
    for (const auto& p : parts) expected.push_back(std::filesystem::path(p).filename().string());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(folder_.List(), expected);
}

INSTANTIATE_TEST_SUITE_P(Formats, LosslessPartsTest, ::testing::ValuesIn(kPartsCases),
                         [](const auto& info) { return std::string(info.param.label); });

// Clips made by other encoders, each joined to itself: the packets come through, and a clip
// whose header claims a shorter length than its packets hold is held to its packets.
TEST_F(DirectJoinTest, RealClipsJoinLosslesslyWithTheirPacketsUnchanged) {
    const std::string samples = std::string(QUILMER_SHARED_DIR) + "/media-samples/";
    if (!std::filesystem::exists(samples)) GTEST_SKIP() << "no media samples beside the project";
    struct {
        const char* clip;
        const char* target;
        bool decoded;  // H.264 into AVI changes form (byte stream), so the pictures are compared
    } cases[] = {
        {"asf-wmv2-wmav2.asf", "wmv", false},  // header says 4.4 s, packets run 6.4 s
        {"flv-vp6f-mp3-barsandtone.flv", "flv", false},
        {"mp4-handbrake-h264-aac.mp4", "mp4", false},
        {"mp4-handbrake-h264-aac.mp4", "avi", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.clip) + " into " + c.target);
        const std::string clip = samples + c.clip;
        const std::string out = folder_.Native(std::string("twice.") + c.target);
        Joined j = JoinWith({clip, clip}, out, JoinMethod::Lossless);
        ASSERT_EQ(j.code, 0) << NativePath(j.detail);
        EXPECT_EQ(FirstDifference(Packets(out, "v", c.decoded), PartsPackets({clip, clip}, "v", c.decoded)), "");
        EXPECT_EQ(FirstDifference(Packets(out, "a"), PartsPackets({clip, clip}, "a")), "");
        EXPECT_NEAR(Span(out), 2 * Span(clip), 0.1);
        std::filesystem::remove(out);
    }
}

// Names in any bytes, under any locale (CI runs this in the C locale too): the copy opens and
// writes them as they are.
TEST_F(DirectJoinTest, LosslessJoinTakesNamesOfAnyBytes) {
    std::vector<std::string> parts = MakeParts(kPartsCases[0], "odd");
    const std::string folder = folder_.Native("bad\xff\xfe \xe8\xa7\x86\xe9\xa2\x91 folder");
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    std::vector<std::string> named;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        named.push_back(folder + "/Vid\xc3\xa9o \xe9 '" + std::to_string(i) + "' -part.flv");  // Latin-1 byte too
        ASSERT_EQ(std::rename(parts[i].c_str(), named.back().c_str()), 0);
    }
    const std::string out = folder + "/\xff joined \xc3\xb6.mp4";
    Joined j = JoinWith(named, out, JoinMethod::Lossless);
    ASSERT_EQ(j.code, 0) << NativePath(j.detail);
    EXPECT_EQ(FirstDifference(Packets(out, "v"), PartsPackets(named, "v")), "");
    EXPECT_EQ(FirstDifference(Packets(out, "a"), PartsPackets(named, "a")), "");
}

TEST_F(DirectJoinTest, LosslessRefusesClipsThatDifferAndNamesTheFirst) {
    std::vector<std::string> parts = MakeParts(kPartsCases[2], "mp4");
    const std::string odd = folder_.Native("bigger.mp4");
    ASSERT_TRUE(MakeClip(odd, 1, "320x240", "25", {"-c:v", "libx264"}, 44100, 2, {"-c:a", "aac"}));
    std::vector<std::string> clips = {parts[0], odd, parts[1]};
    const std::string out = folder_.Native("refused.mp4");
    WriteFile(out, "the user's file");

    Joined j = JoinWith(clips, out, JoinMethod::Lossless);
    EXPECT_EQ(j.code, 1);
    EXPECT_EQ(NativePath(j.detail),
              "The clips cannot be joined without re-encoding: bigger.mp4 differs from the first clip in frame size: "
              "320x240, not 160x120");
    EXPECT_EQ(ReadFile(out), "the user's file");

    // The command-line joiner says the same; auto copies the parts and re-encodes only the odd clip.
    auto r = RunProgram({kJoinProgram, "--method", "lossless", "-o", out, clips[0], clips[1], clips[2]});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("bigger.mp4 differs from the first clip in frame size"), std::string::npos) << r.output;
    EXPECT_EQ(ReadFile(out), "the user's file");
    r = RunProgram({kJoinProgram, "-o", out, clips[0], clips[1], clips[2]});
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("quilmer-join: method smart: 2 of 3 clips copied as they are, 1 re-encoded"),
              std::string::npos)
        << r.output;
    EXPECT_NEAR(FileDuration(out), 3.0, 0.5 + 0.06);
    std::filesystem::remove(out);
    std::vector<std::string> expected = {"bigger.mp4"};
    for (const auto& p : parts) expected.push_back(std::filesystem::path(p).filename().string());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(folder_.List(), expected);
}

// An encoder that cannot start (not executable, not a program at all): the message names it and
// the system's reason, in every method, and auto says why no other method can take over.
// Nothing is written.
TEST_F(DirectJoinTest, AnEncoderThatCannotStartIsNamedAndAutoSaysWhyNothingElseCanJoin) {
    std::vector<std::string> parts = MakeParts(kPartsCases[2], "mp4");
    const std::string odd = folder_.Native("bigger.mp4");
    ASSERT_TRUE(MakeClip(odd, 1, "320x240", "25", {"-c:v", "libx264"}, 44100, 2, {"-c:a", "aac"}));
    const std::string out = folder_.Native("out.mp4");
    WriteFile(out, "the user's file");
    const std::string plain = folder_.Native("plain ffmpeg"), garbage = folder_.Native("garbage ffmpeg");
    WriteFile(plain, "not a program");
    WriteFile(garbage, "\x7f" "ELF but nothing more");
    ASSERT_EQ(chmod(garbage.c_str(), 0755), 0);
    const std::pair<std::string, std::string> cases[] = {{plain, "Permission denied"}, {garbage, "Exec format error"}};
    for (const auto& [encoder, why] : cases) {
        ScopedEnv real("QUILMER_REAL_FFMPEG", encoder);
        auto r = RunProgram({kJoinProgram, "-o", out, parts[0], odd});
        EXPECT_EQ(r.status, 1) << r.output;
        EXPECT_NE(r.output.find("The encoder " + encoder + " cannot be started: " + why + "."), std::string::npos)
            << r.output;
        EXPECT_NE(r.output.find("No other method can join these clips: the streams cannot be copied as they are "
                                "(bigger.mp4 differs from the first clip in frame size"),
                  std::string::npos)
            << r.output;
        r = RunProgram({kJoinProgram, "--method", "single", "-o", out, parts[0], odd});
        EXPECT_EQ(r.status, 1) << r.output;
        EXPECT_NE(r.output.find("The encoder " + encoder + " cannot be started: " + why + "."), std::string::npos)
            << r.output;
        EXPECT_EQ(r.output.find("No other method"), std::string::npos) << r.output;
        EXPECT_EQ(ReadFile(out), "the user's file");
        // The classic join runs it through the adapter: it says so once, instead of leaving out
        // every clip as if each could not be read.
        r = RunProgram({kJoinProgram, "--method", "classic", "-o", out, parts[0], odd});
        EXPECT_EQ(r.status, 1) << r.output;
        EXPECT_NE(r.output.find("The encoder " + encoder + " cannot be started: " + why + "."), std::string::npos)
            << r.output;
        EXPECT_EQ(r.output.find("missing from the output"), std::string::npos) << r.output;
        EXPECT_EQ(ReadFile(out), "the user's file");
    }
}

TEST_F(DirectJoinTest, ASecondJoinIntoTheSameOutputIsRefusedWhileTheFirstRuns) {
    std::vector<std::string> parts = MakeParts(kPartsCases[0], "flv");
    const std::string out = folder_.Native("one output.flv");
    PlainEventLoop loop;
    RecordingView first(loop), second(loop);
    DirectJoin a(loop, first), b(loop, second);
    std::vector<std::wstring> clips;
    for (const auto& p : parts) clips.push_back(WidePath(p));
    ASSERT_EQ(a.StartJoin(clips, WidePath(out), JoinMethod::Auto), L"");
    std::wstring refusal = b.StartJoin(clips, WidePath(out), JoinMethod::Auto);
    EXPECT_FALSE(refusal.empty());
    EXPECT_FALSE(b.IsJoining());
    int code = -1;
    ASSERT_TRUE(loop.RunFor(std::chrono::minutes(2), &code));
    EXPECT_EQ(code, 0) << NativePath(first.detail);
    // Once the first has ended, the output is free again.
    EXPECT_EQ(b.StartJoin(clips, WidePath(out), JoinMethod::Lossless), L"");
    ASSERT_TRUE(loop.RunFor(std::chrono::minutes(2), &code));
    EXPECT_EQ(code, 0) << NativePath(second.detail);
}

class SingleJoinTest : public DirectJoinTest, public ::testing::WithParamInterface<std::string> {};

TEST_P(SingleJoinTest, MixedClipsJoinInOnePassWithTheSummedLengthInStep) {
    std::vector<std::string> clips;
    double sum = 0;
    for (const auto& c : MixedClips()) {
        clips.push_back(folder_.Native(c.name));
        ASSERT_TRUE(MakeClip(clips.back(), c));
        sum += FileDuration(clips.back());
    }
    const std::string out = folder_.Native("joined." + GetParam());
    Joined j = JoinWith(clips, out, JoinMethod::Auto);
    ASSERT_EQ(j.code, 0) << NativePath(j.detail);
    EXPECT_EQ(j.method, L"single");
    EXPECT_EQ(DecodeErrors(out), "");
    EXPECT_NEAR(FileDuration(out), sum, 0.5 + 0.02 * sum);
    EXPECT_NEAR(StreamEnd(out, "v"), StreamEnd(out, "a"), 0.2);
    ASSERT_FALSE(j.progress.empty());
    EXPECT_GT(*std::max_element(j.progress.begin(), j.progress.end()), 0);
    EXPECT_EQ(j.progress.back(), 0);  // at rest again
    // The first clip's frame: 160x120.
    auto size = RunProgram({"ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries", "stream=width,height",
                            "-of", "csv=s=x:p=0", "file:" + out});
    EXPECT_EQ(size.output.substr(0, size.output.find('\n')), GetParam() == "rmvb" ? "160x128" : "160x120");
    std::vector<std::string> expected;
    for (const auto& c : MixedClips()) expected.push_back(c.name);
    expected.push_back("joined." + GetParam());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(folder_.List(), expected);
}

INSTANTIATE_TEST_SUITE_P(Formats, SingleJoinTest, ::testing::Values("flv", "mp4", "avi", "wmv", "rmvb"));

TEST_F(DirectJoinTest, LookingIntoAFileFindsPictureSoundAndTurnAndSaysWhyItCannot) {
    // Sound with a cover picture: the cover is no picture stream.
    const std::string song = folder_.Native("song with cover.mp3");
    const std::string cover = folder_.Native("cover.png");
    ASSERT_EQ(RunProgram({"ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", "color=red:size=64x64", "-frames:v", "1",
                          "file:" + cover}).status, 0);
    auto r = RunProgram({"ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", "sine=sample_rate=22050:duration=1", "-i",
                         "file:" + cover, "-map", "0", "-map", "1", "-c:a", "libmp3lame", "-c:v", "png",
                         "-disposition:v", "attached_pic", "file:" + song});
    ASSERT_EQ(r.status, 0) << r.output;
    CancelFlag cancel;
    std::wstring why;
    auto info = ProbeMediaFile(WidePath(song), cancel, why);
    ASSERT_TRUE(info.has_value()) << NativePath(why);
    EXPECT_FALSE(info->video.has_value());
    ASSERT_TRUE(info->audio.has_value());
    EXPECT_EQ(info->audio->codec, "mp3");
    EXPECT_EQ(info->audio->sampleRate, 22050);
    EXPECT_NEAR(info->duration, 1.0, 0.1);

    // A phone's upright clip: stored across, shown turned (a real one; ffmpeg here cannot make one).
    const std::string upright = folder_.Native("clip.mp4");
    ASSERT_TRUE(MakeClip(upright, 1, "320x240", "30", {"-c:v", "libx264"}, 48000, 1, {"-c:a", "aac"}));
    info = ProbeMediaFile(WidePath(upright), cancel, why);
    ASSERT_TRUE(info && info->video && info->audio);
    EXPECT_EQ(info->video->rotation, 0);
    EXPECT_EQ(info->video->width, 320);
    EXPECT_EQ(info->video->frameRate, "30/1");
    EXPECT_EQ(info->audio->channels, 1);
    const std::string phone = std::string(QUILMER_SHARED_DIR) + "/media-samples/mov-iphone-rotated90-h264-aac.mov";
    if (std::filesystem::exists(phone)) {
        info = ProbeMediaFile(WidePath(phone), cancel, why);
        ASSERT_TRUE(info && info->video);
        EXPECT_EQ(std::abs(info->video->rotation), 90);
    }

    // Text, an empty file and a FIFO (which must not be waited on) are refused with a reason.
    const std::string text = folder_.Native("notes.mp4"), empty = folder_.Native("empty.flv"),
                      fifo = folder_.Native("pipe.flv");
    WriteFile(text, "just some words, not a video\n");
    WriteFile(empty, "");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& bad : {text, empty, fifo}) {
        why.clear();
        EXPECT_FALSE(ProbeMediaFile(WidePath(bad), cancel, why).has_value()) << bad;
        EXPECT_FALSE(why.empty()) << bad;
    }
    EXPECT_EQ(why, L"not a regular file");

    // A raised stop ends a look at once.
    cancel.Request();
    EXPECT_FALSE(ProbeMediaFile(WidePath(upright), cancel, why).has_value());
}

// The result check's look at where an output's picture lies, on files that lack their first or
// last picture or any picture, as a join gone wrong would leave them.
TEST_F(DirectJoinTest, AnOutputWithoutItsFirstOrLastPictureIsRefusedWithTheReason) {
    const std::string late = folder_.Native("late picture.flv"), early = folder_.Native("early end.flv"),
                      sound = folder_.Native("sound only.m4a"), whole = folder_.Native("whole.flv");
    ASSERT_TRUE(MakeLatePictureClip(late, 2));        // sound 0-8 s, picture 2-8 s
    ASSERT_TRUE(MakeLongSoundClip(early, 3, 3.6));    // picture 0-3 s, sound 0-3.6 s
    ASSERT_TRUE(MakeClip(sound, 3, "", "", {}, 44100, 2, {"-c:a", "aac"}));
    ASSERT_TRUE(MakeClip(whole, 3, "160x120", "25", {"-c:v", "flv1"}, 44100, 2, {"-c:a", "libmp3lame"}));
    CancelFlag cancel;
    auto check = [&](const std::string& path) {
        std::wstring why;
        std::optional<MediaInfo> info = ProbeMediaFile(WidePath(path), cancel, why);
        EXPECT_TRUE(info.has_value()) << NativePath(why);
        if (!info) return std::wstring(L"unreadable");
        ExpectedLength expected;
        expected.clips = {{WidePath(path), info->duration}};
        ClipProperties result = PropertiesFromMediaInfo(WidePath(path), *info);
        expected.slackPerClip = ReencodeSlackPerClip(result);
        expected.picture = true;
        return CheckJoinResult(result, true, expected, MeasureOutputPicture(WidePath(path), cancel));
    };
    EXPECT_EQ(check(whole), L"");
    std::wstring reason = check(late);
    EXPECT_NE(reason.find(L"first picture is missing"), std::wstring::npos) << NativePath(reason);
    EXPECT_NE(reason.find(L"2.0"), std::wstring::npos) << NativePath(reason);
    reason = check(early);
    EXPECT_NE(reason.find(L"last picture is missing"), std::wstring::npos) << NativePath(reason);
    reason = check(sound);
    EXPECT_NE(reason.find(L"no picture"), std::wstring::npos) << NativePath(reason);
    // A file that cannot be looked into is not measured: only its length is checked.
    EXPECT_FALSE(MeasureOutputPicture(folder_.Wide("no such file.flv"), cancel).measured);
}

// quilmer-join started in the background, its output thrown away.
pid_t StartJoinProgram(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

TEST_F(DirectJoinTest, StopsDuringEachMethodLeaveNothingAndNoProcess) {
    // An ffmpeg that reads its first input at its own pace, and a stream copy that pauses after
    // each packet, so that each join runs long enough to be stopped in the middle.
    ScratchFolder tools{"quilmer-slow-ffmpeg"};
    WriteFile(tools.Native("ffmpeg"), "#!/bin/sh\nexec /usr/bin/ffmpeg -re \"$@\"\n");
    std::filesystem::permissions(tools.Native("ffmpeg"), std::filesystem::perms::owner_all);
    ScopedEnv real("QUILMER_REAL_FFMPEG", tools.Native("ffmpeg"));
    ScopedEnv paced("QUILMER_TEST_COPY_DELAY_US", "20000");

    std::vector<std::string> parts = MakeParts(kPartsCases[2], "mp4");
    const std::string odd = folder_.Native("bigger.mp4");
    ASSERT_TRUE(MakeClip(odd, 3, "320x240", "25", {"-c:v", "libx264"}, 44100, 2, {"-c:a", "aac"}));
    const std::string out = folder_.Native("kept.mp4");
    WriteFile(out, "the user's file");
    std::vector<std::string> before = folder_.List();

    auto encoders = [&] {
        std::vector<int> found = ProcessesMentioning(tools.Native("ffmpeg"));
        for (int p : ProcessesMentioning("/usr/bin/ffmpeg"))
            if (ReadFile("/proc/" + std::to_string(p) + "/cmdline").find(folder_.Path()) != std::string::npos)
                found.push_back(p);
        return found;
    };
    // The copy has written into its output, under a name of its own in the folder.
    auto writing = [&] {
        for (const auto& name : folder_.List())
            if (name.find(".partial") != std::string::npos && ReadFile(folder_.Native(name)).size() > 0) return true;
        return false;
    };
    struct {
        const char* method;
        std::vector<std::string> clips;
        std::function<bool()> underway;
    } runs[] = {{"lossless", parts, writing}, {"single", {odd, parts[0]}, [&] { return !encoders().empty(); }}};
    for (const auto& run : runs) {
        SCOPED_TRACE(run.method);
        std::vector<std::string> args = {kJoinProgram, "-q", "--method", run.method, "-o", out};
        args.insert(args.end(), run.clips.begin(), run.clips.end());
        pid_t pid = StartJoinProgram(args);
        ASSERT_GT(pid, 0);
        ASSERT_TRUE(WaitUntil(run.underway));
        kill(pid, SIGTERM);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 128 + SIGTERM) << status;
        EXPECT_TRUE(WaitUntil([&] { return encoders().empty(); })) << "an encoder outlived the stop";
        EXPECT_EQ(folder_.List(), before);
        EXPECT_EQ(ReadFile(out), "the user's file");
    }
}

}  // namespace
}  // namespace quilmer
