#pragma once
// The command-line parser of both programs: declared options (one letter after a prefix
// character) with arguments of their own, declared positional arguments, a usage text and error
// messages in a fixed layout. Errors are returned, never raised.
//
// On this platform a program receives its arguments already split (argv); ParseArgs takes them
// as they are, so that a JSON job with quotes and blanks arrives intact. Parse takes one raw
// command line and splits it first with SplitCommandLine.

#include <map>
#include <string>
#include <vector>

namespace quilmer {

class CommandLine {
public:
    struct ArgumentSpec {
        std::wstring name;
        std::wstring description;
        std::wstring value;
        std::wstring defaultValue;
        bool optional = true;
    };
    struct OptionSpec {
        wchar_t letter = 0;
        std::wstring description;
        std::vector<ArgumentSpec> arguments;
        bool present = false;
    };

    // Null strings count as empty. An empty program name is taken from the first token at
    // parse time.
    CommandLine(const wchar_t* programName = nullptr, const wchar_t* footer = nullptr,
                const wchar_t* prefixChars = L"-/");
    CommandLine(const std::wstring& programName, const std::wstring& footer, const std::wstring& prefixChars);

    void AddOption(wchar_t letter, const std::wstring& description);
    // An argument of a declared option (declared with AddOption first; false otherwise).
    bool AddOptionArgument(wchar_t letter, const std::wstring& name, const std::wstring& description,
                           const std::wstring& def, bool optional = true);
    // An optional positional argument; its value starts as the default.
    void AddArgument(const std::wstring& name, const std::wstring& description, const std::wstring& def);
    void AddRequiredArgument(const std::wstring& name, const std::wstring& description);

    // True on success. On failure message holds one error line and then the usage text; values
    // assigned before the failure stay. No tokens at all: false with an empty message.
    bool Parse(const std::wstring& rawLine, std::wstring& message);
    bool ParseTokens(const std::vector<std::wstring>& tokens, std::wstring& message);
    bool ParseArgs(int argc, const char* const* argv, std::wstring& message);

    // The value of the first positional argument of that name (case-sensitive), or "<UnKnOwN>".
    std::wstring Value(const std::wstring& name) const;
    bool OptionPresent(wchar_t letter) const;
    // The value of an option's argument, or "<UnKnOwN>".
    std::wstring OptionValue(wchar_t letter, const std::wstring& name) const;

    std::wstring Usage() const;
    const std::wstring& ProgramName() const { return programName_; }

    // Splits a raw line into tokens at spaces and tabs. Token 0 is the program path (quoted or
    // not); a quoted token runs to the next double quote, which is dropped (an unclosed one runs
    // to the end); quotes inside an unquoted token stay. A path that opens a quote and never
    // closes it gives no tokens at all.
    static std::vector<std::wstring> SplitCommandLine(const std::wstring& rawLine);

private:
    bool IsPrefix(const std::wstring& token) const;
    bool Fail(std::wstring& message, const std::wstring& error) const;

    std::wstring prefixChars_;
    std::wstring footer_;
    std::wstring programName_;
    std::map<wchar_t, OptionSpec> options_;
    std::vector<ArgumentSpec> arguments_;
};

}  // namespace quilmer
