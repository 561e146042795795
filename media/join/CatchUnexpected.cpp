#include "media/join/CatchUnexpected.h"

#include <exception>

#include "foundation/FileUtil.h"
#include "foundation/TextTranslator.h"

namespace quilmer {

std::wstring CatchUnexpected(const std::function<void()>& work) {
    try {
        work();
        return {};
    } catch (const std::exception& e) {
        return Tr(L"Unexpected error:") + L" " + WidePath(e.what());
    } catch (...) {
        return Tr(L"Unexpected error:") + L" ?";
    }
}

}  // namespace quilmer
