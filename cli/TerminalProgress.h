#pragma once
// The progress display of quilmer-join: one redrawn line on a terminal, plain lines otherwise.

#include <string>

#include "media/TimeLeft.h"

namespace quilmer {

// "[#########...........]  45%  converting clip 2 of 5  0:12 elapsed, about 0:15 left";
// secondsLeft is negative while the join has no estimate yet ("estimating time left").
std::string ProgressLine(int percent, double elapsedSeconds, const std::string& stage, double secondsLeft,
                         int barWidth = 30);

}  // namespace quilmer
