// The WireGuard runner without a tunnel: which service replies it accepts as a configuration,
// how the key file is written, what it remembers for the server, and the command line of the
// client program beside the client.

#include <QJsonArray>
#include <QJsonObject>
#include <QSignalSpy>
#include <QtTest>

#include "common/config.h"
#include "common/user.h"
#include "log/logger.h"
#include "platform/engineprocesses.h"
#include "platform/paths.h"
#include "platform/privatefile.h"
#include "testmain.h"
#include "vpn/tunnelliveness.h"
#include "vpn/wireguard.h"

using namespace Tavrix;

namespace {

const QString privateKey = QStringLiteral("8P0Pe9dviQpDAaw0lndbCCLfeUDgCiBt/r67ndh9xWs=");
const QString publicKey = QStringLiteral("LGXJ357eYj9KtAIMvOIY/O+YNStYzGb3nyYsDUiVVHY=");

QString good(const QString &address = QStringLiteral("10.231.30.2/24"))
{
    return QStringLiteral("[Interface]\nPrivateKey = %1\nAddress = %3\nDNS = 10.66.0.1\nMTU = 1420\n\n"
                          "[Peer]\nPublicKey = %2\nAllowedIPs = 0.0.0.0/0\nEndpoint = 10.231.0.1:51820\n"
                          "PersistentKeepalive = 25\n")
        .arg(privateKey, publicKey, address);
}

QString logText()
{
    QStringList texts;
    for (const Logger::Message &message : Logger::instance()->messages())
        texts.append(message.text);
    return texts.join(QLatin1Char('\n'));
}

} // namespace

class TestWireguard : public QObject
{
    Q_OBJECT
private slots:
    void configurationValidation_data();
    void configurationValidation();
    void tunnelAddress_data();
    void tunnelAddress();
    void keyFileIsOwnerOnlyFromTheStart();
    void rememberedServerAndNothingWrittenOnEmptyReply();
    void clientProgramCommandLine();
    void deviceAnswerParsed_data();
    void deviceAnswerParsed();
    void livenessDecides_data();
    void livenessDecides();
};

void TestWireguard::configurationValidation_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("service's configuration") << good() << true;
    QTest::newRow("comments, CRLF, lower-case keys, two peers")
        << QString(good() + "# backup\n[Peer]\npublickey=" + publicKey + "\nAllowedIPs = ::/0\n").replace("\n", "\r\n")
        << true;
    QTest::newRow("empty") << QString() << false;
    QTest::newRow("only blanks") << QStringLiteral(" \n\t\n") << false;
    QTest::newRow("json error body") << QStringLiteral("{\"message\":\"Not allowed\"}") << false;
    QTest::newRow("html page") << QStringLiteral("<html><body>[Interface]</body></html>") << false;
    QTest::newRow("no peer") << good().section(QStringLiteral("[Peer]"), 0, 0) << false;
    QTest::newRow("no interface") << QStringLiteral("[Peer]\nPublicKey = %1\n").arg(publicKey) << false;
    QTest::newRow("peer without key") << QString(good()).replace(QStringLiteral("PublicKey"), QStringLiteral("Key"))
                                      << false;
    QTest::newRow("truncated private key") << QString(good()).replace(privateKey, privateKey.left(20)) << false;
    QTest::newRow("no address") << QString(good()).remove(QRegularExpression("Address = [^\n]*\n")) << false;
    // Found by fuzzing: the connect step would wait for an address that can never come up.
    QTest::newRow("address that does not parse") << good(QStringLiteral("10.66.1}&.150/32")) << false;
    QTest::newRow("two interfaces") << good() + "[Interface]\nPrivateKey = " + privateKey + "\n" << false;
    QTest::newRow("text before any section") << "Hello\n" + good() << false;
}

void TestWireguard::configurationValidation()
{
    QFETCH(QString, text);
    QFETCH(bool, accepted);
    QString reason;
    QCOMPARE(Wireguard::isConfiguration(text, &reason), accepted);
    QCOMPARE(reason.isEmpty(), accepted);
    // The reason goes to the log: never a part of the key.
    QVERIFY(!reason.contains(privateKey.left(8)));
}

void TestWireguard::tunnelAddress_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("expected");
    QTest::newRow("ipv4 with prefix") << "10.66.1.2/32"
                                      << "10.66.1.2";
    QTest::newRow("ipv6 listed first") << "fd00::2/128, 10.66.1.2/32"
                                       << "10.66.1.2";
    QTest::newRow("ipv6 only") << "fd00::2/128"
                               << "fd00::2";
    QTest::newRow("garbage") << "nowhere"
                             << "";
}

void TestWireguard::tunnelAddress()
{
    QFETCH(QString, address);
    QFETCH(QString, expected);
    QCOMPARE(Wireguard::tunnelAddress(good(address)), expected);
}

void TestWireguard::keyFileIsOwnerOnlyFromTheStart()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("wireguard.conf"));
    const QString elsewhere = dir.filePath(QStringLiteral("elsewhere"));
    // An earlier file readable by everyone, then a link planted in its place.
    for (const QString &earlier : {QStringLiteral("file"), QStringLiteral("link")}) {
        QFile::remove(path);
        if (earlier == QLatin1String("file")) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("old and much longer content than the new one\n");
            file.close();
            QVERIFY(file.setPermissions(QFileDevice::Permissions(0x6644)));
        } else {
            QFile target(elsewhere);
            QVERIFY(target.open(QIODevice::WriteOnly));
            target.close();
            QVERIFY(QFile::link(elsewhere, path));
        }
        QString error;
        QVERIFY2(writePrivateFile(path, "secret\n", &error), qPrintable(error));
        const QFileInfo info(path);
        QVERIFY(!info.isSymLink());
        QCOMPARE(info.permissions() & QFileDevice::Permissions(0x0077), QFileDevice::Permissions());
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("secret\n"));
    }
    QCOMPARE(QFileInfo(elsewhere).size(), 0);
}

void TestWireguard::rememberedServerAndNothingWrittenOnEmptyReply()
{
    // A signed-in account with one WireGuard server; the fetch it is handed gets no reply.
    QJsonObject entry{{"ip_id", 4711},      {"vpn_server_id", 815}, {"connection_type", 2},  {"type", 5},
                      {"ip", "198.18.3.4"}, {"ip_name", "Test"},    {"platform", "windows"}, {"country_name", "Test"}};
    User::instance()->fromLoginResponse(QJsonObject{{"ip_bundle", QJsonArray{entry}}});
    Config::instance()->setActiveServer(4711);
    QVERIFY(User::instance()->activeBundle());
    QCOMPARE(User::instance()->activeBundle()->ip_id(), 4711);
    QFile::remove(Wireguard::configFilePath());

    QList<int> asked;
    Wireguard runner([&asked](int vpnServerId, int ipId, int connectionType) {
        asked = {vpnServerId, ipId, connectionType};
        return QString();
    });
    QSignalSpy connecting(&runner, &Wireguard::connectingServer);
    QSignalSpy disconnected(&runner, &Wireguard::disconnected);
    QSignalSpy connected(&runner, &Wireguard::connected);
    QVERIFY(!runner.connectServer());
    QCOMPARE(asked, (QList<int>{815, 4711, 2}));
    QCOMPARE(connecting.count(), 1);
    QCOMPARE(disconnected.count(), 1);
    QCOMPARE(connected.count(), 0);

    QSettings settings;
    QCOMPARE(settings.value(QStringLiteral("vpnserverId")).toInt(), 815);
    QCOMPARE(settings.value(QStringLiteral("ipId")).toInt(), 4711);
    QCOMPARE(settings.value(QStringLiteral("connectionType")).toInt(), 2);
    QVERIFY(!QFileInfo::exists(Wireguard::configFilePath()));
    const QString log = logText();
    QVERIFY(log.contains(QLatin1String("wireguard-client.exe is not running.")));
    QVERIFY(log.contains(QLatin1String("Configuration is empty. Unable to proceed.")));
}

void TestWireguard::clientProgramCommandLine()
{
    const QString program = Wireguard::clientProgram();
    QCOMPARE(program, EngineProcesses::enginePath(QStringLiteral("wireguard/wireguard-client.exe")));
    QCOMPARE(Wireguard::clientArguments(QStringLiteral("/data/wireguard.conf")),
             (QStringList{QStringLiteral("run"), QStringLiteral("/data/wireguard.conf")}));
    QCOMPARE(Wireguard::configFilePath(), engineFolder() + QStringLiteral("wireguard.conf"));

    // The program beside the test's client: wrong command lines end before anything is
    // touched, with a reason.
    const QString shipped = qEnvironmentVariable("TAVRIX_BIN_DIR") + QStringLiteral("/wireguard/wireguard-client");
    struct Case
    {
        QStringList arguments;
        int code;
        QByteArray text;
    };
    for (const Case &c : {Case{{}, 2, "usage"}, Case{{"start"}, 2, "usage"},
                          Case{{"run", "/nonexistent/wireguard.conf"}, 1, "cannot read the configuration"}}) {
        QProcess process;
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(shipped, c.arguments);
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitCode(), c.code);
        QVERIFY2(process.readAll().contains(c.text), qPrintable(c.arguments.join(' ')));
    }
}

TAVRIX_TEST_MAIN_CORE(TestWireguard)

// What the engine's control socket answers is read strictly: a malformed or failed answer is
// no reading at all (never zeros that would look like a silent tunnel).
void TestWireguard::deviceAnswerParsed_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<qint64>("age");
    QTest::addColumn<quint64>("rx");
    const QByteArray peer = "private_key=aa\nlisten_port=1\npublic_key=bb\nlast_handshake_time_sec=990\n"
                            "last_handshake_time_nsec=5\nrx_bytes=300\ntx_bytes=400\n";
    QTest::newRow("one peer") << peer + "errno=0\n\n" << true << qint64(10) << quint64(300);
    QTest::newRow("two peers, newest handshake, bytes summed")
        << peer + "public_key=cc\nlast_handshake_time_sec=995\nrx_bytes=1\ntx_bytes=2\nerrno=0\n\n"
        << true << qint64(5) << quint64(301);
    QTest::newRow("no handshake yet") << QByteArray("public_key=bb\nlast_handshake_time_sec=0\nrx_bytes=0\n"
                                                    "tx_bytes=148\nerrno=0\n\n")
                                      << true << qint64(-1) << quint64(0);
    QTest::newRow("engine error") << QByteArray("errno=19\n\n") << false << qint64(-1) << quint64(0);
    QTest::newRow("cut short") << peer << false << qint64(-1) << quint64(0);
    QTest::newRow("not a number") << QByteArray("rx_bytes=12x\nerrno=0\n\n") << false << qint64(-1) << quint64(0);
    QTest::newRow("not key=value") << QByteArray("garbage\nerrno=0\n\n") << false << qint64(-1) << quint64(0);
}

void TestWireguard::deviceAnswerParsed()
{
    QFETCH(QByteArray, answer);
    QFETCH(bool, ok);
    QFETCH(qint64, age);
    QFETCH(quint64, rx);
    const HelperProto::WireGuardStats stats = HelperProto::parseWireGuardStats(answer, 1000);
    QCOMPARE(stats.ok, ok);
    QCOMPARE(stats.handshakeAgeSeconds, age);
    QCOMPARE(stats.rxBytes, rx);
    // Only our own devices are ever looked up.
    QVERIFY(HelperProto::isOwnWireGuardInterface(QStringLiteral("tvxwg12345")));
    for (const char *other : {"wg0", "tvxwg", "tvxwg1/../x", "tvxwg12345678901"})
        QVERIFY(!HelperProto::isOwnWireGuardInterface(QString::fromLatin1(other)));
}

// Readings one second apart: (rx, tx, handshake age) each; the second at which the tunnel
// first counts as lost (-1: never).
void TestWireguard::livenessDecides_data()
{
    QTest::addColumn<QList<QList<qint64>>>("readings");
    QTest::addColumn<bool>("echoes");
    QTest::addColumn<int>("lostAt");
    QTest::newRow("answers keep coming")
        << QList<QList<qint64>>{{100, 100, 5}, {200, 200, 6}, {300, 300, 7}, {400, 400, 8}, {500, 500, 9}} << true
        << -1;
    QTest::newRow("sent, nothing back, far side answers echoes")
        << QList<QList<qint64>>{{100, 100, 5}, {100, 200, 6}, {100, 300, 7}, {100, 400, 8}, {100, 500, 9}} << true << 4;
    QTest::newRow("sent, nothing back, far side quiet: not yet")
        << QList<QList<qint64>>{{100, 100, 5}, {100, 200, 6}, {100, 300, 7}, {100, 400, 8}, {100, 500, 9}} << false
        << -1;
    QTest::newRow("nothing sent, nothing back: idle, not lost")
        << QList<QList<qint64>>{{100, 100, 5}, {100, 100, 6}, {100, 100, 7}, {100, 100, 8}, {100, 100, 9}} << true
        << -1;
    QTest::newRow("a late answer in time clears it")
        << QList<QList<qint64>>{{100, 100, 5}, {100, 200, 6}, {100, 300, 7}, {150, 400, 8}, {150, 400, 9}} << true
        << -1;
    QTest::newRow("no handshake for longer than a session lives")
        << QList<QList<qint64>>{{100, 100, 194}, {200, 200, 195}, {300, 300, 196}} << true << 2;
}

void TestWireguard::livenessDecides()
{
    QFETCH(QList<QList<qint64>>, readings);
    QFETCH(bool, echoes);
    QFETCH(int, lostAt);
    WireGuardLiveness liveness;
    int lost = -1;
    for (int second = 0; second < readings.size() && lost < 0; ++second) {
        HelperProto::WireGuardStats stats;
        stats.ok = true;
        stats.rxBytes = quint64(readings.at(second).at(0));
        stats.txBytes = quint64(readings.at(second).at(1));
        stats.handshakeAgeSeconds = readings.at(second).at(2);
        if (!liveness.sample(second * 1000, stats, echoes).isEmpty())
            lost = second;
    }
    QCOMPARE(lost, lostAt);
}

#include "tst_wireguard.moc"
