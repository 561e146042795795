#pragma once
// Where the web windows take the site's address and the current language from. The program uses
// the process-wide settings and language manager; tests may replace the language source.

#include <functional>
#include <string>

namespace quilmer {

std::wstring WebSiteAddress();          // SiteBaseAddress()
std::wstring WebCurrentLanguage();      // the language manager's current language
void SetWebLanguageSource(std::function<std::wstring()> source);  // empty: the language manager

}  // namespace quilmer
