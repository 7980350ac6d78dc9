// Ways a server breaks its promises, one row each, run through the client core: no crash, no read past
// an array (the ASan build checks), no hang, nothing left allocated, and what is said names what the
// server did wrong (the key words of each row).
//
// Cases the other tests already cover, not repeated here:
//   tests/serverpane/test_read_misbehaving.cpp  S_OK without one of the arrays, fewer records than
//     items, counts larger than the arrays and missing arrays, memory running out for the times,
//     short ReadAttribute answers
//   tests/client/test_status.cpp  short time blocks (kMisbehaveShortTimes), unterminated status
//     strings (kMisbehaveUnterminatedStrings)
//   tests/client/test_lists_items.cpp  an enumerator answering S_OK without a name
//   tests/client/test_reads.cpp  the reads' failure and partial answers
//   tests/client/test_out_of_memory.cpp  every allocation of every operation refused
#include <chrono>
#include <thread>

#include "client/browse.h"
#include "client/items.h"
#include "client/lists.h"
#include "client/readmodified.h"
#include "client/reads.h"
#include "client/status.h"
#include "client/textforms.h"
#include "client/timetext.h"
#include "client/updates.h"
#include "com/text.h"
#include "tests/client/client_fixture.h"

namespace {

using namespace clienttest;
using hdatest::MakeItem;
using hdatest::TaskArray;

using ReadRawArgs =
    std::tuple<OPCHDA_TIME*, OPCHDA_TIME*, DWORD, BOOL, DWORD, OPCHANDLE*, OPCHDA_ITEM**, HRESULT**>;

// What the client said of an answer: its message, and the text of every value, quality and time it
// can read.
std::u16string Said(const std::optional<client::Message>& m) {
    return m ? m->text + u"\n" : u"";
}
std::u16string Said(const client::ReadOutcome& o) {
    std::u16string s = Said(o.message);
    const OPCHDA_ITEM* items = o.results.Values();
    for (DWORD i = 0; items && i < o.results.Count(); ++i) {
        const OPCHDA_ITEM& it = items[i];
        const SIZE_T n =
            std::min<SIZE_T>({it.dwCount, com::TaskMemCount(it.pvDataValues),
                              com::TaskMemCount(it.pftTimeStamps), com::TaskMemCount(it.pdwQualities)});
        for (SIZE_T k = 0; k < n; ++k)
            s += client::FormatVariant(it.pvDataValues[k]) + u"|" +
                 client::FormatTimestamp(it.pftTimeStamps[k]) + u"|" +
                 std::u16string(client::FormatQuality(it.pdwQualities[k])) + u"\n";
    }
    return s;
}

struct Row {
    const char* name;
    std::function<void(hdatest::RecordingHooks&)> breakServer;
    // The operation, returning what the client said.
    std::function<std::u16string(class Matrix&)> run;
    std::vector<std::u16string> keyWords;
};

class Matrix : public ClientTest {
public:
    std::vector<OPCHANDLE> two() const { return {hA, hB}; }
    client::ReadOutcome Raw() {
        return client::ReadRaw(syncRead.Get(), {u"NOW-1H"}, {u"NOW"}, 0, false, two());
    }
    using ClientTest::hA;
    using ClientTest::server;
    using ClientTest::syncRead;
    using ClientTest::syncUpdate;
};

// An update: its message and how many result codes can be read.
std::u16string Said(const client::UpdateOutcome& o) {
    return Said(o.message) + com::FormatW(u"%u codes", {o.results.Count()});
}

std::u16string RawSaid(Matrix& m) {
    return Said(m.Raw());
}

// Records a server sends beyond those asked for are not the client's to release: the test frees them.
std::vector<OPCHDA_ITEM> g_strays;

// A ReadRaw answer built by `fill` over two fresh records.
auto RawAnswer(std::function<void(OPCHDA_ITEM*, HRESULT*)> fill, DWORD records = 2) {
    return [fill, records](OPCHDA_TIME*, OPCHDA_TIME*, DWORD, BOOL, DWORD, OPCHANDLE*, OPCHDA_ITEM** ppItems,
                           HRESULT** ppErrors) {
        *ppItems = TaskArray<OPCHDA_ITEM>(records);
        *ppErrors = TaskArray<HRESULT>(records);
        fill(*ppItems, *ppErrors);
        return S_OK;
    };
}

const std::vector<Row>& Rows() {
    static const std::vector<Row> rows = {
        {"ReadRaw: S_OK with both arrays null",
         [](auto& h) {
             h.ReadRaw = [](OPCHDA_TIME*, OPCHDA_TIME*, DWORD, BOOL, DWORD, OPCHANDLE*, OPCHDA_ITEM**,
                            HRESULT**) { return S_OK; };
         },
         RawSaid,
         {u"ReadRaw returned 0x0 but no values and result codes"}},
        {"ReadRaw: an unknown VARIANT type",
         [](auto& h) {
             h.ReadRaw = RawAnswer([](OPCHDA_ITEM* it, HRESULT*) {
                 it[0] = MakeItem(1, 1);
                 it[0].pvDataValues[0].vt = 0x7FFF;
                 it[1] = MakeItem(2, 1);
             });
         },
         RawSaid,
         {u"Unknown"}},
        {"ReadRaw: timestamp 0xFFFFFFFFFFFFFFFF",
         [](auto& h) {
             h.ReadRaw = RawAnswer([](OPCHDA_ITEM* it, HRESULT*) {
                 it[0] = MakeItem(1, 1);
                 it[0].pftTimeStamps[0] = U64ToFileTime(~0ULL);
                 it[1] = MakeItem(2, 1);
             });
         },
         RawSaid,
         {u"Invalid time 0xFFFFFFFFFFFFFFFF"}},
        {"ReadRaw: quality with every bit set",
         [](auto& h) {
             h.ReadRaw = RawAnswer([](OPCHDA_ITEM* it, HRESULT*) {
                 it[0] = MakeItem(1, 1, hdatest::kStatusNowTicks, 0, 0xFFFFFFFF);
                 it[1] = MakeItem(2, 1);
             });
         },
         RawSaid,
         {u"Unknown Quality"}},
        {"ReadRaw: a 100,000-character string with control characters",
         [](auto& h) {
             h.ReadRaw = RawAnswer([](OPCHDA_ITEM* it, HRESULT*) {
                 it[0] = MakeItem(1, 1);
                 std::u16string big(100000, u'x');
                 big[5] = 1;
                 big[6] = 0x1B;
                 it[0].pvDataValues[0].vt = VT_BSTR;
                 it[0].pvDataValues[0].bstrVal = SysAllocStringLen(big.data(), static_cast<UINT>(big.size()));
                 it[1] = MakeItem(2, 1);
             });
         },
         [](Matrix& m) {
             const std::u16string s = RawSaid(m);
             return s.size() > 100000 ? u"long kept" + s.substr(0, 10) : s;
         },
         {u"long kept"}},
        {"ReadRaw: a count far beyond the arrays",
         [](auto& h) {
             h.ReadRaw = RawAnswer([](OPCHDA_ITEM* it, HRESULT*) {
                 it[0] = MakeItem(1, 1);
                 it[0].dwCount = 0xFFFFFFFF;
                 it[1] = MakeItem(2, 1);
             });
         },
         RawSaid,
         {}},
        {"ReadRaw: one record for two items",
         [](auto& h) { h.ReadRaw = RawAnswer([](OPCHDA_ITEM* it, HRESULT*) { it[0] = MakeItem(1, 1); }, 1); },
         RawSaid,
         {}},
        {"ReadRaw: a slow answer",
         [](auto& h) {
             h.ReadRaw = RawAnswer([](OPCHDA_ITEM* it, HRESULT*) {
                 std::this_thread::sleep_for(std::chrono::milliseconds(50));
                 it[0] = MakeItem(1, 1);
                 it[1] = MakeItem(2, 1);
             });
         },
         RawSaid,
         {u"Good, Non-specific : Raw"}},
        {"ReadProcessed: aggregate ids other than those asked",
         [](auto& h) {
             h.ReadProcessed = [](OPCHDA_TIME*, OPCHDA_TIME*, FILETIME, DWORD, OPCHANDLE*, DWORD*,
                                  OPCHDA_ITEM** ppItems, HRESULT** ppErrors) {
                 *ppItems = TaskArray<OPCHDA_ITEM>(2);
                 *ppErrors = TaskArray<HRESULT>(2);
                 (*ppItems)[0] = MakeItem(1, 1, hdatest::kStatusNowTicks, 0, OPC_QUALITY_GOOD, 77);
                 (*ppItems)[1] = MakeItem(2, 1, hdatest::kStatusNowTicks, 0, OPC_QUALITY_GOOD, 1234);
                 return S_OK;
             };
         },
         [](Matrix& m) {
             return Said(client::ReadProcessed(m.syncRead.Get(), u"NOW-1H", u"NOW", {}, m.two(),
                                               std::vector<DWORD>{1, 2}));
         },
         {}},
        {"ReadModified: S_OK with both arrays null",
         [](auto& h) {
             h.ReadModified = [](OPCHDA_TIME*, OPCHDA_TIME*, DWORD, DWORD, OPCHANDLE*, OPCHDA_MODIFIEDITEM**,
                                 HRESULT**) { return S_OK; };
         },
         [](Matrix& m) {
             return Said(client::ReadModified(m.syncRead.Get(), {u"NOW-1H"}, {u"NOW"}, 0, m.two()).message);
         },
         {u"ReadModified returned 0x0 but no values"}},
        {"ReadAttribute: S_OK with both arrays null",
         [](auto& h) {
             h.ReadAttribute = [](OPCHDA_TIME*, OPCHDA_TIME*, OPCHANDLE, DWORD, DWORD*, OPCHDA_ATTRIBUTE**,
                                  HRESULT**) { return S_OK; };
         },
         [](Matrix& m) {
             return Said(client::ReadAttribute(m.syncRead.Get(), m.hA, std::vector<DWORD>{1, 2}).message);
         },
         {u"ReadAttribute returned 0x0 but no attribute values"}},
        {"Insert: S_OK with no result array",
         [](auto& h) {
             h.Insert = [](DWORD, OPCHANDLE*, FILETIME*, VARIANT*, DWORD*, HRESULT**) { return S_OK; };
         },
         [](Matrix& m) {
             const std::vector<FILETIME> t(2, U64ToFileTime(hdatest::kStatusNowTicks));
             return Said(client::InsertReplaceHistory(m.syncUpdate.Get(), OPCHDA_INSERT, m.two(), t,
                                                      std::vector<std::u16string>{u"1", u"2"},
                                                      std::vector<DWORD>{0, 0}));
         },
         {u"0 codes"}},
        {"Insert: one result for two entries",
         [](auto& h) {
             h.Insert = [](DWORD, OPCHANDLE*, FILETIME*, VARIANT*, DWORD*, HRESULT** ppErrors) {
                 *ppErrors = TaskArray<HRESULT>(1);
                 return S_OK;
             };
         },
         [](Matrix& m) {
             const std::vector<FILETIME> t(2, U64ToFileTime(hdatest::kStatusNowTicks));
             return Said(client::InsertReplaceHistory(m.syncUpdate.Get(), OPCHDA_INSERT, m.two(), t,
                                                      std::vector<std::u16string>{u"1", u"2"},
                                                      std::vector<DWORD>{0, 0}));
         },
         {u"1 codes"}},
        {"DeleteAtTime: one result for two entries",
         [](auto& h) {
             h.DeleteAtTime = [](DWORD, OPCHANDLE*, FILETIME*, HRESULT** ppErrors) {
                 *ppErrors = TaskArray<HRESULT>(1);
                 return S_OK;
             };
         },
         [](Matrix& m) {
             const std::vector<FILETIME> t(2, U64ToFileTime(hdatest::kStatusNowTicks));
             return Said(client::DeleteAtTime(m.syncUpdate.Get(), m.two(), t));
         },
         {u"1 codes"}},
        {"GetHistorianStatus: null strings, null times and state 99",
         [](auto& h) {
             h.GetHistorianStatus = [](OPCHDA_SERVERSTATUS* s, FILETIME**, FILETIME**, WORD*, WORD*, WORD*,
                                       DWORD*, LPWSTR*, LPWSTR*) {
                 *s = static_cast<OPCHDA_SERVERSTATUS>(99);
                 return S_OK;
             };
         },
         [](Matrix& m) {
             const client::ServerStatus st = client::GetHistorianStatus(m.server.Get());
             const client::StatusTexts texts = client::FormatServerStatus(st);
             // An unknown state shows a blank box and no message, as the status dialog shows it.
             return Said(st.message) + Said(client::StatusProblemsMessage(texts)) + u"state[" +
                    texts.serverStatus + u"]|" + texts.statusString + u"|" + texts.vendorInfo + u"|" +
                    texts.currentTime;
         },
         {u"state[]|||"}},
        {"GetAggregates: a count larger than the arrays",
         [](auto& h) {
             h.GetAggregates = [](DWORD* n, DWORD** ids, LPWSTR** names, LPWSTR** descs) {
                 *n = 1000;
                 *ids = TaskArray<DWORD>({1});
                 *names = TaskArray<LPWSTR>(1);
                 *descs = TaskArray<LPWSTR>(1);
                 return S_OK;
             };
         },
         [](Matrix& m) {
             const client::AggregateList l = client::GetAggregates(m.server.Get());
             return Said(l.message) + com::FormatW(u"%u listed", {static_cast<DWORD>(l.aggregates.size())});
         },
         {u"1 listed"}},
        {"GetItemAttributes: S_OK with null arrays and a count",
         [](auto& h) {
             h.GetItemAttributes = [](DWORD* n, DWORD**, LPWSTR**, LPWSTR**, VARTYPE**) {
                 *n = 4;
                 return S_OK;
             };
         },
         [](Matrix& m) {
             const client::AttributeList l = client::GetItemAttributes(m.server.Get());
             return Said(l.message) + com::FormatW(u"%u listed", {static_cast<DWORD>(l.attributes.size())});
         },
         {u"0 listed"}},
        {"ValidateItemIDs: S_OK with no codes",
         [](auto& h) { h.ValidateItemIDs = [](DWORD, LPWSTR*, HRESULT**) { return S_OK; }; },
         [](Matrix& m) {
             const client::ValidateOutcome o =
                 client::ValidateItemIDs(m.server.Get(), std::vector<std::u16string>{u"A", u"B"});
             return Said(o.message) + com::FormatW(u"%u codes", {static_cast<DWORD>(o.codes.size())});
         },
         {u"0 codes"}},
        {"GetItemHandles: one handle for three IDs",
         [](auto& h) {
             h.GetItemHandles = [](DWORD, LPWSTR*, OPCHANDLE*, OPCHANDLE** ph, HRESULT** pe) {
                 *ph = TaskArray<OPCHANDLE>({7});
                 *pe = TaskArray<HRESULT>(1);
                 return S_OK;
             };
         },
         [](Matrix& m) {
             const client::HandlesOutcome o =
                 client::GetItemHandles(m.server.Get(), std::vector<std::u16string>{u"A", u"B", u"C"});
             return Said(o.message) + com::FormatW(u"%u handles", {static_cast<DWORD>(o.handles.size())});
         },
         {u"1 handles"}},
        {"Browse: an enumerator that never ends",
         [](auto& h) {
             h.EnumNext = [](OPCHDA_BROWSETYPE, ULONG, const std::vector<std::u16string>&, ULONG,
                             LPOLESTR* rgelt, ULONG* fetched) {
                 rgelt[0] = hdatest::TaskString(u"again");
                 if (fetched) *fetched = 1;
                 return S_OK;
             };
         },
         [](Matrix& m) {
             client::Browser b;
             std::u16string s = Said(b.Create(m.server.Get()));
             return s + b.Enumerate(OPCHDA_FLAT, 50).problem;
         },
         {u"more than 50"}},
        {"Browse: GetEnum S_OK without an enumerator",
         [](auto& h) {
             h.GetEnum = [](OPCHDA_BROWSETYPE, IEnumString** pp) {
                 *pp = nullptr;
                 return S_OK;
             };
         },
         [](Matrix& m) {
             client::Browser b;
             std::u16string s = Said(b.Create(m.server.Get()));
             return s + b.Enumerate(OPCHDA_FLAT, 50).problem;
         },
         {u"without a list"}},
        {"Browse: names with control characters",
         [](auto& h) {
             h.EnumNext = [](OPCHDA_BROWSETYPE, ULONG call, const std::vector<std::u16string>&, ULONG,
                             LPOLESTR* rgelt, ULONG* fetched) {
                 if (call > 0) return S_FALSE;
                 rgelt[0] = hdatest::TaskString(
                     u"a\x01\x1B"
                     u"b\r\n");
                 if (fetched) *fetched = 1;
                 return S_OK;
             };
         },
         [](Matrix& m) {
             client::Browser b;
             std::u16string s = Said(b.Create(m.server.Get()));
             const client::Browser::Names n = b.Enumerate(OPCHDA_FLAT, 50);
             return s + n.problem + com::FormatW(u"%u names", {static_cast<DWORD>(n.names.size())});
         },
         {u"1 names"}},
        {"Browse: GetItemID S_OK without a string",
         [](auto& h) {
             h.GetItemID = [](LPCWSTR, LPWSTR* p) {
                 *p = nullptr;
                 return S_OK;
             };
         },
         [](Matrix& m) {
             client::Browser b;
             std::u16string s = Said(b.Create(m.server.Get()));
             const client::Browser::ItemId id = b.GetItemID(u"Sinusoid");
             return s + Said(id.message) + (id.resolved ? u"resolved" : u"unresolved");
         },
         {u"unresolved"}},
        {"CreateBrowse: S_OK without a browser",
         [](auto& h) {
             h.CreateBrowse = [](DWORD n, DWORD*, OPCHDA_OPERATORCODES*, VARIANT*, IOPCHDA_Browser** pp,
                                 HRESULT** pe) {
                 *pp = nullptr;
                 *pe = TaskArray<HRESULT>(n);
                 return S_OK;
             };
         },
         [](Matrix& m) {
             client::Browser b;
             return Said(b.Create(m.server.Get())) + (b.Held() ? u"held" : u"none");
         },
         {u"none"}},

        {"ReadRaw: S_OK with records but no codes",
         [](auto& h) {
             h.ReadRaw = [](OPCHDA_TIME*, OPCHDA_TIME*, DWORD, BOOL, DWORD, OPCHANDLE*, OPCHDA_ITEM** pp,
                            HRESULT**) {
                 *pp = TaskArray<OPCHDA_ITEM>(2);
                 (*pp)[0] = MakeItem(1, 1);
                 (*pp)[1] = MakeItem(2, 1);
                 return S_OK;
             };
         },
         RawSaid,
         {u"ReadRaw returned 0x0 but no result codes"}},
        {"ReadRaw: more records than items",
         [](auto& h) {
             h.ReadRaw = RawAnswer(
                 [](OPCHDA_ITEM* it, HRESULT*) {
                     for (int i = 0; i < 5; ++i) it[i] = MakeItem(i + 1, 1);
                     g_strays.assign(it + 2, it + 5);
                 },
                 5);
         },
         RawSaid,
         {}},
        {"ReadRaw: a record whose arrays are null with a count",
         [](auto& h) {
             h.ReadRaw = RawAnswer([](OPCHDA_ITEM* it, HRESULT*) {
                 it[0].dwCount = 10;
                 it[1] = MakeItem(2, 1);
             });
         },
         RawSaid,
         {}},
        {"ReadAtTime: S_OK with both arrays null",
         [](auto& h) {
             h.ReadAtTime = [](DWORD, FILETIME*, DWORD, OPCHANDLE*, OPCHDA_ITEM**, HRESULT**) {
                 return S_OK;
             };
         },
         [](Matrix& m) {
             const std::vector<FILETIME> t(1, U64ToFileTime(hdatest::kStatusNowTicks));
             return Said(client::ReadAtTime(m.syncRead.Get(), t, m.two()));
         },
         {u"ReadAtTime returned 0x0 but no values"}},
        {"ReadProcessed: S_OK with both arrays null",
         [](auto& h) {
             h.ReadProcessed = [](OPCHDA_TIME*, OPCHDA_TIME*, FILETIME, DWORD, OPCHANDLE*, DWORD*,
                                  OPCHDA_ITEM**, HRESULT**) { return S_OK; };
         },
         [](Matrix& m) {
             return Said(client::ReadProcessed(m.syncRead.Get(), u"NOW-1H", u"NOW", {}, m.two(),
                                               std::vector<DWORD>{1, 2}));
         },
         {u"ReadProcessed returned 0x0 but no values"}},
        {"DeleteRaw: S_OK with no result array",
         [](auto& h) {
             h.DeleteRaw = [](OPCHDA_TIME*, OPCHDA_TIME*, DWORD, OPCHANDLE*, HRESULT**) { return S_OK; };
         },
         [](Matrix& m) { return Said(client::DeleteRaw(m.syncUpdate.Get(), u"NOW-1H", u"NOW", m.two())); },
         {u"0 codes"}},
        {"GetAggregates: S_OK with null arrays and a count",
         [](auto& h) {
             h.GetAggregates = [](DWORD* n, DWORD**, LPWSTR**, LPWSTR**) {
                 *n = 3;
                 return S_OK;
             };
         },
         [](Matrix& m) {
             const client::AggregateList l = client::GetAggregates(m.server.Get());
             return Said(l.message) + com::FormatW(u"%u listed", {static_cast<DWORD>(l.aggregates.size())});
         },
         {u"0 listed"}},
    };
    return rows;
}

TEST_F(Matrix, EveryBrokenPromiseIsSurvivedAndSaid) {
    for (const Row& row : Rows()) {
        SCOPED_TRACE(row.name);
        Hooks() = {};
        row.breakServer(Hooks());
        const std::u16string said = row.run(*this);
        for (const std::u16string& w : row.keyWords)
            EXPECT_NE(said.find(w), std::u16string::npos)
                << com::Utf16ToUtf8(w) << " in " << com::Utf16ToUtf8(said.substr(0, 400));
        for (OPCHDA_ITEM& stray : g_strays) {
            CoTaskMemFree(stray.pftTimeStamps);
            CoTaskMemFree(stray.pdwQualities);
            CoTaskMemFree(stray.pvDataValues);
        }
        g_strays.clear();
        EXPECT_EQ(com::LiveTaskMemBlocks(), blocks) << "left allocated";
    }
}

}  // namespace
