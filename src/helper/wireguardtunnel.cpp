#include "helper/wireguardtunnel.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusMetaType>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTimer>

#include <sys/stat.h>

#include "helper/helperbus.h"
#include "helper/proto.h"
#include "helper/systemcommand.h"
#include "helperproto/wireguardstats.h"

namespace Tavrix {

namespace {

// wireguard-go and wg-quick are up in well under a second; a busy machine still fits.
constexpr int upWaitMs = 20000;
const QString configSuffix = QStringLiteral(".conf");
const QString upLine = QStringLiteral("wireguard-client: tunnel up on ");
constexpr int socketPollMs = 2;
// wg-quick's first routing table and firewall mark, and its MTU without a path to measure.
constexpr int firstTable = 51820;
constexpr int defaultMtu = 1420;
// What a full tunnel set up outside its device, one file a tunnel, for a helper that was killed.
const QString recordFolder = QStringLiteral("wireguard");

// The routing tables (and marks) of this helper's full tunnels.
QSet<int> &takenTables()
{
    static QSet<int> tables;
    return tables;
}

namespace Key = HelperBus::WireGuardKey;

// Reads a{sv} strictly: every key known, every value of its type. Anything else is refused,
// so a hook ("PostUp", "PreUp"...) or a file name cannot even be carried.
class FieldReader
{
public:
    FieldReader(const QVariantMap &map, const QString &where, QString *error)
        : m_map(map)
        , m_where(where)
        , m_error(error)
    {
    }

    bool onlyKeys(const QStringList &known)
    {
        for (auto it = m_map.constBegin(); it != m_map.constEnd(); ++it) {
            if (!known.contains(it.key()))
                return refuse(QStringLiteral("unknown field \"%1\"").arg(it.key().left(40)));
        }
        return true;
    }

    bool text(const char *key, QString *out, bool required)
    {
        const QVariant value = m_map.value(QLatin1String(key));
        if (!value.isValid())
            return !required || refuse(QStringLiteral("missing %1").arg(QLatin1String(key)));
        if (value.userType() != QMetaType::QString)
            return refuse(QStringLiteral("%1 must be a string").arg(QLatin1String(key)));
        *out = value.toString();
        return true;
    }

    bool list(const char *key, QStringList *out, bool required)
    {
        const QVariant value = m_map.value(QLatin1String(key));
        if (!value.isValid())
            return !required || refuse(QStringLiteral("missing %1").arg(QLatin1String(key)));
        if (value.userType() != QMetaType::QStringList)
            return refuse(QStringLiteral("%1 must be a list of strings").arg(QLatin1String(key)));
        *out = value.toStringList();
        return true;
    }

    bool number(const char *key, uint *out)
    {
        const QVariant value = m_map.value(QLatin1String(key));
        if (!value.isValid())
            return true;
        if (value.userType() != QMetaType::UInt)
            return refuse(QStringLiteral("%1 must be an unsigned number").arg(QLatin1String(key)));
        *out = value.toUInt();
        return true;
    }

    bool refuse(const QString &why)
    {
        *m_error = m_where + QStringLiteral(": ") + why;
        return false;
    }

private:
    const QVariantMap &m_map;
    QString m_where;
    QString *m_error;
};

bool readConfig(const QVariantMap &fields, HelperProto::WireGuardConfig *config, QString *error)
{
    FieldReader top(fields, QStringLiteral("WireGuard request"), error);
    uint mtu = 0;
    uint listenPort = 0;
    if (!top.onlyKeys({Key::privateKey, Key::addresses, Key::dns, Key::mtu, Key::listenPort, Key::peers}) ||
        !top.text(Key::privateKey, &config->privateKey, true) || !top.list(Key::addresses, &config->addresses, true) ||
        !top.list(Key::dns, &config->dns, false) || !top.number(Key::mtu, &mtu) ||
        !top.number(Key::listenPort, &listenPort))
        return false;
    config->mtu = decltype(config->mtu)(mtu);
    config->listenPort = decltype(config->listenPort)(listenPort);
    // aa{sv} inside a variant arrives undecoded; anything of another shape is refused.
    const QVariant peers = fields.value(QLatin1String(Key::peers));
    if (!peers.isValid())
        return top.refuse(QStringLiteral("missing Peers"));
    if (peers.userType() != qMetaTypeId<QDBusArgument>() ||
        peers.value<QDBusArgument>().currentSignature() != QLatin1String("aa{sv}"))
        return top.refuse(QStringLiteral("Peers must be a list of field sets"));
    QList<QVariantMap> peerList;
    peers.value<QDBusArgument>() >> peerList;
    if (peerList.isEmpty() || peerList.size() > HelperProto::maxPeers)
        return top.refuse(QStringLiteral("one to %1 peers are needed").arg(HelperProto::maxPeers));
    for (int i = 0; i < peerList.size(); ++i) {
        const QVariantMap &peerFields = peerList.at(i);
        FieldReader reader(peerFields, QStringLiteral("WireGuard peer %1").arg(i + 1), error);
        HelperProto::WireGuardPeer peer;
        uint keepalive = 0;
        if (!reader.onlyKeys(
                {Key::publicKey, Key::presharedKey, Key::allowedIps, Key::endpoint, Key::persistentKeepalive}) ||
            !reader.text(Key::publicKey, &peer.publicKey, true) ||
            !reader.text(Key::presharedKey, &peer.presharedKey, false) ||
            !reader.list(Key::allowedIps, &peer.allowedIps, true) ||
            !reader.text(Key::endpoint, &peer.endpoint, false) || !reader.number(Key::persistentKeepalive, &keepalive))
            return false;
        peer.persistentKeepalive = decltype(peer.persistentKeepalive)(keepalive);
        config->peers.append(peer);
    }
    return HelperProto::validateWireGuardConfig(*config, error);
}

} // namespace

WireGuardTunnel::WireGuardTunnel(const QString &id, const RuntimeFolder &folder, QObject *parent)
    : Tunnel(id, QStringLiteral("WireGuard"), folder, parent)
{
}

bool WireGuardTunnel::start(const QVariantMap &fields, QString *error)
{
    HelperProto::WireGuardConfig config;
    if (!readConfig(fields, &config, error))
        return false;
    QTimer::singleShot(upWaitMs, this, [this] {
        if (!isUp())
            fail(QStringLiteral("the WireGuard tunnel did not come up within %1 s").arg(upWaitMs / 1000));
    });
    // With the kernel's WireGuard the client program (wg-quick) makes the device; otherwise
    // the helper runs wireguard-go and sets the tunnel up itself, in a few commands rather
    // than wg-quick's dozens.
    if (QFileInfo::exists(QStringLiteral("/sys/module/wireguard")))
        return startClientProgram(config, error);
    return startUserspace(config, error);
}

bool WireGuardTunnel::startClientProgram(const HelperProto::WireGuardConfig &config, QString *error)
{
    if (!writeFile(configSuffix, HelperProto::wireGuardQuickText(config).toUtf8(), error))
        return false;
    if (!startEngine(QStringLiteral("wireguard/wireguard-client"), {QStringLiteral("run"), filePath(configSuffix)}, {},
                     error))
        return false;
    connect(m_child, &ChildProcess::lineRead, this, [this](const QString &line) {
        if (line.startsWith(upLine)) {
            // Only a name of ours is kept: the health verb reads that device's socket.
            const QString name = line.mid(upLine.size()).trimmed();
            if (HelperProto::isOwnWireGuardInterface(name))
                m_interface = name;
            markUp();
        }
    });
    return true;
}

bool WireGuardTunnel::startUserspace(const HelperProto::WireGuardConfig &config, QString *error)
{
    const QString program = ChildProcess::systemToolPath(QStringLiteral("wireguard-go"), error);
    if (program.isEmpty()) {
        *error = QStringLiteral("the kernel has no WireGuard and wireguard-go is not installed (Debian package "
                                "wireguard-go)");
        return false;
    }
    // The control sockets of every network namespace share one folder: the helper's process
    // id and a count keep the name unique on the machine.
    static int count = 0;
    for (int tries = 0; tries < 100 && m_interface.isEmpty(); ++tries) {
        const QString name = QStringLiteral("tvxwg%1").arg(qint64(QCoreApplication::applicationPid()) * 100 + count);
        count = (count + 1) % 100;
        if (!QFileInfo::exists(controlSocket(name)))
            m_interface = name;
    }
    if (m_interface.isEmpty()) {
        *error = QStringLiteral("no free name for the WireGuard device");
        return false;
    }
    m_config = config;
    // In the foreground: known by the pid started, and its end is the device's end.
    if (!startProgram(program, {QStringLiteral("-f"), m_interface}, {}, error))
        return false;
    // The device is usable once its control socket answers; wireguard-go makes it within
    // milliseconds.
    auto *poll = new QTimer(this);
    poll->setInterval(socketPollMs);
    connect(poll, &QTimer::timeout, this, [this, poll] {
        if (hasEnded()) {
            poll->deleteLater();
            return;
        }
        if (!QFileInfo::exists(controlSocket(m_interface)))
            return;
        poll->deleteLater();
        QString reason;
        if (!configureDevice(&reason)) {
            fail(QStringLiteral("the WireGuard tunnel could not be set up: ") + reason);
            return;
        }
        emit output(QStringLiteral("tunnel up on ") + m_interface);
        markUp();
    });
    poll->start();
    return true;
}

QString WireGuardTunnel::controlSocket(const QString &name)
{
    return QStringLiteral("/var/run/wireguard/") + name + QStringLiteral(".sock");
}

bool WireGuardTunnel::configureDevice(QString *error)
{
    // Full-tunnel peers (a /0) go through a table of their own, chosen by a firewall mark
    // that the device's own packets carry, as wg-quick does it: the way to the server stays
    // the main table's.
    QStringList routes4;
    QStringList routes6;
    bool default4 = false;
    bool default6 = false;
    for (const HelperProto::WireGuardPeer &peer : qAsConst(m_config.peers)) {
        for (const QString &allowed : peer.allowedIps) {
            const bool v6 = allowed.contains(QLatin1Char(':'));
            if (allowed.endsWith(QLatin1String("/0")))
                (v6 ? default6 : default4) = true;
            else if (!(v6 ? routes6 : routes4).contains(allowed))
                (v6 ? routes6 : routes4).append(allowed);
        }
    }
    if (default4 || default6) {
        QString tables;
        runSystemCommand(
            QStringLiteral("ip"),
            {QStringLiteral("route"), QStringLiteral("show"), QStringLiteral("table"), QStringLiteral("all")}, &tables);
        QString tables6;
        runSystemCommand(QStringLiteral("ip"),
                         {QStringLiteral("-6"), QStringLiteral("route"), QStringLiteral("show"),
                          QStringLiteral("table"), QStringLiteral("all")},
                         &tables6);
        QSet<int> &taken = takenTables();
        m_table = firstTable;
        while (taken.contains(m_table) ||
               (tables + QLatin1Char('\n') + tables6).contains(QStringLiteral(" table %1 ").arg(m_table)))
            ++m_table;
        taken.insert(m_table);
    }

    // The keys go through a pipe, never to a file.
    QString setconf = HelperProto::wireGuardSetconfText(m_config);
    if (m_table > 0)
        setconf.replace(QStringLiteral("[Interface]\n"), QStringLiteral("[Interface]\nFwMark = %1\n").arg(m_table));
    QString said;
    if (runSystemCommand(QStringLiteral("wg"), {QStringLiteral("setconf"), m_interface, QStringLiteral("/dev/stdin")},
                         &said, setconf.toUtf8()) != 0) {
        // wg may quote the line it refused: no key reaches the owner's log.
        for (const HelperProto::WireGuardPeer &peer : qAsConst(m_config.peers)) {
            if (!peer.presharedKey.isEmpty())
                said.replace(peer.presharedKey, QStringLiteral("********"));
        }
        said.replace(m_config.privateKey, QStringLiteral("********"));
        *error = QStringLiteral("wg setconf: ") + said.left(300);
        return false;
    }

    const int mtu = m_config.mtu > 0 ? m_config.mtu : defaultMtu;
    QStringList addresses4;
    QStringList addresses6;
    for (const QString &address : qAsConst(m_config.addresses))
        (address.contains(QLatin1Char(':')) ? addresses6 : addresses4).append(address);
    // The addresses go on last: a device with its address is a complete tunnel.
    QByteArray batch4 = QStringLiteral("link set dev %1 mtu %2 up\n").arg(m_interface).arg(mtu).toLatin1();
    QByteArray batch6;
    auto addRoutes = [this](QByteArray *batch, const QStringList &routes, bool fullTunnel, const QStringList &addresses,
                            const QString &everything) {
        for (const QString &route : routes)
            *batch += QStringLiteral("route add %1 dev %2\n").arg(route, m_interface).toLatin1();
        if (fullTunnel) {
            *batch +=
                QStringLiteral("route add %1 dev %2 table %3\n").arg(everything, m_interface).arg(m_table).toLatin1();
            *batch += QStringLiteral("rule add not fwmark %1 table %1\n").arg(m_table).toLatin1();
            *batch += QByteArrayLiteral("rule add table main suppress_prefixlength 0\n");
        }
        for (const QString &address : addresses)
            *batch += QStringLiteral("address add %1 dev %2\n").arg(address, m_interface).toLatin1();
    };
    addRoutes(&batch4, routes4, default4, addresses4, QStringLiteral("0.0.0.0/0"));
    addRoutes(&batch6, routes6, default6, addresses6, QStringLiteral("::/0"));

    // Recorded before anything outlives the device, again once DNS is set.
    m_rulesAdded = default4 || default6;
    m_dnsSet = false;
    record();
    if (default4 || default6) {
        // Packets for the tunnel's address that arrive on another interface are dropped, and
        // the device's own (marked) packets keep their mark through connection tracking.
        QByteArray rules;
        auto addTable = [this, &rules](const char *family, const char *daddr, const QStringList &addresses) {
            rules += QStringLiteral("add table %1 %2\n").arg(QLatin1String(family), m_interface).toLatin1();
            rules += QStringLiteral("add chain %1 %2 preraw { type filter hook prerouting priority -300; }\n"
                                    "add chain %1 %2 premangle { type filter hook prerouting priority -150; }\n"
                                    "add chain %1 %2 postmangle { type filter hook postrouting priority -150; }\n")
                         .arg(QLatin1String(family), m_interface)
                         .toLatin1();
            for (const QString &address : addresses)
                rules += QStringLiteral("add rule %1 %2 preraw iifname != \"%2\" %3 daddr %4 fib saddr type != local "
                                        "drop\n")
                             .arg(QLatin1String(family), m_interface, QLatin1String(daddr),
                                  address.section(QLatin1Char('/'), 0, 0))
                             .toLatin1();
            rules += QStringLiteral("add rule %1 %2 postmangle meta l4proto udp mark %3 ct mark set mark\n"
                                    "add rule %1 %2 premangle meta l4proto udp meta mark set ct mark\n")
                         .arg(QLatin1String(family), m_interface)
                         .arg(m_table)
                         .toLatin1();
        };
        if (default4)
            addTable("ip", "ip", addresses4);
        if (default6)
            addTable("ip6", "ip6", addresses6);
        if (runSystemCommand(QStringLiteral("nft"), {QStringLiteral("-f"), QStringLiteral("-")}, &said, rules) != 0) {
            *error = QStringLiteral("nft: ") + said.left(300);
            return false;
        }
        if (default4) {
            // Answers to the marked packets must pass the reverse-path check.
            QFile validMark(QStringLiteral("/proc/sys/net/ipv4/conf/all/src_valid_mark"));
            if (validMark.open(QIODevice::WriteOnly))
                validMark.write("1\n");
        }
    }
    if (runSystemCommand(QStringLiteral("ip"), {QStringLiteral("-4"), QStringLiteral("-batch"), QStringLiteral("-")},
                         &said, batch4) != 0) {
        *error = QStringLiteral("ip: ") + said.left(300);
        return false;
    }
    if (!batch6.isEmpty() &&
        runSystemCommand(QStringLiteral("ip"), {QStringLiteral("-6"), QStringLiteral("-batch"), QStringLiteral("-")},
                         &said, batch6) != 0) {
        *error = QStringLiteral("ip: ") + said.left(300);
        return false;
    }
    if (!m_config.dns.isEmpty()) {
        QByteArray servers;
        for (const QString &server : qAsConst(m_config.dns))
            servers += "nameserver " + server.toLatin1() + '\n';
        QString missing;
        if (ChildProcess::systemToolPath(QStringLiteral("resolvconf"), &missing).isEmpty()) {
            emit output(QStringLiteral("resolvconf is not installed: the configuration's DNS servers are not applied"));
        } else if (runSystemCommand(QStringLiteral("resolvconf"),
                                    {QStringLiteral("-a"), QStringLiteral("tun.") + m_interface, QStringLiteral("-m"),
                                     QStringLiteral("0"), QStringLiteral("-x")},
                                    &said, servers) == 0) {
            m_dnsSet = true;
            record();
        } else {
            *error = QStringLiteral("resolvconf: ") + said.left(300);
            return false;
        }
    }
    return true;
}

void WireGuardTunnel::cleanUp()
{
    // The device went with wireguard-go; what outlives it is taken away here.
    if (m_table > 0)
        takenTables().remove(m_table);
    undo(m_interface, m_table, m_rulesAdded, m_dnsSet);
    m_table = 0;
    if (!m_interface.isEmpty())
        m_folder.remove(recordFolder + QLatin1Char('/') + id());
}

void WireGuardTunnel::undo(const QString &interface, int table, bool rules, bool dns)
{
    if (dns)
        runSystemCommand(QStringLiteral("resolvconf"),
                         {QStringLiteral("-d"), QStringLiteral("tun.") + interface, QStringLiteral("-f")});
    if (table > 0) {
        // The rule that keeps the main table's specific routes is shared by full tunnels.
        QByteArray lines = QStringLiteral("rule delete table %1\n").arg(table).toLatin1();
        if (takenTables().isEmpty())
            lines += "rule delete table main suppress_prefixlength 0\n";
        for (const char *family : {"-4", "-6"})
            runSystemCommand(
                QStringLiteral("ip"),
                {QLatin1String(family), QStringLiteral("-force"), QStringLiteral("-batch"), QStringLiteral("-")},
                nullptr, lines);
    }
    if (rules) {
        for (const char *family : {"ip", "ip6"})
            runSystemCommand(QStringLiteral("nft"),
                             {QStringLiteral("delete"), QStringLiteral("table"), QLatin1String(family), interface});
    }
}

void WireGuardTunnel::removeLeftovers(const RuntimeFolder &folder)
{
    const QString path = folder.filePath(recordFolder);
    ::mkdir(QFile::encodeName(path).constData(), 0700);
    for (const QString &name : QDir(path).entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        QFile file(path + QLatin1Char('/') + name);
        // Written by a helper into its own root-only folder: "<device> <table> <rules> <dns>".
        const QStringList fields = file.open(QIODevice::ReadOnly)
                                       ? QString::fromLatin1(file.read(200)).split(QLatin1Char(' '))
                                       : QStringList();
        if (fields.size() == 4 && HelperProto::isOwnWireGuardInterface(fields.at(0))) {
            // The device itself went with its wireguard-go, killed with the helper.
            runSystemCommand(QStringLiteral("ip"), {QStringLiteral("link"), QStringLiteral("delete"), fields.at(0)});
            undo(fields.at(0), fields.at(1).toInt(), fields.at(2) == QLatin1String("1"),
                 fields.at(3).trimmed() == QLatin1String("1"));
            qInfo().noquote() << QStringLiteral("Removed what an earlier helper left of") << fields.at(0);
        }
        file.remove();
    }
}

void WireGuardTunnel::record()
{
    QString error;
    if (!m_folder.writePrivate(recordFolder + QLatin1Char('/') + id(),
                               QStringLiteral("%1 %2 %3 %4")
                                   .arg(m_interface)
                                   .arg(m_table)
                                   .arg(m_rulesAdded ? 1 : 0)
                                   .arg(m_dnsSet ? 1 : 0)
                                   .toLatin1(),
                               &error))
        qWarning().noquote() << QStringLiteral("WireGuard") << m_interface << error;
}

} // namespace Tavrix
