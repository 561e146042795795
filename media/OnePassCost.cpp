#include "media/OnePassCost.h"

#include <algorithm>

namespace quilmer {

namespace {

// Nanoseconds of one core per pixel, measured with ffmpeg -benchmark: decoding the real sample
// clips, and each target's encoder at the quality the one-pass join asks of it.
double EncodePerPixel(const std::wstring& format) {
    if (format == L"mp4") return 80;  // x264 in its slow preset
    if (format == L"wmv") return 8.5;
    if (format == L"avi") return 7.5;
    if (format == L"rmvb") return 6;
    return 5.5;  // flv1
}

// Fitting a frame into the output's, per pixel in and out: the pixels out cost the encoder more
// too, as a scaled picture is harder to code (a clip scaled into the frame took up to twice as
// long as one of that frame).
constexpr double kScaleInPerPixel = 1;
constexpr double kScaleOutPerPixel = 4;
constexpr double kPadPerPixel = 0.3;     // or giving it borders: per pixel out
constexpr double kSoundPerSecondNs = 6e6;  // decoding, resampling and encoding a second of sound

double Rate(double fps, double fallback) { return fps > 0 && fps <= 240 ? fps : fallback; }

}  // namespace

Fit FitOf(const PictureWork& clip, const PictureWork& output) {
    if (clip.width <= 0 || clip.height <= 0 || output.width <= 0 || output.height <= 0) return Fit::Same;
    if (clip.width == output.width && clip.height == output.height) return Fit::Same;
    if ((clip.width == output.width && clip.height < output.height) ||
        (clip.height == output.height && clip.width < output.width))
        return Fit::Padded;
    return Fit::Scaled;
}

double DecodeNanosPerPixel(const std::string& codec) {
    if (codec == "flv1" || codec == "h263" || codec == "h263p") return 1.0;
    if (codec == "h264" || codec == "hevc" || codec == "vp8" || codec == "vp9") return 3.2;
    if (codec == "wmv3" || codec == "vc1") return 4.5;
    if (codec == "mjpeg") return 5;
    return 1.5;  // mpeg4, msmpeg4, wmv1/2, vp6, ...
}

std::vector<double> OnePassClipCosts(const std::vector<PictureWork>& clips, const PictureWork& output,
                                     const std::wstring& format) {
    const double outFps = Rate(output.fps, 25);
    const double outPixels = static_cast<double>(std::max(output.width, 0)) * std::max(output.height, 0);
    // Every clip's second becomes a second of the output frame, encoded, with its sound.
    const double encode = outPixels * outFps * EncodePerPixel(format) + kSoundPerSecondNs;
    std::vector<double> costs;
    for (const PictureWork& clip : clips) {
        double read = 0;
        if (clip.width > 0 && clip.height > 0) {
            const double fps = Rate(clip.fps, outFps);
            const double pixels = static_cast<double>(clip.width) * clip.height;
            read = fps * (kDecodeNanosPerFrame + pixels * DecodeNanosPerPixel(clip.codec));
            // A frame of the output's size passes the scaler untouched, and one that only
            // gains borders is copied into them.
            const Fit fit = FitOf(clip, output);
            if (fit == Fit::Scaled) read += fps * (pixels * kScaleInPerPixel + outPixels * kScaleOutPerPixel);
            if (fit == Fit::Padded) read += fps * outPixels * kPadPerPixel;
        }
        // The decoder, the filters and the encoder share the machine's cores, so their work adds
        // up: a clip dear to read costs the more, one cheap to read no less than the encoder's.
        costs.push_back((encode + read) * 1e-9);
    }
    return costs;
}

}  // namespace quilmer
