// The recording test server: its defaults, its log and its hooks, which the client's tests rely on.
#include <gtest/gtest.h>

#include "com/objbase.h"
#include "com/oleauto.h"
#include "store_fixture.h"
#include "tests/plugins/recording_control.h"

namespace {

using namespace hdatest;
using vistrel_test::StoreTest;

class RecordingPlugin : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        ASSERT_EQ(RegisterRecordingProfiles(HDATEST_RECORDING_PATH), S_OK);
        m_blocks = com::LiveTaskMemBlocks();
        m_control.emplace(CLSID_HdaTestRecording);
        ASSERT_TRUE(m_control->ok());
        m_live = Control()->PluginLiveObjects();
        ASSERT_EQ(CoCreateInstance(CLSID_HdaTestRecording, nullptr, CLSCTX_INPROC_SERVER, IID_IOPCHDA_Server,
                                   m_server.ReleaseAndGetVoidAddress()),
                  S_OK);
    }
    void TearDown() override {
        m_server.Reset();
        EXPECT_EQ(Control()->PluginLiveObjects(), m_live) << "objects left alive";
        EXPECT_EQ(Control()->OutstandingReferences(), 0);
        m_control.reset();
        EXPECT_EQ(com::LiveTaskMemBlocks(), m_blocks) << "task memory leaked";
        CoUninitialize();
        StoreTest::TearDown();
    }
    IRecordingControl* Control() { return m_control->control(); }

    // Registers item IDs; returns their server handles.
    std::vector<OPCHANDLE> Handles(std::vector<std::u16string> ids) {
        std::vector<LPWSTR> p;
        std::vector<OPCHANDLE> clients;
        for (auto& id : ids) {
            p.push_back(id.data());
            clients.push_back(static_cast<OPCHANDLE>(100 + clients.size()));
        }
        OPCHANDLE* h = nullptr;
        HRESULT* e = nullptr;
        EXPECT_EQ(m_server->GetItemHandles(static_cast<DWORD>(ids.size()), p.data(), clients.data(), &h, &e),
                  S_OK);
        std::vector<OPCHANDLE> out(h, h + ids.size());
        CoTaskMemFree(h);
        CoTaskMemFree(e);
        return out;
    }

    std::optional<ScopedControl> m_control;
    com::ComPtr<IOPCHDA_Server> m_server;
    long m_blocks = 0, m_live = 0;
};

std::vector<std::u16string> Names(IEnumString* e) {
    std::vector<std::u16string> out;
    LPOLESTR s = nullptr;
    ULONG n = 0;
    while (e->Next(1, &s, &n) == S_OK) {
        out.emplace_back(s);
        CoTaskMemFree(s);
    }
    return out;
}

using Strings = std::vector<std::u16string>;

TEST_F(RecordingPlugin, BrowsesItsThreeLevelAddressSpace) {
    com::ComPtr<IOPCHDA_Browser> b;
    HRESULT* errors = nullptr;
    ASSERT_EQ(m_server->CreateBrowse(0, nullptr, nullptr, nullptr, b.ReleaseAndGetAddressOf(), &errors),
              S_OK);
    EXPECT_EQ(errors, nullptr);

    auto list = [&](OPCHDA_BROWSETYPE type, HRESULT expected = S_OK) {
        com::ComPtr<IEnumString> e;
        EXPECT_EQ(b->GetEnum(type, e.ReleaseAndGetAddressOf()), expected);
        return e ? Names(e.Get()) : Strings{u"(no enumerator)"};
    };
    auto position = [&] {
        LPWSTR p = nullptr;
        EXPECT_EQ(b->GetBranchPosition(&p), S_OK);
        std::u16string s = p;
        CoTaskMemFree(p);
        return s;
    };
    EXPECT_EQ(list(OPCHDA_BRANCH), (Strings{u"Plant", u"Utilities"}));
    EXPECT_EQ(list(OPCHDA_LEAF), (Strings{u"Sinusoid"}));
    EXPECT_EQ(list(OPCHDA_FLAT),
              (Strings{u"Plant.Area1.Temperature", u"Plant.Area1.Pressure", u"Plant.Area2.Flow",
                       u"Plant.Status", u"Utilities.Power", u"Sinusoid"}));
    EXPECT_EQ(position(), u"");
    EXPECT_EQ(b->ChangeBrowsePosition(OPCHDA_BROWSE_UP, u""), E_FAIL);

    ASSERT_EQ(b->ChangeBrowsePosition(OPCHDA_BROWSE_DOWN, u"Plant"), S_OK);
    EXPECT_EQ(list(OPCHDA_BRANCH), (Strings{u"Area1", u"Area2"}));
    EXPECT_EQ(list(OPCHDA_ITEMS), (Strings{u"Status"}));
    LPWSTR id = nullptr;
    ASSERT_EQ(b->GetItemID(u"Status", &id), S_OK);
    EXPECT_EQ(std::u16string(id), u"Plant.Status");
    CoTaskMemFree(id);
    EXPECT_EQ(b->GetItemID(u"Area1", &id), E_FAIL) << "a branch that is not an item";
    EXPECT_EQ(id, nullptr);
    EXPECT_EQ(b->ChangeBrowsePosition(OPCHDA_BROWSE_DOWN, u"Status"), E_FAIL) << "a leaf";

    ASSERT_EQ(b->ChangeBrowsePosition(OPCHDA_BROWSE_DOWN, u"Area1"), S_OK);
    EXPECT_EQ(position(), u"Plant.Area1");
    EXPECT_EQ(list(OPCHDA_LEAF), (Strings{u"Temperature", u"Pressure"}));
    EXPECT_EQ(list(OPCHDA_BRANCH, S_FALSE), Strings{}) << "empty, yet an enumerator";

    ASSERT_EQ(b->ChangeBrowsePosition(OPCHDA_BROWSE_DIRECT, u"Plant.Area2"), S_OK);
    EXPECT_EQ(list(OPCHDA_FLAT), (Strings{u"Plant.Area2.Flow"}));
    EXPECT_EQ(b->ChangeBrowsePosition(OPCHDA_BROWSE_DIRECT, u"Plant.Nowhere"), E_FAIL);
    EXPECT_EQ(position(), u"Plant.Area2") << "a failed move stays";
    ASSERT_EQ(b->ChangeBrowsePosition(OPCHDA_BROWSE_UP, u""), S_OK);
    ASSERT_EQ(b->ChangeBrowsePosition(OPCHDA_BROWSE_DIRECT, u""), S_OK);
    EXPECT_EQ(position(), u"");
    EXPECT_EQ(Control()->CallsTo("IOPCHDA_Browser::ChangeBrowsePosition").size(), 8u);
}

TEST_F(RecordingPlugin, AddressSpaceAndEnumeratorsCanBeScripted) {
    Control()->SetAddressSpace({u"a/b", u"a", u"c"}, u'/');  // "a" is a branch and an item
    int calls = 0;
    Control()->Hooks().EnumNext = [&](OPCHDA_BROWSETYPE type, ULONG call,
                                      const std::vector<std::u16string>& names, ULONG, LPOLESTR* rgelt,
                                      ULONG* fetched) -> HRESULT {
        ++calls;
        if (type == OPCHDA_LEAF) {  // S_OK without a string
            *rgelt = nullptr;
            *fetched = 0;
            return S_OK;
        }
        *rgelt = TaskString(names[call % names.size()]);  // never ends
        *fetched = 1;
        return S_OK;
    };
    com::ComPtr<IOPCHDA_Browser> b;
    HRESULT* errors = nullptr;
    ASSERT_EQ(m_server->CreateBrowse(0, nullptr, nullptr, nullptr, b.ReleaseAndGetAddressOf(), &errors),
              S_OK);
    com::ComPtr<IEnumString> e;
    ASSERT_EQ(b->GetEnum(OPCHDA_ITEMS, e.ReleaseAndGetAddressOf()), S_OK);
    for (int i = 0; i < 1000; ++i) {
        LPOLESTR s = nullptr;
        ULONG n = 0;
        ASSERT_EQ(e->Next(1, &s, &n), S_OK);
        EXPECT_EQ(std::u16string(s), i % 2 ? u"c" : u"a");
        CoTaskMemFree(s);
    }
    ASSERT_EQ(b->GetEnum(OPCHDA_LEAF, e.ReleaseAndGetAddressOf()), S_OK);
    LPOLESTR s = reinterpret_cast<LPOLESTR>(1);
    ULONG n = 1;
    EXPECT_EQ(e->Next(1, &s, &n), S_OK);
    EXPECT_EQ(s, nullptr);
    EXPECT_EQ(calls, 1001);
    EXPECT_EQ(Control()->CallsTo("IEnumString::Next").back().browseType, DWORD(OPCHDA_LEAF));
}

TEST_F(RecordingPlugin, ReadRawRecordsDeepCopiesAndAnswersPerHandle) {
    auto h = Handles({u"Plant.Status", u"Sinusoid"});
    EXPECT_EQ(h, (std::vector<OPCHANDLE>{1, 2}));
    std::u16string text = u"NOW-1H";
    OPCHDA_TIME start{TRUE, text.data(), {0, 0}};
    OPCHDA_TIME end{FALSE, nullptr, U64ToFileTime(kStatusNowTicks + 5)};
    OPCHANDLE handles[] = {h[1], 999, h[0]};
    OPCHDA_ITEM* items = nullptr;
    HRESULT* errors = nullptr;
    com::ComPtr<IOPCHDA_SyncRead> read;
    ASSERT_EQ(m_server.As(&read), S_OK);
    ASSERT_EQ(read->ReadRaw(&start, &end, 10, TRUE, 3, handles, &items, &errors), S_FALSE);
    text = u"overwritten";
    handles[0] = 0;

    auto calls = Control()->CallsTo("IOPCHDA_SyncRead::ReadRaw");
    ASSERT_EQ(calls.size(), 1u);
    const RecordedCall& c = calls[0];
    EXPECT_EQ(c.result, S_FALSE);
    EXPECT_EQ(c.start->szTime, u"NOW-1H");
    EXPECT_TRUE(c.start->bString);
    EXPECT_TRUE(c.end->szTimeNull);
    EXPECT_EQ(c.end->ftTime, kStatusNowTicks + 5);
    EXPECT_EQ(c.numValues, 10u);
    EXPECT_EQ(c.bounds, TRUE);
    EXPECT_EQ(c.serverHandles, (std::vector<OPCHANDLE>{2, 999, 1}));
    EXPECT_EQ(c.server, 1u);

    EXPECT_EQ(FileTimeToU64(start.ftTime), kStatusNowTicks) << "a string time is written back as a FILETIME";
    EXPECT_EQ(errors[0], S_OK);
    EXPECT_EQ(errors[1], OPC_E_INVALIDHANDLE);
    EXPECT_EQ(items[0].hClient, 101u);
    EXPECT_EQ(items[0].dwCount, 1u);
    EXPECT_EQ(items[0].pvDataValues[0].vt, VT_R8);
    EXPECT_EQ(items[0].pvDataValues[0].dblVal, 20.0);
    EXPECT_EQ(items[0].pdwQualities[0], OPC_QUALITY_GOOD | OPCHDA_RAW);
    EXPECT_EQ(items[1].dwCount, 0u);
    EXPECT_EQ(items[1].pvDataValues, nullptr);
    EXPECT_EQ(items[2].hClient, 100u);
    for (int i = 0; i < 3; ++i) {
        CoTaskMemFree(items[i].pftTimeStamps);
        CoTaskMemFree(items[i].pdwQualities);
        CoTaskMemFree(items[i].pvDataValues);
    }
    CoTaskMemFree(items);
    CoTaskMemFree(errors);
}

TEST_F(RecordingPlugin, UpdateValuesAndFiltersAreRecordedAsText) {
    auto h = Handles({u"Sinusoid"});
    VARIANT v[6] = {};
    v[0].vt = VT_R8;
    v[0].dblVal = 0.1;
    v[1].vt = VT_BSTR;
    v[1].bstrVal = SysAllocString(u"abc");
    v[2].vt = VT_BOOL;
    v[2].boolVal = VARIANT_TRUE;
    v[3].vt = VT_CY;
    v[3].cyVal.int64 = -1;
    v[4].vt = VT_ERROR;
    v[4].scode = E_FAIL;
    v[5].vt = 0x4242;  // no such type
    OPCHANDLE handles[6] = {h[0], h[0], h[0], h[0], h[0], 77};
    FILETIME times[6] = {};
    DWORD qualities[6] = {0xC0, 0xC0, 0x40, 0, 0xC0, 0xC0};
    com::ComPtr<IOPCHDA_SyncUpdate> update;
    ASSERT_EQ(m_server.As(&update), S_OK);
    HRESULT* errors = nullptr;
    ASSERT_EQ(update->InsertReplace(6, handles, times, v, qualities, &errors), S_FALSE);
    EXPECT_EQ(errors[5], OPC_E_INVALIDHANDLE);
    CoTaskMemFree(errors);
    SysFreeString(v[1].bstrVal);

    auto c = Control()->CallsTo("IOPCHDA_SyncUpdate::InsertReplace").at(0);
    ASSERT_EQ(c.values.size(), 6u);
    const char16_t* texts[] = {u"0.1", u"abc", u"-1", u"-0.0001", u"0x80004005", u""};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(c.values[i].vt, v[i].vt);
        EXPECT_EQ(c.values[i].text, texts[i]);
    }
    EXPECT_EQ(c.qualities, (std::vector<DWORD>(qualities, qualities + 6)));

    DWORD attrs[] = {OPCHDA_ITEMID};
    OPCHDA_OPERATORCODES ops[] = {OPCHDA_EQUAL};
    VARIANT filter{};
    filter.vt = VT_BSTR;
    filter.bstrVal = SysAllocString(u"Plant*");
    com::ComPtr<IOPCHDA_Browser> b;
    ASSERT_EQ(m_server->CreateBrowse(1, attrs, ops, &filter, b.ReleaseAndGetAddressOf(), &errors), S_FALSE);
    EXPECT_EQ(errors[0], OPC_W_NOFILTER);
    EXPECT_TRUE(b) << "a browser despite the dropped filter";
    CoTaskMemFree(errors);
    SysFreeString(filter.bstrVal);
    auto f = Control()->CallsTo("IOPCHDA_Server::CreateBrowse").at(0).filters;
    ASSERT_EQ(f.size(), 1u);
    EXPECT_EQ(f[0].attributeId, DWORD(OPCHDA_ITEMID));
    EXPECT_EQ(f[0].op, DWORD(OPCHDA_EQUAL));
    EXPECT_EQ(f[0].value.text, u"Plant*");
}

TEST_F(RecordingPlugin, HooksMayAnswerAnythingAndNullOutPointersAreRefused) {
    Control()->Hooks().GetItemHandles = [](DWORD, LPWSTR*, OPCHANDLE*, OPCHANDLE** h, HRESULT** e) {
        *h = nullptr;  // malformed on purpose: success without arrays
        *e = nullptr;
        return S_OK;
    };
    WCHAR id[] = u"x";
    LPWSTR ids[] = {id};
    OPCHANDLE client = 1, *h = reinterpret_cast<OPCHANDLE*>(8);
    HRESULT* e = nullptr;
    EXPECT_EQ(m_server->GetItemHandles(1, ids, &client, &h, &e), S_OK);
    EXPECT_EQ(h, nullptr);
    Control()->Hooks().GetItemHandles = nullptr;

    EXPECT_EQ(m_server->GetItemHandles(1, ids, &client, nullptr, &e), E_INVALIDARG);
    EXPECT_EQ(e, nullptr);
    ids[0] = nullptr;
    EXPECT_EQ(m_server->GetItemHandles(1, ids, &client, &h, &e), S_FALSE);
    EXPECT_EQ(e[0], OPC_E_INVALIDITEMID);
    CoTaskMemFree(h);
    CoTaskMemFree(e);
    auto calls = Control()->CallsTo("IOPCHDA_Server::GetItemHandles");
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[1].nullArgs, std::vector<std::string>{"pphServer"});
    EXPECT_EQ(calls[2].nullArgs, std::vector<std::string>{"pszItemID[0]"});
}

TEST_F(RecordingPlugin, OfferedInterfacesCanChangeAtRunTime) {
    com::ComPtr<IOPCHDA_SyncRead> read;
    EXPECT_EQ(m_server.As(&read), S_OK);
    Control()->SetOffered(kOfferAll & ~kOfferSyncRead);
    EXPECT_EQ(m_server.As(&read), E_NOINTERFACE);
    EXPECT_FALSE(read);
    Control()->Reset();
    EXPECT_EQ(Control()->Offered(), DWORD(kOfferAll));
    EXPECT_EQ(m_server.As(&read), S_OK);

    ScopedControl noAsync(CLSID_HdaTestNoAsync);
    ASSERT_TRUE(noAsync.ok());
    EXPECT_EQ(noAsync->Offered(), DWORD(kOfferAll & ~kOfferAsyncRead));
    // The control is also reachable from a server object.
    com::ComPtr<IUnknown> viaServer;
    ASSERT_EQ(m_server->QueryInterface(IID_IRecordingControl, viaServer.ReleaseAndGetVoidAddress()), S_OK);
    auto* sameState = static_cast<IRecordingControl*>(static_cast<IUnknown*>(viaServer.Get()));
    sameState->SetOffered(kOfferServer);
    EXPECT_EQ(Control()->Offered(), DWORD(kOfferServer));
    EXPECT_EQ(m_server.As(&read), E_NOINTERFACE);
}

TEST_F(RecordingPlugin, DefaultServerInformationAndAttributes) {
    OPCHDA_SERVERSTATUS status{};
    FILETIME *now = nullptr, *start = nullptr;
    WORD major = 0, minor = 0, build = 0;
    DWORD max = 0;
    LPWSTR text = nullptr, vendor = nullptr;
    ASSERT_EQ(
        m_server->GetHistorianStatus(&status, &now, &start, &major, &minor, &build, &max, &text, &vendor),
        S_OK);
    EXPECT_EQ(status, OPCHDA_UP);
    EXPECT_EQ(FileTimeToU64(*now), kStatusNowTicks);
    EXPECT_EQ(std::u16string(text), u"Running");
    for (void* p : {(void*)now, (void*)start, (void*)text, (void*)vendor}) CoTaskMemFree(p);

    DWORD count = 0, *ids = nullptr;
    LPWSTR *names = nullptr, *descs = nullptr;
    ASSERT_EQ(m_server->GetAggregates(&count, &ids, &names, &descs), S_OK);
    ASSERT_EQ(count, 4u);
    EXPECT_EQ(std::u16string(names[1]), u"Average");
    for (DWORD i = 0; i < count; ++i) {
        CoTaskMemFree(names[i]);
        CoTaskMemFree(descs[i]);
    }
    CoTaskMemFree(ids);
    CoTaskMemFree(names);
    CoTaskMemFree(descs);

    auto h = Handles({u"Plant.Area1.Temperature"});
    com::ComPtr<IOPCHDA_SyncRead> read;
    ASSERT_EQ(m_server.As(&read), S_OK);
    OPCHDA_TIME t0{FALSE, nullptr, U64ToFileTime(kStatusNowTicks)}, t1 = t0;
    DWORD attrs[] = {OPCHDA_DESCRIPTION, OPCHDA_NORMAL_MAXIMUM};
    OPCHDA_ATTRIBUTE* values = nullptr;
    HRESULT* errors = nullptr;
    ASSERT_EQ(read->ReadAttribute(&t0, &t1, h[0], 2, attrs, &values, &errors), S_FALSE);
    ASSERT_EQ(values[0].vAttributeValues[0].vt, VT_BSTR);
    EXPECT_EQ(std::u16string(values[0].vAttributeValues[0].bstrVal),
              u"Recorded item Plant.Area1.Temperature");
    EXPECT_EQ(errors[1], OPC_E_INVALIDATTRID);
    EXPECT_EQ(values[1].dwNumValues, 0u);
    VariantClear(&values[0].vAttributeValues[0]);
    CoTaskMemFree(values[0].vAttributeValues);
    CoTaskMemFree(values[0].ftTimeStamps);
    CoTaskMemFree(values);
    CoTaskMemFree(errors);
    EXPECT_EQ(read->ReadAttribute(&t0, &t1, 12345, 2, attrs, &values, &errors), OPC_E_INVALIDHANDLE);
    EXPECT_EQ(values, nullptr);
}

}  // namespace
