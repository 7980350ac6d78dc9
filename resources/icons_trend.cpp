#include "resources/icons_trend.h"

#include <QPainter>
#include <QPixmap>

namespace ui {

QIcon TrendToolbarImage() {
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    // The axes.
    p.setPen(QColor(0x40, 0x40, 0x40));
    p.drawLine(1, 1, 1, 14);
    p.drawLine(1, 14, 14, 14);
    // The line, rising with a dip.
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(QPen(QColor(0x1F, 0x5F, 0xBF), 1.6));
    const QPointF line[] = {{2.5, 11.5}, {5.5, 8.5}, {8, 10.5}, {11, 4.5}, {14.5, 2.5}};
    p.drawPolyline(line, 5);
    // A Bad point.
    p.setRenderHint(QPainter::Antialiasing, false);
    p.fillRect(7, 9, 3, 3, QColor(0xD0, 0x00, 0x00));
    p.end();
    return QIcon(pixmap);
}

}  // namespace ui
