#pragma once
// The real ffmpeg's argument vector of the one-pass join and the pieces it needs: the filter
// graph, the reading of "-progress pipe:1" output; and the muxer of each target format.

#include "media/EncoderCommands.h"
#include "media/TargetFormat.h"
#include "media/av/MediaInfo.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quilmer {

// The real encoder: QUILMER_REAL_FFMPEG (an absolute path) or /usr/bin/ffmpeg.
std::wstring RealFfmpegPath();

// ffmpeg's muxer of a target format: "mp4", "flv", "avi", "asf", "rm".
std::string MuxerFor(const TargetFormat& target);

// What a one-pass join makes: the first clip's frame (display size; 320x240 when it has no
// picture), its frame rate (20 when below 20, 25 when unknown), one sound format, and the
// target's codecs with the bit rates the final encode of the classic join takes from the first
// clip.
struct SingleTarget {
    int width = 320;
    int height = 240;
    std::string frameRate = "25";
    int sampleRate = 44100;
    std::string pixelFormat = "yuv420p";
    std::string channelLayout = "stereo";
    FinalEncodeParams params;
    std::string scaledFrom;  // "1280x720" when the format cannot carry the first clip's frame size
};
SingleTarget SingleTargetFor(const TargetFormat& target, const MediaInfo& first);

// How long a clip lasts in what the one-pass join makes of it, as far as its length tells: the
// length rounded up to a whole frame of `frameRate` ("25", "30000/1001"). The concat filter
// starts each clip where the longest stream of the one before ended, so a sound that runs on
// past the clip's length (an encoder's padding) may move the next clip on by a frame.
double SegmentSeconds(const MediaInfo& clip, const std::string& frameRate);

// The concat filter graph of clips (every clip brought to the target frame, letterboxed; silence
// for a clip without sound, black for one without picture), ending in [v] and [a].
std::string SingleFilterGraph(const std::vector<MediaInfo>& clips, const SingleTarget& target);

// The run of ffmpeg that encodes `clips` into `output`; the graph (SingleFilterGraph) is read
// from the file `graphScript`, so that no argument grows with the number of clips.
std::vector<std::wstring> SingleArgs(const std::wstring& ffmpeg, const std::vector<std::wstring>& clips,
                                     const std::wstring& graphScript, const std::wstring& output,
                                     const TargetFormat& target, const SingleTarget& t);

// How the clips of a one-pass join are split into runs of ffmpeg, each encoding a piece that the
// stream copy then joins: ffmpeg opens every input of a run at once, with its decoder and its
// read-ahead, so a run takes at most kMaxClipsPerRun clips and kMaxPixelsPerRun pixels of
// picture. Returns the number of clips in each run, in order.
constexpr std::size_t kMaxClipsPerRun = 32;
constexpr long long kMaxPixelsPerRun = 32LL * 640 * 480;
std::vector<std::size_t> SingleRuns(const std::vector<MediaInfo>& clips);

// What a second of each clip costs in the one-pass encode into t, relative to the others
// (OnePassClipCosts), for the time-left estimate.
std::vector<double> SingleClipCosts(const std::vector<MediaInfo>& clips, const TargetFormat& target,
                                    const SingleTarget& t);

// Reads "-progress pipe:1" output: keeps the unfinished last line between chunks and answers
// the furthest output time seen, in microseconds.
class ProgressReader {
public:
    // Feeds one chunk; returns the latest position when the chunk completed one.
    std::optional<std::int64_t> Feed(std::string_view chunk);

private:
    std::string partial_;
};

}  // namespace quilmer
