// The OpenVPN engine through the controller against a real OpenVPN server: the server in one
// network namespace, this test process (the controller, the runner and the openvpn engine it
// starts) in the other.

#include <QElapsedTimer>
#include <QPointer>
#include <QSignalSpy>
#include <QtTest>

#include "log/logger.h"
#include "netns.h"
#include "openvpnlab.h"
#include "platform/engineprocesses.h"
#include "testmain.h"
#include "vpn/openconnectconnection.h"
#include "vpn/openvpnrunner.h"

using Tavrix::OpenConnectConnection;
using TavrixTest::NetnsLab;
using TavrixTest::OpenVpnServer;

namespace {

const QString user = QStringLiteral("alice");
// A quote and a backslash: the management quoting must get them through.
const QString password = QStringLiteral("se\"cr\\et");

} // namespace

class TestOpenVpnE2e : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void connectCarriesTrafficAndDisconnects();
    void wrongPasswordEndsIdleWithoutRetry();
    void serverLossReconnectsAndUserDisconnectEnds();
    void connectAgainReplacesTheRunningTunnel();

private:
    void connectController(const QString &pass);
    bool pingInside(int count = 1);
    bool tunnelPresent();
    void expectEngineGone();
    int count(OpenConnectConnection::Status status) const;

    NetnsLab m_lab;
    std::unique_ptr<OpenVpnServer> m_server;
    TavrixTest::NetnsEntry m_inClient;
    std::shared_ptr<OpenConnectConnection> m_controller;
    QList<OpenConnectConnection::Status> m_statuses;
    QList<QPair<quint64, quint64>> m_stats;
};

void TestOpenVpnE2e::initTestCase()
{
    QString error;
    QVERIFY2(m_lab.up(&error), qPrintable(error));
    m_server = std::make_unique<OpenVpnServer>(m_lab);
    QVERIFY2(m_server->makeCredentials({{user, password}}, &error), qPrintable(error));
    QVERIFY2(m_server->start(&error), qPrintable(error));
    QVERIFY(m_inClient.enter(m_lab.clientNs()));
    QVERIFY2(QFileInfo(Tavrix::EngineProcesses::enginePath(QStringLiteral("openvpn.exe"))).isExecutable(),
             "the openvpn engine is not beside the test");

    m_controller = OpenConnectConnection::instance();
    QObject::connect(m_controller.get(), &OpenConnectConnection::statusChanged, this,
                     [this](OpenConnectConnection::Status status) { m_statuses << status; });
    QObject::connect(m_controller.get(), &OpenConnectConnection::statsChanged, this,
                     [this](uint64_t tx, uint64_t rx) { m_stats << qMakePair(quint64(tx), quint64(rx)); });
}

void TestOpenVpnE2e::cleanupTestCase()
{
    if (m_controller)
        m_controller->disconnectVpn();
    QTest::qWait(200);
    Tavrix::EngineProcesses::stop(QStringLiteral("openvpn.exe"), 2000);
    m_inClient.leave();
    m_server.reset();
    m_lab.down();
}

void TestOpenVpnE2e::init()
{
    m_statuses.clear();
    m_stats.clear();
}

int TestOpenVpnE2e::count(OpenConnectConnection::Status status) const
{
    return int(m_statuses.count(status));
}

void TestOpenVpnE2e::connectController(const QString &pass)
{
    m_controller->setUsername(user);
    m_controller->setPassword(pass);
    m_controller->setType(OpenConnectConnection::OPENVPN);
    m_controller->setConfig(QString::fromLatin1(m_server->clientProfileTemplate().toBase64()), m_server->address());
    QCOMPARE(m_controller->connect(), int(OpenConnectConnection::CONNECT_STARTED));
}

bool TestOpenVpnE2e::pingInside(int count)
{
    return TavrixTest::runProgram(QStringLiteral("ping"),
                                  {"-n", "-q", "-c", QString::number(count), "-i", "0.2", "-W", "2", "-s", "1200",
                                   NetnsLab::insideAddress},
                                  nullptr, 10000) == 0;
}

bool TestOpenVpnE2e::tunnelPresent()
{
    const QString links = m_lab.clientIp({"-o", "link", "show"});
    const QString routes = m_lab.clientIp({"route", "show"});
    return links.contains(QLatin1String("tun")) || routes.contains(QLatin1String("198.18.100."));
}

void TestOpenVpnE2e::expectEngineGone()
{
    QTRY_VERIFY_WITH_TIMEOUT(Tavrix::EngineProcesses::find(QStringLiteral("openvpn.exe")).isEmpty(), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(!tunnelPresent(), 5000);
}

void TestOpenVpnE2e::connectCarriesTrafficAndDisconnects()
{
    QVERIFY2(!pingInside(), "the inside address must not be reachable without the tunnel");
    const int logStart = Tavrix::Logger::instance()->lastSequence();
    QElapsedTimer timer;
    timer.start();
    connectController(password);
    QTRY_VERIFY_WITH_TIMEOUT(m_statuses.contains(OpenConnectConnection::CONNECTED), 30000);
    qInfo("connected in %lld ms", timer.elapsed());
    QCOMPARE(m_statuses.first(), OpenConnectConnection::CONNECTING);
    QTRY_COMPARE(m_controller->status(), OpenConnectConnection::CONNECTED);
    QVERIFY(tunnelPresent());
    // The engine was started from the client's own file, and only once.
    QCOMPARE(Tavrix::EngineProcesses::find(QStringLiteral("openvpn.exe")).size(), 1);

    QVERIFY(pingInside(10));
    // Counters every second, growing both ways as traffic flows.
    QTRY_VERIFY_WITH_TIMEOUT(m_stats.size() >= 2, 5000);
    const auto before = m_stats.last();
    QVERIFY(pingInside(10));
    QTRY_VERIFY_WITH_TIMEOUT(m_stats.last().first > before.first && m_stats.last().second > before.second, 5000);
    QVERIFY2(m_stats.last().first > 10 * 1200 && m_stats.last().second > 10 * 1200,
             qPrintable(QStringLiteral("%1 %2").arg(m_stats.last().first).arg(m_stats.last().second)));

    // The password went to OpenVPN only.
    QString log;
    for (const auto &message : Tavrix::Logger::instance()->messagesSince(logStart))
        log += message.text + QLatin1Char('\n');
    QVERIFY(log.contains(QStringLiteral("OpenVPN Connect Success")));
    QVERIFY2(!log.contains(password), qPrintable(log));

    QPointer<OpenVpnRunner> runner = m_controller->findChild<OpenVpnRunner *>();
    QVERIFY(runner);
    m_controller->disconnectVpn();
    QTRY_VERIFY_WITH_TIMEOUT(runner.isNull(), 10000);
    expectEngineGone();
    QTest::qWait(300);
    QCOMPARE(count(OpenConnectConnection::IDLE), 1);
    QCOMPARE(m_controller->status(), OpenConnectConnection::IDLE);
    QVERIFY(!pingInside());
    // A second disconnect finds no runner and touches nothing deleted.
    m_controller->disconnectVpn();
}

void TestOpenVpnE2e::wrongPasswordEndsIdleWithoutRetry()
{
    connectController(QStringLiteral("wrong"));
    QTRY_VERIFY_WITH_TIMEOUT(m_statuses.contains(OpenConnectConnection::IDLE), 30000);
    expectEngineGone();
    // No retry loop: nothing more after IDLE.
    QTest::qWait(2000);
    QCOMPARE(m_statuses.last(), OpenConnectConnection::IDLE);
    QCOMPARE(count(OpenConnectConnection::IDLE), 1);
    QVERIFY(!m_statuses.contains(OpenConnectConnection::CONNECTED));
    QVERIFY(!m_controller->findChild<OpenVpnRunner *>());
}

void TestOpenVpnE2e::serverLossReconnectsAndUserDisconnectEnds()
{
    QString error;
    connectController(password);
    QTRY_VERIFY_WITH_TIMEOUT(m_statuses.contains(OpenConnectConnection::CONNECTED), 30000);
    QVERIFY(pingInside());

    // The server dies: OpenVPN notices within its keep-alive and reconnects.
    m_statuses.clear();
    m_server->kill();
    QTRY_VERIFY_WITH_TIMEOUT(m_statuses.contains(OpenConnectConnection::CONNECTING), 20000);
    QVERIFY(!m_statuses.contains(OpenConnectConnection::IDLE));
    QVERIFY2(m_server->start(&error), qPrintable(error));
    QTRY_VERIFY_WITH_TIMEOUT(m_statuses.contains(OpenConnectConnection::CONNECTED), 40000);
    QVERIFY(pingInside());

    // Lost again, and the user gives up while OpenVPN is reconnecting.
    m_statuses.clear();
    m_server->kill();
    QTRY_VERIFY_WITH_TIMEOUT(m_statuses.contains(OpenConnectConnection::CONNECTING), 20000);
    m_controller->disconnectVpn();
    expectEngineGone();
    QTRY_VERIFY_WITH_TIMEOUT(!m_controller->findChild<OpenVpnRunner *>(), 10000);
    QTest::qWait(300);
    QCOMPARE(count(OpenConnectConnection::IDLE), 1);
    QCOMPARE(m_statuses.last(), OpenConnectConnection::IDLE);
    QVERIFY2(m_server->start(&error), qPrintable(error));
}

void TestOpenVpnE2e::connectAgainReplacesTheRunningTunnel()
{
    connectController(password);
    QTRY_VERIFY_WITH_TIMEOUT(m_statuses.contains(OpenConnectConnection::CONNECTED), 30000);
    const QList<qint64> first = Tavrix::EngineProcesses::find(QStringLiteral("openvpn.exe"));
    QCOMPARE(first.size(), 1);

    m_statuses.clear();
    connectController(password);
    QTRY_VERIFY_WITH_TIMEOUT(m_statuses.contains(OpenConnectConnection::CONNECTED), 30000);
    // One tunnel, the new one; the old one ended without an IDLE in between.
    QTRY_COMPARE_WITH_TIMEOUT(Tavrix::EngineProcesses::find(QStringLiteral("openvpn.exe")).size(), 1, 10000);
    QVERIFY(!Tavrix::EngineProcesses::find(QStringLiteral("openvpn.exe")).contains(first.first()));
    QVERIFY(!m_statuses.contains(OpenConnectConnection::IDLE));
    QVERIFY(pingInside());

    m_controller->disconnectVpn();
    expectEngineGone();
    QTest::qWait(300);
    QCOMPARE(count(OpenConnectConnection::IDLE), 1);
}

int main(int argc, char *argv[])
{
    const QString reason =
        TavrixTest::tunnelSkipReason({QStringLiteral("openvpn"), QStringLiteral("certtool"), QStringLiteral("ping")});
    if (!reason.isEmpty()) {
        fprintf(stderr, "SKIP: OpenVPN end-to-end test %s\n", qPrintable(reason));
        return 77;
    }
    TavrixTest::isolateXdg();
    TavrixTest::setIdentity();
    QCoreApplication app(argc, argv);
    TestOpenVpnE2e test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_e2e_openvpn.moc"
