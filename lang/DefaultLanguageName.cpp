// The default language of a new user. Names come from a table of Windows primary language ids,
// the ids the pack names were chosen by; the POSIX locale is first mapped to such an id.

#include "lang/LanguageManager.h"

#include <cctype>
#include <cstdlib>
#include <string>

namespace quilmer {

namespace {

struct LangName {
    int primary;
    const wchar_t* name;
};

// clang-format off
// In table order; the first row with the id wins (26 is listed twice, "Croatian" is found).
constexpr LangName kLangNames[] = {
    {0, L"Neutral"},          {1, L"Arabic"},           {2, L"Bulgarian"},
    {3, L"Catalan"},          {4, L"Chinese Traditional"}, {5, L"Czech"},
    {6, L"Danish"},           {7, L"German"},           {8, L"Greek"},
    {9, L"British English"},  {10, L"Spanish"},         {11, L"Finnish"},
    {12, L"French"},          {13, L"Hebrew"},          {14, L"Hungarian"},
    {15, L"Icelandic"},       {16, L"Italian"},         {17, L"Japanese"},
    {18, L"Korean"},          {19, L"Dutch"},           {20, L"Norwegian"},
    {21, L"Polish"},          {22, L"Portuguese"},      {24, L"Romanian"},
    {25, L"Russian"},         {26, L"Croatian"},        {26, L"Serbian"},
    {27, L"Slovak"},          {28, L"Albanian"},        {29, L"Swedish"},
    {30, L"Thai"},            {31, L"Turkish"},         {32, L"Urdu"},
    {33, L"Indonesian"},      {34, L"Ukrainian"},       {35, L"Belarusian"},
    {36, L"Slovenian"},       {37, L"Estonian"},        {38, L"Latvian"},
    {39, L"Lithuanian"},      {41, L"Farsi"},           {42, L"Vietnamese"},
    {43, L"Armenian"},        {44, L"Azeri"},           {45, L"Basque"},
    {47, L"FYRO Macedonian"}, {54, L"Afrikaans"},       {55, L"Georgian"},
    {56, L"Faeroese"},        {57, L"Hindi"},           {62, L"Malay"},
    {63, L"Kazak"},           {64, L"Kyrgyz"},          {65, L"Swahili"},
    {67, L"Uzbek"},           {68, L"Tatar"},           {69, L"Bengali"},
    {70, L"Punjabi"},         {71, L"Gujarati"},        {72, L"Oriya"},
    {73, L"Tamil"},           {74, L"Telugu"},          {75, L"Kannada"},
    {76, L"Malayalam"},       {77, L"Assamese"},        {78, L"Marathi"},
    {79, L"Sanskrit"},        {80, L"Mongolian"},       {86, L"Galician"},
    {87, L"Konkani"},         {88, L"Manipuri"},        {89, L"Sindhi"},
    {90, L"Syriac"},          {96, L"Kashmiri"},        {97, L"Nepali"},
    {101, L"Divehi"},         {128, L"Uyghur"},
};
// clang-format on
static_assert(sizeof kLangNames / sizeof kLangNames[0] == 77);

// clang-format off
// ISO 639 language code -> Windows primary language id.
struct IsoLang {
    const char* code;
    int primary;
};

constexpr IsoLang kIsoLangs[] = {
    {"ar", 1},   {"bg", 2},   {"ca", 3},    {"zh", 4},    {"cs", 5},    {"da", 6},   {"de", 7},
    {"el", 8},   {"en", 9},   {"es", 10},   {"fi", 11},   {"fr", 12},   {"he", 13},  {"iw", 13},
    {"hu", 14},  {"is", 15},  {"it", 16},   {"ja", 17},   {"ko", 18},   {"nl", 19},  {"nb", 20},
    {"nn", 20},  {"no", 20},  {"pl", 21},   {"pt", 22},   {"ro", 24},   {"ru", 25},  {"hr", 26},
    {"sr", 26},  {"bs", 26},  {"sk", 27},   {"sq", 28},   {"sv", 29},   {"th", 30},  {"tr", 31},
    {"ur", 32},  {"id", 33},  {"uk", 34},   {"be", 35},   {"sl", 36},   {"et", 37},  {"lv", 38},
    {"lt", 39},  {"fa", 41},  {"vi", 42},   {"hy", 43},   {"az", 44},   {"eu", 45},  {"mk", 47},
    {"af", 54},  {"ka", 55},  {"fo", 56},   {"hi", 57},   {"ms", 62},   {"kk", 63},  {"ky", 64},
    {"sw", 65},  {"uz", 67},  {"tt", 68},   {"bn", 69},   {"pa", 70},   {"gu", 71},  {"or", 72},
    {"ta", 73},  {"te", 74},  {"kn", 75},   {"ml", 76},   {"as", 77},   {"mr", 78},  {"sa", 79},
    {"mn", 80},  {"gl", 86},  {"kok", 87},  {"mni", 88},  {"sd", 89},   {"syr", 90}, {"ks", 96},
    {"ne", 97},  {"dv", 101}, {"ug", 128},
};
// clang-format on

// The Windows sub-language ids the name overrides depend on; any other value stands for "other".
int SubLanguage(const std::string& language, const std::string& territory, const std::string& modifier) {
    if (language == "zh") {
        // Singapore writes Simplified Chinese as the mainland does.
        if (territory == "CN" || territory == "SG") return 2;
        return 1;
    }
    if (language == "en") {
        if (territory == "US") return 1;
        if (territory == "PH") return 13;
        return 2;
    }
    if (language == "pt") return territory == "BR" ? 1 : 2;
    if (language == "sr") return modifier == "latin" ? 2 : 3;  // glibc's sr_RS is Cyrillic
    if (language == "hr") return 1;
    return 1;
}

}  // namespace

std::wstring LanguageNameForLangId(int primary, int sub) {
    if (primary == 4 && sub == 2) return L"Chinese Simplified";
    if (primary == 9 && (sub == 1 || sub == 13)) return L"English";
    if (primary == 22 && sub == 1) return L"Portuguese Brazilian";
    if (primary == 26 && sub == 3) return L"Serbian Cyrillic";
    for (const LangName& row : kLangNames) {
        if (row.primary == primary) return row.name;
    }
    return L"English";
}

std::wstring LanguageNameForLocale(std::string_view locale) {
    // language[_territory][.codeset][@modifier]
    std::string text(locale);
    std::string modifier;
    if (auto at = text.find('@'); at != std::string::npos) {
        modifier = text.substr(at + 1);
        text.resize(at);
    }
    if (auto dot = text.find('.'); dot != std::string::npos) text.resize(dot);
    std::string territory;
    if (auto sep = text.find_first_of("_-"); sep != std::string::npos) {
        territory = text.substr(sep + 1);
        text.resize(sep);
    }
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (char& c : territory) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));

    for (const IsoLang& iso : kIsoLangs) {
        if (text == iso.code)
            return LanguageNameForLangId(iso.primary, SubLanguage(text, territory, modifier));
    }
    // "C", "POSIX" and languages without a row: English.
    return L"English";
}

std::wstring DefaultLanguageName() {
    // The variables that decide the language of messages, in POSIX precedence.
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value && *value) return LanguageNameForLocale(value);
    }
    return L"English";
}

}  // namespace quilmer
