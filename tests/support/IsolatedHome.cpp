// Linked into every test runner: before any test runs, HOME and the XDG folders point into a
// private folder of this process, so that no test reads or changes the user's real settings,
// language choice or the encoder adapter's probe notes, and no two runners share them. The
// folder is removed when the process ends, after the singletons that may still write into it.

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

std::string g_home;

void RemoveHome() {
    if (g_home.empty()) return;
    std::error_code ec;
    std::filesystem::remove_all(g_home, ec);
}

struct IsolatedHome {
    IsolatedHome() {
        std::error_code ec;
        std::string pattern = (std::filesystem::temp_directory_path(ec) / "quilmer-home-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) return;
        g_home = pattern;
        // Registered before any function-local singleton exists, so it runs after their destructors.
        std::atexit(RemoveHome);
        auto folder = [](const std::string& path) {
            ::mkdir(path.c_str(), 0700);
            return path;
        };
        ::setenv("HOME", g_home.c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", folder(g_home + "/config").c_str(), 1);
        ::setenv("XDG_CACHE_HOME", folder(g_home + "/cache").c_str(), 1);
        ::setenv("XDG_DATA_HOME", folder(g_home + "/data").c_str(), 1);
        // The adapter keeps its probe notes here; it trusts only a private folder (0700).
        ::setenv("XDG_RUNTIME_DIR", folder(g_home + "/runtime").c_str(), 1);
        // The main window checks for a new version once per run. Tests stay on this machine: the
        // check goes to a closed loopback port (refused at once) unless a test names a server.
        ::setenv("QUILMER_UPDATE_URL", "http://127.0.0.1:9", 0);
    }
};

const IsolatedHome g_isolatedHome;

}  // namespace
