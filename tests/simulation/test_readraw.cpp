// ReadRaw through the COM interface: the time domain, bounds, counts, continuation, limits.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "com/objbase.h"
#include "com/timeapi.h"
#include "tests/simulation/sim_client.h"

namespace simtest {
namespace {

Ticks Min(int m) {
    return static_cast<Ticks>(static_cast<std::int64_t>(kFiveAm) + m * static_cast<std::int64_t>(kMinute));
}

// An expected entry: a stored value at a minute after 5:00, or a placeholder for a missing bound.
struct E {
    int minute;
    bool placeholder = false;
};
E P(int minute) {
    return E{minute, true};
}

struct RawCase {
    const char* name;
    std::optional<int> start, end;  // minutes after 5:00; empty: not given
    DWORD n;
    bool bounds;
    std::vector<E> expected;
    HRESULT code;
};

// Stored values at 5:00, 5:02, 5:03, 5:05 and 5:06, each worth ten times its minute; the value at
// 5:03 is Uncertain.
const int kMinutes[] = {0, 2, 3, 5, 6};
DWORD QualityAt(int minute) {
    return minute == 3 ? OPC_QUALITY_LAST_USABLE : OPC_QUALITY_GOOD;
}

const RawCase kCases[] = {
    // Forward, both times given.
    {"inside", 1, 4, 0, false, {{2}, {3}}, S_OK},
    {"inside with bounds", 1, 4, 0, true, {{0}, {2}, {3}, {5}}, S_OK},
    {"end excluded", 0, 5, 0, false, {{0}, {2}, {3}}, S_OK},
    {"bounds on values", 0, 5, 0, true, {{0}, {2}, {3}, {5}}, S_OK},
    {"no start bound", -1, 5, 0, true, {P(-1), {0}, {2}, {3}, {5}}, S_OK},
    {"no end bound", 1, 7, 0, true, {{0}, {2}, {3}, {5}, {6}, P(7)}, S_OK},
    {"count fits", 1, 4, 2, false, {{2}, {3}}, S_OK},
    {"count cuts", 1, 7, 2, false, {{2}, {3}}, OPC_S_MOREDATA},
    {"bounds count", 1, 4, 3, true, {{0}, {2}, {3}}, OPC_S_MOREDATA},  // only the end bound was cut
    {"one is the bound", 1, 4, 1, true, {{0}}, OPC_S_MOREDATA},
    {"empty with bounds", 7, 10, 0, true, {{6}, P(10)}, S_OK},
    {"empty", 7, 10, 0, false, {}, OPC_S_NODATA},
    {"before history", -10, -5, 0, true, {P(-10), {0}}, S_OK},
    {"before history no bounds", -10, -5, 0, false, {}, OPC_S_NODATA},
    // Forward from start with a count.
    {"start and count", 1, {}, 2, false, {{2}, {3}}, OPC_S_MOREDATA},
    {"start and count, bounds", 1, {}, 2, true, {{0}, {2}}, OPC_S_MOREDATA},
    {"start to the end of history", 5, {}, 10, true, {{5}, {6}}, S_OK},
    {"start after history", 7, {}, 5, true, {{6}}, S_OK},
    {"start after history no bounds", 7, {}, 5, false, {}, OPC_S_NODATA},
    // Backward: end before start.
    {"backward", 4, 1, 0, false, {{3}, {2}}, S_OK},
    {"backward with bounds", 4, 1, 0, true, {{5}, {3}, {2}, {0}}, S_OK},
    {"backward end excluded", 5, 0, 0, false, {{5}, {3}, {2}}, S_OK},
    {"backward bounds on values", 5, 0, 0, true, {{5}, {3}, {2}, {0}}, S_OK},
    {"backward no start bound", 10, 7, 0, true, {P(10), {6}}, S_OK},
    {"backward count", 6, -1, 2, false, {{6}, {5}}, OPC_S_MOREDATA},
    // Backward from end with a count: the value exactly at end is included.
    {"end and count", {}, 5, 2, false, {{5}, {3}}, OPC_S_MOREDATA},
    {"end and count, bounds", {}, 4, 10, true, {{5}, {3}, {2}, {0}}, S_OK},
    {"end before history", {}, -1, 3, false, {}, OPC_S_NODATA},
    // Start equal to end: the value at that instant, whatever bounds says.
    {"one instant", 2, 2, 0, false, {{2}}, S_OK},
    {"one instant with bounds", 2, 2, 0, true, {{2}}, S_OK},
    {"one empty instant", 1, 1, 0, true, {}, OPC_S_NODATA},
};

class ReadRawTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        std::map<std::string, std::string> env;
        if (!GetParam()) env["VISTREL_SIM_CACHE_VALUES"] = "0";
        env["VISTREL_SIM_MAX_VALUES"] = "100";
        client = std::make_unique<Client>(dir.File("h.db"), env);
        h = client->Handle(u"Writable.Real8", 42);
    }

    TempDir dir;
    std::unique_ptr<Client> client;
    OPCHANDLE h = 0;
};

TEST_P(ReadRawTest, FollowsTheStandardsTable) {
    std::vector<In> values;
    for (int m : kMinutes) values.push_back(Text(Min(m), U16(std::to_string(m * 10)), QualityAt(m)));
    std::shuffle(values.begin(), values.end(), std::mt19937(7));
    ASSERT_EQ(client->Write(Client::Op::Insert, h, values), std::vector<HRESULT>(5, S_OK));

    for (const RawCase& c : kCases) {
        SCOPED_TRACE(c.name);
        Time start = c.start ? Time::At(Min(*c.start)) : Time::None();
        Time end = c.end ? Time::At(Min(*c.end)) : Time::None();
        Reply r = client->ReadRaw(start, end, c.n, c.bounds, {h});
        ASSERT_EQ(r.hr, c.code == S_OK ? S_OK : S_FALSE);
        ASSERT_EQ(r.items.size(), 1u);
        const ItemReply& it = r.items[0];
        EXPECT_EQ(it.code, c.code);
        EXPECT_EQ(it.hClient, 42u);
        EXPECT_EQ(it.aggregate, 0u);
        ASSERT_EQ(it.t.size(), c.expected.size());
        for (std::size_t k = 0; k < c.expected.size(); ++k) {
            const E& e = c.expected[k];
            EXPECT_EQ(it.t[k], Min(e.minute)) << "entry " << k;
            if (e.placeholder) {
                EXPECT_EQ(it.v[k].vt, VT_EMPTY);
                EXPECT_EQ(it.q[k], OPCHDA_NOBOUND);
            } else {
                EXPECT_EQ(it.v[k].vt, VT_R8);
                EXPECT_EQ(it.v[k].num, e.minute * 10);
                EXPECT_EQ(it.q[k], OPCHDA_RAW | QualityAt(e.minute));
            }
        }
        if (c.code == OPC_S_NODATA) {
            EXPECT_TRUE(it.nullArrays);
        }
    }
}

// Reads everything in pages of n, each continuing from the last timestamp returned (or just past
// it for pages of 1, which could never advance otherwise).
std::vector<Ticks> Paged(Client& client, OPCHANDLE h, Ticks from, Ticks to, DWORD n, bool bounds,
                         int* calls) {
    std::vector<Ticks> all;
    *calls = 0;
    Ticks start = from;
    const bool backward = to < from;
    while (true) {
        Reply r = client.ReadRaw(Time::At(start), Time::At(to), n, bounds, {h});
        ++*calls;
        EXPECT_LT(*calls, 1000);
        if (r.items.empty() || *calls >= 1000) break;
        const ItemReply& it = r.items[0];
        auto first = it.t.begin();
        // A continuation repeats the last value of the previous page, and only that.
        if (!all.empty() && n > 1) {
            EXPECT_EQ(it.t.front(), all.back());
            ++first;
        }
        all.insert(all.end(), first, it.t.end());
        if (it.code != OPC_S_MOREDATA) break;
        start = it.t.back();
        if (n == 1) start = backward ? start - 1 : start + 1;
    }
    return all;
}

TEST_P(ReadRawTest, ContinuationLosesNothing) {
    // 40 values at irregular instants, inserted in random order.
    std::vector<Ticks> stored;
    std::mt19937 rng(11);
    Ticks t = kFiveAm;
    for (int k = 0; k < 40; ++k) stored.push_back(t += (1 + rng() % 50) * kSecond);
    std::vector<In> values;
    for (Ticks x : stored) values.push_back(Real(x, static_cast<double>(x % 1000)));
    std::shuffle(values.begin(), values.end(), rng);
    ASSERT_EQ(client->Write(Client::Op::Insert, h, values), std::vector<HRESULT>(40, S_OK));

    const Ticks from = stored.front() - kSecond, to = stored.back() + kSecond;
    std::vector<Ticks> reversed(stored.rbegin(), stored.rend());
    for (bool bounds : {false, true}) {
        for (DWORD n : {1u, 2u, 3u, 7u, 40u, 100u}) {
            if (bounds && n == 1) continue;  // a page of one bound can never advance
            SCOPED_TRACE("bounds " + std::to_string(bounds) + ", pages of " + std::to_string(n));
            int calls = 0;
            std::vector<Ticks> fwd = Paged(*client, h, from, to, n, bounds, &calls);
            std::vector<Ticks> bwd = Paged(*client, h, to, from, n, bounds, &calls);
            if (bounds) {
                // Placeholders at both ends, since nothing lies outside the range.
                ASSERT_GE(fwd.size(), 2u);
                EXPECT_EQ(fwd.front(), from);
                EXPECT_EQ(fwd.back(), to);
                fwd = std::vector<Ticks>(fwd.begin() + 1, fwd.end() - 1);
                EXPECT_EQ(bwd.front(), to);
                EXPECT_EQ(bwd.back(), from);
                bwd = std::vector<Ticks>(bwd.begin() + 1, bwd.end() - 1);
            }
            EXPECT_EQ(fwd, stored);
            EXPECT_EQ(bwd, reversed);
        }
    }
}

TEST_P(ReadRawTest, ServerMaximumPagesACountOfZero) {
    std::vector<In> values;
    for (int k = 0; k < 250; ++k) values.push_back(Real(kFiveAm + k * kSecond, k));
    ASSERT_EQ(client->Write(Client::Op::Insert, h, values).size(), 250u);
    Reply r = client->ReadRaw(Time::At(kFiveAm), Time::At(kFiveAm + kMinute * 10), 0, false, {h});
    ASSERT_EQ(r.items.size(), 1u);
    EXPECT_EQ(r.items[0].code, OPC_S_MOREDATA);
    EXPECT_EQ(r.items[0].t.size(), 100u);  // VISTREL_SIM_MAX_VALUES
    // Asking for more than the maximum fails the call.
    Reply over = client->ReadRaw(Time::At(kFiveAm), Time::At(kFiveAm + kMinute * 10), 101, false, {h});
    EXPECT_EQ(over.hr, OPC_E_MAXEXCEEDED);
}

INSTANTIATE_TEST_SUITE_P(Store, ReadRawTest, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Cached" : "Uncached"; });

class ReadRawCalls : public ::testing::Test {
protected:
    void TearDown() override { com::ResetClock(); }
    TempDir dir;
};

TEST_F(ReadRawCalls, RefusesBadArguments) {
    Client c(dir.File("h.db"));
    OPCHANDLE h = c.Handle(u"Generated.Waves.Sine");
    struct Bad {
        const char* name;
        Time start, end;
        DWORD n;
        HRESULT hr;
    };
    const Bad bad[] = {
        {"only a start", Time::At(kFiveAm), Time::None(), 0, E_INVALIDARG},
        {"only an end", Time::None(), Time::At(kFiveAm), 0, E_INVALIDARG},
        {"only a count", Time::None(), Time::None(), 5, E_INVALIDARG},
        {"unreadable start", Time::Rel(u"NOW-1X"), Time::Rel(u"NOW"), 0, E_INVALIDARG},
        {"unreadable end", Time::Rel(u"DAY"), Time::Rel(u"YESTERDAY"), 0, E_INVALIDARG},
        {"above the maximum", Time::At(kFiveAm), Time::None(), 10'001, OPC_E_MAXEXCEEDED},
    };
    for (const Bad& b : bad) {
        SCOPED_TRACE(b.name);
        Reply r = c.ReadRaw(b.start, b.end, b.n, false, {h});
        EXPECT_EQ(r.hr, b.hr);
        EXPECT_TRUE(r.nullOutputs);
    }
    // An empty handle list.
    OPCHDA_TIME s{FALSE, const_cast<LPWSTR>(u""), U64ToFileTime(kFiveAm)}, e = s;
    OPCHDA_ITEM* items = reinterpret_cast<OPCHDA_ITEM*>(1);
    HRESULT* errors = reinterpret_cast<HRESULT*>(1);
    EXPECT_EQ(c.read()->ReadRaw(&s, &e, 10, FALSE, 0, nullptr, &items, &errors), E_INVALIDARG);
    EXPECT_EQ(items, nullptr);
    EXPECT_EQ(errors, nullptr);
}

TEST_F(ReadRawCalls, ResolvesRelativeTimesAgainstTheRuntimeClockAndWritesThemBack) {
    const Ticks now = kFiveAm + 30 * kMinute + 15 * kSecond;
    com::SetFixedNow(now);
    Client c(dir.File("h.db"));
    OPCHANDLE sine = c.Handle(u"Generated.Waves.Sine");  // one sample a second
    Reply r = c.ReadRaw(Time::Rel(u"MINUTE-1M"), Time::Rel(u"now"), 0, false, {sine});
    ASSERT_EQ(r.hr, S_OK);
    EXPECT_EQ(r.startOut, kFiveAm + 29 * kMinute);
    EXPECT_EQ(r.endOut, now);
    ASSERT_EQ(r.items[0].t.size(), 75u);
    EXPECT_EQ(r.items[0].t.front(), kFiveAm + 29 * kMinute);
    EXPECT_EQ(r.items[0].t.back(), now - kSecond);
    // A time that was not given is left as it came.
    Reply s = c.ReadRaw(Time::Rel(u"HOUR"), Time::None(), 3, false, {sine});
    EXPECT_EQ(s.startOut, kFiveAm);
    EXPECT_EQ(s.endOut, 0u);
}

TEST_F(ReadRawCalls, GeneratedHistoryIsTheSameOnEveryRead) {
    Client c(dir.File("h.db"));
    std::vector<OPCHANDLE> h = {c.Handle(u"Generated.Waves.Random", 1), c.Handle(u"Generated.Types.Int2", 2),
                                c.Handle(u"Generated.Types.Text", 3)};
    const Time start = Time::At(kFiveAm), end = Time::At(kFiveAm + 10 * kMinute);
    Reply a = c.ReadRaw(start, end, 0, false, h);
    Reply b = c.ReadRaw(start, end, 0, false, h);
    ASSERT_EQ(a.hr, S_OK);
    const std::pair<VARTYPE, std::size_t> expect[] = {{VT_R8, 120u}, {VT_I2, 300u}, {VT_BSTR, 40u}};
    for (std::size_t k = 0; k < h.size(); ++k) {
        EXPECT_EQ(a.items[k].hClient, k + 1);
        EXPECT_EQ(a.items[k].v.size(), expect[k].second);
        EXPECT_EQ(a.items[k].t, b.items[k].t);
        for (std::size_t j = 0; j < a.items[k].v.size(); ++j) {
            EXPECT_EQ(a.items[k].v[j].vt, expect[k].first);
            EXPECT_EQ(a.items[k].v[j].num, b.items[k].v[j].num);
            EXPECT_EQ(a.items[k].v[j].text, b.items[k].v[j].text);
        }
    }
}

TEST_F(ReadRawCalls, ReleasedAndUnknownHandlesFailPerItem) {
    Client c(dir.File("h.db"));
    OPCHANDLE a = c.Handle(u"Generated.Waves.Sine", 1), b = c.Handle(u"Generated.Waves.Sine", 2);
    ASSERT_NE(a, b);
    HRESULT* errors = nullptr;
    ASSERT_EQ(c.server()->ReleaseItemHandles(1, &a, &errors), S_OK);
    CoTaskMemFree(errors);
    ASSERT_EQ(c.server()->ReleaseItemHandles(1, &a, &errors), S_FALSE);
    EXPECT_EQ(errors[0], OPC_E_INVALIDHANDLE);
    CoTaskMemFree(errors);
    Reply r = c.ReadRaw(Time::At(kFiveAm), Time::At(kFiveAm + 5 * kSecond), 0, false, {a, b, 0xDEAD});
    EXPECT_EQ(r.hr, S_FALSE);
    EXPECT_EQ(r.items[0].code, OPC_E_INVALIDHANDLE);
    EXPECT_TRUE(r.items[0].nullArrays);
    EXPECT_EQ(r.items[1].code, S_OK);
    EXPECT_EQ(r.items[1].hClient, 2u);
    EXPECT_EQ(r.items[1].t.size(), 5u);
    EXPECT_EQ(r.items[2].code, OPC_E_INVALIDHANDLE);
}

TEST_F(ReadRawCalls, ManyHandlesWithManyValuesStayWithinTheCallLimit) {
    Client c(dir.File("h.db"));
    std::vector<OPCHANDLE> h(1000, c.Handle(u"Generated.Waves.FastSine"));
    const long before = com::LiveTaskMemBlocks();
    // 1,000 × 10,000 values exceed the call's limit of 1,000,000.
    Reply r = c.ReadRaw(Time::At(kFiveAm), Time::At(kFiveAm + kMinute * 60), 10'000, false, h);
    EXPECT_EQ(r.hr, OPC_E_MAXEXCEEDED);
    // Without a count every item gets its share and is told there is more.
    Reply s = c.ReadRaw(Time::At(kFiveAm), Time::At(kFiveAm + kMinute * 60), 0, false, h);
    ASSERT_EQ(s.hr, S_FALSE);
    ASSERT_EQ(s.items.size(), 1000u);
    for (const auto& it : s.items) {
        EXPECT_EQ(it.code, OPC_S_MOREDATA);
        EXPECT_EQ(it.t.size(), 1000u);
    }
    EXPECT_EQ(com::LiveTaskMemBlocks(), before);
}

}  // namespace
}  // namespace simtest
