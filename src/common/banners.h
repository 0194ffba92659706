#pragma once

#include <QByteArray>
#include <QString>

namespace Tavrix {

// Local files of the home banners' pictures.
namespace Banners {

// Larger downloads are dropped: a banner is a small strip (550 x 100).
constexpr qint64 MaxPictureBytes = 4 * 1024 * 1024;

// Where picture `index` is stored: "banner_<index>.<extension of the address's last part>".
QString storedFileName(const QString &folder, int index, const QString &imageUrl);
// What the slider loads for `index`: always the PNG name, so other formats are never shown.
QString shownFileName(const QString &folder, int index);

enum class StoreResult { Written, AlreadyThere, Truncated, TooLarge, Failed };

// Writes a downloaded picture all at once (a complete file or none). expectedBytes is the
// announced length (-1 when unknown): a shorter body is a cut download and is not kept. An
// existing file is left alone; logging out removes the pictures.
StoreResult store(const QString &fileName, const QByteArray &bytes, qint64 expectedBytes = -1);

} // namespace Banners
} // namespace Tavrix
