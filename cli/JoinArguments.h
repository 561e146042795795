#pragma once
// Command line of quilmer-join: quilmer-join [-q] [--method M] [--no-chapters] -o OUTPUT CLIP...
// or quilmer-join --check [-o OUTPUT] CLIP... (the compatibility report; nothing joined)

#include <string>
#include <vector>

namespace quilmer {

struct JoinArguments {
    std::wstring output;
    std::vector<std::wstring> clips;
    bool help = false;
    bool version = false;  // print the version and stop
    bool quiet = false;  // no progress display, only the result and errors
    std::string method = "auto";  // classic, lossless, single, smart or auto
    bool check = false;  // print the compatibility report and the automatic method; join nothing
    bool chapters = true;  // an MP4 or WMV output gets a chapter per clip
};

// args excludes the program name. On a mistake returns false with the reason in error.
bool ParseJoinArguments(const std::vector<std::string>& args, JoinArguments& parsed, std::string& error);

std::string JoinUsage();

}  // namespace quilmer
