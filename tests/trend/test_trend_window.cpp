// The trend window over the output pane's value tabs: which tabs become series, and that the chart
// draws each one from its reduction.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <memory>

#include "com/objbase.h"
#include "fakehost.h"
#include "outputpane/mytabctrl.h"
#include "outputpane/outputpane.h"
#include "trend/trendchart.h"
#include "trend/trendwindow.h"

namespace {

FakeItem NumberItem(DWORD n, DWORD quality = 0xC0 | OPCHDA_RAW) {
    FakeItem item;
    item.dwCount = n;
    const ULONGLONG t0 = FileTimeToU64(MakeFileTime(2026, 12, 9, 8, 0, 0, 0));
    for (DWORD j = 0; j < n; ++j) {
        item.values.push_back(MakeI4(static_cast<LONG>(j * j)));
        item.times.push_back(U64ToFileTime(t0 + j * 10000000ULL));
        item.qualities.push_back(quality);
    }
    return item;
}

class TrendWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        pane = std::make_unique<COutputPane>();
        pane->resize(600, 400);
        pane->SetServerPane(&host);
    }
    void Read(std::vector<std::u16string> ids, std::vector<FakeItem> items, std::vector<HRESULT> errors) {
        host.selected = std::move(ids);
        pane->CreateItemTabs();
        host.SetResultSet(std::move(items), std::move(errors));
        pane->ShowTabResults();
    }

    FakeHost host;
    std::unique_ptr<COutputPane> pane;
};

TEST_F(TrendWindowTest, TheSelectedTabOrEveryTabBecomesASeries) {
    // Three tabs, but the server answered for two of them only.
    Read({u"A.Flow", u"B.Valve", u"C.Level"}, {NumberItem(4), MakeStringItem(3, u"state")},
         {S_OK, OPC_S_MOREDATA});
    pane->GetTabCtrl()->SetCurSel(1);

    std::vector<client::TrendSeries> one = CTrendWindow::SeriesOfTabs(*pane, false);
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0].name, u"B.Valve");
    EXPECT_EQ(one[0].hrItem, OPC_S_MOREDATA);
    EXPECT_TRUE(one[0].bText);
    EXPECT_EQ(one[0].points.size(), 3u);

    std::vector<client::TrendSeries> all = CTrendWindow::SeriesOfTabs(*pane, true);
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0].name, u"A.Flow");
    EXPECT_EQ(all[0].points.size(), 4u);
    EXPECT_DOUBLE_EQ(all[0].maxValue, 9);
    EXPECT_EQ(all[2].name, u"C.Level");  // no entry behind it: an empty series, not a read past the array
    EXPECT_TRUE(all[2].points.empty());
    EXPECT_EQ(all[2].hrItem, E_FAIL);
    EXPECT_EQ(CTrendWindow::SummaryText({all[0]}), "A.Flow: OK (4 values)");

    // The series are copies: releasing the result set leaves the window's data alone.
    host.ReleaseResultSet();
    EXPECT_EQ(all[1].texts.size(), 3u);
    EXPECT_TRUE(CTrendWindow::SeriesOfTabs(*pane, true).empty());
    EXPECT_EQ(CTrendWindow::Open(nullptr, *pane, true), nullptr);
}

TEST_F(TrendWindowTest, TheWindowDrawsEverySeriesOverlaidWithItsMarks) {
    FakeItem bad = NumberItem(50, OPC_QUALITY_BAD);
    bad.qualities[10] = OPC_QUALITY_BAD | OPCHDA_NODATA;
    Read({u"A.Flow", u"B.Valve", u"C.Bad"}, {NumberItem(20), MakeStringItem(5, u"s"), std::move(bad)},
         {S_OK, S_OK, S_OK});
    CTrendWindow* pWindow = CTrendWindow::Open(nullptr, *pane, true);
    ASSERT_NE(pWindow, nullptr);
    std::unique_ptr<CTrendWindow> owned(pWindow);
    EXPECT_EQ(pWindow->windowTitle(), "Trend - all tabs");
    EXPECT_TRUE(pWindow->GetSummary()->text().contains("C.Bad: OK (50 values, 1 gap, 49 Bad)"));
    (void)pWindow->grab();  // paints the chart

    CTrendChart* pChart = pWindow->GetChartView()->TrendChart();
    const auto& drawn = pChart->Plot()->LastReductions();
    ASSERT_EQ(drawn.size(), 3u);
    EXPECT_EQ(drawn[0].line.size(), 20u);
    EXPECT_EQ(drawn[1].steps.size(), 5u);  // every text differs from the one before
    EXPECT_EQ(drawn[2].marks.size(), 49u);
    EXPECT_EQ(pChart->AxisOf(0), pChart->AxisOf(2));
    EXPECT_NE(pChart->AxisOf(0), pChart->AxisOf(1));  // text levels have an axis of their own

    // Zooming into the first half draws only what lies there (and one point beyond).
    double t0 = 0, t1 = 0;
    CTrendChart::AxisRange(pChart->TimeAxis(), t0, t1);
    pChart->ZoomTimeAt(pChart->plotArea().left(), 0.5);
    (void)pWindow->grab();
    double z0 = 0, z1 = 0;
    CTrendChart::AxisRange(pChart->TimeAxis(), z0, z1);
    EXPECT_NEAR(z0, t0, 1);
    EXPECT_NEAR(z1 - z0, (t1 - t0) / 2, 2);
    EXPECT_LT(pChart->Plot()->LastReductions()[2].line.size(), 40u);
    pChart->ResetView();
    CTrendChart::AxisRange(pChart->TimeAxis(), z0, z1);
    EXPECT_EQ(z1 - z0, t1 - t0);
}

}  // namespace
