#pragma once

#include <QByteArray>
#include <QString>

namespace Tavrix {
namespace HelperProto {

// What a running WireGuard device says about its peers, for telling a live tunnel from a dead
// one: when the last handshake completed and how many bytes went each way.
struct WireGuardStats
{
    bool ok = false;
    // Seconds since the newest handshake of any peer; -1 when none has completed yet.
    qint64 handshakeAgeSeconds = -1;
    quint64 rxBytes = 0;
    quint64 txBytes = 0;
};

// Our tunnels' device names ("tvxwg" and the client program's process id); nothing else is
// ever looked up, so no caller can point the reader at another socket.
bool isOwnWireGuardInterface(const QString &name);

// Parses the answer to a "get=1" request of the userspace control protocol (key=value lines
// ending with an empty line, "errno=0" last). nowSeconds is the current Unix time. Unknown
// keys are skipped; a missing or non-zero errno, or a malformed number, fails.
WireGuardStats parseWireGuardStats(const QByteArray &answer, qint64 nowSeconds);

// Asks the userspace engine of the device `name` (its control socket under
// /var/run/wireguard) for its state; needs the rights of the engine's owner (root). Bounded
// by timeoutMs. On failure ok is false and *error says why.
WireGuardStats readWireGuardStats(const QString &name, int timeoutMs, QString *error);

} // namespace HelperProto
} // namespace Tavrix
