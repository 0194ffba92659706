// A tunnel that stops carrying traffic comes back without a click: OpenConnect, OpenVPN and
// WireGuard against real servers in network namespaces, each through the server going away
// and coming back (a new session needed), the client's link going down and up, its address
// changing, the server stopped and continued, and the user disconnecting meanwhile. One
// more case wakes the machine from a fake sleep (logind on a private system bus) after the
// server was replaced. Each case prints its times; the table is made from those lines.
//
// The test runs itself again inside the lab's client namespace (so that tunnel scripts
// change that namespace's copy of resolv.conf, never the host's); the servers are started
// from there into the server namespace.

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QProcess>
#include <QtTest>

#include <csignal>

#include "openvpnlab.h"
#include "platform/engineprocesses.h"
#include "testmain.h"
#include "vpn/openconnectconnection.h"
#include "vpn/openconnectserver.h"
#include "wglabclient.h"

using Tavrix::OpenConnectConnection;
using namespace TavrixTest;

namespace {

constexpr const char *labVariable = "TAVRIX_RECONNECT_LAB";
const QString inside = QString::fromLatin1(NetnsLab::insideAddress);

// Short timings: the policy's shape is the product's, the run stays within minutes.
const OpenConnectConnection::ReconnectTiming testTiming{
    /*firstDelayMs*/ 500,       /*maxDelayMs*/ 2000,   /*giveUpMs*/ 90000,     /*engineGraceMs*/ 3000,
    /*attemptTimeoutMs*/ 10000, /*deadPeerSeconds*/ 1, /*checkIntervalMs*/ 500};

enum Engine { OpenConnect, OpenVpn, WireGuard };
const char *engineName(int engine)
{
    return engine == OpenConnect ? "OpenConnect" : engine == OpenVpn ? "OpenVPN" : "WireGuard";
}

// What the user was shown, with the time it was shown at.
struct Shown
{
    qint64 ms;
    int status;
    bool reconnecting;
};

// A private system bus (a dbus-daemon with a system-type configuration under /tmp) with a
// stand-in for logind on it that can announce sleep and wake-up.
class FakeLogind
{
public:
    ~FakeLogind() { stop(); }

    bool start(const QString &dir, QString *error)
    {
        const QString socket = dir + QStringLiteral("/system_bus_socket");
        const QString config = dir + QStringLiteral("/system-bus.conf");
        QFile file(config);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            *error = QStringLiteral("cannot write ") + config;
            return false;
        }
        file.write("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                   " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n<busconfig>\n"
                   "  <type>system</type>\n  <listen>unix:path=" +
                   socket.toUtf8() +
                   "</listen>\n  <auth>EXTERNAL</auth>\n"
                   "  <policy context=\"default\">\n    <allow user=\"*\"/>\n    <allow own=\"*\"/>\n"
                   "    <allow send_destination=\"*\"/>\n    <allow send_type=\"signal\"/>\n"
                   "    <allow receive_sender=\"*\"/>\n  </policy>\n</busconfig>\n");
        file.close();
        m_daemon.setProcessChannelMode(QProcess::MergedChannels);
        m_daemon.start(QStringLiteral("dbus-daemon"),
                       {QStringLiteral("--nofork"), QStringLiteral("--config-file"), config});
        QDeadlineTimer deadline(5000);
        while (!QFileInfo::exists(socket) && !deadline.hasExpired())
            QThread::msleep(20);
        m_address = QStringLiteral("unix:path=") + socket;
        QDBusConnection bus = QDBusConnection::connectToBus(m_address, QStringLiteral("fake-logind"));
        if (!bus.isConnected() || !bus.registerService(QStringLiteral("org.freedesktop.login1"))) {
            *error = QStringLiteral("private system bus: ") + bus.lastError().message() +
                     QString::fromLocal8Bit(m_daemon.readAll());
            return false;
        }
        return true;
    }

    QString address() const { return m_address; }

    void prepareForSleep(bool sleeping)
    {
        QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/login1"),
                                                         QStringLiteral("org.freedesktop.login1.Manager"),
                                                         QStringLiteral("PrepareForSleep"));
        signal << sleeping;
        QDBusConnection(QStringLiteral("fake-logind")).send(signal);
    }

    void stop()
    {
        if (m_daemon.state() == QProcess::NotRunning)
            return;
        QDBusConnection::disconnectFromBus(QStringLiteral("fake-logind"));
        m_daemon.terminate();
        if (!m_daemon.waitForFinished(3000))
            m_daemon.kill();
        m_daemon.waitForFinished(2000);
    }

private:
    QProcess m_daemon;
    QString m_address;
};

} // namespace

class TestE2eReconnect : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();
    void comesBackOnItsOwn_data();
    void comesBackOnItsOwn();
    void disconnectWhileReconnectingEndsIdleAtOnce_data();
    void disconnectWhileReconnectingEndsIdleAtOnce();
    void wakeUpAfterTheServerChangedReconnects();

private:
    void prepare(int engine);
    bool connectAndWait(int engine);
    // Traffic through the tunnel: one echo from the inside address, answered within a second.
    bool trafficFlows();
    // Waits (with the event loop running) until traffic flows; ms waited, -1 on time-out.
    qint64 waitForTraffic(int timeoutMs);
    // Sends a signal to every process of the server namespace whose name starts with prefix.
    void signalServer(const QString &prefix, int signal);
    bool restartServer(int engine, QString *error);
    // First time (ms on the recorder's clock) from `since` at which reconnecting was shown.
    qint64 reconnectingShownAt(qint64 since) const;
    // Whether CONNECTED was ever shown while reconnecting was.
    bool connectedWhileReconnecting() const;
    QString shownText() const;
    // The rest of a row whose server never comes back: the attempts end at the bound.
    void givenUp(int engine, const QString &serverProcess, qint64 lostAt);

    std::unique_ptr<NetnsLab> m_lab;
    std::unique_ptr<OcservServer> m_ocserv;
    std::unique_ptr<OpenVpnServer> m_openvpn;
    std::unique_ptr<WireGuardPeer> m_wireguard;
    DevService m_service;
    FakeLogind m_logind;
    std::shared_ptr<OpenConnectConnection> m_controller;
    QElapsedTimer m_clock;
    QList<Shown> m_shown;
    int m_lastShown = OpenConnectConnection::IDLE;
    QStringList m_table;
};

void TestE2eReconnect::initTestCase()
{
    m_lab = std::make_unique<NetnsLab>(qEnvironmentVariable(labVariable));
    QString error;
    // The private system bus first: the controller listens for sleep on "the" system bus.
    QVERIFY2(m_logind.start(m_lab->dir(), &error), qPrintable(error));
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", m_logind.address().toLocal8Bit());

    m_ocserv = std::make_unique<OcservServer>(*m_lab);
    QVERIFY2(m_ocserv->makeCredentials(&error), qPrintable(error));
    QVERIFY2(m_ocserv->start(OcservServer::NoGroups, &error), qPrintable(error));
    m_openvpn = std::make_unique<OpenVpnServer>(*m_lab);
    QVERIFY2(m_openvpn->makeCredentials({{QStringLiteral("alice"), QStringLiteral("alicepass")}}, &error),
             qPrintable(error));
    QVERIFY2(m_openvpn->start(&error), qPrintable(error));
    m_wireguard = std::make_unique<WireGuardPeer>(*m_lab);
    QVERIFY2(m_wireguard->start(&error), qPrintable(error));
    const QString wgConfig = m_lab->dir() + QStringLiteral("/client-wireguard.conf");
    QFile file(wgConfig);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    file.write(m_wireguard->clientConfig().toLatin1());
    file.close();
    qputenv(wgConfigVariable, wgConfig.toLocal8Bit());
    QVERIFY2(signInToWireGuardServer(m_service, &error), qPrintable(error));

    OpenConnectConnection::initTls();
    m_controller = OpenConnectConnection::instance();
    m_controller->setReconnectTimingForTests(testTiming);
    m_clock.start();
    QObject::connect(m_controller.get(), &OpenConnectConnection::statusChanged, this,
                     [this](OpenConnectConnection::Status status) {
                         m_lastShown = int(status);
                         m_shown.append({m_clock.elapsed(), int(status), m_controller->isReconnecting()});
                     });
    QObject::connect(m_controller.get(), &OpenConnectConnection::reconnectingChanged, this, [this](bool on) {
        m_shown.append({m_clock.elapsed(), m_lastShown, on});
    });
}

void TestE2eReconnect::cleanupTestCase()
{
    if (m_controller && m_controller->status() != OpenConnectConnection::IDLE)
        m_controller->disconnectVpn();
    QTest::qWait(1000);
    std::printf("\n%-12s %-30s %s\n", "engine", "scenario", "times");
    for (const QString &row : m_table)
        std::printf("%s\n", qPrintable(row));
    m_service.stop();
    m_wireguard.reset();
    m_openvpn.reset();
    m_ocserv.reset();
    m_logind.stop();
}

void TestE2eReconnect::cleanup()
{
    // Whatever happened, the next case starts disconnected, with every server up.
    if (m_controller->status() != OpenConnectConnection::IDLE || m_controller->isReconnecting())
        m_controller->disconnectVpn();
    QTRY_COMPARE_WITH_TIMEOUT(int(m_controller->status()), int(OpenConnectConnection::IDLE), 20000);
    // Disconnected means no engine left behind, whatever attempt was under way at the click.
    QTRY_VERIFY2_WITH_TIMEOUT(Tavrix::EngineProcesses::find(QStringLiteral("wireguard/wireguard-client.exe")).isEmpty(),
                              "a WireGuard client program outlived the disconnect", 5000);
    for (const char *name : {"ocserv", "openvpn", "wireguard-go"})
        signalServer(QString::fromLatin1(name), SIGCONT);
    QString error;
    m_lab->exec(m_lab->clientNs(), {"ip", "link", "set", m_lab->clientLink(), "up"});
    if (!m_lab->clientIp({"-4", "addr", "show", "dev", m_lab->clientLink()}).contains(NetnsLab::clientAddress)) {
        m_lab->exec(m_lab->clientNs(), {"ip", "addr", "flush", "dev", m_lab->clientLink()});
        m_lab->exec(m_lab->clientNs(), {"ip", "addr", "add", QStringLiteral("%1/24").arg(NetnsLab::clientAddress),
                                        "dev", m_lab->clientLink()});
    }
    // Wait until the tunnel's device is gone before the next engine starts.
    QTest::qWait(1500);
}

void TestE2eReconnect::prepare(int engine)
{
    switch (engine) {
    case OpenConnect:
        m_controller->setType(OpenConnectConnection::OPENCONNECT);
        m_controller->setServer(std::make_shared<Tavrix::OpenConnectServer>(
            QStringLiteral("%1:%2").arg(NetnsLab::serverAddress).arg(OcservServer::port)));
        m_controller->setUsername(QStringLiteral("testuser"));
        m_controller->setPassword(QStringLiteral("testpass"));
        break;
    case OpenVpn:
        m_controller->setType(OpenConnectConnection::OPENVPN);
        m_controller->setConfig(QString::fromLatin1(m_openvpn->clientProfileTemplate().toBase64()),
                                m_openvpn->address());
        m_controller->setUsername(QStringLiteral("alice"));
        m_controller->setPassword(QStringLiteral("alicepass"));
        break;
    default:
        m_controller->setType(OpenConnectConnection::WIREGUARD);
        break;
    }
}

bool TestE2eReconnect::connectAndWait(int engine)
{
    prepare(engine);
    m_controller->connect();
    QDeadlineTimer deadline(30000);
    while (!deadline.hasExpired() && m_controller->status() != OpenConnectConnection::CONNECTED)
        QTest::qWait(50);
    return m_controller->status() == OpenConnectConnection::CONNECTED && waitForTraffic(10000) >= 0;
}

bool TestE2eReconnect::trafficFlows()
{
    QProcess ping;
    ping.start(QStringLiteral("ping"), {"-n", "-c", "1", "-W", "1", inside});
    QDeadlineTimer deadline(3000);
    while (ping.state() != QProcess::NotRunning && !deadline.hasExpired())
        QTest::qWait(20);
    if (ping.state() != QProcess::NotRunning) {
        ping.kill();
        ping.waitForFinished(1000);
        return false;
    }
    return ping.exitStatus() == QProcess::NormalExit && ping.exitCode() == 0;
}

qint64 TestE2eReconnect::waitForTraffic(int timeoutMs)
{
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < timeoutMs) {
        if (trafficFlows())
            return waited.elapsed();
        QTest::qWait(100);
    }
    return -1;
}

void TestE2eReconnect::signalServer(const QString &prefix, int signal)
{
    QByteArray output;
    runProgram(QStringLiteral("ip"), {"netns", "pids", m_lab->serverNs()}, &output);
    for (const QByteArray &line : output.split('\n')) {
        bool ok = false;
        const int pid = line.trimmed().toInt(&ok);
        if (!ok || pid <= 1)
            continue;
        QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
        if (comm.open(QIODevice::ReadOnly) && QString::fromLatin1(comm.readAll()).startsWith(prefix))
            ::kill(pid_t(pid), signal);
    }
}

bool TestE2eReconnect::restartServer(int engine, QString *error)
{
    switch (engine) {
    case OpenConnect:
        return m_ocserv->start(OcservServer::NoGroups, error);
    case OpenVpn:
        return m_openvpn->start(error);
    default:
        return m_wireguard->start(error);
    }
}

qint64 TestE2eReconnect::reconnectingShownAt(qint64 since) const
{
    for (const Shown &shown : m_shown) {
        if (shown.ms >= since && shown.reconnecting && shown.status == OpenConnectConnection::CONNECTING)
            return shown.ms;
    }
    return -1;
}

bool TestE2eReconnect::connectedWhileReconnecting() const
{
    for (const Shown &shown : m_shown) {
        if (shown.reconnecting && shown.status == OpenConnectConnection::CONNECTED)
            return true;
    }
    return false;
}

QString TestE2eReconnect::shownText() const
{
    QStringList parts;
    for (const Shown &shown : m_shown)
        parts.append(QStringLiteral("%1:%2%3").arg(shown.ms).arg(shown.status).arg(shown.reconnecting ? "r" : ""));
    return parts.join(QLatin1Char(' '));
}

void TestE2eReconnect::comesBackOnItsOwn_data()
{
    QTest::addColumn<int>("engine");
    QTest::addColumn<QString>("scenario");
    for (int engine : {OpenConnect, OpenVpn, WireGuard}) {
        for (const char *scenario :
             {"server killed and restarted", "link down 10 s", "address changed", "server stopped 15 s"})
            QTest::newRow(qPrintable(QStringLiteral("%1, %2").arg(engineName(engine), scenario)))
                << engine << QString::fromLatin1(scenario);
    }
    // Not a change at all: the address's lifetime renewed (every lease or router refresh does
    // it); the tunnel must be left alone.
    QTest::newRow("OpenConnect, address renewed, left alone") << int(OpenConnect) << QStringLiteral("address renewed");
    // The other way it ends: the server never comes back, and the attempts stop at the bound.
    QTest::newRow("WireGuard, server gone for good, given up")
        << int(WireGuard) << QStringLiteral("server gone for good");
}

void TestE2eReconnect::comesBackOnItsOwn()
{
    QFETCH(int, engine);
    QFETCH(QString, scenario);
    QVERIFY2(connectAndWait(engine), qPrintable(shownText()));
    m_shown.clear();
    const QString serverProcess = engine == OpenConnect ? QStringLiteral("ocserv")
                                  : engine == OpenVpn   ? QStringLiteral("openvpn")
                                                        : QStringLiteral("wireguard-go");
    const qint64 lostAt = m_clock.elapsed();
    QString error;
    if (scenario.startsWith(QLatin1String("server gone"))) {
        givenUp(engine, serverProcess, lostAt);
        return;
    }
    bool mustReconnect = true;
    if (scenario.startsWith(QLatin1String("server killed"))) {
        signalServer(serverProcess, SIGKILL);
        QTest::qWait(6000);
        QVERIFY2(restartServer(engine, &error), qPrintable(error));
    } else if (scenario.startsWith(QLatin1String("link down"))) {
        m_lab->exec(m_lab->clientNs(), {"ip", "link", "set", m_lab->clientLink(), "down"});
        QTest::qWait(10000);
        m_lab->exec(m_lab->clientNs(), {"ip", "link", "set", m_lab->clientLink(), "up"});
    } else if (scenario.startsWith(QLatin1String("address renewed"))) {
        m_lab->exec(m_lab->clientNs(), {"ip", "addr", "change", QStringLiteral("%1/24").arg(NetnsLab::clientAddress),
                                        "dev", m_lab->clientLink(), "valid_lft", "300", "preferred_lft", "300"});
        // And back to a lease without end, which is announced again.
        m_lab->exec(m_lab->clientNs(),
                    {"ip", "addr", "change", QStringLiteral("%1/24").arg(NetnsLab::clientAddress), "dev",
                     m_lab->clientLink(), "valid_lft", "forever", "preferred_lft", "forever"});
        // Past the network watch's settling time and the check it would start.
        QTest::qWait(2000);
        QVERIFY2(m_shown.isEmpty(), qPrintable(shownText()));
        mustReconnect = false;
    } else if (scenario.startsWith(QLatin1String("address changed"))) {
        // A new address on the same link (a new lease): the old connection's address is gone.
        m_lab->exec(m_lab->clientNs(), {"ip", "addr", "flush", "dev", m_lab->clientLink()});
        m_lab->exec(m_lab->clientNs(), {"ip", "addr", "add", "10.231.0.3/24", "dev", m_lab->clientLink()});
        // An engine may move its session over without ever losing traffic for long.
        mustReconnect = false;
    } else {
        // Stopped for 15 s rather than a minute: longer than every dead-peer and keep-alive
        // limit of the engines (2 to 4 s here) and than the grace an engine gets to resume on
        // its own (3 s), so the same path runs as after a minute; the run stays short.
        signalServer(serverProcess, SIGSTOP);
        QTest::qWait(15000);
        signalServer(serverProcess, SIGCONT);
    }
    const qint64 toTraffic = waitForTraffic(30000);
    QVERIFY2(
        toTraffic >= 0,
        qPrintable(QStringLiteral("no traffic 30 s after the server or network came back; shown: ") + shownText()));
    QTRY_COMPARE_WITH_TIMEOUT(int(m_controller->status()), int(OpenConnectConnection::CONNECTED), 10000);
    QVERIFY(!m_controller->isReconnecting());
    const qint64 shownAt = reconnectingShownAt(lostAt);
    if (mustReconnect) {
        QVERIFY2(shownAt >= 0, qPrintable(shownText()));
        // 5 s is the aim and is met when the tunnel's echo answers; when it does not (seen
        // once for OpenConnect) the library's own dead-peer check finds a silent server in
        // about 10 s.
        QVERIFY2(shownAt - lostAt <= (scenario.startsWith(QLatin1String("server stopped")) ? 12000 : 5000),
                 qPrintable(shownText()));
    }
    QVERIFY2(!connectedWhileReconnecting(), qPrintable(shownText()));
    // While the tunnel was lost the user never saw IDLE.
    for (const Shown &shown : m_shown)
        QVERIFY2(shown.status != OpenConnectConnection::IDLE, qPrintable(shownText()));
    const QString row =
        QStringLiteral("%1 %2 reconnecting shown after %3, traffic back %4 ms after the server or "
                       "network came back; shown: %5")
            .arg(QString::fromLatin1(engineName(engine)).leftJustified(12), scenario.leftJustified(30),
                 shownAt < 0 ? QStringLiteral("(never: no loss seen)") : QStringLiteral("%1 ms").arg(shownAt - lostAt))
            .arg(toTraffic)
            .arg(shownText());
    m_table.append(row);
    qInfo().noquote() << row;
}

void TestE2eReconnect::givenUp(int engine, const QString &serverProcess, qint64 lostAt)
{
    // A bound of seconds for this row; the policy's shape is the product's (minutes).
    OpenConnectConnection::ReconnectTiming timing = testTiming;
    timing.giveUpMs = 12000;
    m_controller->setReconnectTimingForTests(timing);
    QSignalSpy gaveUp(m_controller.get(), &OpenConnectConnection::reconnectGaveUp);
    signalServer(serverProcess, SIGKILL);
    QTRY_VERIFY_WITH_TIMEOUT(gaveUp.count() == 1, timing.giveUpMs + 10000);
    const qint64 gaveUpAt = m_clock.elapsed();
    m_controller->setReconnectTimingForTests(testTiming);
    const qint64 shownAt = reconnectingShownAt(lostAt);
    QVERIFY2(shownAt >= 0 && shownAt - lostAt <= 5000, qPrintable(shownText()));
    // Within the bound from the loss, with a sentence that tells the user what to do.
    QVERIFY2(gaveUpAt - shownAt >= timing.giveUpMs - 500 && gaveUpAt - shownAt <= timing.giveUpMs + 1500,
             qPrintable(shownText()));
    const QString message = gaveUp.at(0).at(0).toString();
    QCOMPARE(message,
             QStringLiteral("The VPN connection could not be restored within 12 seconds. Please connect again."));
    // The end is IDLE (on which the connect page blocks traffic again when the kill switch is
    // on), reached straight from reconnecting: the tunnel was never shown as up meanwhile.
    QTRY_COMPARE(int(m_controller->status()), int(OpenConnectConnection::IDLE));
    QVERIFY(!m_controller->isReconnecting());
    QCOMPARE(m_shown.last().status, int(OpenConnectConnection::IDLE));
    for (const Shown &shown : m_shown)
        QVERIFY2(shown.status != OpenConnectConnection::CONNECTED, qPrintable(shownText()));
    QVERIFY2(!connectedWhileReconnecting(), qPrintable(shownText()));
    // Nothing is tried any more, even with the server back.
    QString error;
    QVERIFY2(restartServer(engine, &error), qPrintable(error));
    const int shownBefore = m_shown.size();
    QTest::qWait(3000);
    QCOMPARE(m_shown.size(), shownBefore);
    QVERIFY(!trafficFlows());
    m_table.append(QStringLiteral("%1 %2 reconnecting shown after %3 ms, given up %4 ms later; shown: %5")
                       .arg(QString::fromLatin1(engineName(engine)).leftJustified(12),
                            QStringLiteral("server gone for good").leftJustified(30))
                       .arg(shownAt - lostAt)
                       .arg(gaveUpAt - shownAt)
                       .arg(shownText()));
}

void TestE2eReconnect::disconnectWhileReconnectingEndsIdleAtOnce_data()
{
    QTest::addColumn<int>("engine");
    for (int engine : {OpenConnect, OpenVpn, WireGuard})
        QTest::newRow(engineName(engine)) << engine;
}

void TestE2eReconnect::disconnectWhileReconnectingEndsIdleAtOnce()
{
    QFETCH(int, engine);
    QVERIFY2(connectAndWait(engine), qPrintable(shownText()));
    m_shown.clear();
    const QString serverProcess = engine == OpenConnect ? QStringLiteral("ocserv")
                                  : engine == OpenVpn   ? QStringLiteral("openvpn")
                                                        : QStringLiteral("wireguard-go");
    signalServer(serverProcess, SIGKILL);
    QTRY_VERIFY_WITH_TIMEOUT(m_controller->isReconnecting(), 8000);
    // Into the attempts: the first fresh sign-in is under way or waiting.
    QTest::qWait(testTiming.engineGraceMs + 1000);
    QVERIFY(m_controller->isReconnecting());
    QElapsedTimer stop;
    stop.start();
    m_controller->disconnectVpn();
    QTRY_COMPARE_WITH_TIMEOUT(int(m_controller->status()), int(OpenConnectConnection::IDLE), 1000);
    QVERIFY(!m_controller->isReconnecting());
    const qint64 toIdle = stop.elapsed();
    // Nothing comes back by itself afterwards, not even with the server there again.
    QString error;
    QVERIFY2(restartServer(engine, &error), qPrintable(error));
    const int shownBefore = m_shown.size();
    QTest::qWait(5000);
    QCOMPARE(m_shown.size(), shownBefore);
    QCOMPARE(int(m_controller->status()), int(OpenConnectConnection::IDLE));
    QVERIFY(!trafficFlows());
    m_table.append(QStringLiteral("%1 %2 IDLE %3 ms after the click; shown: %4")
                       .arg(QString::fromLatin1(engineName(engine)).leftJustified(12),
                            QStringLiteral("disconnect while reconnecting").leftJustified(30))
                       .arg(toIdle)
                       .arg(shownText()));
}

void TestE2eReconnect::wakeUpAfterTheServerChangedReconnects()
{
    QVERIFY2(connectAndWait(OpenConnect), qPrintable(shownText()));
    // An established tunnel: one that ends within seconds of coming up counts as a failed
    // start (IDLE), and the server's restart below can be that quick.
    QTest::qWait(3500);
    m_shown.clear();
    m_logind.prepareForSleep(true);
    QTest::qWait(300);
    // Asleep: the server is replaced (a restarted server refuses the old session), quicker than
    // any dead-peer check would notice.
    signalServer(QStringLiteral("ocserv"), SIGKILL);
    QString error;
    QVERIFY2(m_ocserv->start(OcservServer::NoGroups, &error), qPrintable(error));
    const qint64 wokeAt = m_clock.elapsed();
    m_logind.prepareForSleep(false);
    const qint64 toTraffic = waitForTraffic(15000);
    QVERIFY2(toTraffic >= 0 && toTraffic <= 10000, qPrintable(shownText()));
    QTRY_COMPARE_WITH_TIMEOUT(int(m_controller->status()), int(OpenConnectConnection::CONNECTED), 5000);
    // A new session: the old one was refused and the tunnel was brought back with a sign-in.
    QVERIFY2(reconnectingShownAt(wokeAt) >= 0, qPrintable(shownText()));
    QVERIFY2(!connectedWhileReconnecting(), qPrintable(shownText()));
    m_table.append(QStringLiteral("%1 %2 traffic back %3 ms after the wake-up; shown: %4")
                       .arg(QStringLiteral("OpenConnect").leftJustified(12),
                            QStringLiteral("sleep, server replaced, wake").leftJustified(30))
                       .arg(toTraffic)
                       .arg(shownText()));
}

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsSet(labVariable)) {
        isolateXdg();
        setIdentity();
        QCoreApplication app(argc, argv);
        TestE2eReconnect test;
        return QTest::qExec(&test, argc, argv);
    }
    const QString reason =
        tunnelSkipReason({QStringLiteral("ocserv"), QStringLiteral("openvpn"), QStringLiteral("wireguard-go"),
                          QStringLiteral("wg-quick"), QStringLiteral("ping"), QStringLiteral("dbus-daemon")});
    if (!reason.isEmpty()) {
        fprintf(stderr, "SKIP: reconnect end-to-end test %s\n", qPrintable(reason));
        return 77;
    }
    setIdentity();
    QCoreApplication app(argc, argv);
    NetnsLab lab;
    QString error;
    if (!lab.up(&error)) {
        fprintf(stderr, "FAIL: lab: %s\n", qPrintable(error));
        return 1;
    }
    qputenv(labVariable, QByteArray::number(qint64(getpid())));
    QProcess inner;
    inner.setProcessChannelMode(QProcess::ForwardedChannels);
    inner.start(QStringLiteral("ip"),
                QStringList{"netns", "exec", lab.clientNs(), QCoreApplication::applicationFilePath()} +
                    app.arguments().mid(1));
    const bool ended = inner.waitForStarted(10000) && inner.waitForFinished(400000);
    if (!ended) {
        inner.kill();
        inner.waitForFinished(5000);
    }
    const int code = ended && inner.exitStatus() == QProcess::NormalExit ? inner.exitCode() : 1;
    if (code != 0)
        lab.keepFiles();
    return code == 0 ? 0 : 1;
}

#include "tst_e2e_reconnect.moc"
