// vistrel read-raw --all of 10,000,000 values of the simulation historian to /dev/null, as CSV and as
// JSON: values per second end to end and the peak resident memory of the vistrel process.
//
//   build/bin/bench_vistrel [values]
#include <fcntl.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace {

struct Run {
    double seconds = 0;
    double cpuSeconds = 0;  // user and system time of the vistrel process
    long maxRssKb = 0;
    int status = -1;
};

Run Spawn(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const auto t0 = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        execv(argv[0], argv.data());
        _exit(127);
    }
    Run r;
    struct rusage ru {};
    wait4(pid, &r.status, 0, &ru);
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    r.maxRssKb = ru.ru_maxrss;
    r.cpuSeconds = static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
                   static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
    return r;
}

}  // namespace

int main(int argc, char** argv) {
    const unsigned long long values = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 10000000ULL;
    char tmpl[] = "/tmp/benchvistrel.XXXXXX";
    const std::string dir = mkdtemp(tmpl);
    const std::string store = dir + "/classes";
    std::filesystem::create_directories(store);
    setenv("VISTREL_CLASS_STORE", store.c_str(), 1);
    setenv("VISTREL_SIM_DB", (dir + "/h.db").c_str(), 1);
    const std::string reg =
        std::string(VISTREL_REGSVR_PATH) + " --store '" + store + "' '" + SIM_PLUGIN_PATH + "' >/dev/null";
    if (std::system(reg.c_str()) != 0) return 1;

    // Generated.Waves.FastSine holds a value every 10 ms: `values` of them from 2024-01-01 00:00 UTC.
    const unsigned long long start = 1704067200ULL;
    const unsigned long long centis = values;  // one value per 10 ms
    const std::string from = "@" + std::to_string(start);
    const std::string to =
        "@" + std::to_string(start + centis / 100) + "." + std::to_string(100 + centis % 100).substr(1);
    std::printf("%llu values of Generated.Waves.FastSine, %s .. %s, pages of 10000\n", values, from.c_str(),
                to.c_str());
    for (const char* format : {"csv", "json"}) {
        Run r =
            Spawn({VISTREL_PATH, "read-raw", "--server", "Brindlex.OPC.Simulation", "--start", from, "--end",
                   to, "--max", "10000", "--all", "--format", format, "Generated.Waves.FastSine"});
        // Wall time counts waiting for a core on a shared machine; CPU time is the process's own work.
        std::printf(
            "%-4s  wall %6.2f s = %5.2f M values/s   cpu %6.2f s = %5.2f M values/s   peak RSS %6.1f MB  "
            "exit %d\n",
            format, r.seconds, static_cast<double>(values) / r.seconds / 1e6, r.cpuSeconds,
            static_cast<double>(values) / r.cpuSeconds / 1e6, r.maxRssKb / 1024.0,
            WIFEXITED(r.status) ? WEXITSTATUS(r.status) : -1);
    }
    std::filesystem::remove_all(dir);
    return 0;
}
