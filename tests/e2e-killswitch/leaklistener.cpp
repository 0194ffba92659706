// The far end of the kill switch's leak test, run in the server namespace. It answers probes
// and notes where each came from, so that the test can tell a probe that went through the
// tunnel from one that left in the clear, and count probes that got out although their
// answer was blocked. On standard output, one line per probe seen:
//   SEEN <tcp|udp|dns|icmp> <probe id> <source address>
// Probes carry "tvxprobe<id>;" (TCP, UDP, ICMP echo payloads) or a first DNS label
// "p<id>". Serves TCP on the port given (any address), UDP on that port and DNS on UDP 53
// on each address given.

#include <QCoreApplication>
#include <QHostAddress>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUdpSocket>

#include <cstdio>
#include <netinet/icmp6.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/ip_icmp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

void seen(const char *kind, const QByteArray &payload, const QHostAddress &from)
{
    static const QRegularExpression marker(QStringLiteral("tvxprobe(\\d+);"));
    // With its size: the payload may hold NUL bytes before the marker.
    const auto match = marker.match(QString::fromLatin1(payload.constData(), payload.size()));
    if (!match.hasMatch())
        return;
    bool isV4 = false;
    const quint32 v4 = from.toIPv4Address(&isV4);
    const QString source = isV4 ? QHostAddress(v4).toString() : from.toString();
    std::printf("SEEN %s %s %s\n", kind, qPrintable(match.captured(1)), qPrintable(source));
    std::fflush(stdout);
}

QString sourceText(const QHostAddress &from)
{
    bool isV4 = false;
    const quint32 v4 = from.toIPv4Address(&isV4);
    return isV4 ? QHostAddress(v4).toString() : from.toString();
}

// The DNS query's first label "p<id>" as the probe marker; answers with one A record.
QByteArray answerDns(const QByteArray &query, const QHostAddress &from)
{
    if (query.size() < 17 || quint8(query.at(12)) < 2 || query.at(13) != 'p')
        return QByteArray();
    const int length = quint8(query.at(12));
    seen("dns", "tvxprobe" + query.mid(14, length - 1) + ";", from);
    int end = 12;
    while (end < query.size() && query.at(end) != 0)
        end += quint8(query.at(end)) + 1;
    end += 5; // the terminating zero, type and class
    if (end > query.size())
        return QByteArray();
    QByteArray reply = query.left(end);
    reply[2] = char(0x81);
    reply[3] = char(0x80);
    reply[7] = 1; // one answer
    reply[9] = reply[11] = 0;
    reply += QByteArray::fromHex("c00c000100010000003c0004c0000201"); // 192.0.2.1
    return reply;
}

void watchIcmp(int family, QObject *parent)
{
    const int fd =
        family == AF_INET ? ::socket(AF_INET, SOCK_RAW, IPPROTO_ICMP) : ::socket(AF_INET6, SOCK_RAW, IPPROTO_ICMPV6);
    if (fd < 0) {
        std::perror("raw socket");
        return;
    }
    auto *notifier = new QSocketNotifier(fd, QSocketNotifier::Read, parent);
    QObject::connect(notifier, &QSocketNotifier::activated, parent, [fd, family] {
        char buffer[2048];
        sockaddr_storage from{};
        socklen_t fromLength = sizeof from;
        const ssize_t n = ::recvfrom(fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr *>(&from), &fromLength);
        if (n <= 0)
            return;
        QHostAddress source(reinterpret_cast<sockaddr *>(&from));
        int offset = 0;
        if (family == AF_INET) {
            offset = (buffer[0] & 0x0f) * 4; // IPv4 raw sockets see the IP header
            if (n <= offset || quint8(buffer[offset]) != ICMP_ECHO)
                return;
        } else if (quint8(buffer[0]) != ICMP6_ECHO_REQUEST) {
            return;
        }
        seen("icmp", QByteArray(buffer + offset, int(n) - offset), source);
    });
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const quint16 port = quint16(app.arguments().value(1).toUInt());
    if (port == 0) {
        std::fprintf(stderr, "usage: tavrix-leak-listener PORT ADDRESS...\n");
        return 2;
    }

    QTcpServer tcp;
    if (!tcp.listen(QHostAddress::Any, port)) {
        std::fprintf(stderr, "tcp: %s\n", qPrintable(tcp.errorString()));
        return 1;
    }
    QObject::connect(&tcp, &QTcpServer::newConnection, &app, [&tcp] {
        while (QTcpSocket *socket = tcp.nextPendingConnection()) {
            QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket] {
                while (socket->canReadLine()) {
                    const QByteArray line = socket->readLine();
                    seen("tcp", line, socket->peerAddress());
                    socket->write("ok " + sourceText(socket->peerAddress()).toLatin1() + "\n");
                }
            });
        }
    });

    // Datagrams are answered from the address they were sent to (a socket bound to any
    // address would answer from the outgoing interface's, which the probe does not accept).
    for (const QString &text : app.arguments().mid(2)) {
        const QHostAddress address(text);
        auto *udp = new QUdpSocket(&app);
        auto *dns = new QUdpSocket(&app);
        if (!udp->bind(address, port) || !dns->bind(address, 53)) {
            std::fprintf(stderr, "udp %s: %s %s\n", qPrintable(text), qPrintable(udp->errorString()),
                         qPrintable(dns->errorString()));
            return 1;
        }
        QObject::connect(udp, &QUdpSocket::readyRead, &app, [udp] {
            while (udp->hasPendingDatagrams()) {
                QByteArray datagram(int(udp->pendingDatagramSize()), 0);
                QHostAddress from;
                quint16 fromPort = 0;
                udp->readDatagram(datagram.data(), datagram.size(), &from, &fromPort);
                seen("udp", datagram, from);
                udp->writeDatagram("ok " + sourceText(from).toLatin1() + "\n", from, fromPort);
            }
        });
        QObject::connect(dns, &QUdpSocket::readyRead, &app, [dns] {
            while (dns->hasPendingDatagrams()) {
                QByteArray datagram(int(dns->pendingDatagramSize()), 0);
                QHostAddress from;
                quint16 fromPort = 0;
                dns->readDatagram(datagram.data(), datagram.size(), &from, &fromPort);
                const QByteArray reply = answerDns(datagram, from);
                if (!reply.isEmpty())
                    dns->writeDatagram(reply, from, fromPort);
            }
        });
    }
    watchIcmp(AF_INET, &app);
    watchIcmp(AF_INET6, &app);
    std::printf("LISTENING %u\n", port);
    std::fflush(stdout);
    return app.exec();
}
