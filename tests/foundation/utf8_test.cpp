#include "foundation/Utf8.h"

#include <gtest/gtest.h>

using namespace quilmer;

TEST(Utf8, RoundTripsEveryPlane) {
    std::wstring text = L"a\u00e9\u4e2d\U0001F600";
    std::string utf8 = ToUtf8(text);
    EXPECT_EQ(utf8, "a\xc3\xa9\xe4\xb8\xad\xf0\x9f\x98\x80");
    EXPECT_EQ(FromUtf8(utf8), text);
    EXPECT_EQ(ToUtf8(L""), "");
    EXPECT_EQ(FromUtf8(""), L"");
}

TEST(Utf8, MalformedInputGivesEmptyText) {
    EXPECT_EQ(FromUtf8("ab\xff"), L"");
    EXPECT_EQ(FromUtf8("\xc3"), L"");          // truncated
    EXPECT_EQ(FromUtf8("\xc0\xaf"), L"");      // overlong
    EXPECT_EQ(FromUtf8("\xed\xa0\x80"), L"");  // surrogate
    EXPECT_FALSE(IsValidUtf8("\xe4\xb8"));
    EXPECT_TRUE(IsValidUtf8("\xe4\xb8\xad"));
}
