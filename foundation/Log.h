#pragma once
// The process log: an HTML (or plain text) document written to one file, with a severity bit
// per line, and a mirror of each line to the debug output. Nothing is written to a file while
// no file name is set, which is how both programs run; LogAndShow then only shows its text.
//
// Flag bits of the flags word in force (the top of a stack, initially 3):
//   1 mirror to the debug output, 2 write to the log file, 0x10 time-stamp file lines,
//   0x20 prefix file lines with the thread id.

#include <cstdint>
#include <deque>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace quilmer {

enum LogLevel : std::int32_t {
    LOG_CRIT = 2,
    LOG_ERR = 4,
    LOG_WARN = 8,
    LOG_INFO = 16,
};

enum LogFlags : std::uint32_t {
    LOG_FLAG_DEBUG_OUTPUT = 0x01,
    LOG_FLAG_FILE = 0x02,
    LOG_FLAG_TIME_STAMP = 0x10,
    LOG_FLAG_THREAD_ID = 0x20,
};

class CLog;

// An element of the log document. Creating one queues its opening tag, which is written in
// front of the next line; destroying (or closing) one writes its closing tag.
class LogElement {
public:
    LogElement(CLog& log, std::wstring name, bool hasClosingTag = true,
               std::vector<std::pair<std::wstring, std::wstring>> attributes = {});
    ~LogElement() { Close(); }
    LogElement(const LogElement&) = delete;
    LogElement& operator=(const LogElement&) = delete;

    // Writes the closing tag once (nothing for an element without one).
    void Close();
    // Drops the element without writing anything.
    void Discard() { closed_ = true; }

    std::wstring OpeningTag() const;
    std::wstring ClosingTag() const;

private:
    CLog& log_;
    std::wstring name_;
    bool hasClosingTag_;
    std::vector<std::pair<std::wstring, std::wstring>> attributes_;
    bool closed_ = false;
};

class CLog {
public:
    using DebugSink = std::function<void(const std::wstring&)>;

    // The process's log. Its debug output goes to standard error when QUILMER_DEBUG_LOG is set
    // in the environment, else nowhere.
    static CLog& Instance();

    CLog();
    ~CLog();  // closes the document (Body, HTML) when it was started
    CLog(const CLog&) = delete;
    CLog& operator=(const CLog&) = delete;

    // Writes a line at a level. raw writes the text unchanged: no prefixes, no escaping, no
    // debug mirror. No line ending is added.
    void Write(std::int32_t level, const std::wstring& text, bool raw = false);
    void Printf(std::int32_t level, const wchar_t* fmt, ...);

    void SetFileName(const std::wstring& fileName);
    void SetTitle(const std::wstring& title);
    void SetStyleSheet(const std::wstring& styleSheet);
    void SetMeta(const std::wstring& name, const std::wstring& value);
    void SetLevelMask(std::int32_t mask);
    void SetRawLevel(std::int32_t level);
    void SetPlainText(bool plain);
    void PushFlags(std::uint32_t flags);
    void PopFlags();  // the last entry stays
    std::uint32_t Flags() const;
    void SetDebugSink(DebugSink sink);

private:
    friend class LogElement;
    void Queue(const std::wstring& openingTag);
    void WriteHeader();

    mutable std::recursive_mutex mutex_;
    std::wstring fileName_;
    std::wstring title_;
    std::wstring styleSheet_;
    std::map<std::wstring, std::wstring> meta_;
    std::int32_t levelMask_ = 0x7fffffff;
    std::int32_t rawLevel_ = LOG_INFO;
    std::vector<std::uint32_t> flags_{LOG_FLAG_DEBUG_OUTPUT | LOG_FLAG_FILE};
    bool plainText_ = false;
    bool started_ = false;
    std::deque<std::wstring> pending_;
    std::unique_ptr<LogElement> body_;
    std::unique_ptr<LogElement> html_;
    std::ofstream stream_;
    DebugSink debugSink_;
};

// Records the text in the log (INFO) and shows it to the user with the caption. The texts are
// already translated by the caller.
void LogAndShow(const std::wstring& text, const std::wstring& caption);

// The front end's way of showing: a message box in the GUI, standard error in a terminal (the
// default). Returns the previous handler.
using ShowHandler = std::function<void(const std::wstring& text, const std::wstring& caption)>;
ShowHandler SetShowHandler(ShowHandler handler);

}  // namespace quilmer
