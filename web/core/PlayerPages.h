#pragma once
// The player windows' generated files: which of the three windows plays a path, the ASX playlist
// and the three page templates, and the HTML5 media element that really plays the clip here
// (the pages name browser plug-ins this platform does not have).

#include <string>
#include <vector>

namespace quilmer {

enum class PlayerKind { Flash, WindowsMedia, Real };

// ".wmv", ".wma", ".asf" (with something before the ending) -> WindowsMedia; ".rmvb", ".rm" ->
// Real; anything else -> Flash. Case-insensitive.
PlayerKind ChoosePlayer(const std::wstring& mediaPath);

// The ASX text of a playlist: header with the first entry's title, one entry line per path.
// relative: "./" + file name instead of the full path. Title and paths are XML-escaped.
std::string PlaylistWriter(const std::vector<std::wstring>& paths, bool relative);

// site + "/api_search3.php?showbar=1&lang=" + language (unescaped) + "&type=flv".
std::wstring SearchBarAddress(const std::wstring& site, const std::wstring& language);

// The three templates filled by printf rules. Values are passed as they are (any bytes); each is
// escaped for the place it goes to: attributes, the script's strings, the flashvars query.
std::string FlashPage(const std::string& scriptAddress, const std::string& searchBar, int wrapperWidth,
                      int wrapperHeight, const std::string& movieAddress, const std::string& playlistAddress);
std::string WindowsMediaPage(const std::string& searchBar, const std::string& mediaPath);
std::string RealPage(const std::string& searchBar, const std::string& mediaPath);

// Wrapper height below the window's outer height: 90 for Flash and Windows Media, 150 for Real.
int WrapperHeightMargin(PlayerKind kind);

// A file:// URL of a path, every byte outside the unreserved set percent-escaped (so any byte of
// a file name survives).
std::string FileUrl(const std::wstring& path);

// Script run in the player page once it has loaded: empties "wrapper" and puts an HTML5 <video>
// (audio: <audio>) on the clip, reporting "playing", "error:<code>" and "stalled" through the
// page's message handler "quilmer". note, when not empty, is shown above the element (HTML-escaped).
std::string MediaElementScript(const std::string& mediaUrl, bool audioOnly, const std::wstring& note);

// Script that replaces the wrapper's content with a message (HTML-escaped).
std::string WrapperMessageScript(const std::wstring& message);

// ".wma" clips get an <audio> element.
bool IsAudioOnly(const std::wstring& mediaPath);

}  // namespace quilmer
