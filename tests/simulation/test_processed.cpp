// ReadProcessed and ReadAtTime through the COM interface, against values computed by hand.
#include <gtest/gtest.h>

#include <cmath>

#include "com/objbase.h"
#include "tests/simulation/sim_client.h"

namespace simtest {
namespace {

Ticks Sec(int s) {
    return static_cast<Ticks>(static_cast<std::int64_t>(kFiveAm) + s * static_cast<std::int64_t>(kSecond));
}

constexpr DWORD kGoodCalc = OPCHDA_CALCULATED | OPC_QUALITY_GOOD;
constexpr DWORD kUncCalc = OPCHDA_CALCULATED | OPC_QUALITY_SUB_NORMAL;
constexpr DWORD kRawGood = OPCHDA_RAW | OPC_QUALITY_GOOD;
constexpr DWORD kRawUnc = OPCHDA_RAW | OPC_QUALITY_SUB_NORMAL;
constexpr DWORD kIntGood = OPCHDA_INTERPOLATED | OPC_QUALITY_GOOD;
constexpr DWORD kIntUnc = OPCHDA_INTERPOLATED | OPC_QUALITY_SUB_NORMAL;
constexpr DWORD kNoData = OPCHDA_NODATA;
constexpr double kEmpty = NAN;

// One expected entry: timestamp (seconds after 5:00), value (NaN: VT_EMPTY), quality.
struct Row {
    int at;
    double value;
    DWORD quality;
};

void ExpectRows(const ItemReply& it, const std::vector<Row>& rows) {
    ASSERT_EQ(it.t.size(), rows.size());
    for (std::size_t k = 0; k < rows.size(); ++k) {
        SCOPED_TRACE("entry " + std::to_string(k));
        EXPECT_EQ(it.t[k], Sec(rows[k].at));
        EXPECT_EQ(it.q[k], rows[k].quality);
        if (std::isnan(rows[k].value)) {
            EXPECT_EQ(it.v[k].vt, VT_EMPTY);
        } else {
            EXPECT_NE(it.v[k].vt, VT_EMPTY);
            EXPECT_NEAR(it.v[k].num, rows[k].value, 1e-4);
        }
    }
}

// Values (seconds after 5:00 → value): 0→10, 10→20, 20→30 Bad, 30→40, 45→25 Uncertain, 50→50,
// 70→60, 80→10. Read over [0, 90) in intervals of 30 s.
class Processed : public ::testing::Test {
protected:
    void SetUp() override {
        client = std::make_unique<Client>(dir.File("h.db"));
        h = client->Handle(u"Writable.Real8", 5);
        std::vector<In> v = {Text(Sec(45), u"25", OPC_QUALITY_LAST_USABLE),
                             Text(Sec(0), u"10"),
                             Text(Sec(70), u"60"),
                             Text(Sec(20), u"30", OPC_QUALITY_BAD),
                             Text(Sec(10), u"20"),
                             Text(Sec(80), u"10"),
                             Text(Sec(30), u"40"),
                             Text(Sec(50), u"50")};
        ASSERT_EQ(client->Write(Client::Op::Insert, h, std::move(v)), std::vector<HRESULT>(8, S_OK));
    }

    ItemReply Read(DWORD aggregate, int from = 0, int to = 90, int interval = 30, HRESULT code = S_OK) {
        Reply r = client->ReadProcessed(Time::At(Sec(from)), Time::At(Sec(to)), interval * kSecond, {h},
                                        {aggregate});
        EXPECT_EQ(r.hr, code == S_OK ? S_OK : S_FALSE);
        if (r.items.size() != 1) return {};
        EXPECT_EQ(r.items[0].code, code);
        EXPECT_EQ(r.items[0].aggregate, aggregate);
        EXPECT_EQ(r.items[0].hClient, 5u);
        return r.items[0];
    }

    TempDir dir;
    std::unique_ptr<Client> client;
    OPCHANDLE h = 0;
};

struct AggCase {
    DWORD aggregate;
    VARTYPE vt;
    std::vector<Row> rows;
};

TEST_F(Processed, EveryAggregateMatchesHandComputedValues) {
    const AggCase cases[] = {
        {OPCHDA_INTERPOLATIVE, VT_R8, {{0, 10, kRawGood}, {30, 40, kRawGood}, {60, 55, kIntGood}}},
        {OPCHDA_TOTAL, VT_R8, {{0, 750, kUncCalc}, {30, 1425, kUncCalc}, {60, 1025, kUncCalc}}},
        {OPCHDA_AVERAGE, VT_R8, {{0, 15, kUncCalc}, {30, 45, kUncCalc}, {60, 35, kGoodCalc}}},
        {OPCHDA_TIMEAVERAGE, VT_R8, {{0, 25, kUncCalc}, {30, 47.5, kUncCalc}, {60, 1025.0 / 30, kUncCalc}}},
        {OPCHDA_COUNT, VT_I4, {{0, 2, kUncCalc}, {30, 2, kUncCalc}, {60, 2, kGoodCalc}}},
        {OPCHDA_STDEV,
         VT_R8,
         {{0, std::sqrt(50), kUncCalc}, {30, std::sqrt(50), kUncCalc}, {60, std::sqrt(1250), kGoodCalc}}},
        {OPCHDA_MINIMUMACTUALTIME, VT_R8, {{0, 10, kRawUnc}, {30, 40, kRawUnc}, {80, 10, kRawGood}}},
        {OPCHDA_MINIMUM, VT_R8, {{0, 10, kUncCalc}, {30, 40, kUncCalc}, {60, 10, kGoodCalc}}},
        {OPCHDA_MAXIMUMACTUALTIME, VT_R8, {{10, 20, kRawUnc}, {50, 50, kRawUnc}, {70, 60, kRawGood}}},
        {OPCHDA_MAXIMUM, VT_R8, {{0, 20, kUncCalc}, {30, 50, kUncCalc}, {60, 60, kGoodCalc}}},
        {OPCHDA_START, VT_R8, {{0, 10, kRawGood}, {30, 40, kRawGood}, {70, 60, kRawGood}}},
        // The last value of the first interval is Bad: returned, but Uncertain.
        {OPCHDA_END, VT_R8, {{20, 30, kRawUnc}, {50, 50, kRawGood}, {80, 10, kRawGood}}},
        {OPCHDA_DELTA, VT_R8, {{0, 10, kUncCalc}, {30, 10, kUncCalc}, {60, -50, kGoodCalc}}},
        {OPCHDA_REGSLOPE, VT_R8, {{0, 1, kUncCalc}, {30, 0.5, kUncCalc}, {60, -5, kGoodCalc}}},
        {OPCHDA_REGCONST, VT_R8, {{0, 10, kUncCalc}, {30, 40, kUncCalc}, {60, 110, kGoodCalc}}},
        {OPCHDA_REGDEV, VT_R8, {{0, 0, kUncCalc}, {30, 0, kUncCalc}, {60, 0, kGoodCalc}}},
        {OPCHDA_VARIANCE, VT_R8, {{0, 50, kUncCalc}, {30, 50, kUncCalc}, {60, 1250, kGoodCalc}}},
        {OPCHDA_RANGE, VT_R8, {{0, 10, kUncCalc}, {30, 10, kUncCalc}, {60, 50, kGoodCalc}}},
        {OPCHDA_DURATIONGOOD, VT_R8, {{0, 20, kGoodCalc}, {30, 25, kGoodCalc}, {60, 30, kGoodCalc}}},
        {OPCHDA_DURATIONBAD, VT_R8, {{0, 10, kGoodCalc}, {30, 0, kGoodCalc}, {60, 0, kGoodCalc}}},
        {OPCHDA_PERCENTGOOD,
         VT_R8,
         {{0, 20.0 / 30, kGoodCalc}, {30, 25.0 / 30, kGoodCalc}, {60, 1, kGoodCalc}}},
        {OPCHDA_PERCENTBAD, VT_R8, {{0, 10.0 / 30, kGoodCalc}, {30, 0, kGoodCalc}, {60, 0, kGoodCalc}}},
        {OPCHDA_WORSTQUALITY,
         VT_I4,
         {{0, OPC_QUALITY_BAD, kGoodCalc},
          {30, OPC_QUALITY_LAST_USABLE, kGoodCalc},
          {60, OPC_QUALITY_GOOD, kGoodCalc}}},
    };
    // Every aggregate the server lists is covered here.
    DWORD count = 0;
    DWORD* ids = nullptr;
    LPWSTR *names = nullptr, *descs = nullptr;
    ASSERT_EQ(client->server()->GetAggregates(&count, &ids, &names, &descs), S_OK);
    ASSERT_EQ(count, std::size(cases));
    for (DWORD k = 0; k < count; ++k) {
        EXPECT_EQ(ids[k], cases[k].aggregate);
        EXPECT_TRUE(names[k] && names[k][0]);
        EXPECT_TRUE(descs[k] && descs[k][0]);
        CoTaskMemFree(names[k]);
        CoTaskMemFree(descs[k]);
    }
    CoTaskMemFree(ids), CoTaskMemFree(names), CoTaskMemFree(descs);

    for (const AggCase& c : cases) {
        SCOPED_TRACE("aggregate " + std::to_string(c.aggregate));
        ItemReply it = Read(c.aggregate);
        ExpectRows(it, c.rows);
        for (const Val& v : it.v) EXPECT_EQ(v.vt, c.vt);
    }
}

TEST_F(Processed, RegressionErrorOfAScatteredLine) {
    OPCHANDLE lab = client->Handle(u"Writable.Lab.Density");
    ASSERT_EQ(client
                  ->Write(Client::Op::Insert, lab,
                          {Real(Sec(0), 0), Real(Sec(10), 10), Real(Sec(20), 30), Real(Sec(30), 30)})
                  .size(),
              4u);
    // Slope 1.1, value 1.0 at the start, residuals -1, -2, 7, -4: √(70 / 2).
    const std::pair<DWORD, double> expect[] = {
        {OPCHDA_REGSLOPE, 1.1}, {OPCHDA_REGCONST, 1.0}, {OPCHDA_REGDEV, std::sqrt(35.0)}};
    for (auto [agg, value] : expect) {
        Reply r = client->ReadProcessed(Time::At(Sec(0)), Time::At(Sec(40)), 0, {lab}, {agg});
        ASSERT_EQ(r.items.size(), 1u);
        ExpectRows(r.items[0], {{0, value, kGoodCalc}});
    }
}

TEST_F(Processed, UnevenLastIntervalIsPartial) {
    ExpectRows(Read(OPCHDA_AVERAGE, 0, 90, 40),
               {{0, 70.0 / 3, kUncCalc}, {40, 55, kUncCalc}, {80, 10, kGoodCalc | OPCHDA_PARTIAL}});
    ExpectRows(Read(OPCHDA_COUNT, 0, 90, 40),
               {{0, 3, kUncCalc}, {40, 2, kUncCalc}, {80, 1, kGoodCalc | OPCHDA_PARTIAL}});
    // A Raw-returning aggregate never carries PARTIAL.
    ExpectRows(Read(OPCHDA_START, 0, 90, 40), {{0, 10, kRawGood}, {45, 25, kRawUnc}, {80, 10, kRawGood}});
}

TEST_F(Processed, EmptyIntervals) {
    ExpectRows(Read(OPCHDA_AVERAGE, 100, 160, 30, OPC_S_NODATA),
               {{100, kEmpty, kNoData}, {130, kEmpty, kNoData}});
    ExpectRows(Read(OPCHDA_COUNT, 100, 160), {{100, 0, kGoodCalc}, {130, 0, kGoodCalc}});
    // Before history: nothing to average, and the count's interval begins before the first value.
    ExpectRows(Read(OPCHDA_AVERAGE, -30, 30), {{-30, kEmpty, kNoData}, {0, 15, kUncCalc}});
    ExpectRows(Read(OPCHDA_COUNT, -30, 30), {{-30, 0, kGoodCalc | OPCHDA_PARTIAL}, {0, 2, kUncCalc}});
    ExpectRows(Read(OPCHDA_TIMEAVERAGE, -30, 30), {{-30, kEmpty, kNoData}, {0, 25, kUncCalc}});
    ExpectRows(Read(OPCHDA_DURATIONBAD, -30, 30),
               {{-30, 30, kGoodCalc | OPCHDA_PARTIAL}, {0, 10, kGoodCalc}});
}

// A skipped value outside an interval still makes it Uncertain when the line the interval uses
// passes over it, as INTERPOLATIVE marks the boundary it bridges.
TEST_F(Processed, TimeWeightedLinesOverSkippedValuesAreUncertain) {
    OPCHANDLE lab = client->Handle(u"Writable.Lab.Density");
    ASSERT_EQ(
        client
            ->Write(Client::Op::Insert, lab,
                    {Real(Sec(0), 0), Real(Sec(25), 999, OPC_QUALITY_BAD), Real(Sec(40), 40),
                     Real(Sec(70), 70), Real(Sec(95), 999, OPC_QUALITY_LAST_USABLE), Real(Sec(100), 100)})
            .size(),
        6u);
    // Intervals of 20 s over [0, 80); the Good values lie on the line v = t.
    const std::pair<DWORD, std::vector<Row>> cases[] = {
        {OPCHDA_TIMEAVERAGE,
         {{0, 10, kUncCalc}, {20, 30, kUncCalc}, {40, 50, kGoodCalc}, {60, 70, kUncCalc}}},
        {OPCHDA_TOTAL,
         {{0, 200, kUncCalc}, {20, 600, kUncCalc}, {40, 1000, kGoodCalc}, {60, 1400, kUncCalc}}},
        {OPCHDA_INTERPOLATIVE, {{0, 0, kRawGood}, {20, 20, kIntUnc}, {40, 40, kRawGood}, {60, 60, kIntGood}}},
    };
    for (const auto& [agg, rows] : cases) {
        SCOPED_TRACE("aggregate " + std::to_string(agg));
        Reply r = client->ReadProcessed(Time::At(Sec(0)), Time::At(Sec(80)), 20 * kSecond, {lab}, {agg});
        ASSERT_EQ(r.items.size(), 1u);
        ExpectRows(r.items[0], rows);
    }
}

// An interval that begins before the first Good value but holds some: computed over the part the
// data cover, Uncertain and partial.
TEST_F(Processed, TimeWeightedIntervalsBeforeTheFirstValueUseTheCoveredPart) {
    OPCHANDLE lab = client->Handle(u"Writable.Lab.Density");
    ASSERT_EQ(
        client->Write(Client::Op::Insert, lab, {Real(Sec(27), 10), Real(Sec(40), 23), Real(Sec(60), 53)})
            .size(),
        3u);
    constexpr DWORD kPartialUnc = kUncCalc | OPCHDA_PARTIAL;
    struct Case {
        DWORD aggregate;
        int from, to;
        std::vector<Row> rows;
    };
    const Case cases[] = {
        // Only 27..30 s of [0, 30) have data: 10 to 13, 11.5 on average, 34.5 in all.
        {OPCHDA_TIMEAVERAGE, 0, 60, {{0, 11.5, kPartialUnc}, {30, 940.0 / 30, kGoodCalc}}},
        {OPCHDA_TOTAL, 0, 60, {{0, 34.5, kPartialUnc}, {30, 940, kGoodCalc}}},
        // Backwards: (30, 60] and (0, 30].
        {OPCHDA_TIMEAVERAGE, 60, 0, {{60, 940.0 / 30, kGoodCalc}, {30, 11.5, kPartialUnc}}},
        // Nothing Good inside: still empty.
        {OPCHDA_TIMEAVERAGE, -30, 30, {{-30, kEmpty, kNoData}, {0, 11.5, kPartialUnc}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("aggregate " + std::to_string(c.aggregate) + " from " + std::to_string(c.from));
        Reply r = client->ReadProcessed(Time::At(Sec(c.from)), Time::At(Sec(c.to)), 30 * kSecond, {lab},
                                        {c.aggregate});
        ASSERT_EQ(r.items.size(), 1u);
        ExpectRows(r.items[0], c.rows);
    }
}

TEST_F(Processed, BackwardIntervalsEndAtTheirStamp) {
    // (60, 90], (30, 60], (0, 30], each stamped with its later end.
    ExpectRows(Read(OPCHDA_AVERAGE, 90, 0), {{90, 35, kGoodCalc}, {60, 50, kUncCalc}, {30, 30, kUncCalc}});
    ExpectRows(Read(OPCHDA_INTERPOLATIVE, 90, 0),
               {{90, 10, kIntUnc}, {60, 55, kIntGood}, {30, 40, kRawGood}});
}

TEST_F(Processed, IntervalZeroIsTheWholeRange) {
    ExpectRows(Read(OPCHDA_COUNT, 0, 90, 0), {{0, 6, kUncCalc}});
    ExpectRows(Read(OPCHDA_MAXIMUMACTUALTIME, 0, 90, 500), {{70, 60, kRawUnc}});
}

TEST_F(Processed, SteppedItemsAverageTheSteps) {
    OPCHANDLE sp = client->Handle(u"Writable.Setpoint");
    ASSERT_EQ(client->Write(Client::Op::Insert, sp, {Real(Sec(0), 10), Real(Sec(10), 20), Real(Sec(30), 40)})
                  .size(),
              3u);
    Reply r = client->ReadProcessed(Time::At(Sec(0)), Time::At(Sec(30)), 0, {sp}, {OPCHDA_TIMEAVERAGE});
    ExpectRows(r.items[0], {{0, 500.0 / 30, kGoodCalc}});
    Reply at = client->ReadAtTime({Sec(5), Sec(10)}, {sp});
    ExpectRows(at.items[0], {{5, 10, kIntGood}, {10, 20, kRawGood}});
}

TEST_F(Processed, GeneratedSquareWaveAveragesToItsMiddle) {
    OPCHANDLE sq = client->Handle(u"Generated.Waves.Square");  // 20 / 0, period 20 s, stepped
    Reply r = client->ReadProcessed(Time::At(Sec(0)), Time::At(Sec(60)), 20 * kSecond, {sq, sq, sq},
                                    {OPCHDA_TIMEAVERAGE, OPCHDA_COUNT, OPCHDA_MAXIMUM});
    ASSERT_EQ(r.hr, S_OK);
    ExpectRows(r.items[0], {{0, 10, kGoodCalc}, {20, 10, kGoodCalc}, {40, 10, kGoodCalc}});
    ExpectRows(r.items[1], {{0, 20, kGoodCalc}, {20, 20, kGoodCalc}, {40, 20, kGoodCalc}});
    ExpectRows(r.items[2], {{0, 20, kGoodCalc}, {20, 20, kGoodCalc}, {40, 20, kGoodCalc}});
}

TEST_F(Processed, BadRequests) {
    OPCHANDLE text = client->Handle(u"Writable.Text", 9);
    // Unknown aggregates and aggregates that do not fit a text item fail per item.
    Reply r = client->ReadProcessed(Time::At(Sec(0)), Time::At(Sec(90)), 30 * kSecond, {h, h, h, text, text},
                                    {0, 24, 0x80000001, OPCHDA_AVERAGE, OPCHDA_COUNT});
    ASSERT_EQ(r.hr, S_FALSE);
    const HRESULT codes[] = {OPC_E_INVALIDAGGREGATE, OPC_E_INVALIDAGGREGATE, OPC_E_INVALIDAGGREGATE,
                             OPC_E_NOT_AVAIL, S_OK};
    for (std::size_t k = 0; k < 5; ++k) {
        EXPECT_EQ(r.items[k].code, codes[k]) << k;
        if (FAILED(codes[k])) {
            EXPECT_TRUE(r.items[k].nullArrays);
        }
    }
    EXPECT_EQ(r.items[2].aggregate, 0x80000001u);
    EXPECT_EQ(r.items[3].hClient, 9u);
    // Whole-call failures.
    EXPECT_EQ(client->ReadProcessed(Time::At(Sec(5)), Time::At(Sec(5)), 0, {h}, {OPCHDA_AVERAGE}).hr,
              E_INVALIDARG);
    EXPECT_EQ(client->ReadProcessed(Time::None(), Time::At(Sec(5)), 0, {h}, {OPCHDA_AVERAGE}).hr,
              E_INVALIDARG);
    EXPECT_EQ(
        client->ReadProcessed(Time::At(Sec(0)), Time::At(Sec(86400)), kSecond, {h}, {OPCHDA_AVERAGE}).hr,
        OPC_E_MAXEXCEEDED);
    // Four centuries of a generated signal in one interval: refused rather than computed.
    OPCHANDLE sine = client->Handle(u"Generated.Waves.Sine");
    EXPECT_EQ(client->ReadProcessed(Time::At(0), Time::At(Sec(0)), 0, {sine}, {OPCHDA_AVERAGE}).hr,
              OPC_E_MAXEXCEEDED);
    EXPECT_EQ(client->ReadProcessed(Time::At(0), Time::At(Sec(0)), 0, {sine}, {OPCHDA_INTERPOLATIVE}).hr,
              S_OK);
    Reply rel = client->ReadProcessed(Time::Rel(u"NOW-1H"), Time::Rel(u"NOW?"), 0, {h}, {OPCHDA_AVERAGE});
    EXPECT_EQ(rel.hr, E_INVALIDARG);
    EXPECT_TRUE(rel.nullOutputs);
}

TEST_F(Processed, ReadAtTimeInterpolatesBetweenGoodValues) {
    Reply r = client->ReadAtTime({Sec(0), Sec(5), Sec(15), Sec(20), Sec(-5), Sec(85), Sec(60), Sec(5)}, {h});
    ASSERT_EQ(r.hr, S_OK);
    EXPECT_EQ(r.items[0].aggregate, 0u);
    ExpectRows(r.items[0], {{0, 10, kRawGood},
                            {5, 15, kIntGood},
                            {15, 25, kIntUnc},  // the Bad value at 20 is skipped
                            {20, 30, kIntUnc},
                            {-5, kEmpty, kNoData},  // nothing before: never extrapolated backwards
                            {85, 10, kIntUnc},      // held after the last value
                            {60, 55, kIntGood},
                            {5, 15, kIntGood}});
    Reply none = client->ReadAtTime({Sec(-10), Sec(-5)}, {h});
    EXPECT_EQ(none.hr, S_FALSE);
    EXPECT_EQ(none.items[0].code, OPC_S_NODATA);
    ExpectRows(none.items[0], {{-10, kEmpty, kNoData}, {-5, kEmpty, kNoData}});
}

TEST_F(Processed, IntegerItemsInterpolateToTheirOwnType) {
    OPCHANDLE i4 = client->Handle(u"Writable.Int4");
    ASSERT_EQ(client->Write(Client::Op::Insert, i4, {Text(Sec(0), u"10"), Text(Sec(10), u"21")}).size(), 2u);
    Reply r = client->ReadAtTime({Sec(5)}, {i4});
    ASSERT_EQ(r.items[0].v.size(), 1u);
    EXPECT_EQ(r.items[0].v[0].vt, VT_I4);
    EXPECT_EQ(r.items[0].v[0].num, 16);  // 15.5 rounded
}

}  // namespace
}  // namespace simtest
