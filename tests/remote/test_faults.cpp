// Faults: a call that outlives its timeout, and vistrel-host killed during a large read (the client
// gets RPC_E_DISCONNECTED for that call and every later one on the object, and connects again once
// the host is back).
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>
#include <thread>

#include "com/text.h"
#include "hda/opchda.h"
#include "tests/remote/remote_fixture.h"

extern char** environ;

namespace {

using namespace hdatest;
using vistrel_test::MakeTempDir;

class Faults : public remotetest::RemoteTest {};

TEST_F(Faults, ACallThatOutlivesTheTimeoutFailsWithRpcETimeoutAndTheObjectStaysUsable) {
    ScopedControl control(CLSID_HdaTestRecording);
    ASSERT_TRUE(control.ok());
    vistrel::remote::ClientOptions options;
    options.timeoutMs = 200;
    vistrel::remote::InstallRemoteActivator(options);
    std::atomic<int> calls{0};
    control->Hooks().GetHistorianStatus = [&](OPCHDA_SERVERSTATUS* s, FILETIME**, FILETIME**, WORD*, WORD*,
                                              WORD*, DWORD*, LPWSTR*, LPWSTR*) {
        if (calls++ == 0) std::this_thread::sleep_for(std::chrono::milliseconds(600));
        *s = OPCHDA_UP;
        return S_OK;
    };
    IOPCHDA_Server* server = nullptr;
    ASSERT_EQ(Create(CLSID_HdaTestRecording, &server), S_OK);
    OPCHDA_SERVERSTATUS status{};
    FILETIME *now = nullptr, *start = nullptr;
    WORD a, b, c;
    DWORD m;
    LPWSTR text = nullptr, vendor = nullptr;
    EXPECT_EQ(server->GetHistorianStatus(&status, &now, &start, &a, &b, &c, &m, &text, &vendor),
              RPC_E_TIMEOUT);
    EXPECT_EQ(now, nullptr);
    EXPECT_EQ(text, nullptr);
    // The late answer is dropped; once the server is done, the next call is answered.
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    EXPECT_EQ(server->GetHistorianStatus(&status, &now, &start, &a, &b, &c, &m, &text, &vendor), S_OK);
    EXPECT_EQ(status, OPCHDA_UP);
    server->Release();
}

// Servers of this computer in a surrogate process: asked for as a local server, or every server
// when the client isolates them.
class Isolation : public remotetest::RemoteTest {
protected:
    void Install(bool isolate) {
        vistrel::remote::ClientOptions options;
        options.surrogate = VISTREL_HOST_PATH;
        options.isolate = isolate;
        vistrel::remote::InstallRemoteActivator(options);
    }
    static HRESULT Status(IOPCHDA_Server* server, std::u16string* text = nullptr) {
        OPCHDA_SERVERSTATUS status{};
        FILETIME *now = nullptr, *start = nullptr;
        WORD a, b, c;
        DWORD m;
        LPWSTR s = nullptr, vendor = nullptr;
        HRESULT hr = server->GetHistorianStatus(&status, &now, &start, &a, &b, &c, &m, &s, &vendor);
        if (text && s) *text = s;
        CoTaskMemFree(now);
        CoTaskMemFree(start);
        CoTaskMemFree(s);
        CoTaskMemFree(vendor);
        return hr;
    }
};

TEST_F(Isolation, ALocalServerRunsInASurrogateProcess) {
    Install(false);
    ScopedControl control(CLSID_HdaTestRecording);
    IOPCHDA_Server* server = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_HdaTestRecording, nullptr, CLSCTX_LOCAL_SERVER, IID_IOPCHDA_Server,
                               reinterpret_cast<void**>(&server)),
              S_OK);
    std::u16string text;
    EXPECT_EQ(Status(server, &text), S_OK);
    EXPECT_EQ(text, u"Running");
    EXPECT_EQ(control->ServersCreated(), 0);  // not in this process
    server->Release();
    // In-process requests stay in-process unless isolated.
    ASSERT_EQ(CoCreateInstance(CLSID_HdaTestRecording, nullptr, CLSCTX_SERVER, IID_IOPCHDA_Server,
                               reinterpret_cast<void**>(&server)),
              S_OK);
    EXPECT_EQ(control->ServersCreated(), 1);
    server->Release();
}

TEST_F(Isolation, AnIsolatedServerThatCrashesCostsOnlyItsObjects) {
    Install(true);
    vistrel_test::ScopedEnv crash("HDATEST_ABORT_READRAW", std::string("HdaTest.NoAsync.1"));
    MULTI_QI qi[2] = {{&IID_IOPCHDA_Server, nullptr, S_OK}, {&IID_IOPCHDA_SyncRead, nullptr, S_OK}};
    ASSERT_EQ(CoCreateInstanceEx(CLSID_HdaTestNoAsync, nullptr, CLSCTX_SERVER, nullptr, 2, qi), S_OK);
    auto* server = static_cast<IOPCHDA_Server*>(static_cast<void*>(qi[0].pItf));
    auto* read = static_cast<IOPCHDA_SyncRead*>(static_cast<void*>(qi[1].pItf));
    LPWSTR id[] = {const_cast<LPWSTR>(u"Plant.Status")};
    OPCHANDLE client = 1, *handles = nullptr;
    HRESULT* errors = nullptr;
    ASSERT_EQ(server->GetItemHandles(1, id, &client, &handles, &errors), S_OK);
    OPCHDA_TIME s{TRUE, const_cast<LPWSTR>(u"NOW"), {}}, e = s;
    OPCHDA_ITEM* items = nullptr;
    HRESULT* readErrors = nullptr;
    EXPECT_EQ(read->ReadRaw(&s, &e, 0, FALSE, 1, handles, &items, &readErrors), RPC_E_DISCONNECTED);
    EXPECT_EQ(items, nullptr);
    EXPECT_EQ(Status(server), RPC_E_DISCONNECTED);
    CoTaskMemFree(handles);
    CoTaskMemFree(errors);
    server->Release();
    read->Release();
    // This process goes on, and so does another isolated server.
    IOPCHDA_Server* other = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_HdaTestRecording, nullptr, CLSCTX_SERVER, IID_IOPCHDA_Server,
                               reinterpret_cast<void**>(&other)),
              S_OK);
    EXPECT_EQ(Status(other), S_OK);
    other->Release();
}

// vistrel-host in a child process, on a port of loopback.
class HostProcess : public remotetest::RemoteTest {
protected:
    void SetUp() override {
        RemoteTest::SetUp();
        ASSERT_EQ(com::RegisterServerLibrary(SIM_PLUGIN_PATH), S_OK);
        m_hostDir = MakeTempDir("host");
        m_clientDir = MakeTempDir("client");
        vistrel::remote::Identity me;
        std::string error;
        ASSERT_TRUE(vistrel::remote::EnsureIdentity(m_clientDir, "client", &me, &error)) << error;
        ASSERT_TRUE(vistrel::remote::Trust(m_hostDir, me.certPath, &error)) << error;
        m_port = FreePort();
        vistrel::remote::ClientOptions options;
        options.configDir = m_clientDir;
        options.timeoutMs = 30000;
        vistrel::remote::InstallRemoteActivator(options);
    }
    void TearDown() override {
        Kill();
        RemoteTest::TearDown();
        std::error_code ec;
        std::filesystem::remove_all(m_hostDir, ec);
        std::filesystem::remove_all(m_clientDir, ec);
    }
    static std::uint16_t FreePort() {
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t len = sizeof a;
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        close(fd);
        return ntohs(a.sin_port);
    }
    bool Accepting() const {
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(m_port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bool ok = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        close(fd);
        return ok;
    }
    void Spawn(const std::string& listen = "127.0.0.1", std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {
            VISTREL_HOST_PATH,      "serve",   "--listen", listen,     "--port",
            std::to_string(m_port), "--store", m_dir,      "--config", m_hostDir};
        args.insert(args.end(), extra.begin(), extra.end());
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        vistrel_test::ScopedEnv max("VISTREL_SIM_MAX_VALUES", std::string("1000000"));
        vistrel_test::ScopedEnv db("VISTREL_SIM_DB", std::string(":memory:"));
        vistrel_test::ScopedEnv crash("HDATEST_ABORT_READRAW", std::string("HdaTest.NoAsync.1"));
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 2, (m_hostDir + "/host.log").c_str(),
                                         O_WRONLY | O_CREAT | O_APPEND, 0600);
        ASSERT_EQ(posix_spawn(&m_pid, VISTREL_HOST_PATH, &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        ASSERT_TRUE(Eventually([&] { return Accepting(); })) << "vistrel-host did not start listening";
    }
    void Kill() {
        if (m_pid <= 0) return;
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }
    HRESULT Connect(IOPCHDA_Server** server, IOPCHDA_SyncRead** read, OPCHANDLE* h,
                    const char16_t* progId = u"Brindlex.OPC.Simulation.1",
                    const char16_t* item = u"Generated.Waves.FastSine") {
        std::u16string name = com::Utf8ToUtf16("127.0.0.1:" + std::to_string(m_port));
        COSERVERINFO info{0, name.data(), nullptr, 0};
        CLSID clsid{};
        CLSIDFromProgID(progId, &clsid);
        MULTI_QI qi[2] = {{&IID_IOPCHDA_Server, nullptr, S_OK}, {&IID_IOPCHDA_SyncRead, nullptr, S_OK}};
        HRESULT hr = CoCreateInstanceEx(clsid, nullptr, CLSCTX_REMOTE_SERVER, &info, 2, qi);
        if (FAILED(hr)) return hr;
        *server = static_cast<IOPCHDA_Server*>(static_cast<void*>(qi[0].pItf));
        *read = static_cast<IOPCHDA_SyncRead*>(static_cast<void*>(qi[1].pItf));
        LPWSTR id[] = {const_cast<LPWSTR>(item)};
        OPCHANDLE client = 1, *handles = nullptr;
        HRESULT* errors = nullptr;
        hr = (*server)->GetItemHandles(1, id, &client, &handles, &errors);
        if (SUCCEEDED(hr)) *h = handles[0];
        CoTaskMemFree(handles);
        CoTaskMemFree(errors);
        return hr;
    }
    static HRESULT ReadMillion(IOPCHDA_SyncRead* read, OPCHANDLE h) {
        const ULONGLONG t0 = 133485588000000000ULL;
        OPCHDA_TIME from{FALSE, nullptr, U64ToFileTime(t0)},
            to{FALSE, nullptr, U64ToFileTime(t0 + 100000ULL * 1000000)};
        OPCHDA_ITEM* items = nullptr;
        HRESULT* errors = nullptr;
        HRESULT hr = read->ReadRaw(&from, &to, 1000000, FALSE, 1, &h, &items, &errors);
        if (items) {
            for (DWORD i = 0; i < items[0].dwCount; ++i) VariantClear(&items[0].pvDataValues[i]);
            CoTaskMemFree(items[0].pftTimeStamps);
            CoTaskMemFree(items[0].pdwQualities);
            CoTaskMemFree(items[0].pvDataValues);
        }
        CoTaskMemFree(items);
        CoTaskMemFree(errors);
        return hr;
    }
    static HRESULT Status(IOPCHDA_Server* server) {
        OPCHDA_SERVERSTATUS status{};
        FILETIME *now = nullptr, *start = nullptr;
        WORD a, b, c;
        DWORD m;
        LPWSTR text = nullptr, vendor = nullptr;
        HRESULT hr = server->GetHistorianStatus(&status, &now, &start, &a, &b, &c, &m, &text, &vendor);
        CoTaskMemFree(now);
        CoTaskMemFree(start);
        CoTaskMemFree(text);
        CoTaskMemFree(vendor);
        return hr;
    }

    std::string m_hostDir, m_clientDir;
    std::uint16_t m_port = 0;
    pid_t m_pid = -1;
};

TEST_F(HostProcess, KilledDuringAMillionValueReadGivesRpcEDisconnectedAndTheClientConnectsAgain) {
    HRESULT inFlight = S_OK;
    IOPCHDA_Server* server = nullptr;
    IOPCHDA_SyncRead* read = nullptr;
    // The kill must land while the read is in flight; a read that finished first is tried again.
    for (int attempt = 0; attempt < 5 && inFlight != RPC_E_DISCONNECTED; ++attempt) {
        if (server) server->Release(), read->Release();
        Spawn();
        OPCHANDLE h = 0;
        ASSERT_EQ(Connect(&server, &read, &h), S_OK);
        ASSERT_EQ(ReadMillion(read, h), S_OK);  // the whole read works first
        std::thread reader([&] { inFlight = ReadMillion(read, h); });
        std::this_thread::sleep_for(std::chrono::milliseconds(20 + 10 * attempt));
        Kill();
        reader.join();
    }
    ASSERT_EQ(inFlight, RPC_E_DISCONNECTED);
    EXPECT_EQ(Status(server), RPC_E_DISCONNECTED);  // every later call on the object too
    server->Release();
    read->Release();

    Spawn();  // the host is back: a new connection is made
    OPCHANDLE h = 0;
    ASSERT_EQ(Connect(&server, &read, &h), S_OK);
    EXPECT_EQ(Status(server), S_OK);
    server->Release();
    read->Release();
}

TEST_F(HostProcess, AServerThatCrashesCostsOnlyItsOwnObjects) {
    Spawn();
    IOPCHDA_Server *crashing = nullptr, *healthy = nullptr;
    IOPCHDA_SyncRead *crashingRead = nullptr, *healthyRead = nullptr;
    OPCHANDLE hc = 0, hh = 0;
    ASSERT_EQ(Connect(&crashing, &crashingRead, &hc, u"HdaTest.NoAsync.1", u"Plant.Status"), S_OK);
    ASSERT_EQ(Connect(&healthy, &healthyRead, &hh, u"HdaTest.Recording.1", u"Plant.Status"), S_OK);
    EXPECT_EQ(ReadMillion(crashingRead, hc), RPC_E_DISCONNECTED);  // its surrogate aborted
    EXPECT_EQ(Status(crashing), RPC_E_DISCONNECTED);
    EXPECT_EQ(ReadMillion(healthyRead, hh), S_OK)  // another server of the same host goes on
        << vistrel_test::ReadText(m_hostDir + "/host.log");
    EXPECT_EQ(Status(healthy), S_OK);
    crashing->Release();
    crashingRead->Release();
    // The same class again: a new surrogate.
    ASSERT_EQ(Connect(&crashing, &crashingRead, &hc, u"HdaTest.NoAsync.1", u"Plant.Status"), S_OK);
    EXPECT_EQ(Status(crashing), S_OK);
    crashing->Release();
    crashingRead->Release();
    healthy->Release();
    healthyRead->Release();
    EXPECT_NE(vistrel_test::ReadText(m_hostDir + "/host.log").find("in surrogate"), std::string::npos);
}

// DNS-SD: a host reachable from other computers advertises itself when an Avahi daemon answers and
// says in one line why not otherwise (no library, no daemon); it serves either way. A host on loopback
// only, or told not to, never tries.
TEST_F(HostProcess, AdvertisesBeyondLoopbackOnlyAndServesWithoutAvahi) {
    struct Case {
        std::string listen;
        std::vector<std::string> extra;
        std::size_t lines;
    } cases[] = {{"0.0.0.0", {}, 1}, {"0.0.0.0", {"--no-advertise"}, 0}, {"127.0.0.1", {}, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.listen + (c.extra.empty() ? "" : " " + c.extra[0]));
        std::filesystem::remove(m_hostDir + "/host.log");
        Spawn(c.listen, c.extra);
        IOPCHDA_Server* server = nullptr;
        IOPCHDA_SyncRead* read = nullptr;
        OPCHANDLE h = 0;
        ASSERT_EQ(Connect(&server, &read, &h, u"HdaTest.Recording.1", u"Plant.Status"), S_OK);
        EXPECT_EQ(Status(server), S_OK);
        server->Release();
        read->Release();
        auto dnsSdLines = [&] {
            std::size_t n = 0;
            std::istringstream log(vistrel_test::ReadText(m_hostDir + "/host.log"));
            for (std::string line; std::getline(log, line);)
                if (line.find("DNS-SD: ") != std::string::npos) ++n;
            return n;
        };
        // An advertisement the daemon confirms is logged once it is established.
        if (c.lines) Eventually([&] { return dnsSdLines() == c.lines; });
        EXPECT_EQ(dnsSdLines(), c.lines) << vistrel_test::ReadText(m_hostDir + "/host.log");
        Kill();
    }
}

}  // namespace
