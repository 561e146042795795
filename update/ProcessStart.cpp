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
    pid_t pid = 0;
    if (::posix_spawn(&pid, narrow[0].c_str(), nullptr, nullptr, argv.data(), environ) != 0) return false;
    std::thread([pid] {
        int status = 0;
        ::waitpid(pid, &status, 0);
    }).detach();
    return true;
}

}  // namespace quilmer
