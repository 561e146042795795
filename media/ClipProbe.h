#pragma once
// Probing a clip: runs the encoder with only "-i FILE" and parses its report.

#include <chrono>
#include <string>
#include <vector>

#include "media/ClipProperties.h"

namespace quilmer {

class CancelFlag;

// A probe reads only the head of a file; one that has not answered in this time is stuck (a named
// pipe nobody writes, a stalled network mount) and is stopped.
constexpr std::chrono::milliseconds kProbeTimeLimit{30000};

// The encoder the engine runs: the adapter in the program folder.
std::wstring DefaultEncoderPath();  // ProgramFolder() + "ffmpeg"

// "\"ENCODER\" -i \"FILE\"" (paths quoted so that any file name survives the split).
std::wstring ProbeCommandLine(const std::wstring& encoderPath, const std::wstring& path);

// Probes one file into `record`: false without running anything when the path is empty or no
// such file exists (the record is then left alone); otherwise the record is cleared, `path` set,
// the encoder run, and the result is that of ParseProbeOutput (false also when the encoder
// cannot be started, was killed, or was stopped). `commandLineOut`, when given, receives the
// command line that was run. A raised `cancel` stops the probe, and so does `timeLimit`; the flag
// is left as it is (the caller lowers it before a new job, so that a stop requested meanwhile is
// not lost).
bool ProbeClip(const std::wstring& path, ClipProperties& record,
               const std::wstring& encoderPath = DefaultEncoderPath(),
               const std::wstring& workingFolder = std::wstring(), CancelFlag* cancel = nullptr,
               std::wstring* commandLineOut = nullptr, std::chrono::milliseconds timeLimit = kProbeTimeLimit);

// Probes many files with as few encoder starts as it can: one run reads up to kProbeBatch files
// ("-i A -i B ..."). The encoder gives up at the first file it cannot read; that file counts as
// failed and the files after it are read by the next run. `records` gets one record per path
// (path set); the answer says, per path, whether its probe succeeded. A raised `cancel` stops at
// once (the rest count as failed); `timeLimit` applies to each run, and a file that holds a run
// past it counts as failed. The caller may try the failed ones again one by one (ProbeWithFallback).
constexpr std::size_t kProbeBatch = 32;
std::vector<bool> ProbeClips(const std::vector<std::wstring>& paths, std::vector<ClipProperties>& records,
                             const std::wstring& encoderPath = DefaultEncoderPath(), CancelFlag* cancel = nullptr,
                             std::chrono::milliseconds timeLimit = kProbeTimeLimit);

// Copies `path` to a fresh name in its own folder (hexadecimal digits and the file's own
// extension) and returns the copy's path, or an empty string when no name could be had, the copy
// failed or `cancel` was raised meanwhile (a copy of a large file takes a while; a stop must not
// wait for it). The caller deletes the copy.
std::wstring MakeTemporaryCopy(const std::wstring& path, CancelFlag* cancel = nullptr);

// ProbeClip; when it fails, probes a temporary copy instead (some inputs are refused under their
// own name) and deletes the copy again; no copy is made once `cancel` is raised. `record.path` is
// always the given path. Returns whether one of the two probes succeeded.
bool ProbeWithFallback(const std::wstring& path, ClipProperties& record,
                       const std::wstring& encoderPath = DefaultEncoderPath(),
                       const std::wstring& workingFolder = std::wstring(), CancelFlag* cancel = nullptr);

}  // namespace quilmer
