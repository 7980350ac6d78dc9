// Relative time strings and the calendar arithmetic under them.
#include <gtest/gtest.h>

#include "servers/simulation/engine/reltime.h"
#include "servers/simulation/engine/timeutil.h"

namespace sim {
namespace {

Ticks At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
    CivilTime c{y, mo, d, static_cast<Ticks>(((h * 60 + mi) * 60 + s)) * kTicksPerSecond + ms * kTicksPerMs};
    return FromCivil(c).value();
}

struct RelCase {
    const char16_t* text;
    Ticks now;
    Ticks expected;
};

class RelativeTime : public ::testing::TestWithParam<RelCase> {};

TEST_P(RelativeTime, Resolves) {
    const RelCase& c = GetParam();
    Ticks t = 0;
    ASSERT_EQ(ParseRelativeTime(c.text, c.now, &t), RelTimeStatus::Ok);
    EXPECT_EQ(t, c.expected) << "got " << ToCivil(t).year << "-" << ToCivil(t).month << "-" << ToCivil(t).day
                             << " +" << ToCivil(t).timeOfDay;
}

// A Friday afternoon in a leap year.
const Ticks kNow = At(2024, 3, 15, 13, 45, 30, 250);

INSTANTIATE_TEST_SUITE_P(
    Keywords, RelativeTime,
    ::testing::Values(RelCase{u"NOW", kNow, kNow}, RelCase{u"SECOND", kNow, At(2024, 3, 15, 13, 45, 30)},
                      RelCase{u"MINUTE", kNow, At(2024, 3, 15, 13, 45)},
                      RelCase{u"HOUR", kNow, At(2024, 3, 15, 13)}, RelCase{u"DAY", kNow, At(2024, 3, 15)},
                      RelCase{u"WEEK", kNow, At(2024, 3, 10)},  // weeks start on Sunday
                      RelCase{u"WEEK", At(2024, 3, 10, 8), At(2024, 3, 10)},
                      RelCase{u"MONTH", kNow, At(2024, 3, 1)}, RelCase{u"YEAR", kNow, At(2024, 1, 1)}));

INSTANTIATE_TEST_SUITE_P(
    StandardExamples, RelativeTime,
    ::testing::Values(RelCase{u"DAY-1D+7H30M", kNow, At(2024, 3, 14, 7, 30)},
                      RelCase{u"NOW-1H15M", kNow, At(2024, 3, 15, 12, 30, 30, 250)},
                      RelCase{u"YEAR+3MO", kNow, At(2024, 4, 1)},
                      // MO as a keyword and a lower-case unit: the last day of last month, 05:00.
                      RelCase{u"MO-1D+5h", kNow, At(2024, 2, 29, 5)}));

INSTANTIATE_TEST_SUITE_P(Offsets, RelativeTime,
                         ::testing::Values(RelCase{u"now-1h", kNow, At(2024, 3, 15, 12, 45, 30, 250)},
                                           RelCase{u" NOW - 1 H 3 0 M ", kNow,
                                                   At(2024, 3, 15, 12, 15, 30, 250)},
                                           RelCase{u"NOW1H", kNow, At(2024, 3, 15, 14, 45, 30, 250)},
                                           RelCase{u"NOW+1W", kNow, At(2024, 3, 22, 13, 45, 30, 250)},
                                           RelCase{u"NOW-1D2H", kNow, At(2024, 3, 14, 11, 45, 30, 250)},
                                           RelCase{u"NOW+1D-2H3M", kNow, At(2024, 3, 16, 11, 42, 30, 250)},
                                           RelCase{u"SECOND-90S", kNow, At(2024, 3, 15, 13, 44)},
                                           RelCase{u"MONTH-1MO", kNow, At(2024, 2, 1)},
                                           RelCase{u"DAY-1Y", kNow, At(2023, 3, 15)}));

INSTANTIATE_TEST_SUITE_P(MonthEnds, RelativeTime,
                         ::testing::Values(RelCase{u"NOW+1MO", At(2024, 1, 31, 10), At(2024, 2, 29, 10)},
                                           RelCase{u"NOW+1MO", At(2023, 1, 29, 10), At(2023, 2, 28, 10)},
                                           // Two months in one step: 31 May, not 30 May.
                                           RelCase{u"NOW+2MO", At(2002, 3, 31), At(2002, 5, 31)},
                                           RelCase{u"NOW+1Y", At(2000, 2, 29, 6), At(2001, 2, 28, 6)},
                                           RelCase{u"NOW-1MO", At(2024, 3, 31, 23, 59, 59, 999),
                                                   At(2024, 2, 29, 23, 59, 59, 999)},
                                           RelCase{u"NOW-13MO", At(2024, 1, 15), At(2022, 12, 15)}));

struct BadCase {
    const char16_t* text;
    Ticks now;
};

class RelativeTimeRejects : public ::testing::TestWithParam<BadCase> {};

TEST_P(RelativeTimeRejects, AsInvalid) {
    Ticks t = 12345;
    EXPECT_EQ(ParseRelativeTime(GetParam().text, GetParam().now, &t), RelTimeStatus::Invalid);
    EXPECT_EQ(t, 12345u) << "the result is left alone";
}

INSTANTIATE_TEST_SUITE_P(Malformed, RelativeTimeRejects,
                         ::testing::Values(BadCase{u"1H", kNow}, BadCase{u"TODAY", kNow},
                                           BadCase{u"NOW-H", kNow}, BadCase{u"NOW-1.5H", kNow},
                                           BadCase{u"NOW+-1H", kNow}, BadCase{u"NOW-1X", kNow},
                                           BadCase{u"NOW-1", kNow}, BadCase{u"NOWW", kNow},
                                           BadCase{u"NOW-", kNow},
                                           BadCase{u"NOW-99999999999999999999D", kNow}));

INSTANTIATE_TEST_SUITE_P(OutOfRange, RelativeTimeRejects,
                         ::testing::Values(BadCase{u"YEAR-500Y", kNow}, BadCase{u"NOW+30000Y", kNow},
                                           BadCase{u"NOW-500000W", kNow},
                                           BadCase{u"WEEK", At(1601, 1, 2)},  // that week began in 1600
                                           BadCase{u"NOW+1000000000D", kNow}));

TEST(RelativeTimeEmpty, MeansNotGiven) {
    Ticks t = 0;
    EXPECT_EQ(ParseRelativeTime(u"", kNow, &t), RelTimeStatus::Empty);
    EXPECT_EQ(ParseRelativeTime(u"  \t", kNow, &t), RelTimeStatus::Empty);
}

TEST(Calendar, RoundTripsAcrossTheRange) {
    for (Ticks t :
         {Ticks{0}, At(1900, 2, 28, 23, 59, 59), At(2000, 2, 29), At(9999, 12, 31, 23, 59, 59), kMaxTicks}) {
        CivilTime c = ToCivil(t);
        EXPECT_EQ(FromCivil(c), t);
    }
    EXPECT_EQ(ToCivil(kMaxTicks).year, 30828);
    EXPECT_EQ(DayOfWeek(0), 1);                // 1601-01-01 was a Monday
    EXPECT_EQ(DayOfWeek(At(2024, 3, 10)), 0);  // a Sunday
}

TEST(Calendar, OleDatesMatchTheirEpoch) {
    EXPECT_DOUBLE_EQ(TicksToOleDate(At(1899, 12, 30)), 0.0);
    EXPECT_DOUBLE_EQ(TicksToOleDate(At(1900, 1, 1, 18)), 2.75);
    // Before 1899-12-30 the fraction still counts forward from midnight.
    EXPECT_DOUBLE_EQ(TicksToOleDate(At(1899, 12, 29, 6)), -1.25);
    EXPECT_EQ(OleDateToTicks(-1.25), At(1899, 12, 29, 6));
    EXPECT_EQ(OleDateToTicks(45366.5), At(2024, 3, 15, 12));
}

}  // namespace
}  // namespace sim
