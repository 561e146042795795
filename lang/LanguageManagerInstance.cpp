// The process-wide manager: packs from the program folder, the choice in the settings file.

#include "foundation/AppFolders.h"
#include "foundation/Settings.h"
#include "foundation/TextTranslator.h"
#include "lang/LanguageManager.h"

namespace quilmer {

namespace {

// Destroyed before the settings store it writes to, since the store was built first; on the
// way out it takes itself out of Tr so that no late caller reaches a dead manager.
struct InstalledManager {
    InstalledManager()
        : store(SettingsStore::Instance()),
          manager(LanguageManager::Environment{AppFolders::Instance().LanguageFolder(),
                                               [this](const std::wstring& defaultName) {
                                                   StringSetting setting(L"Config", L"Language", defaultName);
                                                   setting.Load(store);
                                                   return setting.value;
                                               },
                                               [this](const std::wstring& name) {
                                                   StringSetting setting(L"Config", L"Language");
                                                   setting.value = name;
                                                   setting.Save(store);
                                               }}) {
        SetTextTranslator([this](const std::wstring& text) { return manager.Translate(text); });
    }
    ~InstalledManager() { SetTextTranslator({}); }

    SettingsStore& store;
    LanguageManager manager;
};

}  // namespace

LanguageManager& LanguageManager::Instance() {
    static InstalledManager installed;
    return installed.manager;
}

}  // namespace quilmer
