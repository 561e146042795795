#include "foundation/Log.h"

#include "foundation/DateTime.h"
#include "foundation/FileUtil.h"
#include "foundation/Strings.h"

#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace quilmer {

namespace {

const wchar_t kBodyClosingTag[] = L"</Body>\n";

const wchar_t* LevelTag(std::int32_t level) {
    switch (level) {
        case LOG_CRIT:
            return L"CRIT";
        case LOG_ERR:
            return L"ERR";
        case LOG_WARN:
            return L"WARN";
        case LOG_INFO:
            return L"INFO";
        default:
            return L"";
    }
}

std::mutex& ShowMutex() {
    static std::mutex mutex;
    return mutex;
}

void ShowOnStderr(const std::wstring& text, const std::wstring& caption) {
    std::string line = NativePath(caption.empty() ? text : caption + L": " + text);  // names keep their bytes
    std::fprintf(stderr, "%s\n", line.c_str());
}

ShowHandler& CurrentShowHandler() {
    static ShowHandler handler = ShowOnStderr;
    return handler;
}

}  // namespace

LogElement::LogElement(CLog& log, std::wstring name, bool hasClosingTag,
                       std::vector<std::pair<std::wstring, std::wstring>> attributes)
    : log_(log), name_(std::move(name)), hasClosingTag_(hasClosingTag), attributes_(std::move(attributes)) {
    log_.Queue(OpeningTag());
}

std::wstring LogElement::OpeningTag() const {
    std::wstring tag = L"\n<" + name_;
    for (const auto& [attribute, value] : attributes_) tag += L" " + attribute + L"=" + value;
    return tag + L">";
}

std::wstring LogElement::ClosingTag() const { return L"</" + name_ + L">\n"; }

void LogElement::Close() {
    if (closed_) return;
    closed_ = true;
    if (name_.empty() || !hasClosingTag_) return;
    std::int32_t level;
    {
        std::lock_guard<std::recursive_mutex> lock(log_.mutex_);
        level = log_.rawLevel_;
    }
    log_.Write(level, ClosingTag(), true);
}

CLog& CLog::Instance() {
    static CLog log;
    return log;
}

CLog::CLog() {
    if (std::getenv("QUILMER_DEBUG_LOG"))
        debugSink_ = [](const std::wstring& text) { std::fprintf(stderr, "%s", NativePath(text).c_str()); };
}

CLog::~CLog() {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (started_) {
        levelMask_ = 0x7fffffff;
        if (body_) body_->Close();
        if (html_) html_->Close();
    } else if (body_) {
        body_->Discard();
    }
    if (stream_.is_open()) stream_.flush();
}

void CLog::Queue(const std::wstring& openingTag) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    pending_.push_back(openingTag);
}

void CLog::WriteHeader() {
    pending_.clear();
    html_ = std::make_unique<LogElement>(*this, L"HTML");
    LogElement head(*this, L"Head");
    if (!meta_.empty()) {
        LogElement meta(*this, L"meta", false, {meta_.begin(), meta_.end()});
        meta.Close();
    }
    // Plain text has no tags around the title and the style sheet.
    if (!title_.empty()) {
        std::unique_ptr<LogElement> title;
        if (!plainText_) title = std::make_unique<LogElement>(*this, L"Title");
        if (plainText_)
            Write(rawLevel_, title_ + L"\n", false);
        else
            Write(rawLevel_, title_, true);
    }
    if (!styleSheet_.empty()) {
        std::unique_ptr<LogElement> style;
        if (!plainText_) style = std::make_unique<LogElement>(*this, L"Style");
        Write(rawLevel_, styleSheet_, !plainText_);
    }
    head.Close();
    body_ = std::make_unique<LogElement>(*this, L"Body");
}

void CLog::Write(std::int32_t level, const std::wstring& text, bool raw) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (!(level & levelMask_)) return;
    if (!started_) {
        if (text == kBodyClosingTag) return;
        started_ = true;
        WriteHeader();
    }
    if (!pending_.empty()) {
        std::wstring tags;
        for (const auto& tag : pending_) tags += tag;
        pending_.clear();
        Write(level, tags, true);
    }
    const std::uint32_t flags = flags_.back();
    if (flags & LOG_FLAG_FILE) {
        if (!stream_.is_open()) {
            stream_.clear();
            if (!fileName_.empty())
                stream_.open(NativePath(fileName_), std::ios::out | std::ios::trunc | std::ios::binary);
            else
                stream_.setstate(std::ios::failbit);
        }
        // An unusable log file silences the whole line, debug mirror included.
        if (!stream_.is_open() || stream_.fail()) return;
        std::wstring line = text;
        if (!raw) {
            if (!plainText_) line = HtmlEscape(line);
            std::wstring prefix;
            if (flags & LOG_FLAG_TIME_STAMP) prefix += CDateTime::Now().Format(L"%m/%d/%Y %H:%M:%S.%s") + L" ";
            if (flags & LOG_FLAG_THREAD_ID) prefix += FormatW(L"(%d): ", static_cast<int>(::gettid()));
            line = prefix + line;
        }
        stream_ << NativePath(line);  // a file name with stray bytes must not empty the line
    }
    if (!raw && (flags & LOG_FLAG_DEBUG_OUTPUT) && debugSink_)
        debugSink_(FormatW(L"%s:(%s) :", L"Z4R", LevelTag(level)) + text);
    if ((level == LOG_CRIT || level == LOG_ERR) && (flags & LOG_FLAG_FILE)) stream_.flush();
}

void CLog::Printf(std::int32_t level, const wchar_t* fmt, ...) {
    if (!fmt) return;
    va_list args;
    va_start(args, fmt);
    std::wstring text = FormatWV(fmt, args);
    va_end(args);
    Write(level, text, false);
}

void CLog::SetFileName(const std::wstring& fileName) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    fileName_ = fileName;
}
void CLog::SetTitle(const std::wstring& title) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    title_ = title;
}
void CLog::SetStyleSheet(const std::wstring& styleSheet) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    styleSheet_ = styleSheet;
}
void CLog::SetMeta(const std::wstring& name, const std::wstring& value) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    meta_[name] = value;
}
void CLog::SetLevelMask(std::int32_t mask) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    levelMask_ = mask;
}
void CLog::SetRawLevel(std::int32_t level) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    rawLevel_ = level;
}
void CLog::SetPlainText(bool plain) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    plainText_ = plain;
}
void CLog::PushFlags(std::uint32_t flags) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    flags_.push_back(flags);
}
void CLog::PopFlags() {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (flags_.size() > 1) flags_.pop_back();
}
std::uint32_t CLog::Flags() const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return flags_.back();
}
void CLog::SetDebugSink(DebugSink sink) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    debugSink_ = std::move(sink);
}

void LogAndShow(const std::wstring& text, const std::wstring& caption) {
    CLog::Instance().Write(LOG_INFO, text, false);
    ShowHandler handler;
    {
        std::lock_guard<std::mutex> lock(ShowMutex());
        handler = CurrentShowHandler();
    }
    if (handler) handler(text, caption);
}

ShowHandler SetShowHandler(ShowHandler handler) {
    std::lock_guard<std::mutex> lock(ShowMutex());
    ShowHandler previous = CurrentShowHandler();
    CurrentShowHandler() = handler ? std::move(handler) : ShowHandler(ShowOnStderr);
    return previous;
}

}  // namespace quilmer
