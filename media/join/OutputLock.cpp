#include "media/join/OutputLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>

#include "foundation/FileUtil.h"
#include "foundation/Strings.h"
#include "foundation/TextTranslator.h"
#include "foundation/Utf8.h"
#include "media/join/JoinFiles.h"

namespace quilmer {

std::wstring OutputLock::LockPathFor(const std::wstring& outputPath) {
    const std::wstring normal = NormalPath(outputPath);
    const std::wstring folder = FolderOf(normal);
    std::wstring name = normal.substr(folder.size());
    // Hidden, and named after the output; a name too long to carry more is replaced by its hash.
    if (NativePath(name).size() + 15 > kMaxNameBytes)
        name = FormatW(L"%016zx", std::hash<std::string>{}(NativePath(name)));
    return folder + L"." + name + L".quilmer-lock";
}

std::wstring OutputLock::Acquire(const std::wstring& outputPath) {
    Release();
    const std::string path = NativePath(LockPathFor(outputPath));
    for (int attempt = 0; attempt < 8; ++attempt) {
        int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (fd < 0)
            return Tr(L"Cannot lock the output file") + L" " + outputPath + L": " +
                   FromUtf8(std::strerror(errno));
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            int error = errno;
            close(fd);
            if (error == EWOULDBLOCK)
                return Tr(L"Another join is writing this output file right now:") + L" " + outputPath;
            return Tr(L"Cannot lock the output file") + L" " + outputPath + L": " +
                   FromUtf8(std::strerror(error));
        }
        // The holder before us may have removed the file between our open and our lock: then
        // the lock is on a file nobody else will see, and we start over with the new one.
        struct stat held {
        }, named{};
        if (fstat(fd, &held) == 0 && stat(path.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
            held.st_ino == named.st_ino) {
            fd_ = fd;
            path_ = path;
            return {};
        }
        close(fd);
    }
    return Tr(L"Cannot lock the output file") + L" " + outputPath;
}

void OutputLock::Release() {
    if (fd_ < 0) return;
    // Removed while still held, so that nobody locks a file that is about to go.
    unlink(path_.c_str());
    close(fd_);
    fd_ = -1;
    path_.clear();
}

}  // namespace quilmer
