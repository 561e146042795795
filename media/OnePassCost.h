#pragma once
// What a second of each clip costs in a one-pass encode, relative to the others: the encoder
// works on the output frame at the output rate for every clip alike, but each clip is decoded
// and scaled at its own frame size and rate, and some decoders cost more per pixel than others.
// Reading and encoding run side by side, so a clip costs whichever of the two is slower.
// The time-left estimate spreads the encode's measured pace over the clips by these costs.

#include <string>
#include <vector>

namespace quilmer {

struct PictureWork {
    std::string codec;  // the decoder's name ("h264"); "" for the output
    int width = 0;      // 0: no picture
    int height = 0;
    double fps = 0;     // 0 or less: not known
};

// Nanoseconds of one core that decoding a pixel of this codec costs.
double DecodeNanosPerPixel(const std::string& codec);
// A decoder's own cost per frame, whatever its size, in nanoseconds.
constexpr double kDecodeNanosPerFrame = 50000;

// How a clip's frame is fitted into an output frame, keeping its shape: scaled, or only given
// borders (one side already fits and the other is no longer), or passed as it is. A clip without
// a picture gets a black frame of the output's size.
enum class Fit { Same, Padded, Scaled };
Fit FitOf(const PictureWork& clip, const PictureWork& output);

// Seconds of work per second of each clip, on an arbitrary scale (only the ratios count), for an
// encode into `output` of format ("avi", "flv", "rmvb", "wmv", "mp4").
std::vector<double> OnePassClipCosts(const std::vector<PictureWork>& clips, const PictureWork& output,
                                     const std::wstring& format);

}  // namespace quilmer
