#include "web/PlayerWindow.h"

#include "controls/WindowSkin.h"
#include "foundation/AppFolders.h"
#include "foundation/FileUtil.h"
#include "foundation/Strings.h"
#include "foundation/TempFile.h"
#include "foundation/TextTranslator.h"
#include "web/BrowserWindow.h"
#include "web/WebContext.h"
#include "web/core/WebRules.h"

#include <wx/menu.h>
#include <wx/sizer.h>

#include <nlohmann/json.hpp>

#include <csignal>
#include <fcntl.h>
#include <cstdlib>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace quilmer {

namespace {

constexpr int kBuildDelayMs = 40;
// A clip that has not started playing by then is played from a preview copy.
constexpr int kStartLimitMs = 12000;

// Writes text to a new temporary file and closes it; the name (plus suffix) on success, else empty.
std::wstring WriteTempFile(const std::string& text, const std::wstring& suffix) {
    CTempFile file;
    if (!file.Create() || !file.Write(text)) return {};
    std::wstring name = file.FileName() + suffix;
    if (!file.Commit(name)) return {};
    return name;
}

std::string SlashPath(std::string path) {
    ReplaceAll(path, "\\", "/");
    return path;
}

}  // namespace

std::vector<std::wstring>& Playlist() {
    static std::vector<std::wstring> playlist;
    return playlist;
}

std::wstring PreviewEncoderPath() {
    const char* env = std::getenv("QUILMER_REAL_FFMPEG");
    return WidePath(env && env[0] == '/' ? env : "/usr/bin/ffmpeg");
}

PlayerWindow::PlayerWindow(PlayerKind kind, const std::wstring& mediaPath, int heightDialogUnits)
    : wxFrame(nullptr, wxID_ANY, wxString(mediaPath.substr(mediaPath.find_last_of(L'/') + 1))),
      kind_(kind),
      mediaPath_(mediaPath),
      buildTimer_(this),
      watchTimer_(this),
      previewTimer_(this) {
    SetClientSize(wxDLG_UNIT(this, wxSize(325, heightDialogUnits)));
    browser_ = CreateHostedWebView(this, kBrowserId, true);
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(browser_, 1, wxEXPAND);
    SetSizer(sizer);

    browser_->Bind(wxEVT_WEBVIEW_SCRIPT_MESSAGE_RECEIVED, &PlayerWindow::OnScriptMessage, this);
    browser_->Bind(wxEVT_WEBVIEW_NAVIGATING, &PlayerWindow::OnNavigating, this);
    browser_->Bind(wxEVT_WEBVIEW_LOADED, &PlayerWindow::OnLoaded, this);
    Bind(wxEVT_CLOSE_WINDOW, &PlayerWindow::OnClose, this);
    // A frame has no Cancel of its own: Escape closes it as the close box does.
    Bind(wxEVT_CHAR_HOOK, [this](wxKeyEvent& event) {
        if (event.GetKeyCode() == WXK_ESCAPE && !event.HasAnyModifiers()) {
            Close();
            return;
        }
        event.Skip();
    });
    Bind(wxEVT_SIZE, [this](wxSizeEvent& event) {
        event.Skip();
        if (pageLoaded_) ResizeWrapper();
    });
    Bind(wxEVT_TIMER, [this](wxTimerEvent& event) {
        if (event.GetTimer().GetId() == buildTimer_.GetId()) {
            BuildPage();
        } else if (event.GetTimer().GetId() == watchTimer_.GetId()) {
            if (state_ == PlaybackState::Waiting) StartPreviewCopy();
            else if (state_ == PlaybackState::PlayingPreview) ShowFailure(Tr(L"This clip cannot be played: no decoder on this system can read it."));
        } else if (event.GetTimer().GetId() == previewTimer_.GetId()) {
            PollPreview();
        }
    });
    Bind(wxEVT_MENU, [this](wxCommandEvent&) { CopyFocusedInput(); }, kCopyCommand);
    Bind(wxEVT_MENU, [this](wxCommandEvent&) { PasteIntoFocusedInput(); }, kPasteCommand);

    buildTimer_.StartOnce(kBuildDelayMs);
    AttachSkin(this);
    // After the skin: the stored size is the window's size in its frame, and a skin attached later
    // would grow it by its frame once more on every reopening.
    placement_.Restore(this);
}

PlayerWindow::~PlayerWindow() { RemoveGeneratedFiles(); }

std::vector<std::wstring> PlayerWindow::GeneratedFiles() const {
    std::vector<std::wstring> files;
    for (const auto* f : {&pageFile_, &playlistFile_, &previewFile_}) {
        if (!f->empty()) files.push_back(*f);
    }
    return files;
}

void PlayerWindow::BuildPage() {
    buildTimer_.Stop();
    wxSize outer = GetSize();
    int w = outer.x, h = outer.y;
    // The sizer gives the view the client area, or the inside of a skin's frame.
    Layout();
    std::string searchBar = ToAnsi(SearchBarAddress(WebSiteAddress(), WebCurrentLanguage()));
    std::string media = ToAnsi(mediaPath_);
    if (media.empty()) media = NativePath(mediaPath_);  // a name the locale cannot show goes as its bytes
    switch (kind_) {
        case PlayerKind::Flash: {
            playlistFile_ = WriteTempFile(PlaylistWriter(Playlist(), false), L"");
            std::string playlistAddress = SlashPath(ToUtf8(playlistFile_));
            std::wstring appData = AppFolders::Instance().AppDataFolder();
            pageText_ = FlashPage(SlashPath(ToAnsi(appData + L"swfobject.js")), searchBar, w - 8, h - 90,
                                  SlashPath(ToAnsi(appData + L"mediaplayer.swf")), playlistAddress);
            pageFile_ = WriteTempFile(pageText_, L"");
            break;
        }
        case PlayerKind::WindowsMedia:
            pageText_ = WindowsMediaPage(searchBar, media);
            pageFile_ = WriteTempFile(pageText_, L".html");
            break;
        case PlayerKind::Real:
            pageText_ = RealPage(searchBar, media);
            pageFile_ = WriteTempFile(pageText_, L".html");
            break;
    }
    // An empty name leaves the browser on its own error page.
    browser_->LoadURL(wxString::FromUTF8(FileUrl(pageFile_)));
    pageLoaded_ = true;
}

void PlayerWindow::OnLoaded(wxWebViewEvent& event) {
    if (mediaPlaced_ || pageFile_.empty()) return;
    if (event.GetURL() != wxString::FromUTF8(FileUrl(pageFile_))) return;
    mediaPlaced_ = true;
    ResizeWrapper();
    PlaceMediaElement(wxString::FromUTF8(FileUrl(mediaPath_)).ToStdWstring(), {});
}

void PlayerWindow::PlaceMediaElement(const std::wstring& url, const std::wstring& note) {
    RunPageScript(browser_, wxString::FromUTF8(MediaElementScript(ToUtf8(url), IsAudioOnly(mediaPath_), note)));
    watchTimer_.StartOnce(kStartLimitMs);
}

void PlayerWindow::OnScriptMessage(wxWebViewEvent& event) {
    std::string text(event.GetString().utf8_str());
    ScriptErrorRecord error;
    if (ParseScriptErrorMessage(text, error)) {
        RecordScriptError(scriptErrors_, error);
        return;
    }
    if (text == "playing") {
        watchTimer_.Stop();
        if (state_ == PlaybackState::Waiting) state_ = PlaybackState::Playing;
        return;
    }
    if (text.rfind("error:", 0) == 0 || text.rfind("rejected:", 0) == 0) {
        if (state_ == PlaybackState::Waiting) {
            watchTimer_.Stop();
            StartPreviewCopy();
        } else if (state_ == PlaybackState::PlayingPreview && text.rfind("error:", 0) == 0) {
            ShowFailure(Tr(L"This clip cannot be played: no decoder on this system can read it."));
        }
        return;
    }
    auto doc = nlohmann::json::parse(text, nullptr, false);
    if (!doc.is_object()) return;
    std::string kind = doc.value("kind", "");
    if (kind == "contextmenu") {
        wxMenu menu;
        menu.Append(kCopyCommand, wxString(Tr(L"&Copy")));
        menu.Append(kPasteCommand, wxString(Tr(L"&Paste")));
        PopupMenu(&menu);
    }
}

void PlayerWindow::CopyFocusedInput() { quilmer::CopyFocusedInput(browser_); }

void PlayerWindow::PasteIntoFocusedInput() { quilmer::PasteIntoFocusedInput(browser_); }

void PlayerWindow::OnNavigating(wxWebViewEvent& event) {
    std::wstring address = event.GetURL().ToStdWstring();
    // The page file is the one local page the window shows; the search bar and whatever it opens
    // go to web addresses only.
    bool ownPage = !pageFile_.empty() && event.GetURL() == wxString::FromUTF8(FileUrl(pageFile_));
    if (!ownPage && !MayNavigateFromPage(address)) {
        event.Veto();
        return;
    }
    SearchBarRedirect redirect = DecideSearchBarNavigation(WebSiteAddress(), address);
    if (redirect.url.empty()) return;
    event.Veto();
    OpenBrowserWindow(redirect.url, {}, WebCurrentLanguage(), redirect.type);
}

void PlayerWindow::StartPreviewCopy() {
    if (previewPid_ > 0 || state_ == PlaybackState::MakingPreview) return;
    state_ = PlaybackState::MakingPreview;
    RunPageScript(browser_, wxString::FromUTF8(
        WrapperMessageScript(Tr(L"This system cannot play the clip directly; making a preview copy..."))));
    CTempFile file;
    if (!file.Create()) {
        ShowFailure(Tr(L"This clip cannot be played: no decoder on this system can read it."));
        return;
    }
    previewFile_ = file.FileName() + (IsAudioOnly(mediaPath_) ? L".m4a" : L".mp4");
    file.Commit(previewFile_);
    std::string encoder = NativePath(PreviewEncoderPath());
    std::string input = NativePath(mediaPath_);
    std::string output = NativePath(previewFile_);
    std::vector<std::string> args = {encoder, "-nostdin", "-v", "error", "-y", "-i", input, "-map", "0:v:0?", "-map", "0:a:0?"};
    if (IsAudioOnly(mediaPath_)) {
        args.insert(args.end(), {"-vn"});
    } else {
        args.insert(args.end(), {"-c:v", "libx264", "-preset", "veryfast", "-crf", "26", "-pix_fmt", "yuv420p",
                                 "-vf", "scale='min(854,iw)':-2"});
    }
    args.insert(args.end(), {"-c:a", "aac", "-b:a", "128k", "-movflags", "+faststart", "-f", "mp4", output});
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, encoder.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        ShowFailure(Tr(L"This clip cannot be played: no decoder on this system can read it."));
        return;
    }
    previewPid_ = pid;
    previewTimer_.Start(100);
}

void PlayerWindow::PollPreview() {
    if (previewPid_ <= 0) return;
    int status = 0;
    pid_t done = waitpid(previewPid_, &status, WNOHANG);
    if (done == 0) return;
    previewTimer_.Stop();
    previewPid_ = -1;
    FileFacts facts;
    bool ok = done > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0 && GetFileFacts(previewFile_, facts) &&
              facts.size > 0;
    if (!ok) {
        ShowFailure(Tr(L"This clip cannot be played: no decoder on this system can read it."));
        return;
    }
    state_ = PlaybackState::PlayingPreview;
    mediaPlaced_ = false;  // the watch timer now waits for the copy
    RunPageScript(browser_, wxString::FromUTF8(MediaElementScript(
        FileUrl(previewFile_), IsAudioOnly(mediaPath_),
        Tr(L"Playing a preview copy: this system cannot decode the clip itself."))));
    mediaPlaced_ = true;
    watchTimer_.StartOnce(kStartLimitMs);
}

void PlayerWindow::ShowFailure(const std::wstring& message) {
    watchTimer_.Stop();
    state_ = PlaybackState::Failed;
    RunPageScript(browser_, wxString::FromUTF8(WrapperMessageScript(message)));
}

void PlayerWindow::ResizeWrapper() {
    wxSize outer = GetSize();
    int w = outer.x - 8;
    int h = outer.y - WrapperHeightMargin(kind_);
    Layout();
    RunPageScript(browser_, wxString::Format(
        "(function(){var a=document.getElementsByTagName('*');for(var i=0;i<a.length;i++){"
        "if(a[i].id&&a[i].id.toLowerCase()==='wrapper'){a[i].style.width='%dpx';a[i].style.height='%dpx';}}})()",
        w, h));
}

void PlayerWindow::RemoveGeneratedFiles() {
    if (previewPid_ > 0) {
        kill(previewPid_, SIGKILL);
        waitpid(previewPid_, nullptr, 0);
        previewPid_ = -1;
    }
    for (const std::wstring& file : GeneratedFiles()) ::unlink(NativePath(file).c_str());
    pageFile_.clear();
    playlistFile_.clear();
    previewFile_.clear();
}

void PlayerWindow::OnClose(wxCloseEvent&) {
    buildTimer_.Stop();
    watchTimer_.Stop();
    previewTimer_.Stop();
    ReleaseHostedWebView(browser_);
    placement_.Save(this);
    RemoveGeneratedFiles();
    Destroy();
}

PlayerWindow* OpenPlayer(const std::wstring& mediaPath) {
    if (!FileExists(mediaPath)) return nullptr;
    Playlist() = {mediaPath};
    PlayerWindow* window = nullptr;
    switch (ChoosePlayer(mediaPath)) {
        case PlayerKind::WindowsMedia: window = new CFlvDlg2(mediaPath); break;
        case PlayerKind::Real: window = new CFlvDlg3(mediaPath); break;
        case PlayerKind::Flash: window = new CFlvDlg(mediaPath); break;
    }
    window->Show();
    return window;
}

}  // namespace quilmer
