#include "media/TimeLeft.h"

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

}  // namespace quilmer
