#include <gtest/gtest.h>

#include "update/HttpClient.h"

using namespace quilmer::Teska;

TEST(HttpRequestShape, PortHostAndObjectFollowFromTheUrl) {
    struct Case {
        const wchar_t* url;
        int port;
        const wchar_t* host;
        const wchar_t* object;
        bool https;
    };
    for (Case c :
         {Case{L"http://example.com", 80, L"example.com", L"/", false},
          Case{L"HtTpS://example.com", 443, L"example.com", L"/", true},
          Case{L"http://example.com:8080/a/b.zip?x=1#frag", 8080, L"example.com", L"/a/b.zip?x=1", false},
          Case{L"http://example.com?type=joiner", 80, L"example.com", L"/?type=joiner", false},
          Case{L"https://example.com:8443?q", 8443, L"example.com", L"/?q", true},
          Case{L"example.com/file", 80, L"example.com", L"/file", false},
          Case{L"http://[::1]:81/x", 81, L"::1", L"/x", false},
          Case{L"httpsx://example.com/", 80, L"example.com", L"/", false}}) {
        EXPECT_EQ(PortOf(c.url), c.port) << c.url;
        EXPECT_EQ(HostOf(c.url), c.host) << c.url;
        EXPECT_EQ(ObjectNameOf(c.url), c.object) << c.url;
        EXPECT_EQ(IsHttpsUrl(c.url), c.https) << c.url;
    }
    EXPECT_EQ(PortOf(L"http://example.com:99999/"), std::nullopt);
    EXPECT_EQ(PortOf(L"http://example.com:8o/"), std::nullopt);
}

TEST(HttpRequestShape, HeadersComeInOrderWithTheResumeLineOnce) {
    HttpClient client;
    EXPECT_EQ(client.SetResumeOffset(100), 16);
    EXPECT_EQ(*client.ResumeHeader(), "Range:bytes=100-");
    client.SetResumeOffset(0);
    EXPECT_EQ(*client.ResumeHeader(), "Range:bytes=0-");
    client.SetResumeOffset(5000000000LL);  // packages past 4 GiB resume correctly too
    EXPECT_EQ(*client.ResumeHeader(), "Range:bytes=5000000000-");
    client.SetResumeOffset(100);
    client.AddHeader(L"X-One", L"1");
    client.AddHeader(L"X-Two", L"2");
    client.AddHeader(L"x-one", L"uno");
    std::vector<std::string> expected{"Cache-Control: no-cache", "Range:bytes=100-", "X-One: uno",
                                      "X-Two: 2"};
    EXPECT_EQ(client.RequestHeaderLines(false), expected);
    expected.erase(expected.begin());
    EXPECT_EQ(client.RequestHeaderLines(true), expected);
    client.ClearResumeOffset();
    EXPECT_EQ(client.RequestHeaderLines(true), (std::vector<std::string>{"X-One: uno", "X-Two: 2"}));
    EXPECT_EQ(client.UserAgent(), L"Mozilla/4.0 (compatible; MSIE 7.0; Windows NT 5.1; Acoo Browser)");
}

TEST(HttpRequestShape, ParametersAreEncodedAndAppendedToTheQuery) {
    EXPECT_EQ(EncodeComponent(L"a b&c=d/\u00e9~"), "a+b%26c%3Dd%2F%C3%A9%7E");
    EXPECT_EQ(EscapeUrlText(L"Chinese Simplified"), L"Chinese%20Simplified");
    EXPECT_EQ(EscapeUrlText(L"v1.9"), L"v1.9");

    HttpClient client;
    EXPECT_EQ(client.UrlWithParameters(L"http://h/p?x=1"), L"http://h/p?x=1");
    client.AddParameter(L"lang", L"Chinese Simplified");
    client.AddParameter(L"pre", L"%41", false, true);
    EXPECT_EQ(client.UrlWithParameters(L"http://h/p#top"), L"http://h/p?lang=Chinese+Simplified&pre=%41#top");
    EXPECT_EQ(client.UrlWithParameters(L"http://h/p?x=1"), L"http://h/p?x=1&lang=Chinese+Simplified&pre=%41");
    EXPECT_EQ(client.UrlWithParameters(L"http://h"), L"http://h/?lang=Chinese+Simplified&pre=%41");
    EXPECT_EQ(client.UrlWithParameters(L"http://h?x"), L"http://h/?x&lang=Chinese+Simplified&pre=%41");
}

TEST(HttpRequestShape, UnusableUrlGivesAFailedResponseWithoutNetwork) {
    HttpClient client;
    auto response = client.Get(L"http://host:0/x");
    EXPECT_EQ(response->StatusCode(), 0);
    char buffer[16];
    EXPECT_EQ(response->Read(buffer, sizeof buffer), 0u);
    EXPECT_TRUE(response->ReadFailed());
    EXPECT_FALSE(response->Header(L"Content-Length"));
    std::uint64_t length = 0;
    EXPECT_FALSE(response->ContentLength(length));
}
