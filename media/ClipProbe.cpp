#include "media/ClipProbe.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>
#include <vector>

#include "media/CancelFlag.h"
#include <map>
#include "foundation/AppFolders.h"
#include "foundation/FileUtil.h"
#include "media/EncoderRunner.h"
#include "media/ProbeParser.h"
#include "media/TempNames.h"
#include "media/WindowsCommandLine.h"

namespace quilmer {

std::wstring DefaultEncoderPath() { return AppFolders::Instance().ProgramFolder() + L"ffmpeg"; }

std::wstring ProbeCommandLine(const std::wstring& encoderPath, const std::wstring& path) {
    return L"\"" + encoderPath + L"\" -i " + QuoteWindowsArgument(path);
}

bool ProbeClip(const std::wstring& path, ClipProperties& record, const std::wstring& encoderPath,
               const std::wstring& workingFolder, CancelFlag* cancel, std::wstring* commandLineOut,
               std::chrono::milliseconds timeLimit) {
    if (path.empty() || !FileExists(path)) return false;
    record.Clear();
    record.path = path;
    const std::wstring commandLine = ProbeCommandLine(encoderPath, path);
    if (commandLineOut != nullptr) *commandLineOut = commandLine;
    EncoderExit exit;
    bool parsed = RunEncoder(
        workingFolder, commandLine,
        [](std::string& accumulated, std::string& chunk) {
            accumulated += chunk;
            return true;
        },
        [&record, &exit](std::string& accumulated) {
            // A report cut short by a stop or a crash says nothing about the file.
            if (exit.stoppedByUs || exit.signal != 0) return false;
            return ParseProbeOutput(record, accumulated);
        },
        cancel, &exit, timeLimit);
    return parsed && exit.started && !exit.stoppedByUs && exit.signal == 0;
}

std::vector<bool> ProbeClips(const std::vector<std::wstring>& paths, std::vector<ClipProperties>& records,
                             const std::wstring& encoderPath, CancelFlag* cancel, std::chrono::milliseconds timeLimit) {
    std::vector<bool> probed(paths.size(), false);
    records.assign(paths.size(), ClipProperties{});
    for (std::size_t i = 0; i < paths.size(); ++i) records[i].path = paths[i];
    std::size_t start = 0;
    while (start < paths.size()) {
        if (cancel != nullptr && cancel->IsRequested()) break;
        // A file that is not there is not worth an encoder start (and would end the run early).
        if (paths[start].empty() || !FileExists(paths[start])) {
            ++start;
            continue;
        }
        std::size_t count = 0;
        std::wstring commandLine = L"\"" + encoderPath + L"\"";
        while (start + count < paths.size() && count < kProbeBatch && FileExists(paths[start + count])) {
            commandLine += L" -i " + QuoteWindowsArgument(paths[start + count]);
            ++count;
        }
        EncoderExit exit;
        std::string report;
        RunEncoder(
            {}, commandLine,
            [](std::string& accumulated, std::string& chunk) {
                accumulated += chunk;
                return true;
            },
            [&report](std::string& accumulated) {
                report = std::move(accumulated);
                return true;
            },
            cancel, &exit, timeLimit);
        if (!exit.started || (cancel != nullptr && cancel->IsRequested())) break;
        const bool crashed = exit.signal != 0;
        std::map<std::size_t, std::string> inputs = SplitProbeReport(report);
        std::size_t reached = 0;  // inputs the encoder reported on, in order
        while (reached < count && inputs.count(reached) != 0) ++reached;
        for (std::size_t k = 0; k < reached && !crashed; ++k)
            probed[start + k] = ParseProbeOutput(records[start + k], inputs[k]);
        if (crashed) {
            // Nothing of a run that died can be trusted; each file is probed alone by the caller.
            start += count;
        } else if (reached == count) {
            start += count;
        } else {
            start += reached + 1;  // the file the encoder gave up on (or that held it) failed
        }
    }
    return probed;
}

namespace {

// Copies a regular file in blocks, looking at `cancel` between them.
bool CopyFileStoppably(const std::string& from, const std::string& to, CancelFlag* cancel) {
    int in = open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (in < 0) return false;
    struct stat st {};
    // Only a regular file: a named pipe or a device would block or never end.
    if (fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(in);
        return false;
    }
    int out = open(to.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (out < 0) {
        close(in);
        return false;
    }
    std::vector<char> buffer(1 << 20);
    bool ok = true;
    for (;;) {
        if (cancel != nullptr && cancel->IsRequested()) {
            ok = false;
            break;
        }
        ssize_t got = read(in, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            ok = got == 0;
            break;
        }
        if (!WriteAllToFd(out, buffer.data(), static_cast<std::size_t>(got))) {
            ok = false;
            break;
        }
    }
    close(in);
    if (close(out) != 0) ok = false;
    return ok;
}

}  // namespace

std::wstring MakeTemporaryCopy(const std::wstring& path, CancelFlag* cancel) {
    // Split as wide text: a std::filesystem::path made from a wide string converts it through
    // the "C" locale and throws on any name that is not ASCII.
    const std::size_t slash = path.rfind(L'/');
    std::wstring folder = slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
    const std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.rfind(L'.');
    const std::wstring extension = dot == std::wstring::npos || dot == 0 ? std::wstring() : name.substr(dot);
    std::wstring copy = ReserveTemporaryName(folder, extension);
    if (copy.empty()) return copy;
    if (!CopyFileStoppably(NativePath(path), NativePath(copy), cancel)) {
        unlink(NativePath(copy).c_str());
        return {};
    }
    return copy;
}

bool ProbeWithFallback(const std::wstring& path, ClipProperties& record, const std::wstring& encoderPath,
                       const std::wstring& workingFolder, CancelFlag* cancel) {
    if (ProbeClip(path, record, encoderPath, workingFolder, cancel)) return true;
    if (cancel != nullptr && cancel->IsRequested()) return false;
    std::wstring copy = MakeTemporaryCopy(path, cancel);
    if (copy.empty()) return false;
    bool ok = ProbeClip(copy, record, encoderPath, workingFolder, cancel);
    record.path = path;
    std::error_code error;
    std::filesystem::remove(NativePath(copy), error);
    return ok;
}

}  // namespace quilmer
