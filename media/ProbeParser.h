#pragma once
// Reads the encoder's report of an input (its run with only "-i FILE") into ClipProperties.

#include <map>
#include <string>
#include <string_view>

#include "media/ClipProperties.h"

namespace quilmer {

// Fills only the fields of `record` that are still empty. Returns false, touching nothing, when
// the report says the input is unreadable ("Invalid data found when processing input").
bool ParseProbeOutput(ClipProperties& record, const std::string& report);

// A report of several inputs ("-i A -i B ...") split into one report per input, by the input's
// number: its "Input #k" line and the indented lines under it. An input the encoder gave up on
// has no entry (its complaint is not indented, so it belongs to no input).
std::map<std::size_t, std::string> SplitProbeReport(const std::string& report);

// Encoder output is UTF-8 with file names as their bytes, read up to its first zero byte; bytes
// that are not valid UTF-8 (a name's stray bytes, a character cut by a read) are kept the way
// WidePath keeps them, whatever the locale, instead of losing the whole text.
std::wstring EncoderTextToWide(std::string_view bytes);

}  // namespace quilmer
