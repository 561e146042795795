#pragma once
// Fresh names in a given folder, made of hexadecimal digits, reserved atomically.

#include <string>

namespace quilmer {

// Creates an empty file FOLDER + HEX + extension that did not exist before (O_EXCL) and returns
// its path; an empty string when the folder is not writable or no free name was found.
std::wstring ReserveTemporaryName(const std::wstring& folder, const std::wstring& extension);

// Creates a new folder FOLDER + HEX (mkdir fails on an existing name, so it is ours) and returns
// it with a trailing '/'; an empty string on failure.
std::wstring ReserveTemporaryFolder(const std::wstring& folder);

}  // namespace quilmer
