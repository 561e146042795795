#pragma once
// Runs one encoder process: the command line (one string, split by the Windows rules, no shell)
// runs in a working folder; everything it writes to standard output and standard error arrives
// through one pipe and is handed to the chunk handler read by read; at the end the end handler
// sees the accumulated text and its answer is the result of the run.

#include <functional>
#include <string>

namespace quilmer {

class CancelFlag;

// (accumulated text, chunk of up to 4096 bytes) -> keep reading? The runner never appends to the
// accumulated text itself; the handler may.
using OutputChunkHandler = std::function<bool(std::string& accumulated, std::string& chunk)>;
// (accumulated text) -> the result of RunEncoder.
using OutputEndHandler = std::function<bool(std::string& accumulated)>;

// Returns false at once, calling neither handler, when the process cannot be started (missing
// program, missing working folder, no pipe). Otherwise reads until end of output, until the chunk
// handler returns false or throws, or until `cancel` is requested (checked while waiting, so a
// silent process is stopped too); a stopped process and everything it started are killed. The
// process is always reaped before the end handler runs. An empty working folder keeps the
// current one.
bool RunEncoder(const std::wstring& workingFolder, const std::wstring& commandLine,
                const OutputChunkHandler& onChunk, const OutputEndHandler& onEnd,
                CancelFlag* cancel = nullptr);

}  // namespace quilmer
