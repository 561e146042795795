#include "cli/TerminalProgress.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace quilmer {

std::string FormatClock(double seconds) {
    long total = seconds > 0 ? std::lround(seconds) : 0;
    char text[32];
    if (total >= 3600)
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60, total % 60);
    else
        std::snprintf(text, sizeof text, "%ld:%02ld", total / 60, total % 60);
    return text;
}

double EstimateSecondsLeft(int percent, double elapsedSeconds) {
    if (percent <= 0 || percent > 100 || elapsedSeconds <= 0) return -1;
    return elapsedSeconds * (100 - percent) / percent;
}

std::string ProgressLine(int percent, double elapsedSeconds, const std::string& stage, int barWidth) {
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
    double left = EstimateSecondsLeft(percent, elapsedSeconds);
    line += left < 0 ? ", estimating time left" : ", about " + FormatClock(left) + " left";
    return line;
}

}  // namespace quilmer
