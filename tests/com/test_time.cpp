// Time services: calendar conversions with Windows validation, local conversions with the bias in
// force now, and the injectable clock.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "com/text.h"
#include "com/timeapi.h"

namespace {

SYSTEMTIME St(WORD y, WORD mo, WORD d, WORD h = 0, WORD mi = 0, WORD s = 0, WORD ms = 0, WORD dow = 0) {
    SYSTEMTIME st{};
    st.wYear = y;
    st.wMonth = mo;
    st.wDay = d;
    st.wHour = h;
    st.wMinute = mi;
    st.wSecond = s;
    st.wMilliseconds = ms;
    st.wDayOfWeek = dow;
    return st;
}

std::optional<ULONGLONG> ToTicks(const SYSTEMTIME& st) {
    FILETIME ft{};
    if (!SystemTimeToFileTime(&st, &ft)) return std::nullopt;
    return FileTimeToU64(ft);
}

std::optional<SYSTEMTIME> ToSt(ULONGLONG ticks) {
    const FILETIME ft = U64ToFileTime(ticks);
    SYSTEMTIME st{};
    if (!FileTimeToSystemTime(&ft, &st)) return std::nullopt;
    return st;
}

constexpr ULONGLONG kExample = 128799543072500000ULL;  // 2009-02-24 13:05:07.250 UTC
constexpr ULONGLONG kHour = 36000000000ULL;

// Every test leaves the clock as the process found it.
class Time : public ::testing::Test {
protected:
    void TearDown() override { com::ResetClock(); }
};

TEST_F(Time, TheExampleInstant) {
    EXPECT_EQ(ToTicks(St(2009, 2, 24, 13, 5, 7, 250)), kExample);
    const auto st = ToSt(kExample);
    ASSERT_TRUE(st);
    EXPECT_EQ(st->wYear, 2009);
    EXPECT_EQ(st->wMonth, 2);
    EXPECT_EQ(st->wDay, 24);
    EXPECT_EQ(st->wHour, 13);
    EXPECT_EQ(st->wMinute, 5);
    EXPECT_EQ(st->wSecond, 7);
    EXPECT_EQ(st->wMilliseconds, 250);
    EXPECT_EQ(st->wDayOfWeek, 2);  // a Tuesday
}

TEST_F(Time, FixedPoints) {
    EXPECT_EQ(ToTicks(St(1601, 1, 1)), 0u);
    EXPECT_EQ(ToTicks(St(1970, 1, 1)), com::kFileTimeUnixEpoch);
    EXPECT_EQ(ToSt(0)->wDayOfWeek, 1);  // 1601-01-01 was a Monday
    struct Dow {
        SYSTEMTIME st;
        WORD dow;
    };
    const Dow days[] = {{St(2000, 1, 1), 6},
                        {St(2024, 2, 29), 4},
                        {St(1970, 1, 1), 4},
                        {St(2009, 2, 22), 0},
                        {St(30827, 12, 31), 5}};
    for (const auto& d : days) {
        const auto t = ToTicks(d.st);
        ASSERT_TRUE(t);
        EXPECT_EQ(ToSt(*t)->wDayOfWeek, d.dow) << d.st.wYear << "-" << d.st.wMonth << "-" << d.st.wDay;
    }
}

TEST_F(Time, WeekdayIsIgnoredOnInputAndTicksAreTruncatedToMilliseconds) {
    EXPECT_EQ(ToTicks(St(2009, 2, 24, 13, 5, 7, 250, 6)), kExample);
    EXPECT_EQ(ToTicks(St(2009, 2, 24, 13, 5, 7, 250, 65535)), kExample);
    const auto st = ToSt(kExample + 9999);  // 0.9999 ms more
    EXPECT_EQ(st->wMilliseconds, 250);
}

TEST_F(Time, RangeEnds) {
    const auto last = ToTicks(St(30827, 12, 31, 23, 59, 59, 999));
    ASSERT_TRUE(last);
    EXPECT_LT(*last, 0x7FFFFFFFFFFFFFFFULL);
    const auto top = ToSt(0x7FFFFFFFFFFFFFFFULL);
    ASSERT_TRUE(top);
    EXPECT_EQ(top->wYear, 30828);
    EXPECT_EQ(top->wMonth, 9);
    EXPECT_EQ(top->wDay, 14);
    EXPECT_EQ(top->wHour, 2);
    EXPECT_EQ(top->wMinute, 48);
    EXPECT_EQ(top->wSecond, 5);
    EXPECT_EQ(top->wMilliseconds, 477);
    EXPECT_FALSE(ToSt(0x8000000000000000ULL));
    EXPECT_FALSE(ToSt(0xFFFFFFFFFFFFFFFFULL));
    // ...and the last millisecond converts back.
    EXPECT_EQ(ToTicks(*top), 0x7FFFFFFFFFFFE950ULL);
}

TEST_F(Time, FailedConversionsSetTheThreadsLastError) {
    SetLastError(ERROR_SUCCESS);
    const SYSTEMTIME good = St(2009, 2, 24), bad = St(2009, 2, 30);
    FILETIME ft{}, huge = U64ToFileTime(0xFFFFFFFFFFFFFFFFULL), zero{};
    SYSTEMTIME st{};
    EXPECT_TRUE(SystemTimeToFileTime(&good, &ft));
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    SetLastError(5);
    EXPECT_TRUE(SystemTimeToFileTime(&good, &ft));
    EXPECT_EQ(GetLastError(), 5u);  // success leaves it alone
    const std::pair<const char*, std::function<BOOL()>> failures[] = {
        {"calendar", [&] { return SystemTimeToFileTime(&bad, &ft); }},
        {"above the range", [&] { return FileTimeToSystemTime(&huge, &st); }},
        {"null", [&] { return FileTimeToSystemTime(nullptr, &st); }},
        {"local overflow",
         [&] {
             com::SetFixedBiasMinutes(-60);
             return FileTimeToLocalFileTime(&huge, &ft);
         }},
        {"utc underflow",
         [&] {
             com::SetFixedBiasMinutes(-60);
             return LocalFileTimeToFileTime(&zero, &ft);
         }},
    };
    for (const auto& [name, call] : failures) {
        SetLastError(ERROR_SUCCESS);
        EXPECT_FALSE(call()) << name;
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER) << name;
    }
    // Per thread: another thread starts clean and does not see this one's code.
    DWORD other = 1;
    std::thread([&] { other = GetLastError(); }).join();
    EXPECT_EQ(other, ERROR_SUCCESS);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    SetLastError(ERROR_SUCCESS);
}

TEST_F(Time, InvalidCalendarFieldsFail) {
    const SYSTEMTIME bad[] = {
        St(2009, 0, 1),
        St(2009, 13, 1),
        St(2009, 1, 0),
        St(2009, 1, 32),
        St(2009, 2, 29),
        St(1900, 2, 29),
        St(2009, 4, 31),
        St(2009, 6, 31),
        St(2009, 9, 31),
        St(2009, 11, 31),
        St(2009, 2, 24, 24),
        St(2009, 2, 24, 0, 60),
        St(2009, 2, 24, 0, 0, 60),
        St(2009, 2, 24, 0, 0, 0, 1000),
        St(1600, 12, 31),
        St(30828, 9, 14, 2, 48, 5, 478),  // past 0x7FFFFFFFFFFFFFFF
        St(30828, 9, 15),
        St(30829, 1, 1),
        St(0, 1, 1),
        St(65535, 65535, 65535, 65535, 65535, 65535, 65535),
    };
    for (const auto& st : bad) {
        FILETIME ft{0x11111111, 0x22222222};
        SetLastError(ERROR_SUCCESS);
        EXPECT_FALSE(SystemTimeToFileTime(&st, &ft))
            << st.wYear << "-" << st.wMonth << "-" << st.wDay << " " << st.wHour << ":" << st.wMinute << ":"
            << st.wSecond << "." << st.wMilliseconds;
        EXPECT_EQ(ft.dwLowDateTime, 0x11111111u);  // untouched on failure
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    }
    const SYSTEMTIME good[] = {
        St(2008, 2, 29), St(2000, 2, 29),   St(2009, 1, 31), St(2009, 12, 31, 23, 59, 59, 999),
        St(1601, 1, 1),  St(30827, 12, 31), St(30828, 1, 1), St(30828, 9, 14, 2, 48, 5, 477)};
    for (const auto& st : good) EXPECT_TRUE(ToTicks(st)) << st.wYear << "-" << st.wMonth << "-" << st.wDay;
}

TEST_F(Time, NullPointers) {
    SYSTEMTIME st = St(2009, 2, 24);
    FILETIME ft{};
    EXPECT_FALSE(SystemTimeToFileTime(nullptr, &ft));
    EXPECT_FALSE(SystemTimeToFileTime(&st, nullptr));
    EXPECT_FALSE(FileTimeToSystemTime(nullptr, &st));
    EXPECT_FALSE(FileTimeToSystemTime(&ft, nullptr));
    EXPECT_FALSE(FileTimeToLocalFileTime(nullptr, &ft));
    EXPECT_FALSE(FileTimeToLocalFileTime(&ft, nullptr));
    EXPECT_FALSE(LocalFileTimeToFileTime(nullptr, &ft));
    EXPECT_FALSE(LocalFileTimeToFileTime(&ft, nullptr));
    GetSystemTimeAsFileTime(nullptr);
    GetSystemTime(nullptr);
    GetLocalTime(nullptr);
}

TEST_F(Time, RoundTripOverTheWholeRange) {
    // Every instant FileTimeToSystemTime gives converts back, up to the end of 30828-09-14 02:48:05.477.
    std::mt19937_64 rng(20090224);
    std::uniform_int_distribution<ULONGLONG> any(0, 0x7FFFFFFFFFFFFFFFULL);
    for (int i = 0; i < 20000; ++i) {
        const ULONGLONG t = any(rng);
        const auto st = ToSt(t);
        ASSERT_TRUE(st) << t;
        const auto back = ToTicks(*st);
        ASSERT_TRUE(back) << t;
        EXPECT_EQ(*back, t - t % 10000) << t;
    }
}

TEST_F(Time, LocalConversionsUseTheBiasInForceNow) {
    com::SetFixedNow(kExample);
    com::SetFixedBiasMinutes(-60);  // UTC+1
    EXPECT_EQ(com::CurrentBiasMinutes(), -60);
    FILETIME utc = U64ToFileTime(kExample);
    FILETIME local{};
    ASSERT_TRUE(FileTimeToLocalFileTime(&utc, &local));
    EXPECT_EQ(FileTimeToU64(local), kExample + kHour);
    FILETIME back{};
    ASSERT_TRUE(LocalFileTimeToFileTime(&local, &back));
    EXPECT_EQ(FileTimeToU64(back), kExample);

    com::SetFixedBiasMinutes(300);  // UTC-5
    ASSERT_TRUE(FileTimeToLocalFileTime(&utc, &local));
    EXPECT_EQ(FileTimeToU64(local), kExample - 5 * kHour);

    // In place.
    FILETIME same = utc;
    ASSERT_TRUE(FileTimeToLocalFileTime(&same, &same));
    EXPECT_EQ(FileTimeToU64(same), kExample - 5 * kHour);
    ASSERT_TRUE(LocalFileTimeToFileTime(&same, &same));
    EXPECT_EQ(FileTimeToU64(same), kExample);
}

TEST_F(Time, AWinterInstantSeenInSummerGetsSummerTime) {
    // A zone with summer time: bias -120 from April to September, -60 otherwise.
    com::Clock clock;
    clock.nowUtc = [] { return *ToTicks(St(2009, 7, 1, 12)); };
    clock.biasMinutesAt = [](ULONGLONG utc) {
        const WORD m = ToSt(utc)->wMonth;
        return m >= 4 && m <= 9 ? LONG{-120} : LONG{-60};
    };
    com::SetClock(clock);
    EXPECT_EQ(com::CurrentBiasMinutes(), -120);
    FILETIME winter = U64ToFileTime(kExample), local{};
    ASSERT_TRUE(FileTimeToLocalFileTime(&winter, &local));
    EXPECT_EQ(FileTimeToU64(local), kExample + 2 * kHour);

    com::SetFixedNow(*ToTicks(St(2009, 12, 1)));  // keeps the zone, moves "now" into winter
    EXPECT_EQ(com::CurrentBiasMinutes(), -60);
    ASSERT_TRUE(FileTimeToLocalFileTime(&winter, &local));
    EXPECT_EQ(FileTimeToU64(local), kExample + kHour);
}

TEST_F(Time, LocalConversionsThatWouldWrapFail) {
    com::SetFixedBiasMinutes(60);  // local = UTC - 1 h
    FILETIME zero = U64ToFileTime(0), out{7, 7};
    EXPECT_FALSE(FileTimeToLocalFileTime(&zero, &out));
    EXPECT_EQ(out.dwLowDateTime, 7u);
    FILETIME nearTop = U64ToFileTime(0xFFFFFFFFFFFFFFFFULL - kHour / 2);
    EXPECT_FALSE(LocalFileTimeToFileTime(&nearTop, &out));
    FILETIME hour = U64ToFileTime(kHour);
    EXPECT_TRUE(FileTimeToLocalFileTime(&hour, &out));
    EXPECT_EQ(FileTimeToU64(out), 0u);

    com::SetFixedBiasMinutes(-60);
    FILETIME top = U64ToFileTime(0xFFFFFFFFFFFFFFFFULL);
    EXPECT_FALSE(FileTimeToLocalFileTime(&top, &out));
    EXPECT_FALSE(LocalFileTimeToFileTime(&zero, &out));

    // Extreme biases from a custom clock do not overflow the arithmetic.
    com::SetFixedBiasMinutes(INT32_MIN);
    FILETIME mid = U64ToFileTime(kExample);
    EXPECT_FALSE(LocalFileTimeToFileTime(&mid, &out));
    EXPECT_TRUE(FileTimeToLocalFileTime(&mid, &out));
    com::SetFixedBiasMinutes(INT32_MAX);
    EXPECT_FALSE(FileTimeToLocalFileTime(&mid, &out));
}

TEST_F(Time, NowComesFromTheClock) {
    com::SetFixedNow(kExample);
    com::SetFixedBiasMinutes(-90);
    EXPECT_EQ(com::NowUtcTicks(), kExample);
    FILETIME ft{};
    GetSystemTimeAsFileTime(&ft);
    EXPECT_EQ(FileTimeToU64(ft), kExample);
    SYSTEMTIME st{};
    GetSystemTime(&st);
    EXPECT_EQ(st.wHour, 13);
    EXPECT_EQ(st.wMinute, 5);
    EXPECT_EQ(st.wMilliseconds, 250);
    GetLocalTime(&st);
    EXPECT_EQ(st.wHour, 14);
    EXPECT_EQ(st.wMinute, 35);
    EXPECT_EQ(st.wDay, 24);
    EXPECT_EQ(st.wDayOfWeek, 2);

    com::ResetClock();
    const ULONGLONG expected =
        static_cast<ULONGLONG>(std::time(nullptr)) * com::kTicksPerSecond + com::kFileTimeUnixEpoch;
    const ULONGLONG now = com::NowUtcTicks();
    EXPECT_LT(now > expected ? now - expected : expected - now, 5 * com::kTicksPerSecond);
}

TEST_F(Time, EmptyClockMembersMeanTheSystem) {
    com::SetClock(com::Clock{});
    const ULONGLONG expected =
        static_cast<ULONGLONG>(std::time(nullptr)) * com::kTicksPerSecond + com::kFileTimeUnixEpoch;
    const ULONGLONG now = com::NowUtcTicks();
    EXPECT_LT(now > expected ? now - expected : expected - now, 5 * com::kTicksPerSecond);
    (void)com::CurrentBiasMinutes();
}

// The dialogs' way in (scan, calendar check, local to UTC) and the output's way out (UTC to local,
// split, format): a moment entered and read back shows the same clock time, whatever the bias.
bool TimeTextToFileTime(std::u16string_view text, FILETIME* utc) {
    SYSTEMTIME st{};
    if (com::ScanTimeText(text, &st.wYear, &st.wMonth, &st.wDay, &st.wHour, &st.wMinute, &st.wSecond,
                          &st.wMilliseconds) != 7)
        return false;
    FILETIME local{};
    return SystemTimeToFileTime(&st, &local) && LocalFileTimeToFileTime(&local, utc);
}

std::u16string FormatTimestamp(FILETIME utc) {
    FILETIME local{};
    SYSTEMTIME st{};
    if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToSystemTime(&local, &st)) return u"?";
    return com::FormatW(u"%04d/%02d/%02d %02d:%02d:%02d.%03d",
                        {st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds});
}

TEST_F(Time, TimeTextRoundTrip) {
    com::SetFixedNow(kExample);
    for (LONG bias : {0, -60, 300, -330, 720, -840}) {
        com::SetFixedBiasMinutes(bias);
        FILETIME utc{};
        ASSERT_TRUE(TimeTextToFileTime(u"2009/02/24 13:05:07.250", &utc)) << bias;
        EXPECT_EQ(FileTimeToU64(utc), kExample + static_cast<long long>(bias) * 60 * 10000000LL) << bias;
        EXPECT_EQ(FormatTimestamp(utc), u"2009/02/24 13:05:07.250") << bias;
        ASSERT_TRUE(TimeTextToFileTime(u"2009/1/5 3:4:5.6", &utc));
        EXPECT_EQ(FormatTimestamp(utc), u"2009/01/05 03:04:05.006") << bias;
    }
    FILETIME utc{};
    EXPECT_FALSE(TimeTextToFileTime(u"2009/02/30 10:00:00.000", &utc));  // no such day
    EXPECT_FALSE(TimeTextToFileTime(u"NOW", &utc));
    EXPECT_FALSE(TimeTextToFileTime(u"-001/-1/-1 -1:-1:-1.-01", &utc));  // pickers without a value
    EXPECT_FALSE(TimeTextToFileTime(u"2009/02/24 10:00:00", &utc));      // six fields only
    // The first moment cannot be moved east of UTC: local 1601-01-01 00:00 at UTC+1 is before 1601.
    com::SetFixedBiasMinutes(-60);
    EXPECT_FALSE(TimeTextToFileTime(u"1601/01/01 00:00:00.000", &utc));
}

TEST_F(Time, ClockChangesWhileOtherThreadsRead) {
    com::SetFixedNow(kExample);
    com::SetFixedBiasMinutes(-60);
    std::atomic<bool> stop{false};
    std::atomic<int> odd{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 4; ++t)
        readers.emplace_back([&] {
            FILETIME utc = U64ToFileTime(kExample), local{};
            while (!stop.load()) {
                const LONG b = com::CurrentBiasMinutes();
                if (b != -60 && b != -120) ++odd;
                if (!FileTimeToLocalFileTime(&utc, &local)) ++odd;
                const ULONGLONG l = FileTimeToU64(local);
                if (l != kExample + kHour && l != kExample + 2 * kHour) ++odd;
            }
        });
    for (int i = 0; i < 2000; ++i) com::SetFixedBiasMinutes(i % 2 ? -60 : -120);
    stop = true;
    for (auto& r : readers) r.join();
    EXPECT_EQ(odd.load(), 0);
}

// The default bias is the C library's, which follows TZ.
class TimeZoneEnv : public Time {
protected:
    void SetUp() override {
        const char* tz = std::getenv("TZ");
        if (tz) m_saved = tz;
    }
    void TearDown() override {
        if (m_saved)
            setenv("TZ", m_saved->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
        Time::TearDown();
    }
    std::optional<std::string> m_saved;
};

TEST_F(TimeZoneEnv, DefaultBiasFollowsTz) {
    setenv("TZ", "UTC0", 1);
    com::ResetClock();
    EXPECT_EQ(com::CurrentBiasMinutes(), 0);

    setenv("TZ", "XYZ-1", 1);  // POSIX: one hour east of UTC, no summer time
    EXPECT_EQ(com::CurrentBiasMinutes(), -60);

    setenv("TZ", "EST5EDT,M3.2.0,M11.1.0", 1);  // rules in the variable itself: no zone files needed
    com::SetFixedNow(*ToTicks(St(2009, 7, 1, 12)));
    EXPECT_EQ(com::CurrentBiasMinutes(), 240);
    FILETIME utc = U64ToFileTime(kExample), local{};  // a February instant, seen in July
    ASSERT_TRUE(FileTimeToLocalFileTime(&utc, &local));
    EXPECT_EQ(FileTimeToU64(local), kExample - 4 * kHour);
    com::SetFixedNow(*ToTicks(St(2009, 1, 15, 12)));
    EXPECT_EQ(com::CurrentBiasMinutes(), 300);
    ASSERT_TRUE(FileTimeToLocalFileTime(&utc, &local));
    EXPECT_EQ(FileTimeToU64(local), kExample - 5 * kHour);

    setenv("TZ", "IST-5:30", 1);
    EXPECT_EQ(com::CurrentBiasMinutes(), -330);
}

}  // namespace
