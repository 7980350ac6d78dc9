#include "trend/trendchart.h"

#include <QCategoryAxis>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QFontMetricsF>
#include <QGraphicsSceneEvent>
#include <QKeyEvent>
#include <QLegend>
#include <QLineSeries>
#include <QPainter>
#include <QPainterPath>
#include <QScatterSeries>
#include <QValueAxis>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "resources/uikit.h"

namespace {

using client::TrendMark;
using client::TrendPoint;
using client::TrendSeries;

const QColor kUncertainColor(0xE0, 0x80, 0x00);
const QColor kBadColor(0xD0, 0x00, 0x00);
const QColor kGapColor(0x80, 0x80, 0x80);
constexpr qreal kMarkSize = 7;
constexpr int kMaxAxisTexts = 30;  // a text axis names its levels up to this many texts

// Pads a range so that its extremes do not sit on the frame; an empty range gets a width.
void Pad(double& min, double& max, double fraction, double widthIfEmpty) {
    if (!(max > min)) {
        min -= widthIfEmpty / 2;
        max += widthIfEmpty / 2;
        return;
    }
    const double d = (max - min) * fraction;
    min -= d;
    max += d;
}

QDateTime FromMs(double ms) {
    return QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(std::llround(ms)));
}

void DrawMark(QPainter* p, TrendMark mark, QPointF at) {
    const qreal h = kMarkSize / 2;
    if (mark == TrendMark::Uncertain) {
        p->setPen(QPen(kUncertainColor, 1.5));
        p->setBrush(Qt::NoBrush);
        const QPointF tri[3] = {at + QPointF(0, -h), at + QPointF(h, h), at + QPointF(-h, h)};
        p->drawPolygon(tri, 3);
    } else {
        p->setPen(QPen(kBadColor, 1));
        p->setBrush(kBadColor);
        p->drawRect(QRectF(at.x() - h + 0.5, at.y() - h + 0.5, kMarkSize - 1, kMarkSize - 1));
    }
}

}  // namespace

// ---- CTrendPlot ----

CTrendPlot::CTrendPlot(CTrendChart* pChart) : QGraphicsObject(pChart), m_pChart(pChart) {
    setZValue(100);  // over the grid and the (empty) series of the legend
    setAcceptedMouseButtons(Qt::NoButton);
    connect(pChart, &QChart::plotAreaChanged, this, [this] {
        prepareGeometryChange();
        update();
    });
}

QRectF CTrendPlot::boundingRect() const {
    return m_pChart->plotArea();
}

void CTrendPlot::paint(QPainter* p, const QStyleOptionGraphicsItem*, QWidget*) {
    const QRectF area = m_pChart->plotArea();
    m_reductions.clear();
    if (area.width() < 1 || area.height() < 1) return;
    double t0 = 0, t1 = 0;
    CTrendChart::AxisRange(m_pChart->TimeAxis(), t0, t1);
    if (!(t1 > t0)) return;

    p->save();
    p->setClipRect(area);
    p->setRenderHint(QPainter::Antialiasing, true);
    const QFontMetricsF metrics(p->font());
    const int nColumns = std::max(1, static_cast<int>(area.width()));
    const auto X = [&](double t) { return area.left() + (t - t0) * area.width() / (t1 - t0); };

    for (std::size_t i = 0; i < m_pChart->Series().size(); ++i) {
        const TrendSeries& s = m_pChart->Series()[i];
        double v0 = 0, v1 = 0;
        CTrendChart::AxisRange(m_pChart->AxisOf(i), v0, v1);
        if (!(v1 > v0)) continue;
        const auto Y = [&](double v) { return area.bottom() - (v - v0) * area.height() / (v1 - v0); };
        m_reductions.push_back(client::ReduceTrend(s, t0, t1, nColumns));
        const client::TrendReduction& r = m_reductions.back();

        // The line, run by run between gaps; a text value holds until the next entry (steps).
        QPen pen(m_pChart->SeriesColor(i), 1.5);
        pen.setCosmetic(true);
        QPolygonF run;
        const auto drawRun = [&] {
            p->setPen(pen);
            if (run.size() == 1) {
                p->setBrush(pen.color());
                p->drawEllipse(run.front(), 1.5, 1.5);
            } else if (run.size() > 1) {
                p->drawPolyline(run);
            }
            run.clear();
        };
        for (std::size_t k = 0; k < r.line.size(); ++k) {
            const TrendPoint& pt = r.line[k];
            if (pt.IsGap()) {
                if (s.bText && !run.isEmpty()) run << QPointF(X(pt.msTime), run.back().y());
                drawRun();
                p->setPen(QPen(kGapColor, 1));
                p->drawLine(QPointF(X(pt.msTime), area.bottom()), QPointF(X(pt.msTime), area.bottom() - 6));
                continue;
            }
            const QPointF at(X(pt.msTime), Y(pt.value));
            if (s.bText && !run.isEmpty()) run << QPointF(at.x(), run.back().y());
            run << at;
        }
        drawRun();

        for (const TrendPoint& m : r.marks) DrawMark(p, m.mark, QPointF(X(m.msTime), Y(m.value)));

        // The text at each change, where there is room for it.
        p->setPen(m_pChart->SeriesColor(i).darker(130));
        qreal right = area.left() - 1;
        for (const TrendPoint& st : r.steps) {
            const auto level = static_cast<std::size_t>(st.value);
            if (level >= s.texts.size()) continue;
            const qreal x = X(st.msTime) + 3;
            if (x < right) continue;
            const QString text = metrics.elidedText(ui::ToQString(s.texts[level]), Qt::ElideRight, 160);
            p->drawText(QPointF(x, Y(st.value) - 4), text);
            right = x + metrics.horizontalAdvance(text) + 8;
        }
    }
    p->restore();
}

// ---- CTrendChart ----

CTrendChart::CTrendChart(std::vector<TrendSeries> series) : m_series(std::move(series)) {
    setAnimationOptions(QChart::NoAnimation);
    legend()->setAlignment(Qt::AlignBottom);

    m_pTimeAxis = new QDateTimeAxis(this);
    m_pTimeAxis->setFormat(QStringLiteral("yyyy/MM/dd hh:mm:ss"));
    m_pTimeAxis->setTickCount(5);
    addAxis(m_pTimeAxis, Qt::AlignBottom);

    bool bNumbers = false;
    std::size_t nTexts = 0, nTextSeries = 0;
    const TrendSeries* pFirstText = nullptr;
    bool bUncertain = false, bBad = false;
    for (const TrendSeries& s : m_series) {
        if (s.bText) {
            nTexts = std::max(nTexts, s.texts.size());
            ++nTextSeries;
            if (!pFirstText) pFirstText = &s;
        } else {
            bNumbers = true;
        }
        for (const TrendPoint& p : s.points) {
            if (p.IsGap()) continue;
            bUncertain = bUncertain || p.mark == TrendMark::Uncertain;
            bBad = bBad || p.mark == TrendMark::Bad;
        }
    }
    if (bNumbers || m_series.empty()) {
        auto* pAxis = new QValueAxis(this);
        pAxis->setLabelFormat(QStringLiteral("%.6g"));
        addAxis(pAxis, Qt::AlignLeft);
        m_pValueAxis = pAxis;
    }
    if (nTextSeries > 0) {
        const Qt::Alignment side = m_pValueAxis ? Qt::AlignRight : Qt::AlignLeft;
        if (nTextSeries == 1 && nTexts <= kMaxAxisTexts) {
            auto* pAxis = new QCategoryAxis(this);
            pAxis->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
            for (std::size_t k = 0; k < pFirstText->texts.size(); ++k)
                pAxis->append(QFontMetricsF(pAxis->labelsFont())
                                  .elidedText(ui::ToQString(pFirstText->texts[k]), Qt::ElideRight, 120),
                              static_cast<qreal>(k));
            m_pTextAxis = pAxis;
        } else {
            auto* pAxis = new QValueAxis(this);
            pAxis->setLabelFormat(QStringLiteral("%d"));
            pAxis->setTitleText(QStringLiteral("Text"));
            m_pTextAxis = pAxis;
        }
        addAxis(m_pTextAxis, side);
    }

    // The legend: one empty series per item, in its colour, then the two marks when they occur.
    for (std::size_t i = 0; i < m_series.size(); ++i) {
        auto* pLegend = new QLineSeries(this);
        pLegend->setName(ui::ToQString(m_series[i].name));
        pLegend->setPen(QPen(SeriesColor(i), 2));
        addSeries(pLegend);
        pLegend->attachAxis(m_pTimeAxis);
        pLegend->attachAxis(AxisOf(i));
    }
    const auto addMarkLegend = [&](const char* pszName, QScatterSeries::MarkerShape shape, QColor color,
                                   bool bFilled) {
        auto* pLegend = new QScatterSeries(this);
        pLegend->setName(QString::fromLatin1(pszName));
        pLegend->setMarkerShape(shape);
        pLegend->setMarkerSize(kMarkSize + 2);
        pLegend->setPen(QPen(color, 1.5));
        pLegend->setBrush(bFilled ? QBrush(color) : QBrush(Qt::NoBrush));
        addSeries(pLegend);
        pLegend->attachAxis(m_pTimeAxis);
        pLegend->attachAxis(m_pValueAxis ? m_pValueAxis : m_pTextAxis);
    };
    if (bUncertain) addMarkLegend("Uncertain", QScatterSeries::MarkerShapeTriangle, kUncertainColor, false);
    if (bBad) addMarkLegend("Bad", QScatterSeries::MarkerShapeRectangle, kBadColor, true);

    m_pPlot = new CTrendPlot(this);
    const auto repaint = [this] { m_pPlot->update(); };
    connect(m_pTimeAxis, &QDateTimeAxis::rangeChanged, m_pPlot, repaint);
    for (QAbstractAxis* pAxis : {m_pValueAxis, m_pTextAxis})
        if (auto* pValue = qobject_cast<QValueAxis*>(pAxis))
            connect(pValue, &QValueAxis::rangeChanged, m_pPlot, repaint);
    ResetView();
}

QColor CTrendChart::SeriesColor(std::size_t nSeries) const {
    static const QColor palette[] = {QColor(0x1F, 0x5F, 0xBF), QColor(0x2E, 0x8B, 0x3E),
                                     QColor(0x8E, 0x3B, 0xB5), QColor(0x00, 0x8B, 0x8B),
                                     QColor(0x9A, 0x6A, 0x1C), QColor(0x5A, 0x5A, 0x5A),
                                     QColor(0xC0, 0x39, 0x7A), QColor(0x3B, 0x3B, 0x9E)};
    return palette[nSeries % (sizeof palette / sizeof palette[0])];
}

QAbstractAxis* CTrendChart::AxisOf(std::size_t nSeries) const {
    const bool bText = nSeries < m_series.size() && m_series[nSeries].bText;
    return bText ? m_pTextAxis : m_pValueAxis;
}

void CTrendChart::AxisRange(const QAbstractAxis* pAxis, double& min, double& max) {
    min = max = 0;
    if (const auto* pTime = qobject_cast<const QDateTimeAxis*>(pAxis)) {
        min = static_cast<double>(pTime->min().toMSecsSinceEpoch());
        max = static_cast<double>(pTime->max().toMSecsSinceEpoch());
    } else if (const auto* pValue = qobject_cast<const QValueAxis*>(pAxis)) {
        min = pValue->min();
        max = pValue->max();
    }
}

void CTrendChart::ResetView() {
    double t0 = 0, t1 = 0, v0 = 0, v1 = 0;
    bool bTime = false, bValue = false;
    std::size_t nLevels = 0;
    for (const TrendSeries& s : m_series) {
        if (!s.points.empty()) {
            t0 = bTime ? std::min(t0, s.FirstTime()) : s.FirstTime();
            t1 = bTime ? std::max(t1, s.LastTime()) : s.LastTime();
            bTime = true;
        }
        if (s.bText) {
            nLevels = std::max(nLevels, s.texts.size());
        } else if (s.HasValues()) {
            v0 = bValue ? std::min(v0, s.minValue) : s.minValue;
            v1 = bValue ? std::max(v1, s.maxValue) : s.maxValue;
            bValue = true;
        }
    }
    if (!bTime) t0 = t1 = static_cast<double>(QDateTime::currentMSecsSinceEpoch());
    Pad(t0, t1, 0.02, 2000);
    m_pTimeAxis->setRange(FromMs(t0), FromMs(t1));
    if (auto* pValue = qobject_cast<QValueAxis*>(m_pValueAxis)) {
        Pad(v0, v1, 0.05, 2);
        pValue->setRange(v0, v1);
    }
    if (auto* pText = qobject_cast<QValueAxis*>(m_pTextAxis))
        pText->setRange(-0.5, std::max<double>(1, static_cast<double>(nLevels)) - 0.5);
}

void CTrendChart::ZoomTimeAt(double x, double factor) {
    const QRectF area = plotArea();
    double t0 = 0, t1 = 0;
    AxisRange(m_pTimeAxis, t0, t1);
    if (area.width() < 1 || !(t1 > t0)) return;
    const double at = t0 + std::clamp((x - area.left()) / area.width(), 0.0, 1.0) * (t1 - t0);
    double n0 = at - (at - t0) * factor, n1 = at + (t1 - at) * factor;
    if (n1 - n0 < 10) return;  // the axis counts whole milliseconds
    m_pTimeAxis->setRange(FromMs(n0), FromMs(n1));
}

// ---- CTrendChartView ----

CTrendChartView::CTrendChartView(CTrendChart* pChart, QWidget* pParent)
    : QChartView(pChart, pParent), m_pChart(pChart) {
    setRubberBand(QChartView::RectangleRubberBand);
    setRenderHint(QPainter::Antialiasing, true);
    setFocusPolicy(Qt::StrongFocus);
}

void CTrendChartView::wheelEvent(QWheelEvent* pEvent) {
    const int d = pEvent->angleDelta().y();
    if (d == 0) return QChartView::wheelEvent(pEvent);
    m_pChart->ZoomTimeAt(m_pChart->mapFromScene(mapToScene(pEvent->position().toPoint())).x(),
                         d > 0 ? 0.8 : 1.25);
    pEvent->accept();
}

void CTrendChartView::mousePressEvent(QMouseEvent* pEvent) {
    const bool bPan = pEvent->button() == Qt::MiddleButton ||
                      (pEvent->button() == Qt::LeftButton && (pEvent->modifiers() & Qt::ShiftModifier));
    if (!bPan) return QChartView::mousePressEvent(pEvent);
    m_bPanning = true;
    m_lastPan = pEvent->position();
    setCursor(Qt::ClosedHandCursor);
    pEvent->accept();
}

void CTrendChartView::mouseMoveEvent(QMouseEvent* pEvent) {
    if (!m_bPanning) return QChartView::mouseMoveEvent(pEvent);
    const QPointF d = pEvent->position() - m_lastPan;
    m_lastPan = pEvent->position();
    m_pChart->scroll(-d.x(), d.y());
    pEvent->accept();
}

void CTrendChartView::mouseReleaseEvent(QMouseEvent* pEvent) {
    if (!m_bPanning) return QChartView::mouseReleaseEvent(pEvent);
    m_bPanning = false;
    unsetCursor();
    pEvent->accept();
}

void CTrendChartView::mouseDoubleClickEvent(QMouseEvent* pEvent) {
    m_pChart->ResetView();
    pEvent->accept();
}

void CTrendChartView::keyPressEvent(QKeyEvent* pEvent) {
    const QRectF area = m_pChart->plotArea();
    switch (pEvent->key()) {
        case Qt::Key_Home:
            m_pChart->ResetView();
            break;
        case Qt::Key_Left:
            m_pChart->scroll(-area.width() / 10, 0);
            break;
        case Qt::Key_Right:
            m_pChart->scroll(area.width() / 10, 0);
            break;
        case Qt::Key_Plus:
        case Qt::Key_Equal:
            m_pChart->ZoomTimeAt(area.center().x(), 0.8);
            break;
        case Qt::Key_Minus:
            m_pChart->ZoomTimeAt(area.center().x(), 1.25);
            break;
        default:
            return QChartView::keyPressEvent(pEvent);
    }
    pEvent->accept();
}
