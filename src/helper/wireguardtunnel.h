#pragma once

#include <QVariantMap>

#include "helper/tunnel.h"

namespace Tavrix {

// WireGuard for one caller: the request's fields (never a configuration file's text, so no
// PreUp/PostUp or any other hook can be named) are validated, written root-owned to the
// runtime folder, and the WireGuard client program beside the helper brings the tunnel up
// from them (wireguard-go when the kernel has no WireGuard). `ready` follows once it reports
// the tunnel up.
class WireGuardTunnel : public Tunnel
{
    Q_OBJECT
public:
    WireGuardTunnel(const QString &id, const RuntimeFolder &folder, QObject *parent = nullptr);

    bool start(const QVariantMap &fields, QString *error);
    // The device the client program made, once it is up ("tvxwg" and its process id).
    QString interfaceName() const { return m_interface; }

private:
    QString m_interface;
};

} // namespace Tavrix
