// The wire in one process: proxies over a socket pair to stubs around the recording test server.
#include <capnp/message.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "com/text.h"
#include "hda/opchda.h"
#include "remote/marshal.h"
#include "tests/remote/remote_fixture.h"

namespace {

using namespace hdatest;
using remotetest::RemoteTest;

VARIANT Make(VARTYPE vt, std::uint64_t bits, WORD reserved = 0) {
    VARIANT v{};
    v.vt = vt;
    v.wReserved1 = reserved;
    v.wReserved3 = WORD(reserved * 3);
    std::memcpy(&v.llVal, &bits, sizeof bits);
    return v;
}

VARIANT Bstr(std::u16string_view s) {
    VARIANT v{};
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocStringLen(s.data(), UINT(s.size()));
    return v;
}

// Every value type of the runtime, odd bit patterns included.
std::vector<VARIANT> Table() {
    double nan;
    std::uint64_t nanBits = 0x7FF8DEADBEEF0001ULL;
    std::memcpy(&nan, &nanBits, sizeof nan);
    (void)nan;
    std::vector<VARIANT> t = {
        Make(VT_EMPTY, 0),
        Make(VT_NULL, 0),
        Make(VT_I1, 0x80),
        Make(VT_UI1, 0xFF),
        Make(VT_I2, 0x8001),
        Make(VT_UI2, 0xFFFE),
        Make(VT_I4, 0x80000001u),
        Make(VT_UI4, 0xFFFFFFFFu),
        Make(VT_INT, 0x7FFFFFFF),
        Make(VT_UINT, 0x12345678),
        Make(VT_I8, 0x8000000000000001ULL),
        Make(VT_UI8, 0xFFFFFFFFFFFFFFFFULL),
        Make(VT_R4, 0x7FC00001u),            // a NaN with a payload
        Make(VT_R8, nanBits),                // likewise
        Make(VT_R8, 0x8000000000000000ULL),  // -0
        Make(VT_CY, 0x8000000000000000ULL),  // the smallest currency
        Make(VT_DATE, 0x40E5F4A3D70A3D71ULL),
        Make(VT_BOOL, 0xFFFF),
        Make(VT_ERROR, 0x80004005u),
        Make(VT_R8, 0x3FF0000000000000ULL, 7),  // reserved words cross too
        Make(0x7FF, 0x0102030405060708ULL),     // a type this runtime does not know
        Bstr(u"plain"),
        Bstr(std::u16string(u"nul\0inside", 10)),
        Bstr(u""),
        Bstr(u"\xD800 unpaired"),
        Make(VT_BSTR, 0),  // a NULL BSTR
        Make(VT_UNKNOWN, 0),
    };
    return t;
}

void ExpectSame(const VARIANT& a, const VARIANT& b, std::size_t i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(a.vt, b.vt);
    EXPECT_EQ(a.wReserved1, b.wReserved1);
    EXPECT_EQ(a.wReserved2, b.wReserved2);
    EXPECT_EQ(a.wReserved3, b.wReserved3);
    if (a.vt == VT_BSTR) {
        ASSERT_EQ(a.bstrVal == nullptr, b.bstrVal == nullptr);
        if (a.bstrVal) {
            ASSERT_EQ(SysStringLen(a.bstrVal), SysStringLen(b.bstrVal));
            EXPECT_EQ(std::memcmp(a.bstrVal, b.bstrVal, SysStringLen(a.bstrVal) * 2), 0);
        }
    } else if (a.vt != VT_UNKNOWN) {
        EXPECT_EQ(a.ullVal, b.ullVal);
    }
}

class Wire : public RemoteTest {};

TEST_F(Wire, EveryValueTimestampQualityAndRewrittenTimeCrossesBitForBit) {
    ScopedControl control(CLSID_HdaTestRecording);
    ASSERT_TRUE(control.ok());
    const std::vector<VARIANT> table = Table();
    control->Hooks().ReadRaw = [&](OPCHDA_TIME* s, OPCHDA_TIME* e, DWORD, BOOL, DWORD n, OPCHANDLE*,
                                   OPCHDA_ITEM** items, HRESULT** errors) {
        s->ftTime = U64ToFileTime(0x0123456789ABCDEFULL);  // the server rewrites both times
        e->bString = FALSE;
        e->ftTime = U64ToFileTime(1);
        *items = TaskArray<OPCHDA_ITEM>(n);
        *errors = TaskArray<HRESULT>({OPC_S_MOREDATA, OPC_E_INVALIDHANDLE});
        OPCHDA_ITEM& it = (*items)[0];
        it.hClient = 0xFEEDFACE;
        it.haAggregate = 0x80000001;
        it.dwCount = DWORD(table.size());
        it.pftTimeStamps = TaskArray<FILETIME>(table.size());
        it.pdwQualities = TaskArray<DWORD>(table.size());
        it.pvDataValues = TaskArray<VARIANT>(table.size());
        for (std::size_t i = 0; i < table.size(); ++i) {
            it.pftTimeStamps[i] = U64ToFileTime(0xFFFFFFFF00000000ULL + i);
            it.pdwQualities[i] = DWORD(0xC0 | (i << 16));
            VariantCopy(&it.pvDataValues[i], &table[i]);
            it.pvDataValues[i].wReserved1 = table[i].wReserved1;
            it.pvDataValues[i].wReserved3 = table[i].wReserved3;
            if (table[i].vt == 0x7FF) it.pvDataValues[i] = table[i];
        }
        return S_FALSE;
    };
    IOPCHDA_SyncRead* read = nullptr;
    ASSERT_EQ(Create(CLSID_HdaTestRecording, &read), S_OK);
    OPCHDA_TIME start{TRUE, const_cast<LPWSTR>(u"NOW-1H"), {}}, end{TRUE, const_cast<LPWSTR>(u"NOW"), {}};
    OPCHANDLE handles[2] = {1, 2};
    OPCHDA_ITEM* items = nullptr;
    HRESULT* errors = nullptr;
    ASSERT_EQ(read->ReadRaw(&start, &end, 0, FALSE, 2, handles, &items, &errors), S_FALSE);
    EXPECT_EQ(FileTimeToU64(start.ftTime), 0x0123456789ABCDEFULL);
    EXPECT_STREQ(reinterpret_cast<const char*>(start.szTime), reinterpret_cast<const char*>(u"NOW-1H"));
    EXPECT_EQ(end.bString, FALSE);
    EXPECT_EQ(FileTimeToU64(end.ftTime), 1u);
    ASSERT_NE(items, nullptr);
    ASSERT_NE(errors, nullptr);
    EXPECT_EQ(com::TaskMemCount(items), 2u);
    EXPECT_EQ(errors[0], OPC_S_MOREDATA);
    EXPECT_EQ(errors[1], OPC_E_INVALIDHANDLE);
    const OPCHDA_ITEM& it = items[0];
    EXPECT_EQ(it.hClient, 0xFEEDFACE);
    EXPECT_EQ(it.haAggregate, 0x80000001u);
    ASSERT_EQ(it.dwCount, table.size());
    for (std::size_t i = 0; i < table.size(); ++i) {
        EXPECT_EQ(FileTimeToU64(it.pftTimeStamps[i]), 0xFFFFFFFF00000000ULL + i);
        EXPECT_EQ(it.pdwQualities[i], DWORD(0xC0 | (i << 16)));
        ExpectSame(table[i], it.pvDataValues[i], i);
    }
    // The second record was empty: NULL arrays stay NULL.
    EXPECT_EQ(items[1].pftTimeStamps, nullptr);
    EXPECT_EQ(items[1].pvDataValues, nullptr);
    for (DWORD k = 0; k < 2; ++k) {
        CoTaskMemFree(items[k].pftTimeStamps);
        CoTaskMemFree(items[k].pdwQualities);
        for (DWORD i = 0; items[k].pvDataValues && i < items[k].dwCount; ++i)
            VariantClear(&items[k].pvDataValues[i]);
        CoTaskMemFree(items[k].pvDataValues);
    }
    CoTaskMemFree(items);
    CoTaskMemFree(errors);
    read->Release();
    for (VARIANT v : table) VariantClear(&v);
}

TEST_F(Wire, ValuesWrittenArriveAsSentAndAShortServerArrayStaysShort) {
    ScopedControl control(CLSID_HdaTestRecording);
    ASSERT_TRUE(control.ok());
    IOPCHDA_SyncUpdate* update = nullptr;
    ASSERT_EQ(Create(CLSID_HdaTestRecording, &update), S_OK);
    std::vector<VARIANT> table = Table();
    table.pop_back();  // VT_UNKNOWN is refused below
    const DWORD n = DWORD(table.size());
    std::vector<OPCHANDLE> h(n, 9);
    std::vector<FILETIME> t(n);
    std::vector<DWORD> q(n, 0xC0);
    for (DWORD i = 0; i < n; ++i) t[i] = U64ToFileTime(1000 + i);
    std::vector<VARIANT> seen;
    control->Hooks().Insert = [&](DWORD count, OPCHANDLE*, FILETIME*, VARIANT* v, DWORD*, HRESULT** errors) {
        for (DWORD i = 0; i < count; ++i) {
            seen.push_back(VARIANT{});
            if (v[i].vt == VT_BSTR)
                VariantCopy(&seen.back(), &v[i]);
            else
                seen.back() = v[i];
            seen.back().wReserved1 = v[i].wReserved1;
            seen.back().wReserved3 = v[i].wReserved3;
        }
        *errors = TaskArray<HRESULT>(count / 2);  // fewer entries than items
        return S_OK;
    };
    HRESULT* errors = nullptr;
    ASSERT_EQ(update->Insert(n, h.data(), t.data(), table.data(), q.data(), &errors), S_OK);
    ASSERT_EQ(seen.size(), table.size());
    for (std::size_t i = 0; i < table.size(); ++i) ExpectSame(table[i], seen[i], i);
    EXPECT_EQ(com::TaskMemCount(errors), n / 2);
    CoTaskMemFree(errors);
    for (VARIANT& v : seen) VariantClear(&v);

    // An interface pointer inside a VARIANT cannot cross: the call fails, the server is not called.
    VARIANT unk{};
    unk.vt = VT_UNKNOWN;
    unk.punkVal = reinterpret_cast<IUnknown*>(update);
    control->ClearCalls();
    EXPECT_EQ(update->Insert(1, h.data(), t.data(), &unk, q.data(), &errors), MAKE_HRESULT_U(0x800706F7));
    EXPECT_EQ(errors, nullptr);
    EXPECT_TRUE(control->CallsTo("IOPCHDA_SyncUpdate::Insert").empty());
    update->Release();
    for (VARIANT& v : table) VariantClear(&v);
}

TEST_F(Wire, AResultLargerThanAPageIsJoinedInvisibly) {
    ScopedControl control(CLSID_HdaTestRecording);
    ASSERT_TRUE(control.ok());
    const DWORD kValues = 20000;
    control->Hooks().ReadRaw = [&](OPCHDA_TIME*, OPCHDA_TIME*, DWORD, BOOL, DWORD n, OPCHANDLE*,
                                   OPCHDA_ITEM** items, HRESULT** errors) {
        *items = TaskArray<OPCHDA_ITEM>(n);
        *errors = TaskArray<HRESULT>(n);
        for (DWORD k = 0; k < n; ++k) (*items)[k] = MakeItem(k + 1, kValues, 5000, k * 1e6);
        (*items)[1].pvDataValues[7].vt = VT_BSTR;
        (*items)[1].pvDataValues[7].bstrVal = SysAllocString(u"a string in the middle");
        return S_OK;
    };
    vistrel::remote::HostOptions small;
    small.pageBytes = 4096;
    IOPCHDA_SyncRead* read = nullptr;
    ASSERT_EQ(Create(CLSID_HdaTestRecording, &read, small), S_OK);
    OPCHDA_TIME s{TRUE, const_cast<LPWSTR>(u"NOW"), {}}, e = s;
    OPCHANDLE handles[3] = {1, 2, 3};
    OPCHDA_ITEM* items = nullptr;
    HRESULT* errors = nullptr;
    ASSERT_EQ(read->ReadRaw(&s, &e, 0, FALSE, 3, handles, &items, &errors), S_OK);
    for (DWORD k = 0; k < 3; ++k) {
        ASSERT_EQ(items[k].dwCount, kValues);
        EXPECT_EQ(items[k].hClient, k + 1);
        for (DWORD i = 0; i < kValues; ++i) {
            ASSERT_EQ(FileTimeToU64(items[k].pftTimeStamps[i]), 5000 + ULONGLONG(i) * 10000000ULL);
            if (k == 1 && i == 7) {
                ASSERT_EQ(items[k].pvDataValues[i].vt, VT_BSTR);
                EXPECT_EQ(std::u16string(items[k].pvDataValues[i].bstrVal), u"a string in the middle");
            } else {
                ASSERT_EQ(items[k].pvDataValues[i].dblVal, k * 1e6 + i);
            }
        }
    }
    for (DWORD k = 0; k < 3; ++k) {
        CoTaskMemFree(items[k].pftTimeStamps);
        CoTaskMemFree(items[k].pdwQualities);
        for (DWORD i = 0; i < items[k].dwCount; ++i) VariantClear(&items[k].pvDataValues[i]);
        CoTaskMemFree(items[k].pvDataValues);
    }
    CoTaskMemFree(items);
    CoTaskMemFree(errors);
    read->Release();
}

// Reset, Skip and Clone cross as Next does; `next` takes one element (nullopt at the end).
template <class E, class Next>
void ExpectResetSkipAndClone(E* e, Next next) {
    ASSERT_EQ(e->Reset(), S_OK);
    const auto first = next(e);
    ASSERT_TRUE(first);
    ASSERT_EQ(e->Reset(), S_OK);
    EXPECT_EQ(next(e), first);
    ASSERT_EQ(e->Skip(1), S_OK);  // over the second
    E* clone = nullptr;
    ASSERT_EQ(e->Clone(&clone), S_OK);
    ASSERT_NE(clone, nullptr);
    const auto third = next(e);
    EXPECT_TRUE(third);
    EXPECT_EQ(next(clone), third);  // the clone goes on from where the original stood
    EXPECT_EQ(e->Skip(100000), S_FALSE);
    EXPECT_EQ(next(e), std::nullopt);
    clone->Release();
}

std::optional<std::u16string> NextString(IEnumString* e) {
    LPOLESTR s = nullptr;
    ULONG n = 0;
    if (e->Next(1, &s, &n) != S_OK || n != 1) return std::nullopt;
    std::u16string text(s);
    CoTaskMemFree(s);
    return text;
}

std::optional<GUID> NextGuid(IEnumGUID* e) {
    GUID g{};
    ULONG n = 0;
    if (e->Next(1, &g, &n) != S_OK || n != 1) return std::nullopt;
    return g;
}

TEST_F(Wire, QueryInterfaceCrossesAndTheLastReleaseFreesTheServerObject) {
    ScopedControl control(CLSID_HdaTestRecording);
    ASSERT_TRUE(control.ok());
    IOPCHDA_Server* server = nullptr;
    ASSERT_EQ(Create(CLSID_HdaTestRecording, &server), S_OK);
    control->ClearCalls();
    IOPCHDA_SyncRead* read = nullptr;
    ASSERT_EQ(server->QueryInterface(IID_IOPCHDA_SyncRead, reinterpret_cast<void**>(&read)), S_OK);
    auto qi = control->CallsTo("IUnknown::QueryInterface");
    ASSERT_EQ(qi.size(), 1u);
    EXPECT_EQ(com::Utf16ToUtf8(qi[0].text), com::GuidToUtf8(IID_IOPCHDA_SyncRead));
    void* none = reinterpret_cast<void*>(1);
    EXPECT_EQ(server->QueryInterface(IID_IOPCHDA_Playback, &none), E_NOINTERFACE);
    EXPECT_EQ(none, nullptr);

    // Browsing: an object returned by a call is a capability too.
    IOPCHDA_Browser* browser = nullptr;
    HRESULT* errors = nullptr;
    ASSERT_EQ(server->CreateBrowse(0, nullptr, nullptr, nullptr, &browser, &errors), S_OK);
    CoTaskMemFree(errors);
    IEnumString* names = nullptr;
    ASSERT_EQ(browser->GetEnum(OPCHDA_FLAT, &names), S_OK);
    std::vector<std::u16string> got;
    LPOLESTR s[4];
    ULONG fetched = 0;
    while (names->Next(4, s, &fetched) == S_OK || fetched > 0) {
        for (ULONG i = 0; i < fetched; ++i) got.emplace_back(s[i]), CoTaskMemFree(s[i]);
        if (fetched < 4) break;
    }
    EXPECT_EQ(got, DefaultAddressSpace());
    ExpectResetSkipAndClone(names, NextString);
    names->Release();
    browser->Release();

    EXPECT_GT(control->LiveObjects(), 0);
    read->Release();
    server->Release();
    EXPECT_TRUE(Eventually([&] { return control->LiveObjects() == 0; }));
}

TEST_F(Wire, AConnectionHoldsNoMoreObjectsThanItsLimit) {
    vistrel::remote::HostOptions options;
    options.maxObjects = 3;
    IOPCHDA_Server* server = nullptr;
    ASSERT_EQ(Create(CLSID_HdaTestRecording, &server, options), S_OK);
    std::vector<IUnknown*> held;
    HRESULT hr = S_OK;
    for (int i = 0; i < 10 && hr == S_OK; ++i) {
        IUnknown* p = nullptr;
        hr = server->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&p));
        if (hr == S_OK) held.push_back(p);
    }
    EXPECT_EQ(hr, E_OUTOFMEMORY);
    EXPECT_EQ(held.size(), 2u);
    for (IUnknown* p : held) p->Release();
    server->Release();
}

// A client that sends a message larger than its connection allows loses that connection and nothing
// else: the call fails as a lost connection would, the server never sees it, and the host serves
// another connection as before.
TEST_F(Wire, AMessageLargerThanTheConnectionAllowsCostsOnlyThatConnection) {
    ScopedControl control(CLSID_HdaTestRecording);
    ASSERT_TRUE(control.ok());
    std::atomic<int> seen{0};
    control->Hooks().ValidateItemIDs = [&](DWORD n, LPWSTR*, HRESULT** errors) {
        ++seen;
        *errors = TaskArray<HRESULT>(n);
        return S_OK;
    };
    vistrel::remote::HostOptions options;
    options.maxMessageWords = 4096;  // 32 KiB
    IOPCHDA_Server* hostile = nullptr;
    ASSERT_EQ(Create(CLSID_HdaTestRecording, &hostile, options), S_OK);
    std::u16string big(40000, u'x');  // 80 KB of UTF-16
    LPWSTR ids[] = {big.data()};
    HRESULT* errors = nullptr;
    EXPECT_EQ(hostile->ValidateItemIDs(1, ids, &errors), RPC_E_DISCONNECTED);
    EXPECT_EQ(errors, nullptr);
    EXPECT_EQ(hostile->ValidateItemIDs(1, ids, &errors), RPC_E_DISCONNECTED);  // and every later call
    EXPECT_EQ(seen.load(), 0);
    hostile->Release();

    IOPCHDA_Server* other = nullptr;
    ASSERT_EQ(Create(CLSID_HdaTestRecording, &other), S_OK);
    LPWSTR small[] = {const_cast<LPWSTR>(u"Plant.Status")};
    ASSERT_EQ(other->ValidateItemIDs(1, small, &errors), S_OK);
    CoTaskMemFree(errors);
    EXPECT_EQ(seen.load(), 1);
    other->Release();
}

// Bytes this process has read through system calls: what a host in it took in from its clients.
long BytesRead() {
    std::ifstream io("/proc/self/io");
    std::string key;
    long value = 0;
    while (io >> key >> value) {
        if (key == "rchar:") return value;
    }
    return -1;
}

// Calls that pile up on a server that stopped answering are read no further than the connection's
// limit of calls in flight: the host holds about that much of them, not all the client sent. Once the
// server goes on, every call is answered.
TEST_F(Wire, CallsPiledUpOnAServerThatStoppedAnsweringAreReadNoFurtherThanTheLimit) {
    const std::string hold = m_dir + "/hold";
    std::ofstream(hold) << "held";
    vistrel_test::ScopedEnv held("HDATEST_HOLD_VALIDATE", hold);  // seen by the surrogate
    vistrel::remote::HostOptions options;
    options.surrogate = VISTREL_HOST_PATH;  // the host itself waits for no server
    options.maxCallWords = 1 << 16;         // 512 KiB
    IOPCHDA_Server* server = nullptr;
    ASSERT_EQ(Create(CLSID_HdaTestRecording, &server, options), S_OK);
    constexpr int kCalls = 40;
    std::u16string id(128 * 1024, u'x');  // 256 KiB a call, 10 MiB in all
    const long before = BytesRead();
    ASSERT_GE(before, 0) << "this system has no /proc/self/io";
    std::atomic<int> answered{0};
    std::vector<std::thread> callers;
    for (int i = 0; i < kCalls; ++i) {
        callers.emplace_back([&] {
            LPWSTR ids[] = {id.data()};
            HRESULT* errors = nullptr;
            if (server->ValidateItemIDs(1, ids, &errors) == S_OK) ++answered;
            CoTaskMemFree(errors);
        });
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));  // time to read every call, were it allowed
    const long read = BytesRead() - before;
    std::filesystem::remove(hold);
    for (std::thread& t : callers) t.join();
    EXPECT_LT(read, 3l << 20) << "the host read " << read << " bytes of calls";
    EXPECT_EQ(answered.load(), kCalls);
    server->Release();
}

TEST_F(Wire, TheServerListAnswersFromTheHostsClassStore) {
    IOPCServerList* list = nullptr;
    ASSERT_EQ(Create(CLSID_OpcServerList, &list), S_OK);
    CLSID clsid{};
    EXPECT_EQ(list->CLSIDFromProgID(u"HdaTest.NoAsync.1", &clsid), S_OK);
    EXPECT_EQ(clsid, CLSID_HdaTestNoAsync);
    EXPECT_EQ(list->CLSIDFromProgID(u"No.Such.1", &clsid), CO_E_CLASSSTRING);
    LPOLESTR progId = nullptr, user = nullptr;
    ASSERT_EQ(list->GetClassDetails(CLSID_HdaTestRecording, &progId, &user), S_OK);
    EXPECT_EQ(std::u16string(progId), u"HdaTest.Recording.1");
    EXPECT_EQ(std::u16string(user), u"HDA Vistrel recording test server");
    CoTaskMemFree(progId);
    CoTaskMemFree(user);
    CATID cat = CATID_OPCHDAServer10;
    IEnumGUID* e = nullptr;
    ASSERT_EQ(list->EnumClassesOfCategories(1, &cat, 0, nullptr, &e), S_OK);
    std::vector<GUID> classes;
    GUID g;
    ULONG n = 0;
    while (e->Next(1, &g, &n) == S_OK) classes.push_back(g);
    EXPECT_EQ(classes.size(), std::size(kAllProfiles));
    ExpectResetSkipAndClone(e, NextGuid);
    e->Release();
    list->Release();
}

}  // namespace

namespace {

// The chunks a host sends for one record of five values (a BSTR among them), two entries a chunk.
std::vector<capnp::MallocMessageBuilder*> ChunksOfFive(capnp::MallocMessageBuilder& headMsg) {
    auto* item = static_cast<OPCHDA_ITEM*>(CoTaskMemAlloc(sizeof(OPCHDA_ITEM)));
    *item = OPCHDA_ITEM{};
    item->dwCount = 5;
    item->pftTimeStamps = static_cast<FILETIME*>(CoTaskMemAlloc(5 * sizeof(FILETIME)));
    item->pdwQualities = static_cast<DWORD*>(CoTaskMemAlloc(5 * sizeof(DWORD)));
    item->pvDataValues = static_cast<VARIANT*>(CoTaskMemAlloc(5 * sizeof(VARIANT)));
    for (DWORD i = 0; i < 5; ++i) {
        item->pftTimeStamps[i] = U64ToFileTime(1000 + i);
        item->pdwQualities[i] = OPC_QUALITY_GOOD;
        item->pvDataValues[i] = i == 2 ? Bstr(u"two") : Make(VT_I4, i);
    }
    vistrel::remote::NativeSeries series(vistrel::remote::SeriesKind::Item, item, 1);
    series.WriteHeads(headMsg.initRoot<vistrel::wire::Series>());
    std::vector<capnp::MallocMessageBuilder*> chunks;
    bool done = false;
    while (!done) {
        chunks.push_back(new capnp::MallocMessageBuilder);
        auto pager = chunks.back()->initRoot<vistrel::wire::Pager::NextResults>();
        done = series.WriteChunks(80, [&](std::size_t n) { return pager.initChunks(n); });
    }
    return chunks;
}

}  // namespace

TEST_F(Wire, ChunksFillTheArraysOnlyInOrderAndOnce) {
    capnp::MallocMessageBuilder head;
    auto chunks = ChunksOfFive(head);
    ASSERT_EQ(chunks.size(), 3u);
    auto add = [&](vistrel::remote::SeriesBuilder& b, std::size_t k) {
        return b.Add(chunks[k]->getRoot<vistrel::wire::Pager::NextResults>().asReader().getChunks());
    };
    auto headReader = head.getRoot<vistrel::wire::Series>().asReader();
    const struct {
        const char* what;
        std::vector<std::size_t> order;
        HRESULT last;
    } cases[] = {
        {"in order", {0, 1, 2}, S_OK},
        {"a chunk twice", {0, 0}, vistrel::remote::RPC_X_BAD_STUB_DATA_HR},
        {"a chunk skipped", {0, 2}, vistrel::remote::RPC_X_BAD_STUB_DATA_HR},
        {"the last first", {2}, vistrel::remote::RPC_X_BAD_STUB_DATA_HR},
        {"stopped early", {0}, S_OK},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        vistrel::remote::SeriesBuilder b(vistrel::remote::SeriesKind::Item);
        ASSERT_TRUE(b.Begin(headReader));
        HRESULT hr = S_OK;
        for (std::size_t k : c.order) hr = add(b, k);
        EXPECT_EQ(hr, c.last);
        if (c.order.size() == 3) {
            auto* item = static_cast<OPCHDA_ITEM*>(b.Release());
            for (DWORD i = 0; i < 5; ++i) {
                EXPECT_EQ(FileTimeToU64(item->pftTimeStamps[i]), 1000u + i);
                if (i != 2) {
                    EXPECT_EQ(item->pvDataValues[i].lVal, LONG(i));
                }
            }
            EXPECT_EQ(std::u16string(item->pvDataValues[2].bstrVal), u"two");
            vistrel::remote::FreeSeries(vistrel::remote::SeriesKind::Item, item, 1);
        } else if (c.order.size() == 1 && c.last == S_OK) {
            // What no chunk filled is handed over cleared.
            auto* item = static_cast<OPCHDA_ITEM*>(b.Release());
            EXPECT_EQ(item->pvDataValues[4].vt, VT_EMPTY);
            EXPECT_EQ(FileTimeToU64(item->pftTimeStamps[4]), 0u);
            vistrel::remote::FreeSeries(vistrel::remote::SeriesKind::Item, item, 1);
        }
        // Otherwise the builder frees its half-filled arrays (the fixture counts the blocks).
    }
    for (auto* m : chunks) delete m;
}

namespace {

// A record of `n` entries from the caller's point of view, sent in chunks of about `budget` bytes in
// the compact forms and taken in again.
struct CompactRoundTrip {
    capnp::MallocMessageBuilder head;
    std::vector<std::unique_ptr<capnp::MallocMessageBuilder>> chunks;

    explicit CompactRoundTrip(const std::vector<VARIANT>& values, DWORD quality) {
        const std::size_t n = values.size();
        auto* item = static_cast<OPCHDA_ITEM*>(CoTaskMemAlloc(sizeof(OPCHDA_ITEM)));
        *item = OPCHDA_ITEM{};
        item->dwCount = DWORD(n);
        item->pftTimeStamps = static_cast<FILETIME*>(CoTaskMemAlloc(n * sizeof(FILETIME)));
        item->pdwQualities = static_cast<DWORD*>(CoTaskMemAlloc(n * sizeof(DWORD)));
        item->pvDataValues = static_cast<VARIANT*>(CoTaskMemAlloc(n * sizeof(VARIANT)));
        for (std::size_t i = 0; i < n; ++i) {
            item->pftTimeStamps[i] = U64ToFileTime(7000 + i);
            item->pdwQualities[i] = quality;
            item->pvDataValues[i] = VARIANT{};
            if (values[i].vt == VT_BSTR)
                VariantCopy(&item->pvDataValues[i], &values[i]);
            else
                item->pvDataValues[i] = values[i];  // reserved words too
        }
        // The sender's arrays live on, so the receiver's cannot reuse their blocks and bytes.
        series =
            std::make_unique<vistrel::remote::NativeSeries>(vistrel::remote::SeriesKind::Item, item, 1, true);
        series->WriteHeads(head.initRoot<vistrel::wire::Series>());
        for (bool done = false; !done;) {
            chunks.push_back(std::make_unique<capnp::MallocMessageBuilder>());
            auto pager = chunks.back()->initRoot<vistrel::wire::Pager::NextResults>();
            done = series->WriteChunks(200, [&](std::size_t k) { return pager.initChunks(k); });
        }
    }
    std::unique_ptr<vistrel::remote::NativeSeries> series;
    vistrel::wire::Chunk::Builder Chunk(std::size_t k) {
        return chunks[k]->getRoot<vistrel::wire::Pager::NextResults>().getChunks()[0];
    }
    HRESULT TakeIn(OPCHDA_ITEM** out) {
        vistrel::remote::SeriesBuilder b(vistrel::remote::SeriesKind::Item);
        if (!b.Begin(head.getRoot<vistrel::wire::Series>().asReader())) return E_OUTOFMEMORY;
        for (auto& m : chunks)
            if (HRESULT hr = b.Add(m->getRoot<vistrel::wire::Pager::NextResults>().asReader().getChunks());
                FAILED(hr))
                return hr;
        *out = static_cast<OPCHDA_ITEM*>(b.Release());
        return S_OK;
    }
};

}  // namespace

TEST_F(Wire, TheCompactFormsCrossBitForBitAndOnlyWhereTheyHold) {
    // Runs of one type with odd reserved words and payloads, and runs the compact form cannot carry.
    std::uint64_t nanBits = 0x7FF8DEADBEEF0001ULL;
    const struct {
        const char* what;
        std::vector<VARIANT> values;
        bool compact;
    } cases[] = {
        {"one type",
         {Make(VT_R8, nanBits, 7), Make(VT_R8, 0x8000000000000000ULL, 7), Make(VT_R8, 1, 7)},
         true},
        {"the reserved words differ", {Make(VT_I4, 1, 1), Make(VT_I4, 2, 2)}, false},
        {"the types differ", {Make(VT_I8, 1), Make(VT_UI8, 2)}, false},
        {"strings", {Bstr(u"a"), Bstr(u"b")}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        CompactRoundTrip trip(c.values, OPC_QUALITY_GOOD | 0x40000);
        auto first = trip.Chunk(0).asReader();
        EXPECT_EQ(first.getValues().hasTails(), c.compact);
        EXPECT_EQ(first.getQualitiesRepeat(), c.values.size());  // one quality for the whole run
        OPCHDA_ITEM* item = nullptr;
        ASSERT_EQ(trip.TakeIn(&item), S_OK);
        for (std::size_t i = 0; i < c.values.size(); ++i) {
            EXPECT_EQ(item->pdwQualities[i], OPC_QUALITY_GOOD | 0x40000);
            ExpectSame(c.values[i], item->pvDataValues[i], i);
        }
        vistrel::remote::FreeSeries(vistrel::remote::SeriesKind::Item, item, 1);
    }
    for (auto& c : cases)
        for (VARIANT v : c.values) VariantClear(&v);
}

TEST_F(Wire, ACompactChunkThatContradictsItselfIsRefused) {
    using Chunk = vistrel::wire::Chunk::Builder;
    const struct {
        const char* what;
        std::function<void(Chunk)> spoil;
    } cases[] = {
        {"a pointer type made compact", [](Chunk c) { c.getValues().setHead(VT_BSTR); }},
        {"both forms", [](Chunk c) { c.getValues().initRaw(16); }},
        {"a partial entry", [](Chunk c) { c.getValues().initTails(12); }},
        {"a repeat of two qualities", [](Chunk c) { c.initQualities(8); }},
        {"a repeat past the column", [](Chunk c) { c.setQualitiesRepeat(4); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        CompactRoundTrip trip({Make(VT_R8, 1), Make(VT_R8, 2), Make(VT_R8, 3)}, OPC_QUALITY_GOOD);
        c.spoil(trip.Chunk(0));
        OPCHDA_ITEM* item = nullptr;
        EXPECT_EQ(trip.TakeIn(&item), vistrel::remote::RPC_X_BAD_STUB_DATA_HR);
    }
}
