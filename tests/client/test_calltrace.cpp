// The call trace: the tracing stand-in between the client core and the recording test server (what it
// records for a read and an update, that it forwards unchanged, that it records nothing while off),
// and the log the main window keeps (its bound, its filter, its CSV).
#include <sstream>

#include "client/calltrace.h"
#include "client/reads.h"
#include "client/updates.h"
#include "tests/client/client_fixture.h"

namespace {

using namespace clienttest;
using hdatest::MakeItem;
using hdatest::TaskArray;

class CallTraceTest : public ClientTest {
protected:
    void SetUp() override {
        ClientTest::SetUp();
        traced = com::ComPtr<IOPCHDA_Server>::Attach(client::NewTracingServer(server.Get(), trace, "Rec"));
        ASSERT_EQ(traced.As(&tracedRead), S_OK);
        ASSERT_EQ(traced.As(&tracedUpdate), S_OK);
        // Two items of 3 and 2 values, and more beyond the limit.
        Hooks().ReadRaw = [](OPCHDA_TIME*, OPCHDA_TIME*, DWORD, BOOL, DWORD n, OPCHANDLE*,
                             OPCHDA_ITEM** ppValues, HRESULT** ppErrors) {
            *ppValues = TaskArray<OPCHDA_ITEM>(n);
            for (DWORD i = 0; i < n; ++i) (*ppValues)[i] = MakeItem(i + 1, 3 - i);
            *ppErrors = TaskArray<HRESULT>(n);
            return OPC_S_MOREDATA;
        };
        Hooks().Insert = [](DWORD, OPCHANDLE*, FILETIME*, VARIANT*, DWORD*, HRESULT**) {
            return E_ACCESSDENIED;
        };
    }
    void TearDown() override {
        tracedRead.Reset();
        tracedUpdate.Reset();
        traced.Reset();
        ClientTest::TearDown();
    }

    client::ReadOutcome Read() {
        const OPCHANDLE handles[] = {hA, hB};
        return client::ReadRaw(tracedRead.Get(), {u"2009/02/24 10:00:00.000"}, {u"2009/02/24 11:00:00.000"},
                               0, false, handles);
    }
    client::UpdateOutcome Insert() {
        const OPCHANDLE handles[] = {hA};
        const FILETIME stamps[] = {U64ToFileTime(Ticks(2009, 2, 24, 9, 0, 0))};
        const std::u16string values[] = {u"1.5"};
        const DWORD qualities[] = {OPC_QUALITY_GOOD};
        return client::InsertReplaceHistory(tracedUpdate.Get(), OPCHDA_INSERT, handles, stamps, values,
                                            qualities);
    }

    std::shared_ptr<client::CallTrace> trace = std::make_shared<client::CallTrace>();
    client::CallLog log;
    com::ComPtr<IOPCHDA_Server> traced;
    com::ComPtr<IOPCHDA_SyncRead> tracedRead;
    com::ComPtr<IOPCHDA_SyncUpdate> tracedUpdate;
};

TEST_F(CallTraceTest, AReadAndAnUpdateAreRecordedWithTheirCodesAndCounts) {
    trace->SetRecorder(&log);
    client::ReadOutcome read = Read();
    client::UpdateOutcome insert = Insert();
    ASSERT_EQ(read.hr, OPC_S_MOREDATA);  // what the server said reaches the client unchanged
    ASSERT_EQ(read.results.Count(), 2u);
    EXPECT_EQ(insert.hr, E_ACCESSDENIED);
    // The server saw the arguments the client built.
    const hdatest::RecordedCall raw = OnlyCallTo("IOPCHDA_SyncRead::ReadRaw");
    EXPECT_EQ(raw.serverHandles, (std::vector<OPCHANDLE>{hA, hB}));
    EXPECT_EQ(OnlyCallTo("IOPCHDA_SyncUpdate::Insert").count, 1u);

    const std::vector<client::CallRecord> calls = log.Snapshot();
    ASSERT_EQ(calls.size(), 2u);
    const client::CallRecord& r = calls[0];
    EXPECT_EQ(r.server, "Rec");
    EXPECT_EQ(r.method, "IOPCHDA_SyncRead::ReadRaw");
    const std::string items = "items=2 [" + std::to_string(hA) + "," + std::to_string(hB) + "]";
    EXPECT_EQ(r.arguments, "2009-02-24T09:00:00.000Z, 2009-02-24T10:00:00.000Z, n=0, bounds=0, " + items);
    EXPECT_EQ(r.hr, OPC_S_MOREDATA);
    EXPECT_EQ(client::CallCode(r.hr), "0x40041003");
    EXPECT_EQ(client::CallCodeText(r.hr), "More Data Exists");
    EXPECT_EQ(r.values, 5u);
    EXPECT_EQ(r.Text(), "IOPCHDA_SyncRead::ReadRaw(" + r.arguments + ") -> 5 values");
    EXPECT_EQ(FileTimeToU64(r.ftStart), Ticks(2009, 2, 24, 13, 5, 7));  // the clock when it was made
    EXPECT_GE(r.micros, 0);

    const client::CallRecord& u = calls[1];
    EXPECT_EQ(u.method, "IOPCHDA_SyncUpdate::Insert");
    EXPECT_EQ(u.arguments, "entries=1 [" + std::to_string(hA) + "], times=1 [2009-02-24T09:00:00.000Z]");
    EXPECT_EQ(u.hr, E_ACCESSDENIED);
    EXPECT_EQ(client::CallCode(u.hr), "0x80070005");
    EXPECT_EQ(u.values, 1u);
    EXPECT_EQ(u.outcome, "");
    read.results.Release();
}

TEST_F(CallTraceTest, OffItForwardsEveryCallAndRecordsNothing) {
    client::ReadOutcome off = Read();
    EXPECT_EQ(off.hr, OPC_S_MOREDATA);
    EXPECT_EQ(off.results.Count(), 2u);
    EXPECT_EQ(CallsTo("IOPCHDA_SyncRead::ReadRaw").size(), 1u);
    trace->SetRecorder(&log);
    client::ReadOutcome on = Read();
    trace->SetRecorder(nullptr);
    Insert();
    EXPECT_EQ(CallsTo("IOPCHDA_SyncRead::ReadRaw").size(), 2u);
    ASSERT_EQ(log.Size(), 1u);
    EXPECT_EQ(log.Snapshot()[0].method, "IOPCHDA_SyncRead::ReadRaw");
    off.results.Release();
    on.results.Release();
}

client::CallRecord Numbered(long long n) {
    client::CallRecord call;
    call.server = "S";
    call.method = "M";
    call.micros = n;
    return call;
}

TEST(CallLog, KeepsTheLastCallsOldestFirst) {
    client::CallLog log;
    ASSERT_EQ(log.Capacity(), 10000u);
    for (long long i = 1; i <= 10001; ++i) log.Record(Numbered(i));
    EXPECT_EQ(log.Size(), 10000u);
    EXPECT_EQ(log.Total(), 10001u);
    const std::vector<client::CallRecord> kept = log.Snapshot();
    ASSERT_EQ(kept.size(), 10000u);
    EXPECT_EQ(kept.front().micros, 2);  // the first one went
    EXPECT_EQ(kept.back().micros, 10001);
    for (std::size_t i = 1; i < kept.size(); ++i) ASSERT_EQ(kept[i].micros, kept[i - 1].micros + 1);

    // Cleared, it starts again from nothing, wrapping the same way.
    client::CallLog small(3);
    for (long long i = 1; i <= 7; ++i) small.Record(Numbered(i));
    std::vector<long long> order;
    for (const auto& c : small.Snapshot()) order.push_back(c.micros);
    EXPECT_EQ(order, (std::vector<long long>{5, 6, 7}));
    small.Clear();
    EXPECT_EQ(small.Size(), 0u);
    EXPECT_EQ(small.Total(), 0u);
    small.Record(Numbered(8));
    EXPECT_EQ(small.Snapshot().size(), 1u);
}

TEST(CallLog, TheFilterIgnoresCaseAndLooksAtEveryText) {
    client::CallLog log;
    client::CallRecord read = Numbered(1);
    read.server = "HdaTest.Recording.1";
    read.method = "IOPCHDA_SyncRead::ReadRaw";
    read.arguments = "n=0, items=1 [7]";
    read.outcome = "12 values";
    read.hr = OPC_S_MOREDATA;
    client::CallRecord update = Numbered(2);
    update.server = "host Brindlex.HDA.Simulation.1";
    update.method = "IOPCHDA_SyncUpdate::Insert";
    update.hr = E_FAIL;
    log.Record(read);
    log.Record(update);
    const struct {
        const char* filter;
        std::vector<long long> found;
    } cases[] = {
        {"", {1, 2}},     {"readraw", {1}},         {"SYNCUPDATE", {2}}, {"brindlex", {2}},
        {"items=1", {1}}, {"12 VALUES", {1}},       {"0x80004005", {2}}, {"more data", {1}},
        {"failed", {2}},  {"IOPCHDA_Sync", {1, 2}}, {"nowhere", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.filter);
        std::vector<long long> found;
        for (const auto& call : log.Snapshot(c.filter)) found.push_back(call.micros);
        EXPECT_EQ(found, c.found);
    }
}

TEST(CallLog, CsvQuotesWhatNeedsItAndEndsLinesWithCrLf) {
    client::CallRecord call;
    call.ftStart = U64ToFileTime(Ticks(2026, 12, 9, 14, 2, 27, 125));
    call.server = "host Brindlex.HDA.Simulation.1";
    call.method = "IOPCHDA_Server::GetItemHandles";
    call.arguments = "2 [\"Tank, \"A\"\",...]";
    call.outcome = "handles 2 [1,2]";
    call.hr = OPC_S_MOREDATA;
    call.values = 2;
    call.micros = 31;
    client::CallRecord plain;
    plain.ftStart = U64ToFileTime(Ticks(2026, 12, 9, 14, 2, 28));
    plain.server = "Sim";
    plain.method = "IOPCHDA_SyncUpdate::DeleteRaw";
    plain.hr = static_cast<HRESULT>(0xC0049999);
    std::ostringstream out;
    client::WriteCallsCsv(out, {call, plain});
    EXPECT_EQ(out.str(),
              "Time,Server,Method,Arguments,Outcome,Result,Result text,Values,Microseconds\r\n"
              "2026-12-09T14:02:27.125Z,host Brindlex.HDA.Simulation.1,IOPCHDA_Server::GetItemHandles,"
              "\"2 [\"\"Tank, \"\"A\"\"\"\",...]\",\"handles 2 [1,2]\",0x40041003,More Data Exists,2,31\r\n"
              "2026-12-09T14:02:28.000Z,Sim,IOPCHDA_SyncUpdate::DeleteRaw,,,0xC0049999,"
              "Unknown Error code : 0xC0049999,,0\r\n");
}

}  // namespace
