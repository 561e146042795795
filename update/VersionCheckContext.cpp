#include "update/VersionCheckContext.h"

#include "foundation/AppFolders.h"
#include "foundation/BuildVersion.h"
#include "foundation/Settings.h"
#include "foundation/Strings.h"
#include "foundation/Version.h"
#include "lang/LanguageManager.h"
#include "update/SignedDescriptor.h"

namespace quilmer {

VersionCheckContext VersionCheckContext::FromProgram() {
    VersionCheckContext c;
    c.currentVersion = FormatVersion(3);
    c.buildDate = FromAnsi(QUILMER_BUILD_DATE);
    c.language = LanguageManager::Instance().CurrentLanguage();
    c.appDataFolder = AppFolders::Instance().AppDataFolder();
    c.programFolder = AppFolders::Instance().ProgramFolder();
    c.updateUrlSetting = SettingsStore::Instance().ReadString(L"Settings", L"UpdateURL", L"");
    return c;
}

std::shared_ptr<UpdateCheck> MakeUpdateCheck(EventLoop& loop, const VersionCheckContext& context,
                                             std::weak_ptr<const void> receiverAlive,
                                             std::function<void(int)> onReady) {
    auto job = std::make_shared<UpdateCheck>(
        loop, context.DescriptorPath(),
        DescriptorUrl(context.updateUrlSetting, context.language, context.currentVersion),
        std::move(receiverAlive), std::move(onReady));
    job->SetDescriptorKey(context.descriptorKey);
    return job;
}

UpdateDecision EvaluateUpdateInfo(const VersionCheckContext& context) {
    // Checked again here: what is judged is the very text whose signature verified.
    std::optional<std::string> text = ReadSignedDescriptor(context.DescriptorPath(), context.descriptorKey);
    if (!text) return {};
    return EvaluateDescriptorText(*text, context.currentVersion, context.buildDate, context.language);
}

UpdaterLaunch LaunchFor(const VersionCheckContext& context, const UpdateDecision& decision) {
    return {decision.downloadUrl, context.language, context.appDataFolder, context.currentVersion,
            decision.newestVersion};
}

}  // namespace quilmer
