#include "foundation/Strings.h"
#include "foundation/TextTranslator.h"

#include <gtest/gtest.h>

#include <clocale>

using namespace quilmer;

TEST(Strings, FormatWTakesWideStringsForPercentS) {
    std::wstring name = L"clip\u00e9.flv";
    EXPECT_EQ(FormatW(L"%s was not found.", name.c_str()), L"clip\u00e9.flv was not found.");
    EXPECT_EQ(FormatW(L"%ls|%hs|%S|%c|%C", L"w", "n", "N", L'x', 'y'), L"w|n|N|x|y");
    EXPECT_EQ(FormatW(L"%-4s|%03d|%5.1f%%", L"ab", 7, 2.25), L"ab  |007|  2.2%");
    EXPECT_EQ(FormatW(L"%I64d/%I32u/%Iu", 5000000000LL, 7u, std::size_t{9}), L"5000000000/7/9");
    // Longer than the first buffer.
    std::wstring big(3000, L'z');
    EXPECT_EQ(FormatW(L"<%s>", big.c_str()), L"<" + big + L">");
    EXPECT_EQ(FormatA("%s=%d", "n", 42), "n=42");
    EXPECT_EQ(FormatA("%s", std::string(5000, 'q').c_str()).size(), 5000u);
}

// What a translated format may change: the words and their order around the conversions, not
// the arguments it reads.
TEST(Strings, FormatsTakingTheSameArgumentsAndTrFormat) {
    EXPECT_EQ(FormatConversions(L"%d of %d, %.1f s, 100%%, %ls %s %*d"),
              (std::vector<std::wstring>{L"d", L"d", L"f", L"ls", L"ls", L"*", L"d"}));
    EXPECT_TRUE(SameConversions(L"Clip %d of %d", L"%d / %d"));
    EXPECT_FALSE(SameConversions(L"Clip %d of %d", L"Clip %s of %d"));
    EXPECT_FALSE(SameConversions(L"About %s left", L"%s%n"));
    EXPECT_FALSE(SameConversions(L"About %s left", L"About %s left %"));
    EXPECT_FALSE(SameConversions(L"Move Up", L"Up %s"));

    TextTranslatorFn previous = SetTextTranslator([](const std::wstring& text) {
        return text == L"Clip %d of %d" ? std::wstring(L"Clip %s of %s") : L"[" + text + L"]";
    });
    EXPECT_EQ(FormatW(TrFormat(L"Clip %d of %d").c_str(), 2, 3), L"Clip 2 of 3");
    EXPECT_EQ(FormatW(TrFormat(L"%d left").c_str(), 2), L"[2 left]");
    SetTextTranslator(previous);
}

TEST(Strings, InPlaceEditsReportWhatTheyDid) {
    std::wstring s = L"a#b#c";
    EXPECT_EQ(ReplaceAll(s, L"#", L"\""), 2u);
    EXPECT_EQ(s, L"a\"b\"c");
    std::wstring grow = L"aa";
    EXPECT_EQ(ReplaceAll(grow, L"a", L"aa"), 2u);  // replaced text is not rescanned
    EXPECT_EQ(grow, L"aaaa");
    EXPECT_EQ(ReplaceAll(grow, L"", L"x"), 0u);
    std::string path = "c:\\a\\b";
    ReplaceAll(path, "\\", "/");
    EXPECT_EQ(path, "c:/a/b");

    std::wstring r = L"x-y-z";
    EXPECT_EQ(RemoveChar(r, L'-'), 2u);
    EXPECT_EQ(RemoveChar(r, L'-'), 0u);
    EXPECT_EQ(r, L"xyz");

    std::wstring d = L"abcdef";
    EXPECT_EQ(DeleteChars(d, 1, 2), 4u);
    EXPECT_EQ(d, L"adef");
    EXPECT_EQ(DeleteChars(d, 4, 1), 4u);  // at the end: nothing
    EXPECT_EQ(DeleteChars(d, 2, 100), 2u);
}

TEST(Strings, FindingAndSlicingStayInBounds) {
    EXPECT_EQ(FindChar(L"a.b.c", L'.'), 1);
    EXPECT_EQ(FindChar(L"a.b.c", L'.', 2), 3);
    EXPECT_EQ(FindChar(L"abc", L'.'), -1);
    EXPECT_EQ(ReverseFindChar(L"a.b.c", L'.'), 3);
    EXPECT_EQ(ReverseFindChar(std::string_view("abc"), '.'), -1);
    EXPECT_EQ(Left(L"abc", 2), L"ab");
    EXPECT_EQ(Left(L"abc", 9), L"abc");
    EXPECT_EQ(Left(L"abc", -1), L"");
    EXPECT_EQ(Mid(L"abcdef", 2), L"cdef");
    EXPECT_EQ(Mid(L"abcdef", 2, 3), L"cde");
    EXPECT_EQ(Mid(L"abc", 7), L"");
    EXPECT_EQ(Right(L"abcdef", 2), L"ef");
    EXPECT_EQ(Right(L"ab", 5), L"ab");
}

TEST(Strings, CaseInsensitiveTests) {
    EXPECT_TRUE(EndsWithNoCase(L"x.FLV", L".flv"));
    EXPECT_FALSE(EndsWithNoCase(L".flv", L".flv"));  // only the extension: no match
    EXPECT_FALSE(EndsWithNoCase(L"x.mp4", L".flv"));
    EXPECT_TRUE(RightEqualsNoCase(L".flv", L".FLV"));
    EXPECT_FALSE(RightEqualsNoCase(L"lv", L".flv"));
    EXPECT_EQ(CompareNoCase(L"ABC", L"abc"), 0);
    EXPECT_LT(CompareNoCase(L"ab", L"ABC"), 0);
    EXPECT_GT(Compare(L"b", L"a"), 0);
    EXPECT_NE(Compare(L"A", L"a"), 0);
    EXPECT_EQ(ToLower(L"MiXeD"), L"mixed");
    EXPECT_EQ(Trim(L" \tx y\r\n"), L"x y");
}

TEST(Strings, HtmlEscapeInOrder) {
    EXPECT_EQ(HtmlEscape(L"a<b & \"c\"\n"), L"a&lt;b &amp; &quot;c&quot;<br>\n");
    EXPECT_EQ(HtmlEscape(std::string_view("&gt;")), "&amp;gt;");
    EXPECT_EQ(HtmlEscape(L""), L"");
}

TEST(Strings, AnsiConversionsFollowTheLocaleCharset) {
    std::setlocale(LC_CTYPE, "C.UTF-8");
    EXPECT_EQ(ToAnsi(L"caf\u00e9"), "caf\xc3\xa9");
    EXPECT_EQ(FromAnsi(std::string_view("caf\xc3\xa9\0tail", 10)), L"caf\u00e9");  // stops at NUL
    EXPECT_EQ(FromAnsi("a\xff" "b"), L"a\ufffd" L"b");  // bad byte replaced, rest kept
    EXPECT_EQ(ToAnsi(L""), "");
    std::wstring strict = L"kept";
    EXPECT_FALSE(TryFromAnsi("a\xff", strict));
    EXPECT_FALSE(TryFromAnsi("a\xc3", strict));  // truncated sequence
    EXPECT_EQ(strict, L"kept");
    EXPECT_TRUE(TryFromAnsi("\xe4\xb8\xad", strict));
    EXPECT_EQ(strict, L"\u4e2d");
    std::setlocale(LC_CTYPE, "C");
    EXPECT_EQ(FromAnsi("caf\xc3\xa9"), L"caf\u00e9");  // untouched C locale counts as UTF-8
}

TEST(TextTranslator, IdentityUntilInstalled) {
    EXPECT_EQ(Tr(L"Failed to merge files."), L"Failed to merge files.");
    auto previous = SetTextTranslator([](const std::wstring& s) { return L"[" + s + L"]"; });
    EXPECT_EQ(Tr(L"OK"), L"[OK]");
    SetTextTranslator(previous);
    EXPECT_EQ(Tr(L"OK"), L"OK");
}
