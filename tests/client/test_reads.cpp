// The history reads of the client core against the recording test server: the exact arguments of
// each call, the result set that owns the answer, the messages, and what misbehaving servers get:
// arrays missing or beyond the request, values of types outside the table, failures that still hand
// arrays back, time records rewritten by the server. Nothing is left allocated afterwards.
#include "client/reads.h"
#include "client/textforms.h"
#include "tests/client/client_fixture.h"

namespace {

using namespace clienttest;
using hdatest::MakeItem;
using hdatest::RecordedTime;
using hdatest::TaskArray;

const ULONGLONG kStartUtc = Ticks(2009, 2, 24, 9, 0, 0, 250);  // local 10:00:00.250 in UTC+1
const ULONGLONG kEndUtc = Ticks(2009, 2, 24, 10, 30, 0);
constexpr char16_t kStart[] = u"2009/02/24 10:00:00.250";
constexpr char16_t kEnd[] = u"2009/02/24 11:30:00.000";

bool IsMoment(const std::optional<RecordedTime>& t, ULONGLONG utc) {
    return t && !t->bString && t->szTimeNull && t->ftTime == utc;
}
bool IsString(const std::optional<RecordedTime>& t, const std::u16string& text) {
    return t && t->bString && !t->szTimeNull && t->szTime == text;
}

using ValueAnswer = std::function<HRESULT(DWORD n, OPCHDA_ITEM** ppValues, HRESULT** ppErrors)>;

class Reads : public ClientTest {
protected:
    void AnswerReadRaw(ValueAnswer answer) {
        Hooks().ReadRaw = [answer](OPCHDA_TIME*, OPCHDA_TIME*, DWORD, BOOL, DWORD n, OPCHANDLE*,
                                   OPCHDA_ITEM** ppValues,
                                   HRESULT** ppErrors) { return answer(n, ppValues, ppErrors); };
    }
    client::ReadOutcome ReadRawAB() {
        return client::ReadRaw(syncRead.Get(), {kStart, true}, {kEnd, true}, 0, false, std::vector{hA, hB});
    }
};

TEST_F(Reads, ReadRawSendsTheTimesInUseAsMomentsAndTheOthersAsEmptyStrings) {
    struct Case {
        bool useStart, useEnd;
        DWORD max;
        bool bounds;
    } cases[] = {{true, true, 0, true}, {false, true, 5, false}, {true, false, 0xFFFFFFFF, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.useStart << c.useEnd << c.max);
        (*control)->ClearCalls();
        client::ReadOutcome out = client::ReadRaw(syncRead.Get(), {kStart, c.useStart}, {kEnd, c.useEnd},
                                                  c.max, c.bounds, std::vector{hB, hA});
        const hdatest::RecordedCall call = OnlyCallTo("IOPCHDA_SyncRead::ReadRaw");
        EXPECT_TRUE(c.useStart ? IsMoment(call.start, kStartUtc) : IsString(call.start, u""));
        EXPECT_TRUE(c.useEnd ? IsMoment(call.end, kEndUtc) : IsString(call.end, u""));
        EXPECT_EQ(call.numValues, c.max);
        EXPECT_EQ(call.bounds, c.bounds ? TRUE : FALSE);
        EXPECT_EQ(call.serverHandles, (std::vector<OPCHANDLE>{hB, hA}));
        EXPECT_TRUE(call.nullArgs.empty());
        EXPECT_TRUE(out.called);
        EXPECT_EQ(out.hr, S_OK);
        EXPECT_EQ(out.message, std::nullopt);
        ASSERT_EQ(out.results.Count(), 2u);
        EXPECT_EQ(out.results.Values()[0].pvDataValues[0].dblVal, 10.0 * hB);
        // The answer is the result set's: 2 outer arrays, 3 inner ones per item.
        EXPECT_EQ(com::LiveTaskMemBlocks(), blocks + 2 + 2 * 3);
    }
}

TEST_F(Reads, ReadProcessedReadAtTimeAndReadAttributeSendWhatTheyAreGiven) {
    const FILETIME interval = U64ToFileTime(3 * 36'000'000'000ULL);
    client::ReadOutcome processed =
        client::ReadProcessed(syncRead.Get(), kStart, u"NOW", interval, std::vector{hA, hB},
                              std::vector<DWORD>{OPCHDA_AVERAGE, OPCHDA_MAXIMUM, 99});
    hdatest::RecordedCall call = OnlyCallTo("IOPCHDA_SyncRead::ReadProcessed");
    EXPECT_TRUE(IsMoment(call.start, kStartUtc));
    EXPECT_TRUE(IsString(call.end, u"NOW"));
    EXPECT_EQ(call.interval, FileTimeToU64(interval));
    EXPECT_EQ(call.serverHandles, (std::vector<OPCHANDLE>{hA, hB}));
    EXPECT_EQ(call.aggregates, (std::vector<DWORD>{OPCHDA_AVERAGE, OPCHDA_MAXIMUM}));  // one per handle
    EXPECT_EQ(processed.results.Count(), 2u);

    const std::vector<FILETIME> stamps = {U64ToFileTime(kEndUtc), U64ToFileTime(kStartUtc)};
    client::ReadOutcome atTime = client::ReadAtTime(syncRead.Get(), stamps, std::vector{hB});
    call = OnlyCallTo("IOPCHDA_SyncRead::ReadAtTime");
    EXPECT_EQ(call.numTimeStamps, 2u);
    EXPECT_EQ(call.timestamps, (std::vector<ULONGLONG>{kEndUtc, kStartUtc}));
    EXPECT_EQ(call.serverHandles, (std::vector<OPCHANDLE>{hB}));
    ASSERT_EQ(atTime.results.Count(), 1u);
    EXPECT_EQ(atTime.results.Values()[0].dwCount, 2u);

    const client::AttributeReadOutcome attributes =
        client::ReadAttribute(syncRead.Get(), hB, std::vector<DWORD>{OPCHDA_ITEMID, OPCHDA_DATA_TYPE, 4711});
    call = OnlyCallTo("IOPCHDA_SyncRead::ReadAttribute");
    EXPECT_TRUE(IsString(call.start, u"NOW"));
    EXPECT_TRUE(IsString(call.end, u"NOW"));
    EXPECT_EQ(call.hServer, hB);
    EXPECT_EQ(call.attributeIds, (std::vector<DWORD>{OPCHDA_ITEMID, OPCHDA_DATA_TYPE, 4711}));
    ASSERT_EQ(attributes.rows.size(), 3u);
    EXPECT_EQ(attributes.rows[0].value, u"B");
    EXPECT_EQ(attributes.rows[1].value, u"5");
    EXPECT_EQ(attributes.rows[0].timestamp ? FileTimeToU64(*attributes.rows[0].timestamp) : 0,
              hdatest::kStatusNowTicks);
    EXPECT_EQ(attributes.rows[2].id, 4711u);  // refused: a record without values
    EXPECT_TRUE(attributes.rows[2].noData);
    EXPECT_EQ(attributes.message, std::nullopt);
}

TEST_F(Reads, NothingIsAskedWithoutHandlesTimestampsIdsOrAnAggregatePerHandle) {
    const std::vector<OPCHANDLE> none;
    EXPECT_FALSE(client::ReadRaw(syncRead.Get(), {kStart}, {kEnd}, 0, false, none).called);
    EXPECT_FALSE(client::ReadRaw(nullptr, {kStart}, {kEnd}, 0, false, std::vector{hA}).called);
    EXPECT_FALSE(
        client::ReadProcessed(syncRead.Get(), kStart, kEnd, {}, std::vector{hA, hB}, std::vector<DWORD>{1})
            .called);
    EXPECT_FALSE(client::ReadAtTime(syncRead.Get(), std::vector<FILETIME>{}, std::vector{hA}).called);
    EXPECT_FALSE(client::ReadAttribute(syncRead.Get(), hA, std::vector<DWORD>{}).called);
    EXPECT_TRUE((*control)->Calls().empty());
}

TEST_F(Reads, SuccessWithoutOneOfTheArraysIsAMessageAndLeavesNothing) {
    struct Case {
        bool values, errors;
        std::u16string text;
    } cases[] = {
        {false, true, u"ReadRaw returned 0x0 but no values: the server sent nothing that can be shown."},
        {true, false,
         u"ReadRaw returned 0x0 but no result codes: the server sent nothing that can be shown."},
        {false, false,
         u"ReadRaw returned 0x0 but no values and result codes: the server sent nothing that can be shown."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(U8(c.text));
        AnswerReadRaw([c](DWORD n, OPCHDA_ITEM** ppValues, HRESULT** ppErrors) {
            if (c.values) {
                *ppValues = TaskArray<OPCHDA_ITEM>(n);
                for (DWORD i = 0; i < n; ++i) (*ppValues)[i] = MakeItem(i, 2);
            }
            if (c.errors) *ppErrors = TaskArray<HRESULT>(n);
            return S_OK;
        });
        const client::ReadOutcome out = ReadRawAB();
        EXPECT_EQ(out.message, (client::Message{c.text, u"Error", hda::MsgIcon::Exclamation}));
        EXPECT_FALSE(out.HasResults());
        EXPECT_EQ(com::LiveTaskMemBlocks(), blocks);
    }
    // Read Processed says the same with its own name.
    Hooks().ReadProcessed = [](OPCHDA_TIME*, OPCHDA_TIME*, FILETIME, DWORD n, OPCHANDLE*, DWORD*,
                               OPCHDA_ITEM**, HRESULT** ppErrors) {
        *ppErrors = TaskArray<HRESULT>(n);
        return S_FALSE;
    };
    EXPECT_EQ(client::ReadProcessed(syncRead.Get(), kStart, kEnd, {}, std::vector{hA}, std::vector<DWORD>{1})
                  .message->text,
              u"ReadProcessed returned 0x1 but no values: the server sent nothing that can be shown.");
}

TEST_F(Reads, AFailedCallThatStillHandsArraysBackLeavesNothingAllocated) {
    AnswerReadRaw([](DWORD n, OPCHDA_ITEM** ppValues, HRESULT** ppErrors) {
        *ppValues = TaskArray<OPCHDA_ITEM>(n);
        for (DWORD i = 0; i < n; ++i) (*ppValues)[i] = MakeItem(i, 3);
        *ppErrors = TaskArray<HRESULT>(n);
        return E_OUTOFMEMORY;
    });
    Hooks().ReadAtTime = [](DWORD, FILETIME*, DWORD n, OPCHANDLE*, OPCHDA_ITEM** ppValues,
                            HRESULT** ppErrors) {
        *ppValues = TaskArray<OPCHDA_ITEM>(n);
        for (DWORD i = 0; i < n; ++i) (*ppValues)[i] = MakeItem(i, 1);
        *ppErrors = TaskArray<HRESULT>(n);
        return E_FAIL;
    };
    const client::ReadOutcome raw = ReadRawAB();
    const client::ReadOutcome atTime =
        client::ReadAtTime(syncRead.Get(), std::vector{U64ToFileTime(kStartUtc)}, std::vector{hA});
    EXPECT_EQ(raw.message->text, u"ReadRaw Failed, Function returned: 0x8007000E");
    EXPECT_EQ(atTime.message->text, u"ReadAtTime Failed, Function returned: 0x80004005");
    EXPECT_FALSE(raw.HasResults() || atTime.HasResults());
    EXPECT_EQ(com::LiveTaskMemBlocks(), blocks);
}

TEST_F(Reads, RecordsBeyondTheItemsAreNeitherPartOfTheResultNorTouched) {
    AnswerReadRaw([](DWORD n, OPCHDA_ITEM** ppValues, HRESULT** ppErrors) {
        *ppValues = TaskArray<OPCHDA_ITEM>(n + 2);
        for (DWORD i = 0; i < n; ++i) (*ppValues)[i] = MakeItem(i, 1);
        // Past the items asked for: pointers that must never be followed or freed.
        for (DWORD i = n; i < n + 2; ++i) {
            (*ppValues)[i].dwCount = 1000;
            (*ppValues)[i].pftTimeStamps = reinterpret_cast<FILETIME*>(0x10);
            (*ppValues)[i].pdwQualities = reinterpret_cast<DWORD*>(0x20);
            (*ppValues)[i].pvDataValues = reinterpret_cast<VARIANT*>(0x30);
        }
        *ppErrors = TaskArray<HRESULT>(n + 2);
        return S_OK;
    });
    client::ReadOutcome out = ReadRawAB();
    EXPECT_EQ(out.results.Count(), 2u);
    out.results.Release();
    EXPECT_EQ(com::LiveTaskMemBlocks(), blocks);
}

// Counts its references; a VT_UNKNOWN value must be released exactly once with the result set.
class CountedObject : public com::ComObject<IUnknown> {
public:
    static inline int destroyed = 0;
    ~CountedObject() override { ++destroyed; }
};

TEST_F(Reads, ValuesOfTypesOutsideTheTableShowAsTheirKindAndAreReleased) {
    static LONG referenced = 42;
    CountedObject::destroyed = 0;
    AnswerReadRaw([](DWORD n, OPCHDA_ITEM** ppValues, HRESULT** ppErrors) {
        const VARTYPE types[] = {VT_I8,      VT_DATE,    VT_ERROR, VT_ARRAY | VT_R8, VT_BYREF | VT_I4,
                                 VT_UNKNOWN, VT_DECIMAL, 0x7FFF,   VT_BSTR,          VT_NULL};
        const DWORD count = static_cast<DWORD>(std::size(types));
        *ppValues = TaskArray<OPCHDA_ITEM>(n);
        (*ppValues)[0] = MakeItem(1, count);
        VARIANT* v = (*ppValues)[0].pvDataValues;
        for (DWORD i = 0; i < count; ++i) {
            v[i].vt = types[i];
            v[i].llVal = 0;
        }
        v[0].llVal = 1LL << 40;
        v[4].byref = &referenced;
        v[5].punkVal = new CountedObject;  // the value holds the one reference
        v[8].bstrVal = SysAllocString(u"text");
        *ppErrors = TaskArray<HRESULT>(n);
        return S_OK;
    });
    client::ReadOutcome out =
        client::ReadRaw(syncRead.Get(), {kStart, true}, {kEnd, true}, 0, false, std::vector{hA});
    ASSERT_EQ(out.results.Count(), 1u);
    std::vector<std::u16string> shown;
    const OPCHDA_ITEM& item = out.results.Values()[0];
    for (DWORD i = 0; i < item.dwCount; ++i) shown.push_back(client::FormatVariant(item.pvDataValues[i]));
    EXPECT_EQ(shown, (std::vector<std::u16string>{u"Unknown", u"Ack - Date", u"Ack - Error value", u"Unknown",
                                                  u"Unknown", u"Unknown", u"Unknown", u"Unknown", u"text",
                                                  u"Unknown"}));
    EXPECT_EQ(CountedObject::destroyed, 0);
    out.results.Release();
    EXPECT_EQ(CountedObject::destroyed, 1);
    EXPECT_EQ(referenced, 42);  // a reference is not the value's to free
    EXPECT_EQ(com::LiveTaskMemBlocks(), blocks);
}

TEST_F(Reads, TimeRecordsRewrittenByTheServerReleaseWhatTheClientAllocated) {
    static WCHAR serversOwn[] = u"not the client's";
    Hooks().ReadRaw = [](OPCHDA_TIME* start, OPCHDA_TIME* end, DWORD, BOOL, DWORD n, OPCHANDLE*,
                         OPCHDA_ITEM** ppValues, HRESULT** ppErrors) {
        // The string record turned into a moment, the moment into a string the server keeps.
        start->bString = FALSE;
        start->szTime = nullptr;
        end->bString = TRUE;
        end->szTime = serversOwn;
        *ppValues = TaskArray<OPCHDA_ITEM>(n);
        *ppErrors = TaskArray<HRESULT>(n);
        return S_OK;
    };
    client::ReadOutcome out =
        client::ReadRaw(syncRead.Get(), {kStart, false}, {kEnd, true}, 10, false, std::vector{hA});
    EXPECT_TRUE(OnlyCallTo("IOPCHDA_SyncRead::ReadRaw").start->bString);
    out.results.Release();
    EXPECT_EQ(com::LiveTaskMemBlocks(), blocks);
    EXPECT_EQ(serversOwn[0], u'n');
}

TEST_F(Reads, ReadAttributeRecordsBeyondTheIdsAreNotTouchedAndMissingRecordsAreReported) {
    Hooks().ReadAttribute = [](OPCHDA_TIME*, OPCHDA_TIME*, OPCHANDLE, DWORD n, DWORD* ids,
                               OPCHDA_ATTRIBUTE** ppValues, HRESULT** ppErrors) {
        *ppValues = TaskArray<OPCHDA_ATTRIBUTE>(n + 1);
        for (DWORD i = 0; i < n; ++i) (*ppValues)[i].dwAttributeID = ids[i];
        (*ppValues)[n].dwNumValues = 9;
        (*ppValues)[n].ftTimeStamps = reinterpret_cast<FILETIME*>(0x10);
        (*ppValues)[n].vAttributeValues = reinterpret_cast<VARIANT*>(0x20);
        *ppErrors = TaskArray<HRESULT>(n + 1);
        return S_OK;
    };
    const std::vector<DWORD> ids = {5, 6};
    client::AttributeReadOutcome out = client::ReadAttribute(syncRead.Get(), hA, ids);
    ASSERT_EQ(out.rows.size(), 2u);
    EXPECT_TRUE(out.rows[0].returned && out.rows[0].noData && out.rows[1].noData);
    EXPECT_EQ(com::LiveTaskMemBlocks(), blocks);

    Hooks().ReadAttribute = [](OPCHDA_TIME*, OPCHDA_TIME*, OPCHANDLE, DWORD n, DWORD*, OPCHDA_ATTRIBUTE**,
                               HRESULT** ppErrors) {
        *ppErrors = TaskArray<HRESULT>(n);
        return S_OK;
    };
    out = client::ReadAttribute(syncRead.Get(), hA, ids);
    EXPECT_EQ(
        out.message->text,
        u"ReadAttribute returned 0x0 but no attribute values: the server sent nothing that can be shown.");
    Hooks().ReadAttribute = [](OPCHDA_TIME*, OPCHDA_TIME*, OPCHANDLE, DWORD n, DWORD*,
                               OPCHDA_ATTRIBUTE** ppValues, HRESULT** ppErrors) {
        *ppValues = TaskArray<OPCHDA_ATTRIBUTE>(n);
        (*ppValues)[0].dwNumValues = 1;
        (*ppValues)[0].ftTimeStamps = TaskArray<FILETIME>(1);
        (*ppValues)[0].vAttributeValues = TaskArray<VARIANT>(1);
        (*ppValues)[0].vAttributeValues[0].vt = VT_BSTR;
        (*ppValues)[0].vAttributeValues[0].bstrVal = SysAllocString(u"left behind");
        *ppErrors = TaskArray<HRESULT>(n);
        return E_FAIL;
    };
    out = client::ReadAttribute(syncRead.Get(), hA, ids);
    EXPECT_EQ(out.message->text, u"ReadAttribute Failed, Function returned: 0x80004005");
    EXPECT_TRUE(out.rows.empty());
    EXPECT_EQ(com::LiveTaskMemBlocks(), blocks);
}

}  // namespace
