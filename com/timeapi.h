// Time services with Windows semantics, over a clock that tests can set.
#pragma once

#include <functional>

#include "com/errhandlingapi.h"
#include "com/types.h"

#ifdef _WIN32
#else
extern "C" {
// Fails (FALSE) on month 0 or 13, day 0 or past the month's end, 29 February outside leap years,
// hour 24, minute or second 60, milliseconds 1000, before 1601 or after 30828-09-14 02:48:05.477
// (0x7FFFFFFFFFFFE950). Every conversion here sets ERROR_INVALID_PARAMETER (GetLastError) when it
// fails.
BOOL SystemTimeToFileTime(const SYSTEMTIME* lpSystemTime, LPFILETIME lpFileTime);
// Fails above 0x7FFFFFFFFFFFFFFF.
BOOL FileTimeToSystemTime(const FILETIME* lpFileTime, LPSYSTEMTIME lpSystemTime);
// Both apply the local bias in force now (daylight saving included when it is in force now) to
// every instant, whatever that instant's own date.
BOOL FileTimeToLocalFileTime(const FILETIME* lpFileTime, LPFILETIME lpLocalFileTime);
BOOL LocalFileTimeToFileTime(const FILETIME* lpLocalFileTime, LPFILETIME lpFileTime);
void GetSystemTimeAsFileTime(LPFILETIME lpSystemTimeAsFileTime);
void GetSystemTime(LPSYSTEMTIME lpSystemTime);
void GetLocalTime(LPSYSTEMTIME lpSystemTime);
}

#endif  // _WIN32

namespace com {

// Ticks between 1601-01-01 and 1970-01-01.
constexpr ULONGLONG kFileTimeUnixEpoch = 116444736000000000ULL;
constexpr ULONGLONG kTicksPerSecond = 10000000ULL;

// The runtime's clock. By default: the system clock and the process's time zone. Tests replace
// either; ResetClock() restores both.
struct Clock {
    // Now, as a FILETIME tick count (UTC).
    std::function<ULONGLONG()> nowUtc;
    // The bias in force at the given UTC instant, in minutes, as local = UTC - bias (Windows sign:
    // UTC+1 gives -60).
    std::function<LONG(ULONGLONG utcTicks)> biasMinutesAt;
};
void SetClock(Clock clock);
void SetFixedNow(ULONGLONG utcTicks);        // keeps the time zone
void SetFixedBiasMinutes(LONG biasMinutes);  // keeps "now"
void ResetClock();
ULONGLONG NowUtcTicks();
LONG CurrentBiasMinutes();               // the bias in force now
LONG BiasMinutesAt(ULONGLONG utcTicks);  // the bias in force at that instant

}  // namespace com
