#include "statusindicator.h"

#include <QPainter>
#include <QPainterPath>

#include <cmath>

StatusIndicator::StatusIndicator(Kind kind, int iconSize, QWidget *parent)
    : QWidget(parent)
    , kind(kind)
    , iconSize(iconSize)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize StatusIndicator::sizeHint() const
{
    return QSize(iconSize, iconSize);
}

void StatusIndicator::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    // An e-ink screen: the glyph is dark on a light ground, which the add-on
    // measures to line its own icon up with this one.
    painter.fillRect(rect(), Qt::white);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal side = qMin(width(), height());
    painter.translate((width() - side) / 2, (height() - side) / 2);
    switch (kind) {
    case Kind::Frontlight:
        drawFrontlight(painter, side);
        break;
    case Kind::Wifi:
        drawWifi(painter, side);
        break;
    case Kind::Battery:
        drawBattery(painter, side);
        break;
    case Kind::Search:
        drawSearch(painter, side);
        break;
    }
}

void StatusIndicator::drawFrontlight(QPainter &painter, qreal side) const
{
    painter.setPen(QPen(Qt::black, side / 14, Qt::SolidLine, Qt::RoundCap));
    const QPointF centre(side / 2, side / 2);
    painter.drawEllipse(centre, side * 0.16, side * 0.16);
    for (int ray = 0; ray < 8; ++ray) {
        const qreal angle = ray * M_PI / 4;
        const QPointF direction(std::cos(angle), std::sin(angle));
        painter.drawLine(centre + direction * side * 0.27, centre + direction * side * 0.38);
    }
}

void StatusIndicator::drawWifi(QPainter &painter, qreal side) const
{
    painter.setPen(QPen(Qt::black, side / 12, Qt::SolidLine, Qt::RoundCap));
    const QPointF base(side / 2, side * 0.74);
    for (int arc = 1; arc <= 3; ++arc) {
        const qreal radius = side * 0.14 * arc;
        painter.drawArc(QRectF(base.x() - radius, base.y() - radius, 2 * radius, 2 * radius),
                        45 * 16, 90 * 16);
    }
    painter.setBrush(Qt::black);
    painter.drawEllipse(base, side / 24, side / 24);
}

void StatusIndicator::drawBattery(QPainter &painter, qreal side) const
{
    const qreal pen = side / 16;
    painter.setPen(QPen(Qt::black, pen));
    const QRectF body(side * 0.12, side * 0.32, side * 0.68, side * 0.36);
    painter.drawRoundedRect(body, pen, pen);
    painter.fillRect(QRectF(body.right() + pen / 2, side * 0.42, side * 0.08, side * 0.16),
                     Qt::black);
    const QRectF charge = body.adjusted(2 * pen, 2 * pen, -2 * pen, -2 * pen);
    painter.fillRect(QRectF(charge.topLeft(), QSizeF(charge.width() * 0.7, charge.height())),
                     Qt::black);
}

void StatusIndicator::drawSearch(QPainter &painter, qreal side) const
{
    painter.setPen(QPen(Qt::black, side / 11, Qt::SolidLine, Qt::RoundCap));
    const QPointF lens(side * 0.43, side * 0.43);
    const qreal radius = side * 0.2;
    painter.drawEllipse(lens, radius, radius);
    const qreal reach = radius / std::sqrt(2.0);
    painter.setPen(QPen(Qt::black, side / 8, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(lens + QPointF(reach, reach), QPointF(side * 0.78, side * 0.78));
}
