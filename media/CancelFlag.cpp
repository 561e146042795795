#include "media/CancelFlag.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

namespace quilmer {

CancelFlag::CancelFlag() : fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

CancelFlag::~CancelFlag() {
    if (fd_ >= 0) close(fd_);
}

void CancelFlag::Request() {
    requested_.store(true);
    if (fd_ >= 0) {
        std::uint64_t one = 1;
        // A full counter (never in practice) still leaves the fd readable, which is all we need.
        [[maybe_unused]] ssize_t r = write(fd_, &one, sizeof one);
    }
}

bool CancelFlag::IsRequested() const { return requested_.load(); }

void CancelFlag::Reset() {
    requested_.store(false);
    if (fd_ >= 0) {
        std::uint64_t value;
        while (read(fd_, &value, sizeof value) > 0) {
        }
    }
}

}  // namespace quilmer
