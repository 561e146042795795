// The adapter reads several files in one probe (the engine checks many clips with one start),
// and only in a probe.

#include "encoder/AdapterCommand.h"

#include <gtest/gtest.h>

namespace quilmer::adapter {
namespace {

TEST(AdapterProbeMany, SeveralInputsAreOneProbeAndEachReportBlockIsItsOwn) {
    OldCommand command;
    Kind kind;
    std::string error;
    ASSERT_TRUE(ParseOldCommand({"-i", "a.flv", "-i", "b c.wmv", "-i", "d.mp4"}, command, kind, error)) << error;
    EXPECT_EQ(kind, Kind::Probe);
    EXPECT_EQ(BuildModernArgs(command, kind),
              (std::vector<std::string>{"-hide_banner", "-nostdin", "-i", "a.flv", "-i", "b c.wmv", "-i", "d.mp4"}));

    EXPECT_FALSE(ParseOldCommand({"-i", "a.flv", "-i", "b.flv", "-sameq", "-f", "mpeg", "-y", "out.qjv"}, command,
                                 kind, error));
    EXPECT_NE(error.find("one input"), std::string::npos);

    // The block of a later input tells what that input holds.
    std::optional<ConvertVariant> v = VariantFromProbeReport(
        "Input #2, mp3, from 'input':\n  Duration: 00:00:04.00, start: 0.000000, bitrate: 128 kb/s\n"
        "  Stream #2:0: Audio: mp3, 44100 Hz, stereo, fltp, 128 kb/s\n");
    ASSERT_TRUE(v.has_value());
    EXPECT_TRUE(v->blackVideo);
    EXPECT_FALSE(v->silentAudio);
    EXPECT_EQ(v->durationSeconds, 4.0);
}

}  // namespace
}  // namespace quilmer::adapter
