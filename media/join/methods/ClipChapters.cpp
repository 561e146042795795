#include "media/join/methods/ClipChapters.h"

#include "foundation/TextTranslator.h"
#include "media/TempNames.h"
#include "media/join/JoinFiles.h"
#include "media/join/methods/AvProbe.h"
#include "media/join/methods/ChapterIo.h"
#include "media/join/methods/DirectCommands.h"

#include <cmath>

namespace quilmer {

namespace {

std::int64_t Micros(double seconds) { return std::llround(seconds * 1e6); }

}  // namespace

std::vector<PieceChapters> ClipChapterPieces(const std::vector<std::wstring>& clips, const std::vector<MediaInfo>& infos) {
    std::vector<PieceChapters> pieces;
    for (std::size_t i = 0; i < clips.size() && i < infos.size(); ++i)
        pieces.push_back({ChapterTitleOf(clips[i]), infos[i].chapters, Micros(infos[i].duration)});
    return pieces;
}

std::vector<ChapterMark> EncodedRunChapters(const std::vector<std::wstring>& clips, const std::vector<MediaInfo>& infos,
                                            const std::string& frameRate) {
    // The graph holds each clip to its span, and the concat filter starts each where the one
    // before ended.
    std::vector<std::int64_t> lengths;
    for (const MediaInfo& info : infos) lengths.push_back(Micros(SegmentSeconds(info, frameRate)));
    return ChapterMarksAt(ClipChapterPieces(clips, infos), FollowingStarts(lengths, FractionValue(frameRate)));
}

std::wstring AddClassicChapters(const std::wstring& output, const std::wstring& format,
                                const std::vector<std::wstring>& clips, const std::vector<std::wstring>& intermediates,
                                const CancelFlag& cancel) {
    if (!FormatKeepsChapters(format) || clips.empty()) return {};
    std::vector<PieceChapters> pieces;
    std::vector<std::int64_t> lengths;
    std::wstring why;
    for (std::size_t i = 0; i < clips.size() && i < intermediates.size(); ++i) {
        // A clip's own chapters are read from the clip; where it lies, from what was joined.
        std::optional<MediaInfo> clip = ProbeMediaFile(clips[i], cancel, why);
        std::optional<MediaInfo> part = ProbeMediaFile(intermediates[i], cancel, why);
        if (cancel.IsRequested()) return Tr(L"stopped");
        const double seconds = part ? part->duration : clip ? clip->duration : 0;
        lengths.push_back(Micros(seconds));
        pieces.push_back({ChapterTitleOf(clips[i]), clip ? clip->chapters : std::vector<ChapterMark>{}, Micros(seconds)});
    }
    std::optional<MediaInfo> made = ProbeMediaFile(output, cancel, why);
    const double fps = made && made->video ? FractionValue(made->video->frameRate) : 0;
    const std::vector<ChapterMark> marks = ChapterMarksAt(pieces, FollowingStarts(lengths, fps));
    const std::wstring scratch = ReserveTemporaryFolder(FolderOf(output));
    if (scratch.empty()) return Tr(L"Cannot create a file in the output folder: ") + FolderOf(output);
    std::wstring failure = WriteChaptersInto(output, scratch + L"chapters" + ExtensionOf(output), format, marks, cancel);
    RemoveFolderQuietly(scratch);
    return failure;
}

}  // namespace quilmer
