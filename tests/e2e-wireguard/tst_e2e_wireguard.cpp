// WireGuard end to end: a real wireguard-go peer in a network namespace, the development
// service handing the client that peer's configuration, and the controller connecting through
// the client program beside it. The test runs itself again inside the client namespace, where
// the tunnel goes up; the peer and the namespaces belong to the outer run.

#include <QDir>
#include <QFileInfo>
#include <QSignalSpy>
#include <QtTest>

#include <sys/mount.h>

#include "api/apirequest.h"
#include "common/crypto.h"
#include "log/logger.h"
#include "platform/engineprocesses.h"
#include "testmain.h"
#include "vpn/openconnectconnection.h"
#include "vpn/wireguard.h"
#include "wglabclient.h"

using namespace Tavrix;
using TavrixTest::NetnsLab;
using TavrixTest::WireGuardPeer;

namespace {

const QString clientName = QStringLiteral("wireguard/wireguard-client.exe");

QString logSince(int sequence)
{
    QStringList texts;
    for (const Logger::Message &message : Logger::instance()->messages()) {
        if (message.sequence > sequence)
            texts.append(message.text);
    }
    return texts.join(QLatin1Char('\n'));
}

int lastSequence()
{
    const auto messages = Logger::instance()->messages();
    return messages.isEmpty() ? 0 : messages.last().sequence;
}

QString run(const QStringList &command, int *code = nullptr)
{
    QByteArray output;
    const int exit = TavrixTest::runProgram(command.first(), command.mid(1), &output, 10000);
    if (code)
        *code = exit;
    return QString::fromLocal8Bit(output);
}

// One ping through the tunnel; a few tries, as the last routes may follow the address by a
// few milliseconds.
bool reachable(const QString &address, int tries = 3)
{
    for (int i = 0; i < tries; ++i) {
        int code = -1;
        run({"ping", "-n", "-c", "1", "-W", "1", address}, &code);
        if (code == 0)
            return true;
    }
    return false;
}

QList<int> statusValues(const QSignalSpy &spy)
{
    QList<int> values;
    for (const QList<QVariant> &arguments : spy)
        values.append(arguments.at(0).toInt());
    return values;
}

} // namespace

class TestE2eWireguard : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void connectTrafficDisconnect();
    void tunnelEndingOnItsOwnIsBroughtBack();
    void clientProgramEndsWhenItsFileGoes();
    void failuresEndIdle_data();
    void failuresEndIdle();

private:
    // Connects and waits for the final status; the statuses seen.
    QList<int> connectAndWait(int timeoutMs = 30000);

    TavrixTest::DevService m_service;
    IPBundlePtr m_entry;
    std::shared_ptr<OpenConnectConnection> m_controller;
};

void TestE2eWireguard::initTestCase()
{
    QString error;
    m_entry = TavrixTest::signInToWireGuardServer(m_service, &error);
    QVERIFY2(m_entry, qPrintable(error));
    m_controller = OpenConnectConnection::instance();
    m_controller->setType(OpenConnectConnection::WIREGUARD);
    QVERIFY(EngineProcesses::find(clientName).isEmpty());
}

void TestE2eWireguard::cleanupTestCase()
{
    EngineProcesses::stop(clientName);
    m_service.stop();
}

QList<int> TestE2eWireguard::connectAndWait(int timeoutMs)
{
    QSignalSpy statuses(m_controller.get(), &OpenConnectConnection::statusChanged);
    m_controller->connect();
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        const QList<int> seen = statusValues(statuses);
        if (!seen.isEmpty() && seen.last() != OpenConnectConnection::CONNECTING)
            break;
        statuses.wait(100);
    }
    // Whatever follows late (a second IDLE) would show here.
    QTest::qWait(300);
    return statusValues(statuses);
}

void TestE2eWireguard::connectTrafficDisconnect()
{
    const QString inside = QString::fromLatin1(NetnsLab::insideAddress);
    const QString config = Wireguard::configFilePath();
    QVERIFY2(!reachable(inside, 1), "the inside address must be reachable only through the tunnel");

    // A client program of an earlier connection, still running with its own tunnel.
    const QString earlierConfig = QDir::temp().filePath(QStringLiteral("tavrix-earlier-%1.conf").arg(getpid()));
    QFile::copy(qEnvironmentVariable(TavrixTest::wgConfigVariable), earlierConfig);
    QProcess::startDetached(EngineProcesses::enginePath(clientName), {QStringLiteral("run"), earlierConfig});
    // Its tunnel is complete once the device has its address (the last step of its start-up,
    // which took up to 15 s on a busy machine); then one program is left (the steps of its
    // start-up carry its name too).
    QTRY_VERIFY_WITH_TIMEOUT(run({"ip", "-o", "-4", "addr"}).contains(QLatin1String("tvxwg")), 30000);
    QTRY_COMPARE_WITH_TIMEOUT(EngineProcesses::find(clientName).size(), 1, 15000);
    const QList<qint64> earlier = EngineProcesses::find(clientName);

    const int before = lastSequence();
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(connectAndWait(), (QList<int>{OpenConnectConnection::CONNECTING, OpenConnectConnection::CONNECTED}));
    qInfo("connect to CONNECTED: %lld ms", timer.elapsed());
    const QString log = logSince(before);
    QVERIFY2(log.contains(QLatin1String("wireguard-client.exe was running and has been killed.")), qPrintable(log));
    QTRY_VERIFY(logSince(before).contains(QLatin1String("Wireguard connection successful.")));
    QTRY_COMPARE_WITH_TIMEOUT(EngineProcesses::find(clientName).size(), 1, 5000);
    const QList<qint64> now = EngineProcesses::find(clientName);
    QVERIFY(!now.contains(earlier.first()));
    // It stays in our session: a session of its own is a scheduling group of its own, which
    // cut the tunnel's throughput to about 0.8 of a hand-started one.
    QCOMPARE(getsid(pid_t(now.first())), getsid(0));
    QFile::remove(earlierConfig);

    // The server's identifiers are remembered for the client program.
    QSettings settings;
    QCOMPARE(settings.value(QStringLiteral("vpnserverId")).toInt(), m_entry->vpn_server_id());
    QCOMPARE(settings.value(QStringLiteral("ipId")).toInt(), m_entry->ip_id());
    QCOMPARE(settings.value(QStringLiteral("connectionType")).toInt(), m_entry->connection_type());

    // The private key is on disk only for the tunnel's life, and for the owner alone.
    QVERIFY(QFileInfo::exists(config));
    QCOMPARE(QFileInfo(config).permissions() & 0x0077, QFileDevice::Permissions());

    // Traffic through the tunnel, and every route of it.
    const QString links = run({"ip", "-o", "link"});
    QVERIFY2(links.count(QLatin1String("tvxwg")) == 1, qPrintable(links));
    QVERIFY2(reachable(inside), qPrintable(run({"ip", "route", "show", "table", "all"})));
    QVERIFY(run({"ip", "rule"}).contains(QLatin1String("51820")));
    // Packets for the tunnel address that arrive on another interface are dropped.
    const QString rules = run({"nft", "list", "ruleset"});
    QVERIFY2(
        rules.contains(QStringLiteral("ip daddr %1 fib saddr type != local drop").arg(WireGuardPeer::clientAddress)),
        qPrintable(rules));

    // Disconnect: the interface, its routes and rules, the configuration and the program go.
    QSignalSpy statuses(m_controller.get(), &OpenConnectConnection::statusChanged);
    m_controller->disconnectVpn();
    QTRY_COMPARE(statusValues(statuses), (QList<int>{OpenConnectConnection::IDLE}));
    QTRY_COMPARE(m_controller->status(), OpenConnectConnection::IDLE);
    QVERIFY(!run({"ip", "-o", "link"}).contains(QLatin1String("tvxwg")));
    QVERIFY(!run({"ip", "route", "show", "table", "all"}).contains(QLatin1String("tvxwg")));
    QVERIFY(!run({"ip", "rule"}).contains(QLatin1String("51820")));
    QVERIFY(!QFileInfo::exists(config));
    QVERIFY(EngineProcesses::find(clientName).isEmpty());
    QVERIFY(!reachable(inside, 1));
}

void TestE2eWireguard::tunnelEndingOnItsOwnIsBroughtBack()
{
    QCOMPARE(connectAndWait(), (QList<int>{OpenConnectConnection::CONNECTING, OpenConnectConnection::CONNECTED}));
    const QString link = run({"ip", "-o", "link"}).section(QLatin1String("tvxwg"), 1).section(QLatin1Char(':'), 0, 0);
    QVERIFY(!link.isEmpty());
    const QList<qint64> first = EngineProcesses::find(clientName);
    // An established tunnel (one that ends right after coming up is a failed start).
    QTest::qWait(3500);

    // The tunnel goes away under the client (the userspace engine died, say): the user sees
    // it being brought back, never IDLE, and a new client program brings it back.
    QSignalSpy statuses(m_controller.get(), &OpenConnectConnection::statusChanged);
    const int before = lastSequence();
    run({"ip", "link", "delete", QStringLiteral("tvxwg") + link});
    QTRY_VERIFY_WITH_TIMEOUT(m_controller->isReconnecting(), 10000);
    QCOMPARE(statusValues(statuses).value(0), int(OpenConnectConnection::CONNECTING));
    // The liveness check may notice the loss before the client program's end is seen.
    QTRY_VERIFY2_WITH_TIMEOUT(logSince(before).contains(QLatin1String("has ended; the tunnel is down.")),
                              qPrintable(logSince(before)), 15000);
    QTRY_COMPARE_WITH_TIMEOUT(m_controller->status(), OpenConnectConnection::CONNECTED, 30000);
    QVERIFY(!statusValues(statuses).contains(OpenConnectConnection::IDLE));
    QVERIFY(reachable(QString::fromLatin1(WireGuardPeer::peerAddress)));
    QTRY_COMPARE_WITH_TIMEOUT(EngineProcesses::find(clientName).size(), 1, 5000);
    const QList<qint64> second = EngineProcesses::find(clientName);
    QVERIFY(!first.contains(second.first()));

    // The user's disconnect leaves nothing behind: no program, no file with the key.
    m_controller->disconnectVpn();
    QTRY_COMPARE(m_controller->status(), OpenConnectConnection::IDLE);
    QTRY_VERIFY_WITH_TIMEOUT(EngineProcesses::find(clientName).isEmpty(), 10000);
    QVERIFY(!QFileInfo::exists(Wireguard::configFilePath()));
}

void TestE2eWireguard::clientProgramEndsWhenItsFileGoes()
{
    // Started with other rights than ours it runs as another user and may be beyond our
    // signals: removing its configuration file is enough to stop it.
    const QString file = QDir::temp().filePath(QStringLiteral("tavrix-stop-%1.conf").arg(getpid()));
    QVERIFY(QFile::copy(qEnvironmentVariable(TavrixTest::wgConfigVariable), file));
    QProcess program;
    program.start(EngineProcesses::enginePath(clientName), {QStringLiteral("run"), file});
    QTRY_VERIFY_WITH_TIMEOUT(run({"ip", "-o", "-4", "addr"}).contains(QLatin1String(WireGuardPeer::clientAddress)),
                             10000);
    QVERIFY(QFile::remove(file));
    QVERIFY(program.waitForFinished(5000));
    QCOMPARE(program.exitCode(), 0);
    QVERIFY(!run({"ip", "-o", "link"}).contains(QLatin1String("tvxwg")));
    QVERIFY(!run({"ip", "rule"}).contains(QLatin1String("51820")));
}

void TestE2eWireguard::failuresEndIdle_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("logged");
    // What the connect page shows the user.
    QTest::addColumn<QString>("told");
    const QString generic = QStringLiteral("The WireGuard connection could not be started.");
    QTest::newRow("empty configuration") << "empty" << QByteArray() << 0 << "Configuration is empty. Unable to proceed."
                                         << generic;
    QTest::newRow("service error") << "status" << QByteArray() << 422 << "Configuration is empty. Unable to proceed."
                                   << generic;
    QTest::newRow("html page instead of a configuration, refused")
        << "body" << QByteArray("<html><body>Maintenance</body></html>") << 200 << "is not a WireGuard configuration"
        << generic;
    // The lab's own configuration with a hook added, protected as the service sends it.
    QFile lab(qEnvironmentVariable(TavrixTest::wgConfigVariable));
    QVERIFY(lab.open(QIODevice::ReadOnly));
    const QString hooked =
        QString::fromLatin1(lab.readAll()).replace("[Interface]\n", "[Interface]\nPostUp = ip link del eth0\n");
    QTest::newRow("configuration with a hook, refused")
        << "body" << encode(hooked, ApiRequest::responseKey).toLatin1() << 200 << "\"PostUp\" would run a program"
        << "The WireGuard configuration was refused: \"PostUp\"";
    QTest::newRow("wireguard-go missing")
        << "normal" << QByteArray() << 0 << "wireguard-go is not installed" << generic;
}

void TestE2eWireguard::failuresEndIdle()
{
    QFETCH(QString, mode);
    QFETCH(QByteArray, body);
    QFETCH(int, status);
    QFETCH(QString, logged);
    QFETCH(QString, told);
    const QString path = QStringLiteral("/api/v2/wireguard/config");
    if (mode == QLatin1String("body"))
        QVERIFY(m_service.setBody(path, body, status));
    else
        QVERIFY(m_service.set(path, mode, status));

    // No wireguard-go on this machine: an empty file over it, in this namespace's own view of
    // the file system only (the outer run's mounts do not see it).
    QTemporaryFile blank;
    const bool hideWireguardGo = QTest::currentDataTag() == QLatin1String("wireguard-go missing");
    if (hideWireguardGo) {
        QVERIFY(blank.open());
        const QByteArray program = QStandardPaths::findExecutable(QStringLiteral("wireguard-go")).toLocal8Bit();
        QVERIFY2(mount(blank.fileName().toLocal8Bit().constData(), program.constData(), nullptr, MS_BIND, nullptr) == 0,
                 strerror(errno));
    }
    const int before = lastSequence();
    QSignalSpy failed(m_controller.get(), &OpenConnectConnection::connectFailed);
    const QList<int> seen = connectAndWait();
    if (hideWireguardGo)
        umount2(QStandardPaths::findExecutable(QStringLiteral("wireguard-go")).toLocal8Bit().constData(), MNT_DETACH);
    m_service.reset();

    QCOMPARE(seen, (QList<int>{OpenConnectConnection::CONNECTING, OpenConnectConnection::IDLE}));
    QTRY_VERIFY(logSince(before).contains(QLatin1String("Wireguard connection failed.")));
    const QString log = logSince(before);
    QVERIFY2(log.contains(logged), qPrintable(log));
    QTRY_COMPARE(failed.count(), 1);
    QVERIFY2(failed.at(0).at(0).toString().contains(told), qPrintable(failed.at(0).at(0).toString()));
    QVERIFY(!QFileInfo::exists(Wireguard::configFilePath()));
    QVERIFY(EngineProcesses::find(clientName).isEmpty());
    QVERIFY(!run({"ip", "-o", "link"}).contains(QLatin1String("tvxwg")));
}

int main(int argc, char *argv[])
{
    if (TavrixTest::runningInsideClientNs()) {
        TavrixTest::setIdentity();
        QCoreApplication app(argc, argv);
        TestE2eWireguard test;
        return QTest::qExec(&test, argc, argv);
    }
    const QString reason = TavrixTest::tunnelSkipReason(
        {QStringLiteral("wireguard-go"), QStringLiteral("wg"), QStringLiteral("wg-quick"), QStringLiteral("ping")});
    if (!reason.isEmpty()) {
        fprintf(stderr, "SKIP: WireGuard end-to-end test %s\n", qPrintable(reason));
        return 77;
    }
    TavrixTest::isolateXdg();
    TavrixTest::setIdentity();
    QCoreApplication app(argc, argv);
    NetnsLab lab;
    WireGuardPeer peer(lab);
    QString error;
    if (!lab.up(&error) || !peer.start(&error)) {
        fprintf(stderr, "FAIL: lab: %s\n", qPrintable(error));
        return 1;
    }
    QStringList arguments = app.arguments().mid(1);
    const int code = TavrixTest::runInsideClientNs(lab, peer, arguments, 150000);
    if (code != 0)
        lab.keepFiles();
    return code == 0 ? 0 : 1;
}

#include "tst_e2e_wireguard.moc"
