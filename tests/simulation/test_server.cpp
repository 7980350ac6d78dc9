// The server object: status, item handles, attributes, the address space, registration.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <set>

#include "com/classstore.h"
#include "com/objbase.h"
#include "com/timeapi.h"
#include "tests/simulation/sim_client.h"

namespace simtest {
namespace {

std::string Narrow(const std::u16string& s) {
    return std::string(s.begin(), s.end());
}

class Server : public ::testing::Test {
protected:
    void TearDown() override { com::ResetClock(); }
    TempDir dir;
};

TEST_F(Server, ReportsItsStatus) {
    com::SetFixedNow(kFiveAm);
    Client c(dir.File("h.db"), {{"VISTREL_SIM_MAX_VALUES", "250"}});
    com::SetFixedNow(kFiveAm + 5 * kSecond);
    OPCHDA_SERVERSTATUS status{};
    FILETIME *now = nullptr, *start = nullptr;
    WORD major = 0, minor = 0, build = 0;
    DWORD max = 0;
    LPWSTR text = nullptr, vendor = nullptr;
    ASSERT_EQ(
        c.server()->GetHistorianStatus(&status, &now, &start, &major, &minor, &build, &max, &text, &vendor),
        S_OK);
    EXPECT_EQ(status, OPCHDA_UP);
    EXPECT_EQ(FileTimeToU64(*now), kFiveAm + 5 * kSecond);
    EXPECT_EQ(FileTimeToU64(*start), kFiveAm);
    EXPECT_EQ(major, 1);
    EXPECT_EQ(minor, 0);
    EXPECT_EQ(build, 1);
    EXPECT_EQ(max, 250u);
    EXPECT_NE(Narrow(text).find(dir.File("h.db")), std::string::npos) << Narrow(text);
    EXPECT_NE(Narrow(vendor).find("Brindlex"), std::string::npos);
    CoTaskMemFree(now), CoTaskMemFree(start), CoTaskMemFree(text), CoTaskMemFree(vendor);
}

TEST_F(Server, ItemHandlesAndValidation) {
    Client c(dir.File("h.db"));
    const std::u16string longId(257, u'x');
    const struct {
        const char16_t* id;
        HRESULT code;
    } cases[] = {
        {u"Generated.Waves.Sine", S_OK},
        {u"Writable.Lab.Density", S_OK},
        {u"Generated.Plant.Reactor", S_OK},         // an item that is also a branch
        {u"Generated.Waves.Sine", S_OK},            // again: a handle of its own
        {u"Generated.Plant", OPC_E_UNKNOWNITEMID},  // a branch only
        {u"Generated.Nope", OPC_E_UNKNOWNITEMID},
        {u"generated.waves.sine", OPC_E_UNKNOWNITEMID},  // IDs compare with letter case
        {u"", OPC_E_INVALIDITEMID},
        {u".", OPC_E_INVALIDITEMID},
        {u"Generated..Sine", OPC_E_INVALIDITEMID},
        {u"Generated.", OPC_E_INVALIDITEMID},
        {u" Generated.Waves.Sine", OPC_E_INVALIDITEMID},
        {u"Generated.Waves.*", OPC_E_INVALIDITEMID},
        {u"Generated.Waves.Si?e", OPC_E_INVALIDITEMID},
        {longId.c_str(), OPC_E_INVALIDITEMID},
        {nullptr, OPC_E_INVALIDITEMID},
    };
    const DWORD n = std::size(cases);
    std::vector<LPWSTR> ids;
    std::vector<OPCHANDLE> clients;
    for (DWORD k = 0; k < n; ++k) {
        ids.push_back(const_cast<LPWSTR>(cases[k].id));
        clients.push_back(100 + k);
    }
    OPCHANDLE* servers = nullptr;
    HRESULT* errors = nullptr;
    ASSERT_EQ(c.server()->GetItemHandles(n, ids.data(), clients.data(), &servers, &errors), S_FALSE);
    std::set<OPCHANDLE> distinct;
    for (DWORD k = 0; k < n; ++k) {
        EXPECT_EQ(errors[k], cases[k].code) << k;
        if (cases[k].code == S_OK) {
            EXPECT_NE(servers[k], 0u);
            distinct.insert(servers[k]);
        } else {
            EXPECT_EQ(servers[k], 0u);
        }
    }
    EXPECT_EQ(distinct.size(), 4u);
    CoTaskMemFree(servers), CoTaskMemFree(errors);

    ASSERT_EQ(c.server()->ValidateItemIDs(n, ids.data(), &errors), S_FALSE);
    for (DWORD k = 0; k < n; ++k) EXPECT_EQ(errors[k], cases[k].code) << k;
    CoTaskMemFree(errors);

    servers = reinterpret_cast<OPCHANDLE*>(1);
    errors = reinterpret_cast<HRESULT*>(1);
    EXPECT_EQ(c.server()->GetItemHandles(0, ids.data(), clients.data(), &servers, &errors), E_INVALIDARG);
    EXPECT_EQ(servers, nullptr);
    EXPECT_EQ(errors, nullptr);
}

// Item IDs below a browse position, through FLAT.
std::vector<std::u16string> FlatIds(IOPCHDA_Server* server) {
    IOPCHDA_Browser* browser = nullptr;
    HRESULT* errors = nullptr;
    EXPECT_EQ(server->CreateBrowse(0, nullptr, nullptr, nullptr, &browser, &errors), S_OK);
    IEnumString* e = nullptr;
    EXPECT_EQ(browser->GetEnum(OPCHDA_FLAT, &e), S_OK);
    std::vector<std::u16string> ids;
    LPOLESTR s = nullptr;
    ULONG got = 0;
    while (e->Next(1, &s, &got) == S_OK) {
        ids.push_back(s);
        CoTaskMemFree(s);
    }
    e->Release();
    browser->Release();
    return ids;
}

// One attribute's values for one item at "NOW".
struct AttrReply {
    HRESULT code;
    std::vector<Val> values;
    std::vector<Ticks> times;
};

std::vector<AttrReply> ReadAttributes(Client& c, OPCHANDLE h, std::vector<DWORD> ids, const Time& start,
                                      const Time& end, HRESULT* hr) {
    OPCHDA_TIME s{start.text, const_cast<LPWSTR>(start.s.c_str()), U64ToFileTime(start.ft)};
    OPCHDA_TIME e{end.text, const_cast<LPWSTR>(end.s.c_str()), U64ToFileTime(end.ft)};
    OPCHDA_ATTRIBUTE* values = nullptr;
    HRESULT* errors = nullptr;
    *hr = c.read()->ReadAttribute(&s, &e, h, static_cast<DWORD>(ids.size()), ids.data(), &values, &errors);
    std::vector<AttrReply> out;
    if (FAILED(*hr)) {
        EXPECT_TRUE(!values && !errors);
        return out;
    }
    for (std::size_t k = 0; k < ids.size(); ++k) {
        AttrReply r{errors[k], {}, {}};
        EXPECT_EQ(values[k].dwAttributeID, ids[k]);
        EXPECT_EQ(values[k].hClient, 3u);
        for (DWORD j = 0; j < values[k].dwNumValues; ++j) {
            r.values.push_back(ValOf(values[k].vAttributeValues[j]));
            r.times.push_back(FileTimeToU64(values[k].ftTimeStamps[j]));
            VariantClear(&values[k].vAttributeValues[j]);
        }
        CoTaskMemFree(values[k].vAttributeValues);
        CoTaskMemFree(values[k].ftTimeStamps);
        out.push_back(std::move(r));
    }
    CoTaskMemFree(values);
    CoTaskMemFree(errors);
    return out;
}

TEST_F(Server, AddressSpaceCoversEveryTypeOnSeveralLevels) {
    Client c(dir.File("h.db"));
    std::vector<std::u16string> ids = FlatIds(c.server());
    EXPECT_GE(ids.size(), 30u);
    std::size_t deepest = 0;
    std::map<std::u16string, std::set<int>> types;  // "Generated"/"Writable" → VARTYPEs
    for (const auto& id : ids) {
        deepest = std::max<std::size_t>(deepest, std::count(id.begin(), id.end(), u'.'));
        OPCHANDLE h = c.Handle(id, 3);
        HRESULT hr;
        auto a = ReadAttributes(c, h, {OPCHDA_DATA_TYPE}, Time::Rel(u"NOW"), Time::Rel(u"NOW"), &hr);
        ASSERT_EQ(hr, S_OK);
        types[id.substr(0, id.find(u'.'))].insert(static_cast<int>(a[0].values[0].num));
    }
    EXPECT_GE(deepest, 3u);
    const std::set<int> all = {VT_I1, VT_I2, VT_I4, VT_UI1,  VT_UI2,  VT_UI4,
                               VT_R4, VT_R8, VT_CY, VT_BOOL, VT_BSTR, VT_DATE};
    EXPECT_EQ(types[u"Generated"], all);
    EXPECT_EQ(types[u"Writable"], all);
}

TEST_F(Server, ListsTheStandardAttributes) {
    Client c(dir.File("h.db"));
    DWORD n = 0;
    DWORD* ids = nullptr;
    LPWSTR *names = nullptr, *descs = nullptr;
    VARTYPE* vts = nullptr;
    ASSERT_EQ(c.server()->GetItemAttributes(&n, &ids, &names, &descs, &vts), S_OK);
    const VARTYPE expected[] = {VT_I2,   VT_BSTR, VT_BSTR, VT_BOOL, VT_BOOL, VT_BSTR, VT_BSTR,
                                VT_BSTR, VT_BSTR, VT_BSTR, VT_R8,   VT_R8,   VT_BSTR, VT_CY,
                                VT_CY,   VT_R8,   VT_I2,   VT_R8,   VT_R8};
    ASSERT_EQ(n, std::size(expected));
    for (DWORD k = 0; k < n; ++k) {
        EXPECT_EQ(ids[k], k + 1);
        EXPECT_EQ(vts[k], expected[k]) << k;
        EXPECT_TRUE(names[k][0] && descs[k][0]);
        CoTaskMemFree(names[k]), CoTaskMemFree(descs[k]);
    }
    CoTaskMemFree(ids), CoTaskMemFree(names), CoTaskMemFree(descs), CoTaskMemFree(vts);
}

TEST_F(Server, ReadsAttributeValues) {
    com::SetFixedNow(kFiveAm);
    Client c(dir.File("h.db"));
    OPCHANDLE sine = c.Handle(u"Generated.Waves.Sine", 3), text = c.Handle(u"Writable.Text", 3);
    std::vector<DWORD> ids;
    for (DWORD id = 1; id <= 19; ++id) ids.push_back(id);
    ids.push_back(0x99);
    HRESULT hr;
    auto a = ReadAttributes(c, sine, ids, Time::Rel(u"NOW"), Time::Rel(u"NOW"), &hr);
    ASSERT_EQ(hr, S_FALSE);
    ASSERT_EQ(a.size(), 20u);
    for (std::size_t k = 0; k < 19; ++k) {
        EXPECT_EQ(a[k].code, S_OK) << k;
        ASSERT_EQ(a[k].times.size(), 1u);
        EXPECT_EQ(a[k].times[0], kFiveAm);
    }
    EXPECT_EQ(a[19].code, OPC_E_INVALIDATTRID);
    EXPECT_TRUE(a[19].values.empty());
    auto is = [&](DWORD id, VARTYPE vt, double num) {
        EXPECT_EQ(a[id - 1].values[0].vt, vt) << id;
        EXPECT_EQ(a[id - 1].values[0].num, num) << id;
    };
    is(OPCHDA_DATA_TYPE, VT_I2, VT_R8);
    is(OPCHDA_STEPPED, VT_BOOL, VARIANT_FALSE);
    is(OPCHDA_ARCHIVING, VT_BOOL, VARIANT_TRUE);
    is(OPCHDA_NORMAL_MAXIMUM, VT_R8, 100);
    is(OPCHDA_NORMAL_MINIMUM, VT_R8, -100);
    is(OPCHDA_EXCEPTION_DEV_TYPE, VT_I2, 0);
    EXPECT_EQ(a[OPCHDA_ITEMID - 1].values[0].text, u"Sine");
    EXPECT_EQ(a[OPCHDA_SOURCE_NAME - 1].values[0].text, u"Generated.Waves.Sine");
    EXPECT_EQ(a[OPCHDA_PROCESS_NAME - 1].values[0].text, u"Brindlex.OPC.Simulation");
    EXPECT_NE(Narrow(a[OPCHDA_DERIVE_EQUATION - 1].values[0].text).find("sin"), std::string::npos);
    EXPECT_EQ(a[OPCHDA_MAX_TIME_INT - 1].values[0].vt, VT_CY);
    EXPECT_EQ(a[OPCHDA_MAX_TIME_INT - 1].values[0].raw,
              static_cast<std::int64_t>(kSecond));  // ticks, unscaled

    // Attributes that mean nothing for a stored text item.
    auto t = ReadAttributes(c, text,
                            {OPCHDA_STEPPED, OPCHDA_ENG_UNITS, OPCHDA_NORMAL_MAXIMUM, OPCHDA_DERIVE_EQUATION,
                             OPCHDA_MAX_TIME_INT},
                            Time::Rel(u"NOW"), Time::None(), &hr);
    EXPECT_EQ(t[0].code, S_OK);
    EXPECT_EQ(t[0].values[0].num, VARIANT_TRUE);
    for (std::size_t k = 1; k < t.size(); ++k) EXPECT_EQ(t[k].code, OPC_E_INVALIDATTRID) << k;

    // Only current values exist: a range gets them with OPC_S_CURRENTVALUE.
    auto range = ReadAttributes(c, sine, {OPCHDA_DESCRIPTION}, Time::Rel(u"NOW-1D"), Time::Rel(u"NOW"), &hr);
    EXPECT_EQ(hr, S_FALSE);
    EXPECT_EQ(range[0].code, OPC_S_CURRENTVALUE);
    EXPECT_EQ(range[0].values.size(), 1u);

    ReadAttributes(c, 0xBAD, {OPCHDA_DESCRIPTION}, Time::Rel(u"NOW"), Time::None(), &hr);
    EXPECT_EQ(hr, OPC_E_INVALIDHANDLE);
    ReadAttributes(c, sine, {OPCHDA_DESCRIPTION}, Time::None(), Time::None(), &hr);
    EXPECT_EQ(hr, E_INVALIDARG);
}

TEST_F(Server, OtherInterfaces) {
    Client c(dir.File("h.db"));
    OPCHDA_UPDATECAPABILITIES caps{};
    EXPECT_EQ(c.update()->QueryCapabilities(&caps), S_OK);
    EXPECT_EQ(caps, 0x1Fu);

    IOPCHDA_AsyncRead* async = nullptr;
    ASSERT_EQ(c.server()->QueryInterface(IID_IOPCHDA_AsyncRead, reinterpret_cast<void**>(&async)), S_OK);
    DWORD cancel = 99;
    HRESULT* errors = reinterpret_cast<HRESULT*>(1);
    OPCHDA_TIME t{TRUE, const_cast<LPWSTR>(u"NOW"), {}};
    OPCHANDLE h = 1;
    EXPECT_EQ(async->ReadRaw(1, &t, &t, 0, FALSE, 1, &h, &cancel, &errors), E_NOTIMPL);
    EXPECT_EQ(errors, nullptr);
    EXPECT_EQ(cancel, 0u);
    async->Release();

    IOPCCommon* common = nullptr;
    ASSERT_EQ(c.server()->QueryInterface(IID_IOPCCommon, reinterpret_cast<void**>(&common)), S_OK);
    LPWSTR text = nullptr;
    EXPECT_EQ(common->GetErrorString(OPC_E_DATAEXISTS, &text), S_OK);
    EXPECT_NE(Narrow(text).find("already"), std::string::npos);
    CoTaskMemFree(text);
    EXPECT_EQ(common->GetErrorString(0x12345678, &text), E_INVALIDARG);
    EXPECT_EQ(common->SetLocaleID(0x0407), E_INVALIDARG);
    EXPECT_EQ(common->SetLocaleID(LOCALE_SYSTEM_DEFAULT), S_OK);
    common->Release();
}

TEST_F(Server, ItemsFileAndSettingsThatAreNotUnderstood) {
    const std::string items = dir.File("items.txt");
    {
        FILE* f = fopen(items.c_str(), "w");
        fputs(
            "# extra items\n"
            "Lab.Viscosity | R8 | no | mPa·s | Viscosity at 20 °C\n"
            "Operator.Note | BSTR\n"
            "Lab.Broken | R9\n"
            "Writable.Real8 | R8\n",
            f);
        fclose(f);
    }
    Client c(dir.File("h.db"), {{"VISTREL_SIM_ITEMS", items}, {"VISTREL_SIM_MAX_VALUES", "lots"}});
    const std::string status = Narrow(c.StatusString());
    EXPECT_NE(status.find("line 4"), std::string::npos) << status;  // unknown type
    EXPECT_NE(status.find("line 5"), std::string::npos) << status;  // ID in use
    EXPECT_NE(status.find("VISTREL_SIM_MAX_VALUES"), std::string::npos) << status;
    OPCHANDLE visc = c.Handle(u"Lab.Viscosity", 3);
    ASSERT_EQ(c.Write(Client::Op::Insert, visc, {Text(kFiveAm, u"12.5")}), std::vector<HRESULT>{S_OK});
    Reply r = c.ReadRaw(Time::At(kFiveAm), Time::None(), 1, false, {visc});
    EXPECT_EQ(r.items[0].v[0].num, 12.5);
    HRESULT hr;
    auto a =
        ReadAttributes(c, visc, {OPCHDA_ENG_UNITS, OPCHDA_DESCRIPTION}, Time::Rel(u"NOW"), Time::None(), &hr);
    EXPECT_EQ(a[0].values[0].text, u"mPa·s");
    EXPECT_EQ(a[1].values[0].text, u"Viscosity at 20 °C");
    // The default maximum stays.
    EXPECT_EQ(c.ReadRaw(Time::At(kFiveAm), Time::None(), 10'001, false, {visc}).hr, OPC_E_MAXEXCEEDED);
    EXPECT_EQ(c.ReadRaw(Time::At(kFiveAm), Time::None(), 10'000, false, {visc}).hr, S_OK);
}

TEST(Registration, ClassStoreAndCategoryManagerListTheServer) {
    const CLSID& clsid = RegisteredClass();
    const CLSID expected = {0x7D7C1C1D, 0xE92C, 0x4F82, {0x9F, 0x4B, 0x6B, 0xE5, 0x31, 0x34, 0xDB, 0xB5}};
    EXPECT_EQ(clsid, expected);
    CLSID viaVersion{};
    EXPECT_EQ(CLSIDFromProgID(u"Brindlex.OPC.Simulation.1", &viaVersion), S_OK);
    EXPECT_EQ(viaVersion, expected);
    bool found = false;
    for (const auto& reg : com::EnumerateComClasses()) {
        if (reg.clsid != expected) continue;
        found = true;
        EXPECT_EQ(reg.versionIndependentProgId, u"Brindlex.OPC.Simulation");
        EXPECT_EQ(reg.categories, std::vector<CATID>{CATID_OPCHDAServer10});
        EXPECT_FALSE(reg.libraryPath.empty());
    }
    EXPECT_TRUE(found);

    ICatInformation* cat = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER,
                               IID_ICatInformation, reinterpret_cast<void**>(&cat)),
              S_OK);
    IEnumCLSID* e = nullptr;
    CATID hda = CATID_OPCHDAServer10;
    ASSERT_EQ(cat->EnumClassesOfCategories(1, &hda, 0, nullptr, &e), S_OK);
    CLSID got{};
    ULONG n = 0;
    bool listed = false;
    while (e->Next(1, &got, &n) == S_OK) listed = listed || got == expected;
    EXPECT_TRUE(listed);
    e->Release();
    cat->Release();
}

TEST(Registration, UnregistersWithTheCommand) {
    TempDir store;
    auto run = [&](const std::string& args) {
        std::string cmd =
            std::string("'") + VISTREL_REGSVR_PATH + "' --store '" + store.path() + "' " + args + " 2>&1";
        FILE* p = popen(cmd.c_str(), "r");
        std::string out;
        char buf[512];
        while (p && fgets(buf, sizeof buf, p)) out += buf;
        EXPECT_EQ(p ? pclose(p) : -1, 0) << out;
        return out;
    };
    run(std::string("'") + SIM_PLUGIN_PATH + "'");
    EXPECT_NE(run("--list").find("Brindlex.OPC.Simulation.1"), std::string::npos);
    run(std::string("-u '") + SIM_PLUGIN_PATH + "'");
    EXPECT_EQ(run("--list").find("Brindlex.OPC.Simulation"), std::string::npos);
}

TEST(Registration, ClassObjectAndUnloading) {
    TempDir dir;
    void* lib = dlopen(SIM_PLUGIN_PATH, RTLD_NOW | RTLD_NOLOAD);
    if (!lib) {
        Client warm(dir.File("warm.db"));  // have the runtime load the library
        lib = dlopen(SIM_PLUGIN_PATH, RTLD_NOW | RTLD_NOLOAD);
    }
    ASSERT_NE(lib, nullptr);
    auto canUnload = reinterpret_cast<PFN_DllCanUnloadNow>(dlsym(lib, "DllCanUnloadNow"));
    auto getClass = reinterpret_cast<PFN_DllGetClassObject>(dlsym(lib, "DllGetClassObject"));
    ASSERT_TRUE(canUnload && getClass);
    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(getClass(IID_IUnknown, IID_IClassFactory, &p), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(p, nullptr);
    {
        Client c(dir.File("h.db"));
        EXPECT_EQ(canUnload(), S_FALSE);
        IClassFactory* f = Factory();
        ASSERT_NE(f, nullptr);
        IUnknown* obj = nullptr;
        EXPECT_EQ(f->CreateInstance(c.server(), IID_IUnknown, reinterpret_cast<void**>(&obj)),
                  CLASS_E_NOAGGREGATION);
        EXPECT_EQ(obj, nullptr);
        EXPECT_EQ(f->LockServer(TRUE), S_OK);
        f->Release();
        EXPECT_EQ(canUnload(), S_FALSE);
        f = Factory();
        f->LockServer(FALSE);
        f->Release();
    }
    EXPECT_EQ(canUnload(), S_OK);
    dlclose(lib);
}

}  // namespace
}  // namespace simtest
