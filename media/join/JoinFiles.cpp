#include "media/join/JoinFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "foundation/FileUtil.h"
#include "foundation/Strings.h"
#include "foundation/TextTranslator.h"
#include "foundation/Utf8.h"
#include "media/ProbeParser.h"
#include "media/TempNames.h"

namespace quilmer {

namespace fs = std::filesystem;

fs::path ToFsPath(const std::wstring& path) { return fs::path(NativePath(path)); }

std::wstring FromFsPath(const fs::path& path) { return WidePath(path.native()); }

std::wstring FolderOf(const std::wstring& path) {
    auto slash = path.rfind(L'/');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

namespace {
std::wstring NameOf(const std::wstring& path) {
    auto slash = path.rfind(L'/');
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}
}  // namespace

std::wstring TitleOf(const std::wstring& path) {
    std::wstring name = NameOf(path);
    auto dot = name.rfind(L'.');
    return dot == std::wstring::npos || dot == 0 ? name : name.substr(0, dot);
}

std::wstring ExtensionOf(const std::wstring& path) {
    std::wstring name = NameOf(path);
    auto dot = name.rfind(L'.');
    return dot == std::wstring::npos || dot == 0 ? std::wstring() : name.substr(dot);
}

std::wstring NormalPath(const std::wstring& path) {
    std::error_code ec;
    fs::path absolute = fs::absolute(ToFsPath(path), ec);
    if (ec) absolute = ToFsPath(path);
    return FromFsPath(absolute.lexically_normal());
}

bool SameFile(const std::wstring& a, const std::wstring& b) {
    if (NormalPath(a) == NormalPath(b)) return true;
    std::error_code ec;
    bool same = fs::equivalent(ToFsPath(a), ToFsPath(b), ec);
    return !ec && same;
}

std::wstring FitTitle(const std::wstring& title, std::size_t maxBytes) {
    if (NativePath(title).size() <= maxBytes) return title;
    std::wstring fitted;
    std::size_t bytes = 0;
    for (wchar_t c : title) {
        std::size_t size = NativePath(std::wstring(1, c)).size();
        if (bytes + size > maxBytes) break;
        fitted += c;
        bytes += size;
    }
    return fitted;
}

void JoinFileNamer::Protect(const std::wstring& path) { protected_.push_back(path); }

bool JoinFileNamer::IsReserved(const std::wstring& path) const { return reserved_.count(NormalPath(path)) != 0; }

void JoinFileNamer::Clear() {
    protected_.clear();
    reserved_.clear();
}

bool JoinFileNamer::Taken(const std::wstring& path) const {
    if (reserved_.count(NormalPath(path))) return true;
    for (const auto& p : protected_)
        if (SameFile(p, path)) return true;
    std::error_code ec;
    // symlink_status: a dangling link is a name in use as well.
    return fs::exists(fs::symlink_status(ToFsPath(path), ec));
}

std::wstring JoinFileNamer::Reserve(const std::wstring& folder, const std::wstring& title,
                                    const std::wstring& suffix, const std::wstring& extension) {
    // Room for the suffix, the extension and a "-NNNNN" that tells clashing names apart.
    const std::size_t fixed = NativePath(suffix + extension).size() + 6;
    const std::wstring fitted = FitTitle(title, fixed < kMaxNameBytes ? kMaxNameBytes - fixed : 0);
    std::wstring candidate = folder + fitted + suffix + extension;
    for (int n = 2; Taken(candidate); ++n)
        candidate = folder + fitted + L"-" + std::to_wstring(n) + suffix + extension;
    reserved_.insert(NormalPath(candidate));
    return candidate;
}

std::wstring CheckOutputPath(const std::wstring& outputPath, const std::vector<std::wstring>& clips) {
    if (outputPath.empty()) return Tr(L"No output file was given.");
    std::error_code ec;
    fs::path out = ToFsPath(outputPath);
    if (fs::is_directory(out, ec)) return Tr(L"The output path is a folder: ") + outputPath;
    fs::path parent = fs::absolute(out, ec).parent_path();
    if (!fs::is_directory(parent, ec))
        return Tr(L"The folder of the output file does not exist: ") + FromFsPath(parent);
    const std::size_t nameBytes = out.filename().native().size();
    if (nameBytes > kMaxNameBytes)
        return Tr(L"The output file's name is too long for the file system (at most 255 bytes):") + L" " +
               outputPath;
    for (const auto& clip : clips)
        if (SameFile(clip, outputPath))
            return Tr(L"The output file is one of the clips to join: ") + outputPath;
    // Permissions alone do not tell (a read-only mount, /proc, a full disk): try it.
    std::wstring folder = FromFsPath(parent);
    if (!folder.empty() && folder.back() != L'/') folder += L'/';
    errno = 0;
    std::wstring probe = ReserveTemporaryName(folder, L".quilmer-test");
    if (probe.empty()) {
        int error = errno != 0 ? errno : EACCES;
        return Tr(L"The folder of the output file cannot be written:") + L" " + folder + L": " +
               FromUtf8(std::strerror(error));
    }
    RemoveFileQuietly(probe);
    return {};
}

std::wstring CheckClipReadable(const std::wstring& clip) {
    const std::string native = NativePath(clip);
    struct stat st {};
    if (native.empty() || stat(native.c_str(), &st) != 0)
        return FromUtf8(std::strerror(native.empty() ? ENOENT : errno));
    if (S_ISDIR(st.st_mode)) return FromUtf8(std::strerror(EISDIR));
    int fd = open(native.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return FromUtf8(std::strerror(errno));
    close(fd);
    return {};
}

std::wstring StorageFailure(const std::string& encoderOutput) {
    std::wstring text = EncoderTextToWide(encoderOutput);
    for (const wchar_t* reason : {L"No space left on device", L"Disk quota exceeded", L"File too large"}) {
        auto at = text.rfind(reason);
        if (at != std::wstring::npos) return reason;
    }
    return {};
}

void RemoveFileQuietly(const std::wstring& path) {
    if (path.empty()) return;
    std::error_code ec;
    if (!fs::is_directory(fs::symlink_status(ToFsPath(path), ec))) fs::remove(ToFsPath(path), ec);
}

void RemoveFolderQuietly(const std::wstring& folder) {
    if (folder.empty()) return;
    std::error_code ec;
    fs::remove_all(ToFsPath(folder), ec);
}

std::wstring FlushOutputToDisk(const std::wstring& output) {
    int fd = open(NativePath(output).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return {};  // the result check says what is wrong with a file that is not there
    bool synced = fsync(fd) == 0;
    int error = errno;
    close(fd);
    if (synced || error == EINVAL) return {};
    return Tr(L"The folder of the output file cannot be written:") + L" " + FolderOf(output) + L": " +
           WidePath(std::strerror(error));
}

std::wstring LastOutputLine(const std::string& output) {
    std::wstring text = EncoderTextToWide(output);
    for (auto& c : text)
        if (c == L'\r') c = L'\n';
    std::size_t end = text.size();
    while (end > 0) {
        std::size_t start = text.rfind(L'\n', end - 1);
        std::size_t from = start == std::wstring::npos ? 0 : start + 1;
        std::wstring line = Trim(text.substr(from, end - from));
        if (!line.empty()) return line;
        if (start == std::wstring::npos) break;
        end = start;
    }
    return {};
}

}  // namespace quilmer

namespace quilmer {

namespace {

// Lines that say that the run failed, not why.
bool SaysOnlyThatItFailed(const std::wstring& line) {
    static const wchar_t* const kGeneric[] = {
        L"Conversion failed", L"Error writing trailer", L"Error closing file", L"av_interleaved_write_frame()",
        L"Exiting normally", L"Error while filtering", L"Error submitting", L"Error marking filters as finished",
        L"Task finished with error", L"Nothing was written", L"Terminating thread", L"Error sending frames",
        L"Failed to inject frame", L"Error muxing a packet", L"Error initializing output stream",
        L"Error while opening encoder", L"Error opening output files",
    };
    for (const wchar_t* generic : kGeneric)
        if (line.find(generic) != std::wstring::npos) return true;
    // Progress and the end-of-run statistics.
    for (const wchar_t* lead : {L"frame=", L"size=", L"video:", L"time=", L"progress=", L"out_time", L"bitrate="})
        if (line.rfind(lead, 0) == 0) return true;
    return false;
}

bool NamesACause(const std::wstring& line) {
    static const wchar_t* const kCauses[] = {
        L"not supported", L"Invalid", L"invalid", L"No such", L"Permission denied", L"Could not", L"could not",
        L"Cannot", L"cannot", L"Unknown", L"unknown", L"Unsupported", L"unsupported", L"too large", L"too big",
        L"larger than", L"does not", L"No space", L"failed", L"Error", L"error", L"underflow", L"overflow",
        L"denied", L"Not yet implemented",
    };
    for (const wchar_t* cause : kCauses)
        if (line.find(cause) != std::wstring::npos) return true;
    return false;
}

// "[rm @ 0x55f0c3a1e2c0] Muxing ..." -> "rm: Muxing ...".
std::wstring WithoutContextAddress(const std::wstring& line) {
    if (line.empty() || line[0] != L'[') return line;
    const std::size_t close = line.find(L']');
    const std::size_t at = line.find(L" @ 0x");
    if (close == std::wstring::npos || at == std::wstring::npos || at > close) return line;
    return line.substr(1, at - 1) + L":" + line.substr(close + 1);
}

}  // namespace

std::wstring EncoderFailureReason(const std::string& output) {
    std::wstring text = EncoderTextToWide(output);
    for (auto& c : text)
        if (c == L'\r') c = L'\n';
    std::vector<std::wstring> lines;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos) end = text.size();
        std::wstring line = Trim(text.substr(start, end - start));
        if (!line.empty()) lines.push_back(line);
        start = end + 1;
    }
    std::wstring fallback, generic;
    for (auto it = lines.rbegin(); it != lines.rend(); ++it) {
        if (SaysOnlyThatItFailed(*it)) {
            // "Error writing trailer of x: No space left on device" still says more than nothing.
            if (generic.empty() && it->find(L"Conversion failed") == std::wstring::npos &&
                it->find(L": ") != std::wstring::npos && NamesACause(it->substr(it->find(L": "))))
                generic = *it;
            continue;
        }
        if (NamesACause(*it)) return WithoutContextAddress(*it);
        if (fallback.empty()) fallback = WithoutContextAddress(*it);
    }
    return fallback.empty() ? generic : fallback;
}

}  // namespace quilmer
