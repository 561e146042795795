#pragma once
// The main window's join method: what its save dialog offers and how it names each method, the
// user's last choice (kept by name in "Config"/"JoinMethod"), which engine a join then runs on,
// and the status texts of a join that runs on the direct engine.
//
// The window's default is `classic`, the converting pipeline; a stored value that names no method
// (missing, empty, mistyped, not a string) counts as classic too, and a job handed over by a
// calling program joins classic whatever the user chose.

#include <iterator>
#include <string>
#include <vector>

#include "foundation/Settings.h"
#include "media/JoinPhase.h"
#include "media/join/methods/JoinMethod.h"

namespace quilmer {

// One entry of the save dialog's method list; labels translated.
struct JoinMethodEntry {
    JoinMethod method;
    std::wstring label;  // "Lossless (copy the streams, no re-encoding)"
};
// The entries in the order shown: classic, lossless, one pass, automatic, smart.
std::vector<JoinMethodEntry> JoinMethodEntries();
// The label of the list in the dialog.
std::wstring JoinMethodLabel();
// Position of a method in JoinMethodEntries(), and back; an index outside the list is classic.
int JoinMethodIndex(JoinMethod method);
JoinMethod JoinMethodAt(int index);

// The user's last choice in the store; classic unless it names a method.
JoinMethod StoredJoinMethod(const SettingsStore& store = SettingsStore::Instance());
bool StoreJoinMethod(JoinMethod method, SettingsStore& store = SettingsStore::Instance());

// Whether an MP4 or WMV output gets a chapter per clip: the save dialog's check box, kept in
// "Config"/"Chapters" (1 or 0; on when missing or anything else).
std::wstring ChaptersLabel();
bool StoredChapters(const SettingsStore& store = SettingsStore::Instance());
bool StoreChapters(bool on, SettingsStore& store = SettingsStore::Instance());

// Which engine makes a join, and with which method.
enum class JoinEngine { Pipeline, Direct };
struct JoinPlan {
    JoinEngine engine = JoinEngine::Pipeline;
    JoinMethod method = JoinMethod::Classic;
    bool operator==(const JoinPlan&) const = default;
};
JoinPlan PlanJoin(JoinMethod chosen, bool handedOver);

// A method's short name as the user reads it: "Classic", "Lossless", "One pass", "Automatic".
// Takes the engine's name ("lossless", "single", ...); an unknown name comes back as it is.
std::wstring JoinMethodShownName(const std::wstring& engineName);
// What the window tells of the settled method: "Lossless: all 2 clips share h264 ...".
std::wstring MethodChosenText(const std::wstring& engineName, const std::wstring& reason);

// The status line of a direct join in a step: "Looking at the clips", "Copying the streams
// (lossless)", "Encoding the output in one pass", "Checking the output". `chosen` is the method
// settled on (Auto while the clips are being looked at).
std::wstring DirectJoinStepText(JoinPhase phase, JoinMethod chosen);

}  // namespace quilmer
