#pragma once
// Escaping of outside text (clip paths, languages, addresses) for the pages and scripts the
// program writes. Each context has its own escaper; none of them trusts the bytes it is given to
// be UTF-8: bytes that are not become U+FFFD (the URL escaper keeps them, percent-escaped).

#include <string>
#include <string_view>

namespace quilmer {

// The bytes as well-formed UTF-8: each byte of an invalid sequence becomes U+FFFD.
std::string ValidUtf8(std::string_view bytes);

// Element content (HTML or XML): "&", "<" and ">" as entities.
std::string EscapeMarkupText(std::string_view bytes);

// A quoted attribute value (either quote): also '"' and "'" as entities.
std::string EscapeAttribute(std::string_view bytes);

// The inside of a JavaScript string literal in either quote, also safe inside a <script>
// element: letters, digits and " .,:/-_%" stay, every other character becomes \xNN or \uNNNN.
std::string EscapeScriptString(std::string_view bytes);
// The same with single quotes around it.
std::string ScriptStringLiteral(std::string_view bytes);

// A URL part: unreserved bytes and those in keep stay, every other byte becomes %XX.
std::string EscapeUrlPart(std::string_view bytes, std::string_view keep = "/");

}  // namespace quilmer
