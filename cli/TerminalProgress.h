#pragma once
// The progress display of quilmer-join: one redrawn line on a terminal, plain lines otherwise.

#include <string>

#include "media/TimeLeft.h"

namespace quilmer {

// "[#########...........]  45%  converting clip 2 of 5  0:12 elapsed, about 0:15 left"
std::string ProgressLine(int percent, double elapsedSeconds, const std::string& stage, int barWidth = 30);

}  // namespace quilmer
