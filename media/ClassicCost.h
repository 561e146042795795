#pragma once
// What the steps of the classic join cost on the machine the figures were measured on (two
// cores, nothing else running), from the clips' pictures: each clip is converted on its own at
// its own frame (at 20 fps at the least), and the final encode reads every converted frame and
// codes the joined picture at the first clip's frame and rate. The time-left estimate scales these by how fast the join really goes, so
// only their ratios need to be right on another machine; clips whose conversions cost more to
// decode then no longer make the final encode look slower than it is.

#include <string>
#include <vector>

#include "media/OnePassCost.h"

namespace quilmer {

struct StepSeconds {
    double fixed = 0;      // a step's start-up, whatever its length
    double perSecond = 0;  // per second of the clip
};

// The conversion of one clip into the intermediate.
StepSeconds ClassicConversionCost(const PictureWork& clip);

enum class FinalPass { Only, Mp4First, Mp4Second };

// A second of `clip` in the final encode into format, at the first clip's frame.
double ClassicEncodePerSecond(const PictureWork& clip, const PictureWork& firstFrame, const std::wstring& format,
                              FinalPass pass);

// The check of the joined result, per second of it.
StepSeconds ClassicCheckCost(const std::wstring& format);

}  // namespace quilmer
