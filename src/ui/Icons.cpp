#include "ui/Icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

// All drawing is done on a 16-unit grid and scaled to the pixmap size.
void DrawShape(QPainter& p, IconKind kind)
{
    p.setPen(QPen(QColor(40, 40, 40), 1));
    switch (kind) {
    case IconKind::Root:
        p.setBrush(QColor(70, 110, 190));
        p.drawRect(QRectF(1.5, 2.5, 13, 9));
        p.setBrush(QColor(190, 220, 255));
        p.drawRect(QRectF(3.5, 4.5, 9, 5));
        p.setBrush(QColor(90, 90, 90));
        p.drawRect(QRectF(5.5, 12.5, 5, 2));
        break;
    case IconKind::Group: {
        p.setBrush(QColor(235, 190, 70));
        QPainterPath path;
        path.moveTo(1.5, 4.5);
        path.lineTo(6.5, 4.5);
        path.lineTo(7.5, 3.0);
        path.lineTo(14.5, 3.0);
        path.lineTo(14.5, 13.5);
        path.lineTo(1.5, 13.5);
        path.closeSubpath();
        p.drawPath(path);
        p.drawLine(QPointF(1.5, 6.5), QPointF(14.5, 6.5));
        break;
    }
    case IconKind::Projector:
        p.setBrush(QColor(200, 200, 210));
        p.drawRoundedRect(QRectF(1.5, 5.5, 13, 7), 1.5, 1.5);
        p.setBrush(QColor(60, 130, 220));
        p.drawEllipse(QRectF(9.5, 6.5, 4, 4));
        p.setBrush(QColor(80, 80, 80));
        p.drawRect(QRectF(3.5, 12.5, 2, 2));
        p.drawRect(QRectF(10.5, 12.5, 2, 2));
        break;
    case IconKind::Delete:
        p.setPen(QPen(QColor(200, 30, 30), 2.5, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(3.5, 3.5), QPointF(12.5, 12.5));
        p.drawLine(QPointF(12.5, 3.5), QPointF(3.5, 12.5));
        break;
    case IconKind::Edit:
        p.setBrush(QColor(240, 200, 80));
        p.drawPolygon(QPolygonF({QPointF(2, 14), QPointF(3, 10), QPointF(11, 2), QPointF(14, 5),
                                 QPointF(6, 13)}));
        break;
    case IconKind::Refresh:
        p.setPen(QPen(QColor(30, 140, 60), 2));
        p.setBrush(Qt::NoBrush);
        p.drawArc(QRectF(3, 3, 10, 10), 30 * 16, 300 * 16);
        p.setBrush(QColor(30, 140, 60));
        p.setPen(Qt::NoPen);
        p.drawPolygon(QPolygonF({QPointF(10, 1), QPointF(15, 5), QPointF(9, 7)}));
        break;
    case IconKind::PowerOn:
    case IconKind::PowerOff: {
        const QColor color = kind == IconKind::PowerOn ? QColor(30, 160, 60) : QColor(200, 40, 40);
        p.setPen(QPen(color, 2, Qt::SolidLine, Qt::RoundCap));
        p.setBrush(Qt::NoBrush);
        p.drawArc(QRectF(2.5, 3.5, 11, 11), 120 * 16, 300 * 16);
        p.drawLine(QPointF(8, 1.5), QPointF(8, 8));
        break;
    }
    case IconKind::ScheduleStart:
    case IconKind::ScheduleStop:
        p.setBrush(Qt::white);
        p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
        p.drawLine(QPointF(8, 8), QPointF(8, 4));
        p.drawLine(QPointF(8, 8), QPointF(11, 8));
        if (kind == IconKind::ScheduleStart) {
            p.setBrush(QColor(30, 160, 60));
            p.drawPolygon(QPolygonF({QPointF(9, 9), QPointF(15, 12), QPointF(9, 15)}));
        } else {
            p.setBrush(QColor(200, 40, 40));
            p.drawRect(QRectF(9.5, 9.5, 5.5, 5.5));
        }
        break;
    }
}

QPixmap Render(int size, IconKind kind, bool plus)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 16.0, size / 16.0);
    DrawShape(p, kind);
    if (plus) {
        p.setPen(QPen(QColor(20, 120, 20), 2));
        p.drawLine(QPointF(12, 9), QPointF(12, 15));
        p.drawLine(QPointF(9, 12), QPointF(15, 12));
    }
    return pixmap;
}

QIcon Make(IconKind kind, bool plus)
{
    QIcon icon;
    icon.addPixmap(Render(16, kind, plus));
    icon.addPixmap(Render(32, kind, plus));
    return icon;
}

} // namespace

QIcon ProgramIcon(IconKind kind)
{
    return Make(kind, false);
}

QIcon AddIcon(IconKind item)
{
    return Make(item, true);
}
