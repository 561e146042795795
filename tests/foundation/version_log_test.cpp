#include "foundation/DateTime.h"
#include "foundation/Log.h"
#include "foundation/Strings.h"
#include "foundation/TextTranslator.h"
#include "foundation/Utf8.h"
#include "foundation/Version.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cwchar>
#include <ctime>

#include "tests/support/ScratchFolder.h"

using namespace quilmer;
using quilmer::test::ScratchFolder;

namespace {

// Sets TZ for one test and puts the old one back.
class TimeZone {
public:
    explicit TimeZone(const char* tz) {
        if (const char* old = std::getenv("TZ")) old_ = old, had_ = true;
        ::setenv("TZ", tz, 1);
        ::tzset();
    }
    ~TimeZone() {
        had_ ? ::setenv("TZ", old_.c_str(), 1) : ::unsetenv("TZ");
        ::tzset();
    }

private:
    std::string old_;
    bool had_ = false;
};

std::string ReadLog(const ScratchFolder& dir) {
    std::string text;
    ReadWholeFile(dir.Wide() + L"log.html", text);
    return text;
}

}  // namespace

TEST(Version, FourDisplayForms) {
    // The display forms, on fixed versions: they do not change with the project's version.
    EXPECT_EQ(FormatVersion(0, L"1, 9, 0, 1"), L"v1.90");
    EXPECT_EQ(FormatVersion(1, L"1, 9, 0, 1"), L"Version: 1.90 build 001 Unicode");
    EXPECT_EQ(FormatVersion(2, L"1, 9, 0, 1"), L"1.90.001");
    EXPECT_EQ(FormatVersion(3, L"1, 9, 0, 1"), L"v1.9");
    EXPECT_EQ(FormatVersion(2, L"2, 1, 3, 45"), L"2.13.045");
    EXPECT_EQ(FormatVersion(3, L"2, 1, 3, 45"), L"v2.13");
    EXPECT_EQ(FormatVersion(9, L"2, 1, 3, 45"), L"v2.13");  // unknown style: style 0
    // Fewer than three commas: the whole text is the version, build 1.
    EXPECT_EQ(FormatVersion(1, L"1, 9, 0"), L"Version: 1.90 build 001 Unicode");
    EXPECT_EQ(FormatVersion(2, L"3"), L"3.001");
    auto previous = SetTextTranslator([](const std::wstring& s) { return s == L"Version:" ? L"Fassung:" : s; });
    EXPECT_EQ(FormatVersion(1, L"1, 9, 0, 1"), L"Fassung: 1.90 build 001 Unicode");
    SetTextTranslator(previous);
}

TEST(Version, TheProgramsVersionIsTheProjectVersion) {
    // The build's project version ("1.9.0.1") in the file-version form "1, 9, 0, 1".
    std::wstring expected;
    for (char c : std::string(QUILMER_TEST_PROJECT_VERSION)) {
        if (c == '.')
            expected += L", ";
        else
            expected += static_cast<wchar_t>(c);
    }
    EXPECT_EQ(FileVersionString(), expected);
    EXPECT_EQ(CVersionInfo().GetString(L"FileVersion"), expected);
    EXPECT_EQ(CVersionInfo().GetString(L"ProductVersion"), expected);
    EXPECT_EQ(CVersionInfo().GetString(L"Nonsense"), L"");
    for (int style = 0; style < 4; ++style) EXPECT_EQ(FormatVersion(style), FormatVersion(style, expected));
}

TEST(Version, BuildDateIsARealDayNotAfterToday) {
    // "MM-DD-YYYY" of a real day: the month and day are in range and it reads back as the same day.
    const std::wstring date = BuildDate();
    ASSERT_EQ(date.size(), 10u) << ToUtf8(date);
    int month = 0, day = 0, year = 0;
    ASSERT_EQ(std::swscanf(date.c_str(), L"%2d-%2d-%4d", &month, &day, &year), 3) << ToUtf8(date);
    EXPECT_TRUE(month >= 1 && month <= 12) << month;
    EXPECT_TRUE(day >= 1 && day <= 31) << day;
    EXPECT_GE(year, 2024);
    EXPECT_EQ(date, BuildDateTime().Format(L"%m-%d-%Y"));
    EXPECT_LE(BuildDateTime(), CDateTime::Now());
    EXPECT_EQ(CDateTime::FromLocal(year, month, day).Format(L"%m-%d-%Y"), date);
}

TEST(CDateTime, ExtensionTokensAndLocalTime) {
    TimeZone tz("CET-1CEST,M3.5.0,M10.5.0/3");
    CDateTime winter = CDateTime::FromLocal(2011, 3, 2, 9, 5, 3, 7);
    EXPECT_EQ(winter.Format(L"%m/%d/%Y %H:%M:%S.%s"), L"03/02/2011 09:05:03.007");
    EXPECT_EQ(winter.FormatUtc(L"%H:%M"), L"08:05");
    EXPECT_EQ(winter.Format(L"%m-%d-%Y"), L"03-02-2011");
    // Summer time is applied.
    EXPECT_EQ(CDateTime::FromLocal(2011, 7, 1, 12).FormatUtc(L"%H"), L"10");

    CDateTime fine(CDateTime::FromUnix(0).Ticks() + 12'345'678);  // 1.2345678 s
    EXPECT_EQ(fine.FormatUtc(L"%s|%#s|%u|%#u|%n|%#n|%%s"), L"234|234|567|567|800|800|%s");
    CDateTime::Parts parts;
    ASSERT_TRUE(fine.Breakdown(parts, true));
    EXPECT_EQ(parts.year, 1970);
    EXPECT_EQ(parts.dayOfWeek, 4);
    EXPECT_EQ(parts.dayOfYear, 1);
    EXPECT_EQ(CDateTime(-1).Format(L"%Y"), L"Invalid datetime");
    // Now is the system clock's time: within a few seconds of time(), in Unix seconds.
    const std::time_t before = std::time(nullptr);
    const CDateTime now = CDateTime::Now();
    const std::time_t after = std::time(nullptr);
    EXPECT_FALSE(now < CDateTime::FromUnix(before));
    EXPECT_LT(now, CDateTime::FromUnix(after + 1));
}

TEST(CLog, WritesNothingWithoutAFileAndStillShows) {
    CLog log;
    std::wstring debug;
    log.SetDebugSink([&](const std::wstring& s) { debug += s; });
    log.Write(LOG_INFO, L"hello");
    EXPECT_EQ(debug, L"");  // the unusable file silences the mirror too

    std::wstring shownText, shownCaption;
    auto previous = SetShowHandler([&](const std::wstring& t, const std::wstring& c) { shownText = t, shownCaption = c; });
    LogAndShow(L"Failed to merge files.", L"Quilmer");
    EXPECT_EQ(shownText, L"Failed to merge files.");
    EXPECT_EQ(shownCaption, L"Quilmer");
    SetShowHandler(previous);
}

TEST(CLog, HtmlDocumentStructureAndEscaping) {
    ScratchFolder dir;
    {
        CLog log;
        std::wstring debug;
        log.SetDebugSink([&](const std::wstring& s) { debug += s; });
        log.SetFileName(dir.Wide() + L"log.html");
        log.SetTitle(L"Joins");
        log.SetMeta(L"charset", L"utf-8");
        log.SetLevelMask(LOG_ERR | LOG_INFO);
        log.Write(LOG_WARN, L"masked");  // masked out: the document does not even start
        EXPECT_EQ(ReadLog(dir), "");
        log.Write(LOG_INFO, L"a<b & \"c\"\n");
        EXPECT_EQ(debug, L"Z4R:(INFO) :a<b & \"c\"\n");
        log.Write(LOG_ERR, L"second\n");
        EXPECT_EQ(ReadLog(dir),  // an error line is flushed at once
                  "\n<HTML>\n<Head>\n<meta charset=utf-8>\n<Title>Joins</Title>\n</Head>\n\n<Body>"
                  "a&lt;b &amp; &quot;c&quot;<br>\nsecond<br>\n");
    }
    std::string text = ReadLog(dir);
    EXPECT_TRUE(text.ends_with("second<br>\n</Body>\n</HTML>\n")) << text;
}

TEST(CLog, PrefixesAndPlainText) {
    ScratchFolder dir;
    CLog log;
    log.SetFileName(dir.Wide() + L"log.html");
    log.SetPlainText(true);
    log.SetTitle(L"Run");
    log.PushFlags(0x33);
    log.Printf(LOG_CRIT, L"%s <%d>\n", L"clip", 5);
    log.PopFlags();
    log.PopFlags();  // the first entry stays
    EXPECT_EQ(log.Flags(), 3u);
    std::string text = ReadLog(dir);
    EXPECT_EQ(text.find("<Title>"), std::string::npos);
    EXPECT_NE(text.find("Run\n"), std::string::npos);
    std::string line = text.substr(text.find("<Body>") + 6);
    // "MM/DD/YYYY HH:MM:SS.mmm (tid): text"
    ASSERT_GT(line.size(), 24u);
    EXPECT_EQ(line[2], '/');
    EXPECT_EQ(line[19], '.');
    EXPECT_EQ(line.substr(23), " (" + std::to_string(::gettid()) + "): clip <5>\n");
}
