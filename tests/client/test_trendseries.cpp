// The trend's data: the series built from one entry of a result set (points, gaps, quality marks,
// text levels, time order, arrays shorter than claimed) and the per-column reduction that is drawn.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "client/results.h"
#include "client/trendseries.h"
#include "com/objbase.h"
#include "com/oleauto.h"
#include "tests/plugins/recording_control.h"

namespace {

using client::TrendMark;
using client::TrendPoint;
using client::TrendSeries;
using hdatest::MakeItem;
using hdatest::TaskArray;

constexpr ULONGLONG kEpochTicks = 116444736000000000ULL;  // 1970-01-01
constexpr DWORD kGoodRaw = OPC_QUALITY_GOOD | OPCHDA_RAW;

// A one-record result set that owns the item, so every array and string is released.
struct OneItem {
    client::ResultSet results;
    explicit OneItem(DWORD n, ULONGLONG time0 = kEpochTicks)
        : results(TaskArray<OPCHDA_ITEM>({MakeItem(1, n, time0)}), TaskArray<HRESULT>({S_OK}), 1) {}
    OPCHDA_ITEM& item() { return const_cast<OPCHDA_ITEM&>(results.Values()[0]); }
    void Set(DWORD j, VARIANT v, DWORD quality) {
        item().pvDataValues[j] = v;
        item().pdwQualities[j] = quality;
    }
    TrendSeries Build() { return client::BuildTrendSeries(item(), S_OK, u"Tag"); }
};

VARIANT Var(VARTYPE vt, LONGLONG bits = 0) {
    VARIANT v;
    VariantInit(&v);
    v.vt = vt;
    v.llVal = bits;
    return v;
}
VARIANT R8(double d) {
    VARIANT v = Var(VT_R8);
    v.dblVal = d;
    return v;
}
VARIANT Str(const char16_t* s) {
    VARIANT v = Var(VT_BSTR);
    v.bstrVal = SysAllocString(s);
    return v;
}

TEST(TrendSeries, EachEntryBecomesAPointAGapOrAMarkedPoint) {
    const long before = com::LiveTaskMemBlocks();
    {
        struct Case {
            VARIANT value;
            DWORD quality;
            double expected;  // NaN: a gap
            TrendMark mark;
        };
        const double gap = std::numeric_limits<double>::quiet_NaN();
        VARIANT cy = Var(VT_CY);
        cy.cyVal.int64 = 12345;  // 1.2345
        const Case cases[] = {
            {R8(2.5), kGoodRaw, 2.5, TrendMark::Good},
            {Var(VT_I4, -7), OPC_QUALITY_UNCERTAIN, -7, TrendMark::Uncertain},
            {R8(9), OPC_QUALITY_BAD | OPC_QUALITY_SENSOR_FAILURE, 9, TrendMark::Bad},
            {Var(VT_EMPTY), OPC_QUALITY_BAD | OPCHDA_NOBOUND, gap, TrendMark::Bad},
            {R8(4), OPC_QUALITY_BAD | OPCHDA_NODATA, gap,
             TrendMark::Bad},  // flagged: a gap whatever the value
            {Var(VT_NULL), kGoodRaw, gap, TrendMark::Good},
            {R8(std::numeric_limits<double>::infinity()), kGoodRaw, gap, TrendMark::Good},
            {Var(VT_DATE), kGoodRaw, gap, TrendMark::Good},
            {Var(VT_BOOL, static_cast<SHORT>(VARIANT_TRUE)), kGoodRaw, 1, TrendMark::Good},
            {cy, 0x80, 1.2345, TrendMark::Bad},  // the undefined quality 0x80 counts as Bad
            {Var(VT_UI1, 200), kGoodRaw, 200, TrendMark::Good},
        };
        const DWORD n = std::size(cases);
        OneItem one(n);
        for (DWORD j = 0; j < n; ++j) one.Set(j, cases[j].value, cases[j].quality);
        const TrendSeries s = one.Build();

        ASSERT_EQ(s.points.size(), n);
        EXPECT_FALSE(s.bText);
        for (DWORD j = 0; j < n; ++j) {
            const TrendPoint& p = s.points[j];
            EXPECT_DOUBLE_EQ(p.msTime, j * 1000.0) << j;
            EXPECT_EQ(p.mark, cases[j].mark) << j;
            if (std::isnan(cases[j].expected))
                EXPECT_TRUE(p.IsGap()) << j;
            else
                EXPECT_DOUBLE_EQ(p.value, cases[j].expected) << j;
        }
        EXPECT_EQ(s.nGaps, 3u);
        EXPECT_EQ(s.nNotNumeric, 2u);
        EXPECT_EQ(s.nNotReturned, 0u);
        EXPECT_FALSE(s.bReordered);
        EXPECT_DOUBLE_EQ(s.minValue, -7);
        EXPECT_DOUBLE_EQ(s.maxValue, 200);
    }
    EXPECT_EQ(com::LiveTaskMemBlocks(), before);
}

TEST(TrendSeries, OneStringMakesATextSeriesWithALevelPerDistinctText) {
    OneItem one(5);
    one.Set(0, Str(u"Open"), kGoodRaw);
    one.Set(1, Str(u"Closed"), kGoodRaw);
    one.Set(2, Var(VT_I4, 5), kGoodRaw);  // a number among texts stands by its text
    one.Set(3, Str(u"Open"), OPC_QUALITY_UNCERTAIN);
    one.Set(4, Var(VT_EMPTY), OPC_QUALITY_BAD | OPCHDA_NODATA);
    const TrendSeries s = one.Build();
    ASSERT_TRUE(s.bText);
    EXPECT_EQ(s.texts, (std::vector<std::u16string>{u"Open", u"Closed", u"5"}));
    ASSERT_EQ(s.points.size(), 5u);
    EXPECT_EQ(s.points[0].value, 0);
    EXPECT_EQ(s.points[1].value, 1);
    EXPECT_EQ(s.points[2].value, 2);
    EXPECT_EQ(s.points[3].value, 0);
    EXPECT_EQ(s.points[3].mark, TrendMark::Uncertain);
    EXPECT_TRUE(s.points[4].IsGap());
    EXPECT_EQ(s.nGaps, 1u);
}

TEST(TrendSeries, PointsRunInTimeOrderWhateverTheServerSent) {
    struct Case {
        std::vector<ULONGLONG> seconds;
        std::vector<double> valuesInOrder;  // the values (= server positions) after ordering
        bool bReordered;
    };
    const Case cases[] = {
        {{1, 2, 2, 3}, {0, 1, 2, 3}, false},
        {{9, 5, 5, 1}, {3, 1, 2, 0}, true},  // read backwards: reversed, equal times as returned
        {{4, 1, 4, 2}, {1, 3, 0, 2}, true},  // any other order: sorted, equal times as returned
    };
    for (const Case& c : cases) {
        OneItem one(static_cast<DWORD>(c.seconds.size()));
        for (std::size_t j = 0; j < c.seconds.size(); ++j)
            one.item().pftTimeStamps[j] = U64ToFileTime(kEpochTicks + c.seconds[j] * 10000000ULL);
        const TrendSeries s = one.Build();
        std::vector<double> values;
        for (const TrendPoint& p : s.points) values.push_back(p.value);
        EXPECT_EQ(values, c.valuesInOrder);
        EXPECT_EQ(s.bReordered, c.bReordered);
        EXPECT_TRUE(
            std::is_sorted(s.points.begin(), s.points.end(),
                           [](const TrendPoint& a, const TrendPoint& b) { return a.msTime < b.msTime; }));
    }
}

TEST(TrendSeries, ArraysShorterThanClaimedAreReadNoFurther) {
    const long before = com::LiveTaskMemBlocks();
    {
        OneItem one(3);
        one.item().dwCount = 1000000;
        TrendSeries s = one.Build();
        EXPECT_EQ(s.points.size(), 3u);
        EXPECT_EQ(s.nNotReturned, 1000000u - 3u);

        CoTaskMemFree(one.item().pdwQualities);  // no qualities at all: nothing can be placed
        one.item().pdwQualities = nullptr;
        s = one.Build();
        EXPECT_TRUE(s.points.empty());
        EXPECT_EQ(s.nNotReturned, 1000000u);
        EXPECT_FALSE(s.HasValues());
    }
    EXPECT_EQ(com::LiveTaskMemBlocks(), before);
}

TEST(TrendSeries, TimesAreMillisecondsSince1970) {
    EXPECT_DOUBLE_EQ(client::TrendTime(U64ToFileTime(kEpochTicks)), 0);
    EXPECT_DOUBLE_EQ(client::TrendTime(U64ToFileTime(kEpochTicks + 1)), 0.0001);
    EXPECT_DOUBLE_EQ(client::TrendTime(U64ToFileTime(0)), -11644473600000.0);
    EXPECT_DOUBLE_EQ(client::TrendTime(U64ToFileTime(kEpochTicks + 12345678900000ULL)), 1234567890.0);
}

// A series of n points one millisecond apart, values from f.
template <class F>
TrendSeries Synthetic(std::size_t n, F f, TrendMark mark = TrendMark::Good) {
    TrendSeries s;
    s.points.resize(n);
    for (std::size_t i = 0; i < n; ++i) s.points[i] = TrendPoint{static_cast<double>(i), f(i), mark};
    return s;
}

TEST(TrendReduction, AMillionPointsGiveAtMostFourAColumnKeepingEveryExtreme) {
    constexpr std::size_t n = 1000000;
    constexpr int columns = 800;
    TrendSeries s =
        Synthetic(n, [](std::size_t i) { return std::sin(i * 0.001) * 100 + (i == 777777 ? 500 : 0); });
    const client::TrendReduction r = client::ReduceTrend(s, 0, n - 1, columns);
    EXPECT_TRUE(r.bReduced);
    EXPECT_EQ(r.nInRange, n);
    EXPECT_LE(r.line.size(), 4u * columns);
    EXPECT_TRUE(std::is_sorted(r.line.begin(), r.line.end(),
                               [](const TrendPoint& a, const TrendPoint& b) { return a.msTime < b.msTime; }));
    EXPECT_EQ(r.line.front().msTime, 0);
    EXPECT_EQ(r.line.back().msTime, n - 1);

    // Each column's lowest and highest value is drawn: compare with a plain scan of the column.
    const double scale = columns / (n - 1.0);  // as the reduction computes a column
    for (int c : {0, 1, 399, 622, 799}) {
        double lo = 1e300, hi = -1e300, drawnLo = 1e300, drawnHi = -1e300;
        for (const TrendPoint& p : s.points)
            if (std::min(static_cast<int>(p.msTime * scale), columns - 1) == c) {
                lo = std::min(lo, p.value);
                hi = std::max(hi, p.value);
            }
        for (const TrendPoint& p : r.line)
            if (std::min(static_cast<int>(p.msTime * scale), columns - 1) == c) {
                drawnLo = std::min(drawnLo, p.value);
                drawnHi = std::max(drawnHi, p.value);
            }
        EXPECT_EQ(drawnLo, lo) << c;
        EXPECT_EQ(drawnHi, hi) << c;
    }
    EXPECT_TRUE(std::any_of(r.line.begin(), r.line.end(), [](const TrendPoint& p) { return p.value > 400; }));
}

TEST(TrendReduction, AZoomedRangeDrawsEveryPointInItAndOneEitherSide) {
    TrendSeries s = Synthetic(1000000, [](std::size_t i) { return static_cast<double>(i % 7); });
    const client::TrendReduction r = client::ReduceTrend(s, 500000.5, 500010.5, 800);
    EXPECT_FALSE(r.bReduced);
    EXPECT_EQ(r.nInRange, 10u);
    ASSERT_EQ(r.line.size(), 12u);
    EXPECT_EQ(r.line.front().msTime, 500000);
    EXPECT_EQ(r.line.back().msTime, 500011);
}

TEST(TrendReduction, GapsBreakTheLineAndMarksAreBoundedPerColumn) {
    constexpr std::size_t n = 100000;
    TrendSeries s = Synthetic(
        n, [](std::size_t i) { return static_cast<double>(i); }, TrendMark::Bad);
    for (std::size_t i : {std::size_t{40000}, std::size_t{40001}, std::size_t{70000}})
        s.points[i].value = std::numeric_limits<double>::quiet_NaN();
    s.points[10].mark = TrendMark::Uncertain;

    const client::TrendReduction r = client::ReduceTrend(s, 0, n - 1, 100);
    ASSERT_TRUE(r.bReduced);
    // Two breaks: the two neighbouring gaps make one.
    EXPECT_EQ(std::count_if(r.line.begin(), r.line.end(), [](const TrendPoint& p) { return p.IsGap(); }), 2);
    for (std::size_t k = 1; k < r.line.size(); ++k)
        if (r.line[k].IsGap()) {
            EXPECT_LT(r.line[k - 1].msTime, r.line[k].msTime);
            EXPECT_FALSE(r.line[k - 1].IsGap());
        }
    const auto bad = std::count_if(r.marks.begin(), r.marks.end(),
                                   [](const TrendPoint& p) { return p.mark == TrendMark::Bad; });
    EXPECT_LE(bad, 100 + 3);  // one a column, a column split by a gap may carry a second
    EXPECT_GE(bad, 100);
    EXPECT_EQ(std::count_if(r.marks.begin(), r.marks.end(),
                            [](const TrendPoint& p) { return p.mark == TrendMark::Uncertain; }),
              1);
    EXPECT_TRUE(std::none_of(r.marks.begin(), r.marks.end(), [](const TrendPoint& p) { return p.IsGap(); }));
}

TEST(TrendReduction, TextStepsAreWhereTheTextChanges) {
    TrendSeries s = Synthetic(8, [](std::size_t i) { return static_cast<double>((i / 3) % 2); });
    s.bText = true;
    s.texts = {u"Off", u"On"};
    s.points[4].value = std::numeric_limits<double>::quiet_NaN();  // after a gap the text is named again
    const client::TrendReduction r = client::ReduceTrend(s, 0, 7, 100);
    std::vector<double> at;
    for (const TrendPoint& p : r.steps) at.push_back(p.msTime);
    EXPECT_EQ(at, (std::vector<double>{0, 3, 5, 6}));
}

TEST(TrendReduction, NothingToDrawGivesNothing) {
    TrendSeries s = Synthetic(10, [](std::size_t) { return 1.0; });
    EXPECT_TRUE(client::ReduceTrend(s, 0, 9, 0).line.empty());
    EXPECT_TRUE(client::ReduceTrend(s, 5, 5, 100).line.empty());
    EXPECT_TRUE(client::ReduceTrend(TrendSeries{}, 0, 9, 100).line.empty());
    const client::TrendReduction after = client::ReduceTrend(s, 100, 200, 100);
    EXPECT_EQ(after.nInRange, 0u);
    ASSERT_EQ(after.line.size(), 1u);  // the last point, so the line reaches the left edge
    EXPECT_EQ(after.line.front().msTime, 9);
}

}  // namespace
