#pragma once
// A private folder under the system temp folder for one test, removed with everything in it.

#include "foundation/FileUtil.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace quilmer::test {

class ScratchFolder {
public:
    explicit ScratchFolder(const std::string& prefix = "quilmer-test") {
        std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
        path_ = ::mkdtemp(pattern.data()) ? pattern : std::string();
    }
    ~ScratchFolder() {
        if (path_.empty()) return;
        std::error_code ec;
        // Make everything writable again so a test that removed permissions cannot leak folders.
        for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
             !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
            std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(path_, ec);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    // The folder without a trailing slash.
    const std::string& Path() const { return path_; }
    // A name inside, or the folder itself with '/' for an empty name.
    std::string Native(const std::string& name = "") const { return path_ + "/" + name; }
    std::string File(const std::string& name) const { return Native(name); }
    std::string operator/(const std::string& name) const { return Native(name); }
    std::wstring Wide(const std::string& name = "") const { return WidePath(Native(name)); }

    void Write(const std::string& name, const std::string& contents) const {
        std::filesystem::create_directories(std::filesystem::path(File(name)).parent_path());
        std::ofstream(File(name), std::ios::binary) << contents;
    }

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

}  // namespace quilmer::test
