#include "media/ClassicCost.h"

#include <algorithm>

namespace quilmer {

namespace {

// Fitted to the conversions and final encodes of the mixed and the real test clips (bench/timeleft
// recordings): an MPEG-2 frame at the intermediate's quality costs about 4 ns a pixel, and the
// clip's decoding shows at about two thirds of its single-core cost (the encoder's threads hide the rest).
constexpr double kConversionStartSeconds = 0.5;  // two program starts and a probe
constexpr double kIntermediatePerPixelNs = 3.75;
constexpr double kDecodeShare = 0.68;
constexpr int kNoPictureWidth = 320, kNoPictureHeight = 240;  // a sound-only clip gets black frames

// The intermediate's rate: the clip's own, raised to 20 fps (an unknown rate counts as slow).
double IntermediateRate(double fps) { return fps >= 20 && fps <= 240 ? fps : 20; }

// The frame of a clip's intermediate: its own, or black frames for a sound-only clip.
PictureWork IntermediateFrame(PictureWork p) {
    if (p.width <= 0 || p.height <= 0) {
        p.width = kNoPictureWidth;
        p.height = kNoPictureHeight;
    }
    return p;
}

double Pixels(const PictureWork& p) {
    const PictureWork frame = IntermediateFrame(p);
    return static_cast<double>(frame.width) * frame.height;
}

// Nanoseconds a pixel of the first clip's frame costs in the final encode. How much an encoder
// spends on a frame depends on what it shows too (real footage costs up to half as much again as
// the test patterns), so these are the middle of the two sets.
double FinalPerPixelNs(const std::wstring& format, FinalPass pass) {
    if (pass == FinalPass::Mp4First) return 10.5;
    if (pass == FinalPass::Mp4Second) return 27;
    if (format == L"avi") return 7.2;
    if (format == L"rmvb") return 4.4;
    if (format == L"wmv") return 5.5;
    return 5.5;  // flv
}

// Reading an intermediate frame back, per pixel of its own frame; fitting it into the first clip's,
// per pixel in and out when it is scaled, per pixel out when it only gains borders. A scaled
// frame costs the encoder more as well (the long recordings: a clip scaled into the frame took
// 1.6 to 2.1 times as long as one of that frame), which the pixels out carry.
constexpr double kIntermediateDecodeNs = 1.5;
constexpr double kScaleInPerPixelNs = 0.5;
constexpr double kScaleOutPerPixelNs = 3;
constexpr double kPadPerPixelNs = 0.3;

}  // namespace

StepSeconds ClassicConversionCost(const PictureWork& clip) {
    const double pixels = Pixels(clip);
    double perSecond = IntermediateRate(clip.fps) * pixels * kIntermediatePerPixelNs;
    if (clip.width > 0 && clip.height > 0) {
        const double fps = clip.fps > 0 && clip.fps <= 240 ? clip.fps : 25;
        perSecond += kDecodeShare * fps * (kDecodeNanosPerFrame + pixels * DecodeNanosPerPixel(clip.codec));
    }
    return {kConversionStartSeconds, perSecond * 1e-9};
}

double ClassicEncodePerSecond(const PictureWork& clip, const PictureWork& firstFrame, const std::wstring& format,
                              FinalPass pass) {
    // The output keeps the first intermediate's rate (frames of faster clips are dropped), but
    // every frame of the clip's own intermediate is read and fitted.
    const double own = Pixels(clip), frame = Pixels(firstFrame);
    double read = own * kIntermediateDecodeNs;
    switch (FitOf(IntermediateFrame(clip), IntermediateFrame(firstFrame))) {
    case Fit::Scaled: read += own * kScaleInPerPixelNs + frame * kScaleOutPerPixelNs; break;
    case Fit::Padded: read += frame * kPadPerPixelNs; break;
    case Fit::Same: break;
    }
    return (IntermediateRate(firstFrame.fps) * frame * FinalPerPixelNs(format, pass) + IntermediateRate(clip.fps) * read) *
           1e-9;
}

StepSeconds ClassicCheckCost(const std::wstring& format) {
    // The result is opened and its last pictures read back, which takes longer the longer it is
    // (measured on the bench's joins: 2.3 s after 40 minutes of WMV, 1.7 s of MP4, under 1 s of the rest).
    double perSecond = 0.0002;
    if (format == L"wmv") perSecond = 0.0009;
    if (format == L"mp4") perSecond = 0.0006;
    return {0.2, perSecond};
}

}  // namespace quilmer
