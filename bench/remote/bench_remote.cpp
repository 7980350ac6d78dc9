// The simulation historian through a host on loopback (mutual TLS 1.3), next to the same calls
// in-process; argument 1 runs the host on threads of this process, 2 as a vistrel-host process of its
// own (as in use, with the allocator settings it starts itself with):
//   ReadRaw of 1,000,000 stored values of one item, in one call       (values per second)
//   ReadRaw of 1,000,000 generated values of one item, in one call    (values per second)
//   GetHistorianStatus, one call at a time                             (median and 99th percentile)
// Each also reports the CPU time of the whole process (client and host threads) per value or call,
// which a loaded machine disturbs far less than the wall-clock rate. The remote read also reports
// the size of the arrays it returns.
// Against a vistrel-host of its own process (servers in the host's process, so that one process
// holds them all):
//   the peak memory growth of a fresh client process for a remote ReadRaw of 1,000,000 values, next
//   to the size of the arrays it returns
//   50 client processes at once, each making 100 reads of 10,000 values: errors, and the host's
//   memory before, at its peak and after
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "com/classstore.h"
#include "com/objbase.h"
#include "com/oleauto.h"
#include "com/text.h"
#include "hda/opchda.h"
#include "remote/remote.h"

extern char** environ;

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

    Server(bool remote, const char16_t* item) : Server(remote, item, S().computer) {}
    Server(bool remote, const char16_t* item, std::u16string name) {
        COSERVERINFO info{0, name.data(), nullptr, 0};
        MULTI_QI qi{&IID_IOPCHDA_Server, nullptr, S_OK};
        CLSID clsid = CLSID_NULL;
        if (CLSIDFromProgID(u"Brindlex.OPC.Simulation", &clsid) != S_OK) std::abort();
        if (CoCreateInstanceEx(clsid, nullptr, remote ? CLSCTX_REMOTE_SERVER : CLSCTX_INPROC_SERVER,
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

struct HostProcess;
HostProcess& ReadHost();
std::u16string ComputerOf(HostProcess& h);

// Arg 0: in-process; 1: through a host on threads of this process; 2: through a vistrel-host process.
const char* Where(const benchmark::State& state) {
    return state.range(0) == 2 ? "through a host process"
           : state.range(0)    ? "through the host"
                               : "in-process";
}

void ReadMillion(benchmark::State& state, const char16_t* item, std::uint64_t step) {
    const bool remote = state.range(0) != 0;
    Server s(remote, item, state.range(0) == 2 ? ComputerOf(ReadHost()) : S().computer);
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
    state.SetLabel(Where(state));
}

void BM_ReadRawStored(benchmark::State& state) {
    EnsureStored();
    ReadMillion(state, u"Writable.Real8", kSecond);
}
BENCHMARK(BM_ReadRawStored)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);

void BM_ReadRawGenerated(benchmark::State& state) {
    ReadMillion(state, u"Generated.Waves.FastSine", kSecond / 100);
}
BENCHMARK(BM_ReadRawGenerated)
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2);

void BM_GetHistorianStatus(benchmark::State& state) {
    const bool remote = state.range(0) != 0;
    Server s(remote, u"Writable.Real8", state.range(0) == 2 ? ComputerOf(ReadHost()) : S().computer);
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
    state.SetLabel(Where(state));
}
BENCHMARK(BM_GetHistorianStatus)
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime()
    ->Iterations(5000);

// ---- Against a host in a process of its own ----

// A line of /proc/<pid>/status ("VmRSS", "VmHWM") in KiB; -1 when it cannot be read.
long StatusKb(const std::string& pid, const char* key) {
    std::ifstream f("/proc/" + pid + "/status");
    std::string line;
    const std::size_t n = std::strlen(key);
    while (std::getline(f, line))
        if (line.compare(0, n, key) == 0 && line.size() > n && line[n] == ':')
            return std::atol(line.c_str() + n + 1);
    return -1;
}

std::uint16_t FreePort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0)
        std::abort();
    close(fd);
    return ntohs(a.sin_port);
}

bool Listening(std::uint16_t port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    bool ok = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(fd);
    return ok;
}

pid_t SpawnWith(const std::vector<std::string>& args, const std::vector<std::string>& env,
                const std::string& log) {
    std::vector<char*> argv, envp;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!log.empty())
        posix_spawn_file_actions_addopen(&actions, 2, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

std::vector<std::string> Environment() {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) env.emplace_back(*e);
    return env;
}

// vistrel-host serving this benchmark's class store on loopback, trusting this benchmark's client.
// Its history is its own, or with `sharedHistory` the one this process stored.
struct HostProcess {
    std::string dir;
    std::uint16_t port = 0;
    pid_t pid = -1;
    std::u16string computer;

    explicit HostProcess(const char* name = "spawned", bool sharedHistory = false) {
        dir = S().dir + "/" + name;
        mkdir(dir.c_str(), 0700);
        vistrel::remote::Identity client;
        std::string error;
        if (!vistrel::remote::EnsureIdentity(S().dir + "/client", "client", &client, &error) ||
            !vistrel::remote::Trust(dir + "/host", client.certPath, &error))
            std::abort();
        port = FreePort();
        std::vector<std::string> env = Environment();
        std::erase_if(env, [](const std::string& e) { return e.rfind("VISTREL_SIM_DB=", 0) == 0; });
        env.push_back("VISTREL_SIM_DB=" + (sharedHistory ? S().dir : dir) + "/history.db");
        pid =
            SpawnWith({HOST_PATH, "serve", "--listen", "127.0.0.1", "--port", std::to_string(port), "--store",
                       S().dir + "/classes", "--config", dir + "/host", "--in-process", "--no-advertise"},
                      env, dir + "/host.log");
        if (pid < 0) std::abort();
        for (int i = 0; i < 200 && !Listening(port); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (!Listening(port)) std::abort();
        computer = com::Utf8ToUtf16("127.0.0.1:" + std::to_string(port));
    }
    ~HostProcess() {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
    long RssKb() const { return StatusKb(std::to_string(pid), "VmRSS"); }
};

HostProcess& Spawned() {
    static HostProcess h;
    return h;
}

std::u16string ComputerOf(HostProcess& h) {
    return h.computer;
}

// The host that the large reads go through when it runs in a process of its own, as it does in use.
HostProcess& ReadHost() {
    static HostProcess h("reads", true);
    return h;
}

// Reads `n` generated values at 10 ms steps from `from`; false on any error or a short answer.
// With `keep`, the arrays stay allocated and are handed back.
bool ReadGenerated(Server& s, DWORD n, std::uint64_t from, OPCHDA_ITEM** keep = nullptr) {
    OPCHDA_TIME start{FALSE, nullptr, U64ToFileTime(from)};
    OPCHDA_TIME end{FALSE, nullptr, U64ToFileTime(from + n * (kSecond / 100))};
    OPCHDA_ITEM* items = nullptr;
    HRESULT* errors = nullptr;
    HRESULT hr = s.read->ReadRaw(&start, &end, n, FALSE, 1, &s.h, &items, &errors);
    if (FAILED(hr)) return false;
    const bool ok = errors && SUCCEEDED(errors[0]) && items && items[0].dwCount == n;
    CoTaskMemFree(errors);
    if (keep && ok) {
        *keep = items;
        return true;
    }
    for (DWORD j = 0; items && j < items[0].dwCount; ++j) VariantClear(&items[0].pvDataValues[j]);
    if (items) {
        CoTaskMemFree(items[0].pftTimeStamps);
        CoTaskMemFree(items[0].pdwQualities);
        CoTaskMemFree(items[0].pvDataValues);
    }
    CoTaskMemFree(items);
    return ok;
}

// A client of the spawned host in a process of its own (the worker modes of this program).
void StartWorker() {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    vistrel::remote::ClientOptions copt;
    copt.configDir = std::string(getenv("VISTREL_BENCH_DIR")) + "/client";
    vistrel::remote::InstallRemoteActivator(copt);
}

std::u16string WorkerComputer(const char* port) {
    return com::Utf8ToUtf16(std::string("127.0.0.1:") + port);
}

// A fresh client process, connected (a read of 10,000 values made): the growth of its peak memory
// over one remote read of 1,000,000 values, and the size of the arrays returned, into `out`.
int MemoryWorker(const char* port, const char* out) {
    StartWorker();
    double growth = 0, arrays = 0;
    {
        Server s(true, u"Generated.Waves.FastSine", WorkerComputer(port));
        if (!ReadGenerated(s, 10000, kStart)) return 1;
        const long before = StatusKb("self", "VmRSS");
        std::ofstream("/proc/self/clear_refs") << "5";  // the peak starts again from now
        OPCHDA_ITEM* items = nullptr;
        if (!ReadGenerated(s, kValues, kStart, &items)) return 1;
        growth = double(StatusKb("self", "VmHWM") - before) * 1024;
        arrays = double(com::TaskMemSize(items[0].pftTimeStamps) + com::TaskMemSize(items[0].pdwQualities) +
                        com::TaskMemSize(items[0].pvDataValues));
        for (DWORD j = 0; j < items[0].dwCount; ++j) VariantClear(&items[0].pvDataValues[j]);
        CoTaskMemFree(items[0].pftTimeStamps);
        CoTaskMemFree(items[0].pdwQualities);
        CoTaskMemFree(items[0].pvDataValues);
        CoTaskMemFree(items);
    }
    vistrel::remote::ShutdownClient();
    std::ofstream(out) << growth << ' ' << arrays << '\n';
    return 0;
}

std::string Self() {
    char self[4096];
    ssize_t len = readlink("/proc/self/exe", self, sizeof self - 1);
    if (len <= 0) std::abort();
    return std::string(self, std::size_t(len));
}

std::vector<std::string> WorkerEnvironment() {
    std::vector<std::string> env = Environment();
    env.push_back("VISTREL_BENCH_DIR=" + S().dir);
    return env;
}

bool Wait(pid_t pid) {
    int status = 0;
    return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void BM_ClientMemory(benchmark::State& state) {
    HostProcess& host = Spawned();
    {
        Server s(true, u"Generated.Waves.FastSine", host.computer);  // pins the host's key once
    }
    const std::string out = host.dir + "/memory.txt";
    double growth = 0, arrays = 0;
    for (auto _ : state) {
        if (!Wait(SpawnWith({Self(), "--memory-worker", std::to_string(host.port), out}, WorkerEnvironment(),
                            "")))
            std::abort();
        double g = 0;
        std::ifstream(out) >> g >> arrays;
        growth = std::max(growth, g);
    }
    state.counters["arrays_MB"] = arrays / (1024 * 1024);
    state.counters["peak_growth_MB"] = growth / (1024 * 1024);
    state.counters["growth_per_array_byte"] = growth / arrays;
    state.SetLabel("a fresh client process, the host in its own");
}
BENCHMARK(BM_ClientMemory)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

constexpr int kClients = 50;
constexpr int kReadsPerClient = 100;
constexpr DWORD kValuesPerRead = 10000;

// One of the concurrent clients, in a process of its own: 0 when every read answered in full.
int ClientWorker(const char* port) {
    StartWorker();
    int failures = 0;
    {
        Server s(true, u"Generated.Waves.FastSine", WorkerComputer(port));
        for (int i = 0; i < kReadsPerClient; ++i)
            if (!ReadGenerated(s, kValuesPerRead,
                               kStart + std::uint64_t(i) * kValuesPerRead * (kSecond / 100)))
                ++failures;
    }
    vistrel::remote::ShutdownClient();
    if (failures)
        std::fprintf(stderr, "bench_remote client: %d of %d reads failed\n", failures, kReadsPerClient);
    return failures ? 1 : 0;
}

void BM_ConcurrentClients(benchmark::State& state) {
    HostProcess& host = Spawned();
    {
        Server s(true, u"Generated.Waves.FastSine", host.computer);  // pins the host's key once
    }
    const std::vector<std::string> env = WorkerEnvironment();
    const std::string exe = Self();
    long failed = 0, before = 0, after = 0;
    std::atomic<long> peak{0};
    for (auto _ : state) {
        before = host.RssKb();
        std::atomic<bool> running{true};
        std::thread sampler([&] {
            while (running) {
                peak = std::max(peak.load(), host.RssKb());
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        });
        std::vector<pid_t> pids;
        for (int i = 0; i < kClients; ++i)
            pids.push_back(SpawnWith({exe, "--client-worker", std::to_string(host.port)}, env, ""));
        for (pid_t pid : pids)
            if (!Wait(pid)) ++failed;
        running = false;
        sampler.join();
        after = host.RssKb();
    }
    state.counters["clients_failed"] = double(failed);
    state.counters["host_rss_before_MB"] = double(before) / 1024;
    state.counters["host_rss_peak_MB"] = double(peak.load()) / 1024;
    state.counters["host_rss_after_MB"] = double(after) / 1024;
    state.counters["values_per_second"] =
        benchmark::Counter(double(kClients) * kReadsPerClient * kValuesPerRead * double(state.iterations()),
                           benchmark::Counter::kIsRate);
    state.SetLabel("50 client processes x 100 reads of 10,000 values");
}
BENCHMARK(BM_ConcurrentClients)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--client-worker") == 0) return ClientWorker(argv[2]);
    if (argc == 4 && std::strcmp(argv[1], "--memory-worker") == 0) return MemoryWorker(argv[2], argv[3]);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
