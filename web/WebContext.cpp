#include "web/WebContext.h"

#include "foundation/SiteAddresses.h"
#include "lang/LanguageManager.h"

#include <mutex>

namespace quilmer {

namespace {
std::mutex gMutex;
std::function<std::wstring()> gLanguageSource;
}  // namespace

std::wstring WebSiteAddress() { return SiteBaseAddress(); }

std::wstring WebCurrentLanguage() {
    std::function<std::wstring()> source;
    {
        std::lock_guard<std::mutex> lock(gMutex);
        source = gLanguageSource;
    }
    return source ? source() : LanguageManager::Instance().CurrentLanguage();
}

void SetWebLanguageSource(std::function<std::wstring()> source) {
    std::lock_guard<std::mutex> lock(gMutex);
    gLanguageSource = std::move(source);
}

}  // namespace quilmer
