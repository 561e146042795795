// The final encode's view of byte-joined intermediates: where each one lies in the joined file,
// how many pictures it holds, and the concat list that lays them end to end.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "encoder/AdapterCommand.h"
#include "encoder/ProgramStreamScan.h"

namespace quilmer::adapter {
namespace {

using Bytes = std::vector<unsigned char>;

void PutTimestamp(Bytes& out, int prefix, std::int64_t ts) {
    out.push_back(static_cast<unsigned char>((prefix << 4) | (((ts >> 30) & 7) << 1) | 1));
    out.push_back(static_cast<unsigned char>(ts >> 22));
    out.push_back(static_cast<unsigned char>(((ts >> 15) & 0x7F) << 1 | 1));
    out.push_back(static_cast<unsigned char>(ts >> 7));
    out.push_back(static_cast<unsigned char>((ts & 0x7F) << 1 | 1));
}

void Pack(Bytes& out, std::int64_t clock) {
    out.insert(out.end(), {0, 0, 1, 0xBA});
    PutTimestamp(out, 2, clock);
    out.insert(out.end(), {0x80, 0x00, 0x01});  // mux rate
}

// An MPEG-1 packet of stream `id` with an optional presentation time.
void Packet(Bytes& out, unsigned char id, std::int64_t pts, const Bytes& payload) {
    Bytes header;
    if (pts >= 0) {
        PutTimestamp(header, 2, pts);
    } else {
        header.push_back(0x0F);
    }
    const std::size_t length = header.size() + payload.size();
    out.insert(out.end(),
               {0, 0, 1, id, static_cast<unsigned char>(length >> 8), static_cast<unsigned char>(length)});
    out.insert(out.end(), header.begin(), header.end());
    out.insert(out.end(), payload.begin(), payload.end());
}

Bytes SequenceHeader(int width, int height, int rateCode) {
    return {0,
            0,
            1,
            0xB3,
            static_cast<unsigned char>(width >> 4),
            static_cast<unsigned char>(((width & 15) << 4) | (height >> 8)),
            static_cast<unsigned char>(height),
            static_cast<unsigned char>(0x10 | rateCode),
            0xFF,
            0xFF,
            0xE0,
            0x00};
}

const Bytes kPicture = {0, 0, 1, 0x00, 0x00, 0x0F, 0xFF, 0xF8, 0, 0, 1, 0x01, 0x12, 0x34};

// One intermediate: `pictures` pictures at 25 fps, sound starting `soundLead` ticks before them.
Bytes Intermediate(int width, int height, int pictures, std::int64_t soundLead) {
    Bytes out;
    const std::int64_t start = 45000;  // the muxer's half-second preload
    Pack(out, 0);
    Packet(out, 0xC0, start - soundLead, {0xFF, 0xFD, 0x90, 0x00});
    Bytes first = SequenceHeader(width, height, 3);
    first.insert(first.end(), kPicture.begin(), kPicture.end());
    Packet(out, 0xE0, start, first);
    for (int i = 1; i < pictures; ++i) {
        if (i % 3 == 0) Pack(out, 300 * i);
        // Only some packets carry a time, as in real streams.
        Packet(out, 0xE0, i % 2 ? -1 : start + 3600 * i, kPicture);
    }
    out.insert(out.end(), {0, 0, 1, 0xB9});
    return out;
}

TEST(JoinedStream, FindsEachIntermediateAndItsPictures) {
    Bytes joined = Intermediate(96, 72, 5, 0);
    const std::size_t firstEnd = joined.size();
    Bytes second = Intermediate(180, 320, 1, 990);
    joined.insert(joined.end(), second.begin(), second.end());
    Bytes third = Intermediate(96, 72, 12, 0);
    joined.insert(joined.end(), third.begin(), third.end());

    auto parts = ScanProgramStream(joined.data(), joined.size());
    ASSERT_EQ(parts.size(), 3u);
    EXPECT_EQ(parts[0].begin, 0u);
    EXPECT_EQ(parts[0].end, firstEnd);
    EXPECT_EQ(parts[1].begin, firstEnd);
    EXPECT_EQ(parts[2].end, joined.size());
    EXPECT_EQ(parts[0].pictures, 5);
    EXPECT_EQ(parts[1].pictures, 1);
    EXPECT_EQ(parts[2].pictures, 12);
    EXPECT_EQ(parts[1].width, 180);
    EXPECT_EQ(parts[1].height, 320);
    EXPECT_EQ(parts[1].videoStart - parts[1].firstTimestamp, 990);
    EXPECT_DOUBLE_EQ(PictureSeconds(parts[0]), 0.2);

    // Each part lasts until the next one's pictures go on where its own stopped.
    std::string list = ConcatListFor("/v/it's.qjv", parts);
    EXPECT_EQ(list.rfind("ffconcat version 1.0\n", 0), 0u);
    EXPECT_NE(list.find("file 'subfile,,start,0,end," + std::to_string(firstEnd) +
                        ",,:/v/it'\\''s.qjv'\n"
                        "duration 0.189000\n"),
              std::string::npos)
        << list;
    EXPECT_NE(list.find("duration 0.051000\n"), std::string::npos) << list;
    EXPECT_EQ(list.substr(list.size() - 19), "\nduration 0.480000\n")
        << "the last part lasts as its pictures";
}

TEST(JoinedStream, AnythingElseIsNotLaidOut) {
    Bytes joined = Intermediate(96, 72, 3, 0);
    EXPECT_TRUE(ScanProgramStream(joined.data(), joined.size() - 9).empty()) << "a cut packet";
    Bytes junk = {'R', 'I', 'F', 'F', 0, 0, 0, 0};
    EXPECT_TRUE(ScanProgramStream(junk.data(), junk.size()).empty());
    EXPECT_TRUE(ScanProgramStream("/no/such/file.qjv").empty());
    auto parts = ScanProgramStream(joined.data(), joined.size());
    ASSERT_EQ(parts.size(), 1u);
    EXPECT_EQ(ConcatListFor("relative.qjv", parts), "");
    EXPECT_EQ(ConcatListFor("/odd,,:name.qjv", parts), "");
}

// The listing of a clip whose picture starts 2 s after its sound, with B-frames (pts before
// dts), a packet without a length and a picture stored turned a quarter.
TEST(JoinedStream, ClipLayoutFromItsPackets) {
    const std::string listing =
        "#tb 0: 1/1000\n#media_type 0: video\n#codec_id 0: h264\n#dimensions 0: 720x480\n#sar 0: 8/9\n"
        "#tb 1: 1/44100\n#media_type 1: audio\n"
        "1, 0, 0, 1024, 4, 0x0\n0, 1960, 2040, 40, 9, 0x0\n0, 2000, 2000, 40, 9, 0x0\n"
        "1, 352800, 352800, 1024, 4, 0x0\n0, 2040, 2080, 0, 9, 0x0\n";
    auto layout = LayoutFromPackets(listing, "");
    ASSERT_TRUE(layout);
    EXPECT_DOUBLE_EQ(layout->videoStart, 2.0);
    EXPECT_NEAR(layout->videoEnd, 2.12, 1e-9);  // the last picture lasts as long as the shortest step
    EXPECT_DOUBLE_EQ(layout->audioStart, 0.0);
    EXPECT_NEAR(layout->audioEnd, 8.0 + 1024.0 / 44100, 1e-9);
    EXPECT_NEAR(layout->Length(), 8.0232, 1e-3);
    EXPECT_EQ(layout->width, 640);  // square pixels
    EXPECT_EQ(layout->height, 480);
    auto turned = LayoutFromPackets(listing, "    displaymatrix: rotation of -90.00 degrees\n");
    ASSERT_TRUE(turned);
    EXPECT_EQ(turned->width, 480);
    EXPECT_EQ(turned->height, 640);

    ClipLayout padded = *layout;
    padded.audioEnd = padded.videoEnd + 0.05;  // an MP3's last frame, padded out
    EXPECT_DOUBLE_EQ(padded.End(), padded.videoEnd);
    padded.audioEnd = padded.videoEnd + 1;
    EXPECT_DOUBLE_EQ(padded.End(), padded.videoEnd + 1);
    padded.audioStart = padded.videoStart - 0.05;  // the codec's priming before the first picture
    EXPECT_DOUBLE_EQ(padded.Start(), padded.videoStart);

    auto soundOnly = LayoutFromPackets("#tb 0: 1/1000\n#media_type 0: audio\n0, 500, 500, 26, 4, 0x0\n", "");
    ASSERT_TRUE(soundOnly);
    EXPECT_LT(soundOnly->videoStart, 0);
    EXPECT_DOUBLE_EQ(soundOnly->Start(), 0.5);
    EXPECT_FALSE(LayoutFromPackets("Output file #0 does not contain any stream\n", ""));
}

}  // namespace
}  // namespace quilmer::adapter
