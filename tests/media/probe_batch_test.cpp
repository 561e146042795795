// Probing many clips with few encoder starts: the report of several inputs is split per input,
// a file the encoder gives up on fails alone, and a stop or a stuck file ends the runs in time.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "media/CancelFlag.h"
#include "media/ClipProbe.h"
#include "media/ProbeParser.h"
#include "tests/support/ScratchFolder.h"

namespace quilmer {
namespace {

using Clock = std::chrono::steady_clock;

TEST(ProbeReport, ASeveralInputReportSplitsPerInputWithoutTheComplaints) {
    const std::string report =
        "Input #0, flv, from 'input':\n"
        "  Duration: 00:00:01.02, start: 0.000000, bitrate: 327 kb/s\n"
        "  Stream #0:0: Video: flv1, yuv420p, 160x120, 200 kb/s, 25 fps, 25 tbr, 1k tbn\n"
        "Input #1, avi, from 'input':\n"
        "  Duration: 00:00:02.00, start: 0.000000, bitrate: 100 kb/s\n"
        "  Stream #1:0: Audio: mp3, 44100 Hz, mono, fltp, 64 kb/s\n"
        "notes.txt: Invalid data found when processing input\n";
    std::map<std::size_t, std::string> inputs = SplitProbeReport(report);
    ASSERT_EQ(inputs.size(), 2u);
    ClipProperties first, second;
    EXPECT_TRUE(ParseProbeOutput(first, inputs[0]));
    EXPECT_TRUE(ParseProbeOutput(second, inputs[1]));  // the third input's complaint is not its
    EXPECT_EQ(first.format, L"flv");
    EXPECT_EQ(first.duration, L"00:00:01.02");
    EXPECT_EQ(first.resolution, L"160x120 pixels");
    EXPECT_EQ(second.format, L"avi");
    EXPECT_EQ(second.duration, L"00:00:02.00");
    EXPECT_EQ(second.audioCodec, L"mp3");
    EXPECT_TRUE(second.resolution.empty());
}

class ProbeBatchTest : public ::testing::Test {
protected:
    test::ScratchFolder dir{"probe-batch"};

    void SetUp() override {
        // Answers like ffmpeg: a report per input in order, until a file it cannot read (its
        // name holds "bad") or one it hangs on ("stuck"). Each start is logged.
        std::ofstream(dir.Native("encoder")) << "#!/bin/bash\n"
                                                "echo \"$*\" >> '"
                                             << dir.Native("starts") << "'\n"
                                                "k=0\n"
                                                "while [ $# -gt 0 ]; do\n"
                                                "  if [ \"$1\" = -i ]; then\n"
                                                "    case \"$2\" in\n"
                                                "      *bad*) echo \"$2: Invalid data found when processing input\"; exit 1;;\n"
                                                "      *stuck*) exec sleep 600;;\n"
                                                "    esac\n"
                                                "    echo \"Input #$k, flv, from '$2':\"\n"
                                                "    echo \"  Duration: 00:00:0$((k % 10)).00, start: 0.000000, bitrate: 1 kb/s\"\n"
                                                "    k=$((k + 1)); shift\n"
                                                "  fi\n"
                                                "  shift\n"
                                                "done\n"
                                                "echo 'At least one output file must be specified'; exit 1\n";
        chmod(dir.Native("encoder").c_str(), 0755);
    }

    std::wstring Clip(const std::string& name) {
        std::ofstream(dir.Native(name)) << name;
        return dir.Wide(name);
    }

    int Starts() {
        std::ifstream in(dir.Native("starts"));
        int lines = 0;
        for (std::string line; std::getline(in, line);) ++lines;
        return lines;
    }
};

TEST_F(ProbeBatchTest, ManyClipsTakeOneStartAndAFileTheEncoderRefusesFailsAlone) {
    std::vector<std::wstring> paths;
    for (int i = 0; i < 10; ++i) paths.push_back(Clip("clip" + std::to_string(i) + ".flv"));
    std::vector<ClipProperties> records;
    std::vector<bool> probed = ProbeClips(paths, records, dir.Wide("encoder"));
    EXPECT_EQ(probed, std::vector<bool>(10, true));
    EXPECT_EQ(Starts(), 1);
    EXPECT_EQ(records[3].path, paths[3]);
    EXPECT_EQ(records[3].duration, L"00:00:03.00");  // each record is its own input's

    std::remove(dir.Native("starts").c_str());
    paths = {Clip("a.flv"), Clip("bad.txt"), Clip("c.flv"), dir.Wide("missing.flv"), Clip("d.flv")};
    probed = ProbeClips(paths, records, dir.Wide("encoder"));
    EXPECT_EQ(probed, (std::vector<bool>{true, false, true, false, true}));
    EXPECT_EQ(records[2].duration, L"00:00:00.00");  // the first input of the second start
    EXPECT_EQ(records[4].path, paths[4]);
    EXPECT_LE(Starts(), 3);
}

TEST_F(ProbeBatchTest, AStuckFileFailsAtTheTimeLimitAndTheRestIsStillProbed) {
    std::vector<std::wstring> paths = {Clip("a.flv"), Clip("stuck.flv"), Clip("c.flv")};
    std::vector<ClipProperties> records;
    auto start = Clock::now();
    std::vector<bool> probed = ProbeClips(paths, records, dir.Wide("encoder"), nullptr, std::chrono::milliseconds(500));
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(30));
    EXPECT_EQ(probed, (std::vector<bool>{true, false, true}));
}

TEST_F(ProbeBatchTest, AStopEndsTheProbesAtOnce) {
    std::vector<std::wstring> paths = {Clip("a.flv"), Clip("stuck.flv"), Clip("c.flv")};
    std::vector<ClipProperties> records;
    CancelFlag cancel;
    std::thread stopper([&] {
        auto end = Clock::now() + std::chrono::seconds(20);
        while (Starts() == 0 && Clock::now() < end) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        cancel.Request();
    });
    auto start = Clock::now();
    std::vector<bool> probed = ProbeClips(paths, records, dir.Wide("encoder"), &cancel);  // the 30 s limit
    stopper.join();
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(25));
    EXPECT_FALSE(probed[1]);
    EXPECT_FALSE(probed[2]);
    EXPECT_EQ(Starts(), 1);
}

}  // namespace
}  // namespace quilmer
