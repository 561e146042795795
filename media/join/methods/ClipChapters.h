#pragma once
// The chapter pieces of the clips a direct join looked at: each clip's name, its own chapters
// and its length.

#include "media/CancelFlag.h"
#include "media/join/Chapters.h"
#include "media/av/MediaInfo.h"

#include <string>
#include <vector>

namespace quilmer {

std::vector<PieceChapters> ClipChapterPieces(const std::vector<std::wstring>& clips, const std::vector<MediaInfo>& infos);

// The chapters of one run of the one-pass encode (clips joined by the concat filter, each lasting
// its length, at `frameRate`, "25/1"), from the start of what the run writes.
std::vector<ChapterMark> EncodedRunChapters(const std::vector<std::wstring>& clips, const std::vector<MediaInfo>& infos,
                                            const std::string& frameRate);

// The classic join's chapter step (JoinPipeline::ChapterStep): each clip's chapter placed where
// its intermediate begins in the output (the intermediates' lengths as their packets hold them),
// on the output's frames, written into the output by stream copy. Formats without chapters are
// left alone.
std::wstring AddClassicChapters(const std::wstring& output, const std::wstring& format,
                                const std::vector<std::wstring>& clips, const std::vector<std::wstring>& intermediates,
                                const CancelFlag& cancel);

}  // namespace quilmer
