#pragma once
// What a look into one file found: the first picture stream (a cover picture does not count),
// the first sound stream, the length and the container. The direct join methods decide and
// build their commands from this; every join takes a clip's length from it.

#include "media/ClipProperties.h"
#include "media/join/ResultCheck.h"
#include "media/join/Chapters.h"

#include <optional>
#include <string>
#include <vector>

namespace quilmer {

struct VideoInfo {
    std::string codec;       // "h264", "flv1", ...
    std::string profile;     // "High", "" when unknown
    int width = 0;
    int height = 0;
    std::string pixelFormat;  // "yuv420p"
    std::string frameRate;    // r_frame_rate as a fraction, "25/1", "30000/1001"
    std::string timeBase;     // "1/12800"
    std::string aspect;       // sample aspect ratio, "1:1" ("" or "0:1" when unknown)
    std::string setup;        // the codec's setup data (extradata) as a hash, "" when none
    int rotation = 0;         // degrees the picture is turned for display
    int index = 0;            // the stream's number in the file (a cover picture may come first)
    double start = 0;         // seconds: the stream's first timestamp, on the file's clock
    std::string level;        // "3.1" for H.264 and HEVC, the codec's number otherwise; "" when unknown
    std::string fieldOrder;   // "progressive", "tt", "bb", "tb", "bt"; "" when unknown
    // Colour: libavutil's names ("tv", "bt709", ...), "" when the stream does not say.
    std::string colorRange, colorPrimaries, colorTransfer, colorSpace;
    // The hash of what in the setup data decides the decoding (H.264 only, else "";
    // H264DecodingSetupHash): streams that differ only in their level, clock or display hints
    // decode alike with either's setup.
    std::string setupCore;
};

struct AudioInfo {
    std::string codec;  // "aac", "mp3"
    int sampleRate = 0;
    int channels = 0;
    long long bitRate = 0;  // bits/s, 0 when unknown
    int index = 0;          // the stream's number in the file
    double start = 0;       // seconds: the stream's first timestamp, on the file's clock
    std::string profile;        // "LC", "HE-AAC", "" when unknown
    std::string channelLayout;  // "stereo", "5.1(side)"; "" when only the count is known
    std::string sampleFormat;   // "fltp", "s16"; "" when unknown
    std::string setup;          // the codec's setup data as a hash, "" when none
};

// A stream the joins leave out: not the first picture or the first sound.
struct OtherStream {
    std::string kind;   // "subtitle", "data", "attachment", "video", "audio"
    std::string codec;  // "mov_text", "" when libav does not name it
    bool coverPicture = false;
    int index = 0;
};

struct MediaInfo {
    std::string container;  // libavformat's format name, "mov,mp4,m4a,3gp,3g2,mj2", "flv"
    // Seconds the clip really holds, from the first shown packet of its picture or sound to the
    // end of the last whole one (0 when unknown); a partial download holds less than its header
    // says, and the rest is not joined.
    double duration = 0;
    double headerDuration = 0;  // the length the header gives, seconds (0 when it gives none)
    // Where the picture's packets begin and end, seconds from the first shown packet of picture
    // or sound (-1: no picture packet).
    double pictureFrom = -1;
    double pictureTo = -1;
    bool holdsPackets = true;   // false: not one whole packet of picture or sound
    // false: the first picture shown is not a key frame (a part cut without re-encoding, whose
    // edit list hides the frames it is built from), so a stream copy would start on pictures
    // that cannot be decoded.
    bool startsOnKeyFrame = true;
    long long bitRate = 0;  // overall bits/s, 0 when unknown
    std::optional<VideoInfo> video;
    std::optional<AudioInfo> audio;
    std::vector<OtherStream> others;  // in file order
    std::vector<ChapterMark> chapters;  // the file's own chapters, from its start
};

// Whether the clip holds noticeably less than its header gives (more than half a second).
bool HoldsLessThanHeader(const MediaInfo& info);

// Frames per second of a fraction like "30000/1001"; 0 when it is not a positive fraction.
double FractionValue(const std::string& fraction);

// The record the front ends show for a file, in the shape of the adapter's probe.
ClipProperties PropertiesFromMediaInfo(const std::wstring& path, const MediaInfo& info);

// Where the file's picture lies, for the result check.
OutputPicture PictureOf(const MediaInfo& info);

// "00:01:02.50"
std::wstring ClockText(double seconds);

}  // namespace quilmer
