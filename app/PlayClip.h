#pragma once
// Plays a clip for the user. The desktop's default application for the file plays it until the
// program has player windows of its own.

#include <string>

class wxWindow;

namespace quilmer {

// Does nothing when no file exists at path; says so when no application could be started.
void PlayClip(wxWindow* parent, const std::wstring& path);

}  // namespace quilmer
