#include <QCoreApplication>
#include <QDir>

#include "platform/paths.h"

namespace Tavrix {

QString engineFolder()
{
    const QString path = QStringLiteral("C:/ProgramData/TavrixVPN/");
    QDir().mkpath(path);
    return path;
}

QString bannerFolder()
{
    return QStringLiteral("C://Users//Public//Pictures//");
}

QString logFilePath()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/logger.txt");
}

} // namespace Tavrix
