#include "media/join/Concatenate.h"

#include "foundation/FileUtil.h"
#include "foundation/TextTranslator.h"
#include "foundation/Utf8.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quilmer {

namespace {

constexpr std::size_t kBlockSize = 1 << 20;

std::wstring ErrnoText(int error) { return WidePath(std::strerror(error)); }

struct Fd {
    int fd = -1;
    ~Fd() {
        if (fd >= 0) close(fd);
    }
};

}  // namespace

ConcatOutcome ConcatenateFiles(const std::vector<std::wstring>& parts, const std::wstring& target,
                               const std::function<bool()>& cancelled,
                               const std::function<void(std::int64_t, std::int64_t)>& progress) {
    ConcatOutcome outcome;
    std::int64_t total = 0;
    std::vector<std::string> present;
    for (const auto& part : parts) {
        std::string name = NativePath(part);
        struct stat st {};
        if (stat(name.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
            present.push_back(name);
            total += st.st_size;
        }
    }
    if (present.empty()) {
        outcome.error = Tr(L"None of the clips could be converted.");
        return outcome;
    }

    Fd out;
    out.fd = open(NativePath(target).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out.fd < 0) {
        outcome.error = Tr(L"Cannot create the file ") + target + L": " + ErrnoText(errno);
        return outcome;
    }
    std::vector<char> buffer(kBlockSize);
    for (const auto& name : present) {
        Fd in;
        in.fd = open(name.c_str(), O_RDONLY | O_CLOEXEC);
        if (in.fd < 0) continue;  // vanished since the size check: treat it like a missing part
        for (;;) {
            if (cancelled && cancelled()) {
                outcome.result = ConcatResult::Cancelled;
                return outcome;
            }
            ssize_t n = read(in.fd, buffer.data(), buffer.size());
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                outcome.error = Tr(L"Cannot read the file ") + WidePath(name) + L": " + ErrnoText(errno);
                return outcome;
            }
            if (n == 0) break;
            if (!WriteAllToFd(out.fd, buffer.data(), static_cast<std::size_t>(n))) {
                outcome.error = Tr(L"Cannot write the file ") + target + L": " + ErrnoText(errno);
                return outcome;
            }
            outcome.bytesWritten += n;
            if (progress) progress(outcome.bytesWritten, total);
        }
        ++outcome.partsWritten;
    }
    if (close(out.fd) != 0) {
        out.fd = -1;
        outcome.error = Tr(L"Cannot write the file ") + target + L": " + ErrnoText(errno);
        return outcome;
    }
    out.fd = -1;
    outcome.result = ConcatResult::Done;
    return outcome;
}

}  // namespace quilmer
