// The trend window: a chart of the value tabs of the output pane, opened by View > Trend (the selected
// tab) and View > Trend All Tabs (every tab, overlaid). Each window holds copies of the values, so it
// stays as it is while the next read replaces the tabs, and a second trend can be set beside it.
#pragma once

#include <QString>
#include <QWidget>
#include <vector>

#include "client/trendseries.h"

class COutputPane;
class CTrendChartView;
class QLabel;

class CTrendWindow final : public QWidget {
    Q_OBJECT
public:
    CTrendWindow(QWidget* pParent, std::vector<client::TrendSeries> series, const QString& title);

    CTrendChartView* GetChartView() const { return m_pView; }
    QLabel* GetSummary() const { return m_pSummary; }

    // The series of the output pane's value tabs: the selected one, or all of them in tab order.
    // Empty when no value tabs are shown or no result set stands behind them.
    static std::vector<client::TrendSeries> SeriesOfTabs(const COutputPane& pane, bool bAllTabs);
    // Opens a window over the tabs (a top-level window of its own that closes with its parent);
    // null when there is nothing to chart.
    static CTrendWindow* Open(QWidget* pParent, const COutputPane& pane, bool bAllTabs);

    // The line under the chart: points, gaps, marked points and what the server left out.
    static QString SummaryText(const std::vector<client::TrendSeries>& series);

private:
    CTrendChartView* m_pView;
    QLabel* m_pSummary;
};
