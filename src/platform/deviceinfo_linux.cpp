#include <QFile>

#include "platform/deviceinfo.h"

namespace Tavrix {
namespace DeviceInfo {

namespace {

// DMI strings are world-readable on most machines; containers and some boards lack them.
QString readDmi(const char *name)
{
    QFile file(QStringLiteral("/sys/class/dmi/id/") + QLatin1String(name));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("Unknown");
    const QString value = QString::fromUtf8(file.readAll()).trimmed();
    return value.isEmpty() ? QStringLiteral("Unknown") : value;
}

} // namespace

ComputerSystem computerSystem()
{
    static const ComputerSystem system = [] {
        ComputerSystem s;
        s.manufacturer = readDmi("sys_vendor");
        s.model = readDmi("product_name");
        return s;
    }();
    return system;
}

} // namespace DeviceInfo
} // namespace Tavrix
