#include "update/VersionCheckContext.h"

#include "foundation/AppFolders.h"
#include "foundation/BuildVersion.h"
#include "foundation/Settings.h"
#include "foundation/Strings.h"
#include "foundation/Version.h"
#include "lang/LanguageManager.h"

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
    return std::make_shared<UpdateCheck>(
        loop, context.DescriptorPath(),
        DescriptorUrl(context.updateUrlSetting, context.language, context.currentVersion),
        std::move(receiverAlive), std::move(onReady));
}

UpdateDecision EvaluateUpdateInfo(const VersionCheckContext& context) {
    return EvaluateDescriptor(context.DescriptorPath(), context.currentVersion, context.buildDate,
                              context.language);
}

UpdaterLaunch LaunchFor(const VersionCheckContext& context, const UpdateDecision& decision) {
    return {decision.downloadUrl, context.language, context.appDataFolder, context.currentVersion,
            decision.newestVersion};
}

}  // namespace quilmer
