#include "pictures.h"

#include <QBuffer>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace Tavrix {
namespace Dev {

namespace {

QByteArray toPng(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

QImage slide(int width, int height, const QColor &from, const QColor &to, const QColor &accent, int shapes)
{
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient background(0, 0, width, height);
    background.setColorAt(0, from);
    background.setColorAt(1, to);
    p.fillRect(image.rect(), background);

    // A shield on the left and a row of soft circles: recognisable without any text.
    QPainterPath shield;
    const qreal s = height * 0.7;
    const qreal x = height * 0.25;
    const qreal y = height * 0.15;
    shield.moveTo(x + s / 2, y);
    shield.lineTo(x + s, y + s * 0.2);
    shield.quadTo(x + s, y + s * 0.8, x + s / 2, y + s);
    shield.quadTo(x, y + s * 0.8, x, y + s * 0.2);
    shield.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 220));
    p.drawPath(shield);

    p.setBrush(accent);
    for (int i = 0; i < shapes; ++i) {
        const qreal r = height * (0.18 + 0.06 * (i % 3));
        p.setOpacity(0.35 + 0.15 * (i % 4));
        p.drawEllipse(QPointF(width * (0.35 + 0.6 * i / qMax(1, shapes)), height * (0.3 + 0.4 * (i % 2))), r, r);
    }
    p.end();
    return image;
}

} // namespace

QByteArray bannerPng(int number)
{
    switch (number) {
    case 1:
        return toPng(slide(550, 100, QColor(0x1d, 0x2b, 0x64), QColor(0xf8, 0xcd, 0xda), QColor(0xff, 0x9f, 0x51), 5));
    case 2:
        return toPng(slide(550, 100, QColor(0x13, 0x4e, 0x5e), QColor(0x71, 0xb2, 0x80), QColor(0xff, 0xff, 0xff), 7));
    case 3:
        return toPng(slide(550, 100, QColor(0x42, 0x27, 0x5a), QColor(0x73, 0x4b, 0x6d), QColor(0xff, 0xc0, 0x00), 4));
    }
    return QByteArray();
}

QByteArray featuresPng()
{
    return toPng(slide(500, 160, QColor(0xbe, 0x1e, 0x2d), QColor(0xff, 0x9f, 0x51), QColor(0xff, 0xff, 0xff), 6));
}

} // namespace Dev
} // namespace Tavrix
