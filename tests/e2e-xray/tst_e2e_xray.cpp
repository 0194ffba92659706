// The Xray runners against real proxy servers: ss-server and a v2ray VMess server in one
// network namespace, the client (our controller, in a small program) in another. Through the
// client's local HTTP inbound the inside web server is reachable; without it, it is not.

#include <QtTest>

#include "netns.h"
#include "proxylab.h"
#include "testmain.h"

using TavrixTest::NetnsLab;
using TavrixTest::ProxyClient;
using TavrixTest::ProxyServers;

namespace {

const QList<int> connected{1, 2};
const QList<int> refused{1, 0};
const QList<int> idle{0};
const QString serverIp = QString::fromLatin1(NetnsLab::serverAddress);

QString shadowsocksIp(int port = ProxyServers::shadowsocksPort)
{
    return serverIp + QLatin1Char(':') + QString::number(port);
}

} // namespace

class TestXrayE2e : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void connectCarriesTrafficAsOrdinaryUser_data();
    void connectCarriesTrafficAsOrdinaryUser();
    void failedConnectEndsIdleWithProxyOff_data();
    void failedConnectEndsIdleWithProxyOff();
    void engineEndIsNoticed_data();
    void engineEndIsNoticed();
    void deadServerIsNoticed_data();
    void deadServerIsNoticed();

private:
    // The inside page fetched in the client namespace, through the proxy or directly.
    QByteArray fetchInside(bool throughProxy);

    NetnsLab m_lab;
    std::unique_ptr<ProxyServers> m_servers;
};

void TestXrayE2e::initTestCase()
{
    QString error;
    QVERIFY2(m_lab.up(&error), qPrintable(error));
    m_servers = std::make_unique<ProxyServers>(m_lab);
    QVERIFY2(m_servers->start(&error), qPrintable(error));
    // The ordinary user's client reads the service's certificate from the lab's folders.
    for (const QString &folder :
         {m_lab.dir(), m_lab.dir() + QStringLiteral("/proxy"), m_lab.dir() + QStringLiteral("/proxy/service-cert")})
        QFile(folder).setPermissions(QFile(folder).permissions() | QFileDevice::ExeOther);
    QFile cert(ProxyServers::serviceCa(m_lab));
    cert.setPermissions(cert.permissions() | QFileDevice::ReadOther);
}

void TestXrayE2e::cleanupTestCase()
{
    m_servers.reset();
    m_lab.down();
}

QByteArray TestXrayE2e::fetchInside(bool throughProxy)
{
    QStringList command{"curl", "-s", "-m", "5"};
    if (throughProxy)
        command << "-x"
                << "http://127.0.0.1:10809";
    command << QStringLiteral("http://%1/inside.txt").arg(QLatin1String(ProxyServers::insideName));
    QByteArray output;
    m_lab.exec(m_lab.clientNs(), command, &output, 10000);
    return output;
}

void TestXrayE2e::connectCarriesTrafficAsOrdinaryUser_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("ip");
    QTest::addColumn<QString>("config");
    QTest::addColumn<QString>("secret");
    QTest::newRow("Shadowsocks") << 4 << shadowsocksIp() << ProxyServers::shadowsocksConfig() << ProxyServers::password;
    QTest::newRow("V2Ray VMess") << 6 << serverIp << ProxyServers::vmessConfig() << ProxyServers::vmessId;
}

void TestXrayE2e::connectCarriesTrafficAsOrdinaryUser()
{
    QFETCH(int, type);
    QFETCH(QString, ip);
    QFETCH(QString, config);
    QFETCH(QString, secret);

    // The proxies need no privilege: a desktop user without any capability runs them.
    ProxyClient client(m_lab, QString(), QStringLiteral("nobody"));
    QVERIFY(client.isRunning());
    QVERIFY(fetchInside(false).isEmpty());
    client.select(type, ip, config);
    QVERIFY2(client.connectVpn() == connected, qPrintable(client.logDump().right(3000)));
    QVERIFY2(client.proxyOn(), client.proxyRecord().constData());
    QVERIFY(client.proxyRecord().contains("ProxyServer=127.0.0.1:10809"));
    QVERIFY(!client.engines().isEmpty());
    const QByteArray status = client.processStatus();
    QVERIFY2(status.contains("CapEff:\t0000000000000000") && !status.contains("Uid:\t0\t"), status.constData());
    QCOMPARE(fetchInside(true), QByteArray(ProxyServers::insideText));
    // CONNECTED came after a check through the server to the service's own address lookup,
    // a name the client's network cannot resolve.
    QVERIFY2(m_servers->serviceRequests().contains("/api/ip"), qPrintable(m_servers->serviceRequests().join(' ')));

    QCOMPARE(client.disconnectVpn(), idle);
    QVERIFY(!client.proxyOn());
    QCOMPARE(client.engines(), QString());
    // The engine's end after the stop is not reported as a second IDLE.
    QCOMPARE(client.statusesUntil({0, 1, 2}, 1500), QList<int>());
    QVERIFY(fetchInside(true).isEmpty());
    const QString log = client.logDump();
    QVERIFY2(log.contains("System proxy on (127.0.0.1:10809) in the record"), qPrintable(log));
    QVERIFY2(!log.contains(secret), "a secret reached the log");
}

void TestXrayE2e::failedConnectEndsIdleWithProxyOff_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("ip");
    QTest::addColumn<QString>("config");
    QTest::addColumn<bool>("withoutEngine");
    QTest::addColumn<bool>("serviceDown");
    QTest::addColumn<QString>("logged");
    const QString check = QStringLiteral("server (it is unreachable or refused our %1): the service's address check "
                                         "(service.lab.test)");
    QTest::newRow("Shadowsocks wrong password")
        << 4 << shadowsocksIp() << ProxyServers::shadowsocksConfig("wrong") << false << false << check.arg("password");
    QTest::newRow("Shadowsocks dead server")
        << 4 << shadowsocksIp(8399) << ProxyServers::shadowsocksConfig() << false << false << check.arg("password");
    QTest::newRow("Shadowsocks, service unreachable behind the server")
        << 4 << shadowsocksIp() << ProxyServers::shadowsocksConfig() << false << true << check.arg("password");
    QTest::newRow("Shadowsocks engine missing")
        << 4 << shadowsocksIp() << ProxyServers::shadowsocksConfig() << true << false << "Failed to start the process.";
    QTest::newRow("V2Ray wrong id") << 6 << serverIp
                                    << ProxyServers::vmessConfig(QStringLiteral("00000000-0000-4000-8000-000000000000"))
                                    << false << false << check.arg("id");
    QTest::newRow("V2Ray dead server") << 6 << serverIp
                                       << ProxyServers::vmessConfig(QLatin1String(ProxyServers::vmessId), 10099)
                                       << false << false << check.arg("id");
    QTest::newRow("V2Ray, service unreachable behind the server")
        << 6 << serverIp << ProxyServers::vmessConfig() << false << true << check.arg("id");
    QTest::newRow("V2Ray engine missing")
        << 6 << serverIp << ProxyServers::vmessConfig() << true << false << "Failed to start V2Ray process.";
}

void TestXrayE2e::failedConnectEndsIdleWithProxyOff()
{
    QFETCH(int, type);
    QFETCH(QString, ip);
    QFETCH(QString, config);
    QFETCH(bool, withoutEngine);
    QFETCH(bool, serviceDown);
    QFETCH(QString, logged);

    // Without an engine beside it: the program copied to a folder of its own.
    QTemporaryDir bare;
    QString program;
    if (withoutEngine) {
        program = bare.path() + QStringLiteral("/tavrix-proxy-client");
        QVERIFY(QFile::copy(ProxyClient::programPath(), program));
    }
    if (serviceDown)
        QVERIFY(m_servers->setService(QStringLiteral("/api/ip"), QStringLiteral("down")));
    ProxyClient client(m_lab, program);
    QVERIFY(client.isRunning());
    client.select(type, ip, config);
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(client.connectVpn(), refused);
    QVERIFY2(timer.elapsed() < 20000, qPrintable(QString::number(timer.elapsed())));
    QVERIFY(!client.proxyOn());
    QCOMPARE(client.engines(), QString());
    const QString log = client.logDump();
    QVERIFY2(log.contains(logged), qPrintable(log));
    QVERIFY(log.contains("Shadowsocks connection failed."));
    if (serviceDown)
        QVERIFY(m_servers->setService(QStringLiteral("/api/ip"), QStringLiteral("normal")));
}

void TestXrayE2e::engineEndIsNoticed_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("ip");
    QTest::addColumn<QString>("config");
    QTest::newRow("Shadowsocks, detached engine") << 4 << shadowsocksIp() << ProxyServers::shadowsocksConfig();
    QTest::newRow("V2Ray, attached engine") << 6 << serverIp << ProxyServers::vmessConfig();
}

// The engine dies under a connection: it is noticed and a new engine brings the proxy back
// without the user seeing IDLE; the user's disconnect then turns the proxy off.
void TestXrayE2e::engineEndIsNoticed()
{
    QFETCH(int, type);
    QFETCH(QString, ip);
    QFETCH(QString, config);

    ProxyClient client(m_lab);
    client.select(type, ip, config);
    QCOMPARE(client.connectVpn(), connected);
    const QString pids = client.engines();
    QVERIFY(!pids.isEmpty() && !pids.contains(','));
    // An established connection (an engine that ends right after its start is a failed start).
    QTest::qWait(3500);
    QVERIFY(::kill(pid_t(pids.toLongLong()), SIGKILL) == 0);
    QCOMPARE(client.statusesUntil({0, 2}, 15000), connected);
    const QString again = client.engines();
    QVERIFY2(!again.isEmpty() && !again.contains(',') && again != pids, qPrintable(again));
    QVERIFY(client.proxyOn());
    QCOMPARE(client.disconnectVpn(), idle);
    QVERIFY(!client.proxyOn());
}

void TestXrayE2e::deadServerIsNoticed_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("ip");
    QTest::addColumn<QString>("config");
    QTest::newRow("Shadowsocks") << 4 << shadowsocksIp() << ProxyServers::shadowsocksConfig();
    QTest::newRow("V2Ray") << 6 << serverIp << ProxyServers::vmessConfig();
}

// The server behind a running engine dies: the check through the proxy notices it within 5 s
// (reconnecting shown, never IDLE), new engines are tried with backoff, and once the server is
// back the proxy carries traffic again without a click.
void TestXrayE2e::deadServerIsNoticed()
{
    QFETCH(int, type);
    QFETCH(QString, ip);
    QFETCH(QString, config);

    ProxyClient client(m_lab);
    client.select(type, ip, config);
    QCOMPARE(client.connectVpn(), connected);
    QTest::qWait(2000);
    QElapsedTimer clock;
    clock.start();
    m_servers->killServer(type == 4);
    QCOMPARE(client.statusesUntil({0, 1}, 15000), QList<int>{1});
    const qint64 shownMs = clock.elapsed();
    QVERIFY2(shownMs <= 5000, qPrintable(QString::number(shownMs)));
    // A few failed attempts meanwhile.
    QTest::qWait(6000);
    QString error;
    QVERIFY2(m_servers->start(&error), qPrintable(error));
    clock.restart();
    QCOMPARE(client.statusesUntil({0, 2}, 30000), QList<int>{2});
    const qint64 backMs = clock.elapsed();
    QCOMPARE(fetchInside(true), QByteArray(ProxyServers::insideText));
    QVERIFY(client.proxyOn());
    qInfo("%s: reconnecting shown %lld ms after the server died; connected %lld ms after it was back",
          QTest::currentDataTag(), shownMs, backMs);
    QCOMPARE(client.disconnectVpn(), idle);
    QVERIFY(!client.proxyOn());
}

int main(int argc, char *argv[])
{
    const QString reason = TavrixTest::tunnelSkipReason(
        {QStringLiteral("ss-server"), QStringLiteral("v2ray"), QStringLiteral("curl"), QStringLiteral("python3")});
    if (!reason.isEmpty()) {
        fprintf(stderr, "SKIP: proxy engine end-to-end test %s\n", qPrintable(reason));
        return 77;
    }
    TavrixTest::isolateXdg();
    TavrixTest::setIdentity();
    QCoreApplication app(argc, argv);
    TestXrayE2e test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_e2e_xray.moc"
