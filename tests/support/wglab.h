#pragma once

// A real WireGuard peer (userspace wireguard-go) in the server namespace of a NetnsLab:
//
//   server namespace: interface tvxws<pid>, 10.231.30.1/24, listening on 10.231.0.1:51820
//   client:           tunnel address 10.231.30.2, the peer's only allowed client
//
// Keys are made fresh for every run with "wg genkey". The peer's interface name carries the
// process id: wireguard-go's control sockets in /var/run/wireguard are shared by all
// namespaces.

#include <QDeadlineTimer>
#include <QFile>
#include <QString>
#include <QThread>

#include "netns.h"

namespace TavrixTest {

class WireGuardPeer
{
public:
    static constexpr int port = 51820;
    static constexpr const char *peerAddress = "10.231.30.1";
    static constexpr const char *clientAddress = "10.231.30.2";

    explicit WireGuardPeer(NetnsLab &lab)
        : m_lab(lab)
        , m_interface(QStringLiteral("tvxws%1").arg(getpid()))
    {
    }

    ~WireGuardPeer() { stop(); }

    QString interfaceName() const { return m_interface; }
    QString logFile() const { return m_lab.dir() + QStringLiteral("/wireguard-go.log"); }

    // wireguard-go in the server namespace, configured and up (again, with the same keys).
    bool start(QString *error)
    {
        stop();
        // A restart keeps the keys: the same server, back again.
        if (m_peerKey.isEmpty() && !makeKeys(error))
            return false;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("LOG_LEVEL"), QStringLiteral("error"));
        m_process = m_lab.start(m_lab.serverNs(), {QStringLiteral("wireguard-go"), QStringLiteral("-f"), m_interface},
                                logFile(), environment);
        QDeadlineTimer deadline(10000);
        while (m_process && !deadline.hasExpired() &&
               runProgram(QStringLiteral("ip"), {"-n", m_lab.serverNs(), "link", "show", "dev", m_interface}) != 0)
            QThread::msleep(50);
        const QString keyFile = m_lab.dir() + QStringLiteral("/wg-peer.key");
        writeFile(keyFile, m_peerKey.toLatin1() + '\n');
        const QList<QStringList> steps = {
            {"wg", "set", m_interface, "listen-port", QString::number(port), "private-key", keyFile, "peer",
             m_clientPublic, "allowed-ips", QStringLiteral("%1/32").arg(clientAddress)},
            {"ip", "address", "add", QStringLiteral("%1/24").arg(peerAddress), "dev", m_interface},
            {"ip", "link", "set", m_interface, "up"},
        };
        if (!m_process || deadline.hasExpired())
            return fail(error, QStringLiteral("wireguard-go did not make its interface, see ") + logFile());
        for (const QStringList &step : steps) {
            QByteArray output;
            if (m_lab.exec(m_lab.serverNs(), step, &output) != 0)
                return fail(error, step.join(' ') + QStringLiteral(": ") + QString::fromLocal8Bit(output));
        }
        QFile::remove(keyFile);
        return true;
    }

    void stop()
    {
        if (m_process)
            m_lab.stop(m_process);
        m_process = nullptr;
    }

    // The client's configuration: everything through the tunnel, or only the lab's networks.
    QString clientConfig(bool everything = true) const
    {
        return QStringLiteral("[Interface]\n"
                              "PrivateKey = %1\n"
                              "Address = %2/24\n"
                              "\n"
                              "[Peer]\n"
                              "PublicKey = %3\n"
                              "Endpoint = %4:%5\n"
                              "AllowedIPs = %6\n"
                              "PersistentKeepalive = 25\n")
            .arg(m_clientKey, QString::fromLatin1(clientAddress), m_peerPublic,
                 QString::fromLatin1(NetnsLab::serverAddress))
            .arg(port)
            .arg(everything ? QStringLiteral("0.0.0.0/0")
                            : QStringLiteral("10.231.30.0/24, ") + QString::fromLatin1(NetnsLab::insideNetwork));
    }

    // Whether the peer has heard from its client (a completed handshake).
    bool hadHandshake() const
    {
        QByteArray output;
        m_lab.exec(m_lab.serverNs(), {"wg", "show", m_interface, "latest-handshakes"}, &output);
        const QList<QByteArray> fields = output.trimmed().split('\t');
        return fields.size() == 2 && fields.at(1).toLongLong() > 0;
    }

private:
    bool makeKeys(QString *error)
    {
        for (QString *privateKey : {&m_peerKey, &m_clientKey}) {
            QByteArray key;
            QByteArray publicKey;
            if (runProgram(QStringLiteral("wg"), {"genkey"}, &key) != 0 ||
                runProgram(QStringLiteral("wg"), {"pubkey"}, &publicKey, 20000, key) != 0)
                return fail(error, QStringLiteral("wg genkey/pubkey failed"));
            *privateKey = QString::fromLatin1(key.trimmed());
            (privateKey == &m_peerKey ? m_peerPublic : m_clientPublic) = QString::fromLatin1(publicKey.trimmed());
        }
        return true;
    }

    static void writeFile(const QString &path, const QByteArray &content)
    {
        QFile file(path);
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
            file.write(content);
        }
    }

    NetnsLab &m_lab;
    QString m_interface;
    QProcess *m_process = nullptr;
    QString m_peerKey;
    QString m_peerPublic;
    QString m_clientKey;
    QString m_clientPublic;
};

} // namespace TavrixTest
