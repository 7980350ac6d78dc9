// Time texts into OPCHDA_TIME records, with the runtime's clock and time zone fixed.
#include <gtest/gtest.h>

#include <string>

#include "com/objbase.h"
#include "com/timeapi.h"
#include "dialog_fakes.h"
#include "hda/hdatime.h"

namespace {

using dlgtest::DialogTest;

class HdaTimeTest : public DialogTest {};

struct TextCase {
    const char16_t* text;
    LONG bias;        // minutes, local = UTC - bias
    bool moment;      // read as a moment?
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, ms = 0;  // the UTC moment when it is one
};

TEST_F(HdaTimeTest, TimeTextBecomesUtcOnlyWhenAllSevenFieldsMakeACalendarMoment) {
    const TextCase cases[] = {
        {u"2009/02/24 10:00:00.000", 0, true, 2009, 2, 24, 10, 0, 0, 0},
        {u"2009/02/24 10:00:00.000", -60, true, 2009, 2, 24, 9, 0, 0, 0},      // UTC+1
        {u"2009/02/24 22:30:00.000", 300, true, 2009, 2, 25, 3, 30, 0, 0},     // UTC-5, next day in UTC
        {u"2009/02/24 13:05:07.250", 0, true, 2009, 2, 24, 13, 5, 7, 250},
        {u"2008/02/29 23:59:59.999", 0, true, 2008, 2, 29, 23, 59, 59, 999},   // leap day
        {u"2009/2/4 1:2:3.5", 0, true, 2009, 2, 4, 1, 2, 3, 5},                // widths are maxima
        {u"2009/02/30 10:00:00.000", 0, false},                                // no such day
        {u"2009/02/29 10:00:00.000", 0, false},                                // not a leap year
        {u"2009/13/01 10:00:00.000", 0, false},
        {u"2009/02/24 24:00:00.000", 0, false},
        {u"2009/02/24 10:60:00.000", 0, false},
        {u"2009/02/24 10:00:00", 0, false},                                    // six fields
        {u"NOW", 0, false},
        {u"NOW-1D", 0, false},
        {u"", 0, false},
        {u"-001/-1/-1 -1:-1:-1.-01", 0, false},                               // a picker without value
        {u"1601/01/01 00:10:00.000", 60, true, 1601, 1, 1, 1, 10, 0, 0},
        {u"1600/12/31 23:00:00.000", 0, false},                                // before the epoch
    };
    for (const TextCase& c : cases) {
        SCOPED_TRACE(std::string(c.text, c.text + std::char_traits<char16_t>::length(c.text)) + " bias " +
                     std::to_string(c.bias));
        com::SetFixedBiasMinutes(c.bias);
        FILETIME ft{0xDEADBEEF, 0xDEADBEEF};
        ASSERT_EQ(hda::TimeTextToFileTime(c.text, &ft), c.moment);
        if (c.moment)
            EXPECT_EQ(FileTimeToU64(ft), Ticks(c.y, c.mo, c.d, c.h, c.mi, c.s, c.ms));
        else
            EXPECT_EQ(FileTimeToU64(ft), FileTimeToU64(FILETIME{0xDEADBEEF, 0xDEADBEEF}));  // left alone
    }
}

TEST_F(HdaTimeTest, EveryMomentIsMovedWithTheBiasInForceNowWhateverItsSeason) {
    // A zone of UTC+1 in winter and UTC+2 in summer (April to September, near enough), now in winter.
    com::Clock clock;
    clock.nowUtc = [] { return Ticks(2009, 1, 15, 12, 0, 0); };
    clock.biasMinutesAt = [](ULONGLONG t) {
        FILETIME ft = U64ToFileTime(t);
        SYSTEMTIME st{};
        FileTimeToSystemTime(&ft, &st);
        return (st.wMonth >= 4 && st.wMonth <= 9) ? LONG(-120) : LONG(-60);
    };
    com::SetClock(clock);
    FILETIME ft{};
    ASSERT_TRUE(hda::TimeTextToFileTime(u"2009/07/01 12:00:00.000", &ft));
    EXPECT_EQ(FileTimeToU64(ft), Ticks(2009, 7, 1, 11, 0, 0));  // the winter hour, not the summer two

    // And the way back for the pickers applies the same bias: the clock time reads back unchanged.
    SYSTEMTIME local{};
    ASSERT_TRUE(hda::UtcToLocalSystemTime(FileTimeToU64(ft), &local));
    EXPECT_EQ(hda::FormatTimeText(local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond,
                                  local.wMilliseconds),
              u"2009/07/01 12:00:00.000");
}

struct BuildCase {
    const char16_t* text;
    bool inUse;
    bool asString;
    const char16_t* szTime;  // when asString
};

TEST_F(HdaTimeTest, BuildHdaTimeSendsMomentsAsFileTimesAndEverythingElseAsStrings) {
    com::SetFixedBiasMinutes(-60);
    const BuildCase cases[] = {
        {u"2009/02/24 10:00:00.000", true, false, nullptr},
        {u"2009/02/24 10:00:00.000", false, true, u""},  // not in use: the empty time
        {u"NOW", false, true, u""},
        {u"NOW", true, true, u"NOW"},
        {u"2009/02/30 10:00:00.000", true, true, u"2009/02/30 10:00:00.000"},
        {u"", true, true, u""},
        {u"NOW-1H+30M", true, true, u"NOW-1H+30M"},
    };
    for (const BuildCase& c : cases) {
        SCOPED_TRACE(std::string(c.text, c.text + std::char_traits<char16_t>::length(c.text)) +
                     (c.inUse ? " in use" : " not in use"));
        const long before = com::LiveTaskMemBlocks();
        OPCHDA_TIME* t = hda::BuildHdaTime(c.text, c.inUse);
        ASSERT_NE(t, nullptr);
        EXPECT_GE(com::TaskMemSize(t), sizeof(OPCHDA_TIME));
        if (c.asString) {
            EXPECT_EQ(t->bString, TRUE);
            ASSERT_NE(t->szTime, nullptr);
            const std::u16string expected(c.szTime);
            EXPECT_EQ(std::u16string(t->szTime), expected);
            // length + 1 wide characters, terminated
            EXPECT_EQ(com::TaskMemSize(t->szTime), (expected.size() + 1) * sizeof(WCHAR));
            EXPECT_EQ(com::LiveTaskMemBlocks(), before + 2);
        } else {
            EXPECT_EQ(t->bString, FALSE);
            EXPECT_EQ(t->szTime, nullptr);
            EXPECT_EQ(FileTimeToU64(t->ftTime), Ticks(2009, 2, 24, 9, 0, 0));
            EXPECT_EQ(com::LiveTaskMemBlocks(), before + 1);
        }
        hda::ReleaseHdaTime(t);
        EXPECT_EQ(com::LiveTaskMemBlocks(), before);
    }
    hda::ReleaseHdaTime(nullptr);
    ExpectNoTaskMemLeft();
}

TEST_F(HdaTimeTest, TimeTextsAreWrittenInTheFixedFormAndReadBack) {
    EXPECT_EQ(hda::FormatTimeText(2009, 2, 24, 13, 5, 7, 250), u"2009/02/24 13:05:07.250");
    EXPECT_EQ(hda::FormatTimeText(987, 1, 2, 3, 4, 5, 6), u"0987/01/02 03:04:05.006");
    const std::u16string invalid = hda::FormatTimeText(-1, -1, -1, -1, -1, -1, 0);
    EXPECT_FALSE(hda::TimeTextToFileTime(invalid, nullptr));

    com::SetFixedBiasMinutes(0);
    FILETIME ft{};
    ASSERT_TRUE(hda::TimeTextToFileTime(hda::FormatTimeText(2009, 2, 24, 13, 5, 7, 250), &ft));
    EXPECT_EQ(FileTimeToU64(ft), Ticks(2009, 2, 24, 13, 5, 7, 250));
}

}  // namespace
