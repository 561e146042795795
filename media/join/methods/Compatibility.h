#pragma once
// The compatibility report of a clip list: every clip compared with a reference clip on every
// property that decides whether the clips can be joined by copying their packets, each
// difference told in one plain sentence with what the join does about it.
//
// The reference is the first clip, unless more clips match another one (the first is then the
// odd one out, and the clip most others match is the reference). A difference "stands in the
// way" of a stream copy only when copying would really go wrong: a stream the decoder cannot
// read on with the first clip's setup, a picture shown turned, stretched or in other colours, a
// sound played at another speed, sound or picture missing. Rates written differently
// (30000/1001 and 2997/100) are the same rate; a level that differs while the rest of the
// setup data is alike does not stand in the way.

#include "media/TargetFormat.h"
#include "media/av/MediaInfo.h"

#include <cstddef>
#include <string>
#include <vector>

namespace quilmer {

enum class ClipProperty {
    TargetHolds,  // the output's container cannot hold the clip's codec
    FirstPicture,  // the clip starts on a picture that is not a key frame
    Picture,       // one has a picture, the other none
    Sound,         // one has sound, the other none
    Container,
    VideoCodec,
    Profile,
    Level,
    FrameSize,
    PixelFormat,
    PixelAspect,
    Rotation,
    FrameRate,
    FieldOrder,
    Colour,
    VideoSetup,
    SoundCodec,
    SoundProfile,
    SampleRate,
    Channels,
    ChannelLayout,
    SampleFormat,
    SoundSetup,
    OtherStreams,  // subtitle, data or further streams, which the joins leave out
};

// What the join does about a difference.
enum class ClipAction {
    Copy,        // nothing: the clip is copied as it is
    ReEncode,    // the clip is re-encoded to the reference's form
    AddSilence,  // the clip has no sound: silence is put in its place
    AddBlack,    // the clip has no picture: black is shown in its place
};

struct ClipDifference {
    ClipProperty property;
    std::wstring name;            // the property as the user reads it, translated: "frame size"
    std::wstring referenceValue;  // "640x360"
    std::wstring clipValue;       // "1280x720"
    std::wstring sentence;        // one translated sentence, ending with what the join does
    ClipAction action = ClipAction::Copy;
    bool StandsInTheWay() const { return action != ClipAction::Copy; }
};

struct ClipCompatibility {
    std::wstring path;
    bool isReference = false;
    std::vector<ClipDifference> differences;  // every one, in the order of ClipProperty
    // Whether nothing stands in the way of copying this clip with the reference.
    bool Copyable() const;
};

enum class ReferenceRule { FirstOrMajority, First };

struct CompatibilityReport {
    TargetFormat target;
    std::size_t reference = 0;  // index of the reference clip
    std::vector<ClipCompatibility> clips;
    // Whether the clips can be joined by stream copy into the target.
    bool Lossless() const;
    // How many clips cannot be copied with the reference.
    std::size_t OddClips() const;
    // One line: "All 3 clips match: they can be joined without re-encoding into an MP4 file."
    std::wstring Summary() const;
    // The whole report, a line each: the summary, the reference, then each clip's differences.
    std::vector<std::wstring> Lines() const;
};

// `clips` are the paths (for the names), `infos` their probes in the same order.
CompatibilityReport CompareClips(const std::vector<std::wstring>& clips, const std::vector<MediaInfo>& infos,
                                 const TargetFormat& target, ReferenceRule rule = ReferenceRule::FirstOrMajority);

// The output format a report assumes when none is chosen yet: the first clip's own (by its
// extension), else `fallback`.
TargetFormat AssumedTarget(const std::vector<std::wstring>& clips, const TargetFormat& fallback);

// "MP4", "FLV", "AVI", "WMV", "RealMedia".
std::wstring ContainerDisplayName(const TargetFormat& target);

// A clip's file name without its folder.
std::wstring ClipFileName(const std::wstring& path);

}  // namespace quilmer
