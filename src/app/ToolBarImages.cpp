#include "app/ToolBarImages.h"

#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QtMath>

namespace {

// Everything is drawn on a 32 x 32 grid and scaled to the size asked for.
constexpr qreal kGrid = 32.0;

const QColor kActiveArrow(0, 150, 40);
const QColor kStoppedArrow(150, 150, 150);
const QColor kOutline(60, 60, 60);
const QColor kStopSign(200, 30, 30);

void DrawTray(QPainter& painter) {
    QPen pen(kOutline, 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawPolyline(QPolygonF({{4, 19}, {4, 28}, {28, 28}, {28, 19}}));
}

// A broad arrow along the vertical middle, pointing down (into the tray) or up (out of it).
void DrawArrow(QPainter& painter, bool down, const QColor& colour) {
    QPolygonF arrow =
        down ? QPolygonF({{12, 2}, {20, 2}, {20, 12}, {26, 12}, {16, 24}, {6, 12}, {12, 12}})
             : QPolygonF({{16, 1}, {26, 12}, {20, 12}, {20, 23}, {12, 23}, {12, 12}, {6, 12}});
    painter.setPen(QPen(colour.darker(140), 1.2));
    painter.setBrush(colour);
    painter.drawPolygon(arrow);
}

// A stopped monitor carries a small red stop sign in its upper right corner.
void DrawStopSign(QPainter& painter) {
    painter.setPen(QPen(Qt::white, 1.2));
    painter.setBrush(kStopSign);
    painter.drawEllipse(QRectF(20, 0, 12, 12));
    painter.setPen(QPen(Qt::white, 2.0, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(23, 6), QPointF(29, 6));
}

void DrawGear(QPainter& painter) {
    const QPointF centre(16, 16);
    QPainterPath gear;
    const int teeth = 8;
    for (int i = 0; i < teeth * 2; ++i) {
        // Alternate outer (tooth) and inner radius, two points per step for square teeth.
        const qreal radius = (i % 2 == 0) ? 14.5 : 11.0;
        const qreal from = (i - 0.5) * M_PI / teeth + 0.12;
        const qreal to = (i + 0.5) * M_PI / teeth - 0.12;
        const QPointF a = centre + QPointF(qCos(from), qSin(from)) * radius;
        const QPointF b = centre + QPointF(qCos(to), qSin(to)) * radius;
        if (i == 0)
            gear.moveTo(a);
        else
            gear.lineTo(a);
        gear.lineTo(b);
    }
    gear.closeSubpath();
    gear.addEllipse(centre, 4.5, 4.5); // the hole (odd-even fill leaves it open)
    gear.setFillRule(Qt::OddEvenFill);
    painter.setPen(QPen(kOutline, 1.2));
    painter.setBrush(QColor(120, 130, 150));
    painter.drawPath(gear);
}

} // namespace

QPixmap DrawToolBarImage(TToolBarImage role, int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / kGrid, size / kGrid);
    switch (role) {
    case tiImportActive:
    case tiImportStopped:
        DrawTray(painter);
        DrawArrow(painter, true, role == tiImportActive ? kActiveArrow : kStoppedArrow);
        if (role == tiImportStopped)
            DrawStopSign(painter);
        break;
    case tiExportActive:
    case tiExportStopped:
        DrawTray(painter);
        DrawArrow(painter, false, role == tiExportActive ? kActiveArrow : kStoppedArrow);
        if (role == tiExportStopped)
            DrawStopSign(painter);
        break;
    case tiSettings:
    case tiImageCount:
        DrawGear(painter);
        break;
    }
    return pixmap;
}

TImageList::TImageList(int size) : size_(size) {
    for (int i = 0; i < tiImageCount; ++i)
        images_.push_back(DrawToolBarImage(static_cast<TToolBarImage>(i), size));
}

QIcon ToolButtonIcon(const TImageList& large, const TImageList& small, int index) {
    QIcon icon;
    icon.addPixmap(large.Image(index), QIcon::Normal);
    icon.addPixmap(small.Image(index), QIcon::Active);
    return icon;
}

QIcon ApplicationIcon() {
    // Both directions at once: an arrow down and an arrow up over one tray.
    QIcon icon;
    for (int size : {16, 32, 48, 64}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(size / kGrid, size / kGrid);
        DrawTray(painter);
        painter.save();
        painter.translate(-6, 2);
        painter.scale(1.0, 0.9);
        DrawArrow(painter, true, QColor(30, 90, 200));
        painter.restore();
        painter.translate(6, 0);
        painter.scale(1.0, 0.9);
        DrawArrow(painter, false, kActiveArrow);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}
