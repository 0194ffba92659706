#include "common/banners.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

namespace Tavrix {
namespace Banners {

QString storedFileName(const QString &folder, int index, const QString &imageUrl)
{
    const QString last = imageUrl.section(QLatin1Char('/'), -1);
    const int dot = last.lastIndexOf(QLatin1Char('.'));
    const QString extension = dot >= 0 ? last.mid(dot + 1) : last;
    return folder + QStringLiteral("banner_") + QString::number(index) + QLatin1Char('.') + extension;
}

QString shownFileName(const QString &folder, int index)
{
    return folder + QStringLiteral("banner_") + QString::number(index) + QStringLiteral(".png");
}

StoreResult store(const QString &fileName, const QByteArray &bytes, qint64 expectedBytes)
{
    if (bytes.size() > MaxPictureBytes || expectedBytes > MaxPictureBytes) {
        qWarning().noquote() << "Banner picture too large, not kept:" << fileName;
        return StoreResult::TooLarge;
    }
    if (expectedBytes >= 0 && bytes.size() != expectedBytes) {
        qWarning().noquote() << "Banner download incomplete, not kept:" << fileName << bytes.size() << "of"
                             << expectedBytes << "bytes";
        return StoreResult::Truncated;
    }
    const QFileInfo info(fileName);
    if (!QDir().mkpath(info.absolutePath())) {
        qWarning().noquote() << "Failed to create directory: " + info.absolutePath();
        return StoreResult::Failed;
    }
    if (info.exists())
        return StoreResult::AlreadyThere;
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        qWarning().noquote() << "File not accessible or no write permissions: " + fileName;
        return StoreResult::Failed;
    }
    return StoreResult::Written;
}

} // namespace Banners
} // namespace Tavrix
