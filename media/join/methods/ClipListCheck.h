#pragma once
// The compatibility check of a whole clip list, from the files: each clip looked at, the report
// made, and the method `auto` would take. The command line's --check and the main window's
// report line both show this.

#include "media/CancelFlag.h"
#include "media/TargetFormat.h"
#include "media/join/methods/Compatibility.h"
#include "media/join/methods/JoinMethod.h"

#include <string>
#include <vector>

namespace quilmer {

struct ClipListCheck {
    CompatibilityReport report;            // of the clips that could be looked at
    std::vector<std::wstring> unreadable;  // "name: why" of each clip that could not
    LosslessVerdict verdict;               // of the whole list
    MethodChoice automatic;                // what `auto` would take, and why
    bool stopped = false;                  // the cancel flag was raised: nothing else is told

    bool Lossless() const { return verdict.possible; }
    // One line for a status bar: the report's summary, or what stands in the way of looking.
    std::wstring Summary() const;
    // The report's lines, the clips that could not be read, the automatic method.
    std::vector<std::wstring> Lines() const;
};

// Looks at each clip (in this process, libavformat) and compares them for a join into `target`.
ClipListCheck CheckClipList(const std::vector<std::wstring>& clips, const TargetFormat& target,
                            const CancelFlag& cancel);

}  // namespace quilmer
