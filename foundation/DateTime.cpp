#include "foundation/DateTime.h"

#include "foundation/Strings.h"
#include "foundation/TextTranslator.h"

#include <ctime>
#include <cwchar>

namespace quilmer {

namespace {

constexpr std::int64_t kTicksPerSecond = 10'000'000;
constexpr std::int64_t kSecondsFrom1601To1970 = 11'644'473'600;

}  // namespace

CDateTime CDateTime::Now() {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return FromUnix(now.tv_sec, now.tv_nsec);
}

CDateTime CDateTime::FromUnix(std::int64_t seconds, std::int64_t nanoseconds) {
    return CDateTime(FileTimeFromUnix(seconds, nanoseconds));
}

CDateTime CDateTime::FromLocal(int year, int month, int day, int hour, int minute, int second, int millisecond) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1;
    std::time_t t = std::mktime(&tm);
    if (t == static_cast<std::time_t>(-1) && !(year == 1969 && month == 12 && day == 31)) return CDateTime();
    return FromUnix(t, static_cast<std::int64_t>(millisecond) * 1'000'000);
}

bool CDateTime::Breakdown(Parts& parts, bool utc) const {
    if (ticks_ < 0) return false;
    std::int64_t seconds = ticks_ / kTicksPerSecond;
    std::int64_t within = ticks_ % kTicksPerSecond;
    std::time_t t = static_cast<std::time_t>(seconds - kSecondsFrom1601To1970);
    std::tm tm{};
    if (!(utc ? ::gmtime_r(&t, &tm) : ::localtime_r(&t, &tm))) return false;
    parts.year = tm.tm_year + 1900;
    parts.month = tm.tm_mon + 1;
    parts.day = tm.tm_mday;
    parts.hour = tm.tm_hour;
    parts.minute = tm.tm_min;
    parts.second = tm.tm_sec;
    parts.dayOfWeek = tm.tm_wday;
    parts.dayOfYear = tm.tm_yday + 1;
    parts.millisecond = static_cast<int>(within / 10000);
    parts.microsecond = static_cast<int>((within / 10) % 1000);
    parts.nanosecond = static_cast<int>((within % 10) * 100);
    return true;
}

std::wstring CDateTime::Format(const std::wstring& pattern) const { return FormatImpl(pattern, false); }
std::wstring CDateTime::FormatUtc(const std::wstring& pattern) const { return FormatImpl(pattern, true); }

std::wstring CDateTime::FormatImpl(const std::wstring& pattern, bool utc) const {
    Parts parts;
    if (!Breakdown(parts, utc)) return Tr(L"Invalid datetime");

    // Replace the extension tokens first, scanning so that "%%s" stays a literal "%s".
    std::wstring expanded;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != L'%' || i + 1 >= pattern.size()) {
            expanded += pattern[i];
            continue;
        }
        bool plain = pattern[i + 1] == L'#';
        wchar_t token = pattern[i + (plain ? 2 : 1)];
        int value = -1;
        if (i + (plain ? 2 : 1) < pattern.size()) {
            if (token == L's') value = parts.millisecond;
            if (token == L'u') value = parts.microsecond;
            if (token == L'n') value = parts.nanosecond;
        }
        if (value >= 0) {
            expanded += FormatW(plain ? L"%d" : L"%03d", value);
            i += plain ? 2 : 1;
        } else {
            // Anything else goes to strftime unchanged, "%%" included.
            expanded += pattern[i];
            expanded += pattern[i + 1];
            ++i;
        }
    }

    std::time_t t = static_cast<std::time_t>(ticks_ / kTicksPerSecond - kSecondsFrom1601To1970);
    std::tm tm{};
    if (!(utc ? ::gmtime_r(&t, &tm) : ::localtime_r(&t, &tm))) return Tr(L"Invalid datetime");
    wchar_t buffer[512];
    std::size_t n = std::wcsftime(buffer, 512, expanded.c_str(), &tm);
    return std::wstring(buffer, n);
}

}  // namespace quilmer
