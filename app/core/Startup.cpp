#include "app/core/Startup.h"

#include "app/core/MainWindowRules.h"
#include "foundation/CommandLine.h"
#include "foundation/FileUtil.h"

namespace quilmer {

StartupRequest ParseStartup(const std::vector<std::wstring>& arguments, const std::wstring& currentFolder) {
    StartupRequest request;
    CommandLine parser(L"", L"", L"-/");
    parser.AddArgument(L"1", L"", L"");
    std::vector<std::wstring> tokens{L"quilmer"};
    tokens.insert(tokens.end(), arguments.begin(), arguments.end());
    std::wstring message;
    parser.ParseTokens(tokens, message);  // a path or a second clip is no error of the user's
    request.argument = parser.Value(L"1");
    if (request.argument == L"<UnKnOwN>") request.argument.clear();
    // An absolute path begins with the "/" prefix, so the parser may have stopped at a clip it
    // took for an option; the job and the clips are looked for in the arguments themselves.
    if (!IsHandOverArgument(request.argument)) {
        for (const auto& argument : arguments)
            if (IsHandOverArgument(argument)) request.argument = argument;
    }
    std::vector<std::wstring> candidates;
    for (const auto& argument : arguments) {
        if (argument.empty() || IsHandOverArgument(argument)) continue;
        std::wstring absolute = argument[0] == L'/' ? argument : currentFolder + argument;
        if (argument[0] == L'-' && !FileExists(absolute)) continue;
        candidates.push_back(argument);
    }
    request.clips = ClipPathsFromArguments(candidates, currentFolder);
    return request;
}

}  // namespace quilmer
