#pragma once
// What the main program was started with: the value of the positional argument "1" (a handed-over
// job when it begins with "{"), and the clips named on its command line.

#include "app/core/StartupArgument.h"

#include <string>
#include <vector>

namespace quilmer {

struct StartupRequest {
    std::wstring argument;            // the value of "1", empty when none was given
    std::vector<std::wstring> clips;  // every argument that names a clip, absolute, in order
};

// Parses the arguments after the program name the way the entry point does: the command-line
// parser with the prefixes "-" and "/" and the one optional positional argument "1"; its result
// and message are ignored. An argument beginning with "{" is a hand-over job and no clip; an
// argument beginning with "-" is an option unless a file of that name exists; every other
// argument is a clip (made absolute against currentFolder, which ends in '/').
StartupRequest ParseStartup(const std::vector<std::wstring>& arguments, const std::wstring& currentFolder);

}  // namespace quilmer
