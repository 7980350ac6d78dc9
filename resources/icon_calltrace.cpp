#include "resources/icon_calltrace.h"

#include <QPainter>
#include <QPixmap>

namespace ui {

QIcon CallTraceImage() {
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    // The page: a white sheet with a dark edge.
    p.setPen(QColor(0x40, 0x40, 0x40));
    p.setBrush(Qt::white);
    p.drawRect(1, 0, 10, 14);
    // Its lines, one per call.
    p.setPen(QColor(0x00, 0x00, 0x80));
    for (int y = 3; y <= 11; y += 2) p.drawLine(3, y, y == 11 ? 5 : 9, y);
    // The clock over its corner: the calls are timed.
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(QPen(QColor(0x80, 0x00, 0x00), 1));
    p.setBrush(QColor(0xFF, 0xF0, 0xB0));
    p.drawEllipse(QRectF(7.5, 7.5, 8, 8));
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(QColor(0x80, 0x00, 0x00));
    p.drawLine(11, 9, 11, 11);
    p.drawLine(11, 11, 13, 11);
    p.end();
    return QIcon(pixmap);
}

}  // namespace ui
