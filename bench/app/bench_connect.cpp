// Connecting to the simulation historian (CHDAServer::Connect: ProgID lookup, creation with two
// interfaces, the three optional interfaces), and ending the connection as the server pane does.
// Without the simulation historian in the build, the recording test server stands in.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "com/classstore.h"
#include "com/objbase.h"
#include "com/text.h"
#include "hda/hdaserver.h"
#include "hda/messages.h"

namespace {

class NoWindowOwner : public IHDAServerOwner {
public:
    IItemListView* GetItemListView() override { return nullptr; }
    const void* GetMessageOwner() const override { return nullptr; }
    CHDAServer* GetCurrentServer() override { return nullptr; }
};

std::u16string g_progId;
NoWindowOwner g_owner;

// Ends a connection as the server pane does: items, the server interface, then the record.
void End(CHDAServer& server) {
    server.RemoveAllItems();
    server.m_pServer->Release();
    server.m_pServer = nullptr;
}

// The first connection of the process also loads the server's library.
void BM_ConnectFirst(benchmark::State& state) {
    for (auto _ : state) {
        CHDAServer server(&g_owner);
        if (!server.Connect(u"", g_progId)) {
            state.SkipWithError("connect failed");
            return;
        }
        state.PauseTiming();
        End(server);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_ConnectFirst)->Iterations(1)->Unit(benchmark::kMillisecond);

// Connect alone: the ProgID lookup, the creation with two interfaces, the three optional interfaces.
void BM_Connect(benchmark::State& state) {
    for (auto _ : state) {
        auto server = std::make_unique<CHDAServer>(&g_owner);
        if (!server->Connect(u"", g_progId)) {
            state.SkipWithError("connect failed");
            return;
        }
        state.PauseTiming();
        End(*server);
        server.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_Connect)->Unit(benchmark::kMillisecond);

// Connect and disconnect, as a user connecting and disconnecting again.
void BM_ConnectThenDisconnect(benchmark::State& state) {
    for (auto _ : state) {
        auto server = std::make_unique<CHDAServer>(&g_owner);
        if (!server->Connect(u"", g_progId)) {
            state.SkipWithError("connect failed");
            return;
        }
        End(*server);
        server.reset();
    }
}
BENCHMARK(BM_ConnectThenDisconnect)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    char dirTemplate[] = "/tmp/vistrel-bench-connect-XXXXXX";
    const char* dir = mkdtemp(dirTemplate);
    if (!dir) return 1;
    setenv("VISTREL_CLASS_STORE", dir, 1);
    const std::string db = std::string(dir) + "/simulation.db";
    setenv("VISTREL_SIM_DB", db.c_str(), 1);
    hda::SetMessageSink([](const hda::MessageRequest& r) {
        std::fprintf(stderr, "message: %s\n", com::Utf16ToUtf8(r.text).c_str());
        return hda::MsgResult::Ok;
    });
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 1;
#if defined(VISTREL_SIMULATION_PATH)
    if (FAILED(com::RegisterServerLibrary(VISTREL_SIMULATION_PATH))) return 1;
    g_progId = u"Brindlex.OPC.Simulation";
    benchmark::AddCustomContext("server", "simulation historian");
#elif defined(HDATEST_RECORDING_PATH)
    if (FAILED(com::RegisterServerLibrary(HDATEST_RECORDING_PATH))) return 1;
    g_progId = u"HdaTest.Recording.1";
    benchmark::AddCustomContext("server", "recording test server (no simulation historian in this build)");
#else
    std::fprintf(stderr, "no server to connect to in this build\n");
    return 1;
#endif
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    CoUninitialize();
    std::filesystem::remove_all(dir);
    return 0;
}
