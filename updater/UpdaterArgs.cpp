#include "updater/UpdaterArgs.h"

#include "foundation/CommandLine.h"
#include "foundation/TextTranslator.h"

namespace quilmer {

UpdaterArgs UpdaterArgs::FromValues(const std::vector<std::wstring>& values) {
    UpdaterArgs a;
    std::wstring* fields[] = {&a.packageUrl, &a.windowClass, &a.windowMessage, &a.language,
                              &a.dataFolder, &a.oldVersion,  &a.newVersion};
    for (std::size_t i = 0; i < 7 && i < values.size(); ++i) *fields[i] = values[i];
    return a;
}

namespace {

CommandLine MakeParser() {
    // No prefix characters: the updater has no options, and its data folder argument begins
    // with "/", which would otherwise be read as an unknown option and end the parse.
    CommandLine parser(std::wstring(L"updater"), std::wstring(), std::wstring());
    for (const wchar_t* name : {L"1", L"2", L"3", L"4", L"5", L"6", L"7"}) parser.AddArgument(name, L"", L"");
    return parser;
}

UpdaterArgs FromParser(const CommandLine& parser) {
    std::vector<std::wstring> values;
    for (const wchar_t* name : {L"1", L"2", L"3", L"4", L"5", L"6", L"7"})
        values.push_back(parser.Value(name));
    return UpdaterArgs::FromValues(values);
}

}  // namespace

UpdaterArgs UpdaterArgs::FromArgv(int argc, const char* const* argv) {
    CommandLine parser = MakeParser();
    std::wstring message;
    parser.ParseArgs(argc, argv, message);  // a failed parse keeps what it read
    return FromParser(parser);
}

UpdaterArgs UpdaterArgs::FromCommandLine(const std::wstring& rawLine) {
    CommandLine parser = MakeParser();
    std::wstring message;
    parser.Parse(rawLine, message);
    return FromParser(parser);
}

std::wstring UpdaterArgs::VersionLine() const {
    return Tr(L"From old version") + oldVersion + Tr(L"update to new version") + newVersion;
}

}  // namespace quilmer
