// Trend speed with 1,000,000 points in one series: building the series from a result set, the
// per-column reduction alone, and one offscreen render of the chart window (its construction, the
// reduction for the visible range and the painting). Target for the render: at most 200 ms. Run:
//   QT_QPA_PLATFORM=offscreen build/bin/bench_trend
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <cmath>
#include <cstdlib>

#include "client/trendseries.h"
#include "com/objbase.h"
#include "com/oleauto.h"
#include "trend/trendchart.h"
#include "trend/trendwindow.h"

namespace {

constexpr DWORD kPoints = 1000000;
constexpr int kWidth = 1200, kHeight = 700;

// A read of one item as a server returns it: one value a second, a wave with noise, every 97th value
// Uncertain, every 1009th Bad and every 50,000th a NODATA gap.
struct MillionItem {
    OPCHDA_ITEM item{};
    MillionItem() {
        item.dwCount = kPoints;
        item.pftTimeStamps = static_cast<FILETIME*>(CoTaskMemAlloc(kPoints * sizeof(FILETIME)));
        item.pdwQualities = static_cast<DWORD*>(CoTaskMemAlloc(kPoints * sizeof(DWORD)));
        item.pvDataValues = static_cast<VARIANT*>(CoTaskMemAlloc(kPoints * sizeof(VARIANT)));
        unsigned noise = 12345;
        for (DWORD j = 0; j < kPoints; ++j) {
            item.pftTimeStamps[j] = U64ToFileTime(134000000000000000ULL + j * 10000000ULL);
            noise = noise * 1103515245u + 12345u;
            DWORD q = OPC_QUALITY_GOOD | OPCHDA_RAW;
            if (j % 97 == 0) q = OPC_QUALITY_UNCERTAIN;
            if (j % 1009 == 0) q = OPC_QUALITY_BAD;
            if (j % 50000 == 49999) q = OPC_QUALITY_BAD | OPCHDA_NODATA;
            item.pdwQualities[j] = q;
            VARIANT& v = item.pvDataValues[j];
            VariantInit(&v);
            v.vt = VT_R8;
            v.dblVal = 50 + 40 * std::sin(j * 0.0003) + ((noise >> 16) % 1000) / 200.0;
        }
    }
    ~MillionItem() {
        CoTaskMemFree(item.pvDataValues);
        CoTaskMemFree(item.pdwQualities);
        CoTaskMemFree(item.pftTimeStamps);
    }
};

const MillionItem& Item() {
    static const MillionItem item;
    return item;
}
const client::TrendSeries& Series() {
    static const client::TrendSeries series = client::BuildTrendSeries(Item().item, S_OK, u"Bench.Wave");
    return series;
}

void BM_BuildSeriesOfAMillion(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(client::BuildTrendSeries(Item().item, S_OK, u"Bench.Wave"));
}
BENCHMARK(BM_BuildSeriesOfAMillion)->Unit(benchmark::kMillisecond);

void BM_ReduceAMillionTo1200Columns(benchmark::State& state) {
    const client::TrendSeries& s = Series();
    for (auto _ : state)
        benchmark::DoNotOptimize(client::ReduceTrend(s, s.FirstTime(), s.LastTime(), kWidth));
}
BENCHMARK(BM_ReduceAMillionTo1200Columns)->Unit(benchmark::kMillisecond);

// One offscreen render: the window is made over the series and painted into an image.
void BM_RenderAMillionOffscreen(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        std::vector<client::TrendSeries> series{Series()};
        state.ResumeTiming();
        CTrendWindow window(nullptr, std::move(series), QStringLiteral("Trend"));
        window.resize(kWidth, kHeight);
        QImage image(window.size(), QImage::Format_ARGB32_Premultiplied);
        window.render(&image);
        benchmark::DoNotOptimize(image.constBits());
    }
}
BENCHMARK(BM_RenderAMillionOffscreen)->Unit(benchmark::kMillisecond)->Iterations(5);

// A zoom or pan step: the chart repainted for a new visible range.
void BM_RepaintAfterZoom(benchmark::State& state) {
    CTrendWindow window(nullptr, {Series()}, QStringLiteral("Trend"));
    window.resize(kWidth, kHeight);
    QImage image(window.size(), QImage::Format_ARGB32_Premultiplied);
    window.render(&image);
    CTrendChart* pChart = window.GetChartView()->TrendChart();
    bool bIn = true;
    for (auto _ : state) {
        pChart->ZoomTimeAt(pChart->plotArea().center().x(), bIn ? 0.8 : 1.25);
        bIn = !bIn;
        window.render(&image);
        benchmark::DoNotOptimize(image.constBits());
    }
}
BENCHMARK(BM_RepaintAfterZoom)->Unit(benchmark::kMillisecond);

}  // namespace

// With VISTREL_TREND_SHOT=file.png set, saves the window over the million points and a text series
// beside them (the picture of the README) and runs nothing else.
int SaveShot(const char* pszFile) {
    client::TrendSeries valve;
    valve.name = u"Bench.Valve";
    valve.bText = true;
    valve.texts = {u"Closed", u"Opening", u"Open"};
    const double t0 = Series().FirstTime(), span = Series().LastTime() - t0;
    for (int k = 0; k < 24; ++k) {
        const double level = (k % 4 == 3) ? 1 : (k / 2) % 2 * 2;
        valve.points.push_back({t0 + span * k / 24, k == 13 ? std::nan("") : level,
                                k == 7 ? client::TrendMark::Uncertain : client::TrendMark::Good});
    }
    CTrendWindow window(nullptr, {Series(), valve}, QStringLiteral("Trend - all tabs"));
    window.resize(kWidth, kHeight);
    CTrendChart* pChart = window.GetChartView()->TrendChart();
    window.show();
    QApplication::processEvents();
    pChart->ZoomTimeAt(pChart->plotArea().left() + pChart->plotArea().width() * 0.3, 0.5);
    return window.grab().save(QString::fromLocal8Bit(pszFile)) ? 0 : 1;
}

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (const char* pszShot = std::getenv("VISTREL_TREND_SHOT")) return SaveShot(pszShot);
    benchmark::Initialize(&argc, argv);
    Series();  // built once, outside the timings that do not measure it
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
