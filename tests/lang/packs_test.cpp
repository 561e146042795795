// Checks on the shipped language packs and on the texts the code passes for translation, so that
// no text silently stays untranslated as the program grows.

#include "foundation/Utf8.h"
#include "lang/IniFile.h"
#include "lang/LanguageManager.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace quilmer {
namespace {

namespace fs = std::filesystem;

const fs::path kPackFolder = fs::path(QUILMER_SOURCE_DIR) / "lang" / "packs";

std::wstring Wide(const fs::path& path) { return FromUtf8(path.string()); }

// printf conversions ("%s", "%d", "%.2f"); "%%" is not one.
std::multiset<std::wstring> Placeholders(const std::wstring& text) {
    std::multiset<std::wstring> found;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != L'%') continue;
        if (i + 1 < text.size() && text[i + 1] == L'%') {
            ++i;
            continue;
        }
        std::size_t end = text.find_first_not_of(L"-+ #0123456789.hlI", i + 1);
        if (end == std::wstring::npos) break;
        found.insert(text.substr(i, end - i + 1));
        i = end;
    }
    return found;
}

// Accelerator markers: a single "&" ("&&" shows an ampersand).
int Accelerators(const std::wstring& text) {
    int count = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != L'&') continue;
        if (i + 1 < text.size() && text[i + 1] == L'&') {
            ++i;
            continue;
        }
        ++count;
    }
    return count;
}

bool Is16x16Bitmap(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    unsigned char h[26] = {};
    if (!in.read(reinterpret_cast<char*>(h), sizeof h)) return false;
    return h[18] == 16 && h[19] == 0 && h[22] == 16 && h[23] == 0 && IsLoadableBitmap(Wide(path));
}

std::map<std::wstring, std::wstring> EnglishTexts() {
    IniFile english(Wide(kPackFolder / "English.lng"));
    std::map<std::wstring, std::wstring> texts;
    for (auto& [key, text] : english.ReadSection(L"String")) texts.emplace(key, text);
    return texts;
}

TEST(LanguagePacks, EveryPackTranslatesEveryEnglishText) {
    std::map<std::wstring, std::wstring> english = EnglishTexts();
    ASSERT_GT(english.size(), 50u);
    std::set<std::wstring> englishValues;
    std::ostringstream problems;
    for (const auto& [key, text] : english) {
        if (!englishValues.insert(text).second)
            problems << "English.lng repeats the text of " << ToUtf8(key) << "\n";
    }

    int packs = 0;
    for (const auto& item : fs::directory_iterator(kPackFolder)) {
        if (item.path().extension() != ".lng") continue;
        ++packs;
        std::string name = item.path().filename().string();
        IniFile pack(Wide(item.path()));
        if (!pack.IsUtf8() || pack.IsTruncated()) problems << name << ": not UTF-8 with BOM, or cut short\n";
        if (!englishValues.count(Wide(item.path().stem())))
            problems << name << ": language name not in English.lng\n";
        std::wstring icon = pack.ReadString(L"Info", L"icon");
        if (icon.empty() || !Is16x16Bitmap(kPackFolder / ToUtf8(icon)))
            problems << name << ": no 16x16 flag\n";

        std::map<std::wstring, std::wstring> texts;
        for (auto& [key, text] : pack.ReadSection(L"String")) {
            if (!texts.emplace(key, text).second) problems << name << ": key twice: " << ToUtf8(key) << "\n";
        }
        for (const auto& [key, text] : texts) {
            if (!english.count(key)) problems << name << ": key not in English.lng: " << ToUtf8(key) << "\n";
        }
        for (const auto& [key, englishText] : english) {
            auto found = texts.find(key);
            if (found == texts.end() || found->second.empty()) {
                problems << name << ": missing " << ToUtf8(key) << "\n";
                continue;
            }
            if (Placeholders(found->second) != Placeholders(englishText)) {
                problems << name << ": placeholders differ in " << ToUtf8(key) << "\n";
            }
            if (Accelerators(found->second) != std::min(Accelerators(englishText), 1)) {
                problems << name << ": accelerator marker lost or doubled in " << ToUtf8(key) << "\n";
            }
        }
    }
    EXPECT_GE(packs, 9);
    EXPECT_EQ(problems.str(), "");
}

// Decodes one C++ wide literal starting after its opening quote; pos ends after the closing quote.
bool ReadLiteral(const std::string& src, std::size_t& pos, std::string& out) {
    while (pos < src.size()) {
        char c = src[pos++];
        if (c == '"') return true;
        if (c != '\\') {
            out += c;
            continue;
        }
        if (pos >= src.size()) return false;
        char e = src[pos++];
        switch (e) {
            case 'n':
                out += '\n';
                break;
            case 't':
                out += '\t';
                break;
            case 'r':
                out += '\r';
                break;
            case 'u':
            case 'U': {
                std::size_t digits = e == 'u' ? 4 : 8;
                char32_t cp = static_cast<char32_t>(std::stoul(src.substr(pos, digits), nullptr, 16));
                pos += digits;
                out += ToUtf8(std::wstring(1, static_cast<wchar_t>(cp)));
                break;
            }
            default:
                out += e;
                break;  // \" \\ \' and the like stand for themselves
        }
    }
    return false;
}

struct Use {
    std::string file;
    int line;
    std::wstring text;
};

// The source with comments blanked out (line breaks kept), so that examples in comments do not count.
std::string WithoutComments(const std::string& src) {
    std::string out = src;
    for (std::size_t i = 0; i < out.size(); ++i) {
        char c = out[i];
        if (c == '"' || c == '\'') {
            for (++i; i < out.size() && out[i] != c && out[i] != '\n'; ++i) {
                if (out[i] == '\\') ++i;
            }
        } else if (c == '/' && i + 1 < out.size() && out[i + 1] == '/') {
            for (; i < out.size() && out[i] != '\n'; ++i) out[i] = ' ';
        } else if (c == '/' && i + 1 < out.size() && out[i + 1] == '*') {
            for (; i < out.size() && out.compare(i, 2, "*/") != 0; ++i) {
                if (out[i] != '\n') out[i] = ' ';
            }
            if (i < out.size()) out[i] = out[i + 1] = ' ';
            ++i;
        }
    }
    return out;
}

// Every literal passed to Tr(L"...") or Translate(L"...") (adjacent literals joined).
std::vector<Use> TranslatedLiterals(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::string src =
        WithoutComments(std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()));
    std::vector<Use> uses;
    for (const std::string call : {"Tr", "Translate"}) {
        for (std::size_t at = src.find(call + "("); at != std::string::npos;
             at = src.find(call + "(", at + 1)) {
            if (at > 0 && (std::isalnum(static_cast<unsigned char>(src[at - 1])) || src[at - 1] == '_'))
                continue;
            std::size_t pos = at + call.size() + 1;
            std::string text;
            bool any = false;
            for (;;) {
                while (pos < src.size() && std::isspace(static_cast<unsigned char>(src[pos]))) ++pos;
                if (src.compare(pos, 2, "L\"") != 0) break;
                pos += 2;
                if (!ReadLiteral(src, pos, text)) break;
                any = true;
            }
            if (!any) continue;
            int line = 1 + static_cast<int>(std::count(src.begin(), src.begin() + at, '\n'));
            uses.push_back({fs::relative(file, QUILMER_SOURCE_DIR).string(), line, FromUtf8(text)});
        }
    }
    return uses;
}

TEST(LanguagePacks, EveryTranslatedTextInTheSourcesIsInEnglishPack) {
    std::set<std::wstring> englishValues;
    for (const auto& [key, text] : EnglishTexts()) englishValues.insert(text);

    std::ostringstream missing;
    int scanned = 0;
    fs::recursive_directory_iterator it(QUILMER_SOURCE_DIR), end;
    for (; it != end; ++it) {
        std::string name = it->path().filename().string();
        if (it->is_directory()) {
            // Tests pass made-up texts; build trees hold generated copies.
            if (name == "tests" || name.rfind("build", 0) == 0 || name[0] == '.')
                it.disable_recursion_pending();
            continue;
        }
        std::string ext = it->path().extension().string();
        if (ext != ".cpp" && ext != ".h" && ext != ".hpp" && ext != ".cc") continue;
        ++scanned;
        for (const Use& use : TranslatedLiterals(it->path())) {
            // Packs hold texts trimmed; the manager translates the part inside the blanks.
            std::wstring core = use.text;
            core.erase(0, core.find_first_not_of(L" \t\r\n"));
            core.erase(core.find_last_not_of(L" \t\r\n") + 1);
            if (!englishValues.count(core)) {
                missing << "  " << use.file << ":" << use.line << ": \"" << ToUtf8(use.text) << "\"\n";
            }
        }
    }
    EXPECT_GT(scanned, 0);
    if (!missing.str().empty()) {
        ADD_FAILURE() << "Texts passed for translation but missing from lang/packs/English.lng "
                         "(add each, without surrounding blanks, under a new key to English.lng and to every "
                         "other pack):\n"
                      << missing.str();
    }
}

TEST(LanguagePacks, ProgramFolderPacksLoadWithFlags) {
    LanguageManager::Environment env;
    env.languageFolder = FromUtf8(QUILMER_PROGRAM_DIR) + L"/language/";
    env.loadLanguage = [](const std::wstring&) { return L"French"; };
    LanguageManager lm(env);
    ASSERT_GE(lm.LanguageCount(), 9u);
    for (std::size_t i = 0; i < lm.LanguageCount(); ++i) {
        EXPECT_GE(lm.LanguageAt(i).icon, 0) << ToUtf8(lm.LanguageAt(i).name);
    }
    EXPECT_EQ(lm.Translate(L"Failed to merge files."), L"\u00C9chec de la fusion des fichiers.");
    lm.SwitchLanguage(L"Chinese Simplified", false);
    EXPECT_EQ(lm.Translate(L"\u00C9chec de la fusion des fichiers."),
              L"\u5408\u5E76\u6587\u4EF6\u5931\u8D25\u3002");
    EXPECT_EQ(lm.ChooserText(0), L"\u82F1\u8BED\t[English]");
}

}  // namespace
}  // namespace quilmer
