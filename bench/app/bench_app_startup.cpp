// From process start to the main window shown, with 50 HDA servers registered and discovered.
//
// Each iteration starts this program anew in its child mode, which does what hda-vistrel's main()
// does (application object, start-up sequence, main window shown, server box filled) and reports
// through a pipe once the window is exposed. The time runs from fork() to that report: process
// start, loading, Qt's and the client's start-up. Offscreen platform unless QT_QPA_PLATFORM says
// otherwise (run under xvfb-run with QT_QPA_PLATFORM=xcb to include an X server).
#include <benchmark/benchmark.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QWindow>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "app/brindlexapp.h"
#include "app/mainframe.h"
#include "com/classstore.h"
#include "com/text.h"
#include "hda/messages.h"
#include "hda/opchda.h"

namespace {

constexpr int kServers = 50;
constexpr const char* kChildFlag = "--startup-child";
std::string g_self;

// The child: start like the client, report when the window is on screen, leave at once.
int RunChild(int argc, char** argv, int reportFd) {
    QApplication app(argc, argv);
    hda::SetMessageSink([](const hda::MessageRequest&) { return hda::MsgResult::Ok; });
    CBrindlexHDAApp theApp;
    if (!theApp.InitInstance()) return 2;
    CMainFrame* frame = theApp.GetMainWnd();
    while (!(frame->windowHandle() && frame->windowHandle()->isExposed())) QApplication::processEvents();
    const char report = static_cast<char>(frame->GetServerCombo()->count());
    if (write(reportFd, &report, 1) != 1) return 3;
    std::fflush(nullptr);
    _exit(0);  // the benchmark measures start-up, not shutdown
}

void RegisterServers(const std::string& dir) {
    setenv("VISTREL_CLASS_STORE", dir.c_str(), 1);
#ifdef HDATEST_RECORDING_PATH
    const std::string library = HDATEST_RECORDING_PATH;
#else
    const std::string library = g_self;  // discovery reads the entries only
#endif
    for (int i = 0; i < kServers; ++i) {
        com::ClassRegistration reg;
        reg.clsid =
            CLSID{0x5EB00000u + static_cast<DWORD>(i), 0x1A2B, 0x4C3D, {0x8E, 0x9F, 0, 0, 0, 0, 0, 1}};
        reg.progId = u"Bench.Historian." + com::Utf8ToUtf16(std::to_string(i)) + u".1";
        reg.versionIndependentProgId = u"Bench.Historian." + com::Utf8ToUtf16(std::to_string(i));
        reg.description = u"Benchmark historian";
        reg.libraryPath = library;
        reg.categories = {CATID_OPCHDAServer10};
        if (FAILED(com::RegisterComClass(reg))) {
            std::fprintf(stderr, "cannot register into %s\n", dir.c_str());
            std::exit(1);
        }
    }
}

void BM_StartupToMainWindowWith50Servers(benchmark::State& state) {
    for (auto _ : state) {
        int fds[2];
        if (pipe(fds) != 0) {
            state.SkipWithError("pipe");
            return;
        }
        const auto t0 = std::chrono::steady_clock::now();
        const pid_t pid = fork();
        if (pid == 0) {
            close(fds[0]);
            const std::string fd = std::to_string(fds[1]);
            execl(g_self.c_str(), g_self.c_str(), kChildFlag, fd.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        char listed = 0;
        const ssize_t n = read(fds[0], &listed, 1);
        const auto t1 = std::chrono::steady_clock::now();
        close(fds[0]);
        int status = 0;
        waitpid(pid, &status, 0);
        if (n != 1 || listed != kServers) {
            state.SkipWithError("the client did not show its window with every server listed");
            return;
        }
        state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
    }
}
BENCHMARK(BM_StartupToMainWindowWith50Servers)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(20);

}  // namespace

int main(int argc, char** argv) {
    g_self = std::filesystem::canonical("/proc/self/exe").string();
    if (argc == 3 && std::strcmp(argv[1], kChildFlag) == 0) {
        int child_argc = 1;
        return RunChild(child_argc, argv, std::atoi(argv[2]));
    }
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    char dirTemplate[] = "/tmp/vistrel-bench-startup-XXXXXX";
    const char* dir = mkdtemp(dirTemplate);
    if (!dir) return 1;
    RegisterServers(dir);

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::filesystem::remove_all(dir);
    return 0;
}
