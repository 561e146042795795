#include "foundation/protocol/WindowFolder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace quilmer {

namespace {

// Room for "/" + a socket name (16 hex digits, pid, serial and their dashes) in sun_path.
constexpr std::size_t kSocketNameRoom = 48;

bool PrivateFolderOfOurs(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return false;
    return S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 077) == 0;
}

bool UsableRuntimeDir(const char* value) {
    if (!value || value[0] != '/') return false;
    std::string path(value);
    if (path.size() + std::strlen("/quilmer-windows") + kSocketNameRoom > kMaxSocketPath) return false;
    struct stat st {};
    // The runtime folder itself may be reached through a link (stat), but must be ours alone.
    if (::stat(path.c_str(), &st) != 0) return false;
    return S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 077) == 0;
}

}  // namespace

std::string WindowFolder(std::string* error) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    std::string folder =
        UsableRuntimeDir(runtime)
            ? std::string(runtime) + "/quilmer-windows"
            : "/tmp/quilmer-windows-" + std::to_string(static_cast<unsigned long>(::geteuid()));
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        if (error) *error = "cannot create " + folder + ": " + std::strerror(errno);
        return {};
    }
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) {
        if (error) *error = folder + " is not a folder of this user";
        return {};
    }
    // A folder of ours with a wider mode (made by hand, or by an old umask) is narrowed.
    if ((st.st_mode & 077) != 0 && ::chmod(folder.c_str(), 0700) != 0) {
        if (error) *error = "cannot make " + folder + " private: " + std::strerror(errno);
        return {};
    }
    if (!PrivateFolderOfOurs(folder)) {
        if (error) *error = folder + " is not private";
        return {};
    }
    return folder;
}

}  // namespace quilmer
