#pragma once
// Everything one join carries from the clip list to the finished file. Touched on the loop thread
// only, except the progress counters (own lock) and the cancel flag, which the worker reads.

#include "media/CancelFlag.h"
#include "media/ClipProperties.h"
#include "media/EncoderCommands.h"
#include "media/JoinPhase.h"
#include "media/Progress.h"

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace quilmer {

struct JoinState {
    static constexpr std::uint32_t kFlagClipCopy = 1u << 0;       // currentClip is a copy to delete
    static constexpr std::uint32_t kFlagTemporaryOutput = 1u << 1;  // move outputPath to finalOutputPath

    std::wstring currentClip;
    std::wstring outputPath;
    std::wstring finalOutputPath;
    bool handedOver = false;
    std::wstring targetFormat;  // "avi", "flv", "rmvb", "wmv" or "mp4"
    FinalEncodeParams encodeParams;  // audioKbps, videoKbps, sampleRateHz of the first clip
    std::wstring sourceUrl;
    std::wstring callerWindowClass;
    std::wstring callerMessageName;
    std::wstring languageName;
    std::uint32_t fileFlags = 0;
    JoinPhase phase = JoinPhase::Probing;
    std::wstring concatFile;
    std::wstring encoderPath;
    std::wstring pass1Preset;
    std::wstring pass2Preset;
    ProgressCounters counters;  // sumSeconds, totalSeconds, doneSeconds under their own lock
    std::wstring commandLine;
    std::wstring workingFolder;  // the program folder when idle
    CancelFlag cancel;
    ClipProperties probe;
    std::deque<std::wstring> pendingClips;
    std::vector<std::wstring> intermediateFiles;
    bool stepBusy = false;

    // Beyond the bare chain: what makes a join safe to stop and honest about its result.
    std::vector<std::wstring> clips;          // the clips of this join, in order
    std::size_t nextClipIndex = 0;            // list position of the front of pendingClips
    std::wstring clipCopy;                    // temporary copy of the running clip, if any
    bool outputStarted = false;               // the final encode has begun writing the output
    std::wstring failure;                     // why the join cannot produce its output
};

}  // namespace quilmer
