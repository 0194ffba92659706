#include "ui/servers/serverlisticons.h"

#include <QHash>
#include <QTransform>

namespace Tavrix {

QPixmap serverListPicture(const QString &path, const QSize &size, int rotation)
{
    // A plain table rather than QPixmapCache: it is small (one entry per flag or icon and
    // size) and must never evict what the next rebuild needs again.
    static QHash<QString, QPixmap> cache;
    const QString key = QStringLiteral("%1|%2x%3|%4").arg(path).arg(size.width()).arg(size.height()).arg(rotation);
    auto found = cache.constFind(key);
    if (found != cache.constEnd())
        return *found;

    QPixmap picture(path);
    if (!picture.isNull()) {
        if (rotation % 360 != 0)
            picture = picture.transformed(QTransform().rotate(rotation), Qt::SmoothTransformation);
        picture = picture.scaled(size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    }
    cache.insert(key, picture);
    return picture;
}

} // namespace Tavrix
