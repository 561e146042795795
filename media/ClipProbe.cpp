#include "media/ClipProbe.h"

#include <filesystem>
#include <system_error>

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
               const std::wstring& workingFolder, CancelFlag* cancel, std::wstring* commandLineOut) {
    if (path.empty() || !FileExists(path)) return false;
    record.Clear();
    record.path = path;
    const std::wstring commandLine = ProbeCommandLine(encoderPath, path);
    if (commandLineOut != nullptr) *commandLineOut = commandLine;
    return RunEncoder(
        workingFolder, commandLine,
        [](std::string& accumulated, std::string& chunk) {
            accumulated += chunk;
            return true;
        },
        [&record](std::string& accumulated) { return ParseProbeOutput(record, accumulated); }, cancel);
}

std::wstring MakeTemporaryCopy(const std::wstring& path) {
    const std::filesystem::path p(path);
    std::wstring folder = p.parent_path().wstring();
    if (!folder.empty()) folder += L'/';
    std::wstring copy = ReserveTemporaryName(folder, p.extension().wstring());
    if (copy.empty()) return copy;
    std::error_code error;
    std::filesystem::copy_file(NativePath(path), NativePath(copy),
                               std::filesystem::copy_options::overwrite_existing, error);
    if (error) {
        std::filesystem::remove(NativePath(copy), error);
        return {};
    }
    return copy;
}

bool ProbeWithFallback(const std::wstring& path, ClipProperties& record, const std::wstring& encoderPath,
                       const std::wstring& workingFolder, CancelFlag* cancel) {
    if (ProbeClip(path, record, encoderPath, workingFolder, cancel)) return true;
    std::wstring copy = MakeTemporaryCopy(path);
    if (copy.empty()) return false;
    bool ok = ProbeClip(copy, record, encoderPath, workingFolder, cancel);
    record.path = path;
    std::error_code error;
    std::filesystem::remove(NativePath(copy), error);
    return ok;
}

}  // namespace quilmer
