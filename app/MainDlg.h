#pragma once
// The main window: the clip list and its buttons, the join with its progress, the language
// chooser, the link and the buttons to the maker's pages. It is the join's view: the engine
// calls it to lock the controls, show progress and show the result. A join runs on the classic
// pipeline or, when the user chose another method in the save dialog, on the direct engine;
// both report to the same view.

#include <wx/frame.h>
#include <wx/timer.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/CompatibilityLine.h"
#include "app/core/CallerNotice.h"
#include "app/core/ClipList.h"
#include "app/core/JoinMethodChoice.h"
#include "controls/WxEventLoop.h"
#include "media/join/JoinMedia.h"
#include "media/join/JoinPipeline.h"
#include "media/join/JoinView.h"
#include "media/join/methods/ClipChapters.h"
#include "media/join/methods/DirectJoin.h"

class wxButton;
class wxGauge;
class wxListEvent;
class wxMenu;
class wxPanel;
class wxStaticText;

namespace quilmer {

class HyperLink;
class ImageButton;
class LanguageChooser;
class ClipListView;
class SingleInstance;
class ReportBrowser;
class WebPane;
class UpdateFlow;
class PropertyProbe;

// Control and command ids of the main window.
enum MainWindowId : int {
    kIdClose = 2,
    kIdPlay = 223,
    kIdChooseSaveTo = 1001,
    kIdClipList = 1011,
    kIdLanguage = 1018,
    kIdWebPane = 1027,
    kIdOpenSaveTo = 1030,
    kIdMoveUp = 1031,
    kIdMoveDown = 1032,
    kIdRemove = 1034,
    kIdJoin = 1035,
    kIdAbout = 1036,
    kIdCancel = 1037,
    kIdAdd = 1038,
    kIdLink = 1039,
    kIdSkin = 1040,
    kIdProgress = 148,
    kIdRefresh = 2007,
    kIdProperty = 2011,
    kIdVideoDownload = 2023,
    kIdStepText = 2100,
    kIdTimeLeft = 2101,
    kIdJoinMethod = 2102,  // the method list the save dialog shows below its file chooser
    kIdChapters = 2103,    // the save dialog's check box: a chapter per clip
};

// The update check's notice that its descriptor is ready.
wxDECLARE_EVENT(EVT_UPDATE_INFO_READY, wxCommandEvent);
// Commands the join posts to its window.
wxDECLARE_EVENT(EVT_JOIN_COMMAND, wxCommandEvent);

class CMainDlg : public wxFrame, public JoinView {
public:
    // A whole join handed over by a calling program: clips, output and where to report.
    struct HandOverRequest {
        std::vector<std::wstring> clips;
        std::wstring outputPath;
        std::wstring callerWindowClass;
        std::wstring callerMessageName;
        std::wstring languageName;  // the language to show, empty for the user's own
        std::wstring sourceUrl;     // echoed back to the caller
    };

    // programFolder (ending in '/') holds the encoder adapter and presets; empty: the program's.
    explicit CMainDlg(const std::wstring& programFolder = {});
    ~CMainDlg() override;

    // Runs a command of the window, as its button, key or menu would.
    void ExecuteCommand(int id);
    // Clips from the command line or a drop: added by the rule of Add.
    void AddClips(const std::vector<std::wstring>& paths);
    // Starts a handed-over join without asking anything (command 1035 of a handed-over window
    // comes here with the job of the start-up argument). A list other than the job's is replaced
    // by the job's clips. With fewer than two clips nothing is joined and the window stays. At
    // the end of the join the hand-over handler is told, the caller gets its notice (only when
    // the join finished) and the window closes the program (exit code 2).
    void StartHandedOverJob(const HandOverRequest& job);
    // Called with finished=true/false when a handed-over join ends, before the caller is told.
    void SetHandOverEndedHandler(std::function<void(bool finished)> handler) {
        handOverEnded_ = std::move(handler);
    }
    // The update check has its descriptor ready: offers the new version (app/UpdateFlow.h).
    virtual void OnUpdateInfoReady();
    // The once-per-run update check started at the end of the window's initialisation.
    UpdateFlow* Updates() const { return update_.get(); }
    // The panel of the pane's size that holds the web pane (MakeMainWebPane fills it).
    wxWindow* WebPaneSlot() const;
    // The skin chooser the "S&kin" button opens: "(No skin)" and the installed skins, in the
    // language shown now; a choice applies to every open window and is kept in "SkinName".
    // The caller owns the menu.
    wxMenu* CreateSkinChooserMenu();
    // Whether the window answers on the window protocol (other programs can find it).
    bool IsFindable() const;
    // The web pane in the slot and the hidden report browser (web/WebPane.h).
    WebPane* MainWebPane() const { return mainPane_; }
    ReportBrowser* Reports() const { return reportBrowser_.get(); }

    const ClipList& Clips() const { return clips_; }
    // The compatibility line under the list.
    const CompatibilityLine& Compatibility() const { return *compatibility_; }
    std::optional<std::size_t> SelectedRow() const;
    void SelectRow(std::optional<std::size_t> row);
    const JoinPipeline& Pipeline() const { return *pipeline_; }
    const DirectJoin& Direct() const { return *direct_; }
    // The engine of the running join, or of the last one.
    JoinEngine Engine() const { return engine_; }
    bool IsJoining() const { return pipeline_->IsJoining() || direct_->IsJoining(); }
    // The Property command's probe runs (Escape or a close abandons it).
    bool IsProbing() const;
    std::wstring StepText() const;
    std::wstring TimeLeft() const;

    // JoinView
    void SetProgress(int percent) override;
    void SetTimeLeft(double seconds) override;
    void SetJoining(bool joining) override;
    void ClearClips() override;
    void ShowResult(const ClipProperties& result, bool probed) override;
    void ShowFailure(const std::wstring& message, const std::wstring& title,
                     const std::wstring& detail) override;
    void HandedOverJobEnded(bool finished) override;
    void ReportIncompleteClip(const std::wstring& sourceUrl) override;
    void PhaseChanged(JoinPhase phase) override;
    void ClipLeftOut(const std::wstring& clip) override;
    void ClipHoldsLess(const std::wstring& clip, const std::wstring& warning) override;
    void MethodChosen(const std::wstring& method, const std::wstring& reason) override;
    void OutputFitted(const std::wstring& note) override;

private:
    void BuildControls();
    void JoinProtocol();
    std::wstring TakeStartupArgument();
    HandOverRequest RequestFromState() const;
    void EndHandOver();
    void ShowSkinChooser();
    void RestoreColumns();
    void StoreColumns();
    void RefreshList();
    void EnterIdle(bool joinEnabled);
    void UpdateClock();
    void RefreshLink();
    // The web pieces: the pane in its slot, the report browser, the browser windows it opens.
    void BuildWebPieces();
    void RefreshWebPane();
    void OpenSiteLink();
    void VideoDownload();

    void Add();
    void Remove();
    void MoveUp();
    void MoveDown();
    void Play(std::optional<std::size_t> row);
    void Property();
    void Join();
    void Cancel();
    void ChooseSaveToFolder();
    void OpenSaveToFolder();
    void ShowAbout();
    // The save dialog: the output path (empty when cancelled) and, through method, the join
    // method chosen in its list (stored as the user's choice).
    std::wstring AskOutputPath(const std::wstring& firstClip, bool ownOrder, JoinMethod& method);
    void StartUserJoin(const std::wstring& output, const JoinPlan& plan);
    // The engines follow the chapter choice kept in the settings.
    void UseStoredChapterChoice();
    std::wstring SaveToFolder() const;

    void ShowProperties(const ClipProperties& record, bool probed);
    void AbandonProbe();
    // The rest of a close, once no modal dialog is open any more (each one's loop has returned).
    void FinishClose();
    void CloseOtherWindows();

    void OnClose(wxCloseEvent& event);
    void OnCharHook(wxKeyEvent& event);
    void OnListKey(wxListEvent& event);

    std::wstring programFolder_;
    ClipList clips_;
    WxEventLoop loop_;
    std::unique_ptr<JoinMedia> media_;
    std::unique_ptr<JoinPipeline> pipeline_;
    std::unique_ptr<DirectJoin> direct_;
    JoinEngine engine_ = JoinEngine::Pipeline;
    JoinPhase directPhase_ = JoinPhase::Probing;  // the direct join's step
    std::wstring methodText_;                     // the method a direct join settled on, and why
    // Tells the caller of a handed-over join; destroyed before the loop it posts to.
    CallerNotifier notifier_{loop_};
    std::unique_ptr<SingleInstance> singleInstance_;

    wxPanel* panel_ = nullptr;
    ClipListView* list_ = nullptr;
    ImageButton* moveUp_ = nullptr;
    ImageButton* moveDown_ = nullptr;
    ImageButton* play_ = nullptr;
    ImageButton* add_ = nullptr;
    ImageButton* remove_ = nullptr;
    ImageButton* property_ = nullptr;
    wxButton* join_ = nullptr;
    wxButton* cancel_ = nullptr;
    wxGauge* progress_ = nullptr;
    wxStaticText* stepText_ = nullptr;
    wxStaticText* timeLeft_ = nullptr;
    LanguageChooser* chooser_ = nullptr;
    HyperLink* link_ = nullptr;
    wxButton* videoDownload_ = nullptr;
    wxButton* about_ = nullptr;
    wxButton* skin_ = nullptr;
    wxPanel* webPane_ = nullptr;
    WebPane* mainPane_ = nullptr;
    std::unique_ptr<ReportBrowser> reportBrowser_;

    wxTimer clock_;
    wxTimer closeRetry_;  // a close waits for the modal dialogs it ended
    int percent_ = 0;
    double secondsLeft_ = -1;  // the engine's estimate at leftAt_; negative: none yet
    std::chrono::steady_clock::time_point leftAt_;
    std::vector<std::wstring> leftOut_;
    std::vector<std::wstring> shortClips_;  // warnings about clips that hold less than their headers give
    std::wstring fitted_;  // what the last join changed to fit its output format
    std::function<void(bool)> handOverEnded_;
    bool closing_ = false;
    bool built_ = false;           // the constructor has finished
    bool closeRequested_ = false;  // another program asked to close the window while it was built
    bool ending_ = false;  // a handed-over join has ended: the program is on its way out
    std::unique_ptr<PropertyProbe> probe_;  // posts to the loop: goes before it
    std::unique_ptr<CompatibilityLine> compatibility_;  // the same

    std::unique_ptr<UpdateFlow> update_;    // last: goes first, before the loop it posts to
};

}  // namespace quilmer
