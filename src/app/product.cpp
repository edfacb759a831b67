#include "app/product.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace app {

// A night-blue tile with a crescent moon over a leaf: rest and recovery,
// quiet enough to sit on a hospital desktop.
QPixmap productPicture(int side, qreal devicePixelRatio)
{
    QPixmap pixmap(QSize(side, side) * devicePixelRatio);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    pixmap.fill(Qt::transparent);

    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal s = side;

    QLinearGradient sky(0, 0, 0, s);
    sky.setColorAt(0.0, QColor(0x1f, 0x3b, 0x5c));
    sky.setColorAt(1.0, QColor(0x2f, 0x6f, 0x7a));
    painter.setPen(Qt::NoPen);
    painter.setBrush(sky);
    painter.drawRoundedRect(QRectF(0, 0, s, s), s * 0.18, s * 0.18);

    // The crescent: a full disc less a disc shifted towards the upper right.
    QPainterPath moon;
    moon.addEllipse(QRectF(s * 0.22, s * 0.14, s * 0.44, s * 0.44));
    QPainterPath shadow;
    shadow.addEllipse(QRectF(s * 0.34, s * 0.08, s * 0.42, s * 0.42));
    painter.setBrush(QColor(0xf4, 0xe9, 0xc8));
    painter.drawPath(moon.subtracted(shadow));

    // The leaf: two arcs meeting at its tips, with a mid-rib.
    const QPointF base(s * 0.30, s * 0.84);
    const QPointF tip(s * 0.78, s * 0.56);
    QPainterPath leaf(base);
    leaf.quadTo(QPointF(s * 0.40, s * 0.52), tip);
    leaf.quadTo(QPointF(s * 0.70, s * 0.88), base);
    painter.setBrush(QColor(0x9f, 0xd8, 0xb0));
    painter.drawPath(leaf);
    QPen rib(QColor(0x2f, 0x6f, 0x7a), qMax(1.0, s * 0.02));
    rib.setCapStyle(Qt::RoundCap);
    painter.setPen(rib);
    painter.setBrush(Qt::NoBrush);
    painter.drawLine(base, base + (tip - base) * 0.8);
    return pixmap;
}

} // namespace app
