// The simulation historian through a host on loopback (mutual TLS 1.3, host and client in this
// process on their own threads) next to the same calls in-process:
//   ReadRaw of 1,000,000 stored values of one item, in one call       (values per second)
//   ReadRaw of 1,000,000 generated values of one item, in one call    (values per second)
//   GetHistorianStatus, one call at a time                             (median and 99th percentile)
// Each also reports the CPU time of the whole process (client and host threads) per value or call,
// which a loaded machine disturbs far less than the wall-clock rate. The remote read also reports
// the size of the arrays it returns. (The client's peak memory is not
// measured here: the host shares this process.)
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "com/classstore.h"
#include "com/objbase.h"
#include "com/oleauto.h"
#include "com/text.h"
#include "hda/opchda.h"
#include "remote/remote.h"

namespace {

constexpr std::uint64_t kSecond = 10'000'000;
constexpr std::uint64_t kStart = 133485588000000000ULL;  // 2024-01-01 05:00 UTC
constexpr DWORD kValues = 1'000'000;

struct Setup {
    std::string dir;
    CLSID clsid{};
    std::unique_ptr<vistrel::remote::Host> host;
    std::u16string computer;

    Setup() {
        char tmpl[] = "/tmp/remotebench.XXXXXX";
        dir = mkdtemp(tmpl);
        setenv("VISTREL_CLASS_STORE", (dir + "/classes").c_str(), 1);
        setenv("VISTREL_SIM_DB", (dir + "/history.db").c_str(), 1);
        setenv("VISTREL_SIM_MAX_VALUES", "1000000", 1);
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        if (com::RegisterServerLibrary(SIM_PLUGIN_PATH) != S_OK ||
            CLSIDFromProgID(u"Brindlex.OPC.Simulation", &clsid) != S_OK)
            std::abort();
        vistrel::remote::Identity client;
        std::string error;
        if (!vistrel::remote::EnsureIdentity(dir + "/client", "client", &client, &error) ||
            !vistrel::remote::Trust(dir + "/host", client.certPath, &error))
            std::abort();
        vistrel::remote::HostOptions options;
        options.listen = "127.0.0.1";
        options.port = 0;
        options.configDir = dir + "/host";
        host = std::make_unique<vistrel::remote::Host>(options);
        if (!host->Start(&error)) std::abort();
        computer = com::Utf8ToUtf16("127.0.0.1:" + std::to_string(host->Port()));
        vistrel::remote::ClientOptions copt;
        copt.configDir = dir + "/client";
        vistrel::remote::InstallRemoteActivator(copt);
    }
    ~Setup() {
        vistrel::remote::ShutdownClient();
        host.reset();
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
};

// CPU time of every thread of this process, in nanoseconds.
double ProcessCpuNs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e9 + double(t.tv_nsec);
}

Setup& S() {
    static Setup s;
    return s;
}

struct Server {
    IOPCHDA_Server* server = nullptr;
    IOPCHDA_SyncRead* read = nullptr;
    IOPCHDA_SyncUpdate* update = nullptr;
    OPCHANDLE h = 0;

    Server(bool remote, const char16_t* item) {
        std::u16string name = S().computer;
        COSERVERINFO info{0, name.data(), nullptr, 0};
        MULTI_QI qi{&IID_IOPCHDA_Server, nullptr, S_OK};
        if (CoCreateInstanceEx(S().clsid, nullptr, remote ? CLSCTX_REMOTE_SERVER : CLSCTX_INPROC_SERVER,
                               remote ? &info : nullptr, 1, &qi) != S_OK)
            std::abort();
        server = static_cast<IOPCHDA_Server*>(static_cast<void*>(qi.pItf));
        server->QueryInterface(IID_IOPCHDA_SyncRead, reinterpret_cast<void**>(&read));
        server->QueryInterface(IID_IOPCHDA_SyncUpdate, reinterpret_cast<void**>(&update));
        LPWSTR id[] = {const_cast<LPWSTR>(item)};
        OPCHANDLE client = 1, *servers = nullptr;
        HRESULT* errors = nullptr;
        if (server->GetItemHandles(1, id, &client, &servers, &errors) != S_OK) std::abort();
        h = servers[0];
        CoTaskMemFree(servers);
        CoTaskMemFree(errors);
    }
    ~Server() {
        update->Release();
        read->Release();
        server->Release();
    }
};

void EnsureStored() {
    static bool made = [] {
        Server s(false, u"Writable.Real8");
        const DWORD kPerCall = 10000;
        std::vector<OPCHANDLE> handles(kPerCall, s.h);
        std::vector<FILETIME> times(kPerCall);
        std::vector<VARIANT> values(kPerCall);
        std::vector<DWORD> qualities(kPerCall, OPC_QUALITY_GOOD);
        for (DWORD k = 0; k < kPerCall; ++k) {
            values[k].vt = VT_R8;
            values[k].dblVal = k * 0.5;
        }
        for (DWORD call = 0; call < kValues / kPerCall; ++call) {
            for (DWORD k = 0; k < kPerCall; ++k)
                times[k] = U64ToFileTime(kStart + (call * kPerCall + k) * kSecond);
            HRESULT* errors = nullptr;
            if (s.update->Insert(kPerCall, handles.data(), times.data(), values.data(), qualities.data(),
                                 &errors) != S_OK)
                std::abort();
            CoTaskMemFree(errors);
        }
        return true;
    }();
    (void)made;
}

void ReadMillion(benchmark::State& state, const char16_t* item, std::uint64_t step) {
    const bool remote = state.range(0) != 0;
    Server s(remote, item);
    auto readOnce = [&](bool measure) {
        OPCHDA_TIME start{FALSE, nullptr, U64ToFileTime(kStart)};
        OPCHDA_TIME end{FALSE, nullptr, U64ToFileTime(kStart + kValues * step)};
        OPCHDA_ITEM* items = nullptr;
        HRESULT* errors = nullptr;
        if (FAILED(s.read->ReadRaw(&start, &end, kValues, FALSE, 1, &s.h, &items, &errors))) std::abort();
        if (items[0].dwCount != kValues) std::abort();
        if (measure) {
            state.counters["arrays_MB"] =
                double(com::TaskMemSize(items[0].pftTimeStamps) + com::TaskMemSize(items[0].pdwQualities) +
                       com::TaskMemSize(items[0].pvDataValues)) /
                (1024 * 1024);
        }
        for (DWORD j = 0; j < items[0].dwCount; ++j) VariantClear(&items[0].pvDataValues[j]);
        CoTaskMemFree(items[0].pftTimeStamps);
        CoTaskMemFree(items[0].pdwQualities);
        CoTaskMemFree(items[0].pvDataValues);
        CoTaskMemFree(items);
        CoTaskMemFree(errors);
    };
    // The first read fills the server's cache.
    readOnce(remote);
    const double cpu0 = ProcessCpuNs();
    for (auto _ : state) readOnce(false);
    state.counters["process_cpu_ns_per_value"] =
        (ProcessCpuNs() - cpu0) / double(state.iterations() * kValues);
    state.SetItemsProcessed(state.iterations() * kValues);
    state.SetLabel(remote ? "through the host" : "in-process");
}

void BM_ReadRawStored(benchmark::State& state) {
    EnsureStored();
    ReadMillion(state, u"Writable.Real8", kSecond);
}
BENCHMARK(BM_ReadRawStored)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);

void BM_ReadRawGenerated(benchmark::State& state) {
    ReadMillion(state, u"Generated.Waves.FastSine", kSecond / 100);
}
BENCHMARK(BM_ReadRawGenerated)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);

void BM_GetHistorianStatus(benchmark::State& state) {
    const bool remote = state.range(0) != 0;
    Server s(remote, u"Writable.Real8");
    std::vector<double> us;
    const double cpu0 = ProcessCpuNs();
    for (auto _ : state) {
        OPCHDA_SERVERSTATUS status;
        FILETIME *now = nullptr, *start = nullptr;
        WORD a, b, c;
        DWORD m;
        LPWSTR text = nullptr, vendor = nullptr;
        auto t0 = std::chrono::steady_clock::now();
        if (s.server->GetHistorianStatus(&status, &now, &start, &a, &b, &c, &m, &text, &vendor) != S_OK)
            std::abort();
        us.push_back(
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count());
        CoTaskMemFree(now);
        CoTaskMemFree(start);
        CoTaskMemFree(text);
        CoTaskMemFree(vendor);
    }
    state.counters["process_cpu_us_per_call"] = (ProcessCpuNs() - cpu0) / 1000 / double(state.iterations());
    std::sort(us.begin(), us.end());
    state.counters["median_us"] = us[us.size() / 2];
    state.counters["p99_us"] = us[std::min(us.size() - 1, us.size() * 99 / 100)];
    state.SetLabel(remote ? "through the host" : "in-process");
}
BENCHMARK(BM_GetHistorianStatus)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime()
    ->Iterations(5000);

}  // namespace

BENCHMARK_MAIN();
