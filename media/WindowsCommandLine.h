#pragma once
// Command lines are built as single strings from templates, as on the platform the encoder
// commands were designed for; these helpers turn such a string into an argument vector by the
// same rules (and back), so that no shell is ever involved.

#include <string>
#include <vector>

namespace quilmer {

// Splits like the C runtime of that platform: the program name ends at the first white space
// or is a quoted run (no escapes in it); after it, 2n backslashes before a double quote give n
// backslashes and toggle quoting, 2n+1 give n backslashes and a literal quote, "" inside quotes
// is a literal quote, other backslashes are literal.
std::vector<std::wstring> SplitWindowsCommandLine(const std::wstring& commandLine);

// Always quotes, escaping quotes and the backslashes before them, so that the split above gives
// the argument back unchanged. For an ordinary path the result is the path in double quotes.
std::wstring QuoteWindowsArgument(const std::wstring& argument);

// Quotes only what needs it (empty, white space or quotes) and joins with single spaces.
std::wstring JoinWindowsCommandLine(const std::vector<std::wstring>& arguments);

}  // namespace quilmer
