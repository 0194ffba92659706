#pragma once

#include "helper/tunnel.h"

class QSocketNotifier;

namespace Tavrix {

// OpenVPN for one caller: the profile rebuilt from the allow-list, written to the runtime
// folder, and openvpn started with scripts off (--script-security 1). Its management link is
// a Unix socket in the root-only runtime folder; the first (and only) connection, OpenVPN's
// own, is handed to the caller as a file descriptor, so the caller alone holds it and the
// credentials never pass through the helper.
class OpenVpnTunnel : public Tunnel
{
    Q_OBJECT
public:
    OpenVpnTunnel(const QString &id, const RuntimeFolder &folder, QObject *parent = nullptr);
    ~OpenVpnTunnel() override;

    // Checks and rebuilds `profile`, then starts openvpn. `ready` follows once OpenVPN has
    // connected to its management socket. False with *error (for the caller) on refusal.
    bool start(const QString &profile, QString *error);
    // The connected management link; the caller of this owns it. -1 before ready or once taken.
    int takeManagementFd();

private:
    void acceptManagement();
    void cleanUp() override;

    int m_listener = -1;
    int m_management = -1;
    QSocketNotifier *m_notifier = nullptr;
};

} // namespace Tavrix
