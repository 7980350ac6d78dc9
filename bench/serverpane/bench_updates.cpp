// The history updates against the simulation historian:
//   BM_InsertOkToList   10,000 generated rows x 10 selected items (100,000 entries): from pressing the
//                       Insert dialog's OK to the result list shown. Counters: the server's time inside
//                       Insert ("server_ms") and the client's own share ("client_ms": the arrays, the
//                       call's marshalling, the list).
//   BM_Generate100k     the data generator making 100,000 rows (one press of "Generate").
// Run offscreen: QT_QPA_PLATFORM=offscreen build/bin/bench_updates
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDateEdit>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "bench/benchmain.h"
#include "com/classstore.h"
#include "com/objbase.h"
#include "com/text.h"
#include "com/unknwn.h"
#include "dialogs/datageneratordlg.h"
#include "dialogs/insertdlg.h"
#include "hda/messages.h"
#include "outputpane/outputlist.h"
#include "outputpane/outputpane.h"
#include "serverpane/opcitemctrls.h"
#include "serverpane/serverpane.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kItems = 10;
constexpr int kRows = 10000;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// Stands between the client and the historian's IOPCHDA_SyncUpdate and times what the historian spends.
class TimedSyncUpdate final : public com::ComObject<IOPCHDA_SyncUpdate> {
public:
    explicit TimedSyncUpdate(IOPCHDA_SyncUpdate* p) : m_p(p) { m_p->AddRef(); }
    Clock::duration inServer{};

    HRESULT STDMETHODCALLTYPE QueryCapabilities(OPCHDA_UPDATECAPABILITIES* c) override {
        return m_p->QueryCapabilities(c);
    }
    HRESULT STDMETHODCALLTYPE Insert(DWORD n, OPCHANDLE* h, FILETIME* t, VARIANT* v, DWORD* q,
                                     HRESULT** e) override {
        const Clock::time_point t0 = Clock::now();
        const HRESULT hr = m_p->Insert(n, h, t, v, q, e);
        inServer += Clock::now() - t0;
        return hr;
    }
    HRESULT STDMETHODCALLTYPE Replace(DWORD n, OPCHANDLE* h, FILETIME* t, VARIANT* v, DWORD* q,
                                      HRESULT** e) override {
        return m_p->Replace(n, h, t, v, q, e);
    }
    HRESULT STDMETHODCALLTYPE InsertReplace(DWORD n, OPCHANDLE* h, FILETIME* t, VARIANT* v, DWORD* q,
                                            HRESULT** e) override {
        return m_p->InsertReplace(n, h, t, v, q, e);
    }
    HRESULT STDMETHODCALLTYPE DeleteRaw(OPCHDA_TIME* s, OPCHDA_TIME* en, DWORD n, OPCHANDLE* h,
                                        HRESULT** e) override {
        return m_p->DeleteRaw(s, en, n, h, e);
    }
    HRESULT STDMETHODCALLTYPE DeleteAtTime(DWORD n, OPCHANDLE* h, FILETIME* t, HRESULT** e) override {
        return m_p->DeleteAtTime(n, h, t, e);
    }

private:
    ~TimedSyncUpdate() override { m_p->Release(); }
    IOPCHDA_SyncUpdate* m_p;
};

struct Bench {
    std::unique_ptr<CServerPane> pane;
    std::unique_ptr<COutputPane> output;
    TimedSyncUpdate* timed = nullptr;  // owned by the connection once installed

    bool Setup() {
        pane = std::make_unique<CServerPane>();
        output = std::make_unique<COutputPane>();
        output->resize(700, 500);
        output->SetServerPane(pane.get());
        pane->SetOutputPane(output.get());
        output->show();

        const std::u16string progId = u"Brindlex.OPC.Simulation.1";
        auto server = std::make_unique<CHDAServer>(pane.get());
        if (!server->Connect(u"", progId) || !server->m_pSyncUpdate) return false;
        CHDAServer* pServer = server.get();
        pane->m_mapServers.emplace(progId, std::move(server));
        pane->AddServerToTree(u"", progId);
        pane->m_strCurrentServer = progId;

        std::vector<std::u16string> ids;
        for (int i = 0; i < kItems; ++i) ids.push_back(u"Bench.Item" + com::Utf8ToUtf16(std::to_string(i)));
        std::vector<LPWSTR> names;
        for (auto& s : ids) names.push_back(s.data());
        std::vector<OPCHANDLE> clients(names.size(), 0);
        OPCHANDLE* handles = nullptr;
        HRESULT* errors = nullptr;
        if (pServer->m_pServer->GetItemHandles(kItems, names.data(), clients.data(), &handles, &errors) !=
            S_OK)
            return false;
        for (int i = 0; i < kItems; ++i) pServer->AddItemToServer(ids[i], handles[i]);
        CoTaskMemFree(handles);
        CoTaskMemFree(errors);
        pane->GetItemList()->selectAll();

        timed = new TimedSyncUpdate(pServer->m_pSyncUpdate);
        pServer->m_pSyncUpdate->Release();
        pServer->m_pSyncUpdate = timed;
        return true;
    }
};

Bench* g_bench = nullptr;

void FillGenerator(QWidget* g, int day) {
    dlg::GetDlgItem<QLineEdit>(g, IDC_GEN_INITIAL_VALUE)->setText("1");
    dlg::GetDlgItem<QLineEdit>(g, IDC_GEN_VALUE_INCREMENT)->setText("1");
    dlg::GetDlgItem<QLineEdit>(g, IDC_GEN_END_VALUE)->setText(QString::number(kRows + 1));
    // Each run writes a day of its own, so that every entry is a new one.
    dlg::GetDlgItem<QDateEdit>(g, IDC_GEN_START_DATE)->setDate(QDate(2009, 1, 1).addDays(day));
}

void BM_InsertOkToList(benchmark::State& state) {
    int day = 0;
    double serverMs = 0, clientMs = 0;
    for (auto _ : state) {
        g_bench->timed->inServer = {};
        Clock::time_point t0{};
        bool generated = false;
        QTimer::singleShot(0, [&] {
            auto* ins = qobject_cast<CInsertDlg*>(QApplication::activeModalWidget());
            if (!ins) return;
            QTimer::singleShot(0, [&] {
                auto* gen = qobject_cast<CDataGeneratorDlg*>(QApplication::activeModalWidget());
                if (!gen) return;
                FillGenerator(gen, day);
                dlg::GetDlgItem<QPushButton>(gen, IDC_GENERATE)->click();
                generated = gen->GetGeneratedList()->model()->rowCount() == kRows;
                dlg::GetDlgItem<QPushButton>(gen, IDOK)->click();
            });
            dlg::GetDlgItem<QPushButton>(ins, IDC_DATA_GENERATOR)->click();
            t0 = Clock::now();
            dlg::GetDlgItem<QPushButton>(ins, IDOK)->click();
        });
        g_bench->pane->OnInsert();
        QCoreApplication::processEvents();  // the list painted
        const Clock::duration total = Clock::now() - t0;
        ++day;
        COutputList* list = g_bench->output->GetResultList();
        if (!generated || !list || list->GetItemCount() != kRows * kItems ||
            list->GetItemText(0, 3) != QStringLiteral("OK")) {
            state.SkipWithError("the insert did not show 100,000 accepted entries");
            return;
        }
        state.SetIterationTime(std::chrono::duration<double>(total).count());
        serverMs += Ms(g_bench->timed->inServer);
        clientMs += Ms(total - g_bench->timed->inServer);
    }
    state.counters["server_ms"] = benchmark::Counter(serverMs, benchmark::Counter::kAvgIterations);
    state.counters["client_ms"] = benchmark::Counter(clientMs, benchmark::Counter::kAvgIterations);
    g_bench->pane->ReleaseLastResults();
}
BENCHMARK(BM_InsertOkToList)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_Generate100k(benchmark::State& state) {
    for (auto _ : state) {
        CDataGeneratorDlg gen;
        Clock::duration took{};
        int rows = 0;
        QTimer::singleShot(0, [&] {
            dlg::GetDlgItem<QLineEdit>(&gen, IDC_GEN_INITIAL_VALUE)->setText("0");
            dlg::GetDlgItem<QLineEdit>(&gen, IDC_GEN_END_VALUE)->setText("100000");
            const Clock::time_point t0 = Clock::now();
            dlg::GetDlgItem<QPushButton>(&gen, IDC_GENERATE)->click();
            QCoreApplication::processEvents();  // the list painted
            took = Clock::now() - t0;
            rows = gen.GetGeneratedList()->model()->rowCount();
            gen.reject();
        });
        gen.exec();
        if (rows != 100000) {
            state.SkipWithError("the generator did not make 100,000 rows");
            return;
        }
        state.SetIterationTime(std::chrono::duration<double>(took).count());
    }
}
BENCHMARK(BM_Generate100k)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    char dirTemplate[] = "/tmp/vistrel-bench-updates-XXXXXX";
    const char* dir = mkdtemp(dirTemplate);
    if (!dir) return 1;
    const std::string items = std::string(dir) + "/items.txt";
    {
        std::ofstream f(items);
        for (int i = 0; i < kItems; ++i) f << "Bench.Item" << i << " | R8\n";
    }
    setenv("VISTREL_CLASS_STORE", dir, 1);
    setenv("VISTREL_SIM_DB", (std::string(dir) + "/history.db").c_str(), 1);
    setenv("VISTREL_SIM_ITEMS", items.c_str(), 1);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    hda::SetMessageSink([](const hda::MessageRequest& r) {
        std::fprintf(stderr, "message: %s\n", com::Utf16ToUtf8(r.text).c_str());
        return hda::MsgResult::Ok;
    });
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 1;
    if (FAILED(com::RegisterServerLibrary(SIM_PLUGIN_PATH))) return 1;
    return benchsupport::RunWith(argc, argv, g_bench, dir, "cannot connect to the simulation historian");
}
