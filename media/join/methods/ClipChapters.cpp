#include "media/join/methods/ClipChapters.h"

#include "foundation/TextTranslator.h"
#include "media/TempNames.h"
#include "media/join/JoinFiles.h"
#include "media/av/AvProbe.h"
#include "media/av/AvSupport.h"
#include "media/join/methods/ChapterIo.h"
#include "media/join/methods/DirectCommands.h"

#include <cmath>

namespace quilmer {

namespace {

std::int64_t Micros(double seconds) { return std::llround(seconds * 1e6); }

// How long an intermediate's pictures last: counted packet by packet, at its frame rate; 0
// without pictures or rate.
double PictureSeconds(const std::wstring& path, const CancelFlag& cancel) {
    AvInterrupt interrupt{&cancel};
    std::wstring why;
    AvInput input = OpenAvInput(path, interrupt, why);
    if (!input) return 0;
    const int video = av_find_best_stream(input.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (video < 0) return 0;
    const AVRational rate = input->streams[video]->r_frame_rate;
    if (rate.num <= 0 || rate.den <= 0) return 0;
    AVPacket* packet = av_packet_alloc();
    if (!packet) return 0;
    std::int64_t count = 0;
    while (!cancel.IsRequested() && av_read_frame(input.get(), packet) >= 0) {
        if (packet->stream_index == video) ++count;
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    return static_cast<double>(count) / av_q2d(rate);
}

}  // namespace

std::vector<PieceChapters> ClipChapterPieces(const std::vector<std::wstring>& clips, const std::vector<MediaInfo>& infos) {
    std::vector<PieceChapters> pieces;
    for (std::size_t i = 0; i < clips.size() && i < infos.size(); ++i)
        pieces.push_back({ChapterTitleOf(clips[i]), infos[i].chapters, Micros(infos[i].duration)});
    return pieces;
}

std::vector<ChapterMark> EncodedRunChapters(const std::vector<std::wstring>& clips, const std::vector<MediaInfo>& infos,
                                            const std::string& frameRate) {
    // The concat filter starts each clip where the one before ended, by its length in frames.
    std::vector<std::int64_t> lengths;
    for (const MediaInfo& info : infos) lengths.push_back(Micros(SegmentSeconds(info, frameRate)));
    return ChapterMarksAt(ClipChapterPieces(clips, infos), FollowingStarts(lengths, FractionValue(frameRate)));
}

std::wstring AddClassicChapters(const std::wstring& output, const std::wstring& format,
                                const std::vector<std::wstring>& clips, const std::vector<std::wstring>& intermediates,
                                const CancelFlag& cancel) {
    if (!FormatKeepsChapters(format) || clips.empty()) return {};
    std::wstring why;
    std::optional<MediaInfo> made = ProbeMediaFile(output, cancel, why);
    const double fps = made && made->video ? FractionValue(made->video->frameRate) : 0;
    // The final encode lays the intermediates' pictures end to end (the encoder adapter's concat
    // list makes each part's first picture follow the last one before), and its constant frame
    // rate shows a picture at the first output frame at or after its time.
    const std::int64_t end = made ? Micros(made->duration) : 0;
    std::vector<PieceChapters> pieces;
    std::vector<std::int64_t> starts;
    double at = 0;
    for (std::size_t i = 0; i < clips.size() && i < intermediates.size(); ++i) {
        std::optional<MediaInfo> clip = ProbeMediaFile(clips[i], cancel, why);
        double seconds = PictureSeconds(intermediates[i], cancel);
        if (cancel.IsRequested()) return Tr(L"stopped");
        if (seconds <= 0) seconds = clip ? clip->duration : 0;
        starts.push_back(Micros(fps > 0 ? std::ceil(at * fps - 1e-3) / fps : at));
        at += seconds;
        pieces.push_back({ChapterTitleOf(clips[i]), clip ? clip->chapters : std::vector<ChapterMark>{}, 0});
    }
    // A clip's own chapters stay within what it became.
    for (std::size_t i = 0; i < pieces.size(); ++i)
        pieces[i].lengthMicros = (i + 1 < starts.size() ? starts[i + 1] : end) - starts[i];
    const std::vector<ChapterMark> marks = ChapterMarksAt(pieces, starts);
    const std::wstring scratch = ReserveTemporaryFolder(FolderOf(output));
    if (scratch.empty()) return Tr(L"Cannot create a file in the output folder: ") + FolderOf(output);
    std::wstring failure = WriteChaptersInto(output, scratch + L"chapters" + ExtensionOf(output), format, marks, cancel);
    RemoveFolderQuietly(scratch);
    return failure;
}

}  // namespace quilmer
