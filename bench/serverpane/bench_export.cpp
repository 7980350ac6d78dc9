// Export of 1,000,000 values (two items of 500,000: numbers, and texts) to a CSV file through the
// server pane's export, as Export does it once the file name is chosen: the rows in parts, the
// progress asked after each, the file written through QSaveFile and committed. Target: at most 2 s.
// Run offscreen: QT_QPA_PLATFORM=offscreen build/bin/bench_export
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <memory>

#include "com/oleauto.h"
#include "serverpane/serverpane.h"
#include "tests/plugins/recording_control.h"

namespace {

constexpr DWORD kPerItem = 500000;

client::ResultSet MakeResults() {
    OPCHDA_ITEM* values = hdatest::TaskArray<OPCHDA_ITEM>(2);
    values[0] = hdatest::MakeItem(1, kPerItem, hdatest::kStatusNowTicks, 0.125);
    values[1] = hdatest::MakeItem(2, kPerItem, hdatest::kStatusNowTicks, 0);
    for (DWORD i = 0; i < kPerItem; ++i) {
        VARIANT& v = values[1].pvDataValues[i];
        v.vt = VT_BSTR;
        v.bstrVal = SysAllocString(i % 3 ? u"Running" : u"Stopped, \"manual\"");
    }
    return client::ResultSet(values, hdatest::TaskArray<HRESULT>({S_OK, OPC_S_MOREDATA}), 2);
}

void BM_Export1MValues(benchmark::State& state) {
    QTemporaryDir dir;
    CServerPane pane;
    pane.SetLastResults(MakeResults());
    pane.m_lastItemIds = {u"Plant.Boiler.Temperature", u"Plant.Boiler.State"};
    const QString path = dir.path() + "/values.csv";
    for (auto _ : state) {
        const bool ok = pane.ExportResults(path, [](std::size_t, std::size_t) { return true; });
        if (!ok) state.SkipWithError("the export failed");
    }
    state.counters["bytes"] = static_cast<double>(QFile(path).size());
    state.SetItemsProcessed(state.iterations() * 2 * kPerItem);
}
BENCHMARK(BM_Export1MValues)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
