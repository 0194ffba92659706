#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QHash>
#include <QObject>
#include <QVariantMap>

#include <functional>

#include "helper/runtimefolder.h"
#include "helper/tunnelowners.h"

namespace Tavrix {

class Tunnel;
class KillSwitchKeeper;

// The helper's bus object, com.quennark.TavrixVPN.Helper1 at /com/quennark/TavrixVPN/Helper.
// Every verb that changes the network is checked with polkit before its request is looked at;
// requests are typed data (a profile's text, a WireGuard configuration's fields, a tunnel id),
// never a path, a command or an environment. Each tunnel belongs to the caller that started
// it; only that user may stop or query it, and it ends when its caller leaves the bus.
class HelperService : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.quennark.TavrixVPN.Helper1")
public:
    HelperService(const QDBusConnection &bus, const RuntimeFolder &folder, QObject *parent = nullptr);
    ~HelperService() override;

    // Registers the object and takes the bus name; false with *error when either fails.
    bool publish(QString *error);
    // Takes every tunnel down, as at the helper's end; `done` runs once all have gone.
    void stopAll(std::function<void()> done);

public slots:
    Q_SCRIPTABLE QString Version();
    // Starts OpenVPN on `profile` (the text of an .ovpn profile). Answers once OpenVPN is
    // waiting on its management link, which comes back as `management`.
    Q_SCRIPTABLE QString StartOpenVpn(const QString &profile, QDBusUnixFileDescriptor &management);
    // Brings a WireGuard tunnel up from typed fields (see helperbus.h). Answers once it is up.
    Q_SCRIPTABLE QString StartWireGuard(const QVariantMap &configuration);
    // Takes the caller's tunnel down; answers once its engine has gone.
    Q_SCRIPTABLE void Stop(const QString &tunnelId);
    // "starting" or "up" for a tunnel of the caller's.
    Q_SCRIPTABLE QString Status(const QString &tunnelId);
    // OpenConnect tun device: a tun device of the caller's own, its descriptor handed over
    // (the session in the window moves the packets); then its addresses, routes and DNS from
    // typed settings (see helperproto/tunsettings.h), answered with what became of DNS.
    Q_SCRIPTABLE QString CreateTun(QString &interfaceName, QDBusUnixFileDescriptor &device);
    Q_SCRIPTABLE QString ConfigureTun(const QString &tunnelId, const QVariantMap &settings);
    // Tunnel health: for a WireGuard tunnel of the caller's, the seconds since its last
    // handshake (-1: none yet) and the bytes received and sent, read from its device.
    Q_SCRIPTABLE qlonglong WireGuardHealth(const QString &tunnelId, qulonglong &rxBytes, qulonglong &txBytes);

signals:
    // Sent to the owner alone (a unicast signal): the tunnel has gone, and why.
    Q_SCRIPTABLE void TunnelEnded(const QString &tunnelId, const QString &reason);
    // Sent to the owner alone: one line of the tunnel's engine output, for the owner's log.
    Q_SCRIPTABLE void TunnelOutput(const QString &tunnelId, const QString &line);

    // kill switch
public:
    void setKillSwitchKeeper(KillSwitchKeeper *keeper) { m_killSwitch = keeper; }
public slots:
    // Puts the caller's kill switch table in the requested state (see killswitchrules.h);
    // answers once nft has applied it, or with the reason it did not.
    Q_SCRIPTABLE void SetKillSwitch(const QVariantMap &request);
    // Outline and split tunnelling
    // Outline from typed fields (see helperproto/outlinesplit.h). Answers once the tunnel is up.
    Q_SCRIPTABLE QString StartOutline(const QVariantMap &request);
    // The caller's programs of these names bypass the tunnel (its processes only); replaces
    // the caller's earlier choice. An empty list clears it. Answers with the choice's id (for
    // Stop and Status), empty when cleared.
    Q_SCRIPTABLE QString SetBypassPrograms(const QStringList &programs);

private:
    bool authorize(TunnelOwners::Owner *caller);
    // authorize(), and the user's tunnels within bounds.
    bool admitStart(TunnelOwners::Owner *caller);
    bool refuse(const char *errorName, const QString &text);
    Tunnel *ownTunnel(const QString &tunnelId, const TunnelOwners::Owner &caller);
    QString newTunnelId() const;
    void adopt(Tunnel *tunnel, const TunnelOwners::Owner &caller, const QDBusMessage &request);
    void onEnded(Tunnel *tunnel, const QString &reason);

    QDBusConnection m_bus;
    const RuntimeFolder &m_folder;
    TunnelOwners m_owners;
    QHash<QString, Tunnel *> m_tunnels;
    // Stop requests waiting for their tunnel's end.
    QMultiHash<QString, QDBusMessage> m_stopRequests;
    std::function<void()> m_allStopped;
    // kill switch
    KillSwitchKeeper *m_killSwitch = nullptr;
    // Outline and split tunnelling
    template<typename Kind> int freeSlot(int slotCount) const;
};

} // namespace Tavrix
