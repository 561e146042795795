#include "lang/IniFile.h"

#include <gtest/gtest.h>

#include <string>

namespace quilmer {
namespace {

IniFile Parsed(const std::string& bytes) {
    IniFile ini;
    ini.Parse(bytes);
    return ini;
}

TEST(IniFile, SectionHeadersMatchCaseInsensitivelyWithInnerBlanks) {
    IniFile spaced = Parsed("[ string ]\nkey=a\n");
    EXPECT_EQ(spaced.ReadString(L"String", L"key"), L"a");
    IniFile caps = Parsed("  [STRING] trailing text\nkey=b\n");
    EXPECT_EQ(caps.ReadString(L"String", L"KEY"), L"b");
    // "Strings" is another section, not a longer spelling of "String".
    IniFile plural = Parsed("[Strings]\nkey=c\n");
    EXPECT_EQ(plural.ReadString(L"String", L"key", L"def"), L"def");
    EXPECT_TRUE(plural.ReadSection(L"String").empty());
}

TEST(IniFile, ReadStringKeepsValueVerbatimAndStopsAtNextHeader) {
    IniFile ini = Parsed("[main]\r\n  url =  http://x/?a=b \r\nkeyword=1\n[other]\nlate=2\n");
    EXPECT_EQ(ini.ReadString(L"main", L"url"), L"  http://x/?a=b ");
    // A longer key that merely starts with the asked one does not match it.
    EXPECT_EQ(ini.ReadString(L"main", L"key"), L"");
    EXPECT_EQ(ini.ReadString(L"main", L"key", L"d"), L"d");
    EXPECT_EQ(ini.ReadString(L"main", L"keyword"), L"1");
    EXPECT_EQ(ini.ReadString(L"main", L"late", L"none"), L"none");
    EXPECT_EQ(ini.ReadString(L"other", L"late"), L"2");
    EXPECT_EQ(ini.ReadString(L"missing", L"late", L"none"), L"none");
}

TEST(IniFile, ReadSectionSplitsTrimsAndExpandsLineBreaks) {
    IniFile ini = Parsed(
        "[String]\n"
        "  A = first\\nsecond  \n"
        "no equals sign here\n"
        ";comment=kept as entry\n"
        "B=x=y\n"
        "C=\n"
        "[Next]\n"
        "D=1\n");
    auto entries = ini.ReadSection(L"string");
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0], (IniFile::Entry{L"A", L"first\nsecond"}));
    EXPECT_EQ(entries[1], (IniFile::Entry{L";comment", L"kept as entry"}));
    EXPECT_EQ(entries[2], (IniFile::Entry{L"B", L"x=y"}));
    EXPECT_EQ(entries[3], (IniFile::Entry{L"C", L""}));
}

TEST(IniFile, OverlongLineEndsTheReading) {
    // 1022 bytes of text plus LF fill exactly one chunk; one byte more does not fit.
    std::string fits = "k=" + std::string(1020, 'a');
    IniFile ok = Parsed("[s]\n" + fits + "\nafter=1\n");
    EXPECT_FALSE(ok.IsTruncated());
    EXPECT_EQ(ok.ReadString(L"s", L"k").size(), 1020u);
    EXPECT_EQ(ok.ReadString(L"s", L"after"), L"1");

    IniFile cut = Parsed("[s]\nbefore=0\n" + fits + "a\nafter=1\n");
    EXPECT_TRUE(cut.IsTruncated());
    EXPECT_EQ(cut.ReadString(L"s", L"before"), L"0");
    EXPECT_EQ(cut.ReadString(L"s", L"k", L"gone"), L"gone");
    EXPECT_EQ(cut.ReadString(L"s", L"after", L"gone"), L"gone");

    // A last line without LF is accepted.
    IniFile tail = Parsed("[s]\nlast=z");
    EXPECT_EQ(tail.ReadString(L"s", L"last"), L"z");
}

TEST(IniFile, Utf8WithByteOrderMarkDecodesAndDropsBrokenValues) {
    IniFile ini = Parsed("\xEF\xBB\xBF[String]\nMoveUp=\xE4\xB8\x8A\xE7\xA7\xBB\nBad=\xC3\x28\nOk=fine\n");
    EXPECT_TRUE(ini.IsUtf8());
    EXPECT_EQ(ini.ReadString(L"String", L"MoveUp"), L"\u4E0A\u79FB");
    EXPECT_EQ(ini.ReadString(L"String", L"Bad", L"english"), L"english");
    auto entries = ini.ReadSection(L"String");
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].first, L"MoveUp");
    EXPECT_EQ(entries[1].first, L"Ok");
    // Without the mark the file is in the locale's charset (UTF-8 in the "C" locale of the tests);
    // bytes it cannot decode drop the value as well.
    IniFile plain = Parsed("[a]\nb=\xC3\xA9t\xC3\xA9\nbad=\xE9t\xE9\n");
    EXPECT_FALSE(plain.IsUtf8());
    EXPECT_EQ(plain.ReadString(L"A", L"B"), L"\u00E9t\u00E9");
    EXPECT_EQ(plain.ReadString(L"a", L"bad", L"english"), L"english");
    EXPECT_EQ(plain.ReadSection(L"a").size(), 1u);
}

TEST(IniFile, MissingFileBehavesAsEmpty) {
    IniFile ini;
    EXPECT_FALSE(ini.Open(L"/nonexistent/folder/file.ini"));
    EXPECT_FALSE(ini.IsOpen());
    EXPECT_EQ(ini.ReadString(L"main", L"url", L"d"), L"d");
    EXPECT_TRUE(ini.ReadSection(L"main").empty());
}

}  // namespace
}  // namespace quilmer
