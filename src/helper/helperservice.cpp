#include "helper/helperservice.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDebug>
#include <QUuid>

#include <unistd.h>

#include "helper/helperbus.h"
#include "helper/openvpntunnel.h"
#include "helper/polkitcheck.h"
#include "helper/proto.h"
#include "helper/wireguardtunnel.h"
// kill switch
#include "helper/killswitchkeeper.h"

namespace Tavrix {

namespace {

// A user has one tunnel at a time in practice; a few more allow a reconnect's overlap.
constexpr int maxTunnelsPerUser = 4;

} // namespace

HelperService::HelperService(const QDBusConnection &bus, const RuntimeFolder &folder, QObject *parent)
    : QObject(parent)
    , m_bus(bus)
    , m_folder(folder)
    , m_owners(bus)
{
    connect(&m_owners, &TunnelOwners::ownerGone, this, [this](const QStringList &ids) {
        for (const QString &id : ids) {
            if (Tunnel *tunnel = m_tunnels.value(id)) {
                qInfo().noquote() << QStringLiteral("The owner of tunnel") << id.left(8)
                                  << QStringLiteral("left the bus: stopping it");
                tunnel->stop();
            }
        }
    });
}

HelperService::~HelperService()
{
    // The helper going away takes every tunnel down with it (the children are killed and
    // their files removed as their objects go).
    for (Tunnel *tunnel : qAsConst(m_tunnels))
        tunnel->disconnect(this);
    qDeleteAll(m_tunnels);
}

bool HelperService::publish(QString *error)
{
    if (!m_bus.registerObject(QLatin1String(HelperBus::objectPath), this,
                              QDBusConnection::ExportScriptableSlots | QDBusConnection::ExportScriptableSignals)) {
        *error = QStringLiteral("cannot register the helper object: ") + m_bus.lastError().message();
        return false;
    }
    if (!m_bus.registerService(QLatin1String(HelperBus::serviceName))) {
        *error =
            QStringLiteral("cannot own %1: %2").arg(QLatin1String(HelperBus::serviceName), m_bus.lastError().message());
        return false;
    }
    return true;
}

void HelperService::stopAll(std::function<void()> done)
{
    m_allStopped = std::move(done);
    if (m_tunnels.isEmpty()) {
        m_allStopped();
        return;
    }
    for (Tunnel *tunnel : qAsConst(m_tunnels))
        tunnel->stop();
}

QString HelperService::Version()
{
    return QCoreApplication::applicationVersion();
}

bool HelperService::refuse(const char *errorName, const QString &text)
{
    sendErrorReply(QLatin1String(errorName), text);
    return false;
}

bool HelperService::authorize(TunnelOwners::Owner *caller)
{
    // Who is asking, from the bus itself, before anything of the request is looked at.
    caller->busName = message().service();
    const QDBusReply<uint> uid = m_bus.interface()->serviceUid(caller->busName);
    if (!uid.isValid())
        return refuse(HelperBus::errorNotAuthorized, QStringLiteral("The caller could not be identified."));
    caller->uid = uid.value();
    QString reason;
    if (!polkitAllows(m_bus, caller->busName, QLatin1String(HelperBus::tunnelAction), &reason)) {
        qWarning().noquote() << QStringLiteral("Refused uid %1: %2").arg(caller->uid).arg(reason);
        return refuse(HelperBus::errorNotAuthorized, QStringLiteral("Not authorised to set up VPN tunnels: ") + reason);
    }
    return true;
}

bool HelperService::admitStart(TunnelOwners::Owner *caller)
{
    if (!authorize(caller))
        return false;
    if (m_owners.countForUid(caller->uid) >= maxTunnelsPerUser)
        return refuse(HelperBus::errorFailed, QStringLiteral("Too many tunnels for this user."));
    return true;
}

Tunnel *HelperService::ownTunnel(const QString &tunnelId, const TunnelOwners::Owner &caller)
{
    Tunnel *tunnel = m_tunnels.value(tunnelId);
    if (!tunnel) {
        refuse(HelperBus::errorUnknownTunnel, QStringLiteral("There is no such tunnel."));
        return nullptr;
    }
    if (m_owners.owner(tunnelId).uid != caller.uid) {
        qWarning().noquote() << QStringLiteral("uid %1 asked for another user's tunnel").arg(caller.uid);
        refuse(HelperBus::errorNotOwner, QStringLiteral("This tunnel belongs to another user."));
        return nullptr;
    }
    return tunnel;
}

QString HelperService::newTunnelId() const
{
    return QUuid::createUuid().toString(QUuid::Id128);
}

QString HelperService::StartOpenVpn(const QString &profile, QDBusUnixFileDescriptor &management)
{
    Q_UNUSED(management)
    TunnelOwners::Owner caller;
    if (!admitStart(&caller))
        return QString();
    if (profile.size() > HelperProto::maxProfileSize) {
        refuse(HelperBus::errorInvalidRequest, QStringLiteral("The OpenVPN profile is too large."));
        return QString();
    }
    auto *tunnel = new OpenVpnTunnel(newTunnelId(), m_folder, this);
    QString error;
    if (!tunnel->start(profile, &error)) {
        delete tunnel;
        refuse(HelperBus::errorInvalidRequest, error);
        return QString();
    }
    setDelayedReply(true);
    const QDBusMessage request = message();
    connect(tunnel, &Tunnel::ready, this, [this, tunnel, request] {
        const int fd = tunnel->takeManagementFd();
        // QDBusUnixFileDescriptor keeps its own duplicate until the reply is sent; the
        // helper's copy goes now, so the caller alone holds the link.
        const QDBusUnixFileDescriptor handle(fd);
        ::close(fd);
        m_bus.send(request.createReply({tunnel->id(), QVariant::fromValue(handle)}));
    });
    adopt(tunnel, caller, request);
    return QString();
}

QString HelperService::StartWireGuard(const QVariantMap &configuration)
{
    TunnelOwners::Owner caller;
    if (!admitStart(&caller))
        return QString();
    auto *tunnel = new WireGuardTunnel(newTunnelId(), m_folder, this);
    QString error;
    if (!tunnel->start(configuration, &error)) {
        delete tunnel;
        refuse(HelperBus::errorInvalidRequest, error);
        return QString();
    }
    setDelayedReply(true);
    const QDBusMessage request = message();
    connect(tunnel, &Tunnel::ready, this,
            [this, tunnel, request] { m_bus.send(request.createReply(QVariant(tunnel->id()))); });
    adopt(tunnel, caller, request);
    return QString();
}

void HelperService::adopt(Tunnel *tunnel, const TunnelOwners::Owner &caller, const QDBusMessage &request)
{
    m_tunnels.insert(tunnel->id(), tunnel);
    m_owners.add(tunnel->id(), caller);
    connect(tunnel, &Tunnel::output, this, [this, tunnel, caller](const QString &line) {
        QDBusMessage signal =
            QDBusMessage::createTargetedSignal(caller.busName, QLatin1String(HelperBus::objectPath),
                                               QLatin1String(HelperBus::interfaceName), QStringLiteral("TunnelOutput"));
        signal << tunnel->id() << line;
        m_bus.send(signal);
    });
    connect(tunnel, &Tunnel::ended, this, [this, tunnel, request](const QString &reason) {
        // Still unanswered: the start failed.
        if (!tunnel->isUp())
            m_bus.send(request.createErrorReply(QLatin1String(HelperBus::errorFailed), reason));
        onEnded(tunnel, reason);
    });
    // The caller may have gone while the request was read: its tunnel must not outlive it.
    if (!m_bus.interface()->isServiceRegistered(caller.busName))
        tunnel->stop();
}

void HelperService::onEnded(Tunnel *tunnel, const QString &reason)
{
    const QString id = tunnel->id();
    const TunnelOwners::Owner owner = m_owners.owner(id);
    m_tunnels.remove(id);
    m_owners.remove(id);
    if (tunnel->isUp()) {
        // A unicast signal: other users on the bus do not learn of this user's tunnels.
        QDBusMessage signal =
            QDBusMessage::createTargetedSignal(owner.busName, QLatin1String(HelperBus::objectPath),
                                               QLatin1String(HelperBus::interfaceName), QStringLiteral("TunnelEnded"));
        signal << id << reason;
        m_bus.send(signal);
    }
    const QList<QDBusMessage> waiting = m_stopRequests.values(id);
    m_stopRequests.remove(id);
    for (const QDBusMessage &request : waiting)
        m_bus.send(request.createReply());
    tunnel->deleteLater();
    if (m_tunnels.isEmpty() && m_allStopped)
        m_allStopped();
}

void HelperService::Stop(const QString &tunnelId)
{
    TunnelOwners::Owner caller;
    if (!authorize(&caller))
        return;
    Tunnel *tunnel = ownTunnel(tunnelId, caller);
    if (!tunnel)
        return;
    setDelayedReply(true);
    m_stopRequests.insert(tunnelId, message());
    tunnel->stop();
}

QString HelperService::Status(const QString &tunnelId)
{
    TunnelOwners::Owner caller;
    caller.busName = message().service();
    const QDBusReply<uint> uid = m_bus.interface()->serviceUid(caller.busName);
    if (!uid.isValid()) {
        refuse(HelperBus::errorNotAuthorized, QStringLiteral("The caller could not be identified."));
        return QString();
    }
    caller.uid = uid.value();
    Tunnel *tunnel = ownTunnel(tunnelId, caller);
    if (!tunnel)
        return QString();
    return QLatin1String(tunnel->isUp() ? HelperBus::stateUp : HelperBus::stateStarting);
}

// kill switch
void HelperService::SetKillSwitch(const QVariantMap &request)
{
    TunnelOwners::Owner caller;
    if (!authorize(&caller))
        return;
    HelperProto::KillSwitchRequest parsed;
    QString error;
    if (!m_killSwitch) {
        refuse(HelperBus::errorFailed, QStringLiteral("This helper keeps no kill switch."));
        return;
    }
    if (!KillSwitchKeeper::readRequest(request, &parsed, &error)) {
        refuse(HelperBus::errorInvalidRequest, error);
        return;
    }
    if (!m_killSwitch->apply(caller.uid, caller.busName, parsed, &error))
        refuse(HelperBus::errorFailed, QStringLiteral("The firewall was not changed: ") + error);
}

} // namespace Tavrix
