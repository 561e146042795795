#include "media/join/methods/Compatibility.h"

#include "foundation/FileUtil.h"
#include "foundation/Strings.h"
#include "foundation/TextTranslator.h"
#include "media/join/JoinFiles.h"
#include "media/join/methods/JoinMethod.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numeric>

namespace quilmer {

namespace {

std::wstring W(const std::string& text) { return WidePath(text); }

std::wstring Size(const VideoInfo& v) { return std::to_wstring(v.width) + L"x" + std::to_wstring(v.height); }

std::wstring Fps(const std::string& rate) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.4g fps", FractionValue(rate));
    return W(buffer);
}

std::wstring Channels(int channels) {
    if (channels == 1) return L"mono";
    if (channels == 2) return L"stereo";
    return std::to_wstring(channels) + L" channels";
}

std::wstring Hz(int rate) { return std::to_wstring(rate) + L" Hz"; }

// Aspect ratios that mean "square pixels or unknown" compare equal.
std::string Aspect(const std::string& sar) { return (sar.empty() || sar == "0:1" || sar == "1:1") ? "1:1" : sar; }

int Degrees(int rotation) { return ((rotation % 360) + 360) % 360; }

// The container as the user knows it: "mp4" for all of QuickTime's family.
std::string Container(const std::string& name) {
    std::string first = name.substr(0, name.find(','));
    if (first == "mov") return "mp4";
    if (first == "asf") return "wmv";
    if (first == "rm") return "rmvb";
    return first;
}

// Two frame rates are one when they are the same fraction or differ by less than 1 in 10,000:
// 30000/1001 and 2997/100 (29.97) are the same rate written two ways; a frame takes the same
// time to within a tick of any clock a container keeps.
bool SameRate(const std::string& a, const std::string& b) {
    const double x = FractionValue(a), y = FractionValue(b);
    if (x <= 0 || y <= 0) return a == b;
    return std::fabs(x - y) <= 1e-4 * std::max(x, y);
}

std::wstring RateText(const std::string& rate, const std::string& other) {
    std::wstring text = Fps(rate);
    // Rates that show alike but differ are told by their fractions.
    if (text == Fps(other) && rate != other) text += L" (" + W(rate) + L")";
    return text;
}

std::wstring Known(const std::string& value) { return value.empty() ? Tr(L"unknown") : W(value); }

std::wstring ColourText(const VideoInfo& v) {
    return Known(v.colorRange) + L", " + Known(v.colorPrimaries) + L", " + Known(v.colorTransfer) + L", " +
           Known(v.colorSpace);
}

bool SameColour(const VideoInfo& a, const VideoInfo& b) {
    return a.colorRange == b.colorRange && a.colorPrimaries == b.colorPrimaries &&
           a.colorTransfer == b.colorTransfer && a.colorSpace == b.colorSpace;
}

// Codecs whose packets mean nothing without their setup data: one clip with it and one without
// hold their streams in two forms (length-prefixed and start-coded H.264; AAC in MP4 and ADTS).
bool NeedsSetup(const std::string& codec) { return codec == "h264" || codec == "hevc" || codec == "aac"; }

bool SameSetup(const std::string& a, const std::string& b, const std::string& codec) {
    if (!a.empty() && !b.empty()) return a == b;
    return a.empty() == b.empty() || !NeedsSetup(codec);
}

bool SameVideoSetup(const VideoInfo& a, const VideoInfo& b) {
    if (!a.setupCore.empty() && !b.setupCore.empty()) return a.setupCore == b.setupCore;
    return SameSetup(a.setup, b.setup, a.codec);
}

// "a subtitle stream (mov_text), a data stream"; "" when there are none. Cover pictures do not count.
std::wstring OthersText(const MediaInfo& info) {
    std::wstring text;
    for (const OtherStream& s : info.others) {
        if (s.coverPicture) continue;
        std::wstring one = s.kind == "subtitle"     ? Tr(L"a subtitle stream")
                           : s.kind == "video"      ? Tr(L"another picture stream")
                           : s.kind == "audio"      ? Tr(L"another sound stream")
                           : s.kind == "attachment" ? Tr(L"an attached file")
                                                    : Tr(L"a data stream");
        if (!s.codec.empty()) one += L" (" + W(s.codec) + L")";
        if (!text.empty()) text += L", ";
        text += one;
    }
    return text;
}

std::wstring ActionText(ClipAction action) {
    switch (action) {
    case ClipAction::Copy: return Tr(L"it is copied as it is");
    case ClipAction::ReEncode: return Tr(L"this clip is re-encoded");
    case ClipAction::AddSilence: return Tr(L"silence is added in its place");
    case ClipAction::AddBlack: return Tr(L"black is shown in its place");
    }
    return {};
}

class Comparer {
public:
    Comparer(const MediaInfo& clip, const MediaInfo& reference, const TargetFormat& target)
        : c_(clip), r_(reference), target_(target) {}

    // Everything, the clip's own matters (what the target holds, how it starts) included.
    std::vector<ClipDifference> All(bool isReference) {
        OwnMatters();
        if (!isReference) Against();
        Others();
        return std::move(found_);
    }

    // Whether the clip can be copied with the reference, its own matters left aside.
    bool Matches() {
        Against();
        return std::none_of(found_.begin(), found_.end(), [](const ClipDifference& d) { return d.StandsInTheWay(); });
    }

private:
    void Add(ClipProperty property, std::wstring name, std::wstring reference, std::wstring clip,
             std::wstring sentence, ClipAction action) {
        found_.push_back({property, std::move(name), std::move(reference), std::move(clip),
                          std::move(sentence) + L" " + ActionText(action) + L".", action});
    }

    // "Its frame size is 1280x720 where the reference clip has 640x360, so this clip is re-encoded."
    void Differs(ClipProperty property, const std::wstring& name, const std::wstring& reference,
                 const std::wstring& clip, ClipAction action = ClipAction::ReEncode) {
        const std::wstring text =
            action == ClipAction::Copy
                ? FormatW(TrFormat(L"Its %ls is %ls where the reference clip has %ls; that does not stand in the way:").c_str(),
                          name.c_str(), clip.c_str(), reference.c_str())
                : FormatW(TrFormat(L"Its %ls is %ls where the reference clip has %ls, so").c_str(), name.c_str(),
                          clip.c_str(), reference.c_str());
        found_.push_back({property, name, reference, clip, text + L" " + ActionText(action) + L".", action});
    }

    void OwnMatters() {
        auto cannotHold = [this](const std::wstring& kind, const std::string& codec) {
            Add(ClipProperty::TargetHolds, kind, {}, W(codec),
                FormatW(TrFormat(L"The %ls container cannot hold its %ls codec %ls, so").c_str(),
                        ContainerDisplayName(target_).c_str(), kind.c_str(), W(codec).c_str()),
                ClipAction::ReEncode);
        };
        if (c_.video && !ContainerHoldsVideo(target_, c_.video->codec)) cannotHold(Tr(L"video"), c_.video->codec);
        if (c_.audio && !ContainerHoldsAudio(target_, c_.audio->codec)) cannotHold(Tr(L"sound"), c_.audio->codec);
        if (c_.video && !c_.startsOnKeyFrame)
            Add(ClipProperty::FirstPicture, Tr(L"first picture"), {}, {},
                Tr(L"It starts on a picture that is not a key frame (it was cut without re-encoding), so"),
                ClipAction::ReEncode);
    }

    void Against() {
        const std::wstring hasOne = Tr(L"has one"), hasNone = Tr(L"has none");
        if (c_.video.has_value() != r_.video.has_value()) {
            if (c_.video)
                Add(ClipProperty::Picture, Tr(L"picture"), hasNone, hasOne,
                    Tr(L"It has a picture where the reference clip has none, so"), ClipAction::ReEncode);
            else
                Add(ClipProperty::Picture, Tr(L"picture"), hasOne, hasNone,
                    Tr(L"It has no picture where the reference clip has one, so"), ClipAction::AddBlack);
        }
        if (c_.audio.has_value() != r_.audio.has_value()) {
            if (c_.audio)
                Add(ClipProperty::Sound, Tr(L"sound"), hasNone, hasOne,
                    Tr(L"It has sound where the reference clip has none, so"), ClipAction::ReEncode);
            else
                Add(ClipProperty::Sound, Tr(L"sound"), hasOne, hasNone,
                    Tr(L"It has no sound where the reference clip has some, so"), ClipAction::AddSilence);
        }
        if (Container(c_.container) != Container(r_.container))
            Differs(ClipProperty::Container, Tr(L"container"), W(Container(r_.container)), W(Container(c_.container)),
                    ClipAction::Copy);
        if (c_.video && r_.video) Video(*c_.video, *r_.video);
        if (c_.audio && r_.audio) Audio(*c_.audio, *r_.audio);
    }

    void Video(const VideoInfo& v, const VideoInfo& f) {
        if (v.codec != f.codec) {
            // Nothing else of the picture can be compared across codecs.
            Differs(ClipProperty::VideoCodec, Tr(L"video codec"), W(f.codec), W(v.codec));
            return;
        }
        if (v.profile != f.profile) Differs(ClipProperty::Profile, Tr(L"video profile"), W(f.profile), W(v.profile));
        if (v.level != f.level && !v.level.empty() && !f.level.empty())
            Differs(ClipProperty::Level, Tr(L"video level"), W(f.level), W(v.level), ClipAction::Copy);
        if (v.width != f.width || v.height != f.height) Differs(ClipProperty::FrameSize, Tr(L"frame size"), Size(f), Size(v));
        if (v.pixelFormat != f.pixelFormat)
            Differs(ClipProperty::PixelFormat, Tr(L"pixel format"), Known(f.pixelFormat), Known(v.pixelFormat));
        if (Aspect(v.aspect) != Aspect(f.aspect))
            Differs(ClipProperty::PixelAspect, Tr(L"pixel aspect ratio"), W(Aspect(f.aspect)), W(Aspect(v.aspect)));
        if (Degrees(v.rotation) != Degrees(f.rotation))
            Differs(ClipProperty::Rotation, Tr(L"rotation"), std::to_wstring(Degrees(f.rotation)) + L"\u00b0",
                    std::to_wstring(Degrees(v.rotation)) + L"\u00b0");
        if (!SameRate(v.frameRate, f.frameRate))
            Differs(ClipProperty::FrameRate, Tr(L"frame rate"), RateText(f.frameRate, v.frameRate),
                    RateText(v.frameRate, f.frameRate));
        // An order the stream does not state is not told apart from any other.
        if (v.fieldOrder != f.fieldOrder && !v.fieldOrder.empty() && !f.fieldOrder.empty())
            Differs(ClipProperty::FieldOrder, Tr(L"field order"), W(f.fieldOrder), W(v.fieldOrder));
        if (!SameColour(v, f)) Differs(ClipProperty::Colour, Tr(L"colour properties"), ColourText(f), ColourText(v));
        if (!SameVideoSetup(v, f))
            Add(ClipProperty::VideoSetup, Tr(L"video codec setup data"), W(f.setup), W(v.setup),
                Tr(L"Its video codec setup data differ from the reference clip's (the stream was encoded with other "
                   L"settings), so"),
                ClipAction::ReEncode);
    }

    void Audio(const AudioInfo& a, const AudioInfo& f) {
        if (a.codec != f.codec) {
            Differs(ClipProperty::SoundCodec, Tr(L"sound codec"), W(f.codec), W(a.codec));
            return;
        }
        if (a.profile != f.profile)
            Differs(ClipProperty::SoundProfile, Tr(L"sound profile"), Known(f.profile), Known(a.profile));
        if (a.sampleRate != f.sampleRate) Differs(ClipProperty::SampleRate, Tr(L"sample rate"), Hz(f.sampleRate), Hz(a.sampleRate));
        if (a.channels != f.channels) {
            Differs(ClipProperty::Channels, Tr(L"sound channels"), Channels(f.channels), Channels(a.channels));
        } else if (a.channelLayout != f.channelLayout && !a.channelLayout.empty() && !f.channelLayout.empty()) {
            // Two channels in no stated order are the same as stereo: only stated layouts count.
            Differs(ClipProperty::ChannelLayout, Tr(L"channel layout"), W(f.channelLayout), W(a.channelLayout));
        }
        if (a.sampleFormat != f.sampleFormat && !a.sampleFormat.empty() && !f.sampleFormat.empty())
            Differs(ClipProperty::SampleFormat, Tr(L"sample format"), W(f.sampleFormat), W(a.sampleFormat));
        if (!SameSetup(a.setup, f.setup, a.codec))
            Add(ClipProperty::SoundSetup, Tr(L"sound codec setup data"), W(f.setup), W(a.setup),
                Tr(L"Its sound codec setup data differ from the reference clip's (the sound was encoded with other "
                   L"settings), so"),
                ClipAction::ReEncode);
    }

    void Others() {
        const std::wstring mine = OthersText(c_);
        if (mine.empty()) return;
        const std::wstring theirs = OthersText(r_);
        found_.push_back({ClipProperty::OtherStreams, Tr(L"other streams"), theirs.empty() ? Tr(L"none") : theirs, mine,
                          FormatW(TrFormat(L"It also holds %ls, which the join leaves out; the rest is copied.").c_str(),
                                  mine.c_str()),
                          ClipAction::Copy});
    }

    const MediaInfo& c_;
    const MediaInfo& r_;
    const TargetFormat& target_;
    std::vector<ClipDifference> found_;
};

// The first clip, unless more clips can be copied with another one.
std::size_t ChooseReference(const std::vector<MediaInfo>& infos) {
    std::vector<std::size_t> matching(infos.size(), 0);
    const TargetFormat none;
    auto count = [&](std::size_t i) {
        for (std::size_t j = 0; j < infos.size(); ++j)
            if (i == j || Comparer(infos[j], infos[i], none).Matches()) ++matching[i];
    };
    // Most lists are matched by their first clip: no other can be matched by more.
    count(0);
    if (matching[0] * 2 > infos.size()) return 0;
    for (std::size_t i = 1; i < infos.size(); ++i) count(i);
    std::size_t best = 0;
    for (std::size_t i = 1; i < infos.size(); ++i)
        if (matching[i] > matching[best]) best = i;
    return best;
}

}  // namespace

bool ClipCompatibility::Copyable() const {
    return std::none_of(differences.begin(), differences.end(),
                        [](const ClipDifference& d) { return d.StandsInTheWay(); });
}

bool CompatibilityReport::Lossless() const { return !clips.empty() && OddClips() == 0; }

std::size_t CompatibilityReport::OddClips() const {
    return static_cast<std::size_t>(
        std::count_if(clips.begin(), clips.end(), [](const ClipCompatibility& c) { return !c.Copyable(); }));
}

std::wstring CompatibilityReport::Summary() const {
    if (clips.empty()) return Tr(L"There are no clips to compare.");
    const std::wstring container = ContainerDisplayName(target);
    if (Lossless())
        return clips.size() == 1
                   ? FormatW(TrFormat(L"The clip can be copied without re-encoding into one %ls file.").c_str(),
                             container.c_str())
                   : FormatW(TrFormat(L"All %d clips match: they can be joined without re-encoding into one %ls file.").c_str(),
                             static_cast<int>(clips.size()), container.c_str());
    return FormatW(TrFormat(L"%d of %d clips cannot be copied as they are into one %ls file: the join re-encodes.").c_str(),
                   static_cast<int>(OddClips()), static_cast<int>(clips.size()), container.c_str());
}

std::vector<std::wstring> CompatibilityReport::Lines() const {
    std::vector<std::wstring> lines = {Summary()};
    if (clips.empty()) return lines;
    const std::wstring referenceName = ClipFileName(clips[reference].path);
    lines.push_back(reference == 0
                        ? FormatW(TrFormat(L"The reference clip is the first one, %ls.").c_str(), referenceName.c_str())
                        : FormatW(TrFormat(L"The reference clip is %ls, which most clips match.").c_str(),
                                  referenceName.c_str()));
    for (std::size_t i = 0; i < clips.size(); ++i) {
        const ClipCompatibility& clip = clips[i];
        const std::wstring name = std::to_wstring(i + 1) + L". " + ClipFileName(clip.path);
        if (clip.differences.empty()) {
            lines.push_back(clip.isReference ? FormatW(TrFormat(L"%ls: the reference clip.").c_str(), name.c_str())
                                             : FormatW(TrFormat(L"%ls: matches the reference clip.").c_str(), name.c_str()));
            continue;
        }
        lines.push_back(name + L":");
        for (const ClipDifference& d : clip.differences) lines.push_back(L"  - " + d.sentence);
    }
    return lines;
}

CompatibilityReport CompareClips(const std::vector<std::wstring>& clips, const std::vector<MediaInfo>& infos,
                                 const TargetFormat& target, ReferenceRule rule) {
    CompatibilityReport report;
    report.target = target;
    if (clips.empty() || clips.size() != infos.size()) return report;
    report.reference = rule == ReferenceRule::First ? 0 : ChooseReference(infos);
    const MediaInfo& reference = infos[report.reference];
    for (std::size_t i = 0; i < infos.size(); ++i) {
        ClipCompatibility clip;
        clip.path = clips[i];
        clip.isReference = i == report.reference;
        clip.differences = Comparer(infos[i], reference, target).All(clip.isReference);
        report.clips.push_back(std::move(clip));
    }
    return report;
}

TargetFormat AssumedTarget(const std::vector<std::wstring>& clips, const TargetFormat& fallback) {
    TargetFormat own = clips.empty() ? TargetFormat() : TargetFormatForPath(clips.front());
    return own.empty() ? fallback : own;
}

std::wstring ContainerDisplayName(const TargetFormat& target) {
    if (target == L"mp4") return L"MP4";
    if (target == L"flv") return L"FLV";
    if (target == L"avi") return L"AVI";
    if (target == L"wmv") return L"WMV";
    if (target == L"rmvb") return L"RealMedia";
    return target;
}

std::wstring ClipFileName(const std::wstring& path) {
    std::wstring folder = FolderOf(path);
    return path.substr(std::min(folder.size(), path.size()));
}

}  // namespace quilmer
