#pragma once

// What the window and the privileged helper agree on for the bus: the names, the error names
// and the keys of a WireGuard request. Header only, no QtDBus: both sides include it.

namespace Tavrix {
namespace HelperBus {

inline constexpr const char *serviceName = "com.quennark.TavrixVPN.Helper";
inline constexpr const char *objectPath = "/com/quennark/TavrixVPN/Helper";
inline constexpr const char *interfaceName = "com.quennark.TavrixVPN.Helper1";
// The one polkit action every tunnel verb is checked against.
inline constexpr const char *tunnelAction = "com.quennark.TavrixVPN.tunnel";

// Errors the helper answers with; the message is a sentence for the user.
inline constexpr const char *errorNotAuthorized = "com.quennark.TavrixVPN.Helper1.Error.NotAuthorized";
inline constexpr const char *errorInvalidRequest = "com.quennark.TavrixVPN.Helper1.Error.InvalidRequest";
inline constexpr const char *errorNotOwner = "com.quennark.TavrixVPN.Helper1.Error.NotOwner";
inline constexpr const char *errorUnknownTunnel = "com.quennark.TavrixVPN.Helper1.Error.UnknownTunnel";
inline constexpr const char *errorFailed = "com.quennark.TavrixVPN.Helper1.Error.Failed";

// StartWireGuard's a{sv}: [Interface] fields, and "Peers" as a list of a{sv} with the peer keys.
namespace WireGuardKey {
inline constexpr const char *privateKey = "PrivateKey";
inline constexpr const char *addresses = "Addresses";   // as
inline constexpr const char *dns = "DNS";               // as
inline constexpr const char *mtu = "MTU";               // u, 0 = default
inline constexpr const char *listenPort = "ListenPort"; // u, 0 = any
inline constexpr const char *peers = "Peers";           // aa{sv}
inline constexpr const char *publicKey = "PublicKey";
inline constexpr const char *presharedKey = "PresharedKey";
inline constexpr const char *allowedIps = "AllowedIPs"; // as
inline constexpr const char *endpoint = "Endpoint";
inline constexpr const char *persistentKeepalive = "PersistentKeepalive"; // u, 0 = off
} // namespace WireGuardKey

// Status() answers.
inline constexpr const char *stateStarting = "starting";
inline constexpr const char *stateUp = "up";

} // namespace HelperBus
} // namespace Tavrix
