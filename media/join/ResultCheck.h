#pragma once
// The last look at a join's output before it counts as made: it must read back as media as long
// as the clips that went into it. An encoder that died part-way leaves a file without a duration
// (AVI without its index, MP4 without its header) or a short one; a conversion that dropped part
// of a clip leaves it short by that part.

#include "media/ClipProperties.h"

#include <optional>
#include <string>
#include <vector>

namespace quilmer {

// Seconds of a probe's duration field ("00:01:02.50"); nullopt when absent, "N/A" or malformed.
std::optional<double> DurationSeconds(const std::wstring& field);

// One clip of a join and how long it lasts (its longest stream).
struct ClipLength {
    std::wstring clip;
    double seconds = 0;
};

// What the output must last: the clips' lengths, each allowed to come out `slackPerClip` seconds
// shorter (one frame at each boundary: the output's frame for a re-encode, the source's for a
// copy). `complete` is false when a clip's length is unknown; then any positive length passes.
struct ExpectedLength {
    std::vector<ClipLength> clips;
    double slackPerClip = 0.1;
    bool complete = true;
    // The output shows a picture from its start to its end (a re-encode makes one for every
    // clip: black for a clip without); a copy may not.
    bool picture = false;
    double Total() const;
};

// Where an output's picture lies, from its packets: seconds from the output's first packet of
// picture or sound.
struct OutputPicture {
    bool measured = false;  // false: not looked at, only the length is checked
    bool present = false;
    double start = 0;
    double end = 0;
};

// The slack of a re-encode: one frame of the output's rate (its probed frameRate), and some for
// where the sound codec's last packet ends.
double ReencodeSlackPerClip(const ClipProperties& result);

// Empty when the result is acceptable, otherwise why not. `probed` is whether the output could be
// probed at all. A shortfall beyond the slack fails and names the clip when one clip's whole
// length is missing; an output much longer than the clips (10 %, at least 1.5 s) fails too.
// When the output must show a picture and `picture` was measured, a missing picture, a first
// picture later than the slack of one clip (and the sound codec's priming) after the output's
// start, or a last one ending more than that slack before the output does, fails as well.
std::wstring CheckJoinResult(const ClipProperties& result, bool probed, const ExpectedLength& expected,
                             const OutputPicture& picture = {});

// The same with only the clips' total (nullopt: unknown), with the slack of a re-encode.
std::wstring CheckJoinResult(const ClipProperties& result, bool probed, std::optional<double> expectedSeconds);

}  // namespace quilmer
