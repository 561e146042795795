#include "media/join/methods/JoinMethod.h"

#include "foundation/FileUtil.h"
#include "foundation/Strings.h"
#include "foundation/TextTranslator.h"
#include "media/join/JoinFiles.h"
#include "media/join/methods/Compatibility.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace quilmer {

namespace {

std::wstring W(const std::string& text) { return WidePath(text); }

bool OneOf(const std::string& value, std::initializer_list<const char*> list) {
    return std::any_of(list.begin(), list.end(), [&value](const char* item) { return value == item; });
}

std::wstring ContainerName(const TargetFormat& target) { return ContainerDisplayName(target); }

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
    // Every clip must agree with the first: the copy takes its streams' setup from it.
    const CompatibilityReport report = CompareClips(clips, infos, target, ReferenceRule::First);
    for (const ClipCompatibility& clip : report.clips) {
        auto in = std::find_if(clip.differences.begin(), clip.differences.end(),
                               [](const ClipDifference& d) { return d.StandsInTheWay(); });
        if (in == clip.differences.end()) continue;
        const ClipDifference& d = *in;
        std::wstring what;
        switch (d.property) {
        case ClipProperty::TargetHolds:
            what = FormatW(TrFormat(L"has %ls codec %ls, which a %ls file cannot hold").c_str(), d.name.c_str(),
                           d.clipValue.c_str(), ContainerName(target).c_str());
            break;
        case ClipProperty::FirstPicture:
            what = Tr(L"starts on a picture that is not a key frame (it was cut without re-encoding), so it cannot be "
                      L"copied cleanly");
            break;
        case ClipProperty::VideoSetup:
            what = Tr(L"differs from the first clip in its video codec settings (the stream was encoded differently)");
            break;
        default:
            what = FormatW(TrFormat(L"differs from the first clip in %ls: %ls, not %ls").c_str(), d.name.c_str(),
                           d.clipValue.c_str(), d.referenceValue.c_str());
        }
        verdict.refusal = Name(clip.path) + L" " + what;
        return verdict;
    }
    verdict.possible = true;
    const MediaInfo& first = infos.front();
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
