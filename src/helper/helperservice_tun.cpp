// The helper's verbs for the in-process OpenConnect session: a tun device of the caller's own,
// and its configuration from typed settings. OpenConnect runs in the window (the library
// speaks to the server there); the helper does only what needs the privilege.

#include <QDBusConnectionInterface>
#include <QDebug>

#include "helper/helperbus.h"
#include "helper/helperservice.h"
#include "helper/tundevice.h"
#include "helperproto/tunsettings.h"

namespace Tavrix {

namespace {
// systemd-resolved on the bus the helper serves: the system's resolver manager is running.
constexpr const char *resolvedName = "org.freedesktop.resolve1";
} // namespace

QString HelperService::CreateTun(QString &interfaceName, QDBusUnixFileDescriptor &device)
{
    TunnelOwners::Owner caller;
    if (!admitStart(&caller))
        return QString();
    auto *tun = new TunDevice(newTunnelId(), m_folder, this);
    QString error;
    if (!tun->create(&error)) {
        delete tun;
        refuse(HelperBus::errorFailed, QStringLiteral("The tunnel device could not be made: ") + error);
        return QString();
    }
    interfaceName = tun->interfaceName();
    // A duplicate goes with the reply; the helper keeps its own, so that the device stays
    // until the helper itself takes it down.
    device = QDBusUnixFileDescriptor(tun->fd());
    adopt(tun, caller, message());
    qInfo().noquote() << QStringLiteral("OpenConnect tun %1 for uid %2").arg(tun->interfaceName()).arg(caller.uid);
    return tun->id();
}

QString HelperService::ConfigureTun(const QString &tunnelId, const QVariantMap &settings)
{
    TunnelOwners::Owner caller;
    if (!authorize(&caller))
        return QString();
    Tunnel *tunnel = ownTunnel(tunnelId, caller);
    if (!tunnel)
        return QString();
    auto *tun = qobject_cast<TunDevice *>(tunnel);
    if (!tun || tun->hasEnded()) {
        refuse(HelperBus::errorInvalidRequest, QStringLiteral("This tunnel has no device to configure."));
        return QString();
    }
    HelperProto::TunSettings parsed;
    QString error;
    if (!HelperProto::readTunSettings(settings, &parsed, &error)) {
        qWarning().noquote() << QStringLiteral("Refused tunnel settings of uid %1: %2").arg(caller.uid).arg(error);
        refuse(HelperBus::errorInvalidRequest, QStringLiteral("The tunnel settings were refused: ") + error);
        return QString();
    }
    const bool resolved = m_bus.interface()->isServiceRegistered(QLatin1String(resolvedName)).value();
    QString dnsState;
    if (!tun->configure(parsed, resolved, &dnsState, &error)) {
        refuse(HelperBus::errorFailed, error);
        return QString();
    }
    return dnsState;
}

} // namespace Tavrix
