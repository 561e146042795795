#include "foundation/TextTranslator.h"

#include "foundation/Strings.h"

#include <memory>
#include <mutex>

namespace quilmer {

namespace {

std::mutex& TranslatorMutex() {
    static std::mutex mutex;
    return mutex;
}

// Held through a shared_ptr so a translation in progress keeps its translator alive while
// another thread replaces it.
std::shared_ptr<const TextTranslatorFn>& CurrentTranslator() {
    static std::shared_ptr<const TextTranslatorFn> current;
    return current;
}

}  // namespace

std::wstring Tr(const std::wstring& english) {
    std::shared_ptr<const TextTranslatorFn> translator;
    {
        std::lock_guard<std::mutex> lock(TranslatorMutex());
        translator = CurrentTranslator();
    }
    if (!translator || !*translator) return english;
    return (*translator)(english);
}

std::wstring TrFormat(const std::wstring& englishFormat) {
    std::wstring translated = Tr(englishFormat);
    return SameConversions(translated, englishFormat) ? translated : englishFormat;
}

TextTranslatorFn SetTextTranslator(TextTranslatorFn translator) {
    std::lock_guard<std::mutex> lock(TranslatorMutex());
    auto previous = CurrentTranslator();
    CurrentTranslator() = translator ? std::make_shared<const TextTranslatorFn>(std::move(translator)) : nullptr;
    return previous ? *previous : TextTranslatorFn();
}

}  // namespace quilmer
