#pragma once

#include <QPixmap>
#include <QSize>
#include <QString>

namespace Tavrix {

// The pictures of the server list, scaled (keeping the aspect ratio) and optionally turned by
// a multiple of 90 degrees. The list is rebuilt on every search keystroke and shows the same
// few dozen flags and icons over and over: each is decoded and scaled once, then shared.
// A picture that does not load gives a null pixmap.
QPixmap serverListPicture(const QString &path, const QSize &size, int rotation = 0);

} // namespace Tavrix
