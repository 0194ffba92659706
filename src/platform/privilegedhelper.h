#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <functional>

// kill switch
#include "helperproto/killswitchrules.h"
#include "helperproto/wireguardstats.h"

namespace Tavrix {

// The window's side of the privileged helper (Linux: a system service on the system bus, or the
// bus DBUS_SYSTEM_BUS_ADDRESS names). The window holds no privilege; every tunnel that needs
// one is asked of the helper with typed data. On Windows the designed path (elevated start)
// stays, and the helper is never available.
namespace PrivilegedHelper {

// Whether the helper answers (running, or started by the bus on demand).
bool isAvailable();

struct Started
{
    bool ok = false;
    QString tunnelId;
    // OpenVPN's management link, connected; the caller owns it (close it when done).
    int managementFd = -1;
    // The helper's refusal or failure, for the user.
    QString error;
};

// OpenVPN on this profile text. The credentials are not part of the request: they go to
// OpenVPN over the returned management link only.
Started startOpenVpn(const QString &profile);
// WireGuard from a configuration text; parsed and validated here, sent as typed fields.
// Blocks until the tunnel is up or has failed (call it off the GUI thread).
Started startWireGuard(const QString &configuration);
// Takes a tunnel of ours down; blocks until its engine has gone. False with *error otherwise.
bool stop(const QString &tunnelId, QString *error = nullptr);
// stop() without waiting: `done` runs on `context`'s thread once the helper has answered
// (not at all once `context` is gone).
void stopLater(const QString &tunnelId, QObject *context, std::function<void()> done);
// Calls `lineRead` on `context`'s thread with each output line of this client's tunnels (the
// helper sends them to their owner alone), until `context` goes.
void watchOutput(QObject *context, std::function<void(const QString &tunnelId, const QString &line)> lineRead);
// Whether a tunnel of ours is still there.
bool isRunning(const QString &tunnelId);

// kill switch: puts this user's firewall table in the requested state. Blocks until the
// helper has applied it (call it off the GUI thread); false with the helper's reason otherwise.
bool setKillSwitch(const HelperProto::KillSwitchRequest &request, QString *error);
// OpenConnect tun device
struct TunDevice
{
    bool ok = false;
    QString tunnelId;
    QString interfaceName;
    // The device's descriptor; the caller owns it.
    int fd = -1;
    QString error;
};
// A tun device of our own, made by the helper (the in-process OpenConnect session moves its
// packets). Stop it with stop() like any tunnel. Blocks.
TunDevice createTun();
// Its addresses, routes and DNS from typed settings (helperproto/tunsettings.h), in place of
// earlier ones. *dnsState: "applied", "none" or "not applied: <why>". Blocks.
bool configureTun(const QString &tunnelId, const QVariantMap &settings, QString *dnsState, QString *error);
// Tunnel health: what the device of a WireGuard tunnel of ours says (last handshake, bytes
// each way); ok is false when the helper could not read it (*error says why).
HelperProto::WireGuardStats wireGuardHealth(const QString &tunnelId, QString *error);

// Outline and split tunnelling
// Outline to this Shadowsocks server (the password goes to the helper alone). Blocks until the
// tunnel is up or has failed (call it off the GUI thread).
Started startOutline(const QString &host, uint port, const QString &password, const QString &method);
// This client's own programs of these file names bypass the tunnel; empty: none does any more.
// The choice lasts while this client is on the bus. False with *error.
bool setBypassPrograms(const QStringList &programs, QString *error = nullptr);

} // namespace PrivilegedHelper
} // namespace Tavrix
