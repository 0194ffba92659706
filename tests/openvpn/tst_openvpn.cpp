// The OpenVPN runner against a stand-in engine (a script that records how it was started and
// then sleeps), with this test playing OpenVPN's side of the management link over real TCP.

#include <QLocalSocket>
#include <QPointer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

#include "log/logger.h"
#include "testmain.h"
#include "vpn/engineprocess.h"
#include "vpn/openconnectconnection.h"
#include "vpn/openvpnrunner.h"

namespace {

QStringList &capturedLog()
{
    static QStringList lines;
    return lines;
}

QtMessageHandler previousHandler = nullptr;

void captureMessage(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    capturedLog().append(text);
    if (previousHandler)
        previousHandler(type, context, text);
}

const QByteArray openingCommands = "state on\nstate\nbytecount 1\nhold release\n";
const QByteArray sentinel = ">BYTECOUNT:999,999\n";

} // namespace

class TestOpenVpn : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void credentialQuoting_data();
    void credentialQuoting();
    void managementDispatch_data();
    void managementDispatch();
    void profileAndManagementLifecycle();
    void failedStartEndsIdle_data();
    void failedStartEndsIdle();
    void controllerWithoutEngineEndsIdle();

private:
    // Starts a runner on the stand-in and connects to its management port as OpenVPN would;
    // the opening commands have been read when it returns.
    OpenVpnRunner *startRunner(const QString &user, const QString &password, QLocalSocket *management);
    void endRunner(OpenVpnRunner *runner);
    QStringList tempFiles() const;

    QTemporaryDir m_dir;
    QString m_engine;
    QStringList m_events;
};

void TestOpenVpn::initTestCase()
{
    previousHandler = qInstallMessageHandler(captureMessage);
    m_engine = m_dir.filePath(QStringLiteral("openvpn"));
    QFile script(m_engine);
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\n"
                 "printf '%s\\n' \"$@\" > \"$0.args\"\n"
                 "stat -c %a \"$2\" > \"$0.mode\"\n"
                 "cp \"$2\" \"$0.profile\"\n"
                 "echo 'engine ready'\n"
                 "exec sleep 30\n");
    script.close();
    QVERIFY(script.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
}

void TestOpenVpn::init()
{
    capturedLog().clear();
    m_events.clear();
    for (const QString &name :
         {QStringLiteral("openvpn.args"), QStringLiteral("openvpn.mode"), QStringLiteral("openvpn.profile")})
        QFile::remove(m_dir.filePath(name));
}

QStringList TestOpenVpn::tempFiles() const
{
    return QDir(QDir::tempPath()).entryList(QDir::Files | QDir::Hidden);
}

OpenVpnRunner *TestOpenVpn::startRunner(const QString &user, const QString &password, QLocalSocket *management)
{
    auto *runner = new OpenVpnRunner;
    runner->setProgram(m_engine);
    QObject::connect(runner, &OpenVpnRunner::connected, this, [this] { m_events << QStringLiteral("connected"); });
    QObject::connect(runner, &OpenVpnRunner::connecting, this, [this] { m_events << QStringLiteral("connecting"); });
    QObject::connect(runner, &OpenVpnRunner::disconnected, this,
                     [this] { m_events << QStringLiteral("disconnected"); });
    QObject::connect(runner, &OpenVpnRunner::transfer, this, [this](quint64 down, quint64 up) {
        m_events << QStringLiteral("transfer %1 %2").arg(down).arg(up);
    });
    if (!runner->connect(QStringLiteral("client\nremote 192.0.2.1 1194\n"), user, password))
        return nullptr;
    m_events.clear();
    management->connectToServer(runner->managementAddress());
    // Both ends live on this thread: wait in the event loop, never in a blocking socket call.
    QByteArray opening;
    QDeadlineTimer deadline(5000);
    while (opening.size() < openingCommands.size() && !deadline.hasExpired()) {
        QTest::qWait(10);
        opening += management->readAll();
    }
    if (opening != openingCommands) {
        qWarning() << "opening commands" << opening;
        return nullptr;
    }
    return runner;
}

void TestOpenVpn::endRunner(OpenVpnRunner *runner)
{
    QPointer<OpenVpnRunner> guard(runner);
    if (guard)
        guard->disconnect();
    QTRY_VERIFY_WITH_TIMEOUT(guard.isNull(), 10000);
}

void TestOpenVpn::credentialQuoting_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QByteArray>("sent");

    QTest::newRow("plain") << "alice"
                           << "secret" << QByteArray("username Auth \"alice\"\npassword Auth \"secret\"\n");
    QTest::newRow("quote") << "al\"ice"
                           << "se\"cr\"et"
                           << QByteArray("username Auth \"al\\\"ice\"\npassword Auth \"se\\\"cr\\\"et\"\n");
    QTest::newRow("backslash") << "dom\\alice"
                               << "a\\\\b"
                               << QByteArray("username Auth \"dom\\\\alice\"\npassword Auth \"a\\\\\\\\b\"\n");
    // A backslash before a quote: doubled first, so the quote's escape is not eaten.
    QTest::newRow("backslash then quote")
        << "x"
        << "a\\\"b" << QByteArray("username Auth \"x\"\npassword Auth \"a\\\\\\\"b\"\n");
    QTest::newRow("spaces and non-ASCII")
        << QString::fromUtf8("jürgen m") << QString::fromUtf8("pä ss€")
        << (QString::fromUtf8("username Auth \"jürgen m\"\npassword Auth \"pä ss€\"\n").toLocal8Bit());
}

void TestOpenVpn::credentialQuoting()
{
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(QByteArray, sent);

    QLocalSocket management;
    OpenVpnRunner *runner = startRunner(user, password, &management);
    QVERIFY(runner);
    management.write(">PASSWORD:Need 'Auth' username/password\n");
    QByteArray received;
    QDeadlineTimer deadline(5000);
    while (received.count('\n') < 2 && !deadline.hasExpired()) {
        QTest::qWait(10);
        received += management.readAll();
    }
    QCOMPARE(received, sent);
    // The secret goes to the socket only; the log says that it was sent.
    const QString log = capturedLog().join(QLatin1Char('\n'));
    QVERIFY2(!log.contains(password), qPrintable(log));
    QVERIFY(log.contains(QStringLiteral("user name and password sent")));
    endRunner(runner);
}

void TestOpenVpn::managementDispatch_data()
{
    QTest::addColumn<QByteArray>("lines");
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<QByteArray>("answer");

    QTest::newRow("connected") << QByteArray(">STATE:1765280000,CONNECTED,SUCCESS,10.8.0.2,192.0.2.1,1194,,\n")
                               << QStringList{"connected"} << QByteArray();
    QTest::newRow("reconnecting is not connected") << QByteArray(">STATE:1765280000,RECONNECTING,ping-restart,,,,,\n")
                                                   << QStringList{"connecting"} << QByteArray();
    QTest::newRow("connecting") << QByteArray(">STATE:1765280000,CONNECTING,,,,,,\n") << QStringList{"connecting"}
                                << QByteArray();
    QTest::newRow("other states") << QByteArray(
                                         ">STATE:1,WAIT,,,,,,\n>STATE:1,AUTH,,,,,,\n>STATE:1,ASSIGN_IP,,10.8.0.2,,,,\n")
                                  << QStringList{} << QByteArray();
    // The answer to "state" lacks the ">STATE:" prefix: it is no notification.
    QTest::newRow("state reply") << QByteArray("1765280000,CONNECTED,SUCCESS,10.8.0.2,192.0.2.1,1194,,\nEND\n")
                                 << QStringList{} << QByteArray();
    QTest::newRow("byte count") << QByteArray(">BYTECOUNT:12,34\n") << QStringList{"transfer 12 34"} << QByteArray();
    QTest::newRow("byte count beyond 32 bits") << QByteArray(">BYTECOUNT:5000000000,6000000001\n")
                                               << QStringList{"transfer 5000000000 6000000001"} << QByteArray();
    QTest::newRow("byte count, one number") << QByteArray(">BYTECOUNT:12\n") << QStringList{} << QByteArray();
    QTest::newRow("byte count, three numbers") << QByteArray(">BYTECOUNT:1,2,3\n") << QStringList{} << QByteArray();
    QTest::newRow("byte count, not numbers") << QByteArray(">BYTECOUNT:a,b\n") << QStringList{} << QByteArray();
    QTest::newRow("CRLF and NUL") << (QByteArray(">STATE:1,CONNECTED,SUCCESS,a,b,,,\r\n") +
                                      QByteArray(">BYTECOUNT:7,8\0junk\r\n", 21))
                                  << QStringList{"connected", "transfer 7 8"} << QByteArray();
    QTest::newRow("unrelated lines")
        << QByteArray(">INFO:OpenVPN Management Interface Version 5 -- type 'help' for more info\n"
                      "SUCCESS: real-time state notification set to ON\n>PASSWORD:Need 'Private Key' password\n"
                      ">LOG:1,I,CONNECTED,SUCCESS,\n")
        << QStringList{} << QByteArray();
    QTest::newRow("sequence") << QByteArray(">STATE:1,CONNECTING,,,,,,\n>STATE:2,CONNECTED,SUCCESS,a,b,,,\n"
                                            ">BYTECOUNT:100,50\n>STATE:3,RECONNECTING,SIGUSR1,,,,,\n"
                                            ">STATE:4,CONNECTED,SUCCESS,a,b,,,\n")
                              << QStringList{"connecting", "connected", "transfer 100 50", "connecting", "connected"}
                              << QByteArray();
    // Departs from the plain table: OpenVPN holds again before every reconnect, and without
    // a release it would never reconnect.
    QTest::newRow("hold before a reconnect is released (departure)")
        << QByteArray(">HOLD:Waiting for hold release:2\n") << QStringList{} << QByteArray("hold release\n");
}

void TestOpenVpn::managementDispatch()
{
    QFETCH(QByteArray, lines);
    QFETCH(QStringList, events);
    QFETCH(QByteArray, answer);

    QLocalSocket management;
    OpenVpnRunner *runner = startRunner(QStringLiteral("u"), QStringLiteral("p"), &management);
    QVERIFY(runner);
    // Sent in two pieces, the second splitting a line, and ended by a line whose event proves
    // everything before it was handled.
    const QByteArray all = lines + sentinel;
    management.write(all.left(all.size() - 5));
    QTest::qWait(50);
    management.write(all.right(5));
    QTRY_COMPARE_WITH_TIMEOUT(m_events, events + QStringList{"transfer 999 999"}, 5000);
    QTest::qWait(20);
    QCOMPARE(management.readAll(), answer);
    endRunner(runner);
    QCOMPARE(m_events.count(QStringLiteral("disconnected")), 1);
}

void TestOpenVpn::profileAndManagementLifecycle()
{
    QLocalSocket management;
    QPointer<OpenVpnRunner> runner = startRunner(QStringLiteral("u"), QStringLiteral("p"), &management);
    QVERIFY(runner);
    const QString profile = runner->profilePath();
    QVERIFY(QFile::exists(profile));
    QTRY_VERIFY(QFile::exists(m_dir.filePath(QStringLiteral("openvpn.profile"))));

    // The program got the profile, private to its owner, and the management socket, in a
    // folder only this user may enter (a port on 127.0.0.1 would be open to every user).
    QFile args(m_dir.filePath(QStringLiteral("openvpn.args")));
    QVERIFY(args.open(QIODevice::ReadOnly));
    const QStringList given = QString::fromLocal8Bit(args.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    const QString socket = given.value(given.indexOf(QStringLiteral("--management")) + 1);
    QCOMPARE(given, OpenVpnRunner::arguments(profile, {socket, QStringLiteral("unix")}));
    QCOMPARE(QFileInfo(QFileInfo(socket).path()).permissions() & 0x0077, QFileDevice::Permissions());
    QFile mode(m_dir.filePath(QStringLiteral("openvpn.mode")));
    QVERIFY(mode.open(QIODevice::ReadOnly));
    QCOMPARE(mode.readAll().trimmed(), QByteArray("600"));
    QFile copy(m_dir.filePath(QStringLiteral("openvpn.profile")));
    QVERIFY(copy.open(QIODevice::ReadOnly));
    QCOMPARE(copy.readAll(), QByteArray("client\nremote 192.0.2.1 1194\n"));
    // Its output reaches the log line by line.
    QTRY_VERIFY(capturedLog().contains(QStringLiteral("OpenVPN > engine ready")));

    // First connection wins: the listener is gone, a second local program is refused.
    QVERIFY(!runner->isManagementListening());
    QLocalSocket intruder;
    intruder.connectToServer(socket);
    QVERIFY(!intruder.waitForConnected(1000));

    // Once OpenVPN talks it has read the profile: off the disk.
    management.write(">INFO:OpenVPN Management Interface Version 5\n");
    QTRY_VERIFY(!QFile::exists(profile));
    QVERIFY(runner->profilePath().isEmpty());

    // The program dying on its own: disconnected once, and the runner goes.
    const qint64 pid = runner->process()->pid();
    QVERIFY(pid > 0);
    ::kill(pid_t(pid), SIGKILL);
    QTRY_VERIFY_WITH_TIMEOUT(runner.isNull(), 5000);
    QCOMPARE(m_events, QStringList{"disconnected"});
}

void TestOpenVpn::failedStartEndsIdle_data()
{
    QTest::addColumn<QString>("tempDir");
    QTest::addColumn<QString>("profile");
    QTest::addColumn<bool>("engineMissing");
    QTest::addColumn<QString>("logged");

    QTest::newRow("temporary folder missing") << "/nonexistent/tavrix"
                                              << "client\n"
                                              << false << "Config File Write Error:";
    // The length check counts characters against bytes: a multi-byte character fails it.
    QTest::newRow("short write") << QString() << QString::fromUtf8("client\nverify-x509-name Zürich name\n") << false
                                 << "Config File Write Error: Short write.";
    // Refused before anything is written or started, with the reason in the log.
    QTest::newRow("profile with a plugin") << QString() << "client\nplugin /tmp/evil.so\n"
                                           << false
                                           << "OpenVPN Profile Refused: The server's OpenVPN profile was refused: "
                                              "\"plugin\"";
    QTest::newRow("engine missing") << QString() << "client\n" << true << "OpenVPN Process Error:";
}

void TestOpenVpn::failedStartEndsIdle()
{
    QFETCH(QString, tempDir);
    QFETCH(QString, profile);
    QFETCH(bool, engineMissing);
    QFETCH(QString, logged);
    if (profile.toLocal8Bit().size() == profile.size() && logged.contains(QLatin1String("Short")))
        QSKIP("the local 8-bit encoding is single-byte here");

    const QStringList filesBefore = tempFiles();
    const QByteArray savedTemp = qgetenv("TMPDIR");
    if (!tempDir.isEmpty())
        qputenv("TMPDIR", tempDir.toLocal8Bit());

    QPointer<OpenVpnRunner> runner = new OpenVpnRunner;
    runner->setProgram(engineMissing ? m_dir.filePath(QStringLiteral("missing")) : m_engine);
    QSignalSpy disconnected(runner.data(), &OpenVpnRunner::disconnected);
    QSignalSpy connecting(runner.data(), &OpenVpnRunner::connecting);
    const bool started = runner->connect(profile, QStringLiteral("u"), QStringLiteral("p"));
    qputenv("TMPDIR", savedTemp);

    QVERIFY(!started);
    QCOMPARE(connecting.count(), 1);
    // The connect button must not stay in CONNECTING: IDLE follows, once, and the runner goes.
    QCOMPARE(disconnected.count(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(runner.isNull(), 5000);
    QVERIFY2(capturedLog().join(QLatin1Char('\n')).contains(logged), qPrintable(capturedLog().join('\n')));
    // No profile, whole or half written, stays behind.
    QCOMPARE(tempFiles(), filesBefore);
    QVERIFY(!QFile::exists(m_dir.filePath(QStringLiteral("openvpn.args"))));
}

// No openvpn beside this test: the controller's type 1 path meets a missing engine.
void TestOpenVpn::controllerWithoutEngineEndsIdle()
{
    using Tavrix::OpenConnectConnection;
    auto controller = OpenConnectConnection::instance();
    QList<OpenConnectConnection::Status> statuses;
    QObject::connect(controller.get(), &OpenConnectConnection::statusChanged, this,
                     [&statuses](OpenConnectConnection::Status status) { statuses << status; });
    const int logStart = Tavrix::Logger::instance()->lastSequence();
    controller->setType(OpenConnectConnection::OPENVPN);
    controller->setUsername(QStringLiteral("u"));
    controller->setPassword(QStringLiteral("p"));
    controller->setConfig(QString::fromLatin1(QByteArray("client\nremote remoteIP remotePort\n").toBase64()),
                          QStringLiteral("192.0.2.1:1194"));
    QCOMPARE(controller->connect(), int(OpenConnectConnection::CONNECT_STARTED));
    QCOMPARE(statuses,
             (QList<OpenConnectConnection::Status>{OpenConnectConnection::CONNECTING, OpenConnectConnection::IDLE}));
    QTRY_COMPARE(controller->status(), OpenConnectConnection::IDLE);
    QTRY_VERIFY(!controller->findChild<OpenVpnRunner *>());
    QStringList log;
    for (const auto &message : Tavrix::Logger::instance()->messagesSince(logStart))
        log << message.text;
    QVERIFY2(log.contains(QStringLiteral("OpenVPN Connect Failed")), qPrintable(log.join('\n')));
    QVERIFY(capturedLog().join('\n').contains(QStringLiteral("OpenVPN Process Error:")));
    // A later disconnect finds the runner gone and touches nothing deleted.
    controller->disconnectVpn();
    QObject::disconnect(controller.get(), nullptr, this, nullptr);
}

int main(int argc, char *argv[])
{
    TavrixTest::isolateXdg();
    TavrixTest::setIdentity();
    // Profiles are written to the temporary folder: a private one, so leftovers can be seen.
    static QTemporaryDir tmp;
    qputenv("TMPDIR", tmp.path().toLocal8Bit());
    QCoreApplication app(argc, argv);
    TestOpenVpn test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_openvpn.moc"
