#pragma once

// One lab with a server for every engine the window can start (AnyConnect, OpenVPN,
// Shadowsocks and VMess, a WireGuard peer) and the
// responsiveness client run inside its client namespace. Used by the responsiveness test and
// its benchmark. Root only.

#include <QFile>
#include <QMap>
#include <QStandardPaths>

#include "netns.h"
#include "openvpnlab.h"
#include "proxylab.h"
#include "wglab.h"

namespace TavrixTest {

// One STALL line of the client.
struct Stall
{
    QString action;
    QString engine;
    double maxMs = 0;
    double ownMs = 0;
    double p99Ms = 0;
};

class ResponsiveLab
{
public:
    static QStringList programsNeeded()
    {
        return {QStringLiteral("ocserv"),       QStringLiteral("ocpasswd"),  QStringLiteral("certtool"),
                QStringLiteral("openvpn"),      QStringLiteral("ss-server"), QStringLiteral("v2ray"),
                QStringLiteral("wireguard-go"), QStringLiteral("wg"),        QStringLiteral("python3"),
                QStringLiteral("nft")};
    }

    ~ResponsiveLab() { down(); }

    bool up(QString *error)
    {
        if (!m_lab.up(error))
            return false;
        m_ocserv = std::make_unique<OcservServer>(m_lab);
        m_openVpn = std::make_unique<OpenVpnServer>(m_lab);
        m_proxies = std::make_unique<ProxyServers>(m_lab);
        m_wireGuard = std::make_unique<WireGuardPeer>(m_lab);
        if (!m_ocserv->makeCredentials(error) || !m_ocserv->start(OcservServer::NoGroups, error) ||
            !m_openVpn->makeCredentials({{QString::fromLatin1(OcservServer::demoUser), QStringLiteral("testpass")}},
                                        error) ||
            !m_openVpn->start(error) || !m_proxies->start(error) || !m_wireGuard->start(error))
            return false;
        m_wireGuardConfig = m_lab.dir() + QStringLiteral("/wireguard-client.conf");
        QFile config(m_wireGuardConfig);
        if (!config.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            *error = QStringLiteral("cannot write ") + m_wireGuardConfig;
            return false;
        }
        config.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        config.write(m_wireGuard->clientConfig().toLatin1());
        return true;
    }

    void down()
    {
        m_wireGuard.reset();
        m_proxies.reset();
        m_openVpn.reset();
        m_ocserv.reset();
        m_lab.down();
    }

    NetnsLab &lab() { return m_lab; }

    // Runs the client for the given engines (all when empty); its whole output goes to
    // *output. Returns its exit code (-1 on time-out).
    int runClient(const QString &program, const QStringList &engines, QByteArray *output, int timeoutMs)
    {
        QStringList command{program};
        if (!engines.isEmpty())
            command << QStringLiteral("--engines") << engines.join(QLatin1Char(','));
        const QStringList service{
            QStringLiteral("--openconnect-server"),
            QStringLiteral("%1:%2").arg(NetnsLab::serverAddress).arg(OcservServer::port),
            QStringLiteral("--openconnect-user"),
            QString::fromLatin1(OcservServer::demoUser),
            QStringLiteral("--openconnect-password"),
            QStringLiteral("testpass"),
            QStringLiteral("--openvpn-server"),
            m_openVpn->address(),
            QStringLiteral("--openvpn-ca"),
            m_openVpn->caFile(),
            QStringLiteral("--shadowsocks-server"),
            QStringLiteral("%1:%2").arg(NetnsLab::serverAddress).arg(ProxyServers::shadowsocksPort),
            QStringLiteral("--shadowsocks-password"),
            QString::fromLatin1(ProxyServers::password),
            QStringLiteral("--vmess-server"),
            QStringLiteral("%1:%2").arg(NetnsLab::serverAddress).arg(ProxyServers::vmessPort),
            QStringLiteral("--vmess-id"),
            QString::fromLatin1(ProxyServers::vmessId),
            QStringLiteral("--wireguard-config"),
            m_wireGuardConfig,
        };
        for (const QString &argument : service)
            command << QStringLiteral("--service-arg") << argument;
        return m_lab.exec(m_lab.clientNs(), command, output, timeoutMs);
    }

    static QList<Stall> stalls(const QByteArray &output)
    {
        QList<Stall> found;
        for (const QByteArray &line : output.split('\n')) {
            const QList<QByteArray> f = line.trimmed().split(' ');
            if (f.size() == 6 && f.at(0) == "STALL")
                found << Stall{QString::fromLatin1(f.at(1)), QString::fromLatin1(f.at(2)), f.at(3).toDouble(),
                               f.at(4).toDouble(), f.at(5).toDouble()};
        }
        return found;
    }

private:
    NetnsLab m_lab;
    std::unique_ptr<OcservServer> m_ocserv;
    std::unique_ptr<OpenVpnServer> m_openVpn;
    std::unique_ptr<ProxyServers> m_proxies;
    std::unique_ptr<WireGuardPeer> m_wireGuard;
    QString m_wireGuardConfig;
};

} // namespace TavrixTest
