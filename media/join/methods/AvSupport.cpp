#include "media/join/methods/AvSupport.h"

#include "foundation/FileUtil.h"
#include "foundation/TextTranslator.h"

#include <sys/stat.h>

#include <cstdio>
#include <mutex>

namespace quilmer {

namespace {

thread_local std::string lastComplaint;

void KeepComplaint(void* avcl, int level, const char* format, va_list args) {
    if (level > AV_LOG_ERROR) return;
    char line[1024];
    int prefix = 0;  // no "[mov @ 0x55...]": the text is shown to users
    av_log_format_line(avcl, level, format, args, line, sizeof line, &prefix);
    std::string text = line;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
    if (!text.empty()) lastComplaint = text;
}

int Interrupted(void* opaque) {
    const auto* interrupt = static_cast<const AvInterrupt*>(opaque);
    return (interrupt->cancel && interrupt->cancel->IsRequested()) || interrupt->TimedOut() ? 1 : 0;
}

}  // namespace

void QuietAvLog() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_callback(KeepComplaint); });
}

std::string LastAvComplaint() { return lastComplaint; }
void ClearAvComplaint() { lastComplaint.clear(); }

AVIOInterruptCB AvInterrupt::Callback() const { return AVIOInterruptCB{Interrupted, const_cast<AvInterrupt*>(this)}; }

std::string AvErrorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

std::string AvFileUrl(const std::wstring& path) { return "file:" + NativePath(path); }

bool IsRegularFile(const std::wstring& path) {
    struct stat st {};
    return stat(NativePath(path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

AvInput OpenAvInput(const std::wstring& path, const AvInterrupt& interrupt, std::wstring& why) {
    QuietAvLog();
    ClearAvComplaint();
    if (!IsRegularFile(path)) {
        why = Tr(L"not a regular file");
        return nullptr;
    }
    AVFormatContext* raw = avformat_alloc_context();
    if (!raw) {
        why = Tr(L"out of memory");
        return nullptr;
    }
    raw->interrupt_callback = interrupt.Callback();
    auto complaint = [&why](int code) {
        std::string said = LastAvComplaint();
        why = WidePath(said.empty() ? AvErrorText(code) : said);
    };
    int code = avformat_open_input(&raw, AvFileUrl(path).c_str(), nullptr, nullptr);  // frees raw on failure
    if (code < 0) {
        complaint(code);
        return nullptr;
    }
    AvInput input(raw);
    code = avformat_find_stream_info(input.get(), nullptr);
    if (code < 0) {
        complaint(code);
        return nullptr;
    }
    return input;
}

}  // namespace quilmer
