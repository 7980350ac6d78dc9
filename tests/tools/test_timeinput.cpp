// The time and duration forms the command line reads.
#include <gtest/gtest.h>

#include "tools/vistrel/timeinput.h"

using vistrel::ParseDuration;
using vistrel::ParseTimeInput;
using vistrel::TimeInput;

namespace {

constexpr ULONGLONG kFiveAm = 133485588000000000ULL;  // 2024-01-01 05:00:00 UTC
constexpr ULONGLONG kS = 10000000ULL;

TEST(TimeInput, AbsoluteForms) {
    struct Case {
        const char* text;
        ULONGLONG ticks;
    } cases[] = {
        {"2024-01-01T05:00:00Z", kFiveAm},
        {"2024-01-01 05:00:00z", kFiveAm},
        {"2024-01-01T06:00:00+01:00", kFiveAm},
        {"2024-01-01T00:30:00-0430", kFiveAm},
        {"2024-01-01T05:00Z", kFiveAm},
        {"2024-01-01T05:00:00.1234567Z", kFiveAm + 1234567},
        {"2024-01-01T05:00:00,5Z", kFiveAm + 5000000},
        {"1704085200", kFiveAm},
        {"@1704085200.25", kFiveAm + 2500000},
        {"  1704085200  ", kFiveAm},
        {"-11644473600", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::string err;
        auto t = ParseTimeInput(c.text, &err);
        ASSERT_TRUE(t) << err;
        EXPECT_EQ(t->kind, TimeInput::Kind::Utc);
        EXPECT_EQ(t->utcTicks, c.ticks);
    }
}

TEST(TimeInput, LocalTextAndRelativeTimes) {
    std::string err;
    auto t = ParseTimeInput("2024/02/29 13:05:07.250", &err);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->kind, TimeInput::Kind::Local);
    EXPECT_EQ(t->local.wYear, 2024);
    EXPECT_EQ(t->local.wDay, 29);
    EXPECT_EQ(t->local.wMilliseconds, 250);
    t = ParseTimeInput("2024/01/01", &err);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->local.wHour, 0);

    for (const char* rel : {"NOW", "now-1h", "DAY+8H", "MONTH-1MO+2D", "YEAR - 1Y", "week+1w-3d"}) {
        t = ParseTimeInput(rel, &err);
        ASSERT_TRUE(t) << rel;
        EXPECT_EQ(t->kind, TimeInput::Kind::Relative);
    }
}

TEST(TimeInput, UnreadableTimesSayWhy) {
    for (const char* bad :
         {"", "yesterday", "NOW-1", "NOW-1X", "NOW+-1H", "2024/02/30 00:00:00", "2024/13/01",
          "2024-01-01T05:00:00", "2024-01-01T25:00:00Z", "2024-01-01T05:00:00+24:00", "12abc",
          "1600/12/31 23:59:59", "99999999999999999999"}) {
        std::string err;
        EXPECT_FALSE(ParseTimeInput(bad, &err)) << bad;
        EXPECT_FALSE(err.empty()) << bad;
    }
}

TEST(TimeInput, Durations) {
    EXPECT_EQ(ParseDuration("10s"), 10 * kS);
    EXPECT_EQ(ParseDuration("1h30m"), 5400 * kS);
    EXPECT_EQ(ParseDuration("250ms"), 2500000u);
    EXPECT_EQ(ParseDuration("00:15:00"), 900 * kS);
    EXPECT_EQ(ParseDuration("1:00:00.5"), 3600 * kS + 5000000);
    EXPECT_EQ(ParseDuration("0"), 0u);
    EXPECT_EQ(ParseDuration("2d"), 2 * 86400 * kS);
    for (const char* bad : {"", "h", "10x", "1h-5m", "99999999999999999w", "1:60:00"})
        EXPECT_FALSE(ParseDuration(bad)) << bad;
}

}  // namespace
