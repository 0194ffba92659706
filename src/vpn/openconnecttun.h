#pragma once

#include <QString>

#include "helperproto/tunsettings.h"

struct oc_ip_info;
struct openconnect_info;

namespace Tavrix {

// The library's IP information (CSTP headers from the server, the gateway address from the
// library) as settings for the helper: prefixes from netmasks, routes canonical and without
// duplicates, a catch-all include read as "everything through the tunnel"; a DNS server,
// search domain or route that is no use on a tunnel is left out (and logged).
HelperProto::TunSettings tunSettingsFromIpInfo(const oc_ip_info &info);

// The tun device of one OpenConnect session when the privileged helper makes it: the helper
// opens and configures it, the library gets its descriptor. Used on the session thread only.
class HelperTunDevice
{
public:
    HelperTunDevice() = default;
    HelperTunDevice(const HelperTunDevice &) = delete;
    HelperTunDevice &operator=(const HelperTunDevice &) = delete;
    ~HelperTunDevice();

    // Has the helper make the device and configure it from the session's IP information, then
    // hands it to the library. False with *error; nothing is left behind then.
    bool open(openconnect_info *vpninfo, QString *error);
    // The library got its session back: settings the server changed meanwhile are applied.
    void refresh(openconnect_info *vpninfo);
    // The library is about to reach its server again: the route kept outside the tunnel for it
    // follows the network as it is now (a change of network may have taken it away).
    void renewServerRoute();
    // Has the helper take the device down, with its routes and DNS. Only once the library is
    // done with the device: its main loop has returned for good.
    void close();

private:
    bool apply(openconnect_info *vpninfo, QString *error);

    int m_fd = -1;
    QString m_tunnelId;
    QString m_interfaceName;
    HelperProto::TunSettings m_applied;
};

} // namespace Tavrix
