#include "web/core/PlayerPages.h"

#include "foundation/FileUtil.h"
#include "foundation/Strings.h"
#include "web/core/MarkupEscape.h"

#include <cstdarg>
#include <cstdio>

namespace quilmer {

namespace {

// Each fragment is followed by the tabs the page has always carried between them.
const char kFlashTemplate[] =
    "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\"/></head>\t\t"
    " <script type=\"text/javascript\" src=\"%s\"></script>\t\t"
    " <body style=\" margin-top:0px; margin-left:0px;\"scroll=no>\t\t"
    " <iframe src=\"%s\" height=\"%dpx\" width=\"105%%\" name=\"playbar\" id=\"playbar\"\t\t"
    " frameborder=\"0\" scrolling=\"no\"></iframe>\t\t"
    " <div id=\"wrapper\" style=\"width:%dpx; height:%dpx; float:left\" >\t\t"
    " <a href=\"https://get.flashplayer.example/\">Get the Flash Player to see thisplayer.</a>\t\t"
    " </div>\t\t\t"
    " </body>\t\t"
    " </html>\t\t"
    " <script type=\"text/javascript\">\t\t"
    " var s1 = new SWFObject(\"%s\",\"player_id\",\"100%%\",\"100%%\",\"7\");\t\t\t"
    "s1.addParam(\"allowfullscreen\",\"true\");\t\t\t"
    "s1.addParam('flashvars','file=%s&autostart=true&repeat=list');\t\t\t"
    "s1.addVariable(\"displayheight\",\"9999\");\t\t\t"
    "s1.addVariable(\"backcolor\",\"0x000000\");\t\t\t"
    "s1.addVariable(\"frontcolor\",\"0xCCCCCC\");\t\t\t"
    "s1.addVariable(\"lightcolor\",\"0x557722\");\t\t\t"
    "s1.addVariable(\"enablejs\",\"true\");\t\t\t"
    "s1.addVariable(\"javascriptid\",\"javascript_id\");\t\t\t"
    "s1.write(\"wrapper\");\t\t\t"
    "</script>";

const char kWindowsMediaTemplate[] =
    "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\"/></head>\t\t"
    "<body style=\" margin-top:0px; margin-left:0px;\"scroll=no>\t\t"
    "<div style=\"width:105%%\">\t\t"
    "<iframe src=\"%s\" height=\"57px\" width=\"100%%\" frameborder=\"0\" scrolling=\"no\"></iframe>\t\t"
    "</div>\t\t"
    " <div id=\"wrapper\" style=\"width:488px; height:279px; float:left\" >\t\t"
    "<object id=\"myPlayer\" classid=\"CLSID:6BF52A52-394A-11d3-B153-00C04F79FAA6\" width=\"100%%\" height=\"100%%\">\t\t"
    "<param NAME=\"URL\" VALUE=\"%s\" />\t\t"
    "<param NAME=\"rate\" VALUE=\"1\" />\t\t"
    "<param NAME=\"balance\" VALUE=\"0\" />\t\t"
    "<param NAME=\"defaultFrame\" VALUE />\t\t"
    "<param NAME=\"playCount\" VALUE=\"1\" />\t\t"
    "<param NAME=\"autoStart\" VALUE=\"1\" />\t\t"
    "<param NAME=\"currentMarker\" VALUE=\"0\" />\t\t"
    "<param NAME=\"invokeURLs\" VALUE=\"-1\" />\t\t"
    "<param NAME=\"baseURL\" VALUE />\t\t"
    "<param NAME=\"volume\" VALUE=\"50\" />\t\t"
    "<param NAME=\"mute\" VALUE=\"0\" />\t\t"
    "<param NAME=\"stretchToFit\" VALUE=\"1\" />\t\t"
    "<param NAME=\"windowlessVideo\" VALUE=\"0\" />\t\t"
    "<param NAME=\"enabled\" VALUE=\"-1\" />\t\t"
    "<param NAME=\"enableContextMenu\" VALUE=\"-1\" />\t\t"
    "<param NAME=\"fullScreen\" VALUE=\"0\" />\t\t"
    "<param NAME=\"SAMIStyle\" VALUE />\t\t"
    "<param NAME=\"SAMILang\" VALUE />\t\t"
    "<param NAME=\"SAMIFilename\" VALUE />\t\t"
    "<param NAME=\"captioningID\" VALUE />\t\t"
    "<embed id=\"player\" type=\"application/x-mplayer2\" CLASSID=\"CLSID:6BF52A52-394A-11d3-B153-00C04F79FAA6\" WIDTH=\"500\"\t\t"
    "HEIGHT=\"286\" src=\"%s\" volume=\"50\" rate=\"1\" stretchToFit=\"1\" balance=\"0\" enableContextMenu=\"-1\" \t\t"
    "fullScreen=\"0\" invokeURLs=\"-1\" playCount=\"1\" ShowControls=\"1\" ShowStatusBar=\"0\" ShowDisplay=\"0\" autoplay=\"true\"\t\t"
    "showcontrols=\"1\" DisplaySize=\"0\" controller=\"true\" controls=\"ControlPanel\" />\t\t"
    "</object>\t\t"
    "</div>\t\t"
    "</body>\t\t"
    "</html>";

const char kRealTemplate[] =
    "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\"/></head>\t\t"
    " <body style=\" margin-top:0px; margin-left:0px;\"scroll=no>\t\t"
    " <div style=\"width:105%%\">\t\t"
    " <iframe src=\"%s\" height=\"57px\" width=\"100%%\" frameborder=\"0\" scrolling=\"no\"></iframe>\t\t"
    " </div>\t\t"
    " <div id=\"wrapper\" style=\"width:488px; height:279px; float:left\" >    <object width=\"100%%\" height=\"100%%\" classid=\"clsid:CFCDAA03-8BE4-11cf-B84B-0020AFBBCCFA\">\t"
    "<param name=\"CONTROLS\" value=\"ImageWindow\">\t"
    "<param name=\"CONSOLE\" value=\"Video\">\t"
    "<param name=\"CENTER\" value=\"TRUE\">\t"
    "<param name=\"MAINTAINSPECT\" value=\"TRUE\">\t"
    "</object>\t"
    "<object width=\"100%%\" height=\"30\" classid=\"clsid:CFCDAA03-8BE4-11cf-B84B-0020AFBBCCFA\">\t"
    "<param name=\"CONTROLS\" value=\"StatusBar\">\t"
    "<param name=\"CONSOLE\" value=\"Video\">\t"
    "</object>\t"
    "<object width=\"100%%\" height=\"30\" classid=\"clsid:CFCDAA03-8BE4-11cf-B84B-0020AFBBCCFA\">\t"
    "<param name=\"CONTROLS\" value=\"ControlPanel\">\t"
    "<param name=\"CONSOLE\" value=\"Video\">\t"
    "<param name=\"SRC\" value=\"%s\">\t"
    "<param name=\"AUTOSTART\" value=\"TRUE\">\t"
    "<param name=\"PREFETCH\" value=\"0\">\t"
    "<param name=\"LOOP\" value=\"0\">\t"
    "<param name=\"NUMLOOP\" value=\"0\">\t"
    "</object> \t"
    "</div>\t"
    "</body>\t"
    "</html>";

// Fills a template by printf rules; the templates are fixed, so the format is trusted.
std::string Fill(const char* templateText, ...) {
    va_list args;
    va_start(args, templateText);
    va_list copy;
    va_copy(copy, args);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    int size = std::vsnprintf(nullptr, 0, templateText, copy);
    va_end(copy);
    std::string out(size > 0 ? static_cast<std::size_t>(size) + 1 : 1, '\0');
    if (size > 0) std::vsnprintf(out.data(), out.size(), templateText, args);
#pragma GCC diagnostic pop
    va_end(args);
    out.resize(size > 0 ? static_cast<std::size_t>(size) : 0);
    return out;
}

std::wstring FileNameOf(const std::wstring& path) {
    auto slash = path.find_last_of(L"/\\");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

std::wstring TitleOf(const std::wstring& path) {
    std::wstring name = FileNameOf(path);
    auto dot = name.rfind(L'.');
    return dot == std::wstring::npos ? name : name.substr(0, dot);
}

}  // namespace

PlayerKind ChoosePlayer(const std::wstring& mediaPath) {
    auto endsWith = [&](std::wstring_view ending) {
        return mediaPath.size() > ending.size() && EndsWithNoCase(mediaPath, ending);
    };
    if (endsWith(L".wmv") || endsWith(L".wma") || endsWith(L".asf")) return PlayerKind::WindowsMedia;
    if (EndsWithNoCase(mediaPath, L".rmvb") || EndsWithNoCase(mediaPath, L".rm")) return PlayerKind::Real;
    return PlayerKind::Flash;
}

std::string PlaylistWriter(const std::vector<std::wstring>& paths, bool relative) {
    std::string title = paths.empty() ? std::string() : EscapeMarkupText(NativePath(TitleOf(paths.front())));
    std::string entries;
    for (const std::wstring& path : paths) {
        std::wstring ref = relative ? L"./" + FileNameOf(path) : path;
        ReplaceAll(ref, L"\\", L"/");
        entries += "\n<entry> <ref href=\"" + EscapeAttribute(NativePath(ref)) + "\"/> </entry>";
    }
    return "<asx version=\"3.0\">\n<param name=\"encoding\" value=\"utf-8\" />\n<title>" + title + "</title>" +
           entries + "\n</asx>";
}

std::wstring SearchBarAddress(const std::wstring& site, const std::wstring& language) {
    return site + L"/api_search3.php?showbar=1&lang=" + language + L"&type=flv";
}

std::string FlashPage(const std::string& scriptAddress, const std::string& searchBar, int wrapperWidth,
                      int wrapperHeight, const std::string& movieAddress, const std::string& playlistAddress) {
    // The playlist address is a flashvars value (a query part) inside a script string.
    return Fill(kFlashTemplate, EscapeAttribute(scriptAddress).c_str(), EscapeAttribute(searchBar).c_str(), 57,
                wrapperWidth, wrapperHeight, EscapeScriptString(movieAddress).c_str(),
                EscapeScriptString(EscapeUrlPart(playlistAddress, "/:")).c_str());
}

std::string WindowsMediaPage(const std::string& searchBar, const std::string& mediaPath) {
    std::string media = EscapeAttribute(mediaPath);
    return Fill(kWindowsMediaTemplate, EscapeAttribute(searchBar).c_str(), media.c_str(), media.c_str());
}

std::string RealPage(const std::string& searchBar, const std::string& mediaPath) {
    return Fill(kRealTemplate, EscapeAttribute(searchBar).c_str(), EscapeAttribute(mediaPath).c_str());
}

int WrapperHeightMargin(PlayerKind kind) { return kind == PlayerKind::Real ? 150 : 90; }

std::string FileUrl(const std::wstring& path) {
    std::string out = "file://";
    for (unsigned char c : NativePath(path)) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '/' || c == '-' ||
            c == '.' || c == '_' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += FormatA("%%%02X", c);
        }
    }
    return out;
}

bool IsAudioOnly(const std::wstring& mediaPath) { return EndsWithNoCase(mediaPath, L".wma"); }

std::string MediaElementScript(const std::string& mediaUrl, bool audioOnly, const std::wstring& note) {
    std::string js =
        "(function(){var w=document.getElementById('wrapper');if(!w)return 'no wrapper';"
        "var post=function(m){try{window.webkit.messageHandlers.quilmer.postMessage(m);}catch(e){}};"
        "w.innerHTML='';";
    if (!note.empty()) {
        js += "var n=document.createElement('div');n.id='quilmer_note';"
              "n.style.cssText='font:12px sans-serif;color:#555;padding:2px';n.textContent=" +
              ScriptStringLiteral(ToUtf8(note)) + ";w.appendChild(n);";
    }
    js += std::string("var m=document.createElement('") + (audioOnly ? "audio" : "video") +
          "');m.id='quilmer_media';m.controls=true;m.autoplay=true;"
          "m.style.cssText='width:100%;height:" + (note.empty() ? "100%" : "calc(100% - 20px)") +
          ";background:#000';"
          "m.addEventListener('playing',function(){post('playing');});"
          "m.addEventListener('error',function(){post('error:'+(m.error?m.error.code:0));});"
          "m.src=" + ScriptStringLiteral(mediaUrl) + ";w.appendChild(m);"
          "var p=m.play();if(p&&p.catch)p.catch(function(e){post('rejected:'+e.name);});return 'ok';})()";
    return js;
}

std::string WrapperMessageScript(const std::wstring& message) {
    return "(function(){var w=document.getElementById('wrapper');if(!w)return 'no wrapper';"
           "w.innerHTML='';var d=document.createElement('div');d.id='quilmer_message';"
           "d.style.cssText='font:14px sans-serif;color:#a00;padding:12px';d.textContent=" +
           ScriptStringLiteral(ToUtf8(message)) + ";w.appendChild(d);return 'ok';})()";
}

}  // namespace quilmer
