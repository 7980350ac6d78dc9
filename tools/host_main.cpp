// vistrel-host: serves this computer's registered HDA servers to trusted clients on other computers,
// over mutually authenticated TLS 1.3.
//
// Exit status: 0 success, 1 an operation failed, 2 a bad command line.
#ifdef _WIN32
#include "com/types.h"
#else
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>
#endif

#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "com/objbase.h"
#ifndef _WIN32
#include "hda/netbrowse.h"
#endif
#include "hda/serverlist.h"
#include "remote/remote.h"

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

const char kUsage[] =
    "Usage: vistrel-host [serve] [--listen ADDR] [--port N] [--store DIR] [--config DIR] [--in-process]\n"
    "                    [--no-advertise]\n"
    "       vistrel-host trust [--only PROGID]... CERTIFICATE.crt | FINGERPRINT\n"
    "       vistrel-host untrust FINGERPRINT\n"
    "       vistrel-host list-trusted\n"
    "       vistrel-host identity\n"
    "       vistrel-host client-identity\n"
#ifdef _WIN32
    "       vistrel-host install-service [--listen ADDR] [--port N] [--in-process]\n"
    "       vistrel-host uninstall-service\n"
#endif
    "\n"
    "serve (the default) runs in the foreground and logs each connection, refusal and activation.\n"
    "  --listen ADDR  the address to listen on (default 0.0.0.0)\n"
    "  --port N       the TCP port (default 4747)\n"
    "  --store DIR    serve the classes of the class store in DIR (else the usual stores)\n"
#ifdef _WIN32
    "  --config DIR   keys, certificate and trusted clients (default %APPDATA%\\vistrel)\n"
#else
    "  --config DIR   keys, certificate and trusted clients (default $XDG_CONFIG_HOME/vistrel)\n"
#endif
    "  --in-process   create servers in the host's own process instead of one surrogate process\n"
    "                 for each activation (a crashing server then takes every connection with it)\n"
    "  --no-advertise do not advertise the host by DNS-SD (_vistrel-host._tcp through Avahi; a host\n"
    "                 listening on loopback only is never advertised)\n"
    "trust            lets a client connect: its certificate file (client.crt in the client's\n"
    "                 configuration directory) or its SHA-256 fingerprint\n"
    "untrust          refuses that client from its next connection on\n"
    "identity         shows this host's certificate fingerprint (made on first use)\n"
    "client-identity  shows this user's client certificate fingerprint (made on first use), the one\n"
    "                 to give to `vistrel-host trust` on each host this user connects to\n"
    "--only PROGID    (with trust) the client may activate only these classes; the lookup of\n"
    "                 ProgIDs always works. Trusting a client again replaces its list\n"
#ifdef _WIN32
    "install-service  installs the host as the Windows service \"vistrel-host\" (started with Windows,\n"
    "                 as LocalSystem: its keys and trusted clients are then under that account's\n"
    "                 application-data folder; trust clients with --config that folder), and starts it\n"
    "uninstall-service stops and removes the service\n"
#endif
    ;

std::mutex g_logMutex;
FILE* g_log = stderr;

void Log(const std::string& text) {
    std::lock_guard lock(g_logMutex);
    char stamp[32];
    std::time_t now = std::time(nullptr);
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", std::gmtime(&now));
    std::fprintf(g_log, "%s UTC  %s\n", stamp, text.c_str());
    std::fflush(g_log);
}

#ifdef _WIN32
#include "win/host_win.inc"
#else
// Blocks SIGINT and SIGTERM in every thread started from here on: WaitForStop takes them in main.
void PrepareStop() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    signal(SIGPIPE, SIG_IGN);
    signal(SIGCHLD, SIG_IGN);  // surrogates are reaped as they end
}

void WaitForStop() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    int sig = 0;
    sigwait(&set, &sig);
}

std::string SelfPath() {
    char self[4096];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    return n > 0 ? std::string(self, std::size_t(n)) : std::string();
}

// A large read passes through the host as tens of MB at a time: the server's arrays, its own
// working copies, the pages made of them. glibc's allocator maps each such block afresh from the
// kernel, and faulting its 4 KiB pages in costs nearly as much as the rest of the call. With
// transparent huge pages asked for those blocks, and blocks up to 32 MiB kept for the next call, a
// read of 1,000,000 values takes about a third less time. glibc reads these settings only when a
// program starts, so the host starts itself once more with them; a setting of the caller's own for
// huge pages is left as it is, and a failed restart goes on with the allocator as it was.
void TuneAllocator(char** argv) {
#ifdef __GLIBC__
    constexpr const char* kTunables =
        "glibc.malloc.hugetlb=1:glibc.malloc.mmap_threshold=33554432:glibc.malloc.trim_threshold=268435456";
    // The marker makes it one restart at most, whatever a glibc does with settings it does not know.
    if (getenv("VISTREL_HOST_RESTARTED") != nullptr) return;
    const char* now = getenv("GLIBC_TUNABLES");
    if (now != nullptr && std::strstr(now, "glibc.malloc.hugetlb") != nullptr) return;
    const std::string value = now != nullptr && *now ? std::string(now) + ":" + kTunables : kTunables;
    const std::string self = SelfPath();
    if (self.empty() || setenv("VISTREL_HOST_RESTARTED", "1", 1) != 0 ||
        setenv("GLIBC_TUNABLES", value.c_str(), 1) != 0)
        return;
    execv(self.c_str(), argv);
#else
    (void)argv;
#endif
}
#endif

// A surrogate: serves one activation on an inherited socket and ends with it.
int Surrogate(int fd) {
#ifndef _WIN32
    signal(SIGPIPE, SIG_IGN);
#endif
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return kExitFailed;
    hda::InstallServerList();
    {
        vistrel::remote::HostOptions options;
        vistrel::remote::Host host(options);
        host.ServeSocket(fd);
        while (host.Connections() > 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    CoUninitialize();
    return 0;
}

int Serve(const vistrel::remote::HostOptions& options, bool advertise) {
    PrepareStop();
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
        std::fprintf(stderr, "vistrel-host: the COM runtime could not start\n");
        return kExitFailed;
    }
    hda::InstallServerList();  // the host answers its clients' server-list requests from this store
    int status = 0;
    {
        vistrel::remote::Host host(options, &Log);
        std::string error;
        if (!host.Start(&error)) {
            std::fprintf(stderr, "vistrel-host: %s\n", error.c_str());
            status = kExitFailed;
        } else {
#ifdef _WIN32
            (void)advertise;  // DNS-SD is the Linux desktops' way; Windows clients are given the name
            ReportRunning();
#else
            std::optional<hda::HostAdvertisement> advertisement;
            if (advertise) advertisement.emplace(options.listen, host.Port(), &Log);
#endif
            WaitForStop();
            Log("stopping");
        }
    }
    CoUninitialize();
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    std::string command = "serve";
    int i = 1;
    if (i < argc && argv[i][0] != '-') command = argv[i++];
#ifndef _WIN32
    if (command == "serve") TuneAllocator(argv);
#endif
    vistrel::remote::HostOptions options;
    std::string arg;
    std::vector<std::string> only;
    bool inProcess = false;
    bool advertise = true;
    int fd = -1;
    for (; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        if (a == "--listen" || a == "--port" || a == "--store" || a == "--config" || a == "--only") {
            const char* v = value();
            if (!v) {
                std::fprintf(stderr, "vistrel-host: %s needs a value\n\n%s", a.c_str(), kUsage);
                return kExitUsage;
            }
            if (a == "--only") only.push_back(v);
            if (a == "--listen") options.listen = v;
            if (a == "--config") options.configDir = v;
#ifdef _WIN32
            if (a == "--store") {
                std::fprintf(stderr, "vistrel-host: a Windows host serves the classes of the registry\n");
                return kExitUsage;
            }
#else
            if (a == "--store") setenv("VISTREL_CLASS_STORE", v, 1);
#endif
            if (a == "--port") {
                char* end = nullptr;
                unsigned long p = strtoul(v, &end, 10);
                if (!end || *end || p == 0 || p > 65535) {
                    std::fprintf(stderr, "vistrel-host: '%s' is not a port\n", v);
                    return kExitUsage;
                }
                options.port = static_cast<std::uint16_t>(p);
            }
        } else if (a == "--in-process") {
            inProcess = true;
        } else if (a == "--no-advertise") {
            advertise = false;
        } else if (a == "--fd" && command == "surrogate" && i + 1 < argc) {
            fd = atoi(argv[++i]);
#ifdef _WIN32
        } else if (a == "--connect" && command == "surrogate" && i + 2 < argc &&
                   std::string(argv[i + 2]) == "--token" && i + 3 < argc) {
            fd = ConnectSurrogate(argv[i + 1], argv[i + 3]);
            i += 3;
#endif
        } else if (a == "-h" || a == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (a[0] != '-' && arg.empty()) {
            arg = a;
        } else {
            std::fprintf(stderr, "vistrel-host: unknown argument '%s'\n\n%s", a.c_str(), kUsage);
            return kExitUsage;
        }
    }
    const std::string dir =
        options.configDir.empty() ? vistrel::remote::ConfigDirectory() : options.configDir;
    std::string error;
    if (command == "surrogate") {
        if (fd < 0) return kExitUsage;
        return Surrogate(fd);
    }
    if (command == "serve") {
        if (!arg.empty()) {
            std::fprintf(stderr, "vistrel-host: unknown argument '%s'\n\n%s", arg.c_str(), kUsage);
            return kExitUsage;
        }
        if (!inProcess) options.surrogate = SelfPath();
        return Serve(options, advertise);
    }
#ifdef _WIN32
    if (command == "install-service") return InstallService(options, inProcess);
    if (command == "uninstall-service") return UninstallService();
    if (command == "service") {
        if (!inProcess) options.surrogate = SelfPath();
        return RunService(options);
    }
#endif
    if (command == "trust" || command == "untrust") {
        if (arg.empty()) {
            std::fprintf(stderr, "vistrel-host: %s needs a certificate file or a fingerprint\n\n%s",
                         command.c_str(), kUsage);
            return kExitUsage;
        }
        bool ok = command == "trust" ? vistrel::remote::Trust(dir, arg, &error, only)
                                     : vistrel::remote::Untrust(dir, arg, &error);
        if (!ok) {
            std::fprintf(stderr, "vistrel-host: %s\n", error.c_str());
            return kExitFailed;
        }
        return 0;
    }
    if (command == "list-trusted") {
        for (const auto& c : vistrel::remote::ListTrusted(dir))
            std::printf("%s %s\n", c.fingerprint.c_str(), c.name.c_str());
        return 0;
    }
    if (command == "identity" || command == "client-identity") {
        vistrel::remote::Identity me;
        if (!vistrel::remote::EnsureIdentity(dir, command == "identity" ? "host" : "client", &me, &error)) {
            std::fprintf(stderr, "vistrel-host: %s\n", error.c_str());
            return kExitFailed;
        }
        std::printf("%s\n%s\n%s\n", me.fingerprint.c_str(), me.commonName.c_str(), me.certPath.c_str());
        return 0;
    }
    std::fprintf(stderr, "vistrel-host: unknown command '%s'\n\n%s", command.c_str(), kUsage);
    return kExitUsage;
}
