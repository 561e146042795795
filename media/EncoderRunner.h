#pragma once
// Runs one encoder process: the command line (one string, split by the Windows rules, no shell)
// runs in a working folder; everything it writes to standard output and standard error arrives
// through one pipe and is handed to the chunk handler read by read; at the end the end handler
// sees the accumulated text and its answer is the result of the run.

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace quilmer {

class CancelFlag;

// (accumulated text, chunk of up to 4096 bytes) -> keep reading? The runner never appends to the
// accumulated text itself; the handler may.
using OutputChunkHandler = std::function<bool(std::string& accumulated, std::string& chunk)>;
// (accumulated text) -> the result of RunEncoder.
using OutputEndHandler = std::function<bool(std::string& accumulated)>;

// How an encoder run ended. A run counts as a success only when the process was started, was
// not stopped by us and exited with status 0: a crash, a kill by someone else or a failure
// status is a failed step, whatever the end handler made of the output.
struct EncoderExit {
    bool started = false;
    bool stoppedByUs = false;  // a stop request, the chunk handler's "enough" or the time limit
    bool timedOut = false;     // stopped because the time limit passed
    int exitCode = -1;         // the status it exited with, -1 when it did not exit by itself
    int signal = 0;            // the signal that ended it, when not stopped by us
    int startError = 0;        // errno of a start that failed (E2BIG: the command line is too long)

    bool Succeeded() const { return started && !stoppedByUs && signal == 0 && exitCode == 0; }
    // "The encoder ended with exit status 1.", "The encoder was killed by signal 9 (SIGKILL).",
    // "The encoder could not be started: Argument list too long" ...
    std::wstring Describe() const;
};

// How long a stopped encoder may take to end after SIGTERM before its group gets SIGKILL.
constexpr std::chrono::milliseconds kEncoderStopGrace{500};

// Returns false at once, calling neither handler, when the process cannot be started (missing
// program, missing working folder, no pipe). Otherwise reads until end of output, until the chunk
// handler returns false or throws, or until `cancel` is requested (checked while waiting, so a
// silent process is stopped too), or until `timeLimit` (when not zero) has passed. A stopped
// process group gets SIGTERM, and SIGKILL when it has not ended after kEncoderStopGrace. The
// process is always reaped before the end handler runs; `exit`, when given, tells how it ended.
// The child learns our pid from QUILMER_ENGINE_PID, so that the adapter can end itself when we
// are gone. An empty working folder keeps the current one.
bool RunEncoder(const std::wstring& workingFolder, const std::wstring& commandLine,
                const OutputChunkHandler& onChunk, const OutputEndHandler& onEnd,
                CancelFlag* cancel = nullptr, EncoderExit* exit = nullptr,
                std::chrono::milliseconds timeLimit = std::chrono::milliseconds::zero());

// The same with an argument vector: args[0] is the program (a bare name is looked up on PATH),
// every argument reaches it byte for byte. For programs run directly, not through the adapter.
bool RunProgramArgs(const std::wstring& workingFolder, const std::vector<std::wstring>& args,
                    const OutputChunkHandler& onChunk, const OutputEndHandler& onEnd,
                    CancelFlag* cancel = nullptr, EncoderExit* exit = nullptr,
                    std::chrono::milliseconds timeLimit = std::chrono::milliseconds::zero());

}  // namespace quilmer
