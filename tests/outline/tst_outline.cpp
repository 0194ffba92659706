// The Outline runner without a server: its command line, the final check's decision, and a
// connect whose tunnel program is missing (the test's folder has none beside it).

#include <QFileInfo>
#include <QMutex>
#include <QProcess>
#include <QSignalSpy>

#include "common/config.h"
#include "log/logger.h"
#include "testmain.h"
#include "vpn/openconnectconnection.h"
#include "vpn/outlineclient.h"

using namespace Tavrix;

namespace {

QMutex capturedLock;
QStringList captured;
QtMessageHandler previousHandler = nullptr;

void capture(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    {
        QMutexLocker locker(&capturedLock);
        captured.append(text);
    }
    previousHandler(type, context, text);
}

} // namespace

class TestOutline : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { previousHandler = qInstallMessageHandler(capture); }
    void argumentsKeepEveryValueWhole();
    void standInRefusesBadArguments_data();
    void standInRefusesBadArguments();
    void finalCheckDecision_data();
    void finalCheckDecision();
    void missingTunnelProgramEndsIdleWithoutPassword();
};

void TestOutline::argumentsKeepEveryValueWhole()
{
    const QString password = QStringLiteral("p a\"ss -tunName x");
    const QStringList arguments = OutlineClient::tunnelArguments(
        QStringLiteral("ss.example.test"), QStringLiteral("8388"), password, QStringLiteral("chacha20-ietf-poly1305"));
    const QStringList expected{
        "-tunName",   "TavrixVPN", "-tunDNS",        "1.1.1.1,9.9.9.9", "-tunAddr",     "10.0.85.2",
        "-tunGw",     "10.0.85.1", "-tunMask",       "255.255.255.0",   "-proxyHost",   "ss.example.test",
        "-proxyPort", "8388",      "-proxyPassword", password,          "-proxyCipher", "chacha20-ietf-poly1305"};
    QCOMPARE(arguments, expected);
}

// The stand-in checks its command line before it touches anything (no root needed to see it).
void TestOutline::standInRefusesBadArguments_data()
{
    QTest::addColumn<int>("drop");
    QTest::addColumn<QString>("replaceAt");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("message");

    QTest::newRow("no password") << 15 << QString() << QString() << "missing -proxyPassword";
    QTest::newRow("port not a number") << -1 << "8388"
                                       << "83a8"
                                       << "-proxyPort is not a port number";
    QTest::newRow("cipher with a quote") << -1 << "chacha20-ietf-poly1305"
                                         << "x\"y"
                                         << "characters that are not allowed";
}

void TestOutline::standInRefusesBadArguments()
{
    QFETCH(int, drop);
    QFETCH(QString, replaceAt);
    QFETCH(QString, value);
    QFETCH(QString, message);
    const QString program = qEnvironmentVariable("TAVRIX_BIN_DIR") + QStringLiteral("/tun2socks");
    if (!QFileInfo::exists(program))
        QSKIP("the tun2socks stand-in is not built");
    QStringList arguments =
        OutlineClient::tunnelArguments(QStringLiteral("192.0.2.7"), QStringLiteral("8388"), QStringLiteral("pw"),
                                       QStringLiteral("chacha20-ietf-poly1305"));
    if (drop >= 0)
        arguments.erase(arguments.begin() + drop - 1, arguments.begin() + drop + 1);
    if (!replaceAt.isEmpty())
        arguments.replace(arguments.indexOf(replaceAt), value);
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    QVERIFY(process.waitForFinished(10000));
    QCOMPARE(process.exitCode(), 2);
    const QString output = QString::fromLocal8Bit(process.readAll());
    QVERIFY2(output.contains(message), qPrintable(output));
}

void TestOutline::finalCheckDecision_data()
{
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<bool>("running");

    QTest::newRow("nothing") << QByteArray() << false;
    QTest::newRow("blank lines") << QByteArray("\r\n\n  \n") << false;
    QTest::newRow("linux process line") << QByteArray("4242 /opt/tavrix/tun2socks /opt/tavrix/tun2socks --run\n")
                                        << true;
    QTest::newRow("windows process table")
        << QByteArray("\r\nHandles  NPM(K)    PM(K)      WS(K)     CPU(s)     Id  SI ProcessName\r\n"
                      "-------  ------    -----      -----     ------     --  -- -----------\r\n"
                      "    171      12    10204      15200       0.05   5120   1 tun2socks\r\n")
        << true;
}

void TestOutline::finalCheckDecision()
{
    QFETCH(QByteArray, output);
    QFETCH(bool, running);
    QCOMPARE(OutlineClient::tunnelProgramRunning(output), running);
}

// Without tun2socks the status still goes CONNECTING, CONNECTED, then back to IDLE, and the
// missing disconnect script does not keep IDLE from being reported. The debug line of the
// connect step names host, port and cipher but not the password.
void TestOutline::missingTunnelProgramEndsIdleWithoutPassword()
{
    const QString password = QStringLiteral("s3cret-Outline-pw");
    auto config = Config::instance();
    config->setShadowsocksConfig(QStringLiteral("{\"method\":\"aes-256-gcm\",\"password\":\"%1\"}").arg(password));
    config->setShadowsocksAddress(QStringLiteral("192.0.2.7:8389"));

    const auto controller = OpenConnectConnection::instance();
    QSignalSpy statuses(controller.get(), &OpenConnectConnection::statusChanged);
    const int sequence = Logger::instance()->lastSequence();
    {
        QMutexLocker locker(&capturedLock);
        captured.clear();
    }
    controller->setType(OpenConnectConnection::OUTLINE);
    QCOMPARE(controller->connect(), int(OpenConnectConnection::CONNECT_STARTED));
    QTRY_COMPARE_WITH_TIMEOUT(statuses.size(), 3, 20000);
    const QList<int> expected{OpenConnectConnection::CONNECTING, OpenConnectConnection::CONNECTED,
                              OpenConnectConnection::IDLE};
    QList<int> seen;
    for (const QList<QVariant> &arguments : statuses)
        seen.append(arguments.at(0).toInt());
    QCOMPARE(seen, expected);
    QTRY_COMPARE(controller->status(), OpenConnectConnection::IDLE);

    controller->disconnectVpn();
    QTRY_COMPARE(statuses.size(), 4);
    QCOMPARE(statuses.last().at(0).toInt(), int(OpenConnectConnection::IDLE));
    QTest::qWait(100);
    QCOMPARE(statuses.size(), 4);

    QStringList texts;
    for (const Logger::Message &message : Logger::instance()->messagesSince(sequence))
        texts.append(message.text);
    {
        QMutexLocker locker(&capturedLock);
        texts += captured;
    }
    const QString all = texts.join(QLatin1Char('\n'));
    QVERIFY2(!all.contains(password), qPrintable(all));
    QVERIFY2(all.contains(QStringLiteral("192.0.2.7 8389 ******** aes-256-gcm")), qPrintable(all));
    QVERIFY2(all.contains(QStringLiteral("tun2socks is not running")), qPrintable(all));
}

TAVRIX_TEST_MAIN_CORE(TestOutline)
#include "tst_outline.moc"
