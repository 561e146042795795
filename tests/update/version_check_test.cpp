#include <gtest/gtest.h>

#include "update/VersionCheck.h"
#include "foundation/SiteAddresses.h"
#include "tests/support/TestSupport.h"

using namespace quilmer;
using quilmer::test::ScopedEnv;

namespace {

// Fixed addresses for the two hosts, so that the expected texts are written out here instead of
// being taken from the code under test.
class KnownAddresses {
    ScopedEnv site_{"QUILMER_SITE_URL", std::string("http://site.test.example")};
    ScopedEnv update_{"QUILMER_UPDATE_URL", std::string("http://update.test.example/")};
};

}  // namespace

TEST(VersionCheck, VersionsCompareByTheirNumbers) {
    EXPECT_GT(CompareVersions(L"v1.10", L"v1.9"), 0);
    EXPECT_GT(CompareVersions(L"v2.0.1", L"v2.0"), 0);
    EXPECT_LT(CompareVersions(L"v1.9", L"v2.0"), 0);
    EXPECT_EQ(CompareVersions(L"v2.0", L"v2.0.0"), 0);
    EXPECT_EQ(CompareVersions(L" v1.9", L"V1.9"), 0);
    EXPECT_EQ(CompareVersions(L"", L"v0"), 0);
    EXPECT_LT(CompareVersions(L"v1.9", L"v1.9b"), 0);
    EXPECT_LT(CompareVersions(L"v1.9a", L"v1.9b"), 0);
    EXPECT_GT(CompareVersions(L"v10", L"v9.99"), 0);
}

TEST(VersionCheck, ReleaseDateTakesTheMonthDayYearForm) {
    EXPECT_EQ(FormatReleaseDate(L"Oct 22 2011"), L"10-22-2011");
    EXPECT_EQ(FormatReleaseDate(L"Dec  8 2026"), L"12-08-2026");
    EXPECT_EQ(FormatReleaseDate(L"Foo 22 2011"), L"Foo 22 2011");
    EXPECT_EQ(FormatReleaseDate(L"2011-10-22"), L"2011-10-22");
}

TEST(VersionCheck, DescriptorUrlUsesAValidSettingOrTheBuiltInAddress) {
    KnownAddresses addresses;
    const std::wstring builtIn = L"http://update.test.example/flv/quilmerver.php?lang=English&ver=v1.9";
    EXPECT_EQ(DescriptorUrl(L"", L"English", L"v1.9"), builtIn);
    EXPECT_EQ(DescriptorUrl(L"", L"Chinese Simplified", L"v1.9"),
              L"http://update.test.example/flv/quilmerver.php?lang=Chinese%20Simplified&ver=v1.9");
    EXPECT_EQ(DescriptorUrl(L"http://127.0.0.1:8080/ver.ini", L"English", L"v1.9"),
              L"http://127.0.0.1:8080/ver.ini");
    EXPECT_EQ(DescriptorUrl(L"HTTPS://mirror.example/v", L"English", L"v1.9"), L"HTTPS://mirror.example/v");
    for (const wchar_t* bad : {L"not a url", L"file:///etc/passwd", L"http://", L"http://host:70000/"})
        EXPECT_EQ(DescriptorUrl(bad, L"English", L"v1.9"), builtIn) << bad;
}

TEST(VersionCheck, EvaluationOffersNewerVersionsOnly) {
    KnownAddresses addresses;
    using A = UpdateDecision::Action;
    auto eval = [](const char* text, const wchar_t* current = L"v1.9") {
        return EvaluateDescriptorText(text, current, L"Oct 22 2011", L"English");
    };
    EXPECT_EQ(eval("").action, A::Nothing);
    EXPECT_EQ(eval("[main]\n").action, A::Nothing);
    EXPECT_EQ(eval("[main]\nversion=v1.9\n").action, A::Nothing);
    EXPECT_EQ(eval("[main]\nversion=v1.8\n").action, A::Nothing);

    UpdateDecision d = eval("[main]\r\nversion=v1.10\r\n");
    EXPECT_EQ(d.action, A::OfferNewVersion);
    EXPECT_EQ(d.newestVersion, L"v1.10");
    EXPECT_EQ(d.releaseDate, L"Oct 22 2011");
    EXPECT_EQ(d.downloadUrl, L"http://site.test.example/soft.php?type=joiner");

    d = eval("[main]\nversion=v2.0\nreleasedate=Jan 1 2012\ndownloadurl=http://dl.example/q.zip\n");
    EXPECT_EQ(d.action, A::OfferNewVersion);
    EXPECT_EQ(d.releaseDate, L"Jan 1 2012");
    EXPECT_EQ(d.downloadUrl, L"http://dl.example/q.zip");

    // An unsupported old version is sent to the tip page, whatever "version" says.
    d = EvaluateDescriptorText("[main]\nlastversion=v1.10\nversion=v2.0\n", L"v1.9", L"Oct 22 2011",
                               L"Chinese Simplified");
    EXPECT_EQ(d.action, A::ShowTipPage);
    EXPECT_EQ(d.tipPageUrl, L"http://site.test.example/soft.php?type=joiner?lang=Chinese%20Simplified");
    d = eval("[main]\nlastversion=v1.5\ntipurl=http://t.example/tip.php\n", L"v1.4");
    EXPECT_EQ(d.tipPageUrl, L"http://t.example/tip.php?lang=English");

    EXPECT_EQ(EvaluateDescriptor(L"/nonexistent/quilmerver.ini", L"v1.9", L"Oct 22 2011", L"English").action,
              A::Nothing);
}

TEST(VersionCheck, UpdaterGetsSevenQuotedArguments) {
    UpdaterLaunch launch{L"http://dl.example/soft.php?type=joiner", L"Chinese Simplified",
                         L"/home/u/.config/quilmer/appdata/", L"v1.9", L"v2.0"};
    std::vector<std::wstring> args = UpdaterArguments(launch);
    ASSERT_EQ(args.size(), 7u);
    EXPECT_EQ(args[0],
              L"http://dl.example/soft.php?type=joiner?type=joiner&lang=Chinese%20Simplified&ver=v1.9");
    EXPECT_EQ(args[1], L"Corvane Video");
    EXPECT_EQ(args[2], L"UWM_JoinDownload_IsMe");
    EXPECT_EQ(args[3], L"Chinese Simplified");
    EXPECT_EQ(args[5], L"(v1.9)");
    EXPECT_EQ(args[6], L"(v2.0)");
    launch.language = L"English";
    EXPECT_EQ(
        UpdaterCommandLine(launch),
        L" \"http://dl.example/soft.php?type=joiner?type=joiner&lang=English&ver=v1.9\" \"Corvane Video\" "
        L"\"UWM_JoinDownload_IsMe\" \"English\" \"/home/u/.config/quilmer/appdata/\" \"(v1.9)\" \"(v2.0)\"");
}
