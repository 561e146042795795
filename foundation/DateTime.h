#pragma once
// A point in time as 100-nanosecond ticks since 1 January 1601 UTC (the FileTime of
// FileUtil.h), formatted in local time with strftime patterns plus six extension tokens:
//   %s  milliseconds as %03d     %#s  milliseconds as %d
//   %u  microseconds as %03d     %#u  microseconds as %d   (within the millisecond)
//   %n  nanoseconds as %03d      %#n  nanoseconds as %d    (within the microsecond)
// These take the place of strftime's own %s, %u and %n. "%%" stays a literal percent sign.

#include "foundation/FileUtil.h"

#include <cstdint>
#include <string>

namespace quilmer {

class CDateTime {
public:
    struct Parts {
        int year = 0, month = 0, day = 0;  // month 1-12
        int hour = 0, minute = 0, second = 0;
        int dayOfWeek = 0;  // 0 = Sunday
        int dayOfYear = 0;  // 1-366
        int millisecond = 0, microsecond = 0, nanosecond = 0;
    };

    CDateTime() = default;
    explicit CDateTime(FileTime ticks) : ticks_(ticks) {}

    static CDateTime Now();
    static CDateTime FromUnix(std::int64_t seconds, std::int64_t nanoseconds = 0);
    // A local calendar time (with the zone's daylight-saving rule); invalid fields give ticks 0.
    static CDateTime FromLocal(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
                               int millisecond = 0);

    FileTime Ticks() const { return ticks_; }

    // Breaks the value down in local time (utc = false) or UTC. False when it cannot be.
    bool Breakdown(Parts& parts, bool utc = false) const;

    // Formats in local time; "Invalid datetime" when the value cannot be broken down. A result
    // longer than 511 characters gives an empty string, as strftime does.
    std::wstring Format(const std::wstring& pattern) const;
    std::wstring FormatUtc(const std::wstring& pattern) const;

    bool operator==(const CDateTime&) const = default;
    auto operator<=>(const CDateTime&) const = default;

private:
    std::wstring FormatImpl(const std::wstring& pattern, bool utc) const;
    FileTime ticks_ = 0;
};

}  // namespace quilmer
