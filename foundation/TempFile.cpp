#include "foundation/TempFile.h"

#include "foundation/FileUtil.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace quilmer {

CTempFile::~CTempFile() {
    if (fd_ >= 0) {
        ::close(fd_);
        ::unlink(NativePath(fileName_).c_str());
    }
}

bool CTempFile::Create(const std::wstring& folder) {
    if (fd_ >= 0) return false;
    std::string dir = NativePath(folder);
    if (dir.empty()) {
        const char* tmp = std::getenv("TMPDIR");
        dir = (tmp && tmp[0] == '/') ? tmp : "/tmp";
    }
    if (dir.back() != '/') dir += '/';
    std::string name = dir + "TFRXXXXXX";
    int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) return false;
    fd_ = fd;
    fileName_ = WidePath(name);
    return true;
}

bool CTempFile::Write(const void* data, std::size_t size) {
    if (fd_ < 0) return false;
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = ::write(fd_, p, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool CTempFile::Commit(const std::wstring& target) {
    if (fileName_.empty()) return false;
    bool ok = true;
    if (fd_ >= 0) {
        // Flush to disk before the rename, so a crash cannot leave an empty target.
        if (!target.empty() && ::fsync(fd_) != 0) ok = false;
        if (::close(fd_) != 0) ok = false;
        fd_ = -1;
    }
    std::string temp = NativePath(fileName_);
    if (target.empty()) return ::unlink(temp.c_str()) == 0;
    if (!ok) return false;
    return ::rename(temp.c_str(), NativePath(target).c_str()) == 0;
}

}  // namespace quilmer
