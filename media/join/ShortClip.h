#pragma once
// The warning about a clip that holds less than its header gives (a download broken off, a copy
// cut short): the join keeps what the clip holds and says what is missing.

#include <string>

namespace quilmer {

// "a.flv holds 2.1 s of the 10.0 s its header gives; the rest is missing, perhaps an incomplete
// download", in the user's language.
std::wstring ShortClipWarning(const std::wstring& clip, double heldSeconds, double headerSeconds);

}  // namespace quilmer
