#include "web/core/MarkupEscape.h"
#include "web/core/PlayerPages.h"

#include <gtest/gtest.h>

namespace quilmer {
namespace {

TEST(PlayerChoice, EndingChoosesTheWindowClass) {
    EXPECT_EQ(ChoosePlayer(L"/v/clip.WMV"), PlayerKind::WindowsMedia);
    EXPECT_EQ(ChoosePlayer(L"/v/a.wma"), PlayerKind::WindowsMedia);
    EXPECT_EQ(ChoosePlayer(L"/v/a.Asf"), PlayerKind::WindowsMedia);
    EXPECT_EQ(ChoosePlayer(L"/v/a.rm"), PlayerKind::Real);
    EXPECT_EQ(ChoosePlayer(L"/v/a.RMVB"), PlayerKind::Real);
    EXPECT_EQ(ChoosePlayer(L"/v/a.flv"), PlayerKind::Flash);
    EXPECT_EQ(ChoosePlayer(L"/v/a.mp4"), PlayerKind::Flash);
    EXPECT_EQ(ChoosePlayer(L"/v/noextension"), PlayerKind::Flash);
    // Nothing before the ending: not a Windows Media clip.
    EXPECT_EQ(ChoosePlayer(L".wmv"), PlayerKind::Flash);
    EXPECT_EQ(ChoosePlayer(L"x.wmv"), PlayerKind::WindowsMedia);
}

TEST(PlaylistWriter, WritesHeaderAndOneEntryPerPathAsXml) {
    std::string asx = PlaylistWriter({L"C:\\v\\first clip.flv", L"/v/Ünï & <b>\".mp4"}, false);
    EXPECT_EQ(asx,
              "<asx version=\"3.0\">\n<param name=\"encoding\" value=\"utf-8\" />\n<title>first clip</title>\n"
              "<entry> <ref href=\"C:/v/first clip.flv\"/> </entry>\n"
              "<entry> <ref href=\"/v/\xC3\x9Cn\xC3\xAF &amp; &lt;b&gt;&quot;.mp4\"/> </entry>\n</asx>");
    // A crafted name can neither close the title nor leave its attribute.
    std::string crafted = PlaylistWriter({L"/v/a</title><img src=x onerror=alert(1)>\"'.flv"}, false);
    EXPECT_NE(crafted.find("<title>title&gt;&lt;img src=x onerror=alert(1)&gt;\"'</title>"), std::string::npos)
        << crafted;
    EXPECT_NE(crafted.find("<ref href=\"/v/a&lt;/title&gt;&lt;img src=x onerror=alert(1)&gt;&quot;&#39;.flv\"/>"),
              std::string::npos)
        << crafted;
    EXPECT_EQ(PlaylistWriter({L"/v/a.b.flv"}, true),
              "<asx version=\"3.0\">\n<param name=\"encoding\" value=\"utf-8\" />\n<title>a.b</title>\n"
              "<entry> <ref href=\"./a.b.flv\"/> </entry>\n</asx>");
}

TEST(PlayerPages, SearchBarCarriesTheLanguageUnescaped) {
    EXPECT_EQ(SearchBarAddress(L"http://s.example", L"Chinese Simplified"),
              L"http://s.example/api_search3.php?showbar=1&lang=Chinese Simplified&type=flv");
}

TEST(PlayerPages, FlashTemplateIsFilledInOrderWithTabs) {
    std::string page = FlashPage("/a/swfobject.js", "http://s/bar", 500, 300, "/a/mediaplayer.swf", "/tmp/TFR1");
    EXPECT_EQ(page.rfind("<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\"/></head>\t\t"
                         " <script type=\"text/javascript\" src=\"/a/swfobject.js\"></script>\t\t",
                         0),
              0u);
    EXPECT_NE(page.find(" <iframe src=\"http://s/bar\" height=\"57px\" width=\"105%\" name=\"playbar\" id=\"playbar\"\t\t"),
              std::string::npos);
    EXPECT_NE(page.find(" <div id=\"wrapper\" style=\"width:500px; height:300px; float:left\" >\t\t"), std::string::npos);
    EXPECT_NE(page.find("Get the Flash Player to see thisplayer.</a>\t\t </div>\t\t\t </body>\t\t </html>\t\t"),
              std::string::npos);
    EXPECT_NE(page.find(" var s1 = new SWFObject(\"/a/mediaplayer.swf\",\"player_id\",\"100%\",\"100%\",\"7\");\t\t\t"),
              std::string::npos);
    EXPECT_NE(page.find("s1.addParam('flashvars','file=/tmp/TFR1&autostart=true&repeat=list');\t\t\t"),
              std::string::npos);
    EXPECT_TRUE(page.ends_with("s1.write(\"wrapper\");\t\t\t</script>"));
}

TEST(PlayerPages, WindowsMediaAndRealTemplatesCarryTheClipWhereTheirPlayersReadIt) {
    std::string wmp = WindowsMediaPage("http://s/bar", "/v/a 100%.wmv");
    EXPECT_NE(wmp.find("<iframe src=\"http://s/bar\" height=\"57px\" width=\"100%\" frameborder=\"0\" scrolling=\"no\"></iframe>\t\t"),
              std::string::npos);
    EXPECT_NE(wmp.find("<param NAME=\"URL\" VALUE=\"/v/a 100%.wmv\" />\t\t"), std::string::npos);
    EXPECT_NE(wmp.find("HEIGHT=\"286\" src=\"/v/a 100%.wmv\" volume=\"50\" rate=\"1\" stretchToFit=\"1\" balance=\"0\" "
                       "enableContextMenu=\"-1\" \t\t"),
              std::string::npos);
    EXPECT_NE(wmp.find("<div style=\"width:105%\">\t\t"), std::string::npos);
    EXPECT_TRUE(wmp.ends_with("</object>\t\t</div>\t\t</body>\t\t</html>"));

    std::string real = RealPage("http://s/bar", "/v/a.rm");
    EXPECT_NE(real.find(" <div id=\"wrapper\" style=\"width:488px; height:279px; float:left\" >    <object width=\"100%\" "
                        "height=\"100%\" classid=\"clsid:CFCDAA03-8BE4-11cf-B84B-0020AFBBCCFA\">\t<param"),
              std::string::npos);
    EXPECT_NE(real.find("<param name=\"SRC\" value=\"/v/a.rm\">\t"), std::string::npos);
    EXPECT_NE(real.find("</object> \t</div>\t</body>\t</html>"), std::string::npos);
    EXPECT_EQ(WrapperHeightMargin(PlayerKind::Real), 150);
    EXPECT_EQ(WrapperHeightMargin(PlayerKind::Flash), 90);
}

TEST(PlayerPages, FileUrlKeepsEveryByteOfTheName) {
    EXPECT_EQ(FileUrl(L"/v/a b#1%.mp4"), "file:///v/a%20b%231%25.mp4");
    EXPECT_EQ(FileUrl(L"/v/\u00e9'\".flv"), "file:///v/%C3%A9%27%22.flv");
}

TEST(PlayerPages, MediaScriptQuotesTheAddressSafely) {
    std::string js = MediaElementScript("file:///v/it's%20\"x\".mp4", false, L"note </script>");
    EXPECT_NE(js.find("createElement('video')"), std::string::npos);
    EXPECT_EQ(js.find("it's"), std::string::npos);
    EXPECT_EQ(js.find("</script>"), std::string::npos);
    EXPECT_NE(MediaElementScript("file:///a.wma", true, {}).find("createElement('audio')"), std::string::npos);
}

TEST(PlayerPages, CraftedClipNamesStayValuesInEveryContext) {
    // Quotes of both kinds, a script end tag, markup with a handler, and bytes that are not UTF-8.
    const std::string name = "/v/x\"'></script><img src=x onerror=alert(1)>\xff\xc3(.wmv";
    std::string wmp = WindowsMediaPage("http://s/bar?lang=A\"B", name);
    const std::string attr = "/v/x&quot;&#39;&gt;&lt;/script&gt;&lt;img src=x onerror=alert(1)&gt;\xEF\xBF\xBD\xEF\xBF\xBD(.wmv";
    EXPECT_NE(wmp.find("<param NAME=\"URL\" VALUE=\"" + attr + "\" />"), std::string::npos) << wmp;
    EXPECT_NE(wmp.find(" src=\"" + attr + "\" volume="), std::string::npos);
    EXPECT_NE(wmp.find("<iframe src=\"http://s/bar?lang=A&quot;B\""), std::string::npos);
    EXPECT_EQ(wmp.find("<img"), std::string::npos);
    EXPECT_EQ(wmp.find("</script>"), std::string::npos);
    EXPECT_NE(RealPage("http://s/bar", name).find("<param name=\"SRC\" value=\"" + attr + "\">"), std::string::npos);

    // Script strings: no quote, no tag, no raw byte above ASCII; a flashvars value keeps its own "&".
    std::string flash = FlashPage("/a/s\"w.js", "http://s/bar", 1, 1, "/a/m'\"</script>.swf", "/tmp/p&l=1 \xff");
    EXPECT_NE(flash.find("src=\"/a/s&quot;w.js\""), std::string::npos);
    EXPECT_NE(flash.find("new SWFObject(\"/a/m\\x27\\x22\\x3c/script\\x3e.swf\","), std::string::npos) << flash;
    EXPECT_NE(flash.find("'file=/tmp/p%26l%3D1%20%FF&autostart"), std::string::npos) << flash;
    EXPECT_EQ(flash.find("</script>.swf"), std::string::npos);

    std::string js = MediaElementScript("file:///v/a.mp4", false, L"\u00e9\U0001F600'</script>");
    EXPECT_NE(js.find("'\\xe9\\ud83d\\ude00\\x27\\x3c/script\\x3e'"), std::string::npos) << js;
}

TEST(MarkupEscape, EachContextItsOwnRules) {
    EXPECT_EQ(EscapeMarkupText("a<b>&\"'"), "a&lt;b&gt;&amp;\"'");
    EXPECT_EQ(EscapeAttribute("a<b>&\"'"), "a&lt;b&gt;&amp;&quot;&#39;");
    EXPECT_EQ(EscapeScriptString("a b.c/-_%\\\n\x7f"), "a b.c/-_%\\x5c\\x0a\\x7f");
    EXPECT_EQ(ScriptStringLiteral(""), "''");
    EXPECT_EQ(EscapeUrlPart("/a b&c=\xff~"), "/a%20b%26c%3D%FF~");
    EXPECT_EQ(EscapeUrlPart("a:b/c", ":"), "a:b%2Fc");
    // Valid UTF-8 stays; each byte of a broken, overlong or surrogate sequence is one U+FFFD.
    EXPECT_EQ(ValidUtf8("\xc3\xa9\xf0\x9f\x98\x80"), "\xc3\xa9\xf0\x9f\x98\x80");
    EXPECT_EQ(ValidUtf8("a\xc3"), "a\xEF\xBF\xBD");
    EXPECT_EQ(ValidUtf8("\xc0\xaf"), "\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(ValidUtf8("\xed\xa0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(EscapeAttribute("\xff\""), "\xEF\xBF\xBD&quot;");
}

}  // namespace
}  // namespace quilmer
