#include <QDir>
#include <QUuid>

#include "platform/privatefiles.h"

namespace Tavrix {

bool openOwnerOnlyForAppend(QFile &file, QString *error)
{
    // The program folder and the per-user temporary folder already carry owner-only ACLs
    // for what the user creates there; keep the read-only attribute off.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    return true;
}

QString makePrivateFolder(const QString &prefix)
{
    // %TEMP% is below the user's profile, which other users cannot enter.
    const QString path =
        QDir::tempPath() + QLatin1Char('/') + prefix + QUuid::createUuid().toString(QUuid::WithoutBraces);
    if (!QDir().mkdir(path))
        return QString();
    return path;
}

} // namespace Tavrix
