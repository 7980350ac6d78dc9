#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>

#include "com/classstore.h"
#include "com/objbase.h"
#include "com/text.h"
#include "hda/opchda.h"
#include "store_fixture.h"
#include "tests/plugins/recording_control.h"

namespace {

using namespace hdatest;
using vistrel_test::ScopedEnv;
using vistrel_test::StoreTest;
using vistrel_test::WriteText;

const std::string kRecording = HDATEST_RECORDING_PATH;
const std::string kBroken = HDATEST_BROKEN_PATH;
const std::string kUnresolved = HDATEST_UNRESOLVED_PATH;
const std::string kRegsvr = VISTREL_REGSVR_PATH;

struct CommandResult {
    int status = -1;
    std::string output;  // stdout and stderr
};

CommandResult Regsvr(const std::string& args) {
    CommandResult r;
    std::string cmd = "'" + kRegsvr + "' " + args + " 2>&1";
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return r;
    std::array<char, 4096> buf;
    while (std::size_t n = fread(buf.data(), 1, buf.size(), p)) r.output.append(buf.data(), n);
    int st = pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

class Activation : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        m_blocks = com::LiveTaskMemBlocks();
    }
    void TearDown() override {
        EXPECT_EQ(com::LiveTaskMemBlocks(), m_blocks) << "task memory leaked";
        CoUninitialize();
        StoreTest::TearDown();
    }
    static void RegisterRaw(REFCLSID clsid, const std::u16string& progId, const std::string& library) {
        com::ClassRegistration reg;
        reg.clsid = clsid;
        reg.progId = progId;
        reg.libraryPath = library;
        reg.categories = {CATID_OPCHDAServer10};
        ASSERT_EQ(com::RegisterComClass(reg), S_OK);
    }
    long m_blocks = 0;
};

std::vector<CLSID> Enumerate(IEnumCLSID* e) {
    std::vector<CLSID> out;
    CLSID c;
    ULONG fetched = 0;
    HRESULT hr;
    while ((hr = e->Next(1, &c, &fetched)) == S_OK) {
        EXPECT_EQ(fetched, 1u);
        out.push_back(c);
    }
    EXPECT_EQ(hr, S_FALSE);
    EXPECT_EQ(fetched, 0u);
    return out;
}

// ---- The registration command ----

TEST_F(Activation, RegistrationCommandRegistersListsAndUnregistersThePlugin) {
    CommandResult r = Regsvr("--store '" + m_dir + "' '" + kRecording + "'");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("DllRegisterServer in " + kRecording + " succeeded"), std::string::npos)
        << r.output;
    EXPECT_NE(r.output.find("HdaTest.NoSyncUpdate.1\t" + com::GuidToUtf8(CLSID_HdaTestNoSyncUpdate)),
              std::string::npos)
        << r.output;

    CLSID clsid{};
    ASSERT_EQ(CLSIDFromProgID(u"HdaTest.Recording.1", &clsid), S_OK);
    EXPECT_EQ(clsid, CLSID_HdaTestRecording);
    auto all = com::EnumerateComClasses();
    ASSERT_EQ(all.size(), 5u);
    EXPECT_EQ(all[0].libraryPath, kRecording);
    // Discovery sees the registered servers in registration order and creates them by ProgID.
    com::ComPtr<ICatInformation> cat;
    ASSERT_EQ(CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER,
                               IID_ICatInformation, cat.ReleaseAndGetVoidAddress()),
              S_OK);
    CATID hda = CATID_OPCHDAServer10;
    com::ComPtr<IEnumCLSID> e;
    ASSERT_EQ(cat->EnumClassesOfCategories(1, &hda, 0, nullptr, e.ReleaseAndGetAddressOf()), S_OK);
    EXPECT_EQ(Enumerate(e.Get()),
              (std::vector<CLSID>{CLSID_HdaTestRecording, CLSID_HdaTestNoAsync, CLSID_HdaTestNoSyncRead,
                                  CLSID_HdaTestNoSyncUpdate, CLSID_HdaTestNoServer}));
    MULTI_QI qi[2] = {{&IID_IUnknown, nullptr, E_FAIL}, {&IID_IOPCHDA_Server, nullptr, E_FAIL}};
    ASSERT_EQ(CoCreateInstanceEx(clsid, nullptr, CLSCTX_SERVER, nullptr, 2, qi), S_OK);
    qi[0].pItf->Release();
    qi[1].pItf->Release();

    r = Regsvr("--list --store '" + m_dir + "'");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("ProgID\tCLSID\tCategories\tLibrary\n"), std::string::npos);
    EXPECT_NE(r.output.find("HdaTest.Recording.1\t" + com::GuidToUtf8(CLSID_HdaTestRecording) + "\t" +
                            com::GuidToUtf8(CATID_OPCHDAServer10) + "\t" + kRecording + "\n"),
              std::string::npos)
        << r.output;

    r = Regsvr("--store '" + m_dir + "' -u '" + kRecording + "'");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_TRUE(com::EnumerateComClasses().empty());
    EXPECT_EQ(CLSIDFromProgID(u"HdaTest.Recording.1", &clsid), CO_E_CLASSSTRING);
}

TEST_F(Activation, RegistrationCommandReportsFailuresWithExitCodes) {
    CommandResult r = Regsvr("--store '" + m_dir + "' /nonexistent/libnothing.so");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("/nonexistent/libnothing.so: no such library"), std::string::npos) << r.output;

    r = Regsvr("--store '" + m_dir + "' '" + kUnresolved + "'");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("cannot use"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("hdatest_symbol_that_nothing_defines"), std::string::npos) << r.output;

    r = Regsvr("--store '" + m_dir + "' -u '" + kBroken + "'");  // it exports DllUnregisterServer
    EXPECT_EQ(r.status, 0) << r.output;
    r = Regsvr("--store '" + m_dir + "' '" + kUnresolved + "' '" + kRecording + "'");
    EXPECT_EQ(r.status, 1) << "one failure fails the run";
    EXPECT_EQ(com::EnumerateComClasses().size(), 5u) << "the good library is still registered";

    EXPECT_EQ(Regsvr("").status, 2);
    EXPECT_EQ(Regsvr("--frobnicate x.so").status, 2);
    EXPECT_EQ(Regsvr("--user --system x.so").status, 2);
    EXPECT_EQ(Regsvr("--store").status, 2);
    EXPECT_EQ(Regsvr("--list x.so").status, 2);
    EXPECT_EQ(Regsvr("--list -u").status, 2);
    r = Regsvr("--help");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.output.find("Usage: vistrel-regsvr"), std::string::npos);
}

TEST_F(Activation, RegisterServerLibraryCodes) {
    EXPECT_EQ(com::RegisterServerLibrary("/nonexistent/lib.so"), CO_E_DLLNOTFOUND);
    EXPECT_EQ(com::RegisterServerLibrary(kUnresolved), CO_E_ERRORINDLL);
    EXPECT_NE(com::LastServerLibraryError().find("undefined symbol"), std::string::npos)
        << com::LastServerLibraryError();
    EXPECT_EQ(com::RegisterServerLibrary(kUnresolved + "/"), CO_E_DLLNOTFOUND);
    // The unresolved library cannot even be loaded; the broken one loads but lacks DllGetClassObject.
    EXPECT_EQ(com::RegisterServerLibrary(kBroken), S_OK);
    EXPECT_EQ(com::LastServerLibraryError(), "");
}

// ---- Discovery ----

TEST_F(Activation, CategoryManagerListsExactlyTheHdaServersInStoreOrder) {
    ASSERT_EQ(RegisterRecordingClass(kRecording, Profile::NoAsync, u"HdaTest.NoAsync.1"), S_OK);
    ASSERT_EQ(RegisterRecordingClass(kRecording, Profile::Full, u"Not.Hda.1", 1, /*hdaCategory=*/false),
              S_OK);
    ASSERT_EQ(RegisterRecordingClass(kRecording, Profile::Full, u"HdaTest.Recording.1"), S_OK);
    ASSERT_EQ(RegisterRecordingClass(kRecording, Profile::NoAsync, u"HdaTest.NoAsync.2"),
              S_OK);  // again: keeps its place

    com::ComPtr<ICatInformation> cat;
    ASSERT_EQ(CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER,
                               IID_ICatInformation, cat.ReleaseAndGetVoidAddress()),
              S_OK);
    CATID hda = CATID_OPCHDAServer10;
    com::ComPtr<IEnumCLSID> e;
    ASSERT_EQ(cat->EnumClassesOfCategories(1, &hda, 0, nullptr, e.ReleaseAndGetAddressOf()), S_OK);
    EXPECT_EQ(Enumerate(e.Get()), (std::vector<CLSID>{CLSID_HdaTestNoAsync, CLSID_HdaTestRecording}));
    EXPECT_EQ(e->Next(1, &hda, nullptr), S_FALSE) << "stays at the end";

    // Clone, Skip and Reset keep their own positions.
    ASSERT_EQ(e->Reset(), S_OK);
    ASSERT_EQ(e->Skip(1), S_OK);
    com::ComPtr<IEnumCLSID> clone;
    ASSERT_EQ(e->Clone(clone.ReleaseAndGetAddressOf()), S_OK);
    EXPECT_EQ(Enumerate(clone.Get()), (std::vector<CLSID>{CLSID_HdaTestRecording}));
    EXPECT_EQ(Enumerate(e.Get()), (std::vector<CLSID>{CLSID_HdaTestRecording}));
    EXPECT_EQ(e->Skip(5), S_FALSE);

    // Any category: every class; an empty list: none.
    ASSERT_EQ(
        cat->EnumClassesOfCategories(ULONG(-1), nullptr, ULONG(-1), nullptr, e.ReleaseAndGetAddressOf()),
        S_OK);
    EXPECT_EQ(Enumerate(e.Get()).size(), 3u);
    ASSERT_EQ(cat->EnumClassesOfCategories(0, nullptr, 0, nullptr, e.ReleaseAndGetAddressOf()), S_OK);
    EXPECT_TRUE(Enumerate(e.Get()).empty());

    EXPECT_EQ(cat->IsClassOfCategories(CLSID_HdaTestRecording, 1, &hda, 0, nullptr), S_OK);
    EXPECT_EQ(cat->IsClassOfCategories(RecordingClsid(Profile::Full, 1), 1, &hda, 0, nullptr), S_FALSE);
    EXPECT_EQ(cat->EnumClassesOfCategories(1, &hda, 0, nullptr, nullptr), E_POINTER);
    EXPECT_EQ(cat->EnumClassesOfCategories(1, nullptr, 0, nullptr, e.ReleaseAndGetAddressOf()), E_INVALIDARG);
    EXPECT_FALSE(e);
}

TEST_F(Activation, EnumeratorRefusesAMissingFetchedCountForSeveralElements) {
    RegisterRecordingProfiles(kRecording);
    com::ComPtr<ICatInformation> cat;
    ASSERT_EQ(CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER,
                               IID_ICatInformation, cat.ReleaseAndGetVoidAddress()),
              S_OK);
    CATID hda = CATID_OPCHDAServer10;
    com::ComPtr<IEnumCLSID> e;
    ASSERT_EQ(cat->EnumClassesOfCategories(1, &hda, 0, nullptr, e.ReleaseAndGetAddressOf()), S_OK);
    CLSID three[3];
    EXPECT_EQ(e->Next(3, three, nullptr), E_INVALIDARG);
    EXPECT_EQ(e->Next(1, nullptr, nullptr), E_POINTER);
    ULONG fetched = 99;
    EXPECT_EQ(e->Next(3, three, &fetched), S_OK);
    EXPECT_EQ(fetched, 3u);
    EXPECT_EQ(e->Next(3, three, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 2u);
    EXPECT_EQ(three[1], CLSID_HdaTestNoServer);
}

TEST_F(Activation, ProgIdLookups) {
    ASSERT_EQ(RegisterRecordingClass(kRecording, Profile::Full, u"HdaTest.Recording.1"), S_OK);
    ASSERT_EQ(RegisterRecordingClass(kRecording, Profile::NoAsync, u""), S_OK);

    LPOLESTR progId = nullptr;
    ASSERT_EQ(ProgIDFromCLSID(CLSID_HdaTestRecording, &progId), S_OK);
    EXPECT_EQ(std::u16string(progId), u"HdaTest.Recording.1");
    CoTaskMemFree(progId);
    progId = reinterpret_cast<LPOLESTR>(1);
    EXPECT_EQ(ProgIDFromCLSID(CLSID_HdaTestNoAsync, &progId), REGDB_E_CLASSNOTREG)
        << "registered without a ProgID";
    EXPECT_EQ(progId, nullptr);
    EXPECT_EQ(ProgIDFromCLSID(CLSID_HdaTestNoSyncRead, &progId), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(ProgIDFromCLSID(CLSID_StdComponentCategoriesMgr, &progId), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(ProgIDFromCLSID(CLSID_HdaTestRecording, nullptr), E_POINTER);

    CLSID c{};
    for (const char16_t* name : {u"HdaTest.Recording.1", u"HdaTest.Recording", u"hdatest.RECORDING.1"}) {
        c = CLSID_NULL;
        EXPECT_EQ(CLSIDFromProgID(name, &c), S_OK) << com::Utf16ToUtf8(name);
        EXPECT_EQ(c, CLSID_HdaTestRecording);
    }
    c = CLSID_HdaTestRecording;
    EXPECT_EQ(CLSIDFromProgID(u"HdaTest.Recording.2", &c), CO_E_CLASSSTRING);
    EXPECT_EQ(c, CLSID_NULL);
    EXPECT_EQ(CLSIDFromProgID(u"", &c), CO_E_CLASSSTRING) << "an empty ProgID matches no class without one";
    EXPECT_EQ(CLSIDFromProgID(std::u16string(100000, u'x').c_str(), &c), CO_E_CLASSSTRING);
    EXPECT_EQ(CLSIDFromProgID(nullptr, &c), E_INVALIDARG);
    EXPECT_EQ(CLSIDFromProgID(u"HdaTest.Recording.1", nullptr), E_POINTER);
}

// A class a layer above installs: its getter answers with a code of its own, so a result shows whether
// the request reached it.
int g_processClassCalls = 0;
HRESULT ProcessClassObject(REFIID, void** ppv) {
    ++g_processClassCalls;
    *ppv = nullptr;
    return CLASS_E_CLASSNOTAVAILABLE;
}

TEST_F(Activation, AnInstalledProcessClassIsServedHereBeforeTheStoreUntilReset) {
    const CLSID clsid = CLSID_HdaTestRecording;
    RegisterRecordingProfiles(kRecording);  // the store has the same CLSID
    g_processClassCalls = 0;
    void* p = nullptr;
    auto classObject = [&] {
        return CoGetClassObject(clsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, &p);
    };
    ASSERT_EQ(classObject(), S_OK);
    static_cast<IUnknown*>(p)->Release();

    com::SetProcessClass(clsid, &ProcessClassObject);
    EXPECT_EQ(classObject(), CLASS_E_CLASSNOTAVAILABLE);
    WCHAR localhost[] = u"localhost";
    COSERVERINFO info{0, localhost, nullptr, 0};
    MULTI_QI qi{&IID_IUnknown, nullptr, S_OK};
    EXPECT_EQ(CoCreateInstanceEx(clsid, nullptr, CLSCTX_REMOTE_SERVER, &info, 1, &qi),
              CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(g_processClassCalls, 2);

    // It outlives the end of COM, is not served while COM is down, and goes with a null getter.
    CoUninitialize();
    EXPECT_EQ(classObject(), CO_E_NOTINITIALIZED);
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    EXPECT_EQ(classObject(), CLASS_E_CLASSNOTAVAILABLE);
    com::SetProcessClass(clsid, nullptr);
    ASSERT_EQ(classObject(), S_OK);
    static_cast<IUnknown*>(p)->Release();

    // The test reset removes every installed class.
    com::SetProcessClass(clsid, &ProcessClassObject);
    com::ResetRuntimeForTests();
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    ASSERT_EQ(classObject(), S_OK);
    static_cast<IUnknown*>(p)->Release();
    EXPECT_EQ(g_processClassCalls, 3);

    // The runtime itself serves no OPC server list: the HDA layer installs it.
    EXPECT_EQ(CoGetClassObject(CLSID_OpcServerList, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, &p),
              REGDB_E_CLASSNOTREG);
}

// ---- Creation ----

TEST_F(Activation, CreatedByProgIdWithTwoInterfacesInOneCall) {
    ASSERT_EQ(com::RegisterServerLibrary(kRecording), S_OK);
    ScopedControl control(CLSID_HdaTestRecording);
    ASSERT_TRUE(control.ok()) << std::hex << control.hr();
    long live = control->PluginLiveObjects();

    CLSID clsid{};
    ASSERT_EQ(CLSIDFromProgID(u"HdaTest.Recording.1", &clsid), S_OK);
    MULTI_QI qi[2] = {{&IID_IUnknown, nullptr, E_FAIL}, {&IID_IOPCHDA_Server, nullptr, E_FAIL}};
    ASSERT_EQ(CoCreateInstanceEx(clsid, nullptr, CLSCTX_SERVER, nullptr, 2, qi), S_OK);
    EXPECT_EQ(qi[0].hr, S_OK);
    EXPECT_EQ(qi[1].hr, S_OK);
    ASSERT_NE(qi[1].pItf, nullptr);
    EXPECT_EQ(control->ServersCreated(), 1);
    EXPECT_EQ(control->OutstandingReferences(), 2) << "one reference per delivered interface, none kept";

    auto* server = static_cast<IOPCHDA_Server*>(static_cast<void*>(qi[1].pItf));
    WCHAR id[] = u"Plant.Status";
    LPWSTR ids[] = {id};
    OPCHANDLE client[] = {77};
    OPCHANDLE* handles = nullptr;
    HRESULT* errors = nullptr;
    ASSERT_EQ(server->GetItemHandles(1, ids, client, &handles, &errors), S_OK);
    EXPECT_EQ(handles[0], 1u);
    CoTaskMemFree(handles);
    CoTaskMemFree(errors);
    auto calls = control->CallsTo("IOPCHDA_Server::GetItemHandles");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].itemIds, std::vector<std::u16string>{u"Plant.Status"});
    EXPECT_EQ(calls[0].clientHandles, std::vector<OPCHANDLE>{77});

    qi[0].pItf->Release();
    qi[1].pItf->Release();
    EXPECT_EQ(control->PluginLiveObjects(), live);
    EXPECT_EQ(control->OutstandingReferences(), 0);
}

TEST_F(Activation, EachRequestedInterfaceHasItsOwnResult) {
    RegisterRecordingProfiles(kRecording);
    MULTI_QI qi[3] = {{&IID_IUnknown, nullptr, E_FAIL},
                      {&IID_IOPCHDA_Server, nullptr, E_FAIL},
                      {&IID_IOPCHDA_AsyncRead, nullptr, E_FAIL}};
    EXPECT_EQ(CoCreateInstanceEx(CLSID_HdaTestNoAsync, nullptr, CLSCTX_INPROC_SERVER, nullptr, 3, qi),
              CO_S_NOTALLINTERFACES);
    EXPECT_EQ(qi[0].hr, S_OK);
    EXPECT_EQ(qi[1].hr, S_OK);
    EXPECT_EQ(qi[2].hr, E_NOINTERFACE);
    EXPECT_EQ(qi[2].pItf, nullptr);
    qi[0].pItf->Release();
    qi[1].pItf->Release();

    MULTI_QI none[2] = {{&IID_IOPCHDA_Server, nullptr, S_OK}, {&IID_IOPCServerList, nullptr, S_OK}};
    EXPECT_EQ(CoCreateInstanceEx(CLSID_HdaTestNoServer, nullptr, CLSCTX_INPROC_SERVER, nullptr, 2, none),
              E_NOINTERFACE);
    EXPECT_EQ(none[0].hr, E_NOINTERFACE);
    EXPECT_EQ(none[1].hr, E_NOINTERFACE);
    EXPECT_EQ(none[0].pItf, nullptr);

    void* p = nullptr;
    EXPECT_EQ(
        CoCreateInstance(CLSID_HdaTestNoSyncRead, nullptr, CLSCTX_INPROC_SERVER, IID_IOPCHDA_SyncRead, &p),
        E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
}

TEST_F(Activation, LibrariesThatCannotServeAClassFailWithTheirCode) {
    const CLSID missing = RecordingClsid(Profile::Full, 10), garbage = RecordingClsid(Profile::Full, 11);
    RegisterRaw(missing, u"HdaTest.Missing.1", "/nonexistent/libgone.so");
    std::string garbagePath = m_dir + "/libgarbage.so";
    WriteText(garbagePath, "this is not a shared library");
    RegisterRaw(garbage, u"HdaTest.Garbage.1", garbagePath);
    ASSERT_EQ(com::RegisterServerLibrary(kBroken), S_OK);
    RegisterRaw(RecordingClsid(Profile::Full, 12), u"HdaTest.Unresolved.1", kUnresolved);

    struct Case {
        const char16_t* progId;
        HRESULT expected;
    } cases[] = {{u"HdaTest.Missing.1", CO_E_DLLNOTFOUND},
                 {u"HdaTest.Garbage.1", CO_E_ERRORINDLL},
                 {u"HdaTest.Broken.1", CO_E_ERRORINDLL},
                 {u"HdaTest.Unresolved.1", CO_E_ERRORINDLL}};
    for (const Case& c : cases) {
        SCOPED_TRACE(com::Utf16ToUtf8(c.progId));
        CLSID clsid{};
        ASSERT_EQ(CLSIDFromProgID(c.progId, &clsid), S_OK);
        MULTI_QI qi[2] = {{&IID_IUnknown, nullptr, S_OK}, {&IID_IOPCHDA_Server, nullptr, S_OK}};
        EXPECT_EQ(CoCreateInstanceEx(clsid, nullptr, CLSCTX_SERVER, nullptr, 2, qi), c.expected);
        EXPECT_EQ(qi[0].hr, c.expected);
        EXPECT_EQ(qi[1].hr, c.expected);
        EXPECT_EQ(qi[0].pItf, nullptr);
        void* p = reinterpret_cast<void*>(1);
        EXPECT_EQ(CoGetClassObject(clsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, &p), c.expected);
        EXPECT_EQ(p, nullptr);
    }
    void* p = nullptr;
    EXPECT_EQ(
        CoCreateInstance(RecordingClsid(Profile::Full, 99), nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &p),
        REGDB_E_CLASSNOTREG);
    // A registered class the library does not serve.
    RegisterRaw(CATID_OPCHDAServer10, u"Wrong.Class.1", kRecording);
    EXPECT_EQ(CoCreateInstance(CATID_OPCHDAServer10, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &p),
              CLASS_E_CLASSNOTAVAILABLE);
}

TEST_F(Activation, BadArgumentsAndStatesGetTheirCodes) {
    RegisterRecordingProfiles(kRecording);
    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(CoCreateInstance(CLSID_HdaTestRecording, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, nullptr),
              E_POINTER);
    EXPECT_EQ(
        CoGetClassObject(CLSID_HdaTestRecording, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, nullptr),
        E_POINTER);
    EXPECT_EQ(CoCreateInstanceEx(CLSID_HdaTestRecording, nullptr, CLSCTX_INPROC_SERVER, nullptr, 1, nullptr),
              E_INVALIDARG);
    MULTI_QI qi[2] = {{&IID_IUnknown, nullptr, S_OK}, {nullptr, nullptr, S_OK}};
    EXPECT_EQ(CoCreateInstanceEx(CLSID_HdaTestRecording, nullptr, CLSCTX_INPROC_SERVER, nullptr, 2, qi),
              E_INVALIDARG);
    EXPECT_EQ(CoCreateInstanceEx(CLSID_HdaTestRecording, nullptr, CLSCTX_INPROC_SERVER, nullptr, 0, qi),
              E_INVALIDARG);
    EXPECT_EQ(qi[0].pItf, nullptr);

    IUnknown* outer = reinterpret_cast<IUnknown*>(&p);  // never called
    EXPECT_EQ(CoCreateInstance(CLSID_HdaTestRecording, outer, CLSCTX_INPROC_SERVER, IID_IUnknown, &p),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(CoCreateInstance(CLSID_HdaTestRecording, nullptr, 0, IID_IUnknown, &p), E_INVALIDARG);
    EXPECT_EQ(CoCreateInstance(CLSID_HdaTestRecording, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown, &p),
              REGDB_E_CLASSNOTREG)
        << "there are no out-of-process servers";

    CoUninitialize();
    MULTI_QI one{&IID_IUnknown, nullptr, S_OK};
    EXPECT_EQ(CoCreateInstanceEx(CLSID_HdaTestRecording, nullptr, CLSCTX_INPROC_SERVER, nullptr, 1, &one),
              CO_E_NOTINITIALIZED);
    EXPECT_EQ(one.hr, CO_E_NOTINITIALIZED);
    EXPECT_EQ(CoGetClassObject(CLSID_StdComponentCategoriesMgr, CLSCTX_INPROC_SERVER, nullptr,
                               IID_IClassFactory, &p),
              CO_E_NOTINITIALIZED);
    // Lookups in the store need no initialisation.
    CLSID c{};
    EXPECT_EQ(CLSIDFromProgID(u"HdaTest.Recording.1", &c), S_OK);
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
}

TEST_F(Activation, ServerFailuresPassThroughCreation) {
    RegisterRecordingProfiles(kRecording);
    ScopedControl control(CLSID_HdaTestRecording);
    ASSERT_TRUE(control.ok());
    control->Hooks().CreateInstance = [] { return E_ACCESSDENIED; };
    MULTI_QI qi[2] = {{&IID_IUnknown, nullptr, S_OK}, {&IID_IOPCHDA_Server, nullptr, S_OK}};
    EXPECT_EQ(CoCreateInstanceEx(CLSID_HdaTestRecording, nullptr, CLSCTX_SERVER, nullptr, 2, qi),
              E_ACCESSDENIED);
    EXPECT_EQ(qi[1].hr, E_ACCESSDENIED);
    EXPECT_EQ(control->ServersCreated(), 0);

    control->Hooks().CreateInstance = nullptr;
    control->Hooks().QueryInterface = [](REFIID riid) -> std::optional<HRESULT> {
        if (riid == IID_IOPCHDA_Server) return E_UNEXPECTED;
        return std::nullopt;
    };
    EXPECT_EQ(CoCreateInstanceEx(CLSID_HdaTestRecording, nullptr, CLSCTX_SERVER, nullptr, 2, qi),
              CO_S_NOTALLINTERFACES);
    EXPECT_EQ(qi[1].hr, E_UNEXPECTED);
    qi[0].pItf->Release();
    EXPECT_EQ(control->LiveObjects(), 0);
}

// ---- Remote requests ----

struct RemoteCall {
    int count = 0;
    CLSID clsid{};
    std::u16string computer;
    DWORD interfaces = 0;
};
RemoteCall g_remote;

HRESULT FakeRemote(REFCLSID clsid, const COSERVERINFO* info, DWORD count, MULTI_QI* results) {
    ++g_remote.count;
    g_remote.clsid = clsid;
    g_remote.computer = info && info->pwszName ? info->pwszName : u"(none)";
    g_remote.interfaces = count;
    for (DWORD i = 0; i < count; ++i) results[i].hr = RPC_S_SERVER_UNAVAILABLE_HR;
    return RPC_S_SERVER_UNAVAILABLE_HR;
}

TEST_F(Activation, RemoteRequestsGoToTheRemoteActivatorOrFailCleanly) {
    RegisterRecordingProfiles(kRecording);
    WCHAR other[] = u"historian7.plant.example";
    COSERVERINFO info{0, other, nullptr, 0};
    MULTI_QI qi[2] = {{&IID_IUnknown, nullptr, S_OK}, {&IID_IOPCHDA_Server, nullptr, S_OK}};

    EXPECT_EQ(CoCreateInstanceEx(CLSID_HdaTestRecording, nullptr, CLSCTX_REMOTE_SERVER, &info, 2, qi),
              CO_E_SERVER_EXEC_FAILURE);
    EXPECT_EQ(qi[0].hr, CO_E_SERVER_EXEC_FAILURE);
    EXPECT_EQ(CoCreateInstanceEx(CLSID_HdaTestRecording, nullptr, CLSCTX_REMOTE_SERVER, nullptr, 2, qi),
              CO_E_SERVER_EXEC_FAILURE);
    EXPECT_FALSE(com::CurrentSecurity().fixed);

    g_remote = RemoteCall{};
    com::SetRemoteActivator(&FakeRemote);
    EXPECT_EQ(CoCreateInstanceEx(CLSID_OpcServerList, nullptr, CLSCTX_ALL, &info, 2, qi),
              RPC_S_SERVER_UNAVAILABLE_HR);
    EXPECT_EQ(g_remote.count, 1);
    EXPECT_EQ(g_remote.clsid, CLSID_OpcServerList);
    EXPECT_EQ(g_remote.computer, other);
    EXPECT_EQ(g_remote.interfaces, 2u);
    // The first remote call fixes the process's security, as DCOM does.
    EXPECT_TRUE(com::CurrentSecurity().fixed);
    EXPECT_EQ(CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_CONNECT,
                                   RPC_C_IMP_LEVEL_IDENTIFY, nullptr, EOAC_NONE, nullptr),
              RPC_E_TOO_LATE);

    // This computer, however named, is served locally, even with the remote context allowed.
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    std::u16string own = com::Utf8ToUtf16(host);
    for (std::u16string name : {std::u16string(u""), std::u16string(u"localhost"),
                                std::u16string(u"\\\\LOCALHOST"), std::u16string(u"127.0.0.1"), own}) {
        SCOPED_TRACE(com::Utf16ToUtf8(name));
        COSERVERINFO local{0, name.data(), nullptr, 0};
        for (DWORD ctx : {DWORD(CLSCTX_SERVER), DWORD(CLSCTX_REMOTE_SERVER)}) {
            ASSERT_EQ(CoCreateInstanceEx(CLSID_HdaTestRecording, nullptr, ctx, &local, 2, qi), S_OK) << ctx;
            qi[0].pItf->Release();
            qi[1].pItf->Release();
        }
    }
    EXPECT_EQ(g_remote.count, 1);
    // Only the remote context and no computer at all: the activator decides.
    EXPECT_EQ(CoCreateInstanceEx(CLSID_HdaTestRecording, nullptr, CLSCTX_REMOTE_SERVER, nullptr, 2, qi),
              RPC_S_SERVER_UNAVAILABLE_HR);
    EXPECT_EQ(g_remote.computer, u"(none)");
    // Another computer without the remote context: served here, as the context asks.
    ASSERT_EQ(CoCreateInstanceEx(CLSID_HdaTestRecording, nullptr, CLSCTX_INPROC_SERVER, &info, 2, qi), S_OK);
    qi[0].pItf->Release();
    qi[1].pItf->Release();
    EXPECT_EQ(g_remote.count, 2);
    // A port always means the remote path, even on this computer.
    WCHAR withPort[] = u"localhost:4840";
    COSERVERINFO ported{0, withPort, nullptr, 0};
    EXPECT_EQ(CoCreateInstanceEx(CLSID_HdaTestRecording, nullptr, CLSCTX_SERVER, &ported, 2, qi),
              RPC_S_SERVER_UNAVAILABLE_HR);
    EXPECT_EQ(g_remote.count, 3);
    // Class objects are served in-process only.
    void* p = nullptr;
    EXPECT_EQ(CoGetClassObject(CLSID_HdaTestRecording, CLSCTX_REMOTE_SERVER, &info, IID_IClassFactory, &p),
              CO_E_SERVER_EXEC_FAILURE);
    com::ResetRuntimeForTests();
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    EXPECT_EQ(CoCreateInstanceEx(CLSID_HdaTestRecording, nullptr, CLSCTX_REMOTE_SERVER, &info, 2, qi),
              CO_E_SERVER_EXEC_FAILURE)
        << "the reset removed the activator";
}

TEST_F(Activation, NothingLeaksAcrossManyFailedAndSuccessfulActivations) {
    RegisterRecordingProfiles(kRecording);
    ScopedControl control(CLSID_HdaTestRecording);
    ASSERT_TRUE(control.ok());
    long live = control->PluginLiveObjects(), refs = control->PluginOutstandingReferences();
    std::u16string longProgId(100000, u'Q');
    for (int i = 0; i < 50; ++i) {
        CLSID c{};
        EXPECT_EQ(CLSIDFromProgID(longProgId.c_str(), &c), CO_E_CLASSSTRING);
        LPOLESTR s = nullptr;
        EXPECT_EQ(ProgIDFromCLSID(CLSID_HdaTestNoSyncUpdate, &s), S_OK);
        CoTaskMemFree(s);
        MULTI_QI qi[3] = {{&IID_IUnknown, nullptr, S_OK},
                          {&IID_IOPCHDA_Server, nullptr, S_OK},
                          {&IID_IOPCHDA_SyncUpdate, nullptr, S_OK}};
        EXPECT_EQ(CoCreateInstanceEx(CLSID_HdaTestNoSyncUpdate, nullptr, CLSCTX_SERVER, nullptr, 3, qi),
                  CO_S_NOTALLINTERFACES);
        for (auto& q : qi)
            if (q.pItf) q.pItf->Release();
    }
    EXPECT_EQ(control->PluginLiveObjects(), live);
    EXPECT_EQ(control->PluginOutstandingReferences(), refs);
}

}  // namespace
