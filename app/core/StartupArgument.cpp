#include "app/core/StartupArgument.h"

namespace quilmer {

std::wstring& StartupArgument() {
    static std::wstring value;
    return value;
}

}  // namespace quilmer
