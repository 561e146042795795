#pragma once
// Choices of the main window that need no display: the Add and Join dialogs' filters and
// defaults, the addresses its link and buttons open, the command-line paths it lists, and the
// texts that say how a join is getting on.

#include <string>
#include <vector>

#include "media/TargetFormat.h"
#include "media/join/JoinState.h"

namespace quilmer {

// The filters of the Add dialog, names translated, "All Files (*.*)" first.
std::vector<FileFilter> AddDialogFilters();

// "<first clip's title>_all": the save dialog's proposed name.
std::wstring DefaultOutputName(const std::wstring& firstClipPath);

// The save dialog's own completion of a typed name: a name without an extension gets the chosen
// filter's extension ("*.mp4" -> ".mp4"), or ".flv" when the filter is "*.*".
std::wstring CompleteOutputPath(const std::wstring& chosenPath, const std::wstring& filterPattern);

// Whether a first clip's extension picks the order of the save dialog's filters; without one the
// dialog is first skipped and then shown once with the flv order.
bool FirstClipChoosesFilters(const std::wstring& firstClipPath);

// Arguments of the program: one beginning with "{" is a handed-over job, every other is a clip.
bool IsHandOverArgument(const std::wstring& argument);
// The clips named on the command line, in order, with relative paths made absolute against
// currentFolder (which ends in '/'). Hand-over arguments are left out.
std::vector<std::wstring> ClipPathsFromArguments(const std::vector<std::wstring>& arguments,
                                                 const std::wstring& currentFolder);

// The maker's site as the link shows it: one address for "Chinese Simplified", one for the rest.
std::wstring SiteLinkAddress(const std::wstring& language);
// Where the link leads: its address with "?lang=" and the language.
std::wstring SiteLinkTarget(const std::wstring& language);
// (The help and download pages: web/core/WebRules.h.)
// The maker's contact address shown in the About box.
std::wstring ContactAddress();

// Which step of a join runs, for the status line: "Converting clip 2 of 5", "Joining the
// converted clips", "Encoding the output, pass 1 of 2", "Encoding the output".
std::wstring JoinStepText(const JoinState& state);
// "About 1:05 left", or empty while the join has no estimate yet (secondsLeft negative).
std::wstring TimeLeftText(double secondsLeft);

}  // namespace quilmer
