#include "media/join/Chapters.h"

#include "foundation/Utf8.h"
#include "media/join/JoinFiles.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace quilmer {

std::string ChapterTitleOf(const std::wstring& clipPath) {
    std::string title;
    for (wchar_t c : TitleOf(clipPath)) {
        const auto cp = static_cast<char32_t>(c);
        // A stray byte of the name is held as U+DC80+byte; other surrogates cannot be encoded.
        const bool representable = cp < 0xD800 || (cp > 0xDFFF && cp <= 0x10FFFF);
        AppendUtf8(title, representable ? cp : U'\uFFFD');
    }
    return title;
}

bool FormatKeepsChapters(const TargetFormat& target) { return target == L"mp4" || target == L"wmv"; }

std::vector<PlannedChapter> PlanChapters(const std::vector<PieceChapters>& pieces) {
    std::vector<PlannedChapter> plan;
    for (std::size_t p = 0; p < pieces.size(); ++p) {
        const PieceChapters& piece = pieces[p];
        const bool named = !piece.title.empty();
        if (named) plan.push_back({p, 0, piece.title});
        std::vector<ChapterMark> own = piece.own;
        std::stable_sort(own.begin(), own.end(),
                         [](const ChapterMark& a, const ChapterMark& b) { return a.startMicros < b.startMicros; });
        for (const ChapterMark& mark : own) {
            const std::int64_t at = std::max<std::int64_t>(mark.startMicros, 0);
            if (piece.lengthMicros > 0 && at >= piece.lengthMicros) continue;
            if (named && at < kSameStartMicros) continue;
            plan.push_back({p, at, mark.title});
        }
    }
    return plan;
}

std::vector<Chapter> PlaceChapters(const std::vector<PlannedChapter>& plan, const std::vector<std::int64_t>& pieceStarts,
                                   std::int64_t endMicros) {
    std::vector<Chapter> placed;
    std::int64_t last = 0;
    for (const PlannedChapter& c : plan) {
        const std::int64_t base = c.piece < pieceStarts.size() ? pieceStarts[c.piece] : last;
        // A chapter inside a piece stays inside it, so the next piece's chapter keeps its place.
        const std::int64_t cap = c.piece + 1 < pieceStarts.size() ? std::min(pieceStarts[c.piece + 1], endMicros) : endMicros;
        std::int64_t start = std::clamp<std::int64_t>(base + c.offsetMicros, last, std::max<std::int64_t>(cap, last));
        placed.push_back({start, start, c.title});
        last = start;
    }
    for (std::size_t i = 0; i < placed.size(); ++i)
        placed[i].endMicros = i + 1 < placed.size() ? placed[i + 1].startMicros : std::max(endMicros, placed[i].startMicros);
    return placed;
}

std::vector<ChapterMark> ChapterMarksAt(const std::vector<PieceChapters>& pieces,
                                        const std::vector<std::int64_t>& pieceStarts) {
    std::vector<ChapterMark> marks;
    for (const Chapter& c : PlaceChapters(PlanChapters(pieces), pieceStarts, std::numeric_limits<std::int64_t>::max()))
        marks.push_back({c.startMicros, c.title});
    return marks;
}

std::vector<std::int64_t> FollowingStarts(const std::vector<std::int64_t>& lengths, double framesPerSecond) {
    std::vector<std::int64_t> starts;
    std::int64_t at = 0;
    for (std::int64_t length : lengths) {
        std::int64_t start = at;
        if (framesPerSecond > 0)
            start = std::llround(std::round(static_cast<double>(at) * framesPerSecond / 1e6) * 1e6 / framesPerSecond);
        starts.push_back(start);
        at += std::max<std::int64_t>(length, 0);
    }
    return starts;
}

}  // namespace quilmer
