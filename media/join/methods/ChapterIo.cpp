#include "media/join/methods/ChapterIo.h"

#include "foundation/FileUtil.h"
#include "media/join/JoinFiles.h"
#include "media/join/methods/StreamCopy.h"

#include <filesystem>
#include <system_error>

namespace quilmer {

std::vector<ChapterMark> ReadChapters(const AVFormatContext& file) {
    std::vector<ChapterMark> marks;
    const std::int64_t start = file.start_time != AV_NOPTS_VALUE ? file.start_time : 0;
    for (unsigned i = 0; i < file.nb_chapters; ++i) {
        const AVChapter& c = *file.chapters[i];
        if (c.start == AV_NOPTS_VALUE || c.time_base.num <= 0 || c.time_base.den <= 0) continue;
        ChapterMark mark;
        mark.startMicros = av_rescale_q(c.start, c.time_base, AV_TIME_BASE_Q) - start;
        if (const AVDictionaryEntry* title = av_dict_get(c.metadata, "title", nullptr, 0)) mark.title = title->value;
        marks.push_back(std::move(mark));
    }
    return marks;
}

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
