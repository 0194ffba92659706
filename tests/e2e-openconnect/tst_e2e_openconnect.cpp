// The OpenConnect engine against a real AnyConnect server: ocserv in one network namespace,
// the client (our controller, in a small program) in another.

#include <QRegularExpression>
#include <QtTest>

#include "netns.h"
#include "sessionclient.h"
#include "testmain.h"

using TavrixTest::NetnsLab;
using TavrixTest::OcservServer;

namespace {

constexpr int echoPort = 7001;
const QString inside = QString::fromLatin1(NetnsLab::insideAddress);
const QList<int> connected{1, 2};
const QList<int> refused{1, 0};
const QList<int> disconnected{3, 0};

} // namespace

using TavrixTest::SessionClient;

class TestOpenConnectE2e : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void connectCarriesTraffic();
    void disconnectRemovesTunnel();
    void serverVariants_data();
    void serverVariants();
    void blockedDtlsStaysOnTls();
    void changedServerKeyIsRefused_data();
    void changedServerKeyIsRefused();
    void quitWhileConnected();
    void tunnelDeviceFailureEndsIdle();

private:
    void startServer(OcservServer::Groups groups);
    void expectTunnelDevice(bool present);
    void checkNoSecrets(const SessionClient &client, const QString &password);

    NetnsLab m_lab;
    std::unique_ptr<OcservServer> m_server;
    std::unique_ptr<SessionClient> m_client;
    OcservServer::Groups m_groups = OcservServer::NoGroups;
    bool m_serverRunning = false;
};

void TestOpenConnectE2e::initTestCase()
{
    QString error;
    QVERIFY2(m_lab.up(&error), qPrintable(error));
    m_server = std::make_unique<OcservServer>(m_lab);
    QVERIFY2(m_server->makeCredentials(&error), qPrintable(error));
    startServer(OcservServer::NoGroups);
    const QString echo = SessionClient::programPath();
    QVERIFY(
        m_lab.start(m_lab.serverNs(),
                    {echo, "--echo-server", QString::fromLatin1(NetnsLab::insideAddress), QString::number(echoPort)},
                    m_lab.dir() + QStringLiteral("/echo.log")));
    QVERIFY(m_lab.waitForListener(m_lab.serverNs(), echoPort));
}

void TestOpenConnectE2e::cleanupTestCase()
{
    m_client.reset();
    m_server.reset();
    m_lab.down();
}

void TestOpenConnectE2e::startServer(OcservServer::Groups groups)
{
    if (m_serverRunning && m_groups == groups)
        return;
    QString error;
    m_serverRunning = m_server->start(groups, &error);
    m_groups = groups;
    QVERIFY2(m_serverRunning, qPrintable(error));
}

void TestOpenConnectE2e::expectTunnelDevice(bool present)
{
    const QString links = m_lab.clientIp({"-o", "link", "show"});
    const QString routes = m_lab.clientIp({"route", "show"});
    const bool hasTun =
        links.contains(QRegularExpression(QStringLiteral("^\\d+: tun\\d+"), QRegularExpression::MultilineOption));
    const bool hasRoute = routes.contains(QString::fromLatin1(NetnsLab::insideNetwork));
    QVERIFY2(hasTun == present, qPrintable(links));
    QVERIFY2(hasRoute == present, qPrintable(routes));
}

void TestOpenConnectE2e::checkNoSecrets(const SessionClient &client, const QString &password)
{
    const QString log = client.logDump();
    QVERIFY2(!log.contains(password), "the password reached the log");
    const QRegularExpression cookie(QStringLiteral("webvpn=(?!<hidden>|<elided>)[^;\\s]+"),
                                    QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch leak = cookie.match(log);
    QVERIFY2(!leak.hasMatch(), qPrintable(log.mid(qMax(0, leak.capturedStart() - 200), 400)));
}

void TestOpenConnectE2e::connectCarriesTraffic()
{
    startServer(OcservServer::NoGroups);
    m_client = std::make_unique<SessionClient>(m_lab, QStringLiteral("testuser"), QStringLiteral("testpass"));
    QVERIFY(m_client->isRunning());

    // Nothing reaches the inside address without the tunnel.
    QVERIFY(m_client->probe(inside, echoPort).startsWith(QLatin1String("PROBE fail")));

    QVERIFY2(m_client->connectVpn() == connected, qPrintable(m_client->logDump()));
    QVERIFY(m_client->logged(QStringLiteral("peer is unknown")));

    QCOMPARE(m_client->probe(inside, echoPort), QStringLiteral("PROBE ok"));

    // The session keeps no pool thread: with the pool cut to one, a job still runs at once.
    m_client->send(QStringLiteral("pool"));
    const QString pool = m_client->waitFor(QStringLiteral("POOL "), 5000);
    QVERIFY2(!pool.isEmpty() && pool.section(' ', 1, 1).toInt() < 1000, "a pool job waited behind the session");

    m_client->send(QStringLiteral("stats"));
    QCOMPARE(m_client->waitFor(QStringLiteral("UPDATE ")), QStringLiteral("UPDATE 0"));
    const QString stats = m_client->waitFor(QStringLiteral("STATS "));
    QVERIFY2(!stats.isEmpty(), "no statsChanged after a statistics request");
    QVERIFY(stats.section(' ', 1, 1).toULongLong() > 0);
    QVERIFY(stats.section(' ', 2, 2).toULongLong() > 0);

    expectTunnelDevice(true);
    // The tunnel script's output reached the client's log, and its file was removed.
    QVERIFY2(m_client->logged(QStringLiteral("vpnc-script: connect tun")), qPrintable(m_client->logDump().right(2000)));
    QVERIFY(!QFileInfo::exists(m_client->tmpDir() + QStringLiteral("/vpnc.log")));
    // It logged into the session's own owner-only folder.
    const QStringList folders =
        QDir(m_client->tmpDir()).entryList({QStringLiteral("tavrixvpn-session-*")}, QDir::Dirs | QDir::Hidden);
    QCOMPARE(folders.size(), 1);
    const QFileInfo folder(m_client->tmpDir() + QLatin1Char('/') + folders.first());
    QCOMPARE(folder.permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther | QFileDevice::ExeOther),
             QFileDevice::Permissions());
}

void TestOpenConnectE2e::disconnectRemovesTunnel()
{
    QVERIFY(m_client && m_client->isRunning());
    QCOMPARE(m_client->disconnectVpn(), disconnected);
    // The library takes the device down as the session thread ends, just before IDLE.
    QTRY_VERIFY_WITH_TIMEOUT(!m_lab.clientIp({"-o", "link", "show"}).contains(QLatin1String(": tun")), 5000);
    expectTunnelDevice(false);
    checkNoSecrets(*m_client, QStringLiteral("testpass"));
    // The session's folder goes with it.
    QVERIFY(QDir(m_client->tmpDir()).entryList({QStringLiteral("tavrixvpn-session-*")}, QDir::Dirs).isEmpty());
    m_client.reset();
}

void TestOpenConnectE2e::serverVariants_data()
{
    QTest::addColumn<int>("groups");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("connects");

    QTest::newRow("wrong password") << int(OcservServer::NoGroups) << "testuser"
                                    << "wrong-password" << false;
    QTest::newRow("one group") << int(OcservServer::OneGroup) << "guser"
                               << "testpass2" << true;
    // No group is configured on our side: a choice between two is declined.
    QTest::newRow("two groups") << int(OcservServer::TwoGroups) << "guser"
                                << "testpass2" << false;
}

void TestOpenConnectE2e::serverVariants()
{
    QFETCH(int, groups);
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(bool, connects);

    startServer(OcservServer::Groups(groups));
    SessionClient client(m_lab, user, password);
    QVERIFY(client.isRunning());
    QVERIFY2(client.connectVpn() == (connects ? connected : refused), qPrintable(client.logDump()));
    if (connects) {
        QCOMPARE(client.probe(inside, echoPort), QStringLiteral("PROBE ok"));
        QCOMPARE(client.disconnectVpn(), disconnected);
    } else {
        // The session is over: a disconnect has nothing to stop.
        client.send(QStringLiteral("stats"));
        QCOMPARE(client.waitFor(QStringLiteral("UPDATE ")), QStringLiteral("UPDATE -1"));
    }
    checkNoSecrets(client, password);
}

void TestOpenConnectE2e::blockedDtlsStaysOnTls()
{
    startServer(OcservServer::NoGroups);
    const QString table = QStringLiteral("tavrix_nodtls");
    QByteArray output;
    QCOMPARE(m_lab.exec(m_lab.serverNs(), {"nft", "-f", "-"}, &output, 10000,
                        QStringLiteral("table inet %1 {\n chain block_udp {\n  type filter hook input priority 0;\n"
                                       "  udp dport %2 drop\n }\n}\n")
                            .arg(table)
                            .arg(OcservServer::port)
                            .toLatin1()),
             0);

    SessionClient client(m_lab, QStringLiteral("testuser"), QStringLiteral("testpass"));
    QCOMPARE(client.connectVpn(), connected);
    QCOMPARE(client.probe(inside, echoPort), QStringLiteral("PROBE ok"));
    QVERIFY2(!client.logged(QStringLiteral("Established DTLS connection")), qPrintable(client.logDump()));
    QCOMPARE(client.disconnectVpn(), disconnected);
    m_lab.exec(m_lab.serverNs(), {"nft", "delete", "table", "inet", table});
}

void TestOpenConnectE2e::changedServerKeyIsRefused_data()
{
    QTest::addColumn<QString>("identity");
    QTest::newRow("stored key, user trusts the new one") << "stored";
    QTest::newRow("pin in the server entry") << "pin";
    QTest::newRow("certificate from a trusted authority") << "authority";
}

// An impostor with a key of its own at the address of a server the client met before.
void TestOpenConnectE2e::changedServerKeyIsRefused()
{
    QFETCH(QString, identity);
    // The client's data folder (its stored keys) outlives each client program.
    QTemporaryDir data;
    startServer(OcservServer::NoGroups);
    const QString genuinePin = m_server->pin();
    {
        SessionClient client(m_lab, QStringLiteral("testuser"), QStringLiteral("testpass"), {}, data.path());
        QCOMPARE(client.connectVpn(), connected);
        QVERIFY(client.logged(QStringLiteral("peer is unknown")));
        QCOMPARE(client.disconnectVpn(), disconnected);
    }

    QString error;
    QVERIFY2(m_server->renewServerKey(&error), qPrintable(error));
    m_serverRunning = false;
    startServer(OcservServer::NoGroups);
    const QString impostorPin = m_server->pin();
    QVERIFY(impostorPin.startsWith(QLatin1String("pin-sha256:")) && impostorPin != genuinePin);
    const qint64 logStart = QFileInfo(m_server->logFile()).size();
    auto serverLog = [this, logStart] {
        QFile file(m_server->logFile());
        return file.open(QIODevice::ReadOnly) && file.seek(logStart) ? file.readAll() : QByteArray();
    };

    // The system's authorities are read from one file; in the client's own mount namespace the
    // test's CA takes its place, and the host's trust store stays as it is.
    QStringList wrapper;
    if (identity == QLatin1String("authority"))
        wrapper = QStringList{QStringLiteral("sh"), QStringLiteral("-c"),
                              QStringLiteral("mount --bind '%1' /etc/ssl/certs/ca-certificates.crt && exec \"$0\"")
                                  .arg(m_server->caFile())};
    SessionClient client(m_lab, QStringLiteral("testuser"), QStringLiteral("testpass"), wrapper, data.path());
    QVERIFY(client.isRunning());

    if (identity == QLatin1String("stored")) {
        QVERIFY2(client.connectVpn() == refused, qPrintable(client.logDump()));
        QCOMPARE(client.waitFor(QStringLiteral("KEYCHANGED ")), QStringLiteral("KEYCHANGED %1:%2 %3 %4")
                                                                    .arg(QLatin1String(NetnsLab::serverAddress))
                                                                    .arg(OcservServer::port)
                                                                    .arg(genuinePin, impostorPin));
        QVERIFY(client.logged(QStringLiteral("peer's key has changed!")));
        QVERIFY2(!serverLog().contains("testuser"), serverLog().constData());
        expectTunnelDevice(false);
        // Trusted on purpose: stored, and the next connect goes ahead.
        client.send(QStringLiteral("trust"));
        QCOMPARE(client.waitFor(QStringLiteral("TRUSTED ")), QStringLiteral("TRUSTED 1"));
        QVERIFY2(client.connectVpn() == connected, qPrintable(client.logDump()));
    } else if (identity == QLatin1String("pin")) {
        // The entry's pin names the genuine key: the impostor is refused without a question.
        client.send(QStringLiteral("pin ") + genuinePin);
        QVERIFY2(client.connectVpn() == refused, qPrintable(client.logDump()));
        QVERIFY(client.logged(QStringLiteral("does not match the pin of its server entry")));
        QVERIFY2(!serverLog().contains("testuser"), serverLog().constData());
        // A pin (bare Base64) naming the new key wins over the key stored at first use.
        client.send(QStringLiteral("pin ") + impostorPin.mid(int(strlen("pin-sha256:"))));
        QVERIFY2(client.connectVpn() == connected, qPrintable(client.logDump()));
    } else {
        QVERIFY2(client.connectVpn() == connected, qPrintable(client.logDump()));
        // The library accepted it: the key check never ran.
        QVERIFY(!client.logged(QStringLiteral("peer's key has changed!")));
        QVERIFY(!client.logged(QStringLiteral("peer is unknown")));
    }
    QCOMPARE(client.probe(inside, echoPort), QStringLiteral("PROBE ok"));
    // The server's log does name a user who logs in.
    QVERIFY2(serverLog().contains("testuser"), serverLog().right(2000).constData());
    QCOMPARE(client.disconnectVpn(), disconnected);
    if (identity != QLatin1String("stored"))
        QVERIFY(client.waitFor(QStringLiteral("KEYCHANGED "), 300).isEmpty());
    checkNoSecrets(client, QStringLiteral("testpass"));
}

void TestOpenConnectE2e::quitWhileConnected()
{
    startServer(OcservServer::NoGroups);
    SessionClient client(m_lab, QStringLiteral("testuser"), QStringLiteral("testpass"));
    QCOMPARE(client.connectVpn(), connected);
    expectTunnelDevice(true);
    // The program ends with the tunnel up: the controller stops the session on the way out.
    QElapsedTimer timer;
    timer.start();
    client.send(QStringLiteral("quit"));
    QVERIFY(!client.waitFor(QStringLiteral("EXIT")).isEmpty());
    QVERIFY(client.waitForExit(10000));
    QVERIFY2(timer.elapsed() < 8000, qPrintable(QString::number(timer.elapsed())));
    expectTunnelDevice(false);
}

void TestOpenConnectE2e::tunnelDeviceFailureEndsIdle()
{
    // "ip netns exec" gives the client its own mount namespace: hiding the tun device there
    // makes the device set-up fail for this client alone.
    SessionClient client(m_lab, QStringLiteral("testuser"), QStringLiteral("testpass"),
                         {QStringLiteral("sh"), QStringLiteral("-c"),
                          QStringLiteral("mount --bind /dev/null /dev/net/tun && exec \"$0\"")});
    QVERIFY(client.isRunning());
    const QList<int> statuses = client.connectVpn();
    QVERIFY2(!statuses.isEmpty() && statuses.last() == 0, qPrintable(client.logDump().right(2000)));
    QVERIFY2(!statuses.contains(2), qPrintable(client.logDump().right(2000)));
    QVERIFY(client.logged(QStringLiteral("Setting up the tunnel device failed")));
    expectTunnelDevice(false);
}

int main(int argc, char *argv[])
{
    const QString reason =
        TavrixTest::tunnelSkipReason({QStringLiteral("ocserv"), QStringLiteral("ocpasswd"), QStringLiteral("certtool"),
                                      QStringLiteral("nft"), QStringLiteral("ss")});
    if (!reason.isEmpty()) {
        fprintf(stderr, "SKIP: OpenConnect end-to-end test %s\n", qPrintable(reason));
        return 77;
    }
    TavrixTest::isolateXdg();
    TavrixTest::setIdentity();
    QCoreApplication app(argc, argv);
    TestOpenConnectE2e test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_e2e_openconnect.moc"
