// The seams of a paged read: every value exactly once, against a model history and against servers
// that repeat less than they should.
#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "client/continuation.h"
#include "com/oleauto.h"
#include "tests/tools/model_history.h"

using tooltest::ModelReadRaw;
using tooltest::Sample;

namespace {

constexpr ULONGLONG kT0 = 133485588000000000ULL;  // 2024-01-01 05:00:00 UTC
constexpr ULONGLONG kS = 10000000ULL;

// The values a page hands on, after the seam dropped its repeats.
std::vector<Sample> Fresh(client::CReadContinuation& c, HRESULT code, const std::vector<Sample>& page) {
    std::vector<VARIANT> v(page.size());
    for (std::size_t i = 0; i < page.size(); ++i) {
        VariantInit(&v[i]);
        v[i].vt = VT_R8;
        v[i].dblVal = page[i].v;
    }
    const std::size_t skip = c.Accept(code, page.size(), [&](std::size_t i) {
        client::SeamValue sv;
        sv.t = page[i].t;
        sv.quality = page[i].q;
        sv.value = &v[i];
        return sv;
    });
    return {page.begin() + static_cast<std::ptrdiff_t>(skip), page.end()};
}

// Follows the continuation through the model to the end, as `vistrel --all` does.
std::vector<Sample> ReadAll(const std::vector<Sample>& h, std::optional<ULONGLONG> start,
                            std::optional<ULONGLONG> end, DWORD n, bool bounds, std::size_t* pPages) {
    client::CReadContinuation c(start.has_value(), end.has_value());
    c.SetBackward((start && end && *end < *start) || (!start && end));
    std::vector<Sample> got;
    DWORD ask = n;
    for (int guard = 0; guard < 10000; ++guard) {
        tooltest::ModelPage p = ModelReadRaw(h, start, end, ask, bounds);
        auto fresh = Fresh(c, p.code, p.values);
        got.insert(got.end(), fresh.begin(), fresh.end());
        if (!c.HasMore()) break;
        ask = c.NextCount(n);
        (c.MovesStart() ? start : end) = c.ContinueFrom();
    }
    *pPages = c.Pages();
    return got;
}

std::vector<Sample> History(std::initializer_list<std::pair<int, int>> secondsAndCount) {
    std::vector<Sample> h;
    double v = 1;
    for (auto [sec, count] : secondsAndCount)
        for (int i = 0; i < count; ++i) h.push_back({kT0 + ULONGLONG(sec) * kS, v++});
    return h;
}

struct SeamCase {
    const char* name;
    std::vector<Sample> history;
    std::optional<int> start, end;  // seconds from kT0
    DWORD n;
    bool bounds;
};

TEST(Continuation, PagesJoinedEqualOneUnlimitedRead) {
    const auto unique =
        History({{0, 1}, {1, 1}, {2, 1}, {3, 1}, {4, 1}, {5, 1}, {6, 1}, {7, 1}, {8, 1}, {9, 1}});
    const auto runs = History({{0, 1}, {1, 3}, {2, 1}, {3, 2}, {4, 1}, {5, 3}, {7, 1}, {9, 2}});
    const auto wide = History({{0, 1}, {1, 5}, {2, 1}, {3, 7}, {4, 1}});
    const SeamCase cases[] = {
        {"forward, one value a timestamp", unique, 0, 10, 3, false},
        {"forward, page of two", unique, 0, 10, 2, false},
        {"forward, runs of equal timestamps", runs, 0, 10, 2, false},
        {"forward, runs, page of three", runs, 0, 10, 3, false},
        {"forward, runs, page of four, bounds", runs, 1, 8, 4, true},
        {"forward, bounds outside the history", runs, -5, 20, 3, true},
        {"forward, start only", runs, 2, std::nullopt, 2, false},
        {"a timestamp with more values than a page", wide, 0, 5, 2, false},
        {"wide timestamps, page of one", wide, 0, 5, 1, false},
        {"backward", unique, 10, 0, 3, false},
        {"backward, runs, bounds", runs, 9, 1, 3, true},
        {"backward from the end only", runs, std::nullopt, 7, 2, false},
        {"backward, wide timestamps", wide, 5, 0, 3, true},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        auto at = [](std::optional<int> s) -> std::optional<ULONGLONG> {
            if (!s) return std::nullopt;
            return kT0 + static_cast<ULONGLONG>(static_cast<long long>(*s) * static_cast<long long>(kS));
        };
        const auto once = ModelReadRaw(k.history, at(k.start), at(k.end), 0, k.bounds).values;
        std::size_t pages = 0;
        const auto paged = ReadAll(k.history, at(k.start), at(k.end), k.n, k.bounds, &pages);
        EXPECT_EQ(paged, once);
        EXPECT_GT(pages, 1u);
    }
}

// Servers that repeat only the last value, or nothing, lose nothing and duplicate nothing either.
TEST(Continuation, ServersThatRepeatLessStillJoinExactly) {
    const std::vector<Sample> a = {{kT0, 1}, {kT0 + kS, 2}, {kT0 + kS, 3}};
    const std::vector<Sample> fullRepeat = {{kT0 + kS, 2}, {kT0 + kS, 3}, {kT0 + 2 * kS, 4}};
    const std::vector<Sample> lastOnly = {{kT0 + kS, 3}, {kT0 + 2 * kS, 4}};
    const std::vector<Sample> none = {{kT0 + 2 * kS, 4}};
    for (const auto* next : {&fullRepeat, &lastOnly, &none}) {
        client::CReadContinuation c(true, true);
        EXPECT_EQ(Fresh(c, OPC_S_MOREDATA, a).size(), 3u);
        ASSERT_TRUE(c.HasMore());
        EXPECT_EQ(c.ContinueFrom(), kT0 + kS);
        auto fresh = Fresh(c, S_OK, *next);
        ASSERT_EQ(fresh.size(), 1u);
        EXPECT_EQ(fresh[0].v, 4);
        EXPECT_FALSE(c.HasMore());
    }
    // A new value at the continuation timestamp that the previous page did not hold is kept.
    client::CReadContinuation c(true, true);
    Fresh(c, OPC_S_MOREDATA, {{kT0, 1}, {kT0 + kS, 2}});
    auto fresh = Fresh(c, S_OK, {{kT0 + kS, 2}, {kT0 + kS, 9}});
    ASSERT_EQ(fresh.size(), 1u);
    EXPECT_EQ(fresh[0].v, 9);
}

TEST(Continuation, StallsGrowThePageAndARegressingServerEndsThePaging) {
    client::CReadContinuation c(true, true);
    c.SetBackward(false);
    const std::vector<Sample> same = {{kT0, 1}, {kT0, 2}};
    Fresh(c, OPC_S_MOREDATA, same);
    EXPECT_TRUE(Fresh(c, OPC_S_MOREDATA, same).empty());
    EXPECT_TRUE(c.Stalled());
    EXPECT_TRUE(c.HasMore());
    EXPECT_EQ(c.NextCount(2), 4u);

    client::CReadContinuation back(true, true);
    back.SetBackward(false);
    Fresh(back, OPC_S_MOREDATA, {{kT0 + 5 * kS, 1}});
    Fresh(back, OPC_S_MOREDATA, {{kT0 + kS, 7}});
    EXPECT_TRUE(back.Regressed());
    EXPECT_FALSE(back.HasMore());
}

}  // namespace
