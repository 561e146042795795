#pragma once
// Output formats: which extensions belong to which format, the file-type lists of the save
// dialog, and the sample-rate rule of the flv, rmvb and wmv encodes.

#include <string>
#include <vector>

namespace quilmer {

// One of "avi", "flv", "rmvb", "wmv", "mp4"; compared as text.
using TargetFormat = std::wstring;

// The format whose extension group the path ends with (case-insensitive; groups tested in the
// order flv, rmvb, mp4, avi, wmv), or an empty string when none fits.
TargetFormat TargetFormatForPath(const std::wstring& path);

struct FileFilter {
    std::wstring pattern;      // "*.flv"
    std::wstring description;  // "Flv Files (*.flv)", already translated
};

// The six filters of the save dialog, the first clip's own type first. A path that fits no group
// (or an empty one) gets the flv order, which is also the list of the dialog's second showing.
std::vector<FileFilter> SaveDialogFilters(const std::wstring& firstClipPath);

// flv, rmvb and wmv: above 44100 -> 44100; above 22050 up to 44100 -> 22050; otherwise 11025.
int MapSampleRate(int sampleRateHz);

}  // namespace quilmer
