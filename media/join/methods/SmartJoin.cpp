#include "media/join/methods/SmartJoin.h"

#include "foundation/FileUtil.h"
#include "foundation/Strings.h"
#include "foundation/TextTranslator.h"
#include "media/join/JoinFiles.h"
#include "media/av/AvProbe.h"
#include "media/join/methods/ClipChapters.h"
#include "media/join/methods/DirectCommands.h"
#include "media/join/methods/SmartEncode.h"
#include "media/join/methods/StreamCopy.h"

#include <algorithm>

namespace quilmer {

namespace {

std::wstring Name(const std::wstring& clip) {
    std::wstring folder = FolderOf(clip);
    return clip.substr(std::min(folder.size(), clip.size()));
}

// How long the first run of clips to re-encode must be for one picture of it to be tried first.
constexpr double kProbeAboveSeconds = 20;

// A clip of unknown length still counts for something.
double Weight(const MediaInfo& info) { return info.duration > 0 ? info.duration : 1.0; }

// Consecutive clips that are re-encoded together: [first, first + count).
struct OddRun {
    std::size_t first = 0;
    std::size_t count = 0;
};

std::vector<OddRun> OddRuns(const std::vector<bool>& copied, const std::vector<MediaInfo>& infos) {
    std::vector<OddRun> runs;
    for (std::size_t i = 0; i < copied.size();) {
        if (copied[i]) {
            ++i;
            continue;
        }
        std::size_t end = i;
        while (end < copied.size() && !copied[end]) ++end;
        // No more clips in one run of ffmpeg than the one-pass join takes.
        const std::vector<MediaInfo> theirs(infos.begin() + static_cast<std::ptrdiff_t>(i),
                                            infos.begin() + static_cast<std::ptrdiff_t>(end));
        for (std::size_t count : SingleRuns(theirs)) {
            runs.push_back({i, count});
            i += count;
        }
    }
    return runs;
}

}  // namespace

std::vector<bool> ClipsMatchingReference(const std::vector<std::wstring>& clips, const std::vector<MediaInfo>& infos,
                                         const TargetFormat& target, std::size_t reference) {
    std::vector<bool> matching(infos.size(), false);
    if (reference >= infos.size() || clips.size() != infos.size()) return matching;
    matching[reference] = CheckLossless({clips[reference]}, {infos[reference]}, target).possible;
    if (!matching[reference]) return matching;
    for (std::size_t i = 0; i < infos.size(); ++i)
        if (i != reference)
            matching[i] =
                CheckLossless({clips[reference], clips[i]}, {infos[reference], infos[i]}, target).possible;
    return matching;
}

SmartPlan PlanSmartJoin(const std::vector<std::wstring>& clips, const std::vector<MediaInfo>& infos,
                        const TargetFormat& target) {
    SmartPlan plan;
    if (infos.size() < 2 || clips.size() != infos.size()) {
        plan.reason = Tr(L"there is only one clip");
        return plan;
    }
    double total = 0, best = -1;
    for (const MediaInfo& info : infos) total += Weight(info);
    for (std::size_t r = 0; r < infos.size(); ++r) {
        // A clip that matches one already tried gives the same set.
        if (r > 0 && best >= 0 && plan.copied[r]) continue;
        std::vector<bool> matching = ClipsMatchingReference(clips, infos, target, r);
        double held = 0;
        for (std::size_t i = 0; i < infos.size(); ++i)
            if (matching[i]) held += Weight(infos[i]);
        if (held > best && matching[r]) {
            best = held;
            plan.reference = r;
            plan.copied = matching;
        }
    }
    if (best < 0) {
        plan.reason = CheckLossless({clips.front()}, {infos.front()}, target).refusal;
        return plan;
    }
    const auto copied = static_cast<int>(std::count(plan.copied.begin(), plan.copied.end(), true));
    const int count = static_cast<int>(infos.size());
    if (copied == count) {
        plan.reason = Tr(L"every clip matches, so all are copied");
        return plan;
    }
    plan.possible = true;
    plan.worthwhile = best >= total / 2;
    plan.reason = FormatW(TrFormat(L"%d of %d clips copied as they are, %d re-encoded to match %ls").c_str(), copied,
                          count, count - copied, Name(clips[plan.reference]).c_str());
    return plan;
}

MethodChoice ChooseJoinMethod(JoinMethod requested, const LosslessVerdict& verdict, const SmartPlan& plan) {
    if (requested == JoinMethod::Smart) {
        if (verdict.possible) return {JoinMethod::Lossless, verdict.summary};
        if (plan.possible) return {JoinMethod::Smart, plan.reason};
        return {JoinMethod::Single, Tr(L"no smart join:") + L" " + plan.reason};
    }
    if (requested == JoinMethod::Auto && !verdict.possible && plan.possible && plan.worthwhile)
        return {JoinMethod::Smart, plan.reason};
    return ChooseMethod(requested, verdict);
}

SmartOutcome MakeSmartJoin(const std::vector<std::wstring>& clips, const std::vector<MediaInfo>& infos,
                           const SmartPlan& plan, const TargetFormat& target, const std::wstring& work,
                           const std::wstring& output, const SmartRunner& runner, const CancelFlag& cancel) {
    SmartOutcome out;
    const MediaInfo& ref = infos[plan.reference];
    const std::wstring& refClip = clips[plan.reference];
    std::wstring why;
    std::optional<ReferenceDetails> details = ReadReferenceDetails(refClip, cancel, why);
    if (!details) {
        out.failure = refClip + L": " + why;
        return out;
    }
    std::optional<SmartEncoder> encoder = SmartEncoderFor(ref, *details, why);
    if (!encoder) {
        out.fallback = why;
        return out;
    }
    const bool hasVideo = ref.video.has_value(), hasAudio = ref.audio.has_value();
    const std::vector<OddRun> runs = OddRuns(plan.copied, infos);
    if (runs.empty()) {
        out.failure = Tr(L"there are no clips to join");
        return out;
    }
    std::vector<std::wstring> made;  // every file this join wrote in `work`
    auto cleanUp = [&made] {
        for (const std::wstring& file : made) RemoveFileQuietly(file);
    };
    // A piece must match the reference as a copied clip would; the refusal names the clip it is
    // made of.
    auto mismatch = [&](const std::wstring& piece, std::size_t clip, bool pictureOnly) -> std::wstring {
        std::optional<MediaInfo> info = ProbeMediaFile(piece, cancel, why);
        if (!info) return clips[clip] + L": " + why;
        MediaInfo wanted = ref;
        if (pictureOnly) wanted.audio.reset();
        LosslessVerdict verdict = CheckLossless({refClip, clips[clip]}, {wanted, *info}, target);
        return verdict.possible ? std::wstring() : verdict.refusal;
    };
    auto encode = [&](const OddRun& run, const std::wstring& piece, const std::wstring& script, bool probe,
                      std::int64_t before) {
        const std::vector<std::wstring> some(clips.begin() + static_cast<std::ptrdiff_t>(run.first),
                                             clips.begin() + static_cast<std::ptrdiff_t>(run.first + run.count));
        const std::vector<MediaInfo> theirs(infos.begin() + static_cast<std::ptrdiff_t>(run.first),
                                            infos.begin() + static_cast<std::ptrdiff_t>(run.first + run.count));
        double seconds = 0;
        for (const MediaInfo& info : theirs) seconds += std::max(info.duration, 0.0);
        made.push_back(script);
        made.push_back(piece);
        if (!WriteWholeFile(script, SmartFilterGraph(theirs, *encoder, hasVideo, hasAudio && !probe))) {
            out.failure = Tr(L"Cannot create a file in the output folder: ") + script;
            return false;
        }
        const bool done = runner.encode(
            SmartArgs(runner.ffmpeg, some, script, piece, *encoder, hasVideo, hasAudio && !probe, probe, seconds), before);
        RemoveFileQuietly(script);
        return done;
    };

    // Whether the encoder's setup data matches shows in its first picture. Where the first run is
    // long, one picture is encoded first, so that it is not re-encoded in vain; a short one is
    // checked once made (the picture alone costs a run of ffmpeg and the encoder's lookahead).
    double firstRun = 0;
    for (std::size_t i = runs.front().first; i < runs.front().first + runs.front().count; ++i)
        firstRun += std::max(infos[i].duration, 0.0);
    if (hasVideo && firstRun > kProbeAboveSeconds) {
        const std::wstring probe = work + L"smart-probe" + encoder->extension;
        if (!encode(runs.front(), probe, work + L"smart-probe.txt", true, 0)) {
            cleanUp();
            if (cancel.IsRequested() || !out.failure.empty()) return out;
            out.fallback = Tr(L"the clips that differ could not be re-encoded to the matching clips' settings");
            return out;
        }
        std::wstring refusal = mismatch(probe, runs.front().first, true);
        RemoveFileQuietly(probe);
        if (!refusal.empty()) {
            cleanUp();
            out.fallback = FormatW(TrFormat(L"a re-encoded clip cannot be given the codec setup data of the copied ones (%ls)").c_str(),
                                   refusal.c_str());
            return out;
        }
    }

    std::vector<std::wstring> pieces(infos.size());  // the piece that starts at a clip
    std::vector<double> startOf(infos.size() + 1, 0);
    for (std::size_t i = 0; i < infos.size(); ++i) startOf[i + 1] = startOf[i] + std::max(infos[i].duration, 0.0);
    for (std::size_t n = 0; n < runs.size(); ++n) {
        if (cancel.IsRequested()) break;
        const OddRun& run = runs[n];
        const std::wstring number = std::to_wstring(n + 1);
        const std::wstring piece = work + L"smart-" + number + encoder->extension;
        if (!encode(run, piece, work + L"smart-graph-" + number + L".txt", false,
                    static_cast<std::int64_t>(startOf[run.first] * 1e6))) {
            out.encodeFailed = out.failure.empty();
            cleanUp();
            return out;
        }
        if (std::wstring refusal = mismatch(piece, run.first, false); !refusal.empty()) {
            cleanUp();
            out.fallback = FormatW(TrFormat(L"a re-encoded clip cannot be given the codec setup data of the copied ones (%ls)").c_str(),
                                   refusal.c_str());
            return out;
        }
        pieces[run.first] = piece;
    }
    if (cancel.IsRequested()) {
        cleanUp();
        out.failure = Tr(L"stopped");
        return out;
    }
    std::vector<std::wstring> order;
    // A copied clip's chapter goes where the copy puts it; the clips of an encoded run follow
    // each other in it by their lengths in frames, as in the one-pass encode.
    std::vector<PieceChapters> chapters;
    for (std::size_t i = 0; i < infos.size(); ++i) {
        if (plan.copied[i]) {
            order.push_back(clips[i]);
            if (runner.chapters) chapters.push_back(ClipChapterPieces({clips[i]}, {infos[i]}).front());
        } else if (!pieces[i].empty()) {
            order.push_back(pieces[i]);
            if (!runner.chapters) continue;
            const auto run = std::find_if(runs.begin(), runs.end(), [i](const OddRun& r) { return r.first == i; });
            const auto from = static_cast<std::ptrdiff_t>(run->first), to = static_cast<std::ptrdiff_t>(run->first + run->count);
            chapters.push_back({"",
                                EncodedRunChapters({clips.begin() + from, clips.begin() + to},
                                                   {infos.begin() + from, infos.begin() + to}, encoder->frame.frameRate),
                                0});
        }
    }
    out.failure = CopyStreams(order, output, target, cancel, runner.progress, &out.copiedMicros,
                              runner.chapters ? PlanChapters(chapters) : std::vector<PlannedChapter>{});
    cleanUp();
    return out;
}

}  // namespace quilmer
