// The real client killed with SIGKILL while connected, for every engine, then started again.
// Servers for every engine run in the lab's server namespace; the development service and the
// client run in the client namespace, from a private copy of the program folder (so that the
// client's start-up look-ups for engines of ours find only this run's). The client connects on
// its own: it signs in again with the stored account and connects with the auto-connect
// setting to the server the test made active. After the kill, the next start must leave:
//   no engine process of ours running, the system proxy off, our firewall tables exactly what
//   the kill switch asks for (its block when on, none when off, split tunnel's included), no
//   tunnel interface and no routing rule of a tunnel, the resolver configuration as it was
//   before any tunnel, and a new connection that carries traffic at once.
// The window shows before the clean-up ends, and the automatic connect waits for it; the
// service also holds the second sign-in back for a moment. Outline has no entry the client lists: a driver
// program runs the same controller from the same folder, and is the one killed.

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include <csignal>

#include "common/config.h"
#include "common/user.h"
#include "netns.h"
#include "openvpnlab.h"
#include "proxylab.h"
#include "testmain.h"
#include "wglab.h"

using Tavrix::Config;
using Tavrix::IPBundlePtr;
using Tavrix::User;
using TavrixTest::NetnsLab;
using TavrixTest::OcservServer;
using TavrixTest::ProxyServers;

namespace {

enum class Probe { Tunnel, Proxy };

constexpr int connectWaitMs = 45000;
// Long enough to look at the machine between the start-up and the automatic connect.
constexpr int heldSignInMs = 3000;

QString binProgram(const QString &name)
{
    return qEnvironmentVariable("TAVRIX_BIN_DIR") + QLatin1Char('/') + name;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool waitForFileText(const QString &path, const QByteArray &text, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!readFile(path).contains(text)) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(50);
    }
    return true;
}

// What a tunnel of ours can leave in the client namespace.
struct Leftovers
{
    QStringList processes;
    QStringList interfaces;
    QStringList tables;
    QStringList rules;
    QString resolver; // the namespace's resolv.conf
    bool proxyOn = false;

    QString describe() const
    {
        return QStringLiteral("processes [%1] interfaces [%2] tables [%3] rules [%4] proxy %5 resolv.conf [%6]")
            .arg(processes.join(QLatin1String(", ")), interfaces.join(QLatin1String(", ")),
                 tables.join(QLatin1String(", ")), rules.join(QLatin1String(", ")),
                 proxyOn ? QStringLiteral("on") : QStringLiteral("off"), QString(resolver).simplified());
    }
};

} // namespace

class CrashTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();
    void killedWhileConnected_data();
    void killedWhileConnected();

private:
    QProcess *startClient(const QStringList &arguments, QString *log, bool networkOnly = false);
    QProcess *startDriver();
    bool driverWaitFor(QProcess *driver, const QByteArray &prefix, int timeoutMs);
    bool waitConnected(const QString &log, int timeoutMs);
    bool holdSignIn(bool hold);
    bool probe(Probe kind);
    Leftovers leftovers();
    void configure(int ipId, bool autoConnect, bool killSwitch);

    NetnsLab m_lab;
    std::unique_ptr<OcservServer> m_ocserv;
    std::unique_ptr<TavrixTest::OpenVpnServer> m_openVpn;
    std::unique_ptr<ProxyServers> m_proxies;
    std::unique_ptr<TavrixTest::WireGuardPeer> m_wireGuard;
    QString m_bin;
    QString m_serviceUrl;
    QString m_serviceCa;
    const QString m_splitGroup = QStringLiteral("tavrixvpn-crash-%1").arg(QCoreApplication::applicationPid());
    QString m_resolver;     // the client namespace's resolv.conf before any tunnel
    QMap<int, int> m_ipIds; // server type -> ip_id of its first usable entry
    QList<QProcess *> m_clients;
    int m_starts = 0;
};

void CrashTest::initTestCase()
{
    QString error;
    QVERIFY2(m_lab.up(&error), qPrintable(error));
    m_ocserv = std::make_unique<OcservServer>(m_lab);
    QVERIFY2(m_ocserv->makeCredentials(&error), qPrintable(error));
    QVERIFY2(m_ocserv->start(OcservServer::NoGroups, &error), qPrintable(error));
    m_openVpn = std::make_unique<TavrixTest::OpenVpnServer>(m_lab);
    QVERIFY2(
        m_openVpn->makeCredentials({{QString::fromLatin1(OcservServer::demoUser), QStringLiteral("testpass")}}, &error),
        qPrintable(error));
    QVERIFY2(m_openVpn->start(&error), qPrintable(error));
    m_proxies = std::make_unique<ProxyServers>(m_lab);
    QVERIFY2(m_proxies->start(&error), qPrintable(error));
    m_wireGuard = std::make_unique<TavrixTest::WireGuardPeer>(m_lab);
    QVERIFY2(m_wireGuard->start(&error), qPrintable(error));
    const QString wireGuardConfig = m_lab.dir() + QStringLiteral("/wireguard-client.conf");
    QFile config(wireGuardConfig);
    QVERIFY(config.open(QIODevice::WriteOnly));
    config.write(m_wireGuard->clientConfig().toLatin1());
    config.close();

    m_resolver = QString::fromLatin1(readFile(QStringLiteral("/etc/netns/%1/resolv.conf").arg(m_lab.clientNs())));

    // The client's folder, engines and scripts included: leftovers are looked up by this path.
    m_bin = m_lab.dir() + QStringLiteral("/bin");
    QCOMPARE(TavrixTest::runProgram(QStringLiteral("cp"), {QStringLiteral("-a"), binProgram(QString()), m_bin}), 0);
    QFile::remove(m_bin + QStringLiteral("/logger.txt"));

    const QString serviceLog = m_lab.dir() + QStringLiteral("/service.log");
    QVERIFY(m_lab.start(m_lab.clientNs(),
                        {binProgram(QStringLiteral("tavrix-devservice")),
                         "--port",
                         "0",
                         "--openconnect-server",
                         QStringLiteral("%1:%2").arg(NetnsLab::serverAddress).arg(OcservServer::port),
                         "--openconnect-user",
                         OcservServer::demoUser,
                         "--openconnect-password",
                         "testpass",
                         "--openvpn-server",
                         m_openVpn->address(),
                         "--openvpn-ca",
                         m_openVpn->caFile(),
                         "--shadowsocks-server",
                         QStringLiteral("%1:%2").arg(NetnsLab::serverAddress).arg(ProxyServers::shadowsocksPort),
                         "--shadowsocks-password",
                         ProxyServers::password,
                         "--vmess-server",
                         QStringLiteral("%1:%2").arg(NetnsLab::serverAddress).arg(ProxyServers::vmessPort),
                         "--vmess-id",
                         ProxyServers::vmessId,
                         "--wireguard-config",
                         wireGuardConfig},
                        serviceLog));
    QVERIFY(waitForFileText(serviceLog, "\nCA ", 10000));
    for (const QByteArray &line : readFile(serviceLog).split('\n')) {
        if (line.startsWith("LISTENING "))
            m_serviceUrl = QString::fromUtf8(line.mid(10).trimmed());
        else if (line.startsWith("CA "))
            m_serviceCa = QString::fromUtf8(line.mid(3).trimmed());
    }
    // Inherited by every client started from here on. The split tunnel's group is this run's own.
    qputenv("TAVRIXVPN_SPLIT_GROUP", m_splitGroup.toLocal8Bit());
    qputenv("TAVRIXVPN_SERVICE_URL", m_serviceUrl.toUtf8());
    qputenv("TAVRIXVPN_SERVICE_CA", m_serviceCa.toLocal8Bit());

    // A first start with a login link signs the account in and stores its server list.
    QString log;
    QProcess *client = startClient(
        {QStringLiteral("tavrixvpn://login?authenticate=%1&value=testpass").arg(QLatin1String(OcservServer::demoUser))},
        &log);
    QVERIFY(client);
    QDeadlineTimer deadline(30000);
    while (Config::jsonData().isEmpty() && !deadline.hasExpired())
        QThread::msleep(100);
    m_clients.removeAll(client);
    m_lab.stop(client);
    const QJsonObject reply = QJsonDocument::fromJson(Config::jsonData().toUtf8()).object();
    QVERIFY2(!reply.isEmpty(), readFile(log).right(3000).constData());
    for (const IPBundlePtr &bundle : User::usableBundles(reply.value(QStringLiteral("ip_bundle")).toArray())) {
        if (!bundle->isPlaceholderAddress() && !m_ipIds.contains(bundle->type()))
            m_ipIds.insert(bundle->type(), bundle->ip_id());
    }
    for (int type : {1, 2, 4, 5, 6})
        QVERIFY2(m_ipIds.contains(type), qPrintable(QStringLiteral("no usable server of type %1").arg(type)));
}

void CrashTest::cleanupTestCase()
{
    for (QProcess *client : m_clients)
        m_lab.stop(client);
    m_clients.clear();
    m_wireGuard.reset();
    m_proxies.reset();
    m_openVpn.reset();
    m_ocserv.reset();
    m_lab.down();
    // Normally removed by the split tunnel's own stop.
    for (const QString &root : {QStringLiteral("/sys/fs/cgroup/"), QStringLiteral("/sys/fs/cgroup/unified/")})
        QDir().rmdir(root + m_splitGroup);
}

void CrashTest::cleanup()
{
    for (QProcess *client : m_clients)
        m_lab.stop(client);
    m_clients.clear();
    holdSignIn(false);
    if (QTest::currentTestFailed()) {
        m_lab.keepFiles();
        qWarning().noquote() << "client logs kept in" << m_lab.dir();
    }
    // The next row starts from a clean namespace whatever this one left.
    m_lab.exec(m_lab.clientNs(), {"nft", "delete", "table", "inet", "tavrixvpn"});
}

QProcess *CrashTest::startClient(const QStringList &arguments, QString *log, bool networkOnly)
{
    *log = m_lab.dir() + QStringLiteral("/client-%1.log").arg(++m_starts);
    const QStringList command = QStringList{m_bin + QStringLiteral("/tavrixvpn")} + arguments;
    QProcess *client = nullptr;
    if (networkOnly) {
        client = new QProcess;
        client->setProcessChannelMode(QProcess::MergedChannels);
        client->setStandardOutputFile(*log);
        client->start(QStringLiteral("nsenter"),
                      QStringList{QStringLiteral("--net=/run/netns/") + m_lab.clientNs()} + command);
        if (!client->waitForStarted(10000)) {
            delete client;
            return nullptr;
        }
    } else {
        client = m_lab.start(m_lab.clientNs(), command, *log);
    }
    if (client)
        m_clients.append(client);
    return client;
}

QProcess *CrashTest::startDriver()
{
    QProcess *driver = m_lab.start(m_lab.clientNs(), {m_bin + QStringLiteral("/tavrix-outline-driver")});
    if (!driver)
        return nullptr;
    m_clients.append(driver);
    if (!driverWaitFor(driver, "READY", 10000))
        return nullptr;
    driver->write(QStringLiteral("address %1:%2\nconfig {\"method\":\"%3\",\"password\":\"%4\"}\n")
                      .arg(NetnsLab::serverAddress)
                      .arg(ProxyServers::shadowsocksPort)
                      .arg(ProxyServers::method, ProxyServers::password)
                      .toUtf8());
    driver->waitForBytesWritten(2000);
    return driver;
}

bool CrashTest::driverWaitFor(QProcess *driver, const QByteArray &prefix, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        while (driver->canReadLine()) {
            if (driver->readLine().startsWith(prefix))
                return true;
        }
        if (deadline.hasExpired() || driver->state() != QProcess::Running)
            return false;
        driver->waitForReadyRead(int(qMax<qint64>(1, qMin<qint64>(200, deadline.remainingTime()))));
    }
}

// The connect page stores the connection state when the tunnel is up. Read from the file
// itself: this process's settings cache need not notice another process's write at once.
bool CrashTest::waitConnected(const QString &log, int timeoutMs)
{
    const QString store = qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/Quennark/TavrixVPN.conf");
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        if (readFile(store).contains("\nConnectionState=true"))
            return true;
        if (deadline.hasExpired() || readFile(log).contains("Connection failed"))
            return false;
        QThread::msleep(100);
    }
}

bool CrashTest::holdSignIn(bool hold)
{
    QByteArray output;
    const QString form = hold ? QStringLiteral("path=/api/v2/login*&mode=slow&delay_ms=%1").arg(heldSignInMs)
                              : QStringLiteral("path=/api/v2/login*&mode=normal");
    return m_lab.exec(m_lab.clientNs(),
                      {"curl", "-sS", "-m", "5", "--cacert", m_serviceCa, "-d", form,
                       m_serviceUrl + QStringLiteral("/__control/set")},
                      &output) == 0 &&
           output.trimmed() == "ok";
}

bool CrashTest::probe(Probe kind)
{
    QStringList command{"curl", "-sS", "-m", "5"};
    if (kind == Probe::Proxy)
        command << "-x" << QStringLiteral("http://127.0.0.1:10809")
                << QStringLiteral("http://%1/inside.txt").arg(QLatin1String(ProxyServers::insideName));
    else
        command << QStringLiteral("http://%1/inside.txt").arg(QLatin1String(NetnsLab::insideAddress));
    QByteArray output;
    const int code = m_lab.exec(m_lab.clientNs(), command, &output, 10000);
    if (code != 0 || output.trimmed() != ProxyServers::insideText)
        qWarning().noquote() << "probe:" << code << output.left(300);
    return code == 0 && output.trimmed() == ProxyServers::insideText;
}

Leftovers CrashTest::leftovers()
{
    Leftovers found;
    const QString prefix = m_bin + QLatin1Char('/');
    const QStringList clients{QStringLiteral("tavrixvpn"), QStringLiteral("tavrix-outline-driver"),
                              QStringLiteral("tavrix-devservice")};
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        const QList<QByteArray> args = readFile(QStringLiteral("/proc/%1/cmdline").arg(entry)).split('\0');
        for (int i = 0; i < qMin(2, args.size()); ++i) {
            const QString arg = QString::fromLocal8Bit(args.at(i));
            if (arg.startsWith(prefix) && !clients.contains(arg.mid(prefix.size()))) {
                found.processes << QStringLiteral("%1 %2").arg(entry, arg.mid(prefix.size()));
                break;
            }
        }
    }
    for (const QString &line : m_lab.clientIp({"-o", "link", "show"}).split(QLatin1Char('\n'))) {
        const QString name = line.section(QLatin1Char(':'), 1, 1).trimmed().section(QLatin1Char('@'), 0, 0);
        if (name.startsWith(QLatin1String("tun")) || name.startsWith(QLatin1String("tvxwg")) ||
            name == QLatin1String("TavrixVPN"))
            found.interfaces << name;
    }
    QByteArray tables;
    m_lab.exec(m_lab.clientNs(), {"nft", "list", "tables"}, &tables);
    for (const QByteArray &line : tables.split('\n')) {
        if (line.contains("tavrixvpn") || line.contains("wg-quick"))
            found.tables << QString::fromLatin1(line.trimmed());
    }
    for (const QString &line : m_lab.clientIp({"rule", "show"}).split(QLatin1Char('\n'))) {
        const QString rule = line.simplified();
        if (!rule.isEmpty() && !rule.endsWith(QLatin1String("from all lookup local")) &&
            !rule.endsWith(QLatin1String("from all lookup main")) &&
            !rule.endsWith(QLatin1String("from all lookup default")))
            found.rules << rule;
    }
    found.proxyOn = readFile(qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/TavrixVPN/system-proxy"))
                        .contains("ProxyEnable=1");
    found.resolver = QString::fromLatin1(readFile(QStringLiteral("/etc/netns/%1/resolv.conf").arg(m_lab.clientNs())));
    return found;
}

void CrashTest::configure(int ipId, bool autoConnect, bool killSwitch)
{
    auto config = Config::instance();
    config->load();
    config->setActiveServer(ipId);
    config->setAutoConncet(autoConnect);
    config->setKillSwitch(killSwitch);
    config->setConnectionState(false);
    config->setAutoLogin(true);
    config->save();
}

void CrashTest::killedWhileConnected_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<bool>("killSwitch");
    QTest::addColumn<int>("probe");
    // What the next start must say it found. OpenVPN ends by itself when its management link
    // goes; the in-process tunnel goes with the process.
    QTest::addColumn<QByteArray>("found");
    QTest::addColumn<bool>("splitTunnel");
    const QByteArray engine = "still running from the last run";
    QTest::newRow("OpenConnect") << 2 << false << int(Probe::Tunnel) << QByteArray() << false;
    QTest::newRow("OpenConnect, kill switch on: blocked again at start")
        << 2 << true << int(Probe::Tunnel) << QByteArray("blocked again") << false;
    QTest::newRow("OpenVPN") << 1 << false << int(Probe::Tunnel) << QByteArray() << false;
    QTest::newRow("Shadowsocks") << 4 << false << int(Probe::Proxy) << engine << false;
    QTest::newRow("V2Ray") << 6 << false << int(Probe::Proxy) << engine << false;
    QTest::newRow("WireGuard") << 5 << false << int(Probe::Tunnel) << engine << false;
    QTest::newRow("Outline") << 7 << false << int(Probe::Tunnel)
                             << QByteArray("Found the Outline tunnel of the last run") << false;
    // The split tunnel needs the machine's cgroup hierarchy, which "ip netns exec" hides: the
    // client enters only the network namespace, with an engine that leaves the resolver alone.
    QTest::newRow("WireGuard, split tunnel on")
        << 5 << false << int(Probe::Tunnel) << QByteArray("split-tunnel control program") << true;
}

void CrashTest::killedWhileConnected()
{
    QFETCH(int, type);
    QFETCH(bool, killSwitch);
    QFETCH(int, probe);
    QFETCH(QByteArray, found);
    QFETCH(bool, splitTunnel);
    Config::setSplitTunnelEnabled(splitTunnel);
    Config::setClickedProcesses(splitTunnel ? QStringList{QStringLiteral("curl")} : QStringList());
    const bool outline = type == 7;
    const Probe kind = Probe(probe);
    const QStringList ourTables = killSwitch ? QStringList{QStringLiteral("table inet tavrixvpn")} : QStringList();

    // Connected, with traffic through the tunnel.
    QString log;
    QProcess *first = nullptr;
    if (outline) {
        configure(m_ipIds.value(2), false, killSwitch);
        first = startDriver();
        QVERIFY(first);
        first->write("connect\n");
        QVERIFY2(driverWaitFor(first, "STATUS 2", connectWaitMs), "the Outline tunnel did not come up");
    } else {
        configure(m_ipIds.value(type), true, killSwitch);
        first = startClient({}, &log, splitTunnel);
        QVERIFY(first);
        QVERIFY2(waitConnected(log, connectWaitMs), readFile(log).right(4000).constData());
    }
    QVERIFY(this->probe(kind));
    for (const QByteArray &line : readFile(log).split('\n')) {
        if (line.contains("Cleaned up what the last run left") || line.contains("Nothing left behind"))
            qInfo().noquote() << "first start:" << line.mid(line.indexOf("] ", 30) + 2);
    }
    if (splitTunnel) {
        // Applied on a worker thread once the tunnel is up.
        QDeadlineTimer deadline(10000);
        while (!leftovers().processes.join(' ').contains(QLatin1String("splitter-control")) && !deadline.hasExpired())
            QThread::msleep(100);
    }
    qInfo().noquote() << "while connected:" << leftovers().describe();

    // Killed: nothing of its own shutdown runs.
    ::kill(pid_t(first->processId()), SIGKILL);
    QVERIFY(first->waitForFinished(5000));
    m_clients.removeAll(first);
    m_lab.stop(first);
    const Leftovers left = leftovers();
    qInfo().noquote() << "left by the killed client:" << left.describe();

    // Started again: the machine is as the settings ask for with no tunnel up.
    QVERIFY(holdSignIn(true));
    QString secondLog;
    QProcess *second = startClient({}, &secondLog, splitTunnel);
    QVERIFY(second);
    QVERIFY2(waitForFileText(secondLog, "Application initialized successfully", 20000),
             readFile(secondLog).right(4000).constData());
    // The window is up at once; the clean-up runs beside it and says when it is done.
    QVERIFY2(waitForFileText(secondLog, "Cleaned up what the last run left behind", 30000),
             readFile(secondLog).right(4000).constData());
    const Leftovers after = leftovers();
    qInfo().noquote() << "after the next start:" << after.describe();
    const QByteArray startLog = readFile(secondLog);
    for (const QByteArray &line : startLog.split('\n')) {
        if (line.contains("Cleaned up what the last run left") || line.contains("Nothing left behind"))
            qInfo().noquote() << "next start:" << line.mid(line.indexOf("] ", 30) + 2);
    }
    QVERIFY2(after.processes.isEmpty(), qPrintable(after.describe()));
    QVERIFY2(!after.proxyOn, qPrintable(after.describe()));
    QCOMPARE(after.tables, ourTables);
    QVERIFY2(after.interfaces.isEmpty(), qPrintable(after.describe()));
    QVERIFY2(after.rules.isEmpty(), qPrintable(after.describe()));
    QCOMPARE(after.resolver, m_resolver);
    if (!outline)
        QVERIFY(startLog.contains("Clearing a stale connection state from the last run"));
    if (!found.isEmpty())
        QVERIFY2(startLog.contains(found), startLog.right(4000).constData());
    QVERIFY2(startLog.indexOf("--- Showing Main Window ---") < startLog.indexOf("Start-up clean-up: "),
             startLog.right(4000).constData());
    QVERIFY(holdSignIn(false));

    // The user connects again at once.
    if (outline) {
        m_clients.removeAll(second);
        m_lab.stop(second);
        QProcess *driver = startDriver();
        QVERIFY(driver);
        driver->write("connect\n");
        QVERIFY2(driverWaitFor(driver, "STATUS 2", connectWaitMs), "the Outline tunnel did not come up again");
        QVERIFY(this->probe(kind));
        driver->write("quit\n");
        driver->waitForFinished(10000);
    } else {
        QVERIFY2(waitConnected(secondLog, connectWaitMs), readFile(secondLog).right(4000).constData());
        QVERIFY(this->probe(kind));
    }
}

int main(int argc, char *argv[])
{
    const QString reason = TavrixTest::tunnelSkipReason(
        {QStringLiteral("ocserv"), QStringLiteral("ocpasswd"), QStringLiteral("certtool"), QStringLiteral("openvpn"),
         QStringLiteral("ss-server"), QStringLiteral("ss-redir"), QStringLiteral("v2ray"), QStringLiteral("wg"),
         QStringLiteral("wireguard-go"), QStringLiteral("nft"), QStringLiteral("curl"), QStringLiteral("python3"),
         QStringLiteral("nsenter")});
    if (!reason.isEmpty()) {
        fprintf(stderr, "SKIP: crash recovery test %s\n", qPrintable(reason));
        return 77;
    }
    TavrixTest::isolateXdg();
    TavrixTest::setIdentity();
    QCoreApplication app(argc, argv);
    CrashTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_e2e_crash.moc"
