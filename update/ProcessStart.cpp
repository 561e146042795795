#include "update/ProcessStart.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include "foundation/FileUtil.h"

extern char** environ;

namespace quilmer {

bool StartDetachedProcess(const std::wstring& executable, const std::vector<std::wstring>& arguments) {
    std::vector<std::string> narrow;
    narrow.push_back(NativePath(executable));
    for (const auto& a : arguments) narrow.push_back(NativePath(a));
    std::vector<char*> argv;
    for (auto& s : narrow) argv.push_back(s.data());
    argv.push_back(nullptr);
    // Nothing of ours beyond the standard three: a descriptor opened without close-on-exec by any
    // thread (a stream's file) must not live on in the started program.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    pid_t pid = 0;
    int rc = ::posix_spawn(&pid, narrow[0].c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return false;
    std::thread([pid] {
        int status = 0;
        ::waitpid(pid, &status, 0);
    }).detach();
    return true;
}

}  // namespace quilmer
