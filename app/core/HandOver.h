#pragma once
// The hand-over of a whole join by a calling program: argument "1" of the main program holds a
// JSON object, with every double quote written as "#" so that it survives as one command-line
// token on the system the protocol comes from:
//   {"VideoClipsPath": ["/v/a.flv", ...], "OutputPath": "/v/out.mp4",
//    "AppMainWndClassName": "<caller's window class>", "AppUserMsg": "<caller's message name>",
//    "CurLangName": "English", "FlvUrl": "<opaque text echoed back at the end>"}
// JSON text is UTF-8. A "#" inside a string cannot be written literally (it would turn into a
// quote); a caller writes it as the JSON escape \u0023, which arrives as "#".
//
// What is decided here for texts that are not such an object:
// - An argument whose first character after blanks is "{", or that is a JSON array, is a job.
//   Anything else is a clip path, as when the user starts the program with a file.
// - An argument that is a job but is not valid JSON, not an object, lacks one of the six
//   members or has one of another type, has an empty clip list, or an empty output path, is a
//   broken job. The window shows Message(), naming each problem, keeps the clips that were
//   usable (in order) and starts as if the user had started it: nothing is joined, no caller is
//   told anything. Unknown extra members are ignored. A text member holding a NUL character
//   (JSON "\u0000") is a problem too: the system would take a path only up to it.
// - A clip entry that is not a text, or is not a usable file path (empty, holds a NUL, names a
//   folder), is left out and named in the message; the others are kept.

#include <string>
#include <vector>

#include "media/join/JoinState.h"

namespace quilmer {

struct HandOverClip {
    std::wstring displayName;  // file name with extension
    std::wstring path;         // the text of the array element, unchanged
};

struct HandOverJob {
    std::vector<HandOverClip> clips;  // the usable clips, in array order
    std::wstring outputPath;
    std::wstring sourceUrl;  // "FlvUrl"
    std::wstring callerWindowClass;
    std::wstring callerMessageName;
    std::wstring languageName;
    // One translated line per problem; empty for a job that runs.
    std::vector<std::wstring> problems;

    bool Runnable() const { return problems.empty(); }
    // The message that names what is wrong (translated); empty for a job that runs.
    std::wstring Message() const;
};

enum class StartupKind {
    None,      // no argument: started by the user
    Job,       // begins with "{": a hand-over (possibly broken)
    ClipPath,  // anything else: one clip path given by the user
};
StartupKind ClassifyStartupArgument(const std::wstring& argument);

// Turns "#" into double quotes and reads the job.
HandOverJob ParseHandOver(const std::wstring& argument);

// Puts a runnable job into the join's state: handedOver and the five texts. A broken job
// changes nothing (the window runs as if started by the user).
void ApplyHandOver(const HandOverJob& job, JoinState& state);

// The text a caller passes as argument "1" for a job (the reverse of ParseHandOver): JSON with
// every "#" inside a string written as \u0023, then every double quote as "#". Empty when a
// text is not valid UTF-8 / not representable as JSON text.
std::wstring BuildHandOverArgument(const std::vector<std::wstring>& clips, const std::wstring& outputPath,
                                   const std::wstring& callerWindowClass,
                                   const std::wstring& callerMessageName, const std::wstring& languageName,
                                   const std::wstring& sourceUrl);

}  // namespace quilmer
