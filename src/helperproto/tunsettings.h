#pragma once

#include <QString>
#include <QStringList>
#include <QVariantMap>

// What the in-process OpenConnect session asks of the helper for the tun device it was handed:
// addresses, MTU, routes, the VPN gateway to keep outside the tunnel, DNS. Typed fields only
// (the library's IP information, converted by the window), checked again by the helper.
namespace Tavrix::HelperProto {

// ConfigureTun's a{sv}. Addresses are plain (no prefix), routes are "network/prefix" with the
// host bits clear; strings s, lists as, numbers u. Any other key is refused.
namespace TunKey {
inline constexpr const char *address4 = "Address4";
inline constexpr const char *prefix4 = "Prefix4";
inline constexpr const char *address6 = "Address6";
inline constexpr const char *prefix6 = "Prefix6";
inline constexpr const char *mtu = "MTU";                     // 0 = the kernel's default
inline constexpr const char *gateway = "Gateway";             // the VPN server's address
inline constexpr const char *includeRoutes = "IncludeRoutes"; // empty: everything through the tunnel
inline constexpr const char *excludeRoutes = "ExcludeRoutes"; // kept on the way they take now
inline constexpr const char *dns = "DNS";
inline constexpr const char *domains = "Domains";
} // namespace TunKey

// Search domains of one tunnel (servers send one or a few).
constexpr int maxSearchDomains = 16;
constexpr int minTunMtu = 576;
// IPv6 needs at least this on every link.
constexpr int minTunMtu6 = 1280;
constexpr int maxTunMtu = 9000;

struct TunSettings
{
    QString address4;
    int prefix4 = 0;
    QString address6;
    int prefix6 = 0;
    int mtu = 0;
    QString gateway;
    QStringList includeRoutes;
    QStringList excludeRoutes;
    QStringList dns;
    QStringList domains;

    bool fullTunnel() const { return includeRoutes.isEmpty(); }
    bool operator==(const TunSettings &other) const;
    bool operator!=(const TunSettings &other) const { return !(*this == other); }
};

// Every field within bounds and sensible for a tunnel (no loopback, multicast or unspecified
// address, prefixes in range, routes canonical); false with a user-facing *error.
bool validateTunSettings(const TunSettings &settings, QString *error);
// Single values as validateTunSettings takes them, so that the window can leave out what a
// server sent unusable (a loopback DNS server, a multicast route) rather than lose the tunnel.
bool isUsableDnsServer(const QString &address);
bool isUsableRoute(const QString &route);
bool isUsableSearchDomain(const QString &domain);
// Strict reading of ConfigureTun's fields (known keys, exact types), then validateTunSettings.
bool readTunSettings(const QVariantMap &fields, TunSettings *settings, QString *error);
// The fields for the bus; readTunSettings gives the same settings back.
QVariantMap tunSettingsFields(const TunSettings &settings);

// A route as the OpenConnect library gives it ("10.1.0.0/255.255.0.0", "10.1.0.0/16",
// "fd00::/64", a bare address) as "network/prefix" with the host bits cleared; empty when it
// is none of these.
QString canonicalRoute(const QString &route);
// A dotted IPv4 netmask as a prefix length; -1 when it is not a contiguous mask.
int prefixOfNetmask(const QString &netmask);

} // namespace Tavrix::HelperProto
