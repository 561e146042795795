#pragma once
// The byte-for-byte join of the intermediate streams into one file, done in-process: MPEG program
// streams may simply be appended to each other. No shell and no command-line length limit.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace quilmer {

enum class ConcatResult { Done, Cancelled, Failed };

struct ConcatOutcome {
    ConcatResult result = ConcatResult::Failed;
    std::wstring error;         // why it failed, for the user
    int partsWritten = 0;       // parts that existed and were copied
    std::int64_t bytesWritten = 0;
};

// Writes the parts that exist, in order, into target (replacing it). A missing part is a clip
// whose conversion failed; it is skipped, like the copy command it replaces would have done.
// cancelled is polled between blocks; progress gets (bytes done, bytes total).
ConcatOutcome ConcatenateFiles(const std::vector<std::wstring>& parts, const std::wstring& target,
                               const std::function<bool()>& cancelled,
                               const std::function<void(std::int64_t, std::int64_t)>& progress = {});

}  // namespace quilmer
