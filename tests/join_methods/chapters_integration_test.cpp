// Chapters of real joins through quilmer-join: every method writes a chapter per clip, named after
// the clip's file, where the clip's first frame really lies (found by the white frame each clip
// begins with), keeps the chapters a clip has of its own, and writes none when told not to.

#include "foundation/FileUtil.h"
#include "tests/join/MediaTools.h"
#include "tests/support/ScratchFolder.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <fstream>

namespace quilmer {
namespace {

using namespace quilmer::testing;
using quilmer::test::ScratchFolder;

const std::string kJoinProgram = QUILMER_PROGRAM_DIR "/quilmer-join";

struct ReadChapter {
    double start = 0, end = 0;
    std::string title;
};

// The chapters as ffprobe reads them back.
std::vector<ReadChapter> ChaptersOf(const std::string& path) {
    auto r = RunProgram({"ffprobe", "-v", "error", "-show_chapters", "-of", "json", "file:" + path});
    std::vector<ReadChapter> chapters;
    if (r.status != 0) return chapters;
    nlohmann::json doc = nlohmann::json::parse(r.output, nullptr, false);
    if (!doc.is_object() || !doc.contains("chapters")) return chapters;
    for (const auto& c : doc["chapters"]) {
        ReadChapter chapter;
        chapter.start = ToDouble(c.value("start_time", "-1"));
        chapter.end = ToDouble(c.value("end_time", "-1"));
        if (c.contains("tags") && c["tags"].contains("title")) chapter.title = c["tags"]["title"].get<std::string>();
        chapters.push_back(chapter);
    }
    return chapters;
}

// A clip whose first frame is white and whose sound begins with a beep: the mark of where it
// begins in a join. `rate` is its frame rate, `seconds` its length.
bool MakeMarkedClip(const std::string& path, double seconds, const std::string& rate, const std::string& size,
                    const std::vector<std::string>& codecs) {
    const std::string d = std::to_string(seconds);
    std::vector<std::string> args = {"ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
                                     "color=c=black:s=" + size + ":r=" + rate + ":d=" + d +
                                         ",drawbox=c=white:t=fill:enable='eq(n,0)'",
                                     "-f", "lavfi", "-i",
                                     "sine=frequency=1000:sample_rate=44100:duration=" + d +
                                         ",volume=volume=0:enable='gte(t,0.1)'"};
    args.insert(args.end(), codecs.begin(), codecs.end());
    args.insert(args.end(), {"-pix_fmt", "yuv420p", "-t", d, "file:" + path});
    return RunProgram(args).status == 0;
}

// Gives a clip chapters of its own (start seconds, title), by stream copy.
bool AddOwnChapters(const std::string& path, const std::vector<std::pair<double, std::string>>& marks, double end) {
    const std::string meta = path + ".meta.txt", out = path + ".chaptered" + path.substr(path.rfind('.'));
    std::ofstream text(meta);
    text << ";FFMETADATA1\n";
    for (std::size_t i = 0; i < marks.size(); ++i) {
        const double until = i + 1 < marks.size() ? marks[i + 1].first : end;
        text << "[CHAPTER]\nTIMEBASE=1/1000\nSTART=" << std::llround(marks[i].first * 1000)
             << "\nEND=" << std::llround(until * 1000) << "\ntitle=" << marks[i].second << "\n";
    }
    text.close();
    const bool ok = RunProgram({"ffmpeg", "-v", "error", "-y", "-i", "file:" + path, "-i", "file:" + meta, "-map", "0",
                                "-map_chapters", "1", "-c", "copy", "file:" + out})
                            .status == 0 &&
                    std::rename(out.c_str(), path.c_str()) == 0;
    std::remove(meta.c_str());
    return ok;
}

ProgramResult Join(const std::string& method, const std::string& output, const std::vector<std::string>& clips,
                   bool chapters = true) {
    std::vector<std::string> args = {kJoinProgram, "-q", "--method", method};
    if (!chapters) args.push_back("--no-chapters");
    args.insert(args.end(), {"-o", output, "--"});
    args.insert(args.end(), clips.begin(), clips.end());
    return RunProgram(args);
}

struct ChapterCase {
    const char* label;
    const char* method;
    const char* extension;  // of the output
    bool sameClips;         // clips that can be copied (else their frame rates and sizes differ)
    const char* clipExtension;
    std::vector<std::string> codecs;
};

class ChapterPerClipTest : public ::testing::TestWithParam<ChapterCase> {
protected:
    ScratchFolder folder_{"quilmer-chapters"};
};

// The names carry blanks, non-ASCII letters, characters ffmpeg's metadata files escape, a leading
// dash, and a byte that is not UTF-8.
TEST_P(ChapterPerClipTest, EachClipsChapterStartsAtItsFirstFrame) {
    const ChapterCase& c = GetParam();
    const std::string ext = c.clipExtension;
    const std::vector<std::string> names = {"first clip", "Ünïcödé — zwei", "-odd;name=#3", std::string("caf\xe9 4")};
    const std::vector<std::string> titles = {"first clip", "Ünïcödé — zwei", "-odd;name=#3", "caf\xef\xbf\xbd 4"};
    const std::vector<double> lengths = {2.0, 1.52, 1.3, 1.0};
    std::vector<std::string> clips;
    for (std::size_t i = 0; i < names.size(); ++i) {
        clips.push_back(folder_.File(names[i] + "." + ext));
        const bool odd = !c.sameClips && i % 2 == 1;
        ASSERT_TRUE(MakeMarkedClip(clips.back(), lengths[i], odd ? "30000/1001" : "25", odd ? "176x144" : "160x120",
                                   c.codecs));
    }
    const std::string out = folder_.File(std::string("joined.") + c.extension);
    auto r = Join(c.method, out, clips);
    ASSERT_EQ(r.status, 0) << r.output;

    const std::vector<ReadChapter> chapters = ChaptersOf(out);
    const std::vector<double> flashes = FlashTimes(out);
    ASSERT_EQ(flashes.size(), clips.size()) << "every clip's white first frame is in the output";
    ASSERT_EQ(chapters.size(), clips.size());
    const double frame = 1.0 / 25;
    for (std::size_t i = 0; i < clips.size(); ++i) {
        SCOPED_TRACE("clip " + std::to_string(i));
        EXPECT_EQ(chapters[i].title, titles[i]);
        EXPECT_NEAR(chapters[i].start, flashes[i], frame + 0.002);
        if (i + 1 < chapters.size()) {
            EXPECT_NEAR(chapters[i].end, chapters[i + 1].start, 0.002);
        }
    }
    EXPECT_NEAR(chapters.back().end, FileDuration(out), 0.1);
}

const std::vector<std::string> kH264 = {"-c:v", "libx264", "-g", "25", "-c:a", "aac"};
const std::vector<std::string> kWmv = {"-c:v", "wmv2", "-q:v", "3", "-c:a", "wmav2"};

INSTANTIATE_TEST_SUITE_P(
    Methods, ChapterPerClipTest,
    ::testing::Values(ChapterCase{"LosslessMp4", "lossless", "mp4", true, "mp4", kH264},
                      ChapterCase{"LosslessWmv", "lossless", "wmv", true, "wmv", kWmv},
                      ChapterCase{"SingleMp4", "single", "mp4", false, "mp4", kH264},
                      ChapterCase{"SingleWmv", "single", "wmv", false, "mp4", kH264},
                      ChapterCase{"ClassicMp4", "classic", "mp4", false, "mp4", kH264},
                      ChapterCase{"ClassicWmv", "classic", "wmv", true, "mp4", kH264},
                      // two clips copied, the two others re-encoded to match them
                      ChapterCase{"SmartMp4", "smart", "mp4", false, "mp4", kH264}),
    [](const ::testing::TestParamInfo<ChapterCase>& info) { return std::string(info.param.label); });

class OwnChaptersTest : public ::testing::TestWithParam<const char*> {
protected:
    ScratchFolder folder_{"quilmer-own-chapters"};
};

// A clip's own chapters come along, moved on to where the clip lies; its chapter at its very start
// is the clip's named chapter. --no-chapters leaves out both kinds.
TEST_P(OwnChaptersTest, AClipsOwnChaptersAreKeptMovedOnAndNoChaptersWritesNone) {
    const std::string method = GetParam();
    const std::string a = folder_.File("opening.mp4"), b = folder_.File("talk.mp4");
    ASSERT_TRUE(MakeMarkedClip(a, 2.0, "25", "160x120", kH264));
    ASSERT_TRUE(MakeMarkedClip(b, 3.0, "25", "160x120", kH264));
    ASSERT_TRUE(AddOwnChapters(a, {{0, "Start"}, {1.2, "Later"}}, 2.0));
    ASSERT_TRUE(AddOwnChapters(b, {{0, "Intro"}, {1.0, "Question"}, {2.4, "Answer"}}, 3.0));
    ASSERT_EQ(ChaptersOf(b).size(), 3u);

    const std::string out = folder_.File("joined.mp4");
    auto r = Join(method, out, {a, b});
    ASSERT_EQ(r.status, 0) << r.output;
    const std::vector<ReadChapter> chapters = ChaptersOf(out);
    const std::vector<double> flashes = FlashTimes(out);
    ASSERT_EQ(flashes.size(), 2u);
    std::vector<std::string> titles;
    for (const auto& chapter : chapters) titles.push_back(chapter.title);
    EXPECT_EQ(titles, (std::vector<std::string>{"opening", "Later", "talk", "Question", "Answer"}));
    if (chapters.size() == 5) {
        const double frame = 0.04 + 0.002;
        EXPECT_NEAR(chapters[0].start, flashes[0], frame);
        EXPECT_NEAR(chapters[1].start, flashes[0] + 1.2, frame);
        EXPECT_NEAR(chapters[2].start, flashes[1], frame);
        EXPECT_NEAR(chapters[3].start, flashes[1] + 1.0, frame);
        EXPECT_NEAR(chapters[4].start, flashes[1] + 2.4, frame);
    }

    const std::string bare = folder_.File("bare.mp4");
    r = Join(method, bare, {a, b}, false);
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_TRUE(ChaptersOf(bare).empty()) << "not even the first clip's own";
    EXPECT_NEAR(FileDuration(bare), 5.0, 0.15);
}

INSTANTIATE_TEST_SUITE_P(Methods, OwnChaptersTest, ::testing::Values("lossless", "single", "classic"));

}  // namespace
}  // namespace quilmer
