#include "protection/killswitchfirewall.h"

#include <QDebug>
#include <QFile>
#include <QHostAddress>
#include <QHostInfo>
#include <QMutex>
#include <QRegularExpression>
#include <QUrl>

#include "common/serviceurl.h"
#include "helperproto/limits.h"
#include "platform/paths.h"
#include "platform/privatefile.h"
#include "vpn/openconnectconnection.h"

namespace Tavrix {
namespace KillSwitchFirewall {

namespace {

using HelperProto::KillSwitchAddress;
using HelperProto::KillSwitchRequest;
using HelperProto::KillSwitchState;

struct Target
{
    int type = 0;
    QString configuration;
    QString address;
};

QMutex &mutex()
{
    static QMutex m;
    return m;
}

Target &target()
{
    static Target t;
    return t;
}

QString storedServicesPath()
{
    return engineFolder() + QStringLiteral("killswitch-addresses");
}

// Every origin the client signs in, configures and learns its public IP through.
QList<QUrl> serviceOrigins()
{
    QList<QUrl> origins;
    for (const char *origin : {ServiceUrl::firestoreOrigin, ServiceUrl::proxyOrigin, ServiceUrl::directOrigin,
                               ServiceUrl::countryLoginOrigin, ServiceUrl::directCommOrigin}) {
        const QUrl url(ServiceUrl::address(QString::fromLatin1(origin)));
        if (url.isValid() && !origins.contains(url))
            origins << url;
    }
    return origins;
}

QList<QHostAddress> addressesOf(const QString &host, bool resolve)
{
    QHostAddress literal;
    if (literal.setAddress(host))
        return {literal};
    if (!resolve)
        return {};
    const QHostInfo info = QHostInfo::fromName(host);
    return info.error() == QHostInfo::NoError ? info.addresses() : QList<QHostAddress>();
}

QList<KillSwitchAddress> toEntries(const QList<QHostAddress> &addresses, quint16 port, const QString &protocol)
{
    QList<KillSwitchAddress> entries;
    for (const QHostAddress &address : addresses) {
        if (address.isLoopback())
            continue; // loopback is always open
        KillSwitchAddress entry{address.toString(), port, protocol};
        if (HelperProto::isValidIpAddress(entry.address))
            entries << entry;
    }
    return entries;
}

QList<KillSwitchAddress> serviceAddresses(bool resolve)
{
    // The last good set: what a block after a restart still lets the user sign in with.
    QFile stored(storedServicesPath());
    KillSwitchRequest kept;
    QString error;
    const bool haveKept = stored.open(QIODevice::ReadOnly) &&
                          HelperProto::parseKillSwitchStoredText(stored.read(64 * 1024), &kept, &error);
    // Nothing kept yet (the first block of this installation): look the names up whatever the
    // firewall is, rather than block the way to sign in for good.
    resolve = resolve || !haveKept;
    QList<KillSwitchAddress> found;
    bool complete = true;
    for (const QUrl &origin : serviceOrigins()) {
        const QList<QHostAddress> addresses = addressesOf(origin.host(), resolve);
        complete = complete && !addresses.isEmpty();
        for (const KillSwitchAddress &entry :
             toEntries(addresses, quint16(origin.port(origin.scheme() == QLatin1String("http") ? 80 : 443)),
                       QStringLiteral("tcp"))) {
            const bool known = std::any_of(found.cbegin(), found.cend(), [&entry](const KillSwitchAddress &e) {
                return e.address == entry.address && e.port == entry.port;
            });
            if (!known && found.size() < HelperProto::maxKillSwitchServices)
                found << entry;
        }
    }
    if (complete && resolve) {
        KillSwitchRequest save;
        save.services = found;
        if (!writePrivateFile(storedServicesPath(), HelperProto::killSwitchStoredText(save), &error))
            qWarning().noquote() << "Kill switch: service addresses not kept:" << error;
        return found;
    }
    if (!haveKept)
        return found;
    for (const KillSwitchAddress &entry : qAsConst(kept.services)) {
        const bool known = std::any_of(found.cbegin(), found.cend(), [&entry](const KillSwitchAddress &e) {
            return e.address == entry.address && e.port == entry.port;
        });
        if (!known && found.size() < HelperProto::maxKillSwitchServices)
            found << entry;
    }
    return found;
}

} // namespace

void setVpnTarget(int type, const QString &configuration, const QString &address)
{
    QMutexLocker lock(&mutex());
    target() = Target{type, configuration, address};
}

void setVpnConfiguration(int type, const QString &configuration)
{
    QMutexLocker lock(&mutex());
    target().type = type;
    target().configuration = configuration;
}

QList<KillSwitchAddress> vpnEndpoints(int type, const QString &configuration, const QString &address)
{
    if (!HelperProto::isValidIpAddress(address) && type != OpenConnectConnection::WIREGUARD)
        return {};
    const auto port = [](const QString &text) {
        const uint value = text.toUInt();
        return value > 0 && value <= 65535 ? quint16(value) : quint16(0);
    };
    if (type == OpenConnectConnection::WIREGUARD) {
        // The configuration's own endpoint when it names an address (the service may hand out
        // another than the list's), the list's address otherwise.
        static const QRegularExpression endpoint(
            QStringLiteral("^\\s*Endpoint\\s*=\\s*\\[?([^\\s\\]]*?)\\]?:(\\d+)\\s*$"),
            QRegularExpression::MultilineOption | QRegularExpression::CaseInsensitiveOption);
        const QRegularExpressionMatch match = endpoint.match(configuration);
        const QString host = match.captured(1);
        const QString chosen = HelperProto::isValidIpAddress(host) ? host : address;
        if (!HelperProto::isValidIpAddress(chosen))
            return {};
        return {{chosen, match.hasMatch() ? port(match.captured(2)) : quint16(0), QStringLiteral("udp")}};
    }
    if (type == OpenConnectConnection::OPENVPN) {
        quint16 defaultPort = 1194;
        QString defaultProtocol = QStringLiteral("udp");
        QList<KillSwitchAddress> entries;
        QList<QPair<QString, QString>> remotes; // port, protocol as written
        for (const QString &raw : configuration.split(QLatin1Char('\n'))) {
            const QStringList words = raw.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
            if (words.isEmpty())
                continue;
            if (words.first() == QLatin1String("port") && words.size() > 1 && port(words.at(1)))
                defaultPort = port(words.at(1));
            else if (words.first() == QLatin1String("proto") && words.size() > 1)
                defaultProtocol =
                    words.at(1).startsWith(QLatin1String("tcp")) ? QStringLiteral("tcp") : QStringLiteral("udp");
            else if (words.first() == QLatin1String("remote"))
                remotes << qMakePair(words.value(2), words.value(3));
        }
        if (remotes.isEmpty())
            remotes << qMakePair(QString(), QString());
        for (const auto &remote : qAsConst(remotes)) {
            const KillSwitchAddress entry{
                address, remote.first.isEmpty() ? defaultPort : port(remote.first),
                remote.second.isEmpty()
                    ? defaultProtocol
                    : (remote.second.startsWith(QLatin1String("tcp")) ? QStringLiteral("tcp") : QStringLiteral("udp"))};
            const bool known = std::any_of(entries.cbegin(), entries.cend(), [&entry](const KillSwitchAddress &e) {
                return e.port == entry.port && e.protocol == entry.protocol;
            });
            if (!known && entries.size() < HelperProto::maxKillSwitchEndpoints)
                entries << entry;
        }
        return entries;
    }
    return {{address, 0, QStringLiteral("tcp")}, {address, 0, QStringLiteral("udp")}};
}

KillSwitchRequest request(KillSwitchState state, bool resolve)
{
    KillSwitchRequest request;
    request.state = state;
    if (state == KillSwitchState::Off)
        return request;
    Target chosen;
    {
        QMutexLocker lock(&mutex());
        chosen = target();
    }
    if (!chosen.address.isEmpty()) {
        // "host:port" as the list gives some servers.
        QString host = chosen.address;
        if (host.count(QLatin1Char(':')) == 1)
            host = host.section(QLatin1Char(':'), 0, 0);
        QList<QHostAddress> addresses = addressesOf(host, resolve);
        // The configuration may still name its endpoint itself.
        if (addresses.isEmpty())
            addresses << QHostAddress();
        for (const QHostAddress &address : qAsConst(addresses)) {
            for (const KillSwitchAddress &entry : vpnEndpoints(chosen.type, chosen.configuration, address.toString())) {
                if (request.endpoints.size() < HelperProto::maxKillSwitchEndpoints)
                    request.endpoints << entry;
            }
        }
    }
    // The client's own service stays reachable in every blocking state: sign-in while blocked,
    // and the WireGuard configuration a (re)connect fetches before its tunnel is up.
    // (The IPv6 guard of a switch that is off blocks no IPv4: no look-ups for it.)
    if (state != KillSwitchState::TunnelIpv6)
        request.services = serviceAddresses(resolve);
    // The tunnel devices the client's engines make: OpenVPN's and OpenConnect's tun<n>, the
    // helper's WireGuard tvxwg<pid>, the client's own TavrixVPN device.
    request.interfaces = QStringList{QStringLiteral("tun*"), QStringLiteral("tvxwg*"), QStringLiteral("TavrixVPN")};
    if (chosen.type == OpenConnectConnection::WIREGUARD) {
        static const QRegularExpression dns(QStringLiteral("^\\s*DNS\\s*=\\s*(.+)$"),
                                            QRegularExpression::MultilineOption |
                                                QRegularExpression::CaseInsensitiveOption);
        const QRegularExpressionMatch match = dns.match(chosen.configuration);
        if (match.hasMatch()) {
            for (const QString &server : match.captured(1).split(QLatin1Char(','))) {
                if (HelperProto::isValidIpAddress(server.trimmed()) && request.dns.size() < HelperProto::maxDnsServers)
                    request.dns << server.trimmed();
            }
        }
    }
    return request;
}

} // namespace KillSwitchFirewall
} // namespace Tavrix
