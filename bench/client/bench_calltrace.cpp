// Read Raw of 1 item x 10 values through the client core against the recording test server, whose
// hook builds the answer; each iteration also releases the result set, so the three differ only by
// the tracing code:
//   BM_ReadRaw/0  the server's own IOPCHDA_SyncRead, no tracing code in the way
//   BM_ReadRaw/1  through the tracing stand-in with its switch off (every connection of the main
//                 window runs so until View > Call Trace is turned on)
//   BM_ReadRaw/2  through it, recording into the call trace pane's log
// Run: build/bin/bench_calltrace
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "bench/benchmain.h"
#include "client/calltrace.h"
#include "client/reads.h"
#include "com/objbase.h"
#include "tests/plugins/recording_control.h"

namespace {

constexpr DWORD kValues = 10;

struct Bench {
    hdatest::IRecordingControl* control = nullptr;
    com::ComPtr<IOPCHDA_Server> server;
    com::ComPtr<IOPCHDA_SyncRead> direct;
    com::ComPtr<IOPCHDA_Server> traced;
    com::ComPtr<IOPCHDA_SyncRead> tracedRead;
    std::shared_ptr<client::CallTrace> trace = std::make_shared<client::CallTrace>();
    client::CallLog log;

    bool Setup() {
        if (FAILED(CoCreateInstance(hdatest::CLSID_HdaTestRecording, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_IOPCHDA_Server, server.ReleaseAndGetVoidAddress())) ||
            FAILED(server.As(&direct)))
            return false;
        traced = com::ComPtr<IOPCHDA_Server>::Attach(client::NewTracingServer(server.Get(), trace, "bench"));
        if (FAILED(traced.As(&tracedRead))) return false;
        if (FAILED(hdatest::GetControl(hdatest::CLSID_HdaTestRecording, &control))) return false;
        control->Hooks().ReadRaw = [this](OPCHDA_TIME*, OPCHDA_TIME*, DWORD, BOOL, DWORD, OPCHANDLE*,
                                          OPCHDA_ITEM** ppValues, HRESULT** ppErrors) {
            *ppValues = hdatest::TaskArray<OPCHDA_ITEM>(1);
            (*ppValues)[0] = hdatest::MakeItem(1, kValues);
            *ppErrors = hdatest::TaskArray<HRESULT>(1);
            return S_OK;
        };
        return true;
    }
    ~Bench() {
        if (control) {
            control->Reset();
            control->Release();
        }
    }
};

Bench* g_bench = nullptr;

void BM_ReadRaw(benchmark::State& state) {
    const int mode = static_cast<int>(state.range(0));
    IOPCHDA_SyncRead* pRead = mode == 0 ? g_bench->direct.Get() : g_bench->tracedRead.Get();
    g_bench->trace->SetRecorder(mode == 2 ? &g_bench->log : nullptr);
    const OPCHANDLE handles[] = {1};
    for (auto _ : state) {
        client::ReadOutcome out = client::ReadRaw(pRead, {u"2009/02/24 10:00:00.000"},
                                                  {u"2009/02/24 11:00:00.000"}, 0, false, handles);
        if (out.results.Count() != 1) {
            state.SkipWithError("no result set");
            break;
        }
        out.results.Release();
    }
    g_bench->trace->SetRecorder(nullptr);
    state.counters["recorded"] = static_cast<double>(g_bench->log.Total());
}
BENCHMARK(BM_ReadRaw)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    char dirTemplate[] = "/tmp/vistrel-bench-calltrace-XXXXXX";
    const char* dir = mkdtemp(dirTemplate);
    if (!dir) return 1;
    setenv("VISTREL_CLASS_STORE", dir, 1);
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 1;
    if (FAILED(hdatest::RegisterRecordingProfiles(HDATEST_RECORDING_PATH))) return 1;
    return benchsupport::RunWith(argc, argv, g_bench, dir, "cannot create the recording test server");
}
