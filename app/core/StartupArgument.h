#pragma once
// The value of the main program's one positional argument "1": a job handed over by a calling
// program (JSON text) or a clip path given by the user. Set once by the entry point.

#include <string>

namespace quilmer {

std::wstring& StartupArgument();

}  // namespace quilmer
