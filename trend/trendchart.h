// The trend chart: the values of one or more items against time, on a Qt chart with a time axis.
//
// The chart's axes, grid, legend and zooming are the Qt chart's; the values are drawn by an item of
// our own over the plot area from the reduction of client/trendseries.h, recomputed for the visible
// range at every zoom and pan, so a million points cost no more than a few thousand. Lines break at
// gaps (NOBOUND, NODATA, empty values); Uncertain points carry a triangle, Bad ones a square; text
// values are drawn as steps with the text at each change.
#pragma once

#include <QChart>
#include <QChartView>
#include <QDateTimeAxis>
#include <QGraphicsObject>
#include <vector>

#include "client/trendseries.h"

class QAbstractAxis;
class CTrendChart;

// Draws the series over the chart's plot area.
class CTrendPlot final : public QGraphicsObject {
    Q_OBJECT
public:
    explicit CTrendPlot(CTrendChart* pChart);
    QRectF boundingRect() const override;
    void paint(QPainter* pPainter, const QStyleOptionGraphicsItem* pOption, QWidget* pWidget) override;

    // What the last paint drew of each series (tests and the benchmark look at it).
    const std::vector<client::TrendReduction>& LastReductions() const { return m_reductions; }

private:
    CTrendChart* m_pChart;
    std::vector<client::TrendReduction> m_reductions;
};

class CTrendChart final : public QChart {
    Q_OBJECT
public:
    explicit CTrendChart(std::vector<client::TrendSeries> series);

    const std::vector<client::TrendSeries>& Series() const { return m_series; }
    QColor SeriesColor(std::size_t nSeries) const;
    // The y axis a series is drawn against: text series share one of their own.
    QAbstractAxis* AxisOf(std::size_t nSeries) const;
    QDateTimeAxis* TimeAxis() const { return m_pTimeAxis; }
    // The visible range of an axis (time axis: milliseconds since 1970).
    static void AxisRange(const QAbstractAxis* pAxis, double& min, double& max);
    CTrendPlot* Plot() const { return m_pPlot; }

    // Shows every point again.
    void ResetView();
    // Zooms the time axis by a factor about a position of the plot area (factor < 1 zooms in).
    void ZoomTimeAt(double x, double factor);

private:
    std::vector<client::TrendSeries> m_series;
    QDateTimeAxis* m_pTimeAxis = nullptr;
    QAbstractAxis* m_pValueAxis = nullptr;  // null when every series is text
    QAbstractAxis* m_pTextAxis = nullptr;   // null when no series is text
    CTrendPlot* m_pPlot = nullptr;
};

// The view: drag a rectangle to zoom into it, the wheel zooms time about the pointer, middle drag or
// Shift with a left drag pans, the right button zooms out, a double click or Home shows it all.
class CTrendChartView final : public QChartView {
    Q_OBJECT
public:
    explicit CTrendChartView(CTrendChart* pChart, QWidget* pParent = nullptr);
    CTrendChart* TrendChart() const { return m_pChart; }

protected:
    void wheelEvent(QWheelEvent* pEvent) override;
    void mousePressEvent(QMouseEvent* pEvent) override;
    void mouseMoveEvent(QMouseEvent* pEvent) override;
    void mouseReleaseEvent(QMouseEvent* pEvent) override;
    void mouseDoubleClickEvent(QMouseEvent* pEvent) override;
    void keyPressEvent(QKeyEvent* pEvent) override;

private:
    CTrendChart* m_pChart;
    bool m_bPanning = false;
    QPointF m_lastPan;
};
