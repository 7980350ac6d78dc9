// Read Raw of 3 items x 100,000 values at the display limit of 1000, against the recording test
// server whose answer is built beforehand:
//   BM_ReadRawClientShare  building the arguments, the call, storing the result set and showing the
//                          first tab, less the time spent inside the server's method
//   BM_ReleaseResultSet    releasing that result set (every array and value)
// Run offscreen: QT_QPA_PLATFORM=offscreen build/bin/bench_reads
#include <benchmark/benchmark.h>

#include <QApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>

#include "bench/benchmain.h"
#include "client/results.h"
#include "com/classstore.h"
#include "com/objbase.h"
#include "com/oleauto.h"
#include "com/text.h"
#include "dialogs/readrawdlg.h"
#include "hda/messages.h"
#include "outputpane/outputpane.h"
#include "serverpane/opcitemctrls.h"
#include "serverpane/serverpane.h"
#include "tests/plugins/recording_control.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr DWORD kItems = 3;
constexpr DWORD kValues = 100000;

// The server's answer: built before the call, handed over inside it.
struct PreparedAnswer {
    OPCHDA_ITEM* pValues = nullptr;
    HRESULT* pErrors = nullptr;

    void Build() {
        pValues = hdatest::TaskArray<OPCHDA_ITEM>(kItems);
        for (DWORD i = 0; i < kItems; ++i)
            pValues[i] = hdatest::MakeItem(i + 1, kValues, hdatest::kStatusNowTicks, i);
        pErrors = hdatest::TaskArray<HRESULT>(kItems);
    }
};

struct Bench {
    std::unique_ptr<CServerPane> pane;
    std::unique_ptr<COutputPane> output;
    hdatest::IRecordingControl* control = nullptr;
    PreparedAnswer answer;
    Clock::duration inServer{};

    bool Setup() {
        pane = std::make_unique<CServerPane>();
        output = std::make_unique<COutputPane>();
        output->resize(700, 500);
        output->SetServerPane(pane.get());
        pane->SetOutputPane(output.get());
        output->show();

        auto server = std::make_unique<CHDAServer>(pane.get());
        if (!server->Connect(u"", u"HdaTest.Recording.1")) return false;
        CHDAServer* pServer = server.get();
        pane->m_mapServers.emplace(u"HdaTest.Recording.1", std::move(server));
        pane->AddServerToTree(u"", u"HdaTest.Recording.1");
        pane->m_strCurrentServer = u"HdaTest.Recording.1";
        for (DWORD i = 0; i < kItems; ++i)
            pServer->AddItemToServer(u"Bench.Item" + std::u16string(1, static_cast<char16_t>(u'1' + i)),
                                     i + 1);
        pane->GetItemList()->selectAll();

        if (FAILED(hdatest::GetControl(hdatest::CLSID_HdaTestRecording, &control))) return false;
        control->Hooks().ReadRaw = [this](OPCHDA_TIME*, OPCHDA_TIME*, DWORD, BOOL, DWORD, OPCHANDLE*,
                                          OPCHDA_ITEM** ppValues, HRESULT** ppErrors) {
            const Clock::time_point t0 = Clock::now();
            *ppValues = std::exchange(answer.pValues, nullptr);
            *ppErrors = std::exchange(answer.pErrors, nullptr);
            inServer += Clock::now() - t0;
            return S_OK;
        };
        return true;
    }
    ~Bench() {
        client::ResultSet unused(answer.pValues, answer.pErrors, kItems);
        if (control) {
            control->Reset();
            control->Release();
        }
        output.reset();
        pane.reset();
    }
};

Bench* g_bench = nullptr;

// Before each read: the server's next answer, and no result set from the last one.
void PrepareRead() {
    g_bench->answer.Build();
    g_bench->pane->ReleaseLastResults();
    g_bench->inServer = {};
}

void BM_ReadRawClientShare(benchmark::State& state) {
    CReadRawDlg dlg;
    dlg.m_strStartTime = u"2009/02/24 10:00:00.000";
    dlg.m_strEndTime = u"2009/02/24 11:00:00.000";
    dlg.m_nMaxValues = 0;
    dlg.m_bGetBounds = FALSE;
    for (auto _ : state) {
        PrepareRead();
        const Clock::time_point t0 = Clock::now();
        g_bench->pane->ReadRawAfterDialog(dlg);
        QCoreApplication::processEvents();  // the first tab painted
        const Clock::duration total = Clock::now() - t0;
        state.SetIterationTime(std::chrono::duration<double>(total - g_bench->inServer).count());
        if (g_bench->pane->GetLastResultCount() != kItems) {
            state.SkipWithError("no result set");
            return;
        }
    }
    g_bench->pane->ReleaseLastResults();
}
BENCHMARK(BM_ReadRawClientShare)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_ReleaseResultSet(benchmark::State& state) {
    CReadRawDlg dlg;
    dlg.m_strStartTime = u"2009/02/24 10:00:00.000";
    dlg.m_strEndTime = u"2009/02/24 11:00:00.000";
    for (auto _ : state) {
        PrepareRead();
        g_bench->pane->ReadRawAfterDialog(dlg);
        const long live = com::LiveTaskMemBlocks();
        const Clock::time_point t0 = Clock::now();
        g_bench->pane->ReleaseLastResults();
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - t0).count());
        if (com::LiveTaskMemBlocks() != live - static_cast<long>(2 + 3 * kItems)) {
            state.SkipWithError("the result set was not released");
            return;
        }
    }
}
BENCHMARK(BM_ReleaseResultSet)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    char dirTemplate[] = "/tmp/vistrel-bench-reads-XXXXXX";
    const char* dir = mkdtemp(dirTemplate);
    if (!dir) return 1;
    setenv("VISTREL_CLASS_STORE", dir, 1);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    hda::SetMessageSink([](const hda::MessageRequest& r) {
        std::fprintf(stderr, "message: %s\n", com::Utf16ToUtf8(r.text).c_str());
        return hda::MsgResult::Ok;
    });
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 1;
    if (FAILED(hdatest::RegisterRecordingProfiles(HDATEST_RECORDING_PATH))) return 1;
    return benchsupport::RunWith(argc, argv, g_bench, dir, "cannot connect to the recording test server");
}
