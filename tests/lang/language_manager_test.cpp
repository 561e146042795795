#include "lang/LanguageManager.h"

#include "foundation/Utf8.h"
#include "tests/support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace quilmer {
namespace {

namespace fs = std::filesystem;

const std::string kBom = "\xEF\xBB\xBF";

std::string Bitmap16() {
    std::string bmp(54 + 16 * 16 * 3, '\0');
    auto put = [&](int at, std::uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) bmp[at + i] = static_cast<char>(v >> (8 * i));
    };
    bmp[0] = 'B';
    bmp[1] = 'M';
    put(2, static_cast<std::uint32_t>(bmp.size()), 4);
    put(10, 54, 4);
    put(14, 40, 4);
    put(18, 16, 4);
    put(22, 16, 4);
    put(26, 1, 2);
    put(28, 24, 2);
    return bmp;
}

class LanguageManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(scratch_.Path().empty());
        folder_ = scratch_.Path();
        Write("English.lng", kBom +
                                 "[Info]\nicon=flag_en.bmp\n"
                                 "[String]\n"
                                 "IDS_MOVE_UP=Move Up\n"
                                 "IDS_PROPERTY=Property...\n"
                                 "IDS_FAILED=Failed to merge files.\n"
                                 "IDS_CTRL_O=Ctrl+O\n"
                                 "IDS_OPEN=&Open\n"
                                 "IDS_UP_AGAIN=Move Up\n"
                                 "IDS_FRENCH=French\n");
        Write("French.lng", kBom +
                                "[Info]\nicon=flag_fr.bmp\n"
                                "[ STRING ]\n"
                                "IDS_MOVE_UP=Monter\n"
                                "IDS_PROPERTY=Propri\xC3\xA9t\xC3\xA9s...\n"
                                "IDS_FAILED=\n"
                                "IDS_OPEN=&Ouvrir\n"
                                "IDS_CTRL_O=Ctrl+O\n"
                                "IDS_FRENCH=Fran\xC3\xA7"
                                "ais\n");
        Write("flag_en.bmp", Bitmap16());
        Write("flag_fr.bmp", Bitmap16());
    }

    void Write(const std::string& name, const std::string& bytes) {
        std::ofstream(folder_ / name, std::ios::binary) << bytes;
    }

    std::unique_ptr<LanguageManager> Make(const std::wstring& stored) {
        LanguageManager::Environment env;
        env.languageFolder = FromUtf8(folder_.string());  // no trailing '/': the manager adds it
        env.loadLanguage = [stored](const std::wstring& def) { return stored.empty() ? def : stored; };
        env.saveLanguage = [this](const std::wstring& name) { saved_ = name; };
        return std::make_unique<LanguageManager>(env);
    }

    quilmer::test::ScratchFolder scratch_{"quilmer-lang"};
    fs::path folder_;
    std::wstring saved_;
};

TEST_F(LanguageManagerTest, EnglishFrenchEnglishFrenchRelabelsEachTime) {
    auto lm = Make(L"English");
    EXPECT_FALSE(lm->NeedsRelabel());
    EXPECT_EQ(lm->Translate(L"Move Up"), L"Move Up");

    // A window shows English; after the switch each label is mapped to French.
    lm->SwitchLanguage(L"French", false);
    EXPECT_TRUE(lm->NeedsRelabel());
    std::wstring label = lm->Translate(L"Move Up");
    EXPECT_EQ(label, L"Monter");
    // A text set while French is shown comes from code in English.
    std::wstring later = lm->Translate(L"Property...");
    EXPECT_EQ(later, L"Propri\u00E9t\u00E9s...");

    lm->SwitchLanguage(L"English", false);
    label = lm->Translate(label);
    later = lm->Translate(later);
    EXPECT_EQ(label, L"Move Up");
    EXPECT_EQ(later, L"Property...");
    EXPECT_EQ(lm->Translate(L"&Open"), L"&Open");

    lm->SwitchLanguage(L"French", false);
    EXPECT_EQ(lm->Translate(label), L"Monter");
    EXPECT_EQ(lm->Translate(later), L"Propri\u00E9t\u00E9s...");
    // Texts unknown to English.lng pass through; an empty text in the pack shows the English one.
    EXPECT_EQ(lm->Translate(L"not a known text"), L"not a known text");
    EXPECT_EQ(lm->Translate(L"Failed to merge files."), L"Failed to merge files.");
    EXPECT_EQ(lm->Translate(L""), L"");
    // Blanks around a known text survive; the text inside is translated.
    EXPECT_EQ(lm->Translate(L"Move Up: "), L"Move Up: ");
    EXPECT_EQ(lm->Translate(L" Move Up "), L" Monter ");
    EXPECT_EQ(lm->Translate(L"  "), L"  ");
    EXPECT_EQ(lm->TranslateMenuText(L"&Open\tCtrl+O"), L"&Ouvrir\tCtrl+O");
    EXPECT_EQ(lm->ChooserText(1), L"Fran\u00E7ais\t[French]");
}

TEST_F(LanguageManagerTest, RepeatedChoiceChangesNothingAndSettingRoundTrips) {
    auto lm = Make(L"French");
    EXPECT_EQ(lm->CurrentLanguage(), L"French");
    EXPECT_EQ(lm->Translate(L"Move Up"), L"Monter");
    // Choosing French again must not flip the tables: English texts still map to French.
    fs::remove(folder_ / "French.lng");
    lm->SwitchLanguage(L"French", false);
    EXPECT_EQ(lm->Translate(L"Move Up"), L"Monter");
    ASSERT_EQ(lm->LanguageCount(), 2u);
    EXPECT_TRUE(lm->IsCurrent(1));
    EXPECT_FALSE(lm->IsCurrent(0));
    lm.reset();
    EXPECT_EQ(saved_, L"French");
}

TEST_F(LanguageManagerTest, DuplicateEnglishTextKeepsTheEarlierKey) {
    // IDS_UP_AGAIN repeats "Move Up"; French has no IDS_UP_AGAIN, so a later key would show English.
    auto lm = Make(L"French");
    EXPECT_EQ(lm->Translate(L"Move Up"), L"Monter");
}

TEST_F(LanguageManagerTest, ListHasEnglishFirstAndFlagsThatLoad) {
    Write("German.lng", kBom + "[Info]\nicon= flag_fr.bmp\n[String]\nIDS_MOVE_UP=Nach oben\n");
    Write("Upper.LNG", kBom + "[Info]\nicon=flag_fr.bmp\n");
    Write("Broken.lng", "[Info]\nicon=truncated.bmp\n");
    Write("truncated.bmp", Bitmap16().substr(0, 300));
    Write("Spanish.lng", "[Info]\nicon=not_a_bitmap.bmp\n");
    Write("not_a_bitmap.bmp", "BM but no header");
    auto lm = Make(L"English");
    ASSERT_EQ(lm->LanguageCount(), 5u);
    std::vector<std::wstring> icons = lm->IconFiles();
    ASSERT_EQ(icons.size(), 2u);

    LanguageEntry english = lm->LanguageAt(0);
    EXPECT_EQ(english.name, L"English");
    ASSERT_GE(english.icon, 0);
    EXPECT_EQ(icons[english.icon], FromUtf8((folder_ / "flag_en.bmp").string()));
    EXPECT_EQ(lm->LanguageAt(1).name, L"Broken");
    EXPECT_EQ(lm->LanguageAt(1).icon, -1);
    EXPECT_EQ(lm->LanguageAt(2).name, L"French");
    EXPECT_GE(lm->LanguageAt(2).icon, 0);
    // A blank after "=" is part of the file name, which then does not exist.
    EXPECT_EQ(lm->LanguageAt(3).name, L"German");
    EXPECT_EQ(lm->LanguageAt(3).icon, -1);
    EXPECT_EQ(lm->LanguageAt(4).icon, -1);
    EXPECT_EQ(lm->LanguageAt(99).name, L"English");

    lm->SelectLanguage(3);
    EXPECT_EQ(lm->CurrentLanguage(), L"German");
    EXPECT_EQ(lm->Translate(L"Move Up"), L"Nach oben");
}

TEST_F(LanguageManagerTest, BrokenOrMissingPacksFallBackToEnglish) {
    // Invalid UTF-8, a line without "=", and an overlong line that ends the reading.
    Write("Russian.lng", kBom + "[String]\nIDS_MOVE_UP=\xC3\x28\nno equals\nIDS_OPEN=" +
                             std::string(1100, 'x') + "\nIDS_PROPERTY=late\n");
    auto lm = Make(L"French");
    lm->SwitchLanguage(L"Russian", false);
    EXPECT_EQ(lm->Translate(L"Monter"), L"Move Up");
    EXPECT_EQ(lm->Translate(L"&Ouvrir"), L"&Open");
    EXPECT_EQ(lm->Translate(L"Property..."), L"Property...");

    // A pack that vanished: the choice is kept, texts show in English.
    lm->SwitchLanguage(L"Klingon", false);
    EXPECT_EQ(lm->CurrentLanguage(), L"Klingon");
    EXPECT_EQ(lm->Translate(L"Move Up"), L"Move Up");
    // A stored name must not reach outside the folder.
    lm->SwitchLanguage(L"../French", false);
    EXPECT_EQ(lm->Translate(L"Move Up"), L"Move Up");
}

// A pack may come from anywhere. One whose text has "%s" where the code passes a number made a
// join crash: such a text is left out when the pack is read, so the English one shows; texts
// whose placeholders only move stay translated.
TEST_F(LanguageManagerTest, TextsWhosePlaceholdersDifferShowInEnglish) {
    Write("English.lng", kBom + "[String]\nIDS_STEP=Converting clip %d of %d\nIDS_LEFT=About %s left\n"
                                "IDS_PASS=Pass %d of %d\nIDS_PLAIN=Move Up\n");
    Write("Evil.lng", kBom + "[String]\nIDS_STEP=Clip %s of %s\nIDS_LEFT=%s%n\nIDS_PASS=%d / %d pass\n"
                             "IDS_PLAIN=Up %s\n");
    auto lm = Make(L"Evil");
    EXPECT_EQ(lm->Translate(L"Converting clip %d of %d"), L"Converting clip %d of %d");
    EXPECT_EQ(lm->Translate(L"About %s left"), L"About %s left");
    EXPECT_EQ(lm->Translate(L"Move Up"), L"Move Up");
    EXPECT_EQ(lm->Translate(L"Pass %d of %d"), L"%d / %d pass");
}

// A FIFO named as a flag, or in place of a pack, used to hang every start-up for good.
TEST_F(LanguageManagerTest, FifosAsFlagsOrPacksAreNeverOpened) {
    Write("German.lng", kBom + "[Info]\nicon=pipe.bmp\n[String]\nIDS_MOVE_UP=Nach oben\n");
    ASSERT_EQ(::mkfifo((folder_ / "pipe.bmp").c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo((folder_ / "Piped.lng").c_str(), 0600), 0);
    fs::create_symlink("/dev/zero", folder_ / "Zero.lng");
    auto lm = Make(L"Piped");
    EXPECT_EQ(lm->Translate(L"Move Up"), L"Move Up");
    ASSERT_EQ(lm->LanguageCount(), 3u);  // English, French, German: no FIFO, no device
    EXPECT_EQ(lm->LanguageAt(2).name, L"German");
    EXPECT_EQ(lm->LanguageAt(2).icon, -1);
    lm->SwitchLanguage(L"Zero", false);
    EXPECT_EQ(lm->Translate(L"Move Up"), L"Move Up");
    lm->SwitchLanguage(L"German", false);
    EXPECT_EQ(lm->Translate(L"Move Up"), L"Nach oben");
    std::string bytes;
    EXPECT_FALSE(ReadFlagBitmap(FromUtf8((folder_ / "pipe.bmp").string()), bytes));
}

TEST_F(LanguageManagerTest, WithoutEnglishPackNothingIsTranslated) {
    fs::remove(folder_ / "English.lng");
    auto lm = Make(L"French");
    EXPECT_EQ(lm->Translate(L"Move Up"), L"Move Up");
    EXPECT_EQ(lm->LanguageAt(0).icon, -1);
}

TEST(DefaultLanguageName, MapsPosixLocalesToPackNames) {
    EXPECT_EQ(LanguageNameForLocale("zh_CN.UTF-8"), L"Chinese Simplified");
    EXPECT_EQ(LanguageNameForLocale("zh_TW.UTF-8"), L"Chinese Traditional");
    EXPECT_EQ(LanguageNameForLocale("pt_BR.UTF-8"), L"Portuguese Brazilian");
    EXPECT_EQ(LanguageNameForLocale("pt_PT"), L"Portuguese");
    EXPECT_EQ(LanguageNameForLocale("en_US.UTF-8"), L"English");
    EXPECT_EQ(LanguageNameForLocale("en_GB.UTF-8"), L"British English");
    EXPECT_EQ(LanguageNameForLocale("de_DE.UTF-8@euro"), L"German");
    EXPECT_EQ(LanguageNameForLocale("ja_JP.eucJP"), L"Japanese");
    EXPECT_EQ(LanguageNameForLocale("sr_RS"), L"Serbian Cyrillic");
    EXPECT_EQ(LanguageNameForLocale("sr_RS@latin"), L"Croatian");
    EXPECT_EQ(LanguageNameForLocale("C"), L"English");
    EXPECT_EQ(LanguageNameForLocale(""), L"English");
    EXPECT_EQ(LanguageNameForLangId(128, 1), L"Uyghur");
    EXPECT_EQ(LanguageNameForLangId(23, 1), L"English");
}

}  // namespace
}  // namespace quilmer
