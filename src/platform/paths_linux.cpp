#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include "platform/paths.h"

namespace Tavrix {

namespace {

QString ensureFolder(const QString &path)
{
    QDir().mkpath(path);
    return path.endsWith(QLatin1Char('/')) ? path : path + QLatin1Char('/');
}

} // namespace

QString engineFolder()
{
    // $XDG_DATA_HOME/TavrixVPN/ (default ~/.local/share/TavrixVPN/).
    return ensureFolder(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                        QStringLiteral("/TavrixVPN"));
}

QString bannerFolder()
{
    return ensureFolder(QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
                        QStringLiteral("/TavrixVPN/banners"));
}

QString logFilePath()
{
    const QString appDir = QCoreApplication::applicationDirPath();
    const QFileInfo dir(appDir);
    // A system-wide installation (/usr/bin) is not writable for the user.
    if (!appDir.isEmpty() && dir.isDir() && dir.isWritable())
        return appDir + QStringLiteral("/logger.txt");
    return engineFolder() + QStringLiteral("logger.txt");
}

} // namespace Tavrix
