#include "foundation/CommandLine.h"

#include "foundation/FileUtil.h"

namespace quilmer {

namespace {

const wchar_t kUnknown[] = L"<UnKnOwN>";

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

std::wstring DefaultLine(const CommandLine::ArgumentSpec& arg) {
    return L"\t\t  optional argument (default='" + arg.defaultValue + L"')\r\n";
}

}  // namespace

CommandLine::CommandLine(const wchar_t* programName, const wchar_t* footer, const wchar_t* prefixChars)
    : prefixChars_(prefixChars ? prefixChars : L""),
      footer_(footer ? footer : L""),
      programName_(programName ? programName : L"") {}

CommandLine::CommandLine(const std::wstring& programName, const std::wstring& footer, const std::wstring& prefixChars)
    : prefixChars_(prefixChars), footer_(footer), programName_(programName) {}

void CommandLine::AddOption(wchar_t letter, const std::wstring& description) {
    OptionSpec& option = options_[letter];
    option.letter = letter;
    option.description = description;
    option.arguments.clear();
    option.present = false;
}

bool CommandLine::AddOptionArgument(wchar_t letter, const std::wstring& name, const std::wstring& description,
                                    const std::wstring& def, bool optional) {
    auto it = options_.find(letter);
    if (it == options_.end()) return false;
    it->second.arguments.push_back(ArgumentSpec{name, description, def, def, optional});
    return true;
}

void CommandLine::AddArgument(const std::wstring& name, const std::wstring& description, const std::wstring& def) {
    arguments_.push_back(ArgumentSpec{name, description, def, def, true});
}

void CommandLine::AddRequiredArgument(const std::wstring& name, const std::wstring& description) {
    arguments_.push_back(ArgumentSpec{name, description, L"", L"", false});
}

bool CommandLine::IsPrefix(const std::wstring& token) const {
    return !token.empty() && prefixChars_.find(token[0]) != std::wstring::npos;
}

bool CommandLine::Fail(std::wstring& message, const std::wstring& error) const {
    message = programName_ + error + L"\r\n" + Usage();
    return false;
}

bool CommandLine::Parse(const std::wstring& rawLine, std::wstring& message) {
    return ParseTokens(SplitCommandLine(rawLine), message);
}

bool CommandLine::ParseArgs(int argc, const char* const* argv, std::wstring& message) {
    std::vector<std::wstring> tokens;
    for (int i = 0; i < argc && argv[i]; ++i) tokens.push_back(WidePath(argv[i]));
    return ParseTokens(tokens, message);
}

bool CommandLine::ParseTokens(const std::vector<std::wstring>& tokens, std::wstring& message) {
    message.clear();
    if (tokens.empty()) return false;
    if (programName_.empty()) programName_ = tokens[0];

    std::size_t positional = 0;
    for (std::size_t i = 1; i < tokens.size(); ++i) {
        const std::wstring& token = tokens[i];
        if (IsPrefix(token)) {
            wchar_t letter = token.size() > 1 ? token[1] : L'\0';
            auto it = options_.find(letter);
            if (letter == L'\0' || it == options_.end())
                return Fail(message, L" error: Unknown option " + token + L".");
            OptionSpec& option = it->second;
            option.present = true;
            for (std::size_t a = 0; a < option.arguments.size(); ++a) {
                if (i + 1 < tokens.size() && !IsPrefix(tokens[i + 1])) {
                    option.arguments[a].value = tokens[++i];
                    continue;
                }
                // Out of values: fine if nothing required is left unfilled.
                for (std::size_t r = a; r < option.arguments.size(); ++r)
                    if (!option.arguments[r].optional)
                        return Fail(message, L" error: Too few arguments for option " + token + L".");
                break;
            }
        } else {
            if (positional >= arguments_.size()) return Fail(message, L" error: Too much arguments. ");
            arguments_[positional++].value = token;
        }
    }
    std::size_t required = 0;
    for (const ArgumentSpec& arg : arguments_)
        if (!arg.optional) ++required;
    if (positional < required) return Fail(message, L" error: Too few arguments.");
    return true;
}

std::wstring CommandLine::Value(const std::wstring& name) const {
    for (const ArgumentSpec& arg : arguments_)
        if (arg.name == name) return arg.value;
    return kUnknown;
}

bool CommandLine::OptionPresent(wchar_t letter) const {
    auto it = options_.find(letter);
    return it != options_.end() && it->second.present;
}

std::wstring CommandLine::OptionValue(wchar_t letter, const std::wstring& name) const {
    auto it = options_.find(letter);
    if (it != options_.end())
        for (const ArgumentSpec& arg : it->second.arguments)
            if (arg.name == name) return arg.value;
    return kUnknown;
}

std::wstring CommandLine::Usage() const {
    const wchar_t prefix = prefixChars_.empty() ? L'-' : prefixChars_[0];
    auto inline_ = [](const ArgumentSpec& arg) {
        return arg.optional ? L" [" + arg.name + L"]" : L" " + arg.name;
    };
    std::wstring text = L"Usage: " + programName_;
    for (const auto& [letter, option] : options_) {
        text += L" [";
        text += prefix;
        text += letter;
        for (const ArgumentSpec& arg : option.arguments) text += inline_(arg);
        text += L"]";
    }
    for (const ArgumentSpec& arg : arguments_) text += inline_(arg);
    text += L"\r\n";

    if (!options_.empty()) {
        text += L"\r\nOptions:\r\n";
        for (const auto& [letter, option] : options_) {
            text += L"\t-";
            text += letter;
            text += L"\t  " + option.description + L"\r\n";
            for (const ArgumentSpec& arg : option.arguments) {
                text += L"\t " + arg.name + L"\t= " + arg.description + L"\r\n";
                if (arg.optional) text += DefaultLine(arg);
            }
        }
    }
    if (!arguments_.empty()) {
        text += L"\r\nArguments:\r\n";
        for (const ArgumentSpec& arg : arguments_) {
            text += L"\t" + arg.name + L"\t= " + arg.description + L"\r\n";
            if (arg.optional) text += DefaultLine(arg);
        }
    }
    text += L"\r\n" + footer_ + L"\r\n";
    return text;
}

std::vector<std::wstring> CommandLine::SplitCommandLine(const std::wstring& line) {
    std::vector<std::wstring> tokens;
    if (line.empty()) return tokens;
    std::size_t pos;
    if (line[0] == L'"') {
        std::size_t close = line.find(L'"', 1);
        if (close == std::wstring::npos) return tokens;  // unclosed (or lone) quote: nothing
        tokens.push_back(line.substr(1, close - 1));
        pos = close + 1;
    } else {
        pos = 0;
        while (pos < line.size() && !IsBlank(line[pos])) ++pos;
        tokens.push_back(line.substr(0, pos));
    }
    for (;;) {
        while (pos < line.size() && IsBlank(line[pos])) ++pos;
        if (pos >= line.size()) break;
        if (line[pos] == L'"') {
            std::size_t close = line.find(L'"', pos + 1);
            if (close == std::wstring::npos) {
                tokens.push_back(line.substr(pos + 1));
                break;
            }
            tokens.push_back(line.substr(pos + 1, close - pos - 1));
            pos = close + 1;
        } else {
            std::size_t start = pos;
            while (pos < line.size() && !IsBlank(line[pos])) ++pos;
            tokens.push_back(line.substr(start, pos - start));
        }
    }
    return tokens;
}

}  // namespace quilmer
