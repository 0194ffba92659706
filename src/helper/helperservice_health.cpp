// The helper's tunnel health verb: what a caller's own WireGuard device says about its peer,
// so that the window can tell a tunnel that stopped carrying traffic from a quiet one.

#include <QDBusConnectionInterface>
#include <QDBusReply>

#include "helper/helperbus.h"
#include "helper/helperservice.h"
#include "helper/wireguardtunnel.h"
#include "helperproto/wireguardstats.h"

namespace Tavrix {

namespace {
// The engine answers at once; a stuck one must not hold the helper's loop.
constexpr int readTimeoutMs = 500;
} // namespace

qlonglong HelperService::WireGuardHealth(const QString &tunnelId, qulonglong &rxBytes, qulonglong &txBytes)
{
    rxBytes = 0;
    txBytes = 0;
    // Read-only and limited to the caller's own tunnel, as Status is: no polkit prompt for a
    // check that runs every few seconds.
    TunnelOwners::Owner caller;
    caller.busName = message().service();
    const QDBusReply<uint> uid = m_bus.interface()->serviceUid(caller.busName);
    if (!uid.isValid()) {
        refuse(HelperBus::errorNotAuthorized, QStringLiteral("The caller could not be identified."));
        return -1;
    }
    caller.uid = uid.value();
    Tunnel *tunnel = ownTunnel(tunnelId, caller);
    if (!tunnel)
        return -1;
    auto *wireGuard = qobject_cast<WireGuardTunnel *>(tunnel);
    if (!wireGuard) {
        refuse(HelperBus::errorInvalidRequest, QStringLiteral("This tunnel is not a WireGuard tunnel."));
        return -1;
    }
    if (wireGuard->interfaceName().isEmpty()) {
        refuse(HelperBus::errorFailed, QStringLiteral("The tunnel is not up yet."));
        return -1;
    }
    QString error;
    const HelperProto::WireGuardStats stats =
        HelperProto::readWireGuardStats(wireGuard->interfaceName(), readTimeoutMs, &error);
    if (!stats.ok) {
        refuse(HelperBus::errorFailed, QStringLiteral("The tunnel's device could not be read: ") + error);
        return -1;
    }
    rxBytes = stats.rxBytes;
    txBytes = stats.txBytes;
    return stats.handshakeAgeSeconds;
}

} // namespace Tavrix
