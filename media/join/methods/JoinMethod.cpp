#include "media/join/methods/JoinMethod.h"

#include "foundation/FileUtil.h"
#include "foundation/Strings.h"
#include "foundation/TextTranslator.h"
#include "media/join/JoinFiles.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace quilmer {

namespace {

std::wstring W(const std::string& text) { return WidePath(text); }

bool OneOf(const std::string& value, std::initializer_list<const char*> list) {
    return std::any_of(list.begin(), list.end(), [&value](const char* item) { return value == item; });
}

std::wstring ContainerName(const TargetFormat& target) {
    if (target == L"mp4") return L"MP4";
    if (target == L"flv") return L"FLV";
    if (target == L"avi") return L"AVI";
    if (target == L"wmv") return L"WMV";
    if (target == L"rmvb") return L"RealMedia";
    return target;
}

std::wstring Size(const VideoInfo& v) { return std::to_wstring(v.width) + L"x" + std::to_wstring(v.height); }

std::wstring Fps(const VideoInfo& v) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.4g fps", FractionValue(v.frameRate));
    return W(buffer);
}

std::wstring Channels(int channels) {
    if (channels == 1) return L"mono";
    if (channels == 2) return L"stereo";
    return std::to_wstring(channels) + L" channels";
}

// Aspect ratios that mean "square pixels or unknown" compare equal.
std::string Aspect(const std::string& sar) { return (sar.empty() || sar == "0:1" || sar == "1:1") ? "1:1" : sar; }

std::wstring Name(const std::wstring& clip) {
    std::wstring folder = FolderOf(clip);
    return clip.substr(std::min(folder.size(), clip.size()));
}

}  // namespace

std::optional<JoinMethod> ParseJoinMethod(const std::string& name) {
    if (name == "classic") return JoinMethod::Classic;
    if (name == "lossless") return JoinMethod::Lossless;
    if (name == "single") return JoinMethod::Single;
    if (name == "auto") return JoinMethod::Auto;
    if (name == "smart") return JoinMethod::Smart;
    return std::nullopt;
}

const char* JoinMethodName(JoinMethod method) {
    switch (method) {
    case JoinMethod::Classic: return "classic";
    case JoinMethod::Lossless: return "lossless";
    case JoinMethod::Single: return "single";
    case JoinMethod::Auto: return "auto";
    case JoinMethod::Smart: return "smart";
    }
    return "?";
}

bool ContainerHoldsVideo(const TargetFormat& target, const std::string& codec) {
    if (target == L"mp4") return OneOf(codec, {"h264", "hevc", "mpeg4", "av1"});
    if (target == L"flv") return OneOf(codec, {"h264", "flv1", "vp6f"});
    if (target == L"avi")
        return OneOf(codec, {"mpeg4", "msmpeg4v3", "msmpeg4v2", "h264", "mjpeg", "mpeg2video", "flv1"});
    if (target == L"wmv") return OneOf(codec, {"wmv1", "wmv2", "wmv3", "vc1", "msmpeg4v3"});
    if (target == L"rmvb") return OneOf(codec, {"rv10", "rv20"});
    return false;
}

bool ContainerHoldsAudio(const TargetFormat& target, const std::string& codec) {
    if (target == L"mp4") return OneOf(codec, {"aac", "mp3", "ac3", "alac", "opus"});
    if (target == L"flv") return OneOf(codec, {"aac", "mp3", "nellymoser", "speex"});
    if (target == L"avi") return OneOf(codec, {"mp3", "mp2", "ac3", "pcm_s16le", "aac"});
    if (target == L"wmv") return OneOf(codec, {"wmav1", "wmav2", "wmapro", "mp3"});
    if (target == L"rmvb") return OneOf(codec, {"ac3"});
    return false;
}

LosslessVerdict CheckLossless(const std::vector<std::wstring>& clips, const std::vector<MediaInfo>& infos,
                              const TargetFormat& target) {
    LosslessVerdict verdict;
    if (infos.empty() || infos.size() != clips.size()) {
        verdict.refusal = Tr(L"there are no clips to join");
        return verdict;
    }
    auto refuse = [&verdict, &clips](std::size_t i, const std::wstring& what) {
        verdict.refusal = Name(clips[i]) + L" " + what;
        return verdict;
    };
    auto differs = [&refuse](std::size_t i, const std::wstring& property, const std::wstring& has,
                             const std::wstring& first) {
        return refuse(i, FormatW(TrFormat(L"differs from the first clip in %ls: %ls, not %ls").c_str(), property.c_str(),
                                 has.c_str(), first.c_str()));
    };
    auto cannotHold = [&refuse, &target](std::size_t i, const std::wstring& kind, const std::string& codec) {
        return refuse(i, FormatW(TrFormat(L"has %ls codec %ls, which a %ls file cannot hold").c_str(), kind.c_str(),
                                 W(codec).c_str(), ContainerName(target).c_str()));
    };
    const MediaInfo& first = infos.front();
    for (std::size_t i = 0; i < infos.size(); ++i) {
        const MediaInfo& c = infos[i];
        // The container's own limits first: a clip whose codec the target cannot hold.
        if (c.video && !ContainerHoldsVideo(target, c.video->codec)) return cannotHold(i, Tr(L"video"), c.video->codec);
        if (c.audio && !ContainerHoldsAudio(target, c.audio->codec)) return cannotHold(i, Tr(L"sound"), c.audio->codec);
        if (c.video && !c.startsOnKeyFrame)
            return refuse(i, Tr(L"starts on a picture that is not a key frame (it was cut without re-encoding), so "
                                L"it cannot be copied cleanly"));
        if (i == 0) continue;
        if (c.video.has_value() != first.video.has_value())
            return differs(i, Tr(L"picture"), c.video ? Tr(L"has one") : Tr(L"has none"),
                           first.video ? Tr(L"has one") : Tr(L"has none"));
        if (c.audio.has_value() != first.audio.has_value())
            return differs(i, Tr(L"sound"), c.audio ? Tr(L"has one") : Tr(L"has none"),
                           first.audio ? Tr(L"has one") : Tr(L"has none"));
        if (c.video) {
            const VideoInfo& v = *c.video;
            const VideoInfo& f = *first.video;
            if (v.codec != f.codec) return differs(i, Tr(L"video codec"), W(v.codec), W(f.codec));
            if (v.profile != f.profile) return differs(i, Tr(L"video profile"), W(v.profile), W(f.profile));
            if (v.width != f.width || v.height != f.height) return differs(i, Tr(L"frame size"), Size(v), Size(f));
            if (v.pixelFormat != f.pixelFormat)
                return differs(i, Tr(L"pixel format"), W(v.pixelFormat), W(f.pixelFormat));
            if (Aspect(v.aspect) != Aspect(f.aspect))
                return differs(i, Tr(L"pixel aspect ratio"), W(Aspect(v.aspect)), W(Aspect(f.aspect)));
            if (v.rotation != f.rotation)
                return differs(i, Tr(L"rotation"), std::to_wstring(v.rotation), std::to_wstring(f.rotation));
            const double rv = FractionValue(v.frameRate), rf = FractionValue(f.frameRate);
            if (std::fabs(rv - rf) > 0.001 * std::max(rf, 1.0))
                return differs(i, Tr(L"frame rate"), Fps(v), Fps(f));
            if (!v.setup.empty() && !f.setup.empty() && v.setup != f.setup)
                return refuse(i, Tr(L"differs from the first clip in its video codec settings (the stream was "
                                    L"encoded differently)"));
        }
        if (c.audio) {
            const AudioInfo& a = *c.audio;
            const AudioInfo& f = *first.audio;
            if (a.codec != f.codec) return differs(i, Tr(L"sound codec"), W(a.codec), W(f.codec));
            if (a.sampleRate != f.sampleRate)
                return differs(i, Tr(L"sample rate"), std::to_wstring(a.sampleRate) + L" Hz",
                               std::to_wstring(f.sampleRate) + L" Hz");
            if (a.channels != f.channels) return differs(i, Tr(L"sound channels"), Channels(a.channels), Channels(f.channels));
        }
    }
    verdict.possible = true;
    std::wstring shared;
    if (first.video) shared = W(first.video->codec) + L" " + Size(*first.video) + L" " + Fps(*first.video);
    if (first.audio) {
        if (!shared.empty()) shared += L", ";
        shared += W(first.audio->codec) + L" " + std::to_wstring(first.audio->sampleRate) + L" Hz " +
                  Channels(first.audio->channels);
    }
    verdict.summary = infos.size() == 1
                          ? FormatW(TrFormat(L"the clip has %ls").c_str(), shared.c_str())
                          : FormatW(TrFormat(L"all %d clips share %ls").c_str(), static_cast<int>(infos.size()), shared.c_str());
    return verdict;
}

MethodChoice ChooseMethod(JoinMethod requested, const LosslessVerdict& verdict) {
    MethodChoice choice;
    switch (requested) {
    case JoinMethod::Classic:
        choice.method = JoinMethod::Classic;
        choice.reason = Tr(L"as asked");
        break;
    case JoinMethod::Lossless:
        choice.method = JoinMethod::Lossless;
        choice.reason = verdict.possible ? verdict.summary : verdict.refusal;
        break;
    case JoinMethod::Single:
        choice.method = JoinMethod::Single;
        choice.reason = Tr(L"as asked: each clip decoded once, the output encoded once");
        break;
    case JoinMethod::Auto:
    case JoinMethod::Smart:  // without a plan of the smart join (ChooseJoinMethod has one)
        if (verdict.possible) {
            choice.method = JoinMethod::Lossless;
            choice.reason = verdict.summary;
        } else {
            choice.method = JoinMethod::Single;
            choice.reason = Tr(L"no stream copy:") + L" " + verdict.refusal;
        }
        break;
    }
    return choice;
}

}  // namespace quilmer
