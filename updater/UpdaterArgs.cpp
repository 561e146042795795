#include "updater/UpdaterArgs.h"

#include "foundation/TextTranslator.h"

namespace quilmer {

UpdaterArgs UpdaterArgs::FromValues(const std::vector<std::wstring>& values) {
    UpdaterArgs a;
    std::wstring* fields[] = {&a.packageUrl, &a.windowClass, &a.windowMessage, &a.language,
                              &a.dataFolder, &a.oldVersion,  &a.newVersion};
    for (std::size_t i = 0; i < 7 && i < values.size(); ++i) *fields[i] = values[i];
    return a;
}

std::wstring UpdaterArgs::VersionLine() const {
    return Tr(L"From old version") + oldVersion + Tr(L"update to new version") + newVersion;
}

}  // namespace quilmer
