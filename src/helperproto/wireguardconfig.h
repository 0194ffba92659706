#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace Tavrix::HelperProto {

struct WireGuardPeer
{
    QString publicKey;
    QString presharedKey;
    QStringList allowedIps;
    QString endpoint;
    int persistentKeepalive = 0;
};

struct WireGuardConfig
{
    QString privateKey;
    QStringList addresses;
    QStringList dns;
    int mtu = 0;
    int listenPort = 0;
    QList<WireGuardPeer> peers;
};

// Strict parse of a wg-quick style text into structured fields; false with a user-facing *error.
bool parseWireGuardConfig(const QString &text, WireGuardConfig *config, QString *error);
// Re-validates structured fields (the helper receives them over the bus, not as text).
bool validateWireGuardConfig(const WireGuardConfig &config, QString *error);
// `wg setconf` text ([Interface] PrivateKey/ListenPort, [Peer] ...): no Address/DNS/MTU, no hooks.
QString wireGuardSetconfText(const WireGuardConfig &config);
// wg-quick text rebuilt from the fields (Address, DNS and MTU included), never a hook.
QString wireGuardQuickText(const WireGuardConfig &config);
// The first tunnel address (IPv4 preferred), without prefix length.
QString wireGuardTunnelAddress(const WireGuardConfig &config);

} // namespace Tavrix::HelperProto
