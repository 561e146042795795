// The compatibility report against what really happens: pairs of tiny clips made with ffmpeg,
// half of them near misses (the same stream in another container, a rate written another way,
// the same settings encoded twice), each pair judged by the report and then joined by stream
// copy whatever the report said. A copy is sound when it succeeds, decodes without a complaint,
// keeps one frame size, pixel format, sample rate and layout throughout, keeps the frame
// durations of each part, shows each clip as the clip itself shows (rotation, aspect, field
// order, colour) and loses no picture, sound or frames. The report must never call a pair
// compatible whose copy is not sound (a miss), nor the other way round (a false alarm).

#include "foundation/FileUtil.h"
#include "media/CancelFlag.h"
#include "media/av/AvProbe.h"
#include "media/join/methods/Compatibility.h"
#include "media/join/methods/StreamCopy.h"
#include "tests/join/MediaTools.h"
#include "tests/support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <map>
#include <sstream>

namespace quilmer {
namespace {

using namespace quilmer::testing;
using quilmer::test::ScratchFolder;

using Fields = std::map<std::string, std::string>;

// One record per line of ffprobe's "compact" output: key=value|key=value.
std::vector<Fields> Records(const std::vector<std::string>& args) {
    ProgramResult r = RunProgram(args);
    std::vector<Fields> records;
    std::istringstream lines(r.output);
    for (std::string line; std::getline(lines, line);) {
        if (line.find('=') == std::string::npos) continue;
        Fields fields;
        std::istringstream parts(line);
        for (std::string part; std::getline(parts, part, '|');) {
            std::size_t eq = part.find('=');
            if (eq != std::string::npos) fields[part.substr(0, eq)] = part.substr(eq + 1);
        }
        records.push_back(fields);
    }
    return records;
}

// What a player takes from the streams' headers to show and play them.
Fields Shown(const std::string& path) {
    std::vector<Fields> records =
        Records({"ffprobe", "-v", "error", "-show_entries",
                 "stream=codec_type,sample_aspect_ratio,field_order,color_range,color_space,color_transfer,"
                 "color_primaries,sample_rate,channel_layout:stream_side_data=rotation",
                 "-of", "compact=p=0:nk=0", "file:" + path});
    Fields all;
    for (const Fields& r : records) {
        auto type = r.find("codec_type");
        if (type != r.end() && type->second != "video" && type->second != "audio") continue;
        for (const auto& [key, value] : r) all.emplace(key, value);  // the first stream of a kind
    }
    for (const char* key : {"sample_aspect_ratio", "field_order", "rotation"})
        if (all[key] == "0:1" || all[key] == "1:1" || all[key] == "N/A" || all[key] == "unknown" || all[key] == "0")
            all[key] = "";
    all.erase("codec_type");
    return all;
}

// The decoded frames of the first picture and sound stream: a checksum and a time each, and
// whatever the decoder complained about.
struct Decoded {
    std::vector<std::string> video, audio;  // checksums
    std::vector<double> videoTimes;         // seconds
    std::string complaints;
};

Decoded Decode(const std::string& path) {
    ProgramResult r = RunProgram({"ffmpeg", "-v", "error", "-i", "file:" + path, "-map", "0:v:0?", "-map", "0:a:0?",
                                  "-fps_mode", "passthrough", "-enc_time_base:v", "-1", "-c:a", "pcm_f32le", "-f", "framemd5", "-"});
    Decoded d;
    std::map<int, double> timeBase;
    int videoIndex = -1;
    std::istringstream lines(r.output);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("#tb ", 0) == 0) {
            int index = std::atoi(line.c_str() + 4);
            std::size_t colon = line.find(':'), slash = line.find('/');
            timeBase[index] = std::atof(line.c_str() + colon + 1) / std::atof(line.c_str() + slash + 1);
        } else if (line.rfind("#media_type ", 0) == 0) {
            if (line.find("video") != std::string::npos) videoIndex = std::atoi(line.c_str() + 12);
        } else if (!line.empty() && line[0] == '#') {
        } else if (!line.empty() && std::isdigit(static_cast<unsigned char>(line[0]))) {
            std::vector<std::string> parts;
            std::istringstream fields(line);
            for (std::string f; std::getline(fields, f, ',');) parts.push_back(f);
            if (parts.size() < 6) continue;
            const int index = std::atoi(parts[0].c_str());
            if (index == videoIndex) {
                d.video.push_back(parts[5]);
                d.videoTimes.push_back(std::atof(parts[2].c_str()) * timeBase[index]);
            } else {
                d.audio.push_back(parts[5]);
            }
        } else if (!line.empty()) {
            d.complaints += line + "\n";
        }
    }
    if (r.status != 0) d.complaints += "exit status " + std::to_string(r.status);
    return d;
}

double MeanStep(const std::vector<double>& times, std::size_t from, std::size_t to) {
    if (to <= from + 1) return NAN;
    return (times[to - 1] - times[from]) / static_cast<double>(to - 1 - from);
}

struct Looked {
    Decoded decoded;
    Fields shown;
};

const Looked& Look(const std::string& path) {
    static std::map<std::string, Looked> seen;
    auto it = seen.find(path);
    if (it == seen.end()) it = seen.emplace(path, Looked{Decode(path), Shown(path)}).first;
    return it->second;
}

// What goes wrong when the pair is copied into one file; "" when nothing does. The output must
// decode to the clips' own pictures, one after the other, each at its own pace, and to as much
// sound as the clips hold; and it must be shown and played as each clip is (rotation, aspect,
// field order, colour, sample rate, channel layout).
std::string CopyFault(const std::string& a, const std::string& b, const std::string& out, const std::wstring& target) {
    CancelFlag cancel;
    std::wstring failure = CopyStreams({WidePath(a), WidePath(b)}, WidePath(out), target, cancel, {});
    if (!failure.empty()) return "the copy failed: " + NativePath(failure);
    const Decoded joined = Decode(out);
    const Decoded& one = Look(a).decoded;
    const Decoded& two = Look(b).decoded;
    if (!joined.complaints.empty()) return "the decoder complains: " + joined.complaints.substr(0, 300);
    if ((!one.video.empty() || !two.video.empty()) && joined.video.empty()) return "the picture is lost";
    if ((!one.audio.empty() || !two.audio.empty()) && joined.audio.empty()) return "the sound is lost";
    if (!joined.video.empty()) {
        std::vector<std::string> expected = one.video;
        expected.insert(expected.end(), two.video.begin(), two.video.end());
        if (joined.video != expected) return "the pictures are not the clips' own";
        const double first = MeanStep(joined.videoTimes, 0, one.video.size());
        const double second = MeanStep(joined.videoTimes, one.video.size(), joined.video.size());
        if (!(std::fabs(first - second) <= 0.0005 * std::max(first, second)))
            return "the frame duration changes: " + std::to_string(first) + " s, then " + std::to_string(second) + " s";
    }
    if (!joined.audio.empty()) {
        if (joined.audio.size() + 2 < one.audio.size() + two.audio.size() ||
            joined.audio.size() > one.audio.size() + two.audio.size() + 2)
            return "sound frames lost or added";
    }
    const Fields shown = Shown(out);
    for (const std::string& clip : {a, b})
        for (const auto& [key, value] : Look(clip).shown) {
            if (value.empty() && key != "rotation" && key != "sample_aspect_ratio") continue;  // not stated
            auto it = shown.find(key);
            const std::string there = it == shown.end() ? "" : it->second;
            if (there != value) return "shown or played with another " + key + ": " + there + " for " + value;
        }
    return {};
}

struct Recipe {
    Recipe(std::string n, std::vector<std::string> a, std::string v = "testsrc=size=128x96:rate=25",
           std::string s = "sine=frequency=440:sample_rate=44100", std::string remux = "", double length = 0.5)
        : name(std::move(n)), args(std::move(a)), video(std::move(v)), sound(std::move(s)), remuxOf(std::move(remux)),
          seconds(length) {}
    std::string name;  // file name, its extension the container
    std::vector<std::string> args;  // ffmpeg's options after the inputs
    std::string video;
    std::string sound;
    std::string remuxOf;  // "": encoded from the test sources; else the clip copied into another container
    double seconds;
};

bool Make(const ScratchFolder& folder, const Recipe& r) {
    std::vector<std::string> args = {"ffmpeg", "-v", "error", "-y"};
    if (!r.remuxOf.empty()) {
        args.insert(args.end(), {"-i", folder / r.remuxOf, "-map", "0", "-c", "copy"});
        args.insert(args.end(), r.args.begin(), r.args.end());
    } else {
        const std::string length = ":duration=" + std::to_string(r.seconds);
        if (!r.video.empty()) args.insert(args.end(), {"-f", "lavfi", "-i", r.video + length});
        if (!r.sound.empty()) args.insert(args.end(), {"-f", "lavfi", "-i", r.sound + length});
        if (r.name.find(".srt") == std::string::npos && r.name.find("sub") != std::string::npos)
            args.insert(args.end(), {"-i", folder / "words.srt"});
        args.insert(args.end(), {"-map_metadata", "-1", "-fflags", "+bitexact"});
        args.insert(args.end(), r.args.begin(), r.args.end());
    }
    args.push_back(folder / r.name);
    ProgramResult result = RunProgram(args);
    if (result.status != 0) ADD_FAILURE() << r.name << ": " << result.output;
    return result.status == 0;
}

const std::vector<std::string> kH264 = {"-c:v", "libx264", "-pix_fmt", "yuv420p", "-g", "50"};
const std::vector<std::string> kAac = {"-c:a", "aac", "-b:a", "64k", "-ac", "2"};

std::vector<std::string> With(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<Recipe> Recipes() {
    const auto base = With(kH264, kAac);
    std::vector<Recipe> r = {
        {"base.mp4", base},
        {"again.mp4", base},  // the same command once more: the same setup data written twice
        {"other-picture.mp4", base, "testsrc2=size=128x96:rate=25"},
        {"longer.mp4", base, "testsrc=size=128x96:rate=25", "sine=frequency=440:sample_rate=44100", "", 0.8},
        {"louder-bitrate.mp4", With(kH264, {"-c:a", "aac", "-b:a", "96k", "-ac", "2"})},
        {"square.mp4", With(base, {"-vf", "setsar=1"})},
        {"level31.mp4", With(base, {"-level", "3.1"})},
        {"level40.mp4", With(base, {"-level", "4.0"})},
        {"ntsc.mp4", base, "testsrc=size=128x96:rate=30000/1001"},
        {"ntsc-decimal.mp4", With(base, {"-r", "29.97"}), "testsrc=size=128x96:rate=29.97"},
        {"film.mp4", base, "testsrc=size=128x96:rate=24000/1001"},
        {"film-decimal.mp4", With(base, {"-r", "23.976"}), "testsrc=size=128x96:rate=23.976"},
        {"with-sub.mp4", With(base, {"-map", "0", "-map", "1", "-map", "2", "-c:s", "mov_text"})},
        {"titled.mp4", With(base, {"-metadata", "title=Another title"})},
        {"base.mkv", {}, "", "", "base.mp4"},
        {"base.mov", {}, "", "", "base.mp4"},
        {"base.flv", {}, "", "", "base.mp4"},
        {"base.ts", {}, "", "", "base.mp4"},
        {"big.mp4", base, "testsrc=size=160x120:rate=25"},
        {"rate30.mp4", base, "testsrc=size=128x96:rate=30"},
        {"baseline.mp4", With(base, {"-profile:v", "baseline"})},
        {"full444.mp4", With(With({"-c:v", "libx264", "-g", "50", "-pix_fmt", "yuv444p"}, kAac), {})},
        {"turned.mp4", {"-metadata:s:v:0", "rotate=90"}, "", "", "base.mp4"},
        {"wide-pixels.mp4", With(base, {"-vf", "setsar=4/3"})},
        {"interlaced.mp4", With(base, {"-flags", "+ildct+ilme", "-top", "1"})},
        {"bt709.mp4", With(base, {"-color_primaries", "bt709", "-color_trc", "bt709", "-colorspace", "bt709"})},
        {"full-range.mp4", With(base, {"-color_range", "pc"})},
        {"cavlc.mp4", With(base, {"-coder", "0"})},
        {"one-ref.mp4", With(base, {"-refs", "1"})},
        {"no-bframes.mp4", With(base, {"-bf", "0"})},
        {"rate48k.mp4", base, "testsrc=size=128x96:rate=25", "sine=frequency=440:sample_rate=48000"},
        {"mono.mp4", With(kH264, {"-c:a", "aac", "-b:a", "64k", "-ac", "1"})},
        {"mp3.mp4", With(kH264, {"-c:a", "libmp3lame", "-b:a", "64k", "-ac", "2"})},
        {"silent.mp4", kH264, "testsrc=size=128x96:rate=25", ""},
        {"sound-only.mp4", kAac, "", "sine=frequency=440:sample_rate=44100"},
        {"mpeg4.mp4", With({"-c:v", "mpeg4", "-pix_fmt", "yuv420p", "-g", "50"}, kAac)},
        // FLV's own codec into FLV, MPEG-4 part 2 into AVI.
        {"a.flv", {"-c:v", "flv1", "-g", "50", "-c:a", "libmp3lame", "-b:a", "64k", "-ar", "44100"}},
        {"b.flv", {"-c:v", "flv1", "-g", "50", "-q:v", "8", "-c:a", "libmp3lame", "-b:a", "96k", "-ar", "44100"}},
        {"big.flv", {"-c:v", "flv1", "-g", "50", "-c:a", "libmp3lame", "-b:a", "64k", "-ar", "44100"},
         "testsrc=size=160x120:rate=25"},
        {"a.avi", {"-c:v", "mpeg4", "-g", "50", "-c:a", "libmp3lame", "-b:a", "64k", "-ar", "44100"}},
        {"b.avi", {"-c:v", "mpeg4", "-g", "50", "-q:v", "9", "-c:a", "libmp3lame", "-b:a", "64k", "-ar", "44100"}},
        {"rate30.avi", {"-c:v", "mpeg4", "-g", "50", "-c:a", "libmp3lame", "-b:a", "64k", "-ar", "44100"},
         "testsrc=size=128x96:rate=30"},
        {"rate22k.avi", {"-c:v", "mpeg4", "-g", "50", "-c:a", "libmp3lame", "-b:a", "64k"},
         "testsrc=size=128x96:rate=25", "sine=frequency=440:sample_rate=22050"},
    };
    return r;
}

struct Pair {
    std::string a, b;
    std::wstring target;
    bool nearMiss;
};

const Pair kPairs[] = {
    // Near misses: alike in what counts, different in how it is written or in what does not count.
    {"base.mp4", "again.mp4", L"mp4", true},
    {"base.mp4", "other-picture.mp4", L"mp4", true},
    {"base.mp4", "longer.mp4", L"mp4", true},
    {"base.mp4", "louder-bitrate.mp4", L"mp4", true},
    {"base.mp4", "square.mp4", L"mp4", true},
    {"level31.mp4", "level40.mp4", L"mp4", true},
    {"ntsc.mp4", "ntsc-decimal.mp4", L"mp4", true},
    {"ntsc-decimal.mp4", "ntsc.mp4", L"mp4", true},
    {"film.mp4", "film-decimal.mp4", L"mp4", true},
    {"base.mp4", "with-sub.mp4", L"mp4", true},
    {"with-sub.mp4", "base.mp4", L"mp4", true},
    {"base.mp4", "titled.mp4", L"mp4", true},
    {"base.mp4", "base.mkv", L"mp4", true},
    {"base.mkv", "base.mp4", L"mp4", true},
    {"base.mp4", "base.mov", L"mp4", true},
    {"base.mp4", "base.flv", L"mp4", true},
    {"base.flv", "again.mp4", L"flv", true},
    {"base.mp4", "base.ts", L"mp4", true},  // the same stream, start codes instead of lengths
    {"a.flv", "b.flv", L"flv", true},
    {"a.avi", "b.avi", L"avi", true},
    {"base.mp4", "no-bframes.mp4", L"mp4", true},
    {"base.mp4", "one-ref.mp4", L"mp4", true},
    // Clear differences.
    {"base.mp4", "big.mp4", L"mp4", false},
    {"base.mp4", "rate30.mp4", L"mp4", false},
    {"base.mp4", "baseline.mp4", L"mp4", false},
    {"base.mp4", "full444.mp4", L"mp4", false},
    {"base.mp4", "turned.mp4", L"mp4", false},
    {"base.mp4", "wide-pixels.mp4", L"mp4", false},
    {"base.mp4", "interlaced.mp4", L"mp4", false},
    {"base.mp4", "bt709.mp4", L"mp4", false},
    {"base.mp4", "full-range.mp4", L"mp4", false},
    {"base.mp4", "cavlc.mp4", L"mp4", false},
    {"base.mp4", "rate48k.mp4", L"mp4", false},
    {"base.mp4", "mono.mp4", L"mp4", false},
    {"base.mp4", "mp3.mp4", L"mp4", false},
    {"base.mp4", "silent.mp4", L"mp4", false},
    {"silent.mp4", "base.mp4", L"mp4", false},
    {"base.mp4", "sound-only.mp4", L"mp4", false},
    {"base.mp4", "mpeg4.mp4", L"mp4", false},
    {"a.flv", "big.flv", L"flv", false},
    {"a.avi", "rate30.avi", L"avi", false},
    {"a.avi", "rate22k.avi", L"avi", false},
    {"ntsc.mp4", "rate30.mp4", L"mp4", false},
    {"a.flv", "a.avi", L"flv", false},
};

TEST(CompatibilityPairsTest, TheReportNeitherCriesWolfNorMissesABrokenCopy) {
    if (!HaveProgram("ffmpeg") || !HaveProgram("ffprobe")) GTEST_SKIP() << "ffmpeg is not installed";
    ScratchFolder folder("quilmer-pairs");
    {
        std::ofstream words(folder / "words.srt");
        words << "1\n00:00:00,000 --> 00:00:00,400\nHello\n";
    }
    for (const Recipe& r : Recipes()) ASSERT_TRUE(Make(folder, r));

    int alarms = 0, misses = 0, near = 0, pairs = 0;
    std::ostringstream wrong;
    for (const Pair& p : kPairs) {
        ++pairs;
        near += p.nearMiss;
        CancelFlag cancel;
        std::vector<std::wstring> clips = {folder.Wide(p.a), folder.Wide(p.b)};
        std::vector<MediaInfo> infos;
        for (const auto& clip : clips) {
            std::wstring why;
            std::optional<MediaInfo> info = ProbeMediaFile(clip, cancel, why);
            ASSERT_TRUE(info) << NativePath(clip) << ": " << NativePath(why);
            infos.push_back(*info);
        }
        CompatibilityReport report = CompareClips(clips, infos, p.target);
        const std::string fault = CopyFault(folder / p.a, folder / p.b, folder / "joined", p.target);
        std::string said;
        for (const std::wstring& line : report.Lines()) said += "    " + NativePath(line) + "\n";
        if (report.Lossless() && !fault.empty()) {
            ++misses;
            wrong << "miss: " << p.a << " + " << p.b << ": called compatible, but " << fault << "\n" << said;
        } else if (!report.Lossless() && fault.empty()) {
            ++alarms;
            wrong << "false alarm: " << p.a << " + " << p.b << ": the copy is sound, but the report says\n" << said;
        }
        // Every difference is a sentence of its own, ending with what the join does.
        for (const ClipCompatibility& clip : report.clips)
            for (const ClipDifference& d : clip.differences) {
                EXPECT_FALSE(d.name.empty());
                EXPECT_EQ(d.sentence.back(), L'.') << NativePath(d.sentence);
            }
    }
    std::printf("compatibility pairs: %d (%d near misses), false alarms %d, misses %d\n", pairs, near, alarms, misses);
    EXPECT_GE(pairs, 40);
    EXPECT_GE(near * 2, pairs - 4);
    EXPECT_EQ(wrong.str(), "");
}

}  // namespace
}  // namespace quilmer
