#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// The kill switch's firewall, as the window asks for it and the helper builds it: typed
// addresses in, one nftables transaction out. Pure (Qt Core only): the helper runs the text
// it gets from here, and nothing of the request reaches that text but validated addresses,
// numbers and interface names.
namespace Tavrix::HelperProto {

enum class KillSwitchState {
    // No table at all.
    Off,
    // No tunnel, switch on: nothing leaves but loopback, DHCP, neighbour discovery, the
    // service's addresses and the VPN endpoints.
    Blocked,
    // Connecting, connected or reconnecting with the switch on: only the VPN endpoints, the
    // client's own service (a reconnect fetches its configuration there) and the tunnel
    // interfaces (DNS only to the tunnel's DNS servers when they are known).
    Tunnel,
    // Connected with the switch off: IPv4 is free, IPv6 leaves only through the tunnel (a
    // tunnel without IPv6 must not let IPv6 go around it).
    TunnelIpv6,
};

struct KillSwitchAddress
{
    QString address;  // a plain IPv4 or IPv6 address
    quint16 port = 0; // 0: every port
    QString protocol; // "tcp" or "udp"
};

struct KillSwitchRequest
{
    KillSwitchState state = KillSwitchState::Off;
    QList<KillSwitchAddress> endpoints; // the VPN server(s), open in every blocking state
    QList<KillSwitchAddress> services;  // sign-in, configuration, public IP
    QStringList interfaces;             // the tunnel's interfaces ("tun*" for a family)
    QStringList dns;                    // the tunnel's DNS servers
};

// SetKillSwitch's a{sv}.
namespace KillSwitchKey {
inline constexpr const char *state = "State";           // s: "off", "blocked", "tunnel", "tunnel-ipv6"
inline constexpr const char *endpoints = "Endpoints";   // aa{sv} of the address keys
inline constexpr const char *services = "Services";     // aa{sv} of the address keys
inline constexpr const char *interfaces = "Interfaces"; // as
inline constexpr const char *dns = "DNS";               // as
inline constexpr const char *address = "Address";       // s
inline constexpr const char *port = "Port";             // u, 0 = every port
inline constexpr const char *protocol = "Protocol";     // s: "tcp" or "udp"
} // namespace KillSwitchKey

constexpr int maxKillSwitchEndpoints = 16;
constexpr int maxKillSwitchServices = 32;
constexpr int maxKillSwitchInterfaces = 8;

QString killSwitchStateName(KillSwitchState state);
bool parseKillSwitchState(const QString &name, KillSwitchState *state);

// A tunnel interface the helper's engines make: "tun<n>" (OpenVPN, OpenConnect), "tvxwg<n>"
// (WireGuard), "TavrixVPN" (the client's own device); "tun*" and "tvxwg*" name a family.
// Nothing else: a request cannot open the switch for the outer link.
bool isValidKillSwitchInterface(const QString &name);
// Everything of the request within its bounds and allow-lists; *error says what is not.
bool validateKillSwitchRequest(const KillSwitchRequest &request, QString *error);

// "tavrixvpn_<uid>": one table per user, so one user's switch never replaces another's.
QString killSwitchTableName(uint uid);
// The input of `nft -f -` that puts the request in force in one transaction. The table is
// declared, emptied and filled in that one transaction (never deleted between states, so
// nothing slips through a change); Off deletes it. Only for a validated request.
QByteArray killSwitchRuleset(uint uid, const KillSwitchRequest &request);

// What the helper keeps on disk to block again at boot: the addresses of the Blocked state.
QByteArray killSwitchStoredText(const KillSwitchRequest &request);
bool parseKillSwitchStoredText(const QByteArray &text, KillSwitchRequest *request, QString *error);

} // namespace Tavrix::HelperProto
