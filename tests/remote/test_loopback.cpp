// A host on loopback with TLS, reached through the runtime's activator as another computer: the same
// operations give the same answers as in-process; untrusted clients and changed host keys are refused.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>

#include "com/text.h"
#include "hda/hdaserver.h"
#include "hda/opchda.h"
#include "tests/hda/fake_owner.h"
#include "tests/remote/remote_fixture.h"
#include "tests/serverpane/message_recorder.h"

namespace {

using namespace hdatest;
using vistrel_test::MakeTempDir;

class Loopback : public remotetest::RemoteTest {
protected:
    void SetUp() override {
        RemoteTest::SetUp();
        m_hostDir = MakeTempDir("host");
        m_clientDir = MakeTempDir("client");
        std::string error;
        ASSERT_TRUE(vistrel::remote::EnsureIdentity(m_clientDir, "client", &m_client, &error)) << error;
        ASSERT_TRUE(vistrel::remote::Trust(m_hostDir, m_client.certPath, &error)) << error;
        StartHost(0);
        vistrel::remote::ClientOptions client;
        client.configDir = m_clientDir;
        client.timeoutMs = 20000;
        vistrel::remote::InstallRemoteActivator(client);
    }
    void TearDown() override {
        RemoteTest::TearDown();
        std::error_code ec;
        std::filesystem::remove_all(m_hostDir, ec);
        std::filesystem::remove_all(m_clientDir, ec);
    }
    void StartHost(std::uint16_t port) {
        vistrel::remote::HostOptions options;
        options.listen = "127.0.0.1";
        options.port = port;
        options.configDir = m_hostDir;
        m_host = std::make_unique<vistrel::remote::Host>(options, [this](const std::string& s) {
            std::lock_guard lock(m_logMutex);
            m_log += s + "\n";
        });
        std::string error;
        ASSERT_TRUE(m_host->Start(&error)) << error;
        m_port = m_host->Port();
    }
    std::u16string Computer() const { return com::Utf8ToUtf16("127.0.0.1:" + std::to_string(m_port)); }
    HRESULT CreateRemote(REFCLSID clsid, IUnknown** out) {
        std::u16string name = Computer();
        COSERVERINFO info{0, name.data(), nullptr, 0};
        MULTI_QI qi{&IID_IOPCHDA_Server, nullptr, S_OK};
        HRESULT hr = CoCreateInstanceEx(clsid, nullptr, CLSCTX_REMOTE_SERVER, &info, 1, &qi);
        *out = qi.pItf;
        return FAILED(hr) ? hr : qi.hr;
    }
    std::string Log() {
        std::lock_guard lock(m_logMutex);
        return m_log;
    }

    std::string m_hostDir, m_clientDir;
    vistrel::remote::Identity m_client;
    std::uint16_t m_port = 0;
    std::mutex m_logMutex;
    std::string m_log;
};

// Every operation the client makes, written down with its answers (the server's clock left out).
std::string Transcript(CHDAServer& server) {
    std::ostringstream out;
    auto put = [&](const char* what, HRESULT hr) {
        out << what << " 0x" << std::hex << hr << std::dec << "\n";
    };
    auto values = [&](OPCHDA_ITEM* items, DWORD n) {
        for (DWORD k = 0; items && k < n; ++k) {
            out << " item " << items[k].hClient << " agg " << items[k].haAggregate << " n "
                << items[k].dwCount << ":";
            for (DWORD i = 0; i < items[k].dwCount; ++i) {
                VARIANT text{};
                VariantChangeType(&text, &items[k].pvDataValues[i], 0, VT_BSTR);
                out << " " << FileTimeToU64(items[k].pftTimeStamps[i]) << "/" << std::hex
                    << items[k].pdwQualities[i] << std::dec << "/" << items[k].pvDataValues[i].vt << "="
                    << (text.vt == VT_BSTR ? com::Utf16ToUtf8(text.bstrVal) : "?");
                VariantClear(&text);
                VariantClear(&items[k].pvDataValues[i]);
            }
            out << "\n";
            CoTaskMemFree(items[k].pftTimeStamps);
            CoTaskMemFree(items[k].pdwQualities);
            CoTaskMemFree(items[k].pvDataValues);
        }
        CoTaskMemFree(items);
    };
    IOPCHDA_Server* s = server.m_pServer;
    // Status.
    OPCHDA_SERVERSTATUS status{};
    FILETIME *now = nullptr, *start = nullptr;
    WORD major = 0, minor = 0, build = 0;
    DWORD maxValues = 0;
    LPWSTR text = nullptr, vendor = nullptr;
    put("status",
        s->GetHistorianStatus(&status, &now, &start, &major, &minor, &build, &maxValues, &text, &vendor));
    out << status << " " << major << "." << minor << "." << build << " " << maxValues << " "
        << com::Utf16ToUtf8(text ? text : u"") << " | " << com::Utf16ToUtf8(vendor ? vendor : u"") << "\n";
    CoTaskMemFree(now);
    CoTaskMemFree(start);
    CoTaskMemFree(text);
    CoTaskMemFree(vendor);
    // Browse.
    IOPCHDA_Browser* browser = nullptr;
    HRESULT* errors = nullptr;
    put("browse", s->CreateBrowse(0, nullptr, nullptr, nullptr, &browser, &errors));
    CoTaskMemFree(errors);
    if (browser) {
        put("down", browser->ChangeBrowsePosition(OPCHDA_BROWSE_DOWN, u"Generated"));
        IEnumString* e = nullptr;
        put("enum", browser->GetEnum(OPCHDA_LEAF, &e));
        LPOLESTR name;
        ULONG got;
        while (e && e->Next(1, &name, &got) == S_OK) {
            out << " " << com::Utf16ToUtf8(name);
            CoTaskMemFree(name);
        }
        out << "\n";
        if (e) e->Release();
        LPWSTR pos = nullptr;
        put("position", browser->GetBranchPosition(&pos));
        out << com::Utf16ToUtf8(pos ? pos : u"") << "\n";
        CoTaskMemFree(pos);
        browser->Release();
    }
    // Items.
    LPWSTR ids[3] = {const_cast<LPWSTR>(u"Generated.Waves.Sine"), const_cast<LPWSTR>(u"Writable.Real8"),
                     const_cast<LPWSTR>(u"No.Such.Item")};
    OPCHANDLE clients[3] = {11, 12, 13};
    OPCHANDLE* handles = nullptr;
    put("handles", s->GetItemHandles(3, ids, clients, &handles, &errors));
    for (int i = 0; i < 3; ++i) out << " " << handles[i] << "/" << std::hex << errors[i] << std::dec;
    out << "\n";
    CoTaskMemFree(errors);
    // Reads.
    const ULONGLONG t0 = 133485588000000000ULL;
    OPCHDA_TIME from{FALSE, nullptr, U64ToFileTime(t0)}, to{FALSE, nullptr, U64ToFileTime(t0 + 600000000ULL)};
    OPCHDA_ITEM* items = nullptr;
    put("raw", server.m_pSyncRead->ReadRaw(&from, &to, 0, TRUE, 1, handles, &items, &errors));
    values(items, 1);
    CoTaskMemFree(errors);
    DWORD aggregates[1] = {OPCHDA_AVERAGE};
    put("processed", server.m_pSyncRead->ReadProcessed(&from, &to, U64ToFileTime(100000000ULL), 1, handles,
                                                       aggregates, &items, &errors));
    values(items, 1);
    CoTaskMemFree(errors);
    FILETIME at[2] = {U64ToFileTime(t0 + 12345), U64ToFileTime(t0 + 99999999)};
    put("attime", server.m_pSyncRead->ReadAtTime(2, at, 1, handles, &items, &errors));
    values(items, 1);
    CoTaskMemFree(errors);
    OPCHDA_TIME rel{TRUE, const_cast<LPWSTR>(u"NOW"), {}};
    DWORD attrs[2] = {OPCHDA_DATA_TYPE, OPCHDA_DESCRIPTION};
    OPCHDA_ATTRIBUTE* attributes = nullptr;
    put("attributes",
        server.m_pSyncRead->ReadAttribute(&rel, &rel, handles[0], 2, attrs, &attributes, &errors));
    for (int a = 0; attributes && a < 2; ++a) {
        VARIANT t{};
        if (attributes[a].dwNumValues) VariantChangeType(&t, &attributes[a].vAttributeValues[0], 0, VT_BSTR);
        out << " " << attributes[a].dwAttributeID << "="
            << (t.vt == VT_BSTR ? com::Utf16ToUtf8(t.bstrVal) : "");
        VariantClear(&t);
        for (DWORD i = 0; i < attributes[a].dwNumValues; ++i)
            VariantClear(&attributes[a].vAttributeValues[i]);
        CoTaskMemFree(attributes[a].ftTimeStamps);
        CoTaskMemFree(attributes[a].vAttributeValues);
    }
    out << "\n";
    CoTaskMemFree(attributes);
    CoTaskMemFree(errors);
    // Updates.
    OPCHDA_UPDATECAPABILITIES caps{};
    put("caps", server.m_pSyncUpdate->QueryCapabilities(&caps));
    out << caps << "\n";
    FILETIME times[2] = {U64ToFileTime(t0), U64ToFileTime(t0 + 10000000ULL)};
    VARIANT v[2] = {};
    v[0].vt = VT_R8;
    v[0].dblVal = 1.5;
    v[1].vt = VT_BSTR;
    v[1].bstrVal = SysAllocString(u"2.25");
    DWORD q[2] = {OPC_QUALITY_GOOD, OPC_QUALITY_UNCERTAIN};
    OPCHANDLE w[2] = {handles[1], handles[1]};
    put("insert", server.m_pSyncUpdate->Insert(2, w, times, v, q, &errors));
    out << " " << std::hex << errors[0] << " " << errors[1] << std::dec << "\n";
    CoTaskMemFree(errors);
    put("replace", server.m_pSyncUpdate->Replace(1, w, times, v, q, &errors));
    CoTaskMemFree(errors);
    put("raw writable", server.m_pSyncRead->ReadRaw(&from, &to, 0, FALSE, 1, w, &items, &errors));
    values(items, 1);
    CoTaskMemFree(errors);
    put("delete at time", server.m_pSyncUpdate->DeleteAtTime(1, w, times, &errors));
    CoTaskMemFree(errors);
    put("delete raw", server.m_pSyncUpdate->DeleteRaw(&from, &to, 1, w, &errors));
    CoTaskMemFree(errors);
    VariantClear(&v[1]);
    put("release", s->ReleaseItemHandles(3, handles, &errors));
    CoTaskMemFree(errors);
    CoTaskMemFree(handles);
    return out.str();
}

TEST_F(Loopback, EveryOperationAnswersAsInProcess) {
    ASSERT_EQ(com::RegisterServerLibrary(SIM_PLUGIN_PATH), S_OK);
    vistrel_test::ScopedEnv db("VISTREL_SIM_DB", std::string(":memory:"));
    FakeOwner owner;
    MessageRecorder messages;
    std::string local, remote;
    {
        CHDAServer server(&owner);
        ASSERT_TRUE(server.Connect(u"", u"Brindlex.OPC.Simulation.1"));
        local = Transcript(server);
        server.RemoveAllItems();
        server.m_pServer->Release();
        server.m_pServer = nullptr;
    }
    {
        CHDAServer server(&owner);
        ASSERT_TRUE(server.Connect(Computer(), u"Brindlex.OPC.Simulation.1"));
        EXPECT_TRUE(messages.seen.empty());
        remote = Transcript(server);
        server.RemoveAllItems();
        server.m_pServer->Release();
        server.m_pServer = nullptr;
    }
    EXPECT_EQ(remote, local);
    EXPECT_NE(local.find("raw writable 0x0"), std::string::npos) << local;
    EXPECT_NE(Log().find("activation of "), std::string::npos);
    EXPECT_NE(Log().find(m_client.fingerprint), std::string::npos) << "the log names the client";
}

TEST_F(Loopback, TheServerListCreatedOnTheComputerAnswersFromItsStore) {
    ScopedControl control(CLSID_HdaTestRecording);
    std::u16string name = Computer();
    COSERVERINFO info{0, name.data(), nullptr, 0};
    MULTI_QI qi{&IID_IOPCServerList, nullptr, S_OK};
    ASSERT_EQ(CoCreateInstanceEx(CLSID_OpcServerList, nullptr, CLSCTX_ALL, &info, 1, &qi), S_OK);
    auto* list = static_cast<IOPCServerList*>(static_cast<void*>(qi.pItf));
    CLSID clsid{};
    EXPECT_EQ(list->CLSIDFromProgID(u"HdaTest.NoSyncRead.1", &clsid), S_OK);
    EXPECT_EQ(clsid, CLSID_HdaTestNoSyncRead);
    list->Release();
}

TEST_F(Loopback, AnUntrustedClientIsRefusedBeforeTheServerSeesAnything) {
    ScopedControl control(CLSID_HdaTestRecording);
    std::string error;
    ASSERT_TRUE(vistrel::remote::Untrust(m_hostDir, m_client.fingerprint, &error)) << error;
    IUnknown* p = nullptr;
    EXPECT_EQ(CreateRemote(CLSID_HdaTestRecording, &p), E_ACCESSDENIED);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(control->ServersCreated(), 0);
    EXPECT_NE(vistrel::remote::LastRemoteError().find("vistrel-host trust " + m_client.fingerprint),
              std::string::npos)
        << vistrel::remote::LastRemoteError();
    EXPECT_NE(Log().find("refused"), std::string::npos);

    // Trusted again: served from the next connection on.
    ASSERT_TRUE(vistrel::remote::Trust(m_hostDir, m_client.fingerprint, &error)) << error;
    EXPECT_EQ(CreateRemote(CLSID_HdaTestRecording, &p), S_OK);
    p->Release();
}

TEST_F(Loopback, AClientTrustedForSomeClassesActivatesOnlyThose) {
    std::string error;
    ASSERT_TRUE(vistrel::remote::Trust(m_hostDir, m_client.fingerprint, &error, {"hdatest.noasync"}))
        << error;
    auto list = vistrel::remote::ListTrusted(m_hostDir);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].only, std::vector<std::string>{"hdatest.noasync"});
    EXPECT_EQ(list[0].name, m_client.commonName);
    ScopedControl control(CLSID_HdaTestRecording);
    IUnknown* p = nullptr;
    EXPECT_EQ(CreateRemote(CLSID_HdaTestRecording, &p), E_ACCESSDENIED);
    EXPECT_EQ(control->ServersCreated(), 0);
    EXPECT_NE(Log().find("refused activation"), std::string::npos);
    ASSERT_EQ(CreateRemote(CLSID_HdaTestNoAsync, &p), S_OK);  // by its version-independent ProgID
    p->Release();
}

TEST_F(Loopback, AChangedHostKeyIsRefusedWithBothFingerprintsAndTheFileToEdit) {
    IUnknown* p = nullptr;
    ASSERT_EQ(CreateRemote(CLSID_HdaTestRecording, &p), S_OK);  // first contact pins the host
    p->Release();
    vistrel::remote::ShutdownClient();
    std::string oldFingerprint, error;
    ASSERT_TRUE(vistrel::remote::CertificateFingerprint(m_hostDir + "/host.crt", &oldFingerprint, &error));
    const std::uint16_t port = m_port;
    m_host.reset();
    std::filesystem::remove(m_hostDir + "/host.key");
    std::filesystem::remove(m_hostDir + "/host.crt");
    StartHost(port);
    std::string newFingerprint;
    ASSERT_TRUE(vistrel::remote::CertificateFingerprint(m_hostDir + "/host.crt", &newFingerprint, &error));
    ASSERT_NE(newFingerprint, oldFingerprint);
    EXPECT_EQ(CreateRemote(CLSID_HdaTestRecording, &p), E_ACCESSDENIED);
    const std::string why = vistrel::remote::LastRemoteError();
    EXPECT_NE(why.find(oldFingerprint), std::string::npos) << why;
    EXPECT_NE(why.find(newFingerprint), std::string::npos) << why;
    EXPECT_NE(why.find(m_clientDir + "/known-hosts"), std::string::npos) << why;
}

TEST_F(Loopback, APlaintextConnectionIsRefusedAndAnUnreachableHostGivesServerUnavailable) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(m_port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    const char hello[] = "GET / HTTP/1.0\r\n\r\n";
    ASSERT_GT(write(fd, hello, sizeof hello - 1), 0);
    char buf[64];
    EXPECT_LE(read(fd, buf, sizeof buf), 7);  // at most an alert, then the end
    close(fd);
    EXPECT_TRUE(Eventually([&] { return Log().find("refused connection") != std::string::npos; })) << Log();

    const std::uint16_t port = m_port;
    m_host.reset();
    m_port = port;
    IUnknown* p = nullptr;
    EXPECT_EQ(CreateRemote(CLSID_HdaTestRecording, &p), RPC_S_SERVER_UNAVAILABLE_HR);
}

TEST(ComputerNames, AreParsedAsDnsIpv4Ipv6OrUncWithAnOptionalPort) {
    struct Case {
        std::u16string name;
        bool ok;
        std::string host;
        std::uint16_t port;
    } cases[] = {
        {u"historian", true, "historian", vistrel::remote::kDefaultPort},
        {u"plant-07.example.com:5000", true, "plant-07.example.com", 5000},
        {u"\\\\HISTORIAN", true, "HISTORIAN", vistrel::remote::kDefaultPort},
        {u"192.168.001.010", true, "192.168.1.10", vistrel::remote::kDefaultPort},
        {u"010.000.000.001:080", true, "10.0.0.1", 80},
        {u"[::1]:4748", true, "::1", 4748},
        {u"[fe80::1]", true, "fe80::1", vistrel::remote::kDefaultPort},
        {u"fe80::1", true, "fe80::1", vistrel::remote::kDefaultPort},
        {u"192.168.1.256", false, "", 0},
        {u"1.2.3", false, "", 0},
        {u"host:0", false, "", 0},
        {u"host:65536", false, "", 0},
        {u"host:", false, "", 0},
        {u"bad name", false, "", 0},
        {u"a..b", false, "", 0},
        {u"", false, "", 0},
        {u"\\\\", false, "", 0},
        {u"[::1", false, "", 0},
        {std::u16string(79, u'a'), false, "", 0},  // a DNS label is at most 63 characters
        {std::u16string(80, u'a'), false, "", 0},
    };
    for (const Case& c : cases) {
        vistrel::remote::ComputerAddress a;
        SCOPED_TRACE(com::Utf16ToUtf8(c.name));
        ASSERT_EQ(vistrel::remote::ParseComputerName(c.name, &a), c.ok);
        if (!c.ok) continue;
        EXPECT_EQ(a.host, c.host);
        EXPECT_EQ(a.port, c.port);
    }
    std::u16string longest = std::u16string(39, u'a') + u"." + std::u16string(39, u'b');  // 79 characters
    vistrel::remote::ComputerAddress a;
    EXPECT_TRUE(vistrel::remote::ParseComputerName(longest, &a));
    EXPECT_FALSE(vistrel::remote::ParseComputerName(longest + u"c", &a));
}

}  // namespace
