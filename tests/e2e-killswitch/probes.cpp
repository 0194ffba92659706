#include "probes.h"

#include <QByteArray>
#include <QHostAddress>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/icmp6.h>
#include <netinet/in.h>
#include <netinet/ip_icmp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace TavrixTest {

namespace {

constexpr int WaitMs = 1500;

class Fd
{
public:
    explicit Fd(int fd)
        : m_fd(fd)
    {
    }
    ~Fd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    int get() const { return m_fd; }

private:
    int m_fd;
};

socklen_t fillAddress(const QString &address, quint16 port, sockaddr_storage *storage)
{
    std::memset(storage, 0, sizeof *storage);
    QHostAddress host(address);
    if (host.protocol() == QAbstractSocket::IPv6Protocol) {
        auto *v6 = reinterpret_cast<sockaddr_in6 *>(storage);
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(port);
        const Q_IPV6ADDR bytes = host.toIPv6Address();
        std::memcpy(&v6->sin6_addr, bytes.c, 16);
        return sizeof(sockaddr_in6);
    }
    auto *v4 = reinterpret_cast<sockaddr_in *>(storage);
    v4->sin_family = AF_INET;
    v4->sin_port = htons(port);
    v4->sin_addr.s_addr = htonl(host.toIPv4Address());
    return sizeof(sockaddr_in);
}

ProbeResult failure(const char *what)
{
    return {false, QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromLocal8Bit(std::strerror(errno)))};
}

bool waitReadable(int fd)
{
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, WaitMs) == 1 && (p.revents & POLLIN);
}

ProbeResult stream(const QString &address, quint16 port, const QByteArray &payload)
{
    sockaddr_storage to;
    const socklen_t length = fillAddress(address, port, &to);
    Fd fd(::socket(to.ss_family, SOCK_STREAM | SOCK_NONBLOCK, 0));
    if (::connect(fd.get(), reinterpret_cast<sockaddr *>(&to), length) != 0 && errno != EINPROGRESS)
        return failure("connect");
    pollfd p{fd.get(), POLLOUT, 0};
    int error = 0;
    socklen_t errorLength = sizeof error;
    if (::poll(&p, 1, WaitMs) != 1)
        return {false, QStringLiteral("connect: no answer")};
    ::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &error, &errorLength);
    if (error != 0) {
        errno = error;
        return failure("connect");
    }
    if (::send(fd.get(), payload.constData(), size_t(payload.size()), MSG_NOSIGNAL) != payload.size())
        return failure("send");
    char buffer[256];
    if (!waitReadable(fd.get()))
        return {false, QStringLiteral("no reply")};
    const ssize_t n = ::recv(fd.get(), buffer, sizeof buffer, 0);
    return {n > 2, QString::fromLatin1(buffer, int(qMax<ssize_t>(n, 0))).trimmed()};
}

ProbeResult datagram(const QString &address, quint16 port, const QByteArray &payload, QByteArray *reply = nullptr)
{
    sockaddr_storage to;
    const socklen_t length = fillAddress(address, port, &to);
    Fd fd(::socket(to.ss_family, SOCK_DGRAM, 0));
    if (::connect(fd.get(), reinterpret_cast<sockaddr *>(&to), length) != 0)
        return failure("connect");
    if (::send(fd.get(), payload.constData(), size_t(payload.size()), 0) != payload.size())
        return failure("send");
    char buffer[512];
    if (!waitReadable(fd.get()))
        return {false, QStringLiteral("no reply")};
    const ssize_t n = ::recv(fd.get(), buffer, sizeof buffer, 0);
    if (n <= 0)
        return failure("recv");
    if (reply)
        *reply = QByteArray(buffer, int(n));
    return {true, QString::fromLatin1(buffer, int(n)).trimmed()};
}

ProbeResult dns(const QString &address, int id)
{
    QByteArray query = QByteArray::fromHex("123401000001000000000000");
    query[0] = char((id >> 8) & 0xff);
    query[1] = char(id & 0xff);
    const QByteArray label = "p" + QByteArray::number(id);
    query += char(label.size()) + label + char(4) + QByteArray("leak") + char(4) + QByteArray("test") + char(0);
    query += QByteArray::fromHex("00010001");
    QByteArray reply;
    ProbeResult result = datagram(address, 53, query, &reply);
    if (!result.answered)
        return result;
    const bool answered =
        reply.size() > 12 && reply.left(2) == query.left(2) && (reply.at(3) & 0x0f) == 0 && reply.at(7) > 0;
    return {answered, answered ? QStringLiteral("answer") : QStringLiteral("bad answer")};
}

quint16 checksum(const QByteArray &data)
{
    quint32 sum = 0;
    for (int i = 0; i + 1 < data.size(); i += 2)
        sum += (quint8(data.at(i)) << 8) | quint8(data.at(i + 1));
    if (data.size() % 2)
        sum += quint8(data.at(data.size() - 1)) << 8;
    while (sum >> 16)
        sum = (sum & 0xffff) + (sum >> 16);
    return quint16(~sum);
}

ProbeResult icmp(const QString &address, int id)
{
    sockaddr_storage to;
    const socklen_t length = fillAddress(address, 0, &to);
    const bool v6 = to.ss_family == AF_INET6;
    Fd fd(::socket(to.ss_family, SOCK_RAW, v6 ? int(IPPROTO_ICMPV6) : int(IPPROTO_ICMP)));
    if (fd.get() < 0)
        return failure("socket");
    const quint16 ident = quint16(0x7000 + (id & 0xfff));
    QByteArray packet(8, 0);
    packet[0] = char(v6 ? int(ICMP6_ECHO_REQUEST) : int(ICMP_ECHO));
    packet[4] = char(ident >> 8);
    packet[5] = char(ident & 0xff);
    packet[7] = 1;
    packet += "tvxprobe" + QByteArray::number(id) + ";";
    if (!v6) { // the kernel sums ICMPv6 itself
        const quint16 sum = checksum(packet);
        packet[2] = char(sum >> 8);
        packet[3] = char(sum & 0xff);
    }
    if (::sendto(fd.get(), packet.constData(), size_t(packet.size()), 0, reinterpret_cast<sockaddr *>(&to), length) !=
        packet.size())
        return failure("send");
    // Raw sockets see every ICMP packet: wait for the reply to this one.
    for (int tries = 0; tries < 20; ++tries) {
        if (!waitReadable(fd.get()))
            return {false, QStringLiteral("no reply")};
        char buffer[1500];
        const ssize_t n = ::recv(fd.get(), buffer, sizeof buffer, 0);
        const int offset = v6 ? 0 : (buffer[0] & 0x0f) * 4;
        if (n < offset + 8)
            continue;
        const quint8 type = quint8(buffer[offset]);
        const quint16 replyIdent = quint16((quint8(buffer[offset + 4]) << 8) | quint8(buffer[offset + 5]));
        const int echoReply = v6 ? int(ICMP6_ECHO_REPLY) : int(ICMP_ECHOREPLY);
        if (type == echoReply && replyIdent == ident)
            return {true, QStringLiteral("echo reply")};
    }
    return {false, QStringLiteral("no reply")};
}

} // namespace

QString probeKindName(ProbeKind kind)
{
    switch (kind) {
    case ProbeKind::Tcp:
        return QStringLiteral("tcp");
    case ProbeKind::Udp:
        return QStringLiteral("udp");
    case ProbeKind::Dns:
        return QStringLiteral("dns");
    case ProbeKind::Icmp:
        return QStringLiteral("icmp");
    }
    return QString();
}

ProbeResult sendProbe(ProbeKind kind, const QString &address, quint16 port, int id)
{
    const QByteArray payload = "tvxprobe" + QByteArray::number(id) + ";\n";
    switch (kind) {
    case ProbeKind::Tcp:
        return stream(address, port, payload);
    case ProbeKind::Udp:
        return datagram(address, port, payload);
    case ProbeKind::Dns:
        return dns(address, id);
    case ProbeKind::Icmp:
        return icmp(address, id);
    }
    return {};
}

} // namespace TavrixTest
