#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "foundation/Settings.h"
#include "skin/SkinCatalog.h"
#include "skin/SkinReader.h"
#include "tests/support/ScratchFolder.h"

namespace quilmer {
namespace {

using test::ScratchFolder;

// A 2x1 PNG: the smallest file the header probe accepts.
std::string TinyPng(int width, int height) {
    std::string png("\x89PNG\r\n\x1a\n", 8);
    png += std::string("\0\0\0\x0dIHDR", 8);
    for (int v : {width, height})
        for (int shift = 24; shift >= 0; shift -= 8) png += char((v >> shift) & 0xFF);
    png += std::string("\x08\x02\0\0\0", 5);
    return png;
}

// An image probe that knows a fixed list of sizes, so tests need no real image files.
ImageProbe FakeImages(int width = 64, int height = 64) {
    return [=](const std::wstring& path) -> std::optional<ImageSize> {
        if (path.find(L"missing") != std::wstring::npos) return std::nullopt;
        return ImageSize{width, height};
    };
}

std::string Definition(const std::string& windowSkinBody,
                       const std::string& targets = R"(<target window="CMainWnd"/>)") {
    return "<root><skin><windowSkins><windowSkin>" + targets + windowSkinBody +
           "</windowSkin></windowSkins></skin></root>";
}

const std::string kImage = R"(<image path="frame.png"/>)";

struct ReadOutcome {
    bool ok = false;
    SkinDefinition def;
    std::wstring error;
};
ReadOutcome Read(const std::string& xml, const ImageProbe& probe = FakeImages()) {
    ReadOutcome r;
    r.ok = ReadSkinText(xml, L"/skins/Test/", r.def, r.error, probe);
    return r;
}

TEST(SkinReader, ShippedSkinsReadWithTheirImages) {
    std::wstring skins = WidePath(QUILMER_PROGRAM_DIR "/skins/");
    auto installed = EnumerateSkins(skins);
    ASSERT_NE(FindInstalledSkin(installed, L"Daylight"), L"");
    ASSERT_NE(FindInstalledSkin(installed, L"midnight"), L"");  // names match without regard to case
    for (const auto& name : installed) {
        SkinDefinition def;
        std::wstring error;
        ASSERT_TRUE(ReadSkinFolder(skins + name, def, error)) << std::string(error.begin(), error.end());
        EXPECT_TRUE(def.mainWindow.HasImage());
        EXPECT_TRUE(def.dialog.HasImage());
        EXPECT_GT(def.mainWindow.imageWidth, 0);
    }
    SkinDefinition night;
    std::wstring error;
    ASSERT_TRUE(ReadSkinFolder(skins + L"Midnight", night, error));
    EXPECT_TRUE(night.mainWindow.hasRegion);
    EXPECT_EQ(night.mainWindow.region.size(), 2u);
    EXPECT_TRUE(night.mainWindow.caps);
    EXPECT_EQ(night.mainWindow.align, kAlignCentre);
    EXPECT_EQ(night.mainWindow.outlineColour, 0);
    EXPECT_EQ(night.mainWindow.partMode[kPartTop], kModeStretch);
    EXPECT_EQ(night.mainWindow.minimumWidth, 360);
    // Its dialog skin has only the system and close buttons.
    EXPECT_TRUE(night.dialog.anchorPresent[kAnchorClose]);
    EXPECT_FALSE(night.dialog.anchorPresent[kAnchorMinimise]);
}

TEST(SkinReader, PartsAnchorsAndValueSyntax) {
    auto r = Read(Definition(kImage + R"(
        <parts>
          <part name="topleft" rect="0,0,8,20"/>
          <part name="Top" rect="8,0,0,0" mode="STRETCH"/>
          <part name="Left" rect="0,20,4,4" mode="sideways"/>
          <part name="Left" rect="4,20,5,4"/>
          <part name="NoSuchPart" rect="0,0,1,1"/>
          <part name="Bottom" point="3,4"/>
          <part name="Right"/>
        </parts>
        <anchors><anchor name="CLOSE" rect="-20,4,16,14"/><anchor name="Icon" point="4,4"/></anchors>
        <caption rect="8,2,-60,18" colour="FF0000" inactiveColour="#00FF00" shadowColour="00ff00"
                 caps="1" align="right" fontSize="90pt" fontWeight="normal" fontFace="Sans"/>
        <maximiseCrop rect="1,-1,3,4"/><resizeBorder rect="2,-5,6,7"/>
        <minimumSize width="400" height="tall"/>
        <unknownElement/>)"));
    ASSERT_TRUE(r.ok) << std::string(r.error.begin(), r.error.end());
    const WindowSkin& s = r.def.mainWindow;
    EXPECT_TRUE(s.partPresent[kPartTopLeft]);
    // A zero-sized part becomes 1x1.
    EXPECT_EQ(s.partRect[kPartTop], (SkinRect{8, 0, 9, 1}));
    EXPECT_EQ(s.partMode[kPartTop], kModeStretch);
    // The later part of the same name wins; an unknown mode tiles.
    EXPECT_EQ(s.partRect[kPartLeft], (SkinRect{4, 20, 9, 24}));
    EXPECT_EQ(s.partMode[kPartLeft], kModeTile);
    EXPECT_EQ(s.partRect[kPartBottom], (SkinRect{3, 4, 4, 5}));
    EXPECT_FALSE(s.partPresent[kPartRight]);
    EXPECT_EQ(s.anchorRect[kAnchorClose], (SkinRect{-20, 4, -4, 18}));
    EXPECT_TRUE(s.anchorPresent[kAnchorIcon]);
    EXPECT_EQ(s.captionRect, (SkinRect{8, 2, -60, 20}));
    EXPECT_EQ(s.colour, 0x0000FF);          // pure red as red | green << 8 | blue << 16
    EXPECT_EQ(s.inactiveColour, 0x808080);  // a leading hash is not the format: default stays
    EXPECT_EQ(s.shadowColour, 0x00FF00);
    EXPECT_TRUE(s.caps);
    EXPECT_EQ(s.align, kAlignRight);
    EXPECT_EQ(s.fontWeight, 400);
    EXPECT_EQ(s.CaptionFontHeight(96), -12);
    EXPECT_EQ(s.maximiseCrop, (std::array<int, 4>{1, -1, 3, 4}));
    EXPECT_EQ(s.resizeBorder, (std::array<int, 4>{2, kSkinDefault, 6, 7}));
    EXPECT_EQ(s.minimumWidth, 400);
    EXPECT_EQ(s.minimumHeight, 0);
    // The file has no dialog skin: dialogs keep the system frame.
    EXPECT_FALSE(r.def.dialog.HasImage());
}

TEST(SkinReader, DefaultsWhenTheFileSaysNothing) {
    auto r = Read(
        Definition(kImage + R"(<caption point="4,4" fontSize="12" fontWeight="heavy" align="middle"/>)"));
    ASSERT_TRUE(r.ok);
    const WindowSkin& s = r.def.mainWindow;
    EXPECT_EQ(s.maximiseCrop, (std::array<int, 4>{-1, 0, -1, -1}));
    EXPECT_EQ(s.resizeBorder, (std::array<int, 4>{-1, -1, -1, -1}));
    EXPECT_EQ(s.colour, 0xFFFFFF);
    EXPECT_EQ(s.inactiveColour, 0x808080);
    EXPECT_EQ(s.shadowColour, kNoColour);
    EXPECT_EQ(s.outlineColour, kNoColour);
    EXPECT_EQ(s.fontWeight, 700);
    EXPECT_EQ(s.align, kAlignLeft);
    EXPECT_EQ(s.CaptionFontHeight(96), -12);
    EXPECT_TRUE(s.captionPresent);
    EXPECT_FALSE(s.caps);
    EXPECT_FALSE(s.hasRegion);
}

TEST(SkinReader, WindowKindsAndImageTypes) {
    std::string xml = R"(<root><skin><windowSkins>
        <windowSkin><target window="cmainwnd"/><image path="wrong.png"/></windowSkin>
        <windowSkin><target window="CDialog"/><target window="CMainWnd"/><image path="first.png"/></windowSkin>
        <windowSkin><target window="CMainWnd"/><image path="second.png"/></windowSkin>
      </windowSkins>
      <watermarks><watermark target="CCoolMenuBar" path="mark.png"/><watermark target="CCoolMenuBar" path="x.png"/></watermarks>
      </skin></root>)";
    auto r = Read(xml);
    ASSERT_TRUE(r.ok);
    // Kinds match exactly; the first window skin that claims a kind wins; one may serve both.
    EXPECT_EQ(r.def.mainWindow.imagePath, L"/skins/Test/first.png");
    EXPECT_EQ(r.def.dialog.imagePath, L"/skins/Test/first.png");
    EXPECT_EQ(r.def.watermarkPath, L"/skins/Test/mark.png");

    // An image of the watermark type in any capitals is never the frame image.
    auto water = Read(Definition(
        R"(<image path="a.png"/><image path="b.png" type="WaterMark"/><image path="c.png" type="Alpha"/>)"));
    ASSERT_TRUE(water.ok);
    EXPECT_EQ(water.def.mainWindow.imagePath, L"/skins/Test/a.png");
    auto onlyWater = Read(Definition(R"(<image path="b.png" type="water"/>)"));
    EXPECT_FALSE(onlyWater.ok);
    // Backslashes of skins made elsewhere are folder separators.
    auto slashes = Read(Definition(R"(<image path="img\frame.png"/>)"));
    ASSERT_TRUE(slashes.ok);
    EXPECT_EQ(slashes.def.mainWindow.imagePath, L"/skins/Test/img/frame.png");
}

TEST(SkinReader, RegionIsKeptAsWritten) {
    auto r = Read(Definition(kImage + R"(<region>
        <shape type="roundRect" rect="0,0,-1,-1" size="12,10" combine="copy"/>
        <shape type="ELLIPSE" combine="XOR"/>
        <shape type="triangle" combine="or"/>
        <shape type="rectangle" point="5,6" combine="sideways"/>
      </region>)"));
    ASSERT_TRUE(r.ok);
    const auto& region = r.def.mainWindow.region;
    ASSERT_EQ(region.size(), 4u);
    EXPECT_EQ(region[0].type, kShapeRoundRect);
    EXPECT_EQ(region[0].rect, (SkinRect{0, 0, -1, -1}));
    EXPECT_EQ(region[0].cornerWidth, 12);
    EXPECT_EQ(region[1].type, kShapeEllipse);
    EXPECT_FALSE(region[1].hasRect);
    EXPECT_EQ(region[1].combine, kCombineXor);
    EXPECT_EQ(region[2].type, kShapeUnknown);
    EXPECT_EQ(region[3].rect, (SkinRect{5, 6, 0, 0}));
    EXPECT_EQ(region[3].combine, kCombineNone);
}

// Each malformed definition is refused as a whole, with a reason, and never crashes.
TEST(SkinReader, MalformedDefinitionsAreRefused) {
    struct Case {
        const char* what;
        std::string xml;
    };
    const Case cases[] = {
        {"not XML", "this is not xml <root"},
        {"truncated XML", "<root><skin><windowSkins><windowSkin>"},
        {"empty file", ""},
        {"no skin element", "<root><other/></root>"},
        {"no window skin", "<root><skin><windowSkins/></skin></root>"},
        {"no image", Definition("<parts/>")},
        {"missing bitmap", Definition(R"(<image path="missing.png"/>)")},
        {"resource bitmap", Definition(R"(<image res="101"/>)")},
        {"image outside the folder", Definition(R"(<image path="../../etc/frame.png"/>)")},
        {"absolute image path", Definition(R"(<image path="/etc/frame.png"/>)")},
        {"part outside the image",
         Definition(kImage + R"(<parts><part name="Top" rect="60,0,10,10"/></parts>)")},
        {"part left of the image",
         Definition(kImage + R"(<parts><part name="Top" rect="-2,0,10,10"/></parts>)")},
        {"negative part size", Definition(kImage + R"(<parts><part name="Left" rect="4,4,-3,10"/></parts>)")},
        {"huge number",
         Definition(kImage + R"(<parts><part name="Left" rect="4,4,99999999999999999999,1"/></parts>)")},
        {"huge anchor",
         Definition(kImage + R"(<anchors><anchor name="Close" rect="40000,0,1,1"/></anchors>)")},
        {"negative anchor size",
         Definition(kImage + R"(<anchors><anchor name="Close" rect="-20,0,-16,1"/></anchors>)")},
        {"huge minimum size", Definition(kImage + R"(<minimumSize width="2147483648" height="1"/>)")},
        {"huge region",
         Definition(kImage + R"(<region><shape type="ellipse" rect="0,0,70000,1" combine="or"/></region>)")},
        {"negative caption height", Definition(kImage + R"(<caption rect="0,0,10,-4"/>)")},
    };
    for (const Case& c : cases) {
        auto r = Read(c.xml, FakeImages(64, 64));
        EXPECT_FALSE(r.ok) << c.what;
        EXPECT_FALSE(r.error.empty()) << c.what;
        EXPECT_FALSE(r.def.mainWindow.HasImage()) << c.what;
    }
}

TEST(SkinReader, RefusesFilesThatAreNotImages) {
    ScratchFolder folder;
    folder.Write("Broken/skin.xml", Definition(R"(<image path="frame.png"/>)"));
    folder.Write("Broken/frame.png", "GIF89a not a png at all");
    folder.Write("Good/skin.xml",
                 Definition(R"(<image path="frame.png"/><parts><part name="Top" rect="0,0,2,1"/></parts>)"));
    folder.Write("Good/frame.png", TinyPng(2, 1));
    folder.Write("Wide/skin.xml",
                 Definition(R"(<image path="frame.png"/><parts><part name="Top" rect="0,0,3,1"/></parts>)"));
    folder.Write("Wide/frame.png", TinyPng(2, 1));
    folder.Write("Garbage/skin.xml", std::string("\xff\xfe\x00<\x01", 5));

    SkinDefinition def;
    std::wstring error;
    EXPECT_FALSE(ReadSkinFolder(folder.Wide("Broken"), def, error));
    EXPECT_NE(error.find(L"not an image"), std::wstring::npos);
    EXPECT_TRUE(ReadSkinFolder(folder.Wide("Good"), def, error));
    EXPECT_EQ(def.mainWindow.imageWidth, 2);
    EXPECT_FALSE(ReadSkinFolder(folder.Wide("Wide"), def, error));
    EXPECT_FALSE(ReadSkinFolder(folder.Wide("Garbage"), def, error));
    EXPECT_FALSE(ReadSkinFolder(folder.Wide("NotThere"), def, error));
}

// What anyone may put in a skins folder: a FIFO or a device in place of skin.xml or the image is
// refused at once (it used to hang start-up for good), and an image whose header declares more
// than 8192 pixels a side is refused before anything decodes it (a 20000x20000 PNG cost 3.9 GB).
TEST(SkinReader, FifosDevicesAndHugeImagesAreRefusedWithoutReadingThem) {
    ScratchFolder folder;
    const std::string good = R"(<root><skin><windowSkins><windowSkin><target window="CMainWnd"/>)"
                             R"(<image path="frame.png"/></windowSkin></windowSkins></skin></root>)";
    SkinDefinition def;
    std::wstring error;

    folder.Write("Pipe/frame.png", TinyPng(64, 64));
    ASSERT_EQ(::mkfifo(folder.File("Pipe/skin.xml").c_str(), 0600), 0);
    EXPECT_FALSE(ReadSkinFolder(folder.Wide("Pipe"), def, error));
    EXPECT_NE(error.find(L"not a regular file"), std::wstring::npos) << std::string(error.begin(), error.end());

    folder.Write("PipeImage/skin.xml", good);
    ASSERT_EQ(::mkfifo(folder.File("PipeImage/frame.png").c_str(), 0600), 0);
    EXPECT_FALSE(ReadSkinFolder(folder.Wide("PipeImage"), def, error));
    EXPECT_FALSE(ProbeImageFile(folder.Wide("PipeImage/frame.png")));

    folder.Write("Device/skin.xml", good);
    std::filesystem::create_symlink("/dev/zero", folder.File("Device/frame.png"));
    EXPECT_FALSE(ReadSkinFolder(folder.Wide("Device"), def, error));

    folder.Write("Huge/skin.xml", good);
    folder.Write("Huge/frame.png", TinyPng(20000, 20000));
    EXPECT_FALSE(ReadSkinFolder(folder.Wide("Huge"), def, error));
    EXPECT_NE(error.find(L"20000x20000"), std::wstring::npos) << std::string(error.begin(), error.end());
    folder.Write("Huge/frame.png", TinyPng(8193, 16));
    EXPECT_FALSE(ReadSkinFolder(folder.Wide("Huge"), def, error));

    folder.Write("Largest/skin.xml", good);
    folder.Write("Largest/frame.png", TinyPng(8192, 8192));
    EXPECT_TRUE(ReadSkinFolder(folder.Wide("Largest"), def, error)) << std::string(error.begin(), error.end());
}

TEST(SkinCatalog, InstalledSkinsAndTheStoredName) {
    ScratchFolder folder;
    folder.Write("skins/One/skin.xml", "<root/>");
    folder.Write("skins/Two words \xc3\xa9/skin.xml", "<root/>");
    folder.Write("skins/NoDefinition/frame.png", "x");
    folder.Write("skins/.hidden/skin.xml", "<root/>");
    folder.Write("skins/file.xml", "x");
    folder.Write("skins/Odd/skin.xml/inner", "x");  // skin.xml is a folder here
    folder.Write("skins/Alpha/skin.xml", "<root/>");
    folder.Write("skins/Pipe/frame.png", "x");
    ASSERT_EQ(::mkfifo(folder.File("skins/Pipe/skin.xml").c_str(), 0600), 0);  // not a definition
    auto names = EnumerateSkins(folder.Wide("skins"));
    // Sorted by name, as the menu shows them.
    EXPECT_EQ(names, (std::vector<std::wstring>{L"Alpha", L"One", L"Two words \u00e9"}));
    EXPECT_EQ(FindInstalledSkin(names, L"ONE"), L"One");
    EXPECT_EQ(FindInstalledSkin(names, L"Three"), L"");
    EXPECT_TRUE(EnumerateSkins(folder.Wide("absent")).empty());

    SettingsStore store(folder.Wide("settings.json"));
    EXPECT_EQ(ReadSkinName(store), L"");
    ASSERT_TRUE(WriteSkinName(store, L"One"));
    EXPECT_EQ(store.ReadString(L"Config", L"SkinName"), L"One");
    EXPECT_EQ(ReadSkinName(store), L"One");
}

}  // namespace
}  // namespace quilmer
