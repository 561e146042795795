#pragma once
// The player windows: a page with the search bar above the clip, built 40 ms after the window
// opens into a temporary file. The page carries the player markup of its class; the clip itself
// plays in an HTML5 media element placed in the page's "wrapper". A clip the platform cannot decode
// is played from a preview copy made with ffmpeg in the temporary folder; a clip nothing can read
// shows a message instead of a player.

#include "web/WebViewHost.h"
#include "web/WindowPlacementKeeper.h"
#include "web/core/PlayerPages.h"

#include <wx/frame.h>
#include <wx/timer.h>
#include <wx/webview.h>

#include <string>
#include <sys/types.h>
#include <vector>

namespace quilmer {

// The process-wide playlist; opening a player replaces it with the one clip.
std::vector<std::wstring>& Playlist();

class PlayerWindow : public wxFrame {
public:
    enum class PlaybackState { Waiting, Playing, MakingPreview, PlayingPreview, Failed };

    ~PlayerWindow() override;

    PlayerKind Kind() const { return kind_; }
    const std::wstring& MediaPath() const { return mediaPath_; }
    wxWebView* Browser() const { return browser_; }
    PlaybackState State() const { return state_; }
    bool PageLoaded() const { return pageLoaded_; }
    // The generated files (page, playlist, preview copy) that go when the window closes.
    std::vector<std::wstring> GeneratedFiles() const;
    const std::wstring& PageFile() const { return pageFile_; }
    const std::string& PageText() const { return pageText_; }
    const std::vector<ScriptErrorRecord>& ScriptErrors() const { return scriptErrors_; }

    // The browser's context-menu commands on the focused text input.
    void CopyFocusedInput();
    void PasteIntoFocusedInput();

    static constexpr int kBrowserId = 104;
    static constexpr int kCopyCommand = 1013;
    static constexpr int kPasteCommand = 1014;

protected:
    PlayerWindow(PlayerKind kind, const std::wstring& mediaPath, int heightDialogUnits);

private:
    void BuildPage();
    void PlaceMediaElement(const std::wstring& url, const std::wstring& note);
    void StartPreviewCopy();
    void PollPreview();
    void ShowFailure(const std::wstring& message);
    void ResizeWrapper();
    void RemoveGeneratedFiles();

    void OnScriptMessage(wxWebViewEvent& event);
    void OnNavigating(wxWebViewEvent& event);
    void OnLoaded(wxWebViewEvent& event);
    void OnClose(wxCloseEvent& event);

    PlayerKind kind_;
    std::wstring mediaPath_;
    wxWebView* browser_ = nullptr;
    wxTimer buildTimer_;
    wxTimer watchTimer_;    // a clip that never starts playing falls back to the preview copy
    wxTimer previewTimer_;  // polls the ffmpeg that makes the preview copy
    bool pageLoaded_ = false;
    bool mediaPlaced_ = false;
    std::wstring pageFile_;
    std::wstring playlistFile_;
    std::wstring previewFile_;
    std::string pageText_;
    pid_t previewPid_ = -1;
    PlaybackState state_ = PlaybackState::Waiting;
    std::vector<ScriptErrorRecord> scriptErrors_;
    WindowPlacementKeeper placement_{L"Settings", L"Placement1"};
};

// Flash page (everything not below).
class CFlvDlg : public PlayerWindow {
public:
    explicit CFlvDlg(const std::wstring& mediaPath) : PlayerWindow(PlayerKind::Flash, mediaPath, 206) {}
};
// Windows Media page (.wmv, .wma, .asf).
class CFlvDlg2 : public PlayerWindow {
public:
    explicit CFlvDlg2(const std::wstring& mediaPath) : PlayerWindow(PlayerKind::WindowsMedia, mediaPath, 206) {}
};
// RealPlayer page (.rmvb, .rm).
class CFlvDlg3 : public PlayerWindow {
public:
    explicit CFlvDlg3(const std::wstring& mediaPath) : PlayerWindow(PlayerKind::Real, mediaPath, 243) {}
};

// Opens the player window for a clip: nothing when the file does not exist. The window has no
// owner and lives until the user closes it. Returns it (for tests), or nullptr.
PlayerWindow* OpenPlayer(const std::wstring& mediaPath);

// The encoder that makes preview copies: $QUILMER_REAL_FFMPEG, else /usr/bin/ffmpeg.
std::wstring PreviewEncoderPath();

}  // namespace quilmer
