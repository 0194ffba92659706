#pragma once

#include <QString>

#include "helperproto/killswitchrules.h"

namespace Tavrix {

// What the kill switch asks of the privileged helper, built from what the window knows: the
// chosen VPN server (its endpoint), the service's addresses (resolved while the network was
// open; the last good ones are kept in a private file so a restart behind the block can still
// sign in), the tunnel devices of the client's engines and the tunnel's DNS servers.
namespace KillSwitchFirewall {

// The server the next connect goes to: the engine type, its configuration text and the
// server's address. Its endpoint stays open while blocked so the user can always connect.
void setVpnTarget(int type, const QString &configuration, const QString &address);
// The configuration the service handed out at connect time (WireGuard's), same server.
void setVpnConfiguration(int type, const QString &configuration);

// The helper's request for a state. Resolves the service's host names first when `resolve`
// (the network is open for them); otherwise the last good addresses are used. Blocking: for
// the kill switch's worker thread.
HelperProto::KillSwitchRequest request(HelperProto::KillSwitchState state, bool resolve);

// Endpoints of a server: WireGuard's Endpoint (UDP; its address when it names one), OpenVPN's remote/port/proto; every
// port over TCP and UDP for the other engines, whose ports the configuration does not state
// in one place. `address` must be an IP address.
QList<HelperProto::KillSwitchAddress> vpnEndpoints(int type, const QString &configuration, const QString &address);

} // namespace KillSwitchFirewall
} // namespace Tavrix
