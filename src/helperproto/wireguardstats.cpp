#include "helperproto/wireguardstats.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QList>
#include <QRegularExpression>

#include <algorithm>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#endif

namespace Tavrix {
namespace HelperProto {

namespace {
// A handful of peers is all a configuration may hold; an answer beyond this is not ours.
constexpr int maxAnswerBytes = 64 * 1024;
} // namespace

bool isOwnWireGuardInterface(const QString &name)
{
    static const QRegularExpression pattern(QStringLiteral("^tvxwg[0-9]{1,10}$"));
    return name.size() <= 15 && pattern.match(name).hasMatch();
}

WireGuardStats parseWireGuardStats(const QByteArray &answer, qint64 nowSeconds)
{
    WireGuardStats stats;
    qint64 newestHandshake = 0;
    bool errnoSeen = false;
    for (const QByteArray &line : answer.split('\n')) {
        if (line.isEmpty())
            continue;
        const int equals = line.indexOf('=');
        if (equals <= 0)
            return WireGuardStats();
        const QByteArray key = line.left(equals);
        const QByteArray value = line.mid(equals + 1);
        bool number = true;
        if (key == "errno") {
            if (value.toLongLong(&number) != 0 || !number)
                return WireGuardStats();
            errnoSeen = true;
        } else if (key == "last_handshake_time_sec") {
            newestHandshake = std::max(newestHandshake, value.toLongLong(&number));
        } else if (key == "rx_bytes") {
            stats.rxBytes += value.toULongLong(&number);
        } else if (key == "tx_bytes") {
            stats.txBytes += value.toULongLong(&number);
        }
        if (!number)
            return WireGuardStats();
    }
    if (!errnoSeen)
        return WireGuardStats();
    stats.ok = true;
    stats.handshakeAgeSeconds = newestHandshake > 0 ? std::max<qint64>(0, nowSeconds - newestHandshake) : -1;
    return stats;
}

WireGuardStats readWireGuardStats(const QString &name, int timeoutMs, QString *error)
{
    if (!isOwnWireGuardInterface(name)) {
        *error = QStringLiteral("not a tunnel device of this client");
        return WireGuardStats();
    }
#ifdef Q_OS_UNIX
    const QByteArray path = QByteArrayLiteral("/var/run/wireguard/") + name.toLatin1() + QByteArrayLiteral(".sock");
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        return WireGuardStats();
    }
    QByteArray answer;
    bool complete = false;
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        *error = QStringLiteral("the device's control socket: ") + QString::fromLocal8Bit(std::strerror(errno));
    } else if (::send(fd, "get=1\n\n", 7, MSG_NOSIGNAL) != 7) {
        *error = QStringLiteral("the request could not be sent");
    } else {
        QDeadlineTimer deadline(timeoutMs);
        char buffer[4096];
        while (!complete && answer.size() < maxAnswerBytes) {
            pollfd wait{fd, POLLIN, 0};
            if (::poll(&wait, 1, int(std::max<qint64>(0, deadline.remainingTime()))) <= 0) {
                *error = QStringLiteral("no answer from the device within %1 ms").arg(timeoutMs);
                break;
            }
            const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
            if (got <= 0) {
                *error = QStringLiteral("the device closed its control socket");
                break;
            }
            answer.append(buffer, int(got));
            // The answer ends with an empty line.
            complete = answer.endsWith("\n\n");
        }
    }
    ::close(fd);
    if (!complete)
        return WireGuardStats();
    const WireGuardStats stats = parseWireGuardStats(answer, QDateTime::currentSecsSinceEpoch());
    if (!stats.ok)
        *error = QStringLiteral("the device's answer could not be read");
    return stats;
#else
    *error = QStringLiteral("not available on this system");
    return WireGuardStats();
#endif
}

} // namespace HelperProto
} // namespace Tavrix
