#include <QSettings>
#include <QSysInfo>
#include <QUuid>

#include "platform/deviceinfo.h"

namespace Tavrix {
namespace DeviceInfo {

QString machineId()
{
    const QByteArray systemId = QSysInfo::machineUniqueId();
    if (!systemId.isEmpty())
        return QString::fromLatin1(systemId);

    QSettings settings(QStringLiteral("Quennark"), QStringLiteral("TavrixVPN"));
    const QString key = QStringLiteral("Application/machineUniqueId");
    QString id = settings.value(key).toString();
    if (id.isEmpty()) {
        id = QUuid::createUuid().toString(QUuid::Id128);
        settings.setValue(key, id);
    }
    return id;
}

} // namespace DeviceInfo
} // namespace Tavrix
