#include <QSettings>

#include "platform/systemproxy.h"

namespace Tavrix {
namespace SystemProxy {

namespace {

const QString internetSettings =
    QStringLiteral("HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings");

bool written(QSettings &settings, QString *where, const QString &what)
{
    settings.sync();
    const bool ok = settings.status() == QSettings::NoError;
    if (where)
        *where = ok ? what : QStringLiteral("the Internet settings could not be written");
    return ok;
}

} // namespace

bool enable(const QString &server, QString *where)
{
    QSettings settings(internetSettings, QSettings::NativeFormat);
    settings.setValue(QStringLiteral("ProxyServer"), server);
    settings.setValue(QStringLiteral("ProxyEnable"), 1);
    return written(settings, where, QStringLiteral("the Internet settings"));
}

bool disable(QString *where)
{
    QSettings settings(internetSettings, QSettings::NativeFormat);
    settings.setValue(QStringLiteral("ProxyEnable"), 0);
    return written(settings, where, QStringLiteral("the Internet settings"));
}

bool isOn(const QString &server)
{
    const QSettings settings(internetSettings, QSettings::NativeFormat);
    return settings.value(QStringLiteral("ProxyEnable")).toInt() == 1 &&
           settings.value(QStringLiteral("ProxyServer")).toString() == server;
}

bool hasSavedSettings()
{
    // The Internet settings keep the user's server entry; nothing is saved aside.
    return false;
}

} // namespace SystemProxy
} // namespace Tavrix
