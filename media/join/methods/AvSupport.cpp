#include "media/join/methods/AvSupport.h"

#include "foundation/FileUtil.h"

#include <sys/stat.h>

#include <cstdio>
#include <mutex>

namespace quilmer {

namespace {

thread_local std::string lastComplaint;

void KeepComplaint(void* avcl, int level, const char* format, va_list args) {
    if (level > AV_LOG_ERROR) return;
    char line[1024];
    int prefix = 1;
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

}  // namespace quilmer
