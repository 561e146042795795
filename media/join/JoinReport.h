#pragma once
// The address by which a handed-over job reports a clip whose probe lacked bit rates, frame rate
// or sample rate to the maker's server (the GUI loads it in its hidden report browser).

#include <string>
#include <string_view>

namespace quilmer {

// Keeps ASCII letters, digits, ! ' ( ) * - . / : _ ~ and %; every other byte becomes %xx (lower
// case). Empty when the result would not fit in 2083 characters.
std::string EscapeUrl(std::string_view bytes);
// The same escape without the length limit (the caller notice of a handed-over job).
std::string EscapeUrlBytes(std::string_view bytes);

// server (e.g. "https://host") + "/api_joinerlog.php?lang=" + language + "&url=" + sourceUrl,
// language and sourceUrl each in their escaped UTF-8 form.
std::wstring JoinReportAddress(const std::wstring& server, const std::wstring& language, const std::wstring& sourceUrl);

}  // namespace quilmer
