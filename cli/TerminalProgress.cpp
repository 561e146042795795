#include "cli/TerminalProgress.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace quilmer {

std::string ProgressLine(int percent, double elapsedSeconds, const std::string& stage, double secondsLeft,
                         int barWidth) {
    percent = std::clamp(percent, 0, 100);
    int filled = percent * barWidth / 100;
    std::string line;
    line.reserve(static_cast<std::size_t>(barWidth) + 80);
    line.push_back('[');
    line.append(static_cast<std::size_t>(filled), '#');
    line.append(static_cast<std::size_t>(barWidth - filled), '.');
    line.append("] ");
    char number[8];
    std::snprintf(number, sizeof number, "%3d%%", percent);
    line += number;
    if (!stage.empty()) line += "  " + stage;
    line += "  " + FormatClock(elapsedSeconds) + " elapsed";
    line += secondsLeft < 0 ? ", estimating time left" : ", about " + FormatClock(secondsLeft) + " left";
    return line;
}

}  // namespace quilmer
