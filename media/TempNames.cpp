#include "media/TempNames.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <random>

#include "foundation/FileUtil.h"
#include "foundation/Strings.h"

namespace quilmer {

namespace {

std::wstring WithSlash(const std::wstring& folder) {
    if (folder.empty() || folder.back() == L'/') return folder;
    return folder + L'/';
}

template <typename Create>
std::wstring Reserve(const std::wstring& folder, const std::wstring& suffix, Create create) {
    static thread_local std::mt19937 random{std::random_device{}()};
    const std::wstring base = WithSlash(folder);
    for (int attempt = 0; attempt < 64; ++attempt) {
        std::wstring candidate = base + FormatW(L"%X", static_cast<unsigned>(random() & 0xFFFFF)) + suffix;
        int result = create(NativePath(candidate));
        if (result == 0) return candidate;
        if (result != EEXIST) return {};
    }
    return {};
}

}  // namespace

std::wstring ReserveTemporaryName(const std::wstring& folder, const std::wstring& extension) {
    return Reserve(folder, extension, [](const std::string& path) {
        int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0) return errno;
        close(fd);
        return 0;
    });
}

std::wstring ReserveTemporaryFolder(const std::wstring& folder) {
    std::wstring made = Reserve(
        folder, L"", [](const std::string& path) { return mkdir(path.c_str(), 0755) == 0 ? 0 : errno; });
    return made.empty() ? made : made + L'/';
}

}  // namespace quilmer
