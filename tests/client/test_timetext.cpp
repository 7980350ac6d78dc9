// Time texts into FILETIMEs and OPCHDA_TIME records and back into text, on each time basis, with the
// runtime's clock and time zone fixed.
#include <gtest/gtest.h>

#include "client/timetext.h"
#include "com/objbase.h"
#include "tests/client/client_fixture.h"

namespace {

using clienttest::Ticks;

class HdaTimeTest : public ::testing::Test {
protected:
    void SetUp() override { m_liveBefore = com::LiveTaskMemBlocks(); }
    void TearDown() override {
        com::ResetTaskMemFailure();
        com::ResetClock();
    }
    void ExpectNoTaskMemLeft() const { EXPECT_EQ(com::LiveTaskMemBlocks(), m_liveBefore); }
    long m_liveBefore = 0;
};

std::string Narrow(std::u16string_view s) {
    return std::string(s.begin(), s.end());
}

TEST_F(HdaTimeTest, ATextIsAMomentOnlyWhenAllSevenFieldsMakeAValidCalendarMoment) {
    struct Case {
        const char16_t* text;
        LONG bias;      // local = UTC - bias
        ULONGLONG utc;  // 0: not a moment
    } cases[] = {
        {u"2009/02/24 10:00:00.000", 0, Ticks(2009, 2, 24, 10, 0, 0)},
        {u"2009/02/24 10:00:00.000", -60, Ticks(2009, 2, 24, 9, 0, 0)},   // UTC+1
        {u"2009/02/24 22:30:00.000", 300, Ticks(2009, 2, 25, 3, 30, 0)},  // UTC-5: the next day in UTC
        {u"2008/02/29 23:59:59.999", 0, Ticks(2008, 2, 29, 23, 59, 59, 999)},
        {u"2009/2/4 1:2:3.5", 0, Ticks(2009, 2, 4, 1, 2, 3, 5)},  // widths are maxima
        {u"2009/02/30 10:00:00.000", 0, 0},
        {u"2009/02/29 10:00:00.000", 0, 0},
        {u"2009/13/01 10:00:00.000", 0, 0},
        {u"2009/02/24 24:00:00.000", 0, 0},
        {u"2009/02/24 10:00:00", 0, 0},  // six fields
        {u"1600/12/31 23:00:00.000", 0, 0},
        {u"-001/-1/-1 -1:-1:-1.000", 0, 0},  // what a picker without a value gives
        {u"NOW", 0, 0},
        {u"", 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.text) + " bias " + std::to_string(c.bias));
        com::SetFixedBiasMinutes(c.bias);
        FILETIME ft{1, 1};
        ASSERT_EQ(client::TimeTextToFileTime(c.text, &ft), c.utc != 0);
        EXPECT_EQ(FileTimeToU64(ft), c.utc ? c.utc : FileTimeToU64(FILETIME{1, 1}));  // untouched when not
    }
    EXPECT_EQ(client::FormatTimeText(2009, 2, 24, 13, 5, 7, 250), u"2009/02/24 13:05:07.250");
    EXPECT_EQ(client::FormatTimeText(-1, -1, -1, -1, -1, -1, 0), u"-001/-1/-1 -1:-1:-1.000");
}

TEST_F(HdaTimeTest, EveryMomentMovesWithTheBiasInForceNowWhateverItsSeason) {
    // UTC+1 in winter, UTC+2 from April to September; now is winter.
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
    ASSERT_TRUE(client::TimeTextToFileTime(u"2009/07/01 12:00:00.000", &ft));
    EXPECT_EQ(FileTimeToU64(ft), Ticks(2009, 7, 1, 11, 0, 0));
    SYSTEMTIME back{};  // and the pickers' way back shows the same clock time
    ASSERT_TRUE(client::UtcToDisplaySystemTime(FileTimeToU64(ft), &back));
    EXPECT_EQ(back.wHour, 12);
}

TEST_F(HdaTimeTest, TheBasisTextNamesTheOffsetInForceNowWithARealMinusSign) {
    const struct {
        LONG bias;
        client::TimeBasis basis;
        const char16_t* text;
    } cases[] = {
        {300, client::TimeBasis::LocalCurrentBias, u"Local, UTC\u221205:00 now"},
        {-330, client::TimeBasis::LocalAtInstant, u"Local (offset of each instant), UTC+05:30 now"},
        {0, client::TimeBasis::LocalCurrentBias, u"Local, UTC+00:00 now"},
        {-60, client::TimeBasis::Utc, u"UTC"},
    };
    for (const auto& c : cases) {
        com::SetFixedBiasMinutes(c.bias);
        EXPECT_EQ(client::TimeBasisText(c.basis), c.text) << c.bias;
    }
}

TEST_F(HdaTimeTest, BuildHdaTimeSendsMomentsAsFileTimesAndAnyOtherTextAsAString) {
    com::SetFixedBiasMinutes(-60);
    struct Case {
        const char16_t* text;
        bool inUse;
        const char16_t* szTime;  // null: travels as a FILETIME
    } cases[] = {
        {u"2009/02/24 10:00:00.000", true, nullptr},
        {u"2009/02/24 10:00:00.000", false, u""},  // not in use: the empty time
        {u"NOW", true, u"NOW"},
        {u"2009/02/30 10:00:00.000", true, u"2009/02/30 10:00:00.000"},
        {u"", true, u""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.text) + (c.inUse ? " in use" : " not in use"));
        const long before = com::LiveTaskMemBlocks();
        hda::HdaTimeArg arg = client::BuildHdaTime(c.text, c.inUse);
        const OPCHDA_TIME* t = arg.get();
        ASSERT_NE(t, nullptr);
        if (c.szTime) {
            EXPECT_EQ(t->bString, TRUE);
            ASSERT_NE(t->szTime, nullptr);
            EXPECT_EQ(std::u16string(t->szTime), c.szTime);
            EXPECT_EQ(com::TaskMemCount(t->szTime), std::u16string_view(c.szTime).size() + 1);
        } else {
            EXPECT_EQ(t->bString, FALSE);
            EXPECT_EQ(t->szTime, nullptr);
            EXPECT_EQ(FileTimeToU64(t->ftTime), Ticks(2009, 2, 24, 9, 0, 0));
        }
        EXPECT_EQ(com::LiveTaskMemBlocks(), before + (c.szTime ? 2 : 1));
    }
    ExpectNoTaskMemLeft();
}

TEST_F(HdaTimeTest, ARecordReleasesItsOwnStringWhateverTheServerWroteIntoIt) {
    static WCHAR serversOwn[] = u"not ours";
    {
        hda::HdaTimeArg text = client::BuildHdaTime(u"NOW", true);
        hda::HdaTimeArg moment = client::BuildHdaTime(u"2009/02/24 10:00:00.000", true);
        ASSERT_TRUE(text && moment);
        text.get()->bString = FALSE;
        text.get()->szTime = nullptr;
        moment.get()->bString = TRUE;
        moment.get()->szTime = serversOwn;
    }
    EXPECT_EQ(serversOwn[0], u'n');
    ExpectNoTaskMemLeft();
}

TEST_F(HdaTimeTest, ARecordThatCannotBeAllocatedLeavesNothing) {
    for (unsigned long nth : {1ul, 2ul}) {
        com::FailTaskMemAlloc(nth);
        EXPECT_FALSE(client::BuildHdaTime(u"NOW", true)) << nth;
        ExpectNoTaskMemLeft();
    }
    com::FailTaskMemAlloc(1);
    EXPECT_FALSE(client::BuildHdaTime(u"2009/02/24 10:00:00.000", true));
    com::ResetTaskMemFailure();
    EXPECT_TRUE(client::BuildHdaTime(u"2009/02/24 10:00:00.000", true));
    ExpectNoTaskMemLeft();
}

TEST_F(HdaTimeTest, TheBasisDecidesWhichOffsetAMomentIsShownAndReadWith) {
    // UTC+1 in winter, UTC+2 from April to September; now is winter.
    com::Clock clock;
    clock.nowUtc = [] { return Ticks(2009, 1, 15, 12, 0, 0); };
    clock.biasMinutesAt = [](ULONGLONG t) {
        FILETIME ft = U64ToFileTime(t);
        SYSTEMTIME st{};
        FileTimeToSystemTime(&ft, &st);
        return (st.wMonth >= 4 && st.wMonth <= 9) ? LONG(-120) : LONG(-60);
    };
    com::SetClock(clock);
    const FILETIME summer = U64ToFileTime(Ticks(2009, 7, 1, 10, 0, 0, 250));
    // The ISO 8601 form names the offset it applied, so that each text is the same instant.
    struct Case {
        client::TimeBasis basis;
        const char16_t* shown;
        const char16_t* iso;
    } cases[] = {
        {client::TimeBasis::LocalCurrentBias, u"2009/07/01 11:00:00.250", u"2009-07-01T11:00:00.250+01:00"},
        {client::TimeBasis::LocalAtInstant, u"2009/07/01 12:00:00.250", u"2009-07-01T12:00:00.250+02:00"},
        {client::TimeBasis::Utc, u"2009/07/01 10:00:00.250", u"2009-07-01T10:00:00.250Z"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.basis));
        EXPECT_EQ(client::FormatTimestamp(summer, c.basis), c.shown);
        char16_t iso[client::kMaxTimestampChars];
        const client::CTimestampWriter isoWriter(c.basis, client::CTimestampWriter::Form::Iso8601);
        EXPECT_EQ(std::u16string(iso, isoWriter.Write(summer, iso)), c.iso);
        FILETIME back{};
        ASSERT_TRUE(client::TimeTextToFileTime(c.shown, &back, c.basis));
        EXPECT_EQ(FileTimeToU64(back), FileTimeToU64(summer));
    }
    // The default is the offset in force now.
    EXPECT_EQ(client::FormatTimestamp(summer), u"2009/07/01 11:00:00.250");
    EXPECT_EQ(client::FormatShortTimestamp(summer, client::TimeBasis::Utc), u"07/01/09 10:00:00");
    // No calendar form, or none after the shift: the raw value.
    EXPECT_EQ(client::FormatTimestamp(U64ToFileTime(0x8000000000000000ULL), client::TimeBasis::Utc),
              u"Invalid time 0x8000000000000000");
    EXPECT_EQ(client::FormatTimestamp(U64ToFileTime(5), client::TimeBasis::LocalAtInstant),
              u"1601/01/01 01:00:00.000");
    EXPECT_EQ(client::FormatShortTimestamp(U64ToFileTime(5), client::TimeBasis::Utc), u"Invalid time 0x5");
    // West of UTC, the offset's sign is a hyphen-minus, as ISO 8601 writes it.
    com::SetFixedBiasMinutes(330);
    char16_t iso[client::kMaxTimestampChars];
    const client::CTimestampWriter west(client::TimeBasis::LocalAtInstant,
                                        client::CTimestampWriter::Form::Iso8601);
    EXPECT_EQ(std::u16string(iso, west.Write(summer, iso)), u"2009-07-01T04:30:00.250-05:30");
}

}  // namespace
