#pragma once
// Chapters in and out of libavformat: the chapters a file carries, the chapter list an output
// is written with, and chapters added to a finished file.

#include "media/CancelFlag.h"
#include "media/TargetFormat.h"
#include "media/join/Chapters.h"

#include <string>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

namespace quilmer {

// Gives an output about to write its header the planned chapters, all at 0 for now: containers
// that keep chapters in the header (ASF) set aside room for these titles. False without memory.
bool ReserveChapters(AVFormatContext& output, const std::vector<PlannedChapter>& plan);
// Sets the reserved chapters' times, before the trailer is written; `placed` is in plan order.
void SetChapterTimes(AVFormatContext& output, const std::vector<Chapter>& placed);

// Writes `file` again with the chapters `marks` (from the file's start), by stream copy through
// `scratch` (a free name in the same folder), which then replaces the file. "" when done, else
// what went wrong; the file is left as it was then.
std::wstring WriteChaptersInto(const std::wstring& file, const std::wstring& scratch, const TargetFormat& target,
                               const std::vector<ChapterMark>& marks, const CancelFlag& cancel);

}  // namespace quilmer
