#pragma once

#include <QVariantMap>

#include "helper/tunnel.h"
#include "helperproto/wireguardconfig.h"

namespace Tavrix {

// WireGuard for one caller: the request's fields (never a configuration file's text, so no
// PreUp/PostUp or any other hook can be named) are validated first. Without the kernel's
// WireGuard the helper runs wireguard-go itself and configures the device, its routes and
// rules with a handful of commands; with it, the fields are written root-owned to the
// runtime folder and the WireGuard client program beside the helper (wg-quick) brings the
// tunnel up. `ready` follows once the tunnel is up.
class WireGuardTunnel : public Tunnel
{
    Q_OBJECT
public:
    WireGuardTunnel(const QString &id, const RuntimeFolder &folder, QObject *parent = nullptr);

    bool start(const QVariantMap &fields, QString *error);
    // The tunnel's device, once it is known ("tvxwg" and a number).
    QString interfaceName() const { return m_interface; }
    // What a killed helper's full tunnels left outside their devices (rules, firewall tables,
    // DNS), taken away before a new helper serves.
    static void removeLeftovers(const RuntimeFolder &folder);

protected:
    void cleanUp() override;

private:
    bool startClientProgram(const HelperProto::WireGuardConfig &config, QString *error);
    bool startUserspace(const HelperProto::WireGuardConfig &config, QString *error);
    bool configureDevice(QString *error);
    static QString controlSocket(const QString &name);
    static void undo(const QString &interface, int table, bool rules, bool dns);
    void record();

    QString m_interface;
    HelperProto::WireGuardConfig m_config;
    // The full tunnel's routing table and mark; 0 without one.
    int m_table = 0;
    bool m_rulesAdded = false;
    bool m_dnsSet = false;
};

} // namespace Tavrix
