#include "app/MainDlg.h"
#include "app/UpdateFlow.h"

#include <wx/artprov.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/dirdlg.h>
#include <wx/dnd.h>
#include <wx/filedlg.h>
#include <wx/gauge.h>
#include <wx/listctrl.h>
#include <wx/menu.h>
#include <wx/panel.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/utils.h>

#include "app/AboutDialog.h"
#include "app/PlayClip.h"
#include "app/PropertyDialog.h"
#include "app/core/HandOver.h"
#include "app/core/MainWindowRules.h"
#include "app/core/PropertyProbe.h"
#include "app/core/SingleInstance.h"
#include "app/core/StartupArgument.h"
#include "controls/HyperLink.h"
#include "controls/ImageButton.h"
#include "controls/LanguageChooser.h"
#include "controls/MessageBoxes.h"
#include "controls/ModalDialogs.h"
#include "controls/TranslateWindowTree.h"
#include "controls/WindowDressing.h"
#include "controls/WindowSkin.h"
#include "controls/WxText.h"
#include "foundation/AppFolders.h"
#include "foundation/FileUtil.h"
#include "foundation/Log.h"
#include "foundation/Settings.h"
#include "foundation/SiteAddresses.h"
#include "foundation/TextTranslator.h"
#include "lang/LanguageManager.h"
#include "media/ClipProbe.h"
#include "media/av/AvProbe.h"
#include "skin/gui/FrameSkinManager.h"
#include "update/ProcessStart.h"
#include "web/BrowserWindow.h"
#include "web/WebPane.h"
#include "web/core/CompanionDownloader.h"
#include "web/core/WebRules.h"

namespace quilmer {

wxDEFINE_EVENT(EVT_UPDATE_INFO_READY, wxCommandEvent);
wxDEFINE_EVENT(EVT_JOIN_COMMAND, wxCommandEvent);

// The clip list: a virtual report list that asks the ClipList for each cell.
class ClipListView final : public wxListCtrl {
public:
    ClipListView(wxWindow* parent, const ClipList& clips, const wxPoint& position, const wxSize& size)
        : wxListCtrl(parent, kIdClipList, position, size,
                     wxLC_REPORT | wxLC_VIRTUAL | wxLC_SINGLE_SEL | wxBORDER_SUNKEN),
          clips_(clips) {}

    wxString OnGetItemText(long item, long column) const override {
        if (item < 0 || static_cast<std::size_t>(item) >= clips_.Count()) return {};
        const ClipItem& clip = clips_.At(static_cast<std::size_t>(item));
        return ToWx(column == 0 ? clip.displayName : clip.FolderText());
    }

private:
    const ClipList& clips_;
};

namespace {

// Files dropped on the list are added as by Add.
class ClipDropTarget final : public wxFileDropTarget {
public:
    explicit ClipDropTarget(CMainDlg& window) : window_(window) {}
    bool OnDropFiles(wxCoord, wxCoord, const wxArrayString& names) override {
        if (window_.IsJoining()) return false;
        std::vector<std::wstring> paths;
        for (const auto& name : names) {
            std::wstring path = PathFromWx(name);
            FileFacts facts;
            // Only files, as the open dialog allows; a dropped folder adds nothing.
            if (GetFileFacts(path, facts) && !(facts.attributes & kAttrDirectory)) paths.push_back(path);
        }
        window_.AddClips(paths);
        return !paths.empty();
    }

private:
    CMainDlg& window_;
};

// What the user chose in a file dialog. A dialog answered without being shown (a test's modal
// hook) keeps its answer in the base class only.
std::vector<std::wstring> ChosenPaths(const wxFileDialog& dialog) {
    wxArrayString names;
    dialog.GetPaths(names);
    if (names.empty() || names[0].empty()) {
        names.clear();
        dialog.wxFileDialogBase::GetPaths(names);
    }
    std::vector<std::wstring> paths;
    for (const auto& name : names)
        if (!name.empty()) paths.push_back(PathFromWx(name));
    return paths;
}

wxString Wildcard(const std::vector<FileFilter>& filters) {
    wxString wildcard;
    for (const auto& filter : filters) {
        if (!wildcard.empty()) wildcard += wxS("|");
        wildcard += ToWx(filter.description) + wxS("|") + ToWx(filter.pattern);
    }
    return wildcard;
}

// The save dialog's extra control: the join method, preselected with the user's last choice, and
// below it the chapters switch, on a row of its own so that a longer translation is not cut off.
wxWindow* CreateJoinMethodControl(wxWindow* parent) {
    auto* panel = new wxPanel(parent, wxID_ANY);
    auto* rows = new wxBoxSizer(wxVERTICAL);
    auto* method = new wxBoxSizer(wxHORIZONTAL);
    auto* choice = new wxChoice(panel, kIdJoinMethod);
    for (const auto& entry : JoinMethodEntries()) choice->Append(ToWx(entry.label));
    choice->SetSelection(JoinMethodIndex(StoredJoinMethod()));
    method->Add(new wxStaticText(panel, wxID_ANY, ToWx(JoinMethodLabel())), 0,
                wxALIGN_CENTER_VERTICAL | wxRIGHT, panel->FromDIP(8));
    method->Add(choice, 0, wxALIGN_CENTER_VERTICAL);
    rows->Add(method, 0);
    auto* chapters = new wxCheckBox(panel, kIdChapters, ToWx(ChaptersLabel()));
    chapters->SetValue(StoredChapters());
    rows->Add(chapters, 0, wxTOP, panel->FromDIP(6));
    panel->SetSizerAndFit(rows);
    return panel;
}

// The method chosen in a save dialog's list; nullopt when the dialog had none (it was answered
// without being shown).
std::optional<JoinMethod> MethodInDialog(const wxFileDialog& dialog) {
    wxWindow* extra = dialog.GetExtraControl();
    auto* choice = extra ? dynamic_cast<wxChoice*>(extra->FindWindow(kIdJoinMethod)) : nullptr;
    if (!choice) return std::nullopt;
    return JoinMethodAt(choice->GetSelection());
}

// F1 in any window of the program: the maker's help page in a browser window.
void OpenHelpPage() {
    std::wstring language = LanguageManager::Instance().CurrentLanguage();
    OpenBrowserWindow(HelpPageAddress(SiteBaseAddress(), language), {}, language, L"flv");
}

constexpr int kDefaultNameWidth = 280;
constexpr int kDefaultFolderWidth = 250;

}  // namespace

CMainDlg::CMainDlg(const std::wstring& programFolder)
    : wxFrame(nullptr, wxID_ANY, wxS("Corvane Quilmer"), wxDefaultPosition, wxDefaultSize,
              wxCAPTION | wxSYSTEM_MENU | wxMINIMIZE_BOX | wxCLOSE_BOX | wxCLIP_CHILDREN, kMainWindowName),
      programFolder_(programFolder.empty() ? AppFolders::Instance().ProgramFolder() : programFolder),
      clock_(this),
      closeRetry_(this) {
    // Before any dialog: a close ends the open ones first, and each dialog wears the icon.
    TrackModalDialogs();
    SetHelpOpener(&OpenHelpPage);
    media_ = MakeEncoderJoinMedia(programFolder_ + L"ffmpeg");
    pipeline_ = std::make_unique<JoinPipeline>(loop_, *this, *media_, programFolder_);
    pipeline_->SetPictureMeasure(MeasureOutputPicture);
    // The join's own commands come back as events of this window, like its buttons.
    pipeline_->SetCommandSink([this](int id) { QueueEvent(new wxCommandEvent(EVT_JOIN_COMMAND, id)); });
    direct_ = std::make_unique<DirectJoin>(loop_, *this);
    UseStoredChapterChoice();
    probe_ = std::make_unique<PropertyProbe>(loop_, programFolder_ + L"ffmpeg");

    BuildControls();
    wxBitmapBundle icon =
        wxBitmapBundle::FromSVGFile(PathToWx(programFolder_ + L"quilmer.svg"), wxSize(48, 48));
    if (icon.IsOk()) SetIcon(icon.GetIcon(wxSize(48, 48)));

    Bind(wxEVT_BUTTON, [this](wxCommandEvent& event) { ExecuteCommand(event.GetId()); });
    Bind(wxEVT_MENU, [this](wxCommandEvent& event) { ExecuteCommand(event.GetId()); });
    Bind(EVT_JOIN_COMMAND, [this](wxCommandEvent& event) { ExecuteCommand(event.GetId()); });
    Bind(EVT_UPDATE_INFO_READY, [this](wxCommandEvent&) { OnUpdateInfoReady(); });
    Bind(
        wxEVT_HYPERLINK, [this](wxHyperlinkEvent&) { ExecuteCommand(kIdLink); }, kIdLink);
    Bind(wxEVT_CLOSE_WINDOW, &CMainDlg::OnClose, this);
    Bind(wxEVT_CHAR_HOOK, &CMainDlg::OnCharHook, this);
    Bind(
        wxEVT_TIMER, [this](wxTimerEvent&) { UpdateClock(); }, clock_.GetId());
    Bind(
        wxEVT_TIMER, [this](wxTimerEvent&) { FinishClose(); }, closeRetry_.GetId());
    list_->Bind(wxEVT_LIST_KEY_DOWN, &CMainDlg::OnListKey, this);
    list_->Bind(wxEVT_LIST_ITEM_ACTIVATED, [this](wxListEvent& event) {
        if (event.GetIndex() >= 0) Play(static_cast<std::size_t>(event.GetIndex()));
    });
    list_->SetDropTarget(new ClipDropTarget(*this));

    EnterIdle(false);
    JoinProtocol();
    std::wstring language = TakeStartupArgument();
    RefreshLink();
    chooser_->SetOnSwitched([this] {
        RefreshLink();
        compatibility_->Recheck();
    });
    chooser_->Fill(language);  // also relabels the window in the chosen language
    if (!language.empty()) RefreshLink();
    BuildWebPieces();
    AttachSkin(this);
    // After the language is chosen and the window translated: the check asks in that language.
    update_ = std::make_unique<UpdateFlow>(this, loop_);
    update_->Start();
    // Building the web view runs the event loop for a moment: a close request from another
    // program that came in meanwhile is carried out now that the window is whole.
    built_ = true;
    if (closeRequested_) CallAfter([this] { Close(); });
    // The job's join is queued only now: queued earlier, the web view's loop would run it, and a
    // refused job would close the window while it is still being built.
    if (pipeline_->State().handedOver && !closeRequested_) QueueEvent(new wxCommandEvent(EVT_JOIN_COMMAND, kIdJoin));
}

CMainDlg::~CMainDlg() {
    clock_.Stop();
    closeRetry_.Stop();
    probe_->Abandon();
    if (closing_) RefuseModalDialogs(false);  // a window made later asks again
    pipeline_->Close();
    direct_->Close();
    singleInstance_.reset();  // leaves the window protocol
}

// ---- start-up ----------------------------------------------------------------------------------

void CMainDlg::JoinProtocol() {
    SingleInstance::Callbacks callbacks;
    callbacks.acceptText = [](const std::wstring&) { return true; };  // taken, and ignored
    callbacks.close = [this] {  // as the close box, once the window is whole
        if (built_) {
            Close();
        } else {
            closeRequested_ = true;
        }
    };
    singleInstance_ = std::make_unique<SingleInstance>(loop_, std::move(callbacks));
    if (!singleInstance_->IsRegistered())
        CLog::Instance().Write(LOG_ERR, L"other programs cannot find this window: " +
                                            WidePath(singleInstance_->Error()));
}

bool CMainDlg::IsFindable() const { return singleInstance_ && singleInstance_->IsRegistered(); }

// Takes in the job a calling program handed over. Returns the language the job asks for (empty:
// the user's own).
std::wstring CMainDlg::TakeStartupArgument() {
    const std::wstring& argument = StartupArgument();
    if (ClassifyStartupArgument(argument) != StartupKind::Job) return {};  // clip paths: Main adds them
    HandOverJob job = ParseHandOver(argument);
    for (const auto& clip : job.clips) clips_.AppendHandedOver({clip.displayName, clip.path});
    RefreshList();
    if (!clips_.Empty()) SelectRow(0);
    join_->Enable(clips_.CanJoin());
    if (!job.Runnable()) {
        // Started as if by the user, with the usable clips; the message once the window shows.
        std::wstring message = job.Message();
        CLog::Instance().Write(LOG_ERR, L"handed-over job not run: " + message);
        CallAfter([this, message] {
            if (!closing_) ShowMessage(this, message, Tr(L"Tips"));
        });
        return {};
    }
    ApplyHandOver(job, pipeline_->MutableState());  // its join is queued once the window is built
    return job.languageName;
}

void CMainDlg::BuildControls() {
    panel_ = new wxPanel(this, wxID_ANY);
    auto dlu = [this](int x, int y) { return wxDLG_UNIT(panel_, wxPoint(x, y)); };
    auto dlus = [this](int w, int h) { return wxDLG_UNIT(panel_, wxSize(w, h)); };

    list_ = new ClipListView(panel_, clips_, dlu(7, 7), dlus(372, 151));
    compatibility_ = std::make_unique<CompatibilityLine>(panel_, loop_, wxRect(dlu(7, 163), dlus(300, 9)),
                                                         wxRect(dlu(312, 160), dlus(67, 14)));
    RestoreColumns();

    struct ButtonSpec {
        ImageButton** button;
        int id;
        wxArtID art;
        wxArtID fallback;
        const wchar_t* tip;
    };
    const ButtonSpec buttons[] = {
        {&moveUp_, kIdMoveUp, wxART_GO_UP, wxART_GO_UP, L"Move Up"},
        {&moveDown_, kIdMoveDown, wxART_GO_DOWN, wxART_GO_DOWN, L"Move Down"},
        {&play_, kIdPlay, wxS("media-playback-start"), wxART_EXECUTABLE_FILE, L"Play..."},
        {&add_, kIdAdd, wxART_PLUS, wxART_NEW, L"Add..."},
        {&remove_, kIdRemove, wxART_MINUS, wxART_DELETE, L"Remove"},
        {&property_, kIdProperty, wxS("document-properties"), wxART_INFORMATION, L"Property..."},
    };
    int y = 7;
    for (const auto& spec : buttons) {
        *spec.button =
            new ImageButton(panel_, spec.id, spec.art, spec.fallback, spec.tip, dlu(387, y), dlus(25, 20));
        y += 26;
    }

    progress_ =
        new wxGauge(panel_, kIdProgress, 100, dlu(7, 180), dlus(300, 9), wxGA_HORIZONTAL | wxGA_SMOOTH);
    timeLeft_ = new wxStaticText(panel_, kIdTimeLeft, wxEmptyString, dlu(312, 180), dlus(100, 9),
                                 wxALIGN_RIGHT | wxST_NO_AUTORESIZE);
    // After a direct join the line tells the method and why; a long reason ends in "..." and
    // shows whole in the tip.
    stepText_ = new wxStaticText(panel_, kIdStepText, wxEmptyString, dlu(7, 192), dlus(168, 9),
                                 wxST_NO_AUTORESIZE | wxST_ELLIPSIZE_END);

    join_ = new wxButton(panel_, kIdJoin, wxS("&Join..."), dlu(7, 206), dlus(60, 16));
    cancel_ = new wxButton(panel_, kIdCancel, wxS("&Cancel"), dlu(72, 206), dlus(60, 16));
    // A GTK combo box is never narrower than its longest entry ("name   [name]" with a flag), so
    // the chooser gets the whole width right of the buttons and its label stands above it.
    new wxStaticText(panel_, wxID_ANY, wxS("Interface &Language:"), dlu(180, 195), dlus(160, 9),
                     wxST_NO_AUTORESIZE);
    chooser_ = new LanguageChooser(panel_, kIdLanguage, dlu(180, 205), wxSize(dlus(232, 16).x, -1));

    link_ = new HyperLink(panel_, kIdLink, dlu(7, 232), dlus(170, 10));
    videoDownload_ =
        new wxButton(panel_, kIdVideoDownload, wxS("&Video Download..."), dlu(248, 228), dlus(90, 16));
    about_ = new wxButton(panel_, kIdAbout, wxS("&About..."), dlu(342, 228), dlus(70, 16));
    // The skin chooser: on wx the window has no system menu of its own to put it in (a skinned
    // frame's system menu carries it as well).
    skin_ = new wxButton(panel_, kIdSkin, wxS("S&kin"), dlu(352, 190), dlus(60, 13));
    // Tab follows the window's visual order: the skin button sits beside the language chooser,
    // above the link row, so it comes right after the chooser.
    skin_->MoveAfterInTabOrder(chooser_);

    webPane_ = new wxPanel(panel_, kIdWebPane, dlu(7, 250), dlus(405, 75));

    wxSize client = dlus(419, 332);
    SetClientSize(client);
    SetMinClientSize(client);
    SetMaxClientSize(client);
}

wxWindow* CMainDlg::WebPaneSlot() const { return webPane_; }

wxMenu* CMainDlg::CreateSkinChooserMenu() { return CreateSkinMenu(CFrameSkinManager::Instance()); }

void CMainDlg::ShowSkinChooser() {
    std::unique_ptr<wxMenu> menu(CreateSkinChooserMenu());
    wxPoint below = skin_->GetPosition() + wxPoint(0, skin_->GetSize().y);
    panel_->PopupMenu(menu.get(), below);
}

void CMainDlg::OnUpdateInfoReady() {
    if (update_) update_->Evaluate();
}

void CMainDlg::RestoreColumns() {
    int nameWidth = kDefaultNameWidth;
    int folderWidth = kDefaultFolderWidth;
    const auto& columns = AppSettings::Instance().columns;
    if (columns.size() == 2 && columns[0].inUse && columns[1].inUse && columns[0].width > 0 &&
        columns[1].width > 0 && columns[0].width < 4000 && columns[1].width < 4000) {
        nameWidth = columns[0].width;
        folderWidth = columns[1].width;
    }
    list_->InsertColumn(0, wxS("Filename"), wxLIST_FORMAT_LEFT, nameWidth);
    list_->InsertColumn(1, wxS("File Path"), wxLIST_FORMAT_CENTRE, folderWidth);
}

void CMainDlg::StoreColumns() {
    AppSettings& settings = AppSettings::Instance();
    // This list cannot reorder its columns; the order is the one they were made in.
    settings.columns = {{0, list_->GetColumnWidth(0), true}, {1, list_->GetColumnWidth(1), true}};
    settings.Save();
}

std::optional<std::size_t> CMainDlg::SelectedRow() const {
    long row = list_->GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED);
    if (row < 0 || static_cast<std::size_t>(row) >= clips_.Count()) return std::nullopt;
    return static_cast<std::size_t>(row);
}

void CMainDlg::SelectRow(std::optional<std::size_t> row) {
    long current = list_->GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED);
    if (current >= 0) list_->SetItemState(current, 0, wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED);
    if (!row || *row >= clips_.Count()) return;
    long index = static_cast<long>(*row);
    list_->SetItemState(index, wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED,
                        wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED);
    list_->EnsureVisible(index);
}

void CMainDlg::RefreshList() {
    list_->SetItemCount(static_cast<long>(clips_.Count()));
    list_->Refresh();
    compatibility_->Update(clips_.Paths());
}

void CMainDlg::EnterIdle(bool joinEnabled) {
    for (wxWindow* control :
         {static_cast<wxWindow*>(moveUp_), static_cast<wxWindow*>(moveDown_), static_cast<wxWindow*>(play_),
          static_cast<wxWindow*>(add_), static_cast<wxWindow*>(remove_), static_cast<wxWindow*>(property_)})
        control->Enable();
    join_->Enable(joinEnabled);
    cancel_->Disable();
    clock_.Stop();
    stepText_->SetLabel(wxEmptyString);
    stepText_->UnsetToolTip();
    timeLeft_->SetLabel(wxEmptyString);
}

// ---- commands --------------------------------------------------------------------------------

void CMainDlg::ExecuteCommand(int id) {
    switch (id) {
        case kIdClose:
            Close();
            return;
        case kIdPlay:
            Play(clips_.TargetOf(SelectedRow()));
            return;
        case kIdChooseSaveTo:
            ChooseSaveToFolder();
            return;
        case kIdOpenSaveTo:
            OpenSaveToFolder();
            return;
        case kIdMoveUp:
            MoveUp();
            return;
        case kIdMoveDown:
            MoveDown();
            return;
        case kIdRemove:
            Remove();
            return;
        case kIdJoin:
            Join();
            return;
        case kIdAbout:
            ShowAbout();
            return;
        case kIdCancel:
            Cancel();
            return;
        case kIdAdd:
            Add();
            return;
        case kIdLink:
            OpenSiteLink();
            return;
        case kIdRefresh:
            RefreshWebPane();
            return;
        case kIdProperty:
            Property();
            return;
        case kIdSkin:
            ShowSkinChooser();
            return;
        case kIdVideoDownload:
            VideoDownload();
            return;
        default:
            pipeline_->HandleCommand(id);
            return;
    }
}

void CMainDlg::AddClips(const std::vector<std::wstring>& paths) {
    if (IsJoining()) return;
    std::size_t before = clips_.Count();
    bool hadSelection = SelectedRow().has_value();
    clips_.AppendAll(paths);
    RefreshList();
    if (!hadSelection && clips_.Count() > before) SelectRow(before);
    join_->Enable(clips_.CanJoin());
}

void CMainDlg::Add() {
    if (IsJoining()) return;
    wxFileDialog dialog(this, wxFileSelectorPromptStr, wxEmptyString, wxEmptyString,
                        Wildcard(AddDialogFilters()), wxFD_OPEN | wxFD_MULTIPLE | wxFD_FILE_MUST_EXIST);
    if (dialog.ShowModal() != wxID_OK) return;
    AddClips(ChosenPaths(dialog));
}

void CMainDlg::Remove() {
    if (IsJoining()) return;
    bool removed = false;
    std::optional<std::size_t> next = clips_.Remove(SelectedRow(), &removed);
    if (!removed) return;
    RefreshList();
    SelectRow(next);
    join_->Enable(clips_.CanJoin());
}

void CMainDlg::MoveUp() {
    if (IsJoining()) return;
    if (auto row = clips_.MoveUp(SelectedRow())) {
        RefreshList();
        SelectRow(row);
    }
}

void CMainDlg::MoveDown() {
    if (IsJoining()) return;
    if (auto row = clips_.MoveDown(SelectedRow())) {
        RefreshList();
        SelectRow(row);
    }
}

void CMainDlg::Play(std::optional<std::size_t> row) {
    if (!row || *row >= clips_.Count()) return;
    const std::wstring path = clips_.At(*row).path;
    if (!FileExists(path)) return;
    PlayClip(this, path);
}

void CMainDlg::Property() {
    if (IsJoining()) return;
    auto row = clips_.TargetOf(SelectedRow());
    if (!row) return;
    const std::wstring path = clips_.At(*row).path;
    if (!FileExists(path)) return;
    if (probe_->IsRunning()) return;
    // Off the loop thread: the window keeps answering; Escape or a close abandons the probe.
    if (!probe_->Start(path, [this](const ClipProperties& record, bool probed) {
            ::wxEndBusyCursor();
            ShowProperties(record, probed);
        })) {
        CLog::Instance().Write(LOG_ERR, L"the clip could not be probed: no worker started");
        return;
    }
    ::wxBeginBusyCursor();
}

void CMainDlg::AbandonProbe() {
    if (!probe_->IsRunning()) return;
    probe_->Abandon();
    ::wxEndBusyCursor();
}

bool CMainDlg::IsProbing() const { return probe_->IsRunning(); }

void CMainDlg::ShowProperties(const ClipProperties& record, bool /*probed*/) {
    if (closing_) return;
    // As the probe left it: a clip it could not read shows its path and empty fields.
    ClipProperties shown = record;
    PropertyDialog::Open(this, shown, 0);
}

std::wstring CMainDlg::SaveToFolder() const {
    std::wstring folder = AppSettings::Instance().saveTo;
    if (folder.empty() || !FolderExists(folder)) folder = AppSettings::DefaultSaveTo();
    return folder;
}

std::wstring CMainDlg::AskOutputPath(const std::wstring& firstClip, bool ownOrder, JoinMethod& method) {
    std::vector<FileFilter> filters = SaveDialogFilters(ownOrder ? firstClip : std::wstring());
    wxFileDialog dialog(this, wxFileSelectorPromptStr, PathToWx(SaveToFolder()),
                        ToWx(DefaultOutputName(firstClip)), Wildcard(filters),
                        wxFD_SAVE | wxFD_OVERWRITE_PROMPT);
    dialog.SetExtraControlCreator(&CreateJoinMethodControl);
    std::wstring output;
    std::vector<std::wstring> chosen;
    for (;;) {
        if (dialog.ShowModal() != wxID_OK || closing_) return {};
        chosen = ChosenPaths(dialog);
        if (chosen.empty()) return {};
        int filter = dialog.GetFilterIndex();
        std::wstring pattern = filter >= 0 && static_cast<std::size_t>(filter) < filters.size()
                                   ? filters[static_cast<std::size_t>(filter)].pattern
                                   : std::wstring(L"*.*");
        output = CompleteOutputPath(chosen.front(), pattern);
        // The dialog asked about the name as typed; a name that got its extension only now is
        // asked about here, before anything is written over.
        if (output == chosen.front() || !FileExists(output)) break;
        if (AskYesNo(this, Tr(L"This file already exists. Do you want to replace it?") + L"\n" + output,
                     Tr(L"Tips")))
            break;
        if (closing_) return {};
        dialog.SetPath(PathToWx(output));
    }
    if (std::optional<JoinMethod> inDialog = MethodInDialog(dialog)) {
        method = *inDialog;
        if (!StoreJoinMethod(method))
            CLog::Instance().Write(LOG_WARN, L"the join method could not be kept in the settings");
    } else {
        method = StoredJoinMethod();
    }
    wxWindow* extra = dialog.GetExtraControl();
    if (auto* chapters = extra ? dynamic_cast<wxCheckBox*>(extra->FindWindow(kIdChapters)) : nullptr;
        chapters && !StoreChapters(chapters->GetValue()))
        CLog::Instance().Write(LOG_WARN, L"the chapter choice could not be kept in the settings");
    return output;
}

void CMainDlg::Join() {
    if (pipeline_->State().handedOver) {
        // The caller's job: its output, no save dialog.
        StartHandedOverJob(RequestFromState());
        return;
    }
    if (IsJoining() || !clips_.CanJoin()) return;
    const std::wstring first = clips_.At(0).path;
    std::wstring output;
    JoinMethod method = JoinMethod::Classic;
    if (FirstClipChoosesFilters(first)) output = AskOutputPath(first, true, method);
    if (output.empty() && !closing_) output = AskOutputPath(first, false, method);
    if (closing_) return;
    if (output.empty() || TargetFormatForPath(output).empty()) return;
    StartUserJoin(output, PlanJoin(method, false));
}

void CMainDlg::UseStoredChapterChoice() {
    const bool on = StoredChapters();
    direct_->SetChapters(on);
    pipeline_->SetChapterStep(on ? JoinPipeline::ChapterStep(&AddClassicChapters) : nullptr);
}

void CMainDlg::StartUserJoin(const std::wstring& output, const JoinPlan& plan) {
    leftOut_.clear();
    shortClips_.clear();
    methodText_.clear();
    directPhase_ = JoinPhase::Probing;
    engine_ = plan.engine;  // before the start: the engine already calls the view
    UseStoredChapterChoice();
    std::wstring refusal = plan.engine == JoinEngine::Direct
                               ? direct_->StartJoin(clips_.Paths(), output, plan.method)
                               : pipeline_->StartJoin(clips_.Paths(), output);
    if (!refusal.empty()) ShowMessage(this, refusal, Tr(L"Tips"));
}

CMainDlg::HandOverRequest CMainDlg::RequestFromState() const {
    const JoinState& state = pipeline_->State();
    HandOverRequest job;
    job.clips = clips_.Paths();
    job.outputPath = state.outputPath;
    job.callerWindowClass = state.callerWindowClass;
    job.callerMessageName = state.callerMessageName;
    job.languageName = state.languageName;
    job.sourceUrl = state.sourceUrl;
    return job;
}

void CMainDlg::StartHandedOverJob(const HandOverRequest& job) {
    if (IsJoining() || ending_) return;
    if (job.clips != clips_.Paths()) {
        clips_.Clear();
        clips_.AppendAll(job.clips);
        RefreshList();
        if (!clips_.Empty()) SelectRow(0);
    }
    if (!job.languageName.empty() && job.languageName != LanguageManager::Instance().CurrentLanguage()) {
        chooser_->Fill(job.languageName);
        RefreshLink();
    }
    JoinState& state = pipeline_->MutableState();
    state.handedOver = true;
    state.outputPath = job.outputPath;
    state.callerWindowClass = job.callerWindowClass;
    state.callerMessageName = job.callerMessageName;
    state.languageName = job.languageName;
    state.sourceUrl = job.sourceUrl;
    join_->Enable(clips_.CanJoin());
    // One clip joins nothing: the window stays with it, as it would for the user.
    if (!clips_.CanJoin()) return;
    leftOut_.clear();
    shortClips_.clear();
    methodText_.clear();
    // The caller's job joins classic whatever the user chose in the save dialog.
    engine_ = PlanJoin(StoredJoinMethod(), true).engine;
    std::wstring refusal = pipeline_->StartJoin(clips_.Paths(), job.outputPath, true);
    if (!refusal.empty()) {
        // The caller's job cannot run (say, the output cannot be written): the user is told why,
        // and the program then ends without a notice.
        CLog::Instance().Write(LOG_ERR, L"handed-over join refused: " + refusal);
        pipeline_->MutableState().failure = refusal;
        ending_ = true;  // nothing else starts meanwhile
        CallAfter([this, refusal] {
            if (closing_) return;
            ShowMessage(this, refusal, Tr(L"Tips"));
            if (closing_) return;
            ending_ = false;
            HandedOverJobEnded(false);
        });
    }
}

void CMainDlg::Cancel() {
    if (!IsJoining()) return;
    if (direct_->IsJoining()) {
        direct_->StopJoin();
    } else {
        pipeline_->StopJoin();
    }
    methodText_.clear();
    // After a stop "&Join..." stays enabled; with the list emptied it does nothing.
    EnterIdle(true);
}

void CMainDlg::ChooseSaveToFolder() {
    wxDirDialog dialog(this, ToWx(Tr(L"Choose a folder...")), PathToWx(SaveToFolder()),
                       wxDD_DEFAULT_STYLE | wxDD_DIR_MUST_EXIST);
    if (dialog.ShowModal() != wxID_OK) return;
    AppSettings& settings = AppSettings::Instance();
    settings.saveTo = PathFromWx(dialog.GetPath());
    settings.Save();
}

void CMainDlg::OpenSaveToFolder() { wxLaunchDefaultApplication(PathToWx(SaveToFolder())); }

void CMainDlg::ShowAbout() { AboutDialog::Open(this); }

void CMainDlg::RefreshLink() {
    std::wstring language = LanguageManager::Instance().CurrentLanguage();
    link_->SetLink(SiteLinkAddress(language), SiteLinkTarget(language));
}

// ---- the web pieces ----------------------------------------------------------------------------

void CMainDlg::BuildWebPieces() {
    // Started with the language the chooser has just made current.
    mainPane_ = MakeMainWebPane(webPane_);
    // The pane's page is no drop target: a clip dropped on the pane joins the list.
    webPane_->SetDropTarget(new ClipDropTarget(*this));
    reportBrowser_ = std::make_unique<ReportBrowser>(this);
}

void CMainDlg::RefreshWebPane() {
    if (mainPane_) mainPane_->Restart();
    RefreshLink();
}

void CMainDlg::OpenSiteLink() {
    std::wstring language = LanguageManager::Instance().CurrentLanguage();
    OpenBrowserWindow(SiteLinkTarget(language), {}, language, L"flv");
}

void CMainDlg::VideoDownload() {
    std::wstring program = FindCompanionDownloader();
    // An argument vector, not a command line: the path needs no quotes whatever it holds.
    if (!program.empty() && StartDetachedProcess(program, {})) return;
    if (!program.empty()) CLog::Instance().Write(LOG_ERR, L"companion downloader did not start: " + program);
    std::wstring language = LanguageManager::Instance().CurrentLanguage();
    OpenBrowserWindow(DownloadPageAddress(SiteBaseAddress(), language), {}, language, L"flv");
}

// ---- the join's view ---------------------------------------------------------------------------

void CMainDlg::SetProgress(int percent) {
    percent_ = std::clamp(percent, 0, 100);
    progress_->SetValue(percent_);
    if (IsJoining()) UpdateClock();
}

void CMainDlg::SetTimeLeft(double seconds) {
    secondsLeft_ = seconds;
    leftAt_ = std::chrono::steady_clock::now();
    // At once, not at the next second of the clock: a short join's estimate may not last long.
    if (IsJoining()) timeLeft_->SetLabel(ToWx(TimeLeftText(seconds)));
}

void CMainDlg::SetJoining(bool joining) {
    if (!joining) {
        EnterIdle(clips_.CanJoin());
        // The method a direct join took stays on show until the next join.
        if (engine_ == JoinEngine::Direct && !methodText_.empty()) {
            // A refusal names a clip, whose name may hold '&'.
            stepText_->SetLabel(wxControl::EscapeMnemonics(ToWx(methodText_)));
            stepText_->SetToolTip(ToWx(methodText_));
        }
        return;
    }
    for (wxWindow* control :
         {static_cast<wxWindow*>(join_), static_cast<wxWindow*>(moveUp_), static_cast<wxWindow*>(moveDown_),
          static_cast<wxWindow*>(add_), static_cast<wxWindow*>(remove_), static_cast<wxWindow*>(property_)})
        control->Disable();
    play_->Enable();
    cancel_->Enable();
    stepText_->UnsetToolTip();  // the last direct join's method; this join tells its own
    percent_ = 0;
    secondsLeft_ = -1;
    clock_.Start(1000);
    UpdateClock();
}

void CMainDlg::UpdateClock() {
    if (!IsJoining()) return;
    // The engine's estimate, counted down to this moment.
    double since = std::chrono::duration<double>(std::chrono::steady_clock::now() - leftAt_).count();
    double left = secondsLeft_ < 0 ? -1 : std::max(secondsLeft_ - since, 0.0);
    stepText_->SetLabel(ToWx(engine_ == JoinEngine::Direct
                                 ? DirectJoinStepText(directPhase_, direct_->Chosen())
                                 : JoinStepText(pipeline_->State())));
    timeLeft_->SetLabel(ToWx(TimeLeftText(left)));
}

std::wstring CMainDlg::StepText() const { return stepText_->GetLabelText().ToStdWstring(); }
std::wstring CMainDlg::TimeLeft() const { return timeLeft_->GetLabel().ToStdWstring(); }

void CMainDlg::PhaseChanged(JoinPhase phase) {
    if (engine_ == JoinEngine::Direct) directPhase_ = phase;
    UpdateClock();
}

void CMainDlg::MethodChosen(const std::wstring& method, const std::wstring& reason) {
    methodText_ = MethodChosenText(method, reason);
    CLog::Instance().Write(LOG_INFO, L"join method " + methodText_);
    stepText_->SetToolTip(ToWx(methodText_));
    UpdateClock();
}

void CMainDlg::ClearClips() {
    clips_.Clear();
    RefreshList();
    join_->Disable();  // "&Cancel" enables it again: a stopped join leaves "&Join..." enabled
}

void CMainDlg::ClipLeftOut(const std::wstring& clip) { leftOut_.push_back(clip); }

void CMainDlg::ClipHoldsLess(const std::wstring&, const std::wstring& warning) { shortClips_.push_back(warning); }
void CMainDlg::OutputFitted(const std::wstring& note) {
    CLog::Instance().Write(LOG_INFO, note);
    fitted_ = note;
}

void CMainDlg::ShowResult(const ClipProperties& result, bool probed) {
    if (closing_) return;
    if (probed) {
        ClipProperties record = result;
        PropertyDialog::Open(this, record, 1);
    } else {
        ShowMessage(this, Tr(L"The output was written but cannot be read back as video: ") + result.path,
                    Tr(L"Tips"));
    }
    for (const auto& clip : leftOut_)
        if (!closing_)
            ShowMessage(this, Tr(L"This clip could not be converted and is missing from the output: ") + clip,
                    Tr(L"Tips"));
    leftOut_.clear();
    std::wstring warnings;
    for (const auto& warning : shortClips_) warnings += (warnings.empty() ? L"" : L"\n") + warning;
    if (!warnings.empty()) ShowMessage(this, warnings, Tr(L"Tips"));
    shortClips_.clear();
    if (!fitted_.empty()) ShowMessage(this, fitted_, Tr(L"Tips"));
    fitted_.clear();
}

void CMainDlg::ShowFailure(const std::wstring& message, const std::wstring& title,
                           const std::wstring& detail) {
    CLog::Instance().Write(LOG_ERR, message + (detail.empty() ? L"" : L" " + detail));
    fitted_.clear();
    if (closing_) return;
    ShowMessage(this, message, title, detail);
}

void CMainDlg::HandedOverJobEnded(bool finished) {
    if (ending_) return;
    ending_ = true;
    if (!finished) {
        const std::wstring& failure = pipeline_->State().failure;
        CLog::Instance().Write(LOG_ERR, L"handed-over join failed" + (failure.empty() ? L"" : L": " + failure));
    }
    if (handOverEnded_) handOverEnded_(finished);
    // The caller is looked for off this thread; the program ends once that is over.
    notifier_.JobEnded(pipeline_->State(), finished, [this](bool sent) {
        if (!sent && pipeline_->State().failure.empty())
            CLog::Instance().Write(LOG_WARN, L"the calling program could not be told: " +
                                                 pipeline_->State().callerWindowClass);
        EndHandOver();
    });
}

void CMainDlg::EndHandOver() {
    // The close path of the window; quilmer's loop then ends with exit code 2.
    Close(true);
}

void CMainDlg::ReportIncompleteClip(const std::wstring& sourceUrl) {
    CLog::Instance().Write(LOG_WARN, L"clip with incomplete properties: " + sourceUrl);
    // The load runs in the background and nothing reads its answer: the join never waits for it.
    if (reportBrowser_ && !closing_)
        reportBrowser_->ReportClip(LanguageManager::Instance().CurrentLanguage(), sourceUrl);
}

// ---- window events -----------------------------------------------------------------------------

void CMainDlg::OnClose(wxCloseEvent&) {
    // However the close came (close box, another program, the end of a handed-over join), the
    // window goes only once the code that opened a modal dialog has got its answer back: the
    // dialogs live on that code's stack, and a join that shows its result runs on inside it.
    if (!closing_) {
        closing_ = true;
        RefuseModalDialogs(true);  // nothing more is asked on the way out
        AbandonProbe();
    }
    FinishClose();
}

void CMainDlg::FinishClose() {
    if (IsBeingDeleted()) return;
    if (wxDialog* dialog = TopmostModalDialog()) dialog->EndModal(wxID_CANCEL);
    if (AnyModalDialogOpen()) {
        // Each loop returns on its own turn; the one below the ended dialog is ended next time.
        closeRetry_.StartOnce(20);
        return;
    }
    clock_.Stop();
    pipeline_->Close();  // stops a running join and removes its files
    direct_->Close();
    StoreColumns();
    CloseOtherWindows();
    Destroy();
}

void CMainDlg::CloseOtherWindows() {
    // The player and browser windows it opened go with it: the program ends with this window.
    std::vector<wxWindow*> others;
    for (wxWindow* window : wxTopLevelWindows)
        if (window != this && !window->IsBeingDeleted()) others.push_back(window);
    for (wxWindow* window : others) {
        window->Close(true);
        if (!window->IsBeingDeleted()) window->Destroy();  // one that only hid itself
    }
}

void CMainDlg::OnCharHook(wxKeyEvent& event) {
    if (event.GetKeyCode() == WXK_ESCAPE && !event.HasAnyModifiers() && probe_->IsRunning()) {
        AbandonProbe();
        return;
    }
    event.Skip();
}

void CMainDlg::OnListKey(wxListEvent& event) {
    if (event.GetKeyCode() == WXK_DELETE || event.GetKeyCode() == WXK_NUMPAD_DELETE) {
        Remove();
        return;
    }
    event.Skip();
}

}  // namespace quilmer
