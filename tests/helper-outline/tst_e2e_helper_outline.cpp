// Outline and split tunnelling as a desktop user meets them: the window's own code runs as an
// ordinary user without any capability, the helper as root on a private system bus with
// polkit. Outline carries TCP, DNS and UDP through the Shadowsocks server; the user's chosen
// program bypasses it while another program, and the same program of another user, do not;
// another user cannot stop the tunnel; disconnecting and leaving leave nothing behind. The
// same executable plays the client (--client ...).

#include <QDBusConnection>
#include <QDBusMessage>
#include <QSignalSpy>
#include <QtTest>

#include <iostream>
#include <string>

#include "common/config.h"
#include "helper/helperbus.h"
#include "helperlab.h"
#include "outlinelab.h"
#include "platform/privilegedhelper.h"
#include "protection/splittunnelcontrol.h"
#include "testmain.h"
#include "vpn/openconnectconnection.h"

using Tavrix::OpenConnectConnection;
using TavrixTest::HelperLab;
using TavrixTest::NetnsLab;
using TavrixTest::OutlineLab;

namespace {

// A listener that answers with the address each connection came from: the Shadowsocks server
// itself (through the tunnel) or the client's own address (bypassing it).
constexpr const char *peerAddress = "198.18.101.1";
constexpr int peerPort = 7011;

void say(const QString &line)
{
    std::cout << line.toStdString() << std::endl;
}

double cpuSeconds(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray text = file.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return (fields.value(11).toDouble() + fields.value(12).toDouble()) / double(sysconf(_SC_CLK_TCK));
}

bool waitForStatus(QSignalSpy &spy, int wanted, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        for (const QList<QVariant> &arguments : spy) {
            if (arguments.at(0).toInt() == wanted)
                return true;
        }
        spy.wait(100);
    }
    return false;
}

// The window's code as an ordinary user: connect, then commands from stdin ("split NAMES",
// "disconnect"); it leaves when stdin closes.
int clientOutline()
{
    auto controller = OpenConnectConnection::instance();
    QSignalSpy statuses(controller.get(), &OpenConnectConnection::statusChanged);
    QSignalSpy failures(controller.get(), &OpenConnectConnection::connectFailed);
    // The tunnel's id, from the engine lines the helper sends to its owner alone.
    QString tunnel;
    Tavrix::PrivilegedHelper::watchOutput(controller.get(),
                                          [&tunnel](const QString &tunnelId, const QString &) { tunnel = tunnelId; });
    const auto config = Tavrix::Config::instance();
    config->setShadowsocksAddress(QStringLiteral("%1:%2").arg(NetnsLab::serverAddress).arg(OutlineLab::ssPort));
    config->setShadowsocksConfig(QStringLiteral("{\"method\":\"%1\",\"password\":\"%2\"}")
                                     .arg(qEnvironmentVariable("TVX_METHOD", QLatin1String(OutlineLab::method)),
                                          OutlineLab::jsonText(OutlineLab::password)));
    controller->setType(OpenConnectConnection::OUTLINE);
    controller->connect();
    if (qEnvironmentVariableIsSet("TVX_METHOD")) {
        // A cipher the helper refuses: the user is told why, and nothing runs.
        const bool idle = waitForStatus(statuses, OpenConnectConnection::IDLE, 10000);
        if (failures.isEmpty())
            failures.wait(5000);
        say(QStringLiteral("FAILED %1 %2").arg(idle).arg(failures.value(0).value(0).toString()));
        return 0;
    }
    say(waitForStatus(statuses, OpenConnectConnection::CONNECTED, 30000) ? QStringLiteral("STEP CONNECTED")
                                                                         : QStringLiteral("STEP NOT_CONNECTED"));
    say(QStringLiteral("TUNNEL ") + tunnel);
    std::string line;
    while (std::getline(std::cin, line)) {
        const QString command = QString::fromStdString(line);
        if (command.startsWith(QLatin1String("split"))) {
            Tavrix::SplitTunnelControl::apply(command.mid(6).split(QLatin1Char(','), Qt::SkipEmptyParts));
            say(QStringLiteral("SPLIT DONE"));
        } else if (command == QLatin1String("reconnect")) {
            // A change of server: the new tunnel comes up once the old one has gone.
            statuses.clear();
            controller->disconnectVpn();
            controller->connect();
            say(waitForStatus(statuses, OpenConnectConnection::CONNECTED, 30000)
                    ? QStringLiteral("STEP RECONNECTED")
                    : QStringLiteral("STEP NOT_RECONNECTED"));
        } else if (command == QLatin1String("disconnect")) {
            statuses.clear();
            controller->disconnectVpn();
            say(waitForStatus(statuses, OpenConnectConnection::IDLE, 15000) ? QStringLiteral("STEP IDLE")
                                                                            : QStringLiteral("STEP NOT_IDLE"));
        }
        QCoreApplication::processEvents();
    }
    return 0;
}

// Split tunnelling alone, held until stdin closes.
int clientSplit(const QString &programs)
{
    Tavrix::SplitTunnelControl::apply(programs.split(QLatin1Char(',')));
    say(QStringLiteral("SPLIT DONE"));
    std::string line;
    std::getline(std::cin, line);
    return 0;
}

// Stop(id), or with no id a StartOutline of the caller's own.
int clientStopOrStart(const QString &tunnelId)
{
    QDBusMessage message = QDBusMessage::createMethodCall(
        QLatin1String(Tavrix::HelperBus::serviceName), QLatin1String(Tavrix::HelperBus::objectPath),
        QLatin1String(Tavrix::HelperBus::interfaceName),
        tunnelId.isEmpty() ? QStringLiteral("StartOutline") : QStringLiteral("Stop"));
    if (tunnelId.isEmpty())
        message << QVariantMap{{QStringLiteral("Host"), QString::fromLatin1(NetnsLab::serverAddress)},
                               {QStringLiteral("Port"), uint(OutlineLab::ssPort)},
                               {QStringLiteral("Password"), QString::fromLatin1(OutlineLab::password)},
                               {QStringLiteral("Method"), QString::fromLatin1(OutlineLab::method)}};
    else
        message << tunnelId;
    const QDBusMessage reply = QDBusConnection::systemBus().call(message, QDBus::Block, 20000);
    say(reply.type() == QDBusMessage::ReplyMessage
            ? QStringLiteral("OK")
            : QStringLiteral("ERROR %1 %2").arg(reply.errorName(), reply.errorMessage()));
    return 0;
}

} // namespace

class TestE2eHelperOutline : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void outlineAndSplitTunnelForAnOrdinaryUserLeaveNothingBehind();
    void splitTunnelChoiceDoesNotOutliveACrashedHelper();

private:
    QStringList asUser(const char *user, const QStringList &command) const { return m_helper->asUser(user, command); }
    QString waitForLine(QProcess *client, const char *prefix, int timeoutMs = 30000);
    // The address the listener saw for one connection of `program` run as `user`.
    QString peerSeenBy(const char *user, const QString &program);
    // What the helper's Outline and split tunnelling left in the client namespace and the
    // cgroup tree, one word each.
    QStringList leftovers(qint64 helperPid = 0);

    NetnsLab m_lab;
    std::unique_ptr<OutlineLab> m_outline;
    std::unique_ptr<HelperLab> m_helper;
    QString m_programs;
};

void TestE2eHelperOutline::initTestCase()
{
    QString error;
    m_outline = std::make_unique<OutlineLab>(m_lab);
    QVERIFY2(m_outline->up(&error), qPrintable(error));
    QCOMPARE(m_lab.exec(m_lab.serverNs(), {"ip", "addr", "add", QStringLiteral("%1/32").arg(peerAddress), "dev", "lo"}),
             0);
    QVERIFY(m_lab.start(m_lab.serverNs(),
                        {"socat", QStringLiteral("TCP-LISTEN:%1,bind=%2,fork,reuseaddr").arg(peerPort).arg(peerAddress),
                         "SYSTEM:echo $SOCAT_PEERADDR"},
                        m_lab.dir() + QStringLiteral("/peer.log")));
    QVERIFY(m_lab.waitForListener(m_lab.serverNs(), peerPort));
    // Two programs told apart by their executable's name, runnable by every user.
    ::chmod(QFile::encodeName(m_lab.dir()).constData(), 0755);
    m_programs = m_lab.dir() + QStringLiteral("/programs");
    QDir().mkpath(m_programs);
    ::chmod(QFile::encodeName(m_programs).constData(), 0755);
    for (const char *name : {"tvxbypass", "tvxother"})
        QVERIFY(QFile::copy(QStringLiteral("/bin/bash"), m_programs + QLatin1Char('/') + QLatin1String(name)));
    m_helper = std::make_unique<HelperLab>(m_lab);
    QVERIFY2(m_helper->start(&error), qPrintable(error));
}

void TestE2eHelperOutline::cleanupTestCase()
{
    if (m_helper && QTest::currentTestFailed())
        qWarning().noquote() << m_helper->readFile("helper.log").right(4000);
    m_helper.reset();
    m_outline.reset();
    m_lab.down();
}

QString TestE2eHelperOutline::waitForLine(QProcess *client, const char *prefix, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        while (client->canReadLine()) {
            const QByteArray line = client->readLine().trimmed();
            if (line.startsWith(prefix) || line.startsWith("STEP NOT_"))
                return QString::fromUtf8(line);
        }
        if (!client->waitForReadyRead(200) && client->state() == QProcess::NotRunning)
            break;
    }
    return QString();
}

QString TestE2eHelperOutline::peerSeenBy(const char *user, const QString &program)
{
    // The program connects itself (bash's /dev/tcp) once the helper has had time to place it.
    const QStringList command =
        asUser(user, {m_programs + QLatin1Char('/') + program, QStringLiteral("-c"),
                      QStringLiteral("sleep 1; exec 3<>/dev/tcp/%1/%2 && cat <&3").arg(peerAddress).arg(peerPort)});
    QByteArray output;
    TavrixTest::runProgram(command.first(), command.mid(1), &output, 10000);
    return QString::fromLatin1(output).trimmed();
}

QStringList TestE2eHelperOutline::leftovers(qint64 helperPid)
{
    if (helperPid == 0)
        helperPid = m_helper->helperPid();
    QStringList found;
    QByteArray output;
    m_lab.exec(m_lab.clientNs(), {"nft", "list", "tables"}, &output, 5000);
    if (output.contains("tavrixvpn_outline"))
        found << QStringLiteral("outline-table");
    if (output.contains("tavrixvpn_split"))
        found << QStringLiteral("split-table");
    if (m_lab.clientIp({"-o", "link", "show"}).contains(QLatin1String("tvxol")))
        found << QStringLiteral("interface");
    if (m_lab.clientIp({"route", "show"}).contains(QLatin1String("proto 100")) ||
        m_lab.clientIp({"route", "show"}).contains(QLatin1String("/1 dev")))
        found << QStringLiteral("routes");
    const QString rules = m_lab.clientIp({"rule", "show"});
    if (rules.contains(QLatin1String("lookup 86")) || rules.contains(QLatin1String("lookup 73")))
        found << QStringLiteral("rules");
    for (const char *root : {"/sys/fs/cgroup/unified", "/sys/fs/cgroup"}) {
        const QStringList groups =
            QDir(QString::fromLatin1(root))
                .entryList({QStringLiteral("tavrixvpn-bypass-%1-*").arg(helperPid)}, QDir::Dirs | QDir::NoDotAndDotDot);
        if (!groups.isEmpty())
            found << QStringLiteral("cgroup");
    }
    if (!m_helper->helperChildren().isEmpty())
        found << QStringLiteral("engine");
    if (!m_helper->runtimeFiles().isEmpty())
        found << QStringLiteral("files");
    return found;
}

void TestE2eHelperOutline::outlineAndSplitTunnelForAnOrdinaryUserLeaveNothingBehind()
{
    QVERIFY(m_outline->curl(m_outline->insideUrl()) != 0);
    QByteArray refused;
    const QStringList badCipher =
        m_helper->asUser(HelperLab::grantedUser, {QCoreApplication::applicationFilePath(), QStringLiteral("--client")},
                         {QStringLiteral("TVX_METHOD=aes-256-cfb")});
    TavrixTest::runProgram(badCipher.first(), badCipher.mid(1), &refused, 30000);
    QVERIFY2(refused.contains("FAILED 1 The Outline connection could not be started. The Outline server's cipher "
                              "\"aes-256-cfb\" is not supported."),
             refused.constData());
    QCOMPARE(leftovers(), QStringList());

    QProcess client;
    client.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const QStringList command =
        asUser(HelperLab::grantedUser, {QCoreApplication::applicationFilePath(), QStringLiteral("--client")});
    QElapsedTimer connectTime;
    connectTime.start();
    client.start(command.first(), command.mid(1));
    QVERIFY(client.waitForStarted(5000));
    QCOMPARE(waitForLine(&client, "STEP CONNECTED", 45000), QStringLiteral("STEP CONNECTED"));
    qInfo("Outline through the helper: CONNECTED %lld ms after the client's start", connectTime.elapsed());
    const QString tunnel = waitForLine(&client, "TUNNEL ", 5000).mid(7);
    QVERIFY(!tunnel.isEmpty());

    // The tunnel carries TCP, DNS and other UDP; the engine is the helper's child; the client holds no
    // privilege; the password is on no command line and the key file is gone.
    QByteArray body;
    QCOMPARE(m_outline->curl(m_outline->insideUrl(), &body), 0);
    QCOMPARE(body, m_outline->marker());
    QCOMPARE(m_outline->curl(m_outline->insideNameUrl(), &body), 0);
    QCOMPARE(body, m_outline->marker());
    QVERIFY(m_outline->udpRoundTrip());
    QCOMPARE(m_helper->helperChildren().size(), 1);
    QVERIFY(m_lab.clientIp({"-o", "link", "show"}).contains(QLatin1String("tvxol")));
    QFile status(QStringLiteral("/proc/%1/status").arg(client.processId()));
    QVERIFY(status.open(QIODevice::ReadOnly));
    QVERIFY(status.readAll().contains("CapEff:\t0000000000000000"));
    QVERIFY(m_outline->commandLinesContaining(OutlineLab::password).isEmpty());
    QCOMPARE(m_helper->runtimeFiles(), QStringList());

    // Another user, authorised for tunnels of their own, can neither stop this one nor take
    // its routes over with an Outline tunnel of their own.
    for (const QString &id : {tunnel, QString()}) {
        QByteArray output;
        const QStringList stop =
            asUser(HelperLab::secondUser,
                   {QCoreApplication::applicationFilePath(), QStringLiteral("--client"), QStringLiteral("stop"), id});
        TavrixTest::runProgram(stop.first(), stop.mid(1), &output, 20000);
        QVERIFY2(output.contains(id.isEmpty() ? "Another user's Outline tunnel" : Tavrix::HelperBus::errorNotOwner),
                 output.constData());
    }
    QCOMPARE(m_helper->helperChildren().size(), 1);
    QCOMPARE(m_outline->curl(m_outline->insideUrl()), 0);

    // Split tunnelling: the user's chosen program goes around the tunnel (the listener sees the
    // client's own address); another program, and the chosen one run by another user, go
    // through it (the listener sees the server's connection).
    const QString own = QString::fromLatin1(NetnsLab::clientAddress);
    const QString tunnelled = QString::fromLatin1(peerAddress);
    QCOMPARE(peerSeenBy(HelperLab::grantedUser, QStringLiteral("tvxbypass")), tunnelled);
    client.write("split tvxbypass\n");
    QCOMPARE(waitForLine(&client, "SPLIT DONE", 20000), QStringLiteral("SPLIT DONE"));
    QCOMPARE(peerSeenBy(HelperLab::grantedUser, QStringLiteral("tvxbypass")), own);
    QCOMPARE(peerSeenBy(HelperLab::grantedUser, QStringLiteral("tvxother")), tunnelled);
    QCOMPARE(peerSeenBy(HelperLab::secondUser, QStringLiteral("tvxbypass")), tunnelled);
    QVERIFY(leftovers().contains(QStringLiteral("cgroup")));
    // What placing the programs costs the helper (it looks at every process 5 times a second).
    const double before = cpuSeconds(m_helper->helperPid());
    QTest::qWait(2000);
    qInfo("Helper CPU while a split-tunnel choice is held: %.1f %%",
          (cpuSeconds(m_helper->helperPid()) - before) / 2 * 100);
    // Cleared on request (the feature switched off): the program is back in the tunnel and
    // the group and its rules are gone; then chosen again for the end below.
    client.write("split\n");
    QCOMPARE(waitForLine(&client, "SPLIT DONE", 20000), QStringLiteral("SPLIT DONE"));
    QCOMPARE(peerSeenBy(HelperLab::grantedUser, QStringLiteral("tvxbypass")), tunnelled);
    QCOMPARE(leftovers(), QStringList{QStringLiteral("outline-table")}
                              << QStringLiteral("interface") << QStringLiteral("routes") << QStringLiteral("rules")
                              << QStringLiteral("engine"));
    client.write("split tvxbypass\n");
    QCOMPARE(waitForLine(&client, "SPLIT DONE", 20000), QStringLiteral("SPLIT DONE"));

    client.write("reconnect\n");
    QCOMPARE(waitForLine(&client, "STEP RECONNECTED", 40000), QStringLiteral("STEP RECONNECTED"));
    QCOMPARE(m_outline->curl(m_outline->insideUrl(), &body), 0);
    QCOMPARE(m_helper->helperChildren().size(), 1);

    // Disconnect takes the tunnel down; leaving the bus takes the split-tunnel choice along.
    client.write("disconnect\n");
    QCOMPARE(waitForLine(&client, "STEP IDLE", 20000), QStringLiteral("STEP IDLE"));
    QTRY_VERIFY_WITH_TIMEOUT(m_helper->helperChildren().isEmpty(), 10000);
    QVERIFY(m_outline->curl(m_outline->insideUrl()) != 0);
    QCOMPARE(leftovers(),
             QStringList{QStringLiteral("split-table")} << QStringLiteral("rules") << QStringLiteral("cgroup"));
    client.closeWriteChannel();
    QVERIFY(client.waitForFinished(10000));
    QTRY_COMPARE_WITH_TIMEOUT(leftovers(), QStringList(), 10000);
    QCOMPARE(m_outline->curl(m_outline->directUrl(), &body), 0);
    QVERIFY(!m_helper->readFile("helper.log").contains(OutlineLab::password));
}

// The helper dies without a word while a program bypasses the tunnel: the next helper puts
// the program back into the tunnel and removes the group and its rules before it serves.
void TestE2eHelperOutline::splitTunnelChoiceDoesNotOutliveACrashedHelper()
{
    QProcess client;
    client.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const QStringList command =
        asUser(HelperLab::grantedUser, {QCoreApplication::applicationFilePath(), QStringLiteral("--client"),
                                        QStringLiteral("split"), QStringLiteral("tvxbypass")});
    client.start(command.first(), command.mid(1));
    QCOMPARE(waitForLine(&client, "SPLIT DONE", 20000), QStringLiteral("SPLIT DONE"));
    const QStringList sleeper =
        asUser(HelperLab::grantedUser,
               {m_programs + QStringLiteral("/tvxbypass"), QStringLiteral("-c"), QStringLiteral("sleep 60; true")});
    QProcess bypassing;
    bypassing.start(sleeper.first(), sleeper.mid(1));
    QVERIFY(bypassing.waitForStarted(5000));
    auto groupOfSleeper = [&bypassing] {
        QFile file(QStringLiteral("/proc/%1/cgroup").arg(bypassing.processId()));
        return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()) : QString();
    };
    QTRY_VERIFY_WITH_TIMEOUT(groupOfSleeper().contains(QLatin1String("0::/tavrixvpn-bypass-")), 5000);

    const qint64 crashed = m_helper->helperPid();
    m_helper->killHelper();
    QVERIFY(leftovers(crashed).contains(QStringLiteral("cgroup")));
    QString error;
    QVERIFY2(m_helper->startHelper(&error), qPrintable(error));
    QCOMPARE(leftovers(crashed), QStringList());
    QVERIFY(!groupOfSleeper().contains(QLatin1String("tavrixvpn-bypass-")));
    bypassing.kill();
    bypassing.waitForFinished(5000);
    client.kill();
    client.waitForFinished(5000);
}

int main(int argc, char *argv[])
{
    if (argc > 1 && qstrcmp(argv[1], "--client") == 0) {
        TavrixTest::isolateXdg();
        TavrixTest::setIdentity();
        QCoreApplication app(argc, argv);
        if (app.arguments().value(2) == QLatin1String("stop"))
            return clientStopOrStart(app.arguments().value(3));
        if (app.arguments().value(2) == QLatin1String("split"))
            return clientSplit(app.arguments().value(3));
        return clientOutline();
    }
    QString reason = TavrixTest::tunnelSkipReason(
        {QStringLiteral("nft"), QStringLiteral("ss-server"), QStringLiteral("ss-redir"), QStringLiteral("ss-tunnel"),
         QStringLiteral("curl"), QStringLiteral("socat"), QStringLiteral("python3")});
    if (reason.isEmpty())
        reason = HelperLab::skipReason();
    if (!reason.isEmpty()) {
        fprintf(stderr, "SKIP: Outline helper test %s\n", qPrintable(reason));
        return 77;
    }
    TavrixTest::isolateXdg();
    TavrixTest::setIdentity();
    QCoreApplication app(argc, argv);
    TestE2eHelperOutline test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_e2e_helper_outline.moc"
