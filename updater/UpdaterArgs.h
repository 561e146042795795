#pragma once
// The updater's seven positional arguments, as the main program passes them.

#include <string>
#include <vector>

#include "update/VersionCheck.h"

namespace quilmer {

struct UpdaterArgs {
    std::wstring packageUrl;     // "1": package address with type, language and version query
    std::wstring windowClass;    // "2": class of the main program's window
    std::wstring windowMessage;  // "3": the main window's registered message
    std::wstring language;       // "4": language to show
    std::wstring dataFolder;     // "5": main program's data folder, with trailing separator
    std::wstring oldVersion;     // "6": "(v1.9)"
    std::wstring newVersion;     // "7": "(v2.0)"

    // Values in order; missing ones stay empty, extra ones are ignored.
    static UpdaterArgs FromValues(const std::vector<std::wstring>& values);
    // Parses the program's arguments (argv[0] is the program) with the updater's parser:
    // seven optional positional arguments "1".."7", no options (nothing is taken as one). An eighth value
    // makes the parse fail, keeping the seven before it; either way the values are used.
    static UpdaterArgs FromArgv(int argc, const char* const* argv);
    // The same from one raw command line whose first token is the program.
    static UpdaterArgs FromCommandLine(const std::wstring& rawLine);

    // The partial download and its validator, both in the data folder.
    std::wstring PartialFile() const { return dataFolder + L"newversion.tmp"; }
    std::wstring ValidatorFile() const { return dataFolder + L"newversion.time"; }
    // The version descriptor the main program checked before it offered the update, and its
    // signature, both in the data folder.
    std::wstring DescriptorFile() const { return dataFolder + kDescriptorFileName; }
    // The package address without its query, as shown in the window.
    std::wstring DisplayUrl() const { return packageUrl.substr(0, packageUrl.find(L'?')); }
    // "From old version(v1.9)update to new version(v2.0)", translated.
    std::wstring VersionLine() const;
};

}  // namespace quilmer
