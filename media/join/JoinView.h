#pragma once
// What a front end shows of a join. The engine calls these on the loop thread only; the GUI
// implements them with its progress bar and dialogs, quilmer-join with a terminal bar.

#include "media/ClipProperties.h"
#include "media/JoinPhase.h"

#include <string>

namespace quilmer {

class JoinView {
public:
    virtual ~JoinView() = default;

    // 0 to 100 over the whole join.
    virtual void SetProgress(int percent) = 0;
    // Seconds the join still needs, as of now; negative while no estimate can be trusted. Told
    // once a tick while a join runs; a new join starts without one.
    virtual void SetTimeLeft(double seconds) { (void)seconds; }
    // true: a join runs (list and Join locked, Cancel enabled); false: idle again.
    virtual void SetJoining(bool joining) = 0;
    // The list of clips is emptied when a join ends, finished or stopped.
    virtual void ClearClips() {}
    // The join produced its output: the properties of the result (probed is false when even the
    // probe of a copy failed; the record then holds only the path).
    virtual void ShowResult(const ClipProperties& result, bool probed) = 0;
    // The join produced nothing. message and title are the translated "Failed to merge files." and
    // "Tips"; detail is the cause when the engine knows it (may be empty): a failed or killed
    // encode, an output that does not read back whole, an unexpected error.
    virtual void ShowFailure(const std::wstring& message, const std::wstring& title, const std::wstring& detail) = 0;
    // A handed-over job has ended (finished, stopped or closed): the front end tells the caller
    // and ends the program with exit code 2.
    virtual void HandedOverJobEnded(bool finished) { (void)finished; }
    // A handed-over job met a clip whose probe lacks bit rates, frame rate or sample rate; the
    // GUI reports it to the maker's server (JoinReportAddress with its current language).
    virtual void ReportIncompleteClip(const std::wstring& sourceUrl) { (void)sourceUrl; }
    // A new step begins (a probe, a conversion, the copy, an encode); State() tells which clip.
    virtual void PhaseChanged(JoinPhase phase) { (void)phase; }
    // A clip is missing from the join: it could be neither probed nor copied, or its conversion
    // failed (nothing it wrote is joined). The join goes on with the other clips.
    virtual void ClipLeftOut(const std::wstring& clip) { (void)clip; }
    // A clip holds less than its header gives (a partial download): it is joined with what it
    // holds. `warning` is the translated ShortClipWarning.
    virtual void ClipHoldsLess(const std::wstring& clip, const std::wstring& warning) {
        (void)clip;
        (void)warning;
    }
    // The output's format cannot carry the clips as they are, and the encode was fitted to it
    // (RealMedia: a smaller frame, coarser frames where one would be too large): what was changed.
    virtual void OutputFitted(const std::wstring& note) { (void)note; }
    // The join method was settled after the clips were looked at (the direct methods only):
    // "lossless", "single", with the reason ("all 20 clips share h264 640x360 25 fps, ...").
    virtual void MethodChosen(const std::wstring& method, const std::wstring& reason) {
        (void)method;
        (void)reason;
    }
};

}  // namespace quilmer
