#pragma once
// The time a running join still needs, as the progress displays of both the command-line joiner
// and the main window show it (the estimate itself: TimeLeftEstimator).

#include <string>

namespace quilmer {

// "m:ss", or "h:mm:ss" from an hour on.
std::string FormatClock(double seconds);

}  // namespace quilmer
