#include "media/join/methods/ChapterIo.h"

#include "foundation/FileUtil.h"
#include "media/join/JoinFiles.h"
#include "media/join/methods/StreamCopy.h"

#include <filesystem>
#include <system_error>

namespace quilmer {

bool ReserveChapters(AVFormatContext& output, const std::vector<PlannedChapter>& plan) {
    for (const PlannedChapter& planned : plan) {
        auto** grown = static_cast<AVChapter**>(
            av_realloc_array(output.chapters, output.nb_chapters + 1, sizeof(AVChapter*)));
        if (!grown) return false;
        output.chapters = grown;
        auto* chapter = static_cast<AVChapter*>(av_mallocz(sizeof(AVChapter)));
        if (!chapter) return false;
        chapter->id = output.nb_chapters + 1;
        chapter->time_base = AV_TIME_BASE_Q;
        if (!planned.title.empty() && av_dict_set(&chapter->metadata, "title", planned.title.c_str(), 0) < 0) {
            av_free(chapter);
            return false;
        }
        output.chapters[output.nb_chapters++] = chapter;
    }
    return true;
}

void SetChapterTimes(AVFormatContext& output, const std::vector<Chapter>& placed) {
    for (unsigned i = 0; i < output.nb_chapters && i < placed.size(); ++i) {
        output.chapters[i]->start = placed[i].startMicros;
        output.chapters[i]->end = placed[i].endMicros;
    }
}

std::wstring WriteChaptersInto(const std::wstring& file, const std::wstring& scratch, const TargetFormat& target,
                               const std::vector<ChapterMark>& marks, const CancelFlag& cancel) {
    const std::vector<PlannedChapter> plan = PlanChapters({PieceChapters{"", marks, 0}});
    std::wstring failure = CopyStreams({file}, scratch, target, cancel, {}, nullptr, plan);
    if (failure.empty()) {
        std::error_code ec;
        std::filesystem::rename(ToFsPath(scratch), ToFsPath(file), ec);
        if (ec) failure = scratch + L": " + WidePath(ec.message());
    }
    if (!failure.empty()) RemoveFileQuietly(scratch);
    return failure;
}

}  // namespace quilmer
