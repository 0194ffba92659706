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

    // wireguard-go in the server namespace, configured and up.
    bool start(QString *error)
    {
        stop();
        if (!makeKeys(error))
            return false;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("LOG_LEVEL"), QStringLiteral("error"));
        m_process =
            m_lab.start(m_lab.serverNs(), {QStringLiteral("wireguard-go"), QStringLiteral("-f"), m_interface}, logFile(),
                        environment);
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

    static bool fail(QString *error, const QString &text)
    {
        if (error)
            *error = text;
        return false;
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

// ---------------------------------------------------------------------------------------------
// The client's side, for programs that link the client's core: the process runs itself again
// inside the lab's client namespace (where the tunnel goes up), and there signs in to the
// development service and selects a WireGuard server of the account.

#include <QSettings>

#include "api/apirequest.h"
#include "common/config.h"
#include "common/user.h"
#include "devservice.h"

namespace TavrixTest {

// Environment that carries the lab to the copy inside the client namespace.
inline constexpr const char *wgInsideVariable = "TAVRIX_WG_INSIDE";
inline constexpr const char *wgConfigVariable = "TAVRIX_WG_CONFIG_FILE";

inline bool runningInsideClientNs()
{
    return qEnvironmentVariableIsSet(wgInsideVariable);
}

// Runs this program again inside the client namespace with the peer's client configuration
// in a file; its output goes to ours. Returns its exit code (-1 on time-out).
inline int runInsideClientNs(NetnsLab &lab, const WireGuardPeer &peer, const QStringList &arguments, int timeoutMs)
{
    const QString configFile = lab.dir() + QStringLiteral("/client-wireguard.conf");
    QFile file(configFile);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return -1;
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    file.write(peer.clientConfig().toLatin1());
    file.close();
    qputenv(wgInsideVariable, lab.serverNs().toLocal8Bit());
    qputenv(wgConfigVariable, configFile.toLocal8Bit());
    QByteArray output;
    const int code = lab.exec(lab.clientNs(), QStringList{QCoreApplication::applicationFilePath()} + arguments,
                              &output, timeoutMs);
    fwrite(output.constData(), 1, size_t(output.size()), stdout);
    fflush(stdout);
    qunsetenv(wgInsideVariable);
    return code;
}

// Inside the client namespace: the development service handing out the peer's configuration,
// signed in as a premium account, a WireGuard server selected. Returns that server's entry, or
// null with *error set.
inline Tavrix::IPBundlePtr signInToWireGuardServer(DevService &service, QString *error)
{
    using namespace Tavrix;
    if (!service.start({QStringLiteral("--wireguard-config"), qEnvironmentVariable(wgConfigVariable)})) {
        *error = QStringLiteral("the development service did not start");
        return nullptr;
    }
    service.exportEnvironment();
    const QString user = QStringLiteral("premium@tavrixvpn.test");
    const QString password = QStringLiteral("premiumpass1");
    if (ApiRequest::instance()->login(user, password) != ApiRequest::LoginSuccess) {
        *error = QStringLiteral("sign-in failed: ") + ApiRequest::instance()->errorMessage();
        return nullptr;
    }
    const std::shared_ptr<Config> config = Config::instance();
    config->setUserName(user, true);
    config->setPassword(password, true);
    for (const IPBundlePtr &entry : User::instance()->bundles()) {
        if (entry->type() == 5 && !entry->isLoyalUserServer() && !entry->isPlaceholderAddress()) {
            config->setActiveServer(entry->ip_id());
            config->save();
            return entry;
        }
    }
    *error = QStringLiteral("the account has no WireGuard server");
    return nullptr;
}

} // namespace TavrixTest
