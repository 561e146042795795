#pragma once
// The running program's side of the version check: what it sends and compares, gathered from
// the process-wide services, so that the main window only starts the job and shows the result.

#include <functional>
#include <memory>
#include <string>

#include "foundation/EventLoop.h"
#include "update/PackageSignature.h"
#include "update/UpdateCheck.h"
#include "update/VersionCheck.h"

namespace quilmer {

struct VersionCheckContext {
    std::wstring currentVersion;    // short version text, "v1.9"
    std::wstring buildDate;         // "Oct 22 2011"
    std::wstring language;          // the chosen language's name
    std::wstring appDataFolder;     // ends in '/'
    std::wstring programFolder;     // ends in '/'
    std::wstring updateUrlSetting;  // "Settings"/"UpdateURL"
    PackageKey descriptorKey = BuiltInPackageKey();  // signs the descriptor

    // From the version, the language manager, the folders and the settings store.
    static VersionCheckContext FromProgram();

    std::wstring DescriptorPath() const { return appDataFolder + kDescriptorFileName; }
    // The build date as the new-version window shows it ("10-22-2011").
    std::wstring ReleaseDateText() const { return FormatReleaseDate(buildDate); }
};

// The job for the version-check worker; onReady runs on the loop thread while the receiver
// still holds what receiverAlive points to (see UpdateCheck).
std::shared_ptr<UpdateCheck> MakeUpdateCheck(EventLoop& loop, const VersionCheckContext& context,
                                             std::weak_ptr<const void> receiverAlive,
                                             std::function<void(int autoCheckFlag)> onReady);

// Judges the descriptor the job fetched; one whose signature does not verify means nothing.
UpdateDecision EvaluateUpdateInfo(const VersionCheckContext& context);

// The updater's launch for an accepted offer.
UpdaterLaunch LaunchFor(const VersionCheckContext& context, const UpdateDecision& decision);

}  // namespace quilmer
