// The kill switch kept by the privileged helper, counted on the wire. The real window runs as an
// ordinary user in the client namespace; the helper as root on its private bus; the VPN server
// of the row (WireGuard, OpenVPN, a full-tunnel OpenConnect with IPv6), the probe listener and
// the account service in the server namespace, the service on an address of the outer link (not
// loopback, as in real life). The outer link carries IPv4 and IPv6. A counting table of the
// test's own, after every other filter, counts every packet that leaves the outer link by where
// it goes: the VPN endpoint, the service, anything else (per family). At each stage the window
// sends its probe set (TCP, UDP, DNS, ICMP, both families):
//   blocked-idle               switch on, no tunnel                  nothing else leaves
//   tunnel                     connected                             nothing else (IPv4 probes answered
//                                                                    through the tunnel, IPv6 stays in
//                                                                    unless the tunnel carries it)
//   server-dead                the server stopped, 20 s more         nothing else
//   reconnecting               the client brings the tunnel back     nothing else (counted while shown)
//   blocked-after-disconnect   disconnected by the user              nothing else
//   window-killed              the window killed while connected     nothing else; the block holds
//   boot                       no table, the helper started again    blocked again from what it kept
//   blocked-restart            the window started again, switch on   signs in through the block
//   clear-switch-off           switch off                            the table is gone, probes answered

#include <QMap>
#include <QRegularExpression>
#include <QtTest>

#include <csignal>
#include <pwd.h>
#include <unistd.h>

#include "devservice.h"
#include "helperlab.h"
#include "netns.h"
#include "openvpnlab.h"
#include "testmain.h"
#include "wglab.h"

using TavrixTest::HelperLab;
using TavrixTest::NetnsLab;
using TavrixTest::OcservServer;
using TavrixTest::OpenVpnServer;
using TavrixTest::WireGuardPeer;

namespace {

constexpr int probePort = 7004;
const QString insideV4 = QString::fromLatin1(NetnsLab::insideAddress);
const QString insideV6 = QStringLiteral("fd00:198:18:100::1");
const QString serviceAddress = QStringLiteral("10.231.0.3");

QString binProgram(const QString &name)
{
    return qEnvironmentVariable("TAVRIX_BIN_DIR") + QLatin1Char('/') + name;
}

struct Counts
{
    qint64 vpn = 0, service = 0, other4 = 0, other6 = 0;
};

} // namespace

class KillSwitchHelperTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void nothingLeavesButTheServerAndTheService_data();
    void nothingLeavesButTheServerAndTheService();

private:
    bool ip(const QStringList &arguments);
    QString nft(const QStringList &arguments, const QByteArray &input = {});
    Counts readAndReset();
    // Runs the window as the user through one flow; answers its gates. False on a failed step.
    bool runClient(const QString &flow, const QString &engine, QStringList *output);
    void openGate(const QString &name);
    bool startServer(const QString &engine, QString *error)
    {
        return engine == QLatin1String("openvpn")       ? m_openvpn->start(error)
               : engine == QLatin1String("openconnect") ? m_ocserv->start(OcservServer::NoGroups, error, "default")
                                                        : m_peer->start(error);
    }
    void pingFromClient();
    QString tableName() const { return QStringLiteral("tavrixvpn_%1").arg(getpwnam(HelperLab::grantedUser)->pw_uid); }

    NetnsLab m_lab;
    std::unique_ptr<WireGuardPeer> m_peer;
    std::unique_ptr<OpenVpnServer> m_openvpn;
    std::unique_ptr<OcservServer> m_ocserv;
    std::unique_ptr<HelperLab> m_helper;
    QString m_shared; // for the user: XDG folders, the service's certificate, the gates
    QString m_serviceUrl;
    QMap<QString, Counts> m_counts;
    QProcess *m_client = nullptr;
};

bool KillSwitchHelperTest::ip(const QStringList &arguments)
{
    QByteArray output;
    const bool ok = TavrixTest::runProgram(QStringLiteral("ip"), arguments, &output) == 0;
    if (!ok)
        qWarning().noquote() << "ip" << arguments.join(' ') << ":" << output;
    return ok;
}

QString KillSwitchHelperTest::nft(const QStringList &arguments, const QByteArray &input)
{
    QByteArray output;
    m_lab.exec(m_lab.clientNs(), QStringList{QStringLiteral("nft")} + arguments, &output, 10000, input);
    return QString::fromUtf8(output);
}

Counts KillSwitchHelperTest::readAndReset()
{
    const QString text = nft({"reset", "counters", "table", "inet", "tavrixcount"});
    const auto value = [&text](const char *name) {
        const QRegularExpression counter(QStringLiteral("counter %1 \\{\\s*packets (\\d+)").arg(QLatin1String(name)));
        return counter.match(text).captured(1).toLongLong();
    };
    return Counts{value("vpn"), value("service"), value("other4"), value("other6")};
}

void KillSwitchHelperTest::initTestCase()
{
    const QString reason = HelperLab::skipReason();
    if (!reason.isEmpty())
        QSKIP(qPrintable(reason));
    QString error;
    QVERIFY2(m_lab.up(&error), qPrintable(error));
    const QString srv = m_lab.serverNs();
    const QString cli = m_lab.clientNs();
    // IPv6 on the outer link, the service on an address of its own there, clear default routes
    // (a tunnel's routes are more specific while it is up).
    QVERIFY(ip({"-n", srv, "addr", "add", "fd00:231::1/64", "dev", m_lab.serverLink(), "nodad"}));
    QVERIFY(ip({"-n", cli, "addr", "add", "fd00:231::2/64", "dev", m_lab.clientLink(), "nodad"}));
    QVERIFY(ip({"-n", srv, "addr", "add", serviceAddress + "/24", "dev", m_lab.serverLink()}));
    QVERIFY(ip({"-n", srv, "addr", "add", insideV6 + "/128", "dev", "lo"}));
    QVERIFY(ip({"-n", cli, "route", "add", "default", "via", NetnsLab::serverAddress}));
    QVERIFY(ip({"-n", cli, "-6", "route", "add", "default", "via", "fd00:231::1"}));

    m_peer = std::make_unique<WireGuardPeer>(m_lab);
    QVERIFY2(m_peer->start(&error), qPrintable(error));
    m_openvpn = std::make_unique<OpenVpnServer>(m_lab);
    QVERIFY2(m_openvpn->makeCredentials({{"testuser", "testpass"}}, &error), qPrintable(error));
    m_ocserv = std::make_unique<OcservServer>(m_lab);
    QVERIFY2(m_ocserv->makeCredentials(&error), qPrintable(error));
    m_ocserv->setExtraConfig("ipv6-network = fd00:231:10::/48\nipv6-subnet-prefix = 64\n");
    QVERIFY(m_lab.start(
        srv, {binProgram(QStringLiteral("tavrix-leak-listener")), QString::number(probePort), insideV4, insideV6},
        m_lab.dir() + QStringLiteral("/listener.log")));
    QVERIFY(m_lab.waitForListener(srv, probePort));

    // Folders the user may read: its settings survive the window's restart.
    m_shared = QStringLiteral("/tmp/tvx-ks-%1").arg(getpid());
    QDir(m_shared).removeRecursively();
    const passwd *user = getpwnam(HelperLab::grantedUser);
    for (const char *sub : {"", "/cert", "/gate", "/config", "/data", "/cache", "/runtime"}) {
        const QString path = m_shared + QLatin1String(sub);
        QVERIFY(QDir().mkpath(path));
        QVERIFY(::chown(QFile::encodeName(path).constData(), sub[0] ? user->pw_uid : 0, user->pw_gid) == 0);
        ::chmod(QFile::encodeName(path).constData(), sub == QLatin1String("/runtime") ? 0700 : 0755);
    }
    const QString wireGuard = m_shared + QStringLiteral("/cert/wireguard.conf");
    QFile config(wireGuard);
    QVERIFY(config.open(QIODevice::WriteOnly));
    // Everything through the tunnel; the listener's network by a route of its own as well, more
    // specific than the clear one (as a server pushes it).
    config.write(m_peer->clientConfig()
                     .replace(QStringLiteral("AllowedIPs = 0.0.0.0/0"),
                              QStringLiteral("AllowedIPs = 0.0.0.0/0, %1").arg(NetnsLab::insideNetwork))
                     .toLatin1());
    config.close();
    QProcess *service = m_lab.start(srv,
                                    {TavrixTest::DevService::program(),
                                     "--host",
                                     serviceAddress,
                                     "--port",
                                     "8443",
                                     "--name",
                                     serviceAddress,
                                     "--cert-dir",
                                     m_shared + "/cert",
                                     "--wireguard-config",
                                     wireGuard,
                                     "--openvpn-server",
                                     m_openvpn->address(),
                                     "--openvpn-ca",
                                     m_openvpn->caFile(),
                                     "--openconnect-server",
                                     QStringLiteral("%1:%2").arg(NetnsLab::serverAddress).arg(OcservServer::port),
                                     "--openconnect-user",
                                     "testuser",
                                     "--openconnect-password",
                                     "testpass"},
                                    m_lab.dir() + QStringLiteral("/service.log"));
    QVERIFY(service);
    QVERIFY(m_lab.waitForListener(srv, 8443));
    m_serviceUrl = QStringLiteral("https://%1:8443").arg(serviceAddress);
    QFile::setPermissions(m_shared + QStringLiteral("/cert/cert.pem"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther);

    m_helper = std::make_unique<HelperLab>(m_lab);
    QVERIFY2(m_helper->start(&error), qPrintable(error));
}

void KillSwitchHelperTest::cleanupTestCase()
{
    if (m_client) {
        m_client->kill();
        m_client->waitForFinished(5000);
        delete m_client;
    }
    m_helper.reset();
    m_peer.reset();
    m_openvpn.reset();
    m_ocserv.reset();
    m_lab.down();
    if (!m_shared.isEmpty())
        QDir(m_shared).removeRecursively();
}

void KillSwitchHelperTest::openGate(const QString &name)
{
    QFile gate(m_shared + QStringLiteral("/gate/") + name);
    gate.open(QIODevice::WriteOnly);
}

void KillSwitchHelperTest::pingFromClient()
{
    // As root in the client namespace: the firewall's output filter holds for root too.
    m_lab.exec(m_lab.clientNs(), {"ping", "-c", "3", "-i", "0.3", "-W", "1", insideV4});
    m_lab.exec(m_lab.clientNs(), {"ping", "-6", "-c", "3", "-i", "0.3", "-W", "1", insideV6});
    m_lab.exec(m_lab.clientNs(), {"ping", "-c", "2", "-i", "0.3", "-W", "1", serviceAddress});
}

bool KillSwitchHelperTest::runClient(const QString &flow, const QString &engine, QStringList *lines)
{
    const QStringList environment{QStringLiteral("XDG_CONFIG_HOME=") + m_shared + "/config",
                                  QStringLiteral("XDG_DATA_HOME=") + m_shared + "/data",
                                  QStringLiteral("XDG_CACHE_HOME=") + m_shared + "/cache",
                                  QStringLiteral("XDG_RUNTIME_DIR=") + m_shared + "/runtime"};
    const QStringList command = m_helper->asUser(
        HelperLab::grantedUser,
        {binProgram(QStringLiteral("tavrix-leak-client")), "--flow", flow, "--engine", engine, "--gate",
         m_shared + "/gate", "--v4", insideV4, "--v6", insideV6, "--port", QString::number(probePort), "--service-url",
         m_serviceUrl, "--service-ca", m_shared + "/cert/cert.pem"},
        environment);
    // The gates of an earlier run are closed again.
    QDir gates(m_shared + QStringLiteral("/gate"));
    for (const QString &name : gates.entryList(QDir::Files))
        gates.remove(name);
    m_client = new QProcess;
    m_client->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_client->start(command.first(), command.mid(1));
    if (!m_client->waitForStarted(5000))
        return false;
    QDeadlineTimer deadline(150000);
    bool killed = false;
    while (!deadline.hasExpired() && (m_client->state() == QProcess::Running || m_client->canReadLine())) {
        if (!m_client->canReadLine()) {
            m_client->waitForReadyRead(200);
            continue;
        }
        const QString line = QString::fromUtf8(m_client->readLine()).trimmed();
        *lines << line;
        if (!line.startsWith(QLatin1String("READY ")))
            continue;
        const QString gate = line.mid(6);
        QString error;
        if (gate == QLatin1String("server-dead")) {
            m_peer->stop();
            m_openvpn->kill();
            // A crash: ocserv's workers would say goodbye to their clients on SIGTERM.
            QByteArray pids;
            TavrixTest::runProgram(QStringLiteral("ip"), {"netns", "pids", m_lab.serverNs()}, &pids);
            for (const QByteArray &pid : pids.split('\n')) {
                QFile comm(QStringLiteral("/proc/%1/comm").arg(QString::fromLatin1(pid.trimmed())));
                if (pid.trimmed().toInt() > 1 && comm.open(QIODevice::ReadOnly) && comm.readAll().startsWith("ocserv"))
                    ::kill(pid_t(pid.trimmed().toInt()), SIGKILL);
            }
            m_ocserv->stop();
            readAndReset();
        } else if (gate == QLatin1String("server-back")) {
            if (!startServer(engine, &error))
                qWarning().noquote() << error;
        } else if (gate == QLatin1String("killme")) {
            // A crash while connected: the helper must keep the block, not lift it.
            ::kill(pid_t(m_client->processId()), SIGKILL);
            m_client->waitForFinished(5000);
            killed = true;
            break;
        } else if (gate.endsWith(QLatin1String("-counted"))) {
            m_counts[gate.chopped(8)] = readAndReset();
        } else {
            readAndReset();
        }
        openGate(gate);
    }
    if (!killed && !m_client->waitForFinished(20000))
        m_client->kill();
    const bool ok = killed || (m_client->exitStatus() == QProcess::NormalExit && m_client->exitCode() == 0);
    delete m_client;
    m_client = nullptr;
    return ok;
}

void KillSwitchHelperTest::nothingLeavesButTheServerAndTheService_data()
{
    // The engine, its endpoint on the server (as the counting table matches it), whether its
    // tunnel carries IPv6.
    QTest::addColumn<QString>("engine");
    QTest::addColumn<QString>("endpoint");
    QTest::addColumn<bool>("tunnelV6");
    QTest::newRow("WireGuard") << "wireguard" << QStringLiteral("udp dport %1").arg(WireGuardPeer::port) << false;
    QTest::newRow("OpenVPN") << "openvpn" << QStringLiteral("udp dport %1").arg(OpenVpnServer::port) << false;
    QTest::newRow("OpenConnect, full tunnel with IPv6")
        << "openconnect" << QStringLiteral("meta l4proto { tcp, udp } th dport %1").arg(OcservServer::port) << true;
}

void KillSwitchHelperTest::nothingLeavesButTheServerAndTheService()
{
    QFETCH(QString, engine);
    QFETCH(QString, endpoint);
    QFETCH(bool, tunnelV6);
    m_counts.clear();
    QString error;
    // The row's own server; the others' are dead since their rows killed them.
    QVERIFY2(startServer(engine, &error), qPrintable(error));

    // Refused before nft runs: a user without the grant, a device that is not a tunnel's (the
    // outer link would open the switch), a key the helper does not know, a state it has not.
    const QList<QPair<const char *, QStringList>> hostile{
        {HelperLab::refusedUser, {"1", "State", "s", "blocked"}},
        {HelperLab::grantedUser, {"2", "State", "s", "tunnel", "Interfaces", "as", "1", m_lab.clientLink()}},
        {HelperLab::grantedUser, {"2", "State", "s", "blocked", "Script", "s", "/bin/sh"}},
        {HelperLab::grantedUser, {"1", "State", "s", "open"}}};
    const QStringList refusals{"Not authorised", "not a tunnel interface", "unknown field", "unknown state"};
    for (int i = 0; i < hostile.size(); ++i) {
        const QStringList command = m_helper->asUser(
            hostile.at(i).first,
            QStringList{"busctl", "--address=" + m_helper->busAddress(), "call", "com.quennark.TavrixVPN.Helper",
                        "/com/quennark/TavrixVPN/Helper", "com.quennark.TavrixVPN.Helper1", "SetKillSwitch", "a{sv}"} +
                hostile.at(i).second);
        QByteArray output;
        QVERIFY(TavrixTest::runProgram(command.first(), command.mid(1), &output) != 0);
        QVERIFY2(output.contains(refusals.at(i).toUtf8()), output.constData());
    }
    QVERIFY(!nft({"list", "tables"}).contains(QLatin1String("tavrixvpn_")));
    // Counts every packet that leaves the outer link, after every filter (what really goes).
    const QByteArray counting =
        QStringLiteral("table inet tavrixcount {}\ndelete table inet tavrixcount\ntable inet tavrixcount {\n"
                       " counter vpn {}\n counter service {}\n counter other4 {}\n counter other6 {}\n"
                       " chain post {\n  type filter hook postrouting priority 300; policy accept;\n"
                       "  oifname != \"%1\" return\n"
                       "  icmpv6 type { nd-router-solicit, nd-neighbor-solicit, nd-neighbor-advert } return\n"
                       "  ip daddr %2 %3 counter name vpn return\n"
                       "  ip daddr %4 tcp dport 8443 counter name service return\n"
                       "  meta nfproto ipv4 counter name other4\n  meta nfproto ipv6 counter name other6\n }\n}\n")
            .arg(m_lab.clientLink(), QLatin1String(NetnsLab::serverAddress))
            .arg(endpoint)
            .arg(serviceAddress)
            .toUtf8();
    QByteArray output;
    QVERIFY2(m_lab.exec(m_lab.clientNs(), {"nft", "-f", "-"}, &output, 10000, counting) == 0, output.constData());

    QStringList first;
    const bool firstOk = runClient(QStringLiteral("helper"), engine, &first);
    const auto keepOnFailure = qScopeGuard([this] {
        if (QTest::currentTestFailed()) {
            m_lab.keepFiles();
            qWarning().noquote() << "logs kept in" << m_lab.dir() << "; helper log:\n"
                                 << QString::fromLocal8Bit(m_helper->readFile("helper.log")).right(3000);
        }
    });
    QVERIFY2(firstOk, qPrintable(first.join('\n').right(6000)));

    // The window is gone: the helper fell back from the tunnel's state to the block.
    readAndReset();
    pingFromClient();
    QTest::qWait(2000);
    m_counts[QStringLiteral("window-killed")] = readAndReset();
    const QString afterKill = nft({"list", "table", "inet", tableName()});
    QVERIFY2(afterKill.contains(QLatin1String("policy drop")) && !afterKill.contains(QLatin1String("tvx*")),
             qPrintable(afterKill));

    // As at boot: no table, the helper starts and blocks again from what it kept.
    nft({"delete", "table", "inet", tableName()});
    m_helper->killHelper();
    QVERIFY2(m_helper->startHelper(&error), qPrintable(error));
    QVERIFY2(nft({"list", "table", "inet", tableName()}).contains(QLatin1String("policy drop")),
             qPrintable(QString::fromLocal8Bit(m_helper->readFile("helper.log"))));
    readAndReset();
    pingFromClient();
    m_counts[QStringLiteral("boot")] = readAndReset();

    QStringList second;
    const bool secondOk = runClient(QStringLiteral("restart"), engine, &second);
    QVERIFY2(secondOk, qPrintable(second.join('\n').right(6000)));
    const QString tables = nft({"list", "tables"});

    // The table of stages and counts, then the checks.
    const QStringList stages{
        "blocked-idle",  "tunnel", "server-dead",     "reconnecting",    "blocked-after-disconnect",
        "window-killed", "boot",   "blocked-restart", "clear-switch-off"};
    QMap<QString, int> answered; // "<phase> <family>" -> probes answered
    for (const QString &line : first + second) {
        const QStringList parts = line.split(' ');
        if (parts.size() >= 6 && parts.first() == QLatin1String("PROBE") && parts.at(5) == QLatin1String("ok"))
            answered[parts.at(1) + ' ' + parts.at(3)] += 1;
    }
    for (const QString &stage : stages) {
        const Counts c = m_counts.value(stage);
        qInfo().noquote() << QStringLiteral("%1 to the VPN endpoint %2, to the service %3, elsewhere IPv4 %4, IPv6 %5;"
                                            " probes answered v4 %6, v6 %7")
                                 .arg(stage, -25)
                                 .arg(c.vpn, 4)
                                 .arg(c.service, 4)
                                 .arg(c.other4, 4)
                                 .arg(c.other6, 4)
                                 .arg(answered.value(stage + " v4"))
                                 .arg(answered.value(stage + " v6"));
    }
    QVERIFY(first.contains(QStringLiteral("STEP CONNECTED")));
    QVERIFY(second.contains(QStringLiteral("STEP SIGNED_IN")));
    // Counted while the client showed it, start to end.
    QCOMPARE(first.contains(QStringLiteral("STEP RECONNECTING")), m_counts.contains(QStringLiteral("reconnecting")));
    for (const QString &stage : stages.mid(0, 8)) {
        QVERIFY2(m_counts.contains(stage) || stage == QLatin1String("reconnecting"), qPrintable(stage));
        QCOMPARE(m_counts.value(stage).other4, 0);
        QCOMPARE(m_counts.value(stage).other6, 0);
    }
    QVERIFY(m_counts.value("tunnel").vpn > 0);
    QVERIFY(answered.value("tunnel v4") >= 2); // TCP and UDP at least, through the tunnel
    QCOMPARE(answered.value("tunnel v6") >= 2, tunnelV6);
    for (const char *stage :
         {"blocked-idle", "server-dead", "reconnecting", "blocked-after-disconnect", "blocked-restart"})
        QCOMPARE(answered.value(QLatin1String(stage) + " v4") + answered.value(QLatin1String(stage) + " v6"), 0);
    // Switched off: the table is gone and the probes go out in the clear (the counter counts).
    QVERIFY2(!tables.contains(tableName()), qPrintable(tables));
    QVERIFY(answered.value("clear-switch-off v4") >= 2 && answered.value("clear-switch-off v6") >= 2);
    QVERIFY(m_counts.value("clear-switch-off").other4 > 0 && m_counts.value("clear-switch-off").other6 > 0);
}

int main(int argc, char *argv[])
{
    const QString reason = TavrixTest::tunnelSkipReason(
        {QStringLiteral("nft"), QStringLiteral("wg"), QStringLiteral("wireguard-go"), QStringLiteral("wg-quick"),
         QStringLiteral("openvpn"), QStringLiteral("ocserv"), QStringLiteral("ocpasswd"), QStringLiteral("certtool")});
    if (!reason.isEmpty()) {
        fprintf(stderr, "SKIP: kill switch helper test %s\n", qPrintable(reason));
        return 77;
    }
    TavrixTest::isolateXdg();
    TavrixTest::setIdentity();
    QCoreApplication app(argc, argv);
    KillSwitchHelperTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_killswitch_helper.moc"
