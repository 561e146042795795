#pragma once
// One attempt to fetch, check and install the update package. The updater window runs it from
// its restart timer (on a worker, see UpdaterController) and only shows what it reports.
//
// The partial download survives pauses, cancels and program ends in "newversion.tmp"; the
// server's validator (ETag, else Last-Modified) of the package it came from is kept in
// "newversion.time". A resumed request whose answer is not the continuation of that same
// package starts the file again. Nothing is installed, and the main program is not closed,
// unless the whole file carries its maker's signature (package address + ".sig", checked against
// the built-in key before anything reads the archive), the version descriptor in the data folder
// carries the maker's signature too and names this package's address and SHA-256 with a version
// newer than the installed one (SignedDescriptor.h), and the file then opens as an archive whose
// every entry checks out.
//
// Every wait of a step, the requests included, ends within a fraction of a second of a pause,
// cancel or close (the paused flag).

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "foundation/Version.h"
#include "update/PackageSignature.h"
#include "updater/PackageExtractor.h"
#include "updater/UpdaterArgs.h"
#include "updater/WindowProtocol.h"

namespace quilmer {

// What the window shows. Called on the thread that runs the step.
class DownloadObserver {
public:
    virtual ~DownloadObserver() = default;
    virtual void SetUrlText(const std::wstring& /*text*/) {}
    virtual void SetSizeText(const std::wstring& /*text*/) {}
    virtual void SetProgress(int /*percent0to100*/) {}
    virtual void SetStatusText(const std::wstring& /*text*/, bool /*isError*/) {}
    virtual void EnablePause(bool /*enable*/) {}
    // Diagnostic lines (response headers, text bodies) for standard output.
    virtual void Trace(const std::string& /*line*/) {}
};

struct DownloadEnvironment {
    UpdaterArgs args;
    std::wstring programFolder;         // where the package is unpacked, with trailing separator
    std::wstring restartProgram;        // started after the update ("quilmer" in the program folder)
    WindowProtocol* windows = nullptr;  // none: nothing is closed
    std::function<bool(const std::wstring&)> startProgram;
    std::function<void(std::chrono::milliseconds)> sleep;  // default: really sleep
    std::chrono::milliseconds probeWait{500};
    std::chrono::milliseconds afterExtract{1000};
    CloseTimings close;
    long connectTimeoutMs = 15000;
    long stallSeconds = 30;
    std::size_t chunkSize = 10240;
    // The key the package's and the descriptor's signatures must verify with.
    PackageKey packageKey = BuiltInPackageKey();
    // The version now in the program folder: the updater's own, as both programs are installed
    // together. Only a package of a newer version is installed.
    std::wstring installedVersion = FormatVersion(3);

    // The running updater's environment: unpack into its own folder, restart "quilmer" there,
    // close the main program through the window protocol (ProtocolWindows) unless told otherwise.
    static DownloadEnvironment ForProgram(const UpdaterArgs& args);
    static DownloadEnvironment ForProgram(const UpdaterArgs& args, WindowProtocol* windows);
};

enum class StepOutcome {
    Paused,         // stopped by pause or cancel; the partial file is kept
    RetryLater,     // server unreachable or the connection broke while bytes came in; partial kept
    Failed,         // error status, or the download is no valid package (then it is deleted)
    NotVerified,    // the package's or the descriptor's signature is missing or does not verify,
                    // or the signed descriptor does not offer this package as a newer version;
                    // nothing was touched, and the partial file is kept only when the download
                    // may have been cut short
    Installed,      // unpacked into the program folder, program restarted
    InstallFailed,  // valid package that could not be unpacked; program restarted unchanged
};

class DownloadStep {
public:
    DownloadStep(const DownloadEnvironment& env, DownloadObserver& observer);

    // Runs one attempt; paused is read between chunks and also breaks off a stalled transfer.
    StepOutcome Run(const std::atomic<bool>& paused);

private:
    enum class Transfer { Done, Paused, Retry, Failed, Restart };
    enum class SignatureFetch { Got, Paused, Retry, Missing };
    bool Probe(const std::atomic<bool>& paused);
    Transfer Fetch(const std::atomic<bool>& paused, bool allowResume);
    SignatureFetch FetchSignature(const std::atomic<bool>& paused, std::string& signature);
    // Fetches the signature and checks the package; nullopt when it is the maker's.
    std::optional<StepOutcome> Verify(const std::atomic<bool>& paused);
    // Whether the signed descriptor offers the downloaded package; the reason when not.
    std::optional<std::string> RefusalByDescriptor();
    // Sleeps, but returns early once paused is set.
    void Wait(std::chrono::milliseconds ms, const std::atomic<bool>& paused);
    StepOutcome Install();
    void ShowFailure(const std::wstring& text);
    void DiscardPartial();

    const DownloadEnvironment& env_;
    DownloadObserver& observer_;
    std::string tmp_;
    std::string validatorFile_;
    bool lengthKnown_ = false;  // the server announced the body's length, so the file is whole
    PackageExtractor extractor_;
};

}  // namespace quilmer
