#include "resources/icons_lists.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace ui {

namespace {

const QColor kOutline(0x40, 0x40, 0x40);
const QColor kRed(0xE0, 0x3A, 0x2E);
const QColor kBlue(0x3A, 0x6F, 0xD0);

// A list of item IDs: a sheet with a line per item.
void DrawList(QPainter& p) {
    p.setPen(kOutline);
    p.setBrush(Qt::white);
    p.drawRect(0, 0, 9, 13);
    p.setPen(kBlue);
    for (int y = 3; y <= 10; y += 2) p.drawLine(2, y, 7, y);
}

// A clock face with its hands at ten past ten.
void DrawClock(QPainter& p, const QRectF& face) {
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(QPen(kOutline, 1));
    p.setBrush(QColor(0xFF, 0xF0, 0xB0));
    p.drawEllipse(face);
    const QPointF c = face.center();
    p.setPen(QPen(kOutline, 1.2));
    p.drawLine(c, c + QPointF(-face.width() * 0.22, -face.height() * 0.16));
    p.drawLine(c, c + QPointF(face.width() * 0.28, -face.height() * 0.22));
    p.setRenderHint(QPainter::Antialiasing, false);
}

QPixmap Blank() {
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

}  // namespace

QIcon ListsAndTimeImage(int nIndex) {
    QPixmap pixmap = Blank();
    QPainter p(&pixmap);
    switch (nIndex) {
        case kSaveItemsImage: {
            // The list, and a red arrow from it down into a tray.
            DrawList(p);
            p.setPen(kRed);
            p.setBrush(kRed);
            p.drawRect(12, 5, 1, 5);
            p.drawPolygon(QPolygon({QPoint(10, 10), QPoint(15, 10), QPoint(12, 13)}));
            p.setPen(kOutline);
            p.drawLine(9, 15, 15, 15);
            break;
        }
        case kLoadItemsImage: {
            // The list, and a blue arrow from the right into it.
            DrawList(p);
            p.setPen(kBlue);
            p.setBrush(kBlue);
            p.drawRect(11, 11, 4, 1);
            p.drawPolygon(QPolygon({QPoint(11, 8), QPoint(11, 14), QPoint(8, 11)}));
            break;
        }
        case kTimeLocalImage:
            DrawClock(p, QRectF(1.5, 1.5, 13, 13));
            break;
        case kTimeInstantImage: {
            // The clock, and the red arrow of an hour moved forward.
            DrawClock(p, QRectF(0.5, 0.5, 11, 11));
            p.setRenderHint(QPainter::Antialiasing, true);
            p.setPen(QPen(kRed, 1.5));
            p.setBrush(Qt::NoBrush);
            QPainterPath arc;
            arc.moveTo(6, 14.5);
            arc.quadTo(13.5, 14.5, 13.5, 8);
            p.drawPath(arc);
            p.setBrush(kRed);
            p.setPen(Qt::NoPen);
            p.drawPolygon(QPolygonF({QPointF(11, 9), QPointF(16, 9), QPointF(13.5, 5.5)}));
            break;
        }
        case kTimeUtcImage: {
            // A globe with its meridian and equator.
            p.setRenderHint(QPainter::Antialiasing, true);
            p.setPen(QPen(kOutline, 1));
            p.setBrush(QColor(0xC8, 0xDC, 0xFF));
            p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
            p.setPen(QPen(kBlue, 1));
            p.setBrush(Qt::NoBrush);
            p.drawEllipse(QRectF(5, 1.5, 6, 13));
            p.drawLine(QPointF(1.5, 8), QPointF(14.5, 8));
            p.drawLine(QPointF(3, 4.5), QPointF(13, 4.5));
            p.drawLine(QPointF(3, 11.5), QPointF(13, 11.5));
            break;
        }
        default:
            return {};
    }
    p.end();
    return QIcon(pixmap);
}

}  // namespace ui
