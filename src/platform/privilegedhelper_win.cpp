#include "platform/privilegedhelper.h"

namespace Tavrix {
namespace PrivilegedHelper {

// Windows starts its engines elevated and runs the firewall through its own service.
bool isAvailable()
{
    return false;
}

Started startOpenVpn(const QString &profile)
{
    Q_UNUSED(profile)
    return {false, QString(), -1, QStringLiteral("no helper on this system")};
}

Started startWireGuard(const QString &configuration)
{
    Q_UNUSED(configuration)
    return {false, QString(), -1, QStringLiteral("no helper on this system")};
}

bool stop(const QString &tunnelId, QString *error)
{
    Q_UNUSED(tunnelId)
    if (error)
        *error = QStringLiteral("no helper on this system");
    return false;
}

void stopLater(const QString &tunnelId, QObject *context, std::function<void()> done)
{
    Q_UNUSED(tunnelId)
    QMetaObject::invokeMethod(context, std::move(done), Qt::QueuedConnection);
}

void watchOutput(QObject *context, std::function<void(const QString &tunnelId, const QString &line)> lineRead)
{
    Q_UNUSED(context)
    Q_UNUSED(lineRead)
}

bool isRunning(const QString &tunnelId)
{
    Q_UNUSED(tunnelId)
    return false;
}

// kill switch
bool setKillSwitch(const HelperProto::KillSwitchRequest &request, QString *error)
{
    Q_UNUSED(request)
    if (error)
        *error = QStringLiteral("no privileged helper on this system");
    return false;
}

// OpenConnect tun device
TunDevice createTun()
{
    TunDevice device;
    device.error = QStringLiteral("no helper on this system");
    return device;
}

bool configureTun(const QString &tunnelId, const QVariantMap &settings, QString *dnsState, QString *error)
{
    Q_UNUSED(tunnelId)
    Q_UNUSED(settings)
    Q_UNUSED(dnsState)
    *error = QStringLiteral("no helper on this system");
    return false;
}

// Outline and split tunnelling
Started startOutline(const QString &host, uint port, const QString &password, const QString &method)
{
    Q_UNUSED(host)
    Q_UNUSED(port)
    Q_UNUSED(password)
    Q_UNUSED(method)
    Started started;
    started.error = QStringLiteral("the helper service is not available on this system");
    return started;
}

bool setBypassPrograms(const QStringList &programs, QString *error)
{
    Q_UNUSED(programs)
    if (error)
        *error = QStringLiteral("the helper service is not available on this system");
    return false;
}

// Tunnel health
HelperProto::WireGuardStats wireGuardHealth(const QString &tunnelId, QString *error)
{
    Q_UNUSED(tunnelId)
    *error = QStringLiteral("the helper is not available on this system");
    return HelperProto::WireGuardStats();
}

} // namespace PrivilegedHelper
} // namespace Tavrix
