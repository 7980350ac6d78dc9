// Time services with Windows semantics over the runtime's clock.
//
// FILETIME: 100 ns ticks since 1601-01-01 00:00 UTC, proleptic Gregorian calendar. The local
// conversions apply the bias in force *now* to every instant (as Windows does), so a timestamp from
// January read in July shows summer time. "Now" and the bias come from com::Clock, which tests set.
#include <cstdlib>
#include <ctime>
#include <limits>
#include <memory>
#include <mutex>
#include <string>

#include "com/calendar.h"
#include "com/errhandlingapi.h"
#include "com/timeapi.h"

namespace {

constexpr ULONGLONG kTicksPerMillisecond = 10000ULL;
constexpr ULONGLONG kTicksPerMinute = 60ULL * com::kTicksPerSecond;
constexpr ULONGLONG kTicksPerDay = 86400ULL * com::kTicksPerSecond;
constexpr ULONGLONG kMaxFileTime = 0x7FFFFFFFFFFFFFFFULL;

using com::calendar::Civil;
using com::calendar::CivilFromDays;
using com::calendar::DaysFromCivil;

constexpr long long kDays1601To1970 = -DaysFromCivil(1601, 1, 1);
static_assert(static_cast<ULONGLONG>(kDays1601To1970) * kTicksPerDay == com::kFileTimeUnixEpoch);

constexpr bool IsLeap(unsigned y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}
constexpr unsigned DaysInMonth(unsigned y, unsigned m) {
    constexpr unsigned kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

// ---- the clock ---------------------------------------------------------------------------------

ULONGLONG SystemNowUtc() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    const long long ticks = static_cast<long long>(ts.tv_sec) * static_cast<long long>(com::kTicksPerSecond) +
                            ts.tv_nsec / 100 + static_cast<long long>(com::kFileTimeUnixEpoch);
    return ticks < 0 ? 0 : static_cast<ULONGLONG>(ticks);
}

// The C library's view of the zone (it honours TZ): bias = -(offset east of UTC), in minutes.
// With TZ unset glibc stat()s /etc/localtime on every tzset(), and the output pane and an export ask
// for every row: the zone is read again only when TZ changes or a second has passed since it was
// last read, and the answer for the last instant asked is kept.
LONG SystemBiasAt(ULONGLONG utcTicks) {
    const long long secs = static_cast<long long>(utcTicks / com::kTicksPerSecond) -
                           static_cast<long long>(com::kFileTimeUnixEpoch / com::kTicksPerSecond);
    const char* tz = std::getenv("TZ");
    thread_local struct {
        bool zoneRead = false;
        long long zoneReadAt = 0;  // CLOCK_MONOTONIC seconds
        bool tzSet = false;
        std::string tz;
        bool valid = false;
        long long secs = 0;
        LONG bias = 0;
    } cache;
    timespec mono{};
    clock_gettime(CLOCK_MONOTONIC_COARSE, &mono);
    const bool sameTz = cache.tzSet == (tz != nullptr) && (tz == nullptr || cache.tz == tz);
    if (!cache.zoneRead || !sameTz || mono.tv_sec != cache.zoneReadAt) {
        tzset();  // localtime_r need not re-read TZ; a changed TZ must count
        cache.zoneRead = true;
        cache.zoneReadAt = mono.tv_sec;
        cache.tzSet = tz != nullptr;
        cache.tz = tz ? tz : "";
        cache.valid = false;
    }
    if (cache.valid && cache.secs == secs) return cache.bias;

    const std::time_t t = static_cast<std::time_t>(secs);
    std::tm tm{};
    const LONG bias = localtime_r(&t, &tm) == nullptr ? 0 : static_cast<LONG>(-tm.tm_gmtoff / 60);
    cache.valid = true;
    cache.secs = secs;
    cache.bias = bias;
    return bias;
}

com::Clock DefaultClock() {
    return com::Clock{SystemNowUtc, SystemBiasAt};
}

std::mutex g_clockMutex;
std::shared_ptr<const com::Clock>& ClockSlot() {
    static std::shared_ptr<const com::Clock> slot = std::make_shared<const com::Clock>(DefaultClock());
    return slot;
}

std::shared_ptr<const com::Clock> CurrentClock() {
    std::lock_guard<std::mutex> lock(g_clockMutex);
    return ClockSlot();
}

template <class Edit>
void EditClock(Edit edit) {
    std::lock_guard<std::mutex> lock(g_clockMutex);
    com::Clock c = *ClockSlot();
    edit(c);
    ClockSlot() = std::make_shared<const com::Clock>(std::move(c));
}

ULONGLONG NowFrom(const com::Clock& c) {
    return c.nowUtc ? c.nowUtc() : SystemNowUtc();
}
LONG BiasFrom(const com::Clock& c, ULONGLONG utc) {
    return c.biasMinutesAt ? c.biasMinutesAt(utc) : SystemBiasAt(utc);
}

// utc - bias minutes (toLocal) or local + bias minutes; false when the result leaves 0..2^64-1.
bool ApplyBias(ULONGLONG in, LONG biasMinutes, bool toLocal, ULONGLONG* out) {
    const long long minutes =
        toLocal ? -static_cast<long long>(biasMinutes) : static_cast<long long>(biasMinutes);
    const ULONGLONG delta = static_cast<ULONGLONG>(minutes < 0 ? -minutes : minutes) * kTicksPerMinute;
    if (minutes >= 0) {
        if (in > std::numeric_limits<ULONGLONG>::max() - delta) return false;
        *out = in + delta;
    } else {
        if (in < delta) return false;
        *out = in - delta;
    }
    return true;
}

// ---- calendar conversions -------------------------------------------------------------------------

BOOL Invalid() {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
}

}  // namespace

extern "C" BOOL SystemTimeToFileTime(const SYSTEMTIME* st, LPFILETIME ft) {
    if (st == nullptr || ft == nullptr) return Invalid();
    // wDayOfWeek is ignored, as on Windows.
    if (st->wYear < 1601 || st->wYear > 30828) return Invalid();
    if (st->wMonth < 1 || st->wMonth > 12) return Invalid();
    if (st->wDay < 1 || st->wDay > DaysInMonth(st->wYear, st->wMonth)) return Invalid();
    if (st->wHour > 23 || st->wMinute > 59 || st->wSecond > 59 || st->wMilliseconds > 999) return Invalid();
    const long long days = DaysFromCivil(st->wYear, st->wMonth, st->wDay) + kDays1601To1970;
    const ULONGLONG ticks = static_cast<ULONGLONG>(days) * kTicksPerDay +
                            (st->wHour * 3600ULL + st->wMinute * 60ULL + st->wSecond) * com::kTicksPerSecond +
                            st->wMilliseconds * kTicksPerMillisecond;
    // Year 30828 counts up to 09-14 02:48:05.477, the last millisecond FileTimeToSystemTime gives.
    if (ticks > kMaxFileTime) return Invalid();
    *ft = U64ToFileTime(ticks);
    return TRUE;
}

extern "C" BOOL FileTimeToSystemTime(const FILETIME* ft, LPSYSTEMTIME st) {
    if (ft == nullptr || st == nullptr) return Invalid();
    const ULONGLONG ticks = FileTimeToU64(*ft);
    if (ticks > kMaxFileTime) return Invalid();
    const long long days = static_cast<long long>(ticks / kTicksPerDay);
    const ULONGLONG inDay = ticks % kTicksPerDay;
    const Civil c = CivilFromDays(days - kDays1601To1970);
    SYSTEMTIME r{};
    r.wYear = static_cast<WORD>(c.y);
    r.wMonth = static_cast<WORD>(c.m);
    r.wDay = static_cast<WORD>(c.d);
    r.wDayOfWeek = static_cast<WORD>((days + 1) % 7);  // 1601-01-01 was a Monday; Sunday is 0
    const ULONGLONG secs = inDay / com::kTicksPerSecond;
    r.wHour = static_cast<WORD>(secs / 3600);
    r.wMinute = static_cast<WORD>(secs / 60 % 60);
    r.wSecond = static_cast<WORD>(secs % 60);
    r.wMilliseconds = static_cast<WORD>(inDay % com::kTicksPerSecond / kTicksPerMillisecond);
    *st = r;
    return TRUE;
}

extern "C" BOOL FileTimeToLocalFileTime(const FILETIME* ft, LPFILETIME localFt) {
    if (ft == nullptr || localFt == nullptr) return Invalid();
    ULONGLONG out;
    if (!ApplyBias(FileTimeToU64(*ft), com::CurrentBiasMinutes(), true, &out)) return Invalid();
    *localFt = U64ToFileTime(out);
    return TRUE;
}

extern "C" BOOL LocalFileTimeToFileTime(const FILETIME* localFt, LPFILETIME ft) {
    if (localFt == nullptr || ft == nullptr) return Invalid();
    ULONGLONG out;
    if (!ApplyBias(FileTimeToU64(*localFt), com::CurrentBiasMinutes(), false, &out)) return Invalid();
    *ft = U64ToFileTime(out);
    return TRUE;
}

extern "C" void GetSystemTimeAsFileTime(LPFILETIME ft) {
    if (ft == nullptr) return;
    *ft = U64ToFileTime(com::NowUtcTicks());
}

extern "C" void GetSystemTime(LPSYSTEMTIME st) {
    if (st == nullptr) return;
    const FILETIME ft = U64ToFileTime(com::NowUtcTicks());
    if (!FileTimeToSystemTime(&ft, st)) *st = SYSTEMTIME{};
}

extern "C" void GetLocalTime(LPSYSTEMTIME st) {
    if (st == nullptr) return;
    const auto clock = CurrentClock();
    const ULONGLONG now = NowFrom(*clock);
    ULONGLONG local;
    // A clock set next to the ends of the range may not convert; then the UTC fields are given.
    if (!ApplyBias(now, BiasFrom(*clock, now), true, &local)) local = now;
    const FILETIME ft = U64ToFileTime(local);
    if (!FileTimeToSystemTime(&ft, st)) *st = SYSTEMTIME{};
}

// ---- the clock's interface ----------------------------------------------------------------------

namespace com {

void SetClock(Clock clock) {
    std::lock_guard<std::mutex> lock(g_clockMutex);
    // An empty member keeps the system's behaviour for that member.
    if (!clock.nowUtc) clock.nowUtc = SystemNowUtc;
    if (!clock.biasMinutesAt) clock.biasMinutesAt = SystemBiasAt;
    ClockSlot() = std::make_shared<const Clock>(std::move(clock));
}

void SetFixedNow(ULONGLONG utcTicks) {
    EditClock([utcTicks](Clock& c) { c.nowUtc = [utcTicks] { return utcTicks; }; });
}

void SetFixedBiasMinutes(LONG biasMinutes) {
    EditClock(
        [biasMinutes](Clock& c) { c.biasMinutesAt = [biasMinutes](ULONGLONG) { return biasMinutes; }; });
}

void ResetClock() {
    std::lock_guard<std::mutex> lock(g_clockMutex);
    ClockSlot() = std::make_shared<const Clock>(DefaultClock());
}

ULONGLONG NowUtcTicks() {
    return NowFrom(*CurrentClock());
}

LONG CurrentBiasMinutes() {
    const auto clock = CurrentClock();
    return BiasFrom(*clock, NowFrom(*clock));
}

LONG BiasMinutesAt(ULONGLONG utcTicks) {
    return BiasFrom(*CurrentClock(), utcTicks);
}

}  // namespace com
