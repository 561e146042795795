#pragma once
// Shared pieces of the join tests: small file helpers beside the common scratch folder.

#include "foundation/FileUtil.h"
#include "tests/support/ScratchFolder.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace quilmer::testing {

using quilmer::test::ScratchFolder;

inline void WriteFile(const std::string& path, const std::string& content) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Polls until the condition holds or the time is up; step runs between polls (e.g. RunPending).
// The limit is generous: it only turns a fault into a failure instead of a hang.
inline bool WaitFor(const std::function<bool()>& condition, const std::function<void()>& step,
                    std::chrono::milliseconds limit = std::chrono::seconds(30)) {
    auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (step) step();
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return condition();
}

}  // namespace quilmer::testing
