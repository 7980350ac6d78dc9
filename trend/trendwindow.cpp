#include "trend/trendwindow.h"

#include <QLabel>
#include <QVBoxLayout>

#include "outputpane/mytabctrl.h"
#include "outputpane/outputhost.h"
#include "outputpane/outputpane.h"
#include "resources/icons_trend.h"
#include "resources/uikit.h"
#include "trend/trendchart.h"

namespace {

constexpr int kWidth = 900, kHeight = 560;

}  // namespace

CTrendWindow::CTrendWindow(QWidget* pParent, std::vector<client::TrendSeries> series, const QString& title)
    : QWidget(pParent, Qt::Window) {
    setAttribute(Qt::WA_DeleteOnClose);
    setObjectName(QStringLiteral("TrendWindow"));
    setWindowTitle(title);
    setWindowIcon(ui::TrendToolbarImage());
    const QString summary = SummaryText(series);
    m_pView = new CTrendChartView(new CTrendChart(std::move(series)), this);
    m_pSummary = new QLabel(
        summary + QStringLiteral("\nDrag: zoom to the rectangle; wheel: zoom the time; middle drag or "
                                 "Shift+drag: pan; right click: zoom out; double click or Home: all."),
        this);
    m_pSummary->setWordWrap(true);
    auto* pLayout = new QVBoxLayout(this);
    pLayout->setContentsMargins(4, 4, 4, 4);
    pLayout->addWidget(m_pView, 1);
    pLayout->addWidget(m_pSummary);
    resize(kWidth, kHeight);
}

std::vector<client::TrendSeries> CTrendWindow::SeriesOfTabs(const COutputPane& pane, bool bAllTabs) {
    std::vector<client::TrendSeries> series;
    const CMyTabCtrl* pTabs = pane.GetTabCtrl();
    const IOutputPaneHost* pHost = pane.GetServerPane();
    if (!pTabs || !pHost || !pHost->GetLastItemValues()) return series;
    const int nFirst = bAllTabs ? 0 : pTabs->GetCurSel();
    const int nEnd = bAllTabs ? pTabs->GetItemCount() : nFirst + 1;
    const OPCHDA_ITEM* pValues = pHost->GetLastItemValues();
    const HRESULT* pErrors = pHost->GetLastErrors();
    const DWORD nEntries = pHost->GetLastResultCount();
    for (int i = std::max(0, nFirst); i < nEnd; ++i) {
        const auto entry = static_cast<DWORD>(i);
        std::u16string name = ui::ToU16(pTabs->GetItemText(i));
        if (entry >= nEntries) {
            client::TrendSeries missing;
            missing.name = std::move(name);
            missing.hrItem = E_FAIL;
            series.push_back(std::move(missing));
            continue;
        }
        series.push_back(
            client::BuildTrendSeries(pValues[entry], pErrors ? pErrors[entry] : S_OK, std::move(name)));
    }
    return series;
}

CTrendWindow* CTrendWindow::Open(QWidget* pParent, const COutputPane& pane, bool bAllTabs) {
    ui::WaitCursor wait;
    std::vector<client::TrendSeries> series = SeriesOfTabs(pane, bAllTabs);
    if (series.empty()) return nullptr;
    const QString title = bAllTabs || series.size() != 1
                              ? QStringLiteral("Trend - all tabs")
                              : QStringLiteral("Trend - ") + ui::ToQString(series.front().name);
    auto* pWindow = new CTrendWindow(pParent, std::move(series), title);
    pWindow->show();
    return pWindow;
}

QString CTrendWindow::SummaryText(const std::vector<client::TrendSeries>& series) {
    QStringList parts;
    for (const client::TrendSeries& s : series) {
        std::size_t nUncertain = 0, nBad = 0;
        for (const client::TrendPoint& p : s.points) {
            if (p.IsGap()) continue;
            nUncertain += p.mark == client::TrendMark::Uncertain;
            nBad += p.mark == client::TrendMark::Bad;
        }
        QString text = QStringLiteral("%1: %2 (%3 values")
                           .arg(ui::ToQString(s.name), COutputPane::FormatResultCode(s.hrItem))
                           .arg(s.points.size());
        if (s.nGaps) text += QStringLiteral(", %1 %2").arg(s.nGaps).arg(s.nGaps == 1 ? "gap" : "gaps");
        if (s.nNotNumeric) text += QStringLiteral(", %1 without a number").arg(s.nNotNumeric);
        if (nUncertain) text += QStringLiteral(", %1 Uncertain").arg(nUncertain);
        if (nBad) text += QStringLiteral(", %1 Bad").arg(nBad);
        if (s.nNotReturned) text += QStringLiteral(", %1 not returned by the server").arg(s.nNotReturned);
        if (s.bReordered) text += QStringLiteral(", put in time order");
        parts << text + QLatin1Char(')');
    }
    return parts.join(QStringLiteral("; "));
}
