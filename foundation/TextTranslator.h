#pragma once
// Every user-visible English text passes through Tr(). The English wording is the text's
// identity: the language manager installs a translator at start-up, and until then (and in
// programs without language packs) Tr returns the text unchanged. Write texts as
// Tr(L"exact English text") so that the catalogue of texts can be gathered from the sources.

#include <functional>
#include <string>

namespace quilmer {

using TextTranslatorFn = std::function<std::wstring(const std::wstring&)>;

// Safe from any thread; workers may build messages too.
std::wstring Tr(const std::wstring& english);

// The translation of an English format for FormatW: the translated text when it takes the same
// arguments as the English one (SameConversions), else the English format. A translated text is
// never handed to FormatW as it stands: a pack that wrote "%s" where the code passes a number
// would make it read memory that is not there.
std::wstring TrFormat(const std::wstring& englishFormat);

// Installs the translator (an empty function restores the identity). Returns the previous one,
// so that tests can put it back.
TextTranslatorFn SetTextTranslator(TextTranslatorFn translator);

}  // namespace quilmer
