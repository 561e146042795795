#pragma once
// The chapters of a joined file: one per clip, named after the clip's file, starting where the
// clip's first frame lies in the output, with the chapters a clip carries itself kept, moved on
// by as much. Whoever writes the output measures where each of its pieces really begins (a
// stream copy where it put a piece's first packet, an encode by what it made of each clip); this
// file only plans the list and places it on those starts.
//
// The list is planned before anything is written and only placed afterwards, because some
// containers (ASF) set aside room for the chapter titles in a header written first: the number
// of chapters and their titles never change between the plan and the placing, only the times.

#include "media/TargetFormat.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quilmer {

// A chapter mark: where it begins, microseconds, and its title as UTF-8.
struct ChapterMark {
    std::int64_t startMicros = 0;
    std::string title;
    bool operator==(const ChapterMark&) const = default;
};

// A chapter of the output, from its start to where the next one begins (or the output ends).
struct Chapter {
    std::int64_t startMicros = 0;
    std::int64_t endMicros = 0;
    std::string title;
    bool operator==(const Chapter&) const = default;
};

// What one piece of the output brings to the chapter list, measured from the piece's start.
struct PieceChapters {
    // The chapter named after the piece's clip; "" for a piece that stands for no single clip
    // (a run of an encode holding several clips, its chapters already among `own`).
    std::string title;
    // Chapters the piece carries itself, from the piece's start.
    std::vector<ChapterMark> own;
    // How long the piece lasts (0 when unknown): an own chapter starting at or past its end
    // would fall into the next piece and is left out.
    std::int64_t lengthMicros = 0;
};

// A chapter of the plan: which piece it belongs to and where in that piece it begins.
struct PlannedChapter {
    std::size_t piece = 0;
    std::int64_t offsetMicros = 0;
    std::string title;
    bool operator==(const PlannedChapter&) const = default;
};

// The chapter title of a clip: its file name without folder and extension, as UTF-8. A byte of
// the name that is not UTF-8 becomes U+FFFD, so the title is always valid text.
std::string ChapterTitleOf(const std::wstring& clipPath);

// Whether the target container keeps chapters (MP4 as chapters, WMV/ASF as markers).
bool FormatKeepsChapters(const TargetFormat& target);

// The pieces' chapters in order. A piece's own chapter that begins within kSameStartMicros of
// the piece's start is represented by the piece's named chapter (two chapters never share one
// start); own chapters are sorted, and those before the start count from the start.
constexpr std::int64_t kSameStartMicros = 20000;
std::vector<PlannedChapter> PlanChapters(const std::vector<PieceChapters>& pieces);

// The plan placed on the output: `pieceStarts` (microseconds, one per piece) are where the
// pieces really begin, `endMicros` where the output ends. Starts never run backwards, a piece's
// chapters never pass the next piece's start nor the end; every chapter ends where the next
// begins, the last one at the end.
std::vector<Chapter> PlaceChapters(const std::vector<PlannedChapter>& plan, const std::vector<std::int64_t>& pieceStarts,
                                   std::int64_t endMicros);

// The pieces' chapters as marks of one file whose pieces begin at `pieceStarts`: what a piece made
// of several clips carries into a later join of pieces.
std::vector<ChapterMark> ChapterMarksAt(const std::vector<PieceChapters>& pieces,
                                        const std::vector<std::int64_t>& pieceStarts);

// Where each of pieces of the given lengths (microseconds) begins when they follow each other,
// each start put on the nearest frame of `framesPerSecond` (none when 0): the first frames of
// clips an encode has joined at that rate.
std::vector<std::int64_t> FollowingStarts(const std::vector<std::int64_t>& lengths, double framesPerSecond);

}  // namespace quilmer
