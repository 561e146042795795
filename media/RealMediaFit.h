#pragma once
// What a RealMedia output can carry. Its muxer refuses a packet over 64 kB, and RealVideo 1
// codes only whole 16-pixel blocks; a frame must fit whatever the picture holds. Both join
// engines (the adapter's final encode and the one-pass join) fit the picture the same way: a
// frame at most 640x480 in area (scaled down with its shape kept), rounded to whole blocks, and
// a rate-control buffer that keeps every coded frame below the limit (the encoder codes a frame
// again, coarser, when it would not fit). Header-only: the adapter builds without the engine.

#include <algorithm>
#include <cmath>

namespace quilmer {

inline constexpr int kRealMediaMaxArea = 640 * 480;
// Below the muxer's 64 kB, with room for the packet's own header.
inline constexpr const char* kRealMediaFrameBuffer = "480k";
inline constexpr const char* kRealMediaMaxRate = "20000k";

struct RealMediaFrame {
    int width = 0, height = 0;
    bool scaledDown = false;  // the picture was larger than a RealMedia frame may be
};

inline RealMediaFrame FitRealMediaFrame(int width, int height) {
    RealMediaFrame f;
    if (width <= 0 || height <= 0) return f;
    double w = width, h = height;
    if (w * h > kRealMediaMaxArea) {
        const double factor = std::sqrt(kRealMediaMaxArea / (w * h));
        w *= factor;
        h *= factor;
        f.scaledDown = true;
    }
    // Whole blocks, rounded down once scaled (so that the area stays within the limit).
    auto blocks = [&](double v) {
        return std::max(16, f.scaledDown ? static_cast<int>(v) / 16 * 16 : (static_cast<int>(v) + 8) / 16 * 16);
    };
    f.width = blocks(w);
    f.height = blocks(h);
    return f;
}

}  // namespace quilmer
