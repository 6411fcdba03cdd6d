// The wall clock and the local time zone through the Windows time calls.
#include <windows.h>

#include "serial/platform.h"

// FILETIME counts 100 ns from 1601-01-01 UTC; this many ms lie between that and 1970.
constexpr int64_t kFileTimeTo1970Ms = 11644473600000LL;

// A FILETIME as ms since 1970 UTC.
static int64_t FileTimeMs(const FILETIME& time) {
    ULARGE_INTEGER ticks;
    ticks.LowPart = time.dwLowDateTime;
    ticks.HighPart = time.dwHighDateTime;
    return static_cast<int64_t>(ticks.QuadPart / 10000) - kFileTimeTo1970Ms;
}

int64_t WallClockMs() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return FileTimeMs(now);
}

LocalTime LocalTimeAt(int64_t utcMs) {
    LocalTime local = {1970, 1, 1, 0, 0, 0, 0, 0};
    if (utcMs < 0) return local;
    ULARGE_INTEGER ticks;
    ticks.QuadPart = static_cast<uint64_t>(utcMs + kFileTimeTo1970Ms) * 10000;
    FILETIME utcFile = {ticks.LowPart, ticks.HighPart};
    SYSTEMTIME utc;
    if (!FileTimeToSystemTime(&utcFile, &utc)) return local;
    // The zone's rules for that date, not today's: a row from before a
    // daylight saving change keeps the offset it had.
    SYSTEMTIME there = utc;
    FILETIME thereFile;
    if (SystemTimeToTzSpecificLocalTime(nullptr, &utc, &there) && SystemTimeToFileTime(&there, &thereFile)) {
        int64_t differenceMs = FileTimeMs(thereFile) - utcMs;
        // Offsets are whole minutes; rounding absorbs the milliseconds the calls may drop.
        local.offsetMinutes = static_cast<int>((differenceMs + (differenceMs < 0 ? -30000 : 30000)) / 60000);
    } else {
        there = utc;
    }
    local.year = there.wYear;
    local.month = there.wMonth;
    local.day = there.wDay;
    local.hour = there.wHour;
    local.minute = there.wMinute;
    local.second = there.wSecond;
    local.millisecond = static_cast<int>(utcMs % 1000);
    return local;
}
