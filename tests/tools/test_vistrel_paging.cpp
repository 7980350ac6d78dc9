// read-raw --all: the pages joined equal one unlimited read, value for value, against a scripted
// server with repeated boundary values, equal timestamps, bounds and reverse order, and against the
// simulation historian limited to 7 values a call.
#include <gtest/gtest.h>

#include <optional>

#include "tests/tools/cli_fixture.h"
#include "tests/tools/model_history.h"

namespace tooltest {
namespace {

constexpr ULONGLONG kS = 10000000ULL;

std::string Epoch(ULONGLONG ticks) {
    return "@" + std::to_string((ticks - 116444736000000000ULL) / kS);
}

std::optional<ULONGLONG> TimeOf(const OPCHDA_TIME* t) {
    if (!t || (t->bString && (!t->szTime || !*t->szTime))) return std::nullopt;
    return FileTimeToU64(t->ftTime);
}

struct PagingCase {
    const char* name;
    std::optional<int> start, end;  // seconds from kWinter
    int pageSize;
    bool bounds;
};

TEST(VistrelPaging, PagesOfAScriptedServerJoinToOneUnlimitedRead) {
    CliEnvironment::Get();
    com::ResetRuntimeForTests();
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    hdatest::ScopedControl ctl(hdatest::CLSID_HdaTestRecording);
    ASSERT_TRUE(ctl.ok());
    // Runs of equal timestamps, one longer than a page.
    std::vector<Sample> history;
    const int runs[][2] = {{0, 1}, {1, 3}, {2, 1}, {4, 2}, {5, 5}, {6, 1}, {8, 2}, {9, 1}, {11, 3}, {12, 1}};
    double v = 0.5;
    for (const auto& r : runs)
        for (int i = 0; i < r[1]; ++i) history.push_back({kWinter + ULONGLONG(r[0]) * kS, v += 1.25});
    int calls = 0;
    ctl->Hooks().ReadRaw = [&](OPCHDA_TIME* s, OPCHDA_TIME* e, DWORD n, BOOL b, DWORD items, OPCHANDLE*,
                               OPCHDA_ITEM** ppv, HRESULT** ppe) -> HRESULT {
        ++calls;
        ModelPage p = ModelReadRaw(history, TimeOf(s), TimeOf(e), n, b != FALSE);
        OPCHDA_ITEM* out = hdatest::TaskArray<OPCHDA_ITEM>(items);
        HRESULT* codes = hdatest::TaskArray<HRESULT>(items);
        for (DWORD i = 0; i < items; ++i) {
            const DWORD c = static_cast<DWORD>(p.values.size());
            out[i].dwCount = c;
            out[i].pftTimeStamps = hdatest::TaskArray<FILETIME>(c);
            out[i].pdwQualities = hdatest::TaskArray<DWORD>(c);
            out[i].pvDataValues = hdatest::TaskArray<VARIANT>(c);
            for (DWORD k = 0; k < c; ++k) {
                out[i].pftTimeStamps[k] = U64ToFileTime(p.values[k].t);
                out[i].pdwQualities[k] = p.values[k].q;
                if (p.values[k].q != OPCHDA_NOBOUND) {
                    out[i].pvDataValues[k].vt = VT_R8;
                    out[i].pvDataValues[k].dblVal = p.values[k].v;
                }
            }
            codes[i] = p.code;
        }
        *ppv = out;
        *ppe = codes;
        return S_OK;
    };
    const PagingCase cases[] = {
        {"forward", 0, 13, 3, false},
        {"forward, page of two", 0, 13, 2, false},
        {"forward, bounds around the history", -3, 20, 4, true},
        {"forward, bounds inside", 1, 9, 3, true},
        {"start and count only", 2, std::nullopt, 2, false},
        {"backward", 13, 0, 3, false},
        {"backward, bounds", 12, 1, 2, true},
        {"end and count only", std::nullopt, 9, 3, false},
    };
    auto at = [](std::optional<int> s) { return Epoch(kWinter + ULONGLONG(*s) * kS); };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        std::vector<std::string> base = {"read-raw", "--server", "HdaTest.Recording.1", "--format", "csv"};
        if (k.start) base.insert(base.end(), {"--start", at(k.start)});
        if (k.end) base.insert(base.end(), {"--end", at(k.end)});
        if (k.bounds) base.push_back("--bounds");
        auto once = base;
        once.insert(once.end(), {"--max", k.start && k.end ? "0" : "100000", "Plant.Status"});
        auto paged = base;
        paged.insert(paged.end(), {"--max", std::to_string(k.pageSize), "--all", "Plant.Status"});
        CliResult one = RunCli(once);
        calls = 0;
        CliResult all = RunCli(paged);
        EXPECT_EQ(one.code, 0) << one.err;
        EXPECT_EQ(all.code, 0) << all.err;
        EXPECT_GT(Lines(one.out), 10u);
        EXPECT_GT(calls, 3);
        EXPECT_EQ(all.out, one.out);
    }
}

#ifdef SIM_PLUGIN_PATH
TEST(VistrelPaging, TheHistorianLimitedToSevenValuesACallReadsTheSameAsWithoutLimit) {
    const std::string from = Epoch(kWinter), to = Epoch(kWinter + 100 * kS);
    struct Case {
        const char* name;
        std::vector<std::string> times;
        const char* pageSize;
    } cases[] = {
        {"forward", {"--start", from, "--end", to}, "7"},
        {"forward, bounds", {"--start", Epoch(kWinter + 5000000), "--end", to, "--bounds"}, "7"},
        {"backward, bounds", {"--start", to, "--end", Epoch(kWinter + 5000000), "--bounds"}, "5"},
        {"no count: the server's limit", {"--start", from, "--end", to}, "0"},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        std::vector<std::string> args = {"read-raw", "--server", "Brindlex.OPC.Simulation", "--format",
                                         "json"};
        args.insert(args.end(), k.times.begin(), k.times.end());
        auto once = args;
        once.insert(once.end(), {"Generated.Waves.Sine", "Generated.Types.Text"});
        auto paged = args;
        paged.insert(paged.end(),
                     {"--max", k.pageSize, "--all", "Generated.Waves.Sine", "Generated.Types.Text"});
        unsetenv("VISTREL_SIM_MAX_VALUES");
        CliResult one = RunCli(once);
        setenv("VISTREL_SIM_MAX_VALUES", "7", 1);
        CliResult all = RunCli(paged);
        unsetenv("VISTREL_SIM_MAX_VALUES");
        EXPECT_EQ(one.code, 0) << one.err;
        EXPECT_EQ(all.code, 0) << all.err;
        EXPECT_GT(Lines(one.out), 100u);
        EXPECT_EQ(all.out, one.out);
    }
}
// Read Modified pages alike: every superseded value of one timestamp stands at that timestamp.
TEST(VistrelPaging, ReadModifiedAcrossTimestampsOfSeveralModifications) {
    const std::string sim = "Brindlex.OPC.Simulation";
    for (const char* v : {"a", "b", "c", "d"})
        ASSERT_EQ(RunCli({"insert-replace", "--server", sim},
                         std::string("Writable.Lab.Remark,2024-01-15T10:00:00Z,") + v +
                             ",Good\nWritable.Lab.Remark,2024-01-15T10:00:01Z," + v + ",Good\n")
                      .code,
                  0);
    const std::vector<std::string> args = {
        "read-modified",        "--server",           sim, "--start", "2024-01-15T10:00:00Z", "--end",
        "2024-01-15T10:00:02Z", "Writable.Lab.Remark"};
    CliResult one = RunCli(args);
    auto paged = args;
    paged.insert(paged.end(), {"--max", "1", "--all"});
    CliResult all = RunCli(paged);
    EXPECT_EQ(Lines(one.out), 7u) << one.out;
    EXPECT_EQ(all.code, 0) << all.err;
    EXPECT_EQ(all.out, one.out);
    RunCli({"delete-raw", "--server", sim, "--start", "2024-01-15T10:00:00Z", "--end", "2024-01-15T10:00:02Z",
            "Writable.Lab.Remark"});
}
#endif

}  // namespace
}  // namespace tooltest

namespace tooltest {
namespace {

// A server that claims more values than it allocated: what it sent is shown, the claim is named, and
// everything it allocated is released (the fixture counts the blocks).
TEST(VistrelPaging, AServerClaimingMoreThanItSentIsReadWithinItsArrays) {
    CliEnvironment::Get();
    com::ResetRuntimeForTests();
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    hdatest::ScopedControl ctl(hdatest::CLSID_HdaTestRecording);
    ASSERT_TRUE(ctl.ok());
    ctl->Hooks().ReadModified = [](OPCHDA_TIME*, OPCHDA_TIME*, DWORD, DWORD items, OPCHANDLE*,
                                   OPCHDA_MODIFIEDITEM** ppv, HRESULT** ppe) -> HRESULT {
        auto* out = hdatest::TaskArray<OPCHDA_MODIFIEDITEM>(items);
        for (DWORD i = 0; i < items; ++i) {
            out[i].dwCount = 5;  // three of each were allocated
            out[i].pftTimeStamps = hdatest::TaskArray<FILETIME>(3);
            out[i].pdwQualities = hdatest::TaskArray<DWORD>(3);
            out[i].pvDataValues = hdatest::TaskArray<VARIANT>(3);
            out[i].pftModificationTime = hdatest::TaskArray<FILETIME>(3);
            out[i].pEditType = hdatest::TaskArray<OPCHDA_EDITTYPE>(3);
            out[i].szUser = hdatest::TaskArray<LPWSTR>(3);
            for (DWORD k = 0; k < 3; ++k) {
                out[i].pftTimeStamps[k] = U64ToFileTime(kWinter + k * kS);
                out[i].pvDataValues[k].vt = VT_BSTR;
                out[i].pvDataValues[k].bstrVal = SysAllocString(u"old");
                out[i].pEditType[k] = OPCHDA_REPLACE;
                out[i].szUser[k] = hdatest::TaskString(u"operator");
            }
        }
        *ppv = out;
        *ppe = hdatest::TaskArray<HRESULT>(items);
        return S_OK;
    };
    CliResult r = RunCli({"read-modified", "--server", "HdaTest.Recording.1", "--utc", "--start",
                          Epoch(kWinter), "--end", Epoch(kWinter + 10 * kS), "Plant.Status"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(Lines(r.out), 4u) << r.out;
    EXPECT_NE(r.out.find("Plant.Status,2024-01-15T10:00:02.000Z,old,0x00000000,\"Bad, Non-Specific\","
                         "1601-01-01T00:00:00.000Z,Replace,operator,0x00000000,OK\r\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(r.err, "vistrel: item 'Plant.Status': the server claimed 5 values but sent 3\n");
}

}  // namespace
}  // namespace tooltest
