#pragma once
// The progress display of quilmer-join: one redrawn line on a terminal, plain lines otherwise.

#include <string>

namespace quilmer {

// "m:ss", or "h:mm:ss" from an hour on.
std::string FormatClock(double seconds);

// Estimated seconds left after elapsed seconds at percent (linear); negative when unknown.
double EstimateSecondsLeft(int percent, double elapsedSeconds);

// "[#########...........]  45%  converting clip 2 of 5  0:12 elapsed, about 0:15 left"
std::string ProgressLine(int percent, double elapsedSeconds, const std::string& stage, int barWidth = 30);

}  // namespace quilmer
