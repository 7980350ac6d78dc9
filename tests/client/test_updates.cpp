// The history updates of the client core: the arrays each call gets (entry k of every array belongs
// to the same row and item), the result codes it keeps, the messages, and the records Delete Raw reads
// back after the server rewrote them.
#include "client/updates.h"
#include "tests/client/client_fixture.h"

namespace {

using namespace clienttest;
using hdatest::TaskArray;

class Updates : public ClientTest {};

TEST_F(Updates, EachModeSendsEveryEntryWithItsValueAsTextAndKeepsTheCodes) {
    // Two items, two rows: entries A1 B1 A2 B2.
    const std::vector<OPCHANDLE> handles = {hA, hB, hA, hB};
    const ULONGLONG t1 = Ticks(2009, 2, 24, 9, 0, 0), t2 = Ticks(2009, 2, 24, 9, 0, 1);
    const std::vector<FILETIME> stamps = {U64ToFileTime(t1), U64ToFileTime(t1), U64ToFileTime(t2),
                                          U64ToFileTime(t2)};
    const std::vector<std::u16string> values = {u"1.5", u"", u"text", u"-7"};
    const std::vector<DWORD> qualities = {OPC_QUALITY_GOOD, OPC_QUALITY_GOOD, 0, OPC_QUALITY_GOOD};
    const struct {
        OPCHDA_EDITTYPE mode;
        const char* method;
    } cases[] = {{OPCHDA_INSERT, "IOPCHDA_SyncUpdate::Insert"},
                 {OPCHDA_REPLACE, "IOPCHDA_SyncUpdate::Replace"},
                 {OPCHDA_INSERTREPLACE, "IOPCHDA_SyncUpdate::InsertReplace"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.method);
        (*control)->ClearCalls();
        client::UpdateOutcome out =
            client::InsertReplaceHistory(syncUpdate.Get(), c.mode, handles, stamps, values, qualities);
        const hdatest::RecordedCall call = OnlyCallTo(c.method);
        EXPECT_EQ(call.count, 4u);
        EXPECT_EQ(call.serverHandles, handles);
        EXPECT_EQ(call.timestamps, (std::vector<ULONGLONG>{t1, t1, t2, t2}));
        ASSERT_EQ(call.values.size(), 4u);
        for (std::size_t k = 0; k < 4; ++k) {
            EXPECT_EQ(call.values[k].vt, VT_BSTR);
            EXPECT_EQ(call.values[k].text, values[k]);
        }
        EXPECT_EQ(call.qualities, qualities);
        ASSERT_EQ(out.results.Count(), 4u);
        EXPECT_EQ(out.results.Values(), nullptr);
        EXPECT_EQ(out.results.Errors()[3], S_OK);
        EXPECT_EQ(out.message, std::nullopt);
        out.results.Release();
        EXPECT_EQ(com::LiveTaskMemBlocks(), blocks);  // values, strings and qualities went with the call
    }
}

TEST_F(Updates, FailuresSayTheFamilysWordAndKeepNoCodes) {
    Hooks().Insert = [](DWORD n, OPCHANDLE*, FILETIME*, VARIANT*, DWORD*, HRESULT** ppErrors) {
        *ppErrors = TaskArray<HRESULT>(n);  // a failing server should give none
        return E_FAIL;
    };
    Hooks().DeleteAtTime = [](DWORD, OPCHANDLE*, FILETIME*, HRESULT**) { return E_ACCESSDENIED; };
    const std::vector<OPCHANDLE> one = {hA};
    const std::vector<FILETIME> stamp = {U64ToFileTime(1)};
    client::UpdateOutcome insert =
        client::InsertReplaceHistory(syncUpdate.Get(), OPCHDA_INSERT, one, stamp,
                                     std::vector<std::u16string>{u"1"}, std::vector<DWORD>{0});
    EXPECT_EQ(insert.message->text, u"Insert Failed, Function returned: 0x80004005");
    EXPECT_TRUE(insert.results.Empty());
    const client::UpdateOutcome del = client::DeleteAtTime(syncUpdate.Get(), one, stamp);
    EXPECT_EQ(del.message->text, u"Delete Raw Failed, Function returned: 0x80070005");
    EXPECT_EQ(com::LiveTaskMemBlocks(), blocks);

    // Arrays of different lengths are not sent at all.
    const client::UpdateOutcome uneven =
        client::InsertReplaceHistory(syncUpdate.Get(), OPCHDA_REPLACE, std::vector{hA, hB}, stamp,
                                     std::vector<std::u16string>{u"1"}, std::vector<DWORD>{0});
    EXPECT_FALSE(uneven.called);
    EXPECT_EQ(uneven.hr, E_INVALIDARG);
    EXPECT_FALSE(client::DeleteAtTime(syncUpdate.Get(), std::vector{hA, hB}, stamp).called);
    EXPECT_EQ(CallsTo("IOPCHDA_SyncUpdate::Replace").size(), 0u);
}

TEST_F(Updates, DeleteRawSendsBothTimesAndReadsBackWhatTheServerWroteIntoThem) {
    const ULONGLONG written = Ticks(2009, 2, 24, 12, 0, 0);
    Hooks().DeleteRaw = [written](OPCHDA_TIME* start, OPCHDA_TIME* end, DWORD n, OPCHANDLE*,
                                  HRESULT** ppErrors) {
        start->ftTime = U64ToFileTime(written);  // the server resolved "NOW-1H"
        end->ftTime = U64ToFileTime(written + 1);
        *ppErrors = TaskArray<HRESULT>(n);
        return S_OK;
    };
    client::DeleteRawOutcome out =
        client::DeleteRaw(syncUpdate.Get(), u"NOW-1H", u"2009/02/24 13:00:00.000", std::vector{hB, hA});
    const hdatest::RecordedCall call = OnlyCallTo("IOPCHDA_SyncUpdate::DeleteRaw");
    EXPECT_TRUE(call.start->bString);
    EXPECT_EQ(call.start->szTime, u"NOW-1H");
    EXPECT_FALSE(call.end->bString);
    EXPECT_EQ(call.end->ftTime, Ticks(2009, 2, 24, 12, 0, 0));  // local 13:00 in UTC+1
    EXPECT_EQ(call.serverHandles, (std::vector<OPCHANDLE>{hB, hA}));
    EXPECT_EQ(FileTimeToU64(out.ftStartAfter), written);
    EXPECT_EQ(FileTimeToU64(out.ftEndAfter), written + 1);
    EXPECT_EQ(out.results.Count(), 2u);
    out.results.Release();
    EXPECT_EQ(com::LiveTaskMemBlocks(), blocks);
}

}  // namespace
