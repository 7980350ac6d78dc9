// Output pane speed: a value tab at the largest display limit, switching between two of them, and
// the two text forms that run once per cell. Run offscreen:
//   QT_QPA_PLATFORM=offscreen build/bin/bench_outputpane
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTabBar>
#include <cstring>
#include <vector>

#include "com/objbase.h"
#include "com/oleauto.h"
#include "hda/opchda.h"
#include "outputpane/mytabctrl.h"
#include "outputpane/outputlist.h"
#include "outputpane/outputpane.h"

namespace {

constexpr DWORD kLargestLimit = 99999;

// A server pane holding a result set of n items with `values` values each, as a server returns it.
class BenchHost final : public IOutputPaneHost {
public:
    BenchHost(int nItems, DWORD nValues, bool bStrings) {
        m_pItems = static_cast<OPCHDA_ITEM*>(CoTaskMemAlloc(nItems * sizeof(OPCHDA_ITEM)));
        m_pErrors = static_cast<HRESULT*>(CoTaskMemAlloc(nItems * sizeof(HRESULT)));
        m_nCount = static_cast<DWORD>(nItems);
        for (int i = 0; i < nItems; ++i) {
            OPCHDA_ITEM& it = m_pItems[i];
            it = OPCHDA_ITEM{static_cast<OPCHANDLE>(i), 0, nValues, nullptr, nullptr, nullptr};
            it.pftTimeStamps = static_cast<FILETIME*>(CoTaskMemAlloc(nValues * sizeof(FILETIME)));
            it.pdwQualities = static_cast<DWORD*>(CoTaskMemAlloc(nValues * sizeof(DWORD)));
            it.pvDataValues = static_cast<VARIANT*>(CoTaskMemAlloc(nValues * sizeof(VARIANT)));
            for (DWORD j = 0; j < nValues; ++j) {
                it.pftTimeStamps[j] = U64ToFileTime(128800000000000000ULL + j * 10000000ULL);
                it.pdwQualities[j] = (j % 5 == 0) ? (0x40 | OPCHDA_INTERPOLATED) : (0xC0 | OPCHDA_RAW);
                VARIANT& v = it.pvDataValues[j];
                VariantInit(&v);
                if (bStrings) {
                    v.vt = VT_BSTR;
                    const std::u16string s =
                        u"Value " + std::u16string(1, static_cast<char16_t>(u'A' + j % 26));
                    v.bstrVal = SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
                } else {
                    v.vt = VT_R8;
                    v.dblVal = 20.0 + j * 0.125;
                }
            }
            m_pErrors[i] = S_OK;
            m_ids.push_back(u"Simulation.Area1.Tank" + std::u16string(1, static_cast<char16_t>(u'1' + i)));
        }
    }
    ~BenchHost() {
        for (DWORD i = 0; i < m_nCount; ++i) {
            OPCHDA_ITEM& it = m_pItems[i];
            for (DWORD j = 0; j < it.dwCount; ++j) VariantClear(&it.pvDataValues[j]);
            CoTaskMemFree(it.pvDataValues);
            CoTaskMemFree(it.pdwQualities);
            CoTaskMemFree(it.pftTimeStamps);
        }
        CoTaskMemFree(m_pItems);
        CoTaskMemFree(m_pErrors);
    }

    void OnCommand(int) override {}
    bool IsCommandEnabled(int) const override { return true; }
    DWORD GetMaxDisplayItems() const override { return kLargestLimit; }
    void SetMaxDisplayItems(DWORD) override {}
    std::vector<std::u16string> GetSelectedItemIds() const override { return m_ids; }
    const OPCHDA_ITEM* GetLastItemValues() const override { return m_pItems; }
    const HRESULT* GetLastErrors() const override { return m_pErrors; }
    DWORD GetLastResultCount() const override { return m_nCount; }

private:
    OPCHDA_ITEM* m_pItems = nullptr;
    HRESULT* m_pErrors = nullptr;
    DWORD m_nCount = 0;
    std::vector<std::u16string> m_ids;
};

struct ShownPane {
    explicit ShownPane(BenchHost& host) {
        pane.resize(900, 700);
        pane.SetServerPane(&host);
        pane.show();
        QApplication::processEvents();
    }
    COutputPane pane;
};

// Everything a value read does to the pane: the tabs, the first page, and the first paint.
void ShowValueTab(benchmark::State& state, bool bStrings) {
    BenchHost host(1, kLargestLimit, bStrings);
    ShownPane shown(host);
    for (auto _ : state) {
        shown.pane.CreateItemTabs();
        shown.pane.ShowTabResults();
        shown.pane.grab();  // paints every visible cell
    }
    if (shown.pane.GetTabCtrl()->GetValueList()->GetItemCount() != static_cast<int>(kLargestLimit))
        state.SkipWithError("the tab does not hold 99,999 rows");
}
void BM_ShowValueTab99999_Reals(benchmark::State& state) {
    ShowValueTab(state, false);
}
void BM_ShowValueTab99999_Strings(benchmark::State& state) {
    ShowValueTab(state, true);
}
BENCHMARK(BM_ShowValueTab99999_Reals)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ShowValueTab99999_Strings)->Unit(benchmark::kMillisecond);

// One switch from one tab of 99,999 values to the other, refill and paint included.
void SwitchTabs(benchmark::State& state, bool bStrings) {
    BenchHost host(2, kLargestLimit, bStrings);
    ShownPane shown(host);
    shown.pane.CreateItemTabs();
    shown.pane.ShowTabResults();
    QTabBar* bar = shown.pane.GetTabCtrl()->GetTabBar();
    int next = 1;
    for (auto _ : state) {
        bar->setCurrentIndex(next);  // raises the tab change, as a click does
        shown.pane.grab();           // paints every visible cell
        next = 1 - next;
    }
    if (shown.pane.GetTabCtrl()->GetValueList()->GetItemCount() != static_cast<int>(kLargestLimit))
        state.SkipWithError("the tab does not hold 99,999 rows");
}
void BM_SwitchTabs99999_Reals(benchmark::State& state) {
    SwitchTabs(state, false);
}
void BM_SwitchTabs99999_Strings(benchmark::State& state) {
    SwitchTabs(state, true);
}
BENCHMARK(BM_SwitchTabs99999_Reals)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SwitchTabs99999_Strings)->Unit(benchmark::kMillisecond);

void BM_FormatQuality(benchmark::State& state) {
    std::vector<DWORD> qualities(1024);
    for (std::size_t i = 0; i < qualities.size(); ++i)
        qualities[i] =
            static_cast<DWORD>((i * 4 % 256) | (i % 4) | ((i % 10 < 8) ? (0x10000u << (i % 8)) : 0));
    for (auto _ : state)
        for (DWORD q : qualities) benchmark::DoNotOptimize(COutputPane::FormatQuality(q));
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * qualities.size()));
}
BENCHMARK(BM_FormatQuality);

void BM_FormatResultCode(benchmark::State& state) {
    const HRESULT known[] = {S_OK,
                             OPC_S_NODATA,
                             OPC_S_MOREDATA,
                             E_FAIL,
                             OPC_E_INVALIDHANDLE,
                             OPC_E_UNKNOWNITEMID,
                             OPC_S_INSERTED,
                             OPC_S_REPLACED,
                             OPC_E_DATAEXISTS,
                             OPC_E_INVALIDATTRID,
                             OPC_W_NOFILTER,
                             OPC_S_CURRENTVALUE,
                             OPC_E_MAXEXCEEDED,
                             OPC_S_CLAMP,
                             OPC_E_INVALID_PID,
                             OPC_E_RANGE};
    std::vector<HRESULT> codes(1024);
    for (std::size_t i = 0; i < codes.size(); ++i) codes[i] = known[(i * 7) % std::size(known)];
    for (auto _ : state)
        for (HRESULT hr : codes) benchmark::DoNotOptimize(COutputPane::FormatResultCode(hr));
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * codes.size()));
}
BENCHMARK(BM_FormatResultCode);

// Codes outside the table build their text; shown for comparison.
void BM_FormatResultCodeUnknown(benchmark::State& state) {
    std::vector<HRESULT> codes(1024);
    for (std::size_t i = 0; i < codes.size(); ++i) codes[i] = static_cast<HRESULT>(0xC0050000u + i);
    for (auto _ : state)
        for (HRESULT hr : codes) benchmark::DoNotOptimize(COutputPane::FormatResultCode(hr));
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * codes.size()));
}
BENCHMARK(BM_FormatResultCodeUnknown);

void BM_FormatTimestamp(benchmark::State& state) {
    ULONGLONG t = 128800000000000000ULL;
    for (auto _ : state) {
        benchmark::DoNotOptimize(FormatTimestamp(U64ToFileTime(t)));
        t += 10000000ULL;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FormatTimestamp);

void BM_FormatVariantReal(benchmark::State& state) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_R8;
    v.dblVal = 20.125;
    for (auto _ : state) benchmark::DoNotOptimize(COutputPane::FormatVariant(v));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FormatVariantReal);

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
