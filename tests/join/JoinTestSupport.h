#pragma once
// Shared pieces of the join tests: a scratch folder and small file helpers.

#include "foundation/FileUtil.h"

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

class ScratchFolder {
public:
    explicit ScratchFolder(const std::string& name) {
        std::string pattern = (std::filesystem::temp_directory_path() / (name + "-XXXXXX")).string();
        path_ = mkdtemp(pattern.data()) ? pattern : std::string();
    }
    ~ScratchFolder() {
        std::error_code ec;
        if (!path_.empty()) std::filesystem::remove_all(path_, ec);
    }
    // Wide path of a name inside, or of the folder itself (with '/') for an empty name.
    std::wstring Wide(const std::string& name = "") const { return WidePath(path_ + "/" + name); }
    std::string Native(const std::string& name = "") const { return path_ + "/" + name; }
    // Every name in the folder tree, relative to it, sorted.
    std::vector<std::string> List() const {
        std::vector<std::string> names;
        for (auto& entry : std::filesystem::recursive_directory_iterator(path_))
            names.push_back(std::filesystem::relative(entry.path(), path_).string());
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    std::string path_;
};

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
inline bool WaitFor(const std::function<bool()>& condition, const std::function<void()>& step,
                    std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (step) step();
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return condition();
}

}  // namespace quilmer::testing
