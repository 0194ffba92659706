#include "ui/servers/circularflag.h"

#include <QImage>
#include <QPainter>

#include "common/countryflags.h"

namespace Tavrix {

QPixmap circularPixmap(const QPixmap &source, int height)
{
    if (source.isNull())
        return QPixmap();
    const QImage image = source.toImage().convertToFormat(QImage::Format_ARGB32);
    const int side = qMin(image.width(), image.height());
    const QImage square = image.copy((image.width() - side) / 2, (image.height() - side) / 2, side, side);

    QImage round(side, side, QImage::Format_ARGB32);
    round.fill(Qt::transparent);
    QPainter painter(&round);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QBrush(square));
    painter.drawEllipse(0, 0, side, side);
    painter.end();

    return QPixmap::fromImage(round).scaledToHeight(height, Qt::SmoothTransformation);
}

QPixmap circularFlag(int countryCode, int height)
{
    return circularPixmap(QPixmap(iconPath(countryCode)), height);
}

} // namespace Tavrix
