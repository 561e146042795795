#include "foundation/SiteAddresses.h"

#include <gtest/gtest.h>

namespace quilmer {
namespace {

TEST(SiteAddresses, EnvironmentWinsOverSettingsAndBothOverTheDefault) {
    EXPECT_EQ(ChooseBaseAddress(L"http://127.0.0.1:8080/", L"https://site.example", L"http://d.example"),
              L"http://127.0.0.1:8080");
    EXPECT_EQ(ChooseBaseAddress(L"", L"https://site.example//", L"http://d.example"), L"https://site.example");
    EXPECT_EQ(ChooseBaseAddress(L"", L"", L"http://d.example"), L"http://d.example");
}

TEST(SiteAddresses, UnusableValuesFallThrough) {
    for (const wchar_t* bad : {L"ftp://host", L"http://", L"http:///path", L"www.host.example", L"http://a b"})
        EXPECT_EQ(ChooseBaseAddress(bad, L"", L"http://d.example"), L"http://d.example") << bad;
    EXPECT_EQ(ChooseBaseAddress(L"nonsense", L"HTTP://Upper.example", L"x"), L"HTTP://Upper.example");
}

}  // namespace
}  // namespace quilmer
