#pragma once
// Starts another program of the system (the updater, or the main program after an update)
// without waiting for it: an argument vector, no shell.

#include <string>
#include <vector>

namespace quilmer {

// True when the program was started. The child is reaped in the background, so it never stays
// behind as a zombie while this process runs on.
bool StartDetachedProcess(const std::wstring& executable, const std::vector<std::wstring>& arguments);

}  // namespace quilmer
