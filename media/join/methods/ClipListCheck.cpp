#include "media/join/methods/ClipListCheck.h"

#include "foundation/FileUtil.h"
#include "foundation/Strings.h"
#include "foundation/TextTranslator.h"
#include "media/av/AvProbe.h"
#include "media/join/methods/SmartJoin.h"

#include <chrono>

namespace quilmer {

std::wstring ClipListCheck::Summary() const {
    if (!unreadable.empty())
        return FormatW(TrFormat(L"%d of the clips cannot be read, so they cannot be copied.").c_str(),
                       static_cast<int>(unreadable.size()));
    return report.Summary();
}

std::vector<std::wstring> ClipListCheck::Lines() const {
    std::vector<std::wstring> lines;
    if (!unreadable.empty()) {
        lines.push_back(Summary());
        for (const std::wstring& why : unreadable) lines.push_back(L"  - " + why);
    }
    if (!report.clips.empty()) {
        const std::vector<std::wstring> told = report.Lines();
        lines.insert(lines.end(), told.begin(), told.end());
    }
    lines.push_back(FormatW(TrFormat(L"The automatic method would take: %ls (%ls).").c_str(),
                            WidePath(JoinMethodName(automatic.method)).c_str(), automatic.reason.c_str()));
    return lines;
}

ClipListCheck CheckClipList(const std::vector<std::wstring>& clips, const TargetFormat& target,
                            const CancelFlag& cancel) {
    ClipListCheck check;
    std::vector<std::wstring> readable;
    std::vector<MediaInfo> infos;
    for (const std::wstring& clip : clips) {
        if (cancel.IsRequested()) break;
        std::wstring why;
        std::optional<MediaInfo> info = ProbeMediaFile(clip, cancel, why, std::chrono::seconds(10));
        if (info) {
            readable.push_back(clip);
            infos.push_back(*info);
        } else {
            check.unreadable.push_back(ClipFileName(clip) + L": " + why);
        }
    }
    if (cancel.IsRequested()) {
        check.stopped = true;
        return check;
    }
    check.report = CompareClips(readable, infos, target);
    if (check.unreadable.empty()) {
        check.verdict = CheckLossless(readable, infos, target);
    } else {
        check.verdict.refusal = check.unreadable.front();
    }
    // The same choice the join makes, smart join included.
    check.automatic = check.unreadable.empty()
                          ? ChooseJoinMethod(JoinMethod::Auto, check.verdict, PlanSmartJoin(readable, infos, target))
                          : ChooseMethod(JoinMethod::Auto, check.verdict);
    return check;
}

}  // namespace quilmer
