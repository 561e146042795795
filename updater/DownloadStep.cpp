#include "updater/DownloadStep.h"

#include "updater/ProtocolWindows.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <thread>
#include <vector>

#include "foundation/AppFolders.h"
#include "foundation/FileUtil.h"
#include "foundation/Strings.h"
#include "foundation/TextTranslator.h"
#include "foundation/Utf8.h"
#include "update/HttpClient.h"
#include "update/ProcessStart.h"
#include "update/SignedDescriptor.h"
#include "updater/TransferTexts.h"

namespace quilmer {

namespace {

using Clock = std::chrono::steady_clock;

const wchar_t* const kTracedHeaders[] = {
    L"Server",  L"Date",          L"X-Powered-By", L"Content-Length",    L"Set-Cookie",
    L"Expires", L"Cache-control", L"Connection",   L"Transfer-Encoding", L"Content-Type"};

// The first byte position of "Content-Range: bytes START-END/TOTAL", or -1.
long long ContentRangeStart(const Teska::HttpResponse& response) {
    auto range = response.Header(L"Content-Range");
    if (!range) return -1;
    long long start = -1;
    if (std::swscanf(range->c_str(), L"bytes %lld-", &start) != 1) return -1;
    return start;
}

bool ReadSmallFile(const std::string& path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    char buffer[1024];
    in.read(buffer, sizeof buffer);
    text.assign(buffer, static_cast<std::size_t>(in.gcount()));
    return true;
}

bool WriteSmallFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    return static_cast<bool>(out.flush());
}

}  // namespace

DownloadEnvironment DownloadEnvironment::ForProgram(const UpdaterArgs& args) {
    return ForProgram(args, &ProtocolWindows::Instance());
}

DownloadEnvironment DownloadEnvironment::ForProgram(const UpdaterArgs& args, WindowProtocol* windows) {
    DownloadEnvironment env;
    env.args = args;
    env.programFolder = AppFolders::Instance().ProgramFolder();
    env.restartProgram = env.programFolder + L"quilmer";
    env.windows = windows;
    env.startProgram = [](const std::wstring& exe) { return StartDetachedProcess(exe, {}); };
    return env;
}

DownloadStep::DownloadStep(const DownloadEnvironment& env, DownloadObserver& observer)
    : env_(env),
      observer_(observer),
      tmp_(NativePath(env.args.PartialFile())),
      validatorFile_(NativePath(env.args.ValidatorFile())) {}

void DownloadStep::ShowFailure(const std::wstring& text) { observer_.SetStatusText(text, true); }

void DownloadStep::DiscardPartial() {
    ::unlink(tmp_.c_str());
    ::unlink(validatorFile_.c_str());
}

void DownloadStep::Wait(std::chrono::milliseconds ms, const std::atomic<bool>& paused) {
    if (env_.sleep) {
        env_.sleep(ms);
        return;
    }
    auto until = Clock::now() + ms;
    while (!paused && Clock::now() < until)
        std::this_thread::sleep_for(
            std::min<Clock::duration>(std::chrono::milliseconds(50), until - Clock::now()));
}

bool DownloadStep::Probe(const std::atomic<bool>& paused) {
    Wait(env_.probeWait, paused);
    if (paused) return false;
    Teska::HttpClient client;
    client.SetTimeouts(env_.connectTimeoutMs, env_.stallSeconds);
    client.SetCancelFlag(&paused);
    // One byte is enough to know the server answers.
    client.AddHeader(L"Range", L"bytes=0-0");
    bool reachable = client.Get(env_.args.packageUrl)->StatusCode() > 0;
    Wait(env_.probeWait, paused);
    return reachable;
}

DownloadStep::Transfer DownloadStep::Fetch(const std::atomic<bool>& paused, bool allowResume) {
    struct stat st {};
    bool haveTmp = ::stat(tmp_.c_str(), &st) == 0 && S_ISREG(st.st_mode);
    std::uint64_t offset = haveTmp ? static_cast<std::uint64_t>(st.st_size) : 0;
    bool resume = allowResume && haveTmp;

    Teska::HttpClient client;
    client.SetTimeouts(env_.connectTimeoutMs, env_.stallSeconds);
    client.SetCancelFlag(&paused);
    if (resume) client.SetResumeOffset(static_cast<std::int64_t>(offset));
    auto response = client.Get(env_.args.packageUrl, false);
    observer_.SetUrlText(env_.args.DisplayUrl());

    for (const wchar_t* name : kTracedHeaders) {
        auto value = response->Header(name);
        std::string line = ToUtf8(name);
        if (value) {
            line.append(": ").append(ToUtf8(*value));
        } else {
            line.insert(line.begin(), '\'');
            line.append("' header does not exist..");
        }
        observer_.Trace(line);
    }

    if (paused) return Transfer::Paused;
    int status = response->StatusCode();
    if (status == 0) {
        observer_.Trace("request failed: " + response->ErrorText());
        ShowFailure(Tr(L"Failure to download update file."));
        return Transfer::Retry;
    }
    std::string validator = ToUtf8(response->Validator().value_or(L""));
    bool append = false;
    if (resume && status == 206) {
        // Only the continuation of the very package the partial file came from may be appended.
        std::string stored;
        if (!ReadSmallFile(validatorFile_, stored) || stored != validator ||
            ContentRangeStart(*response) != static_cast<long long>(offset)) {
            observer_.Trace("the package changed on the server; starting again");
            return Transfer::Restart;
        }
        append = true;
    } else if (resume && status == 416) {
        observer_.Trace("the server refused the resume offset; starting again");
        return Transfer::Restart;
    } else if (status != 200) {
        // An error page is not a package.
        observer_.Trace("HTTP status " + std::to_string(status));
        ShowFailure(Tr(L"Failure to download update file."));
        return Transfer::Failed;
    }
    if (!append) {
        // A whole body: either a fresh start, or a server that ignored the range. Either way
        // the file starts again from its first byte.
        offset = 0;
        if (!WriteSmallFile(validatorFile_, validator)) {
            ShowFailure(Tr(L"Failure to download update file."));
            return Transfer::Failed;
        }
    }

    auto contentType = response->Header(L"Content-Type");
    bool textBody = contentType && StartsWithNoCase(*contentType, L"text/");
    std::uint64_t length = 0;
    lengthKnown_ = response->ContentLength(length);
    std::uint64_t total = offset + (lengthKnown_ ? length : 0);
    observer_.SetSizeText(FormatSizeText(total));

    int fd = append ? ::open(tmp_.c_str(), O_WRONLY | O_CLOEXEC)
                    : ::open(tmp_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0 || (append && (::ftruncate(fd, static_cast<off_t>(offset)) != 0 ||
                              ::lseek(fd, static_cast<off_t>(offset), SEEK_SET) < 0))) {
        if (fd >= 0) ::close(fd);
        ShowFailure(Tr(L"Failure to download update file."));
        return Transfer::Failed;
    }

    std::vector<char> buffer(env_.chunkSize);
    std::uint64_t downloaded = offset;
    SpeedMeter meter;
    auto lastTick = Clock::now();
    bool writeFailed = false;
    while (std::size_t n = response->Read(buffer.data(), buffer.size())) {
        downloaded += n;
        unsigned percent = ProgressPercent(downloaded, total);
        observer_.SetProgress(percent > 100 ? 100 : static_cast<int>(percent));
        auto now = Clock::now();
        meter.Update(static_cast<std::uint32_t>(
                         std::chrono::duration_cast<std::chrono::milliseconds>(now - lastTick).count()),
                     downloaded);
        lastTick = now;
        std::wstring speed = meter.BytesPerSecond() >= 1.0 ? FormatSpeedText(meter.BytesPerSecond()) : L"";
        observer_.SetStatusText(StatusLineText(downloaded, total, speed), false);
        if (textBody) observer_.Trace(std::string(buffer.data(), n));
        if (!WriteAllToFd(fd, buffer.data(), n)) {
            writeFailed = true;
            break;
        }
        if (paused) break;
    }
    ::close(fd);
    if (writeFailed) {
        ShowFailure(Tr(L"Failure to download update file."));
        return Transfer::Failed;
    }
    if (paused) return Transfer::Paused;
    if (response->ReadFailed()) {
        observer_.Trace("transfer broke off: " + response->ErrorText());
        ShowFailure(Tr(L"Failure to download update file."));
        // What arrived is kept; the next attempt resumes after it.
        return downloaded > offset ? Transfer::Retry : Transfer::Failed;
    }
    return Transfer::Done;
}

DownloadStep::SignatureFetch DownloadStep::FetchSignature(const std::atomic<bool>& paused,
                                                          std::string& signature) {
    Teska::HttpClient client;
    client.SetTimeouts(env_.connectTimeoutMs, env_.stallSeconds);
    client.SetCancelFlag(&paused);
    auto response = client.Get(SignatureUrlFor(env_.args.packageUrl), false);
    if (paused) return SignatureFetch::Paused;
    int status = response->StatusCode();
    if (status == 0) {
        observer_.Trace("signature request failed: " + response->ErrorText());
        return SignatureFetch::Retry;
    }
    if (status != 200) {
        observer_.Trace("no signature: HTTP status " + std::to_string(status));
        return SignatureFetch::Missing;
    }
    // A signature is 64 bytes; a little more is read so that a longer answer shows as wrong.
    signature.clear();
    char buffer[256];
    while (std::size_t n = response->Read(buffer, sizeof buffer)) {
        signature.append(buffer, n);
        if (signature.size() > 4 * kPackageSignatureSize) break;
    }
    if (paused) return SignatureFetch::Paused;
    if (response->ReadFailed()) {
        observer_.Trace("signature transfer broke off: " + response->ErrorText());
        return SignatureFetch::Retry;
    }
    return SignatureFetch::Got;
}

std::optional<StepOutcome> DownloadStep::Verify(const std::atomic<bool>& paused) {
    std::string signature;
    SignatureFetch fetched = FetchSignature(paused, signature);
    if (fetched == SignatureFetch::Paused) return StepOutcome::Paused;
    if (fetched == SignatureFetch::Retry) {
        // The package may be fine; it stays for the next attempt.
        ShowFailure(Tr(L"Failure to download update file."));
        return StepOutcome::RetryLater;
    }
    SignatureCheck check = fetched == SignatureFetch::Got
                               ? VerifyPackageFile(tmp_, signature, env_.packageKey)
                               : SignatureCheck::Mismatch;
    std::optional<std::string> refusal;
    if (check == SignatureCheck::Malformed) refusal = "the signature is not 64 bytes";
    if (check == SignatureCheck::Mismatch) refusal = "the package does not match its signature";
    if (check == SignatureCheck::Unreadable) refusal = "the downloaded package cannot be read";
    if (!refusal) refusal = RefusalByDescriptor();
    if (!refusal) return std::nullopt;
    observer_.Trace(*refusal);
    ShowFailure(Tr(L"The update package could not be verified."));
    if (lengthKnown_) {
        // The whole announced package arrived, so another try would fetch the same bytes.
        observer_.SetSizeText(L"");
        observer_.EnablePause(false);
        DiscardPartial();
    }
    return StepOutcome::NotVerified;
}

std::optional<std::string> DownloadStep::RefusalByDescriptor() {
    // The descriptor is read and verified once; the offer is taken from the verified bytes.
    std::string why;
    std::optional<std::string> text = ReadSignedDescriptor(env_.args.DescriptorFile(), env_.packageKey, &why);
    if (!text) return "version descriptor refused: " + why;
    OfferCheck check =
        CheckPackageAgainstOffer(ReadPackageOffer(*text), env_.args.packageUrl, tmp_, env_.installedVersion);
    if (check != OfferCheck::Accepted) return DescribeOfferCheck(check);
    return std::nullopt;
}

StepOutcome DownloadStep::Run(const std::atomic<bool>& paused) {
    bool reachable = Probe(paused);
    if (paused) return StepOutcome::Paused;
    if (!reachable) {
        ShowFailure(Tr(L"Failure to download update file."));
        return StepOutcome::RetryLater;
    }
    Transfer t = Fetch(paused, true);
    if (t == Transfer::Restart) {
        DiscardPartial();
        t = Fetch(paused, false);
        if (t == Transfer::Restart) t = Transfer::Failed;
    }
    switch (t) {
        case Transfer::Paused:
            return StepOutcome::Paused;
        case Transfer::Retry:
            return StepOutcome::RetryLater;
        case Transfer::Failed:
        case Transfer::Restart:
            return StepOutcome::Failed;
        case Transfer::Done:
            break;
    }

    // The signature first: nothing reads the archive before it is known to be the maker's.
    if (std::optional<StepOutcome> refused = Verify(paused)) return *refused;

    if (!extractor_.Open(tmp_) || !extractor_.TestAll()) {
        observer_.Trace("not a valid package: " + extractor_.LastError());
        extractor_.Close();
        observer_.SetSizeText(L"");
        observer_.EnablePause(false);
        ShowFailure(Tr(L"Failure to download update file."));
        DiscardPartial();
        return StepOutcome::Failed;
    }
    return Install();
}

StepOutcome DownloadStep::Install() {
    // The transfer is over: nothing can be paused while the program folder changes.
    observer_.EnablePause(false);
    auto sleep = [this](std::chrono::milliseconds ms) {
        if (env_.sleep)
            env_.sleep(ms);
        else
            std::this_thread::sleep_for(ms);
    };
    if (env_.windows) {
        if (!CloseMainProgram(*env_.windows, env_.args.windowClass, env_.args.windowMessage, env_.close,
                              sleep))
            observer_.Trace("the main program was not closed");
    }
    bool ok = extractor_.ExtractArchive(tmp_, NativePath(env_.programFolder), false);
    if (!ok) {
        observer_.Trace("unpacking failed: " + extractor_.LastError());
        ShowFailure(Tr(L"Unable to unzip file."));
    }
    extractor_.Close();
    sleep(env_.afterExtract);
    if (env_.startProgram && !env_.restartProgram.empty()) env_.startProgram(env_.restartProgram);
    DiscardPartial();
    return ok ? StepOutcome::Installed : StepOutcome::InstallFailed;
}

}  // namespace quilmer
