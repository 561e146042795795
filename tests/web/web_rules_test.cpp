#include "web/core/WebRules.h"

#include <gtest/gtest.h>

namespace quilmer {
namespace {

const std::wstring kSite = L"http://site.example";

TEST(IsSearchText, BlanksAndBareWordsAreSearches) {
    EXPECT_TRUE(IsSearchText(L"funny cats"));
    EXPECT_TRUE(IsSearchText(L"cats"));
    EXPECT_TRUE(IsSearchText(L"www.a.example b"));
    EXPECT_FALSE(IsSearchText(L"localhost"));
    EXPECT_FALSE(IsSearchText(L"10.0.0.1"));
    EXPECT_FALSE(IsSearchText(L"http:x"));
    EXPECT_FALSE(IsSearchText(L"site.example"));
}

TEST(PageNavigation, PagesReachWebAddressesOnly) {
    for (const wchar_t* ok : {L"http://a.example/", L"HTTPS://a.example/x", L"about:blank", L"about:srcdoc"})
        EXPECT_TRUE(MayNavigateFromPage(ok)) << ok;
    for (const wchar_t* refused : {L"file:///etc/passwd", L"FILE:///home", L"data:text/html,<b>x</b>",
                                   L"javascript:alert(1)", L"blob:http://a.example/1", L"ftp://a.example/",
                                   L"corvane:play", L"about:config", L"http:relative", L"/etc/passwd", L""})
        EXPECT_FALSE(MayNavigateFromPage(refused)) << refused;
    EXPECT_FALSE(IsWebAddress(L"about:blank"));
}

TEST(NavigationErrors, ReportedCodesLeadToTheErrorPageOnce) {
    EXPECT_EQ(NavigationErrorAddress(kSite, L"http://a.example/x y", 404, L"English"),
              kSite + L"/naverr.php?url=http://a.example/x%20y&errorid=404&lang=English");
    EXPECT_EQ(NavigationErrorAddress(kSite, L"http://a.example/", 200, L"English"), L"");
    EXPECT_EQ(NavigationErrorAddress(kSite, L"http://a.example/", 399, L"English"), L"");
    EXPECT_EQ(NavigationErrorAddress(kSite, L"http://a.example/", 0x800C0008LL, L"English"), L"");
    EXPECT_EQ(NavigationErrorAddress(kSite, L"http://a.example/", 0x800C0100LL, L"English"), L"");
    // The error page failing itself does not lead to another error page (compared in lower case).
    EXPECT_EQ(NavigationErrorAddress(kSite, L"HTTP://SITE.EXAMPLE/naverr.php?url=x", 500, L"English"), L"");
    // Codes of the 0x800C family are shown signed; the percent sign of the address is escaped.
    EXPECT_EQ(NavigationErrorAddress(kSite, L"http://a.example/100%", 0x800C0004LL, L"Chinese Simplified"),
              kSite + L"/naverr.php?url=http://a.example/100%25&errorid=-2146697212&lang=Chinese%20Simplified");
    // An address too long for the error page's query is left out rather than cut.
    std::wstring huge = L"http://a.example/" + std::wstring(3000, L'a');
    EXPECT_EQ(NavigationErrorAddress(kSite, huge, 404, L"English"), kSite + L"/naverr.php?url=&errorid=404&lang=English");
}

TEST(EscapeAddressText, EscapesUnsafeBytesAndKeepsPercentWhenAsked) {
    EXPECT_EQ(EscapeAddressText(L"a b<>\"#{}|\\^~[]`%\u00e9", false), "a%20b%3C%3E%22%23%7B%7D%7C%5C%5E%7E%5B%5D%60%%C3%A9");
    EXPECT_EQ(EscapeAddressText(L"100%", true), "100%25");
    EXPECT_EQ(EscapeAddressText(L"abcdef", true, 5), "");
}

TEST(SearchBar, SearchesOpenTheSearchPageWithTheirType) {
    auto r = DecideSearchBarNavigation(kSite, L"http://site.example/api_search3.php?q=cat+videos&type=flv");
    EXPECT_EQ(r.url, kSite + L"/video_search.php?q=cat+videos&type=flv");
    EXPECT_EQ(r.type, L"flv");
    EXPECT_EQ(DecideSearchBarNavigation(kSite, L"http://site.example/api_search3.php?showbar=1&lang=English").url, L"");
    EXPECT_EQ(DecideSearchBarNavigation(kSite, L"http://site.example/other.php?q=x").url, L"");
    EXPECT_EQ(DecideSearchBarNavigation(kSite, L"http://site.example/api_search3.php?q=x").type, L"");
}

TEST(Toolbar, AddressFormSetsThePendingAddress) {
    auto d = DecideToolbarNavigation(kSite, L"http://site.example/api_iebar3.php", "address=+http%3A%2F%2Fa.example%2Fp%3Fx%3D1%26amp%3B+");
    EXPECT_FALSE(d.cancel);
    EXPECT_TRUE(d.setPending);
    EXPECT_EQ(d.pending, L"http://a.example/p?x=1&amp;");
    EXPECT_EQ(d.currentAddress, L"http://a.example/p?x=1&");
    EXPECT_EQ(AddressForPending(kSite, d.currentAddress, d.pending, L"flv"), L"http://a.example/p?x=1&");
}

TEST(Toolbar, SearchFormGoesToTheSearchPage) {
    auto d = DecideToolbarNavigation(kSite, L"http://site.example/api_iebar3.php", "s=funny+cats&type=flv");
    EXPECT_TRUE(d.cancel);
    EXPECT_EQ(d.contentAddress, kSite + L"/video_search.php?q=funny+cats&type=flv");
}

TEST(Toolbar, OtherFormTextFollowsItsRules) {
    EXPECT_FALSE(DecideToolbarNavigation(kSite, L"http://site.example/api_iebar3.php?lang=x", "").cancel);
    auto hid = DecideToolbarNavigation(kSite, L"http://site.example/api_iebar3.php", "hid=http%3A%2F%2Fb.example%2F");
    EXPECT_TRUE(hid.setPending);
    EXPECT_EQ(hid.pending, L"http://b.example/");
    auto download = DecideToolbarNavigation(kSite, L"http://site.example/api_iebar3.php", "download_i=1");
    EXPECT_TRUE(download.download);
    EXPECT_TRUE(download.cancel);
    EXPECT_FALSE(DecideToolbarNavigation(kSite, L"http://site.example/api_iebar3.php", "download_i=1&stop_h=1").download);
    // The toolbar itself going to an address with a query is sent to the search page instead.
    auto q = DecideToolbarNavigation(kSite, L"http://site.example/api_iebar3.php?q=dogs&type=flv", "");
    EXPECT_TRUE(q.cancel);
    EXPECT_EQ(q.contentAddress, kSite + L"/video_search.php?q=dogs&type=flv");
}

TEST(Toolbar, PendingSearchTextGoesToTheSiteSearch) {
    EXPECT_EQ(AddressForPending(kSite, L"cats & \u00e9", L"cats & \u00e9", L"flv"),
              kSite + L"/search?q=cats%20&%20%C3%A9&type=flv&cate=sb");
    EXPECT_EQ(AddressForPending(kSite, L"b.example/x", L"b.example/x", L"flv"), L"http://b.example/x");
    EXPECT_EQ(AddressForPending(kSite, L"localhost", L"localhost", L"flv"), L"http://localhost");
}

TEST(MainPane, FiveRulesInOrder) {
    const std::wstring joiner = kSite + L"/api_joiner.php?lang=English&type=joiner&ver=v1.9";
    auto r1 = DecideMainPaneNavigation(kSite, joiner, "hid=x&back_i=1", L"English");
    EXPECT_TRUE(r1.cancel);
    EXPECT_FALSE(r1.openBrowser);
    auto r2 = DecideMainPaneNavigation(kSite, L"corvane:cmd=play/>", "", L"English");
    EXPECT_TRUE(r2.cancel);
    EXPECT_FALSE(r2.openBrowser);
    auto r3 = DecideMainPaneNavigation(kSite, joiner, "hid=http%3A%2F%2Fc.example%2F", L"English");
    EXPECT_TRUE(r3.cancel);
    EXPECT_TRUE(r3.openBrowser);
    EXPECT_EQ(r3.browserAddress, L"http://c.example/");
    EXPECT_EQ(r3.browserType, L"flv");
    auto r4 = DecideMainPaneNavigation(kSite, joiner, "s=dogs&type=mp4", L"Chinese Simplified");
    EXPECT_TRUE(r4.openBrowser);
    EXPECT_EQ(r4.browserAddress, kSite + L"/video_search.php?q=dogs&type=mp4&lang=Chinese%20Simplified");
    EXPECT_EQ(r4.browserType, L"mp4");
    EXPECT_EQ(DecideMainPaneNavigation(kSite, joiner, "s=dogs", L"English").browserType, L"flv");
    EXPECT_FALSE(DecideMainPaneNavigation(kSite, L"http://d.example/", "", L"English").cancel);
    EXPECT_FALSE(DecideMainPaneNavigation(kSite, L"about:blank", "", L"English").cancel);
}

TEST(SitePages, AddressesCarryLanguageTypeAndVersion) {
    EXPECT_EQ(ToolbarPageAddress(kSite, L"English", L"flv"), kSite + L"/api_iebar3.php?lang=English&type=flv");
    EXPECT_EQ(JoinerPageAddress(kSite, L"English", L"v1.9"), kSite + L"/api_joiner.php?lang=English&type=joiner&ver=v1.9");
    EXPECT_EQ(DownloadPageAddress(kSite, L"English"), kSite + L"/soft.php?type=flv&lang=English");
    EXPECT_EQ(HelpPageAddress(kSite, L"French"), kSite + L"/api_help.php?lang=French&type=joiner");
    EXPECT_NE(SnapPage(kSite, "data:image/png;base64,AA").find("href=\"http://site.example/download.php\" target=\"_blank\""),
              std::string::npos);
}

// A language is a pack file's name, which anyone can choose: it cannot end the value, add another
// parameter or break out of the address.
TEST(SitePages, EscapeEveryValue) {
    const std::wstring odd = L"Chinese Simplified&type=x#top/\u00e9?%";
    const std::wstring escaped = L"Chinese%20Simplified%26type%3Dx%23top%2F%C3%A9%3F%25";
    EXPECT_EQ(HelpPageAddress(kSite, odd), kSite + L"/api_help.php?lang=" + escaped + L"&type=joiner");
    EXPECT_EQ(DownloadPageAddress(kSite, odd), kSite + L"/soft.php?type=flv&lang=" + escaped);
    EXPECT_EQ(ToolbarPageAddress(kSite, odd, L"a b"), kSite + L"/api_iebar3.php?lang=" + escaped + L"&type=a%20b");
    EXPECT_EQ(JoinerPageAddress(kSite, odd, L"v1.9&x"),
              kSite + L"/api_joiner.php?lang=" + escaped + L"&type=joiner&ver=v1.9%26x");
    EXPECT_EQ(NavigationErrorAddress(kSite, L"http://a.example/", 404, odd),
              kSite + L"/naverr.php?url=http://a.example/&errorid=404&lang=" + escaped);
    EXPECT_EQ(DecideMainPaneNavigation(kSite, kSite + L"/api_joiner.php", "s=dogs", odd).browserAddress,
              kSite + L"/video_search.php?q=dogs&lang=" + escaped);
}

}  // namespace
}  // namespace quilmer
