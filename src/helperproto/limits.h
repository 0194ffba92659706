#pragma once

#include <QString>

// What the window program and the privileged helper agree on for every request field: how big
// it may be and what it may contain. Both sides check; the helper never trusts the window.
namespace Tavrix::HelperProto {

// A service's OpenVPN profile with its certificates is a few kilobytes; far more is not a profile.
constexpr int maxProfileSize = 256 * 1024;
// One inline block (a certificate chain in <extra-certs> is the largest).
constexpr int maxInlineBlockSize = 64 * 1024;
// One directive line of a profile or one line of a WireGuard configuration.
constexpr int maxLineLength = 1024;
// A whole WireGuard configuration text.
constexpr int maxWireGuardTextSize = 64 * 1024;
constexpr int maxUserNameLength = 256;
constexpr int maxPasswordLength = 1024;
// A WireGuard key: 32 bytes in Base64.
constexpr int wireGuardKeyLength = 44;
constexpr int maxPeers = 16;
constexpr int maxAddresses = 16;
constexpr int maxDnsServers = 8;
// Allowed IPs of one peer, and routes of one request.
constexpr int maxRoutes = 1024;
// Programs of one split-tunnel request.
constexpr int maxPrograms = 256;
constexpr int maxHostNameLength = 253;
// IFNAMSIZ less its terminating NUL.
constexpr int maxInterfaceNameLength = 15;

// A user name for the engine's login: printable, no line breaks (it goes into a management command).
bool isValidUserName(const QString &name);
// A password: no NUL and no line break (management commands are lines), bounded.
bool isValidPassword(const QString &password);
// A network interface name the kernel accepts and no tool mistakes for an option or a path.
bool isValidInterfaceName(const QString &name);
// A plain IPv4 (dotted quad, no leading zeros) or IPv6 address, without prefix or zone.
bool isValidIpAddress(const QString &address);
// An address with a prefix length: "10.0.0.0/8", "fd00::/64".
bool isValidCidr(const QString &cidr);
// A DNS host name (letters, digits, hyphens; dot-separated labels).
bool isValidHostName(const QString &name);
// "host:port", "1.2.3.4:port" or "[v6]:port", port 1-65535.
bool isValidEndpoint(const QString &endpoint);
// A decimal port 1-65535 without sign or leading zeros.
bool isValidPort(const QString &port);

} // namespace Tavrix::HelperProto
