// The whole way a user goes: the development service up, sign-in with an account, the hub,
// the connect button, a real tunnel to an AnyConnect server in a network namespace with
// traffic through it, and the way back to idle. The client runs as its own program inside
// the client namespace (tavrix-journey), with the service beside it on that namespace's
// loopback.

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include "helperlab.h"
#include "netns.h"
#include "testmain.h"

using TavrixTest::NetnsLab;
using TavrixTest::OcservServer;

namespace {

constexpr int echoPort = 7002;

QString binProgram(const QString &name)
{
    return qEnvironmentVariable("TAVRIX_BIN_DIR") + QLatin1Char('/') + name;
}

} // namespace

class JourneyTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void signInConnectAndDisconnect();
    void asNormalUser_data();
    void asNormalUser();

private:
    QStringList journeyCommand(const QString &program) const;

    NetnsLab m_lab;
    std::unique_ptr<OcservServer> m_server;
};

void JourneyTest::initTestCase()
{
    QString error;
    QVERIFY2(m_lab.up(&error), qPrintable(error));
    m_server = std::make_unique<OcservServer>(m_lab);
    QVERIFY2(m_server->makeCredentials(&error), qPrintable(error));
    QVERIFY2(m_server->start(OcservServer::NoGroups, &error), qPrintable(error));
    QVERIFY(m_lab.start(m_lab.serverNs(),
                        {binProgram(QStringLiteral("tavrix-session-client")), QStringLiteral("--echo-server"),
                         QString::fromLatin1(NetnsLab::insideAddress), QString::number(echoPort)},
                        m_lab.dir() + QStringLiteral("/echo.log")));
    QVERIFY(m_lab.waitForListener(m_lab.serverNs(), echoPort));
}

void JourneyTest::cleanupTestCase()
{
    m_server.reset();
    m_lab.down();
}

QStringList JourneyTest::journeyCommand(const QString &program) const
{
    return QStringList{
        program, QStringLiteral("--user"), QStringLiteral("testuser"), QStringLiteral("--password"),
        QStringLiteral("testpass"), QStringLiteral("--connect"), QStringLiteral("--probe"),
        QString::fromLatin1(NetnsLab::insideAddress), QString::number(echoPort), QStringLiteral("--service-arg"),
        QStringLiteral("--openconnect-server"), QStringLiteral("--service-arg"),
        QStringLiteral("%1:%2").arg(NetnsLab::serverAddress).arg(OcservServer::port),
        // The service names the server's key: the connect checks it against that.
        QStringLiteral("--service-arg"), QStringLiteral("--openconnect-pin"), QStringLiteral("--service-arg"),
        m_server->pin(), QStringLiteral("--service-arg"), QStringLiteral("--openconnect-user"),
        QStringLiteral("--service-arg"), QStringLiteral("testuser"), QStringLiteral("--service-arg"),
        QStringLiteral("--openconnect-password"), QStringLiteral("--service-arg"), QStringLiteral("testpass")};
}

void JourneyTest::signInConnectAndDisconnect()
{
    QStringList command = journeyCommand(binProgram(QStringLiteral("tavrix-journey")));
    const QString shots = qEnvironmentVariable("TAVRIX_SCREENSHOT_DIR");
    if (!shots.isEmpty())
        command << QStringLiteral("--screenshots") << shots;
    // The window sized for another default screen (WxH), for the pictures.
    if (qEnvironmentVariableIsSet("TAVRIX_SCREENSHOT_SCREEN"))
        command << QStringLiteral("--screen") << qEnvironmentVariable("TAVRIX_SCREENSHOT_SCREEN");

    QByteArray output;
    const int code = m_lab.exec(m_lab.clientNs(), command, &output, 150000);
    const QString text = QString::fromUtf8(output);
    QStringList steps;
    for (const QString &line : text.split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("STEP ")))
            steps << line.mid(5);
    }
    if (code != 0) {
        m_lab.keepFiles();
        qWarning().noquote() << text.right(6000);
    }
    QCOMPARE(steps, (QStringList{"SIGNED_OUT", "SIGNED_IN", "CONNECTED", "PROBE_OK", "IDLE"}));
    QCOMPARE(code, 0);
    QVERIFY2(!text.contains(QLatin1String("\nDIALOG ")),
             qPrintable(text.section(QLatin1String("\nDIALOG "), 1).left(200)));
    // The tunnel is gone again.
    QVERIFY(!m_lab.clientIp({QStringLiteral("link")}).contains(QLatin1String("tun")));
}

// The client as an ordinary user holding no privilege at all: through the helper (a private
// bus, polkitd and tavrixvpn-helper) it signs in, connects and carries traffic; without the
// helper the connect press says what is missing and starts nothing. The client's folder is
// copied where that user may read it.
void JourneyTest::asNormalUser_data()
{
    QTest::addColumn<bool>("helper");
    QTest::newRow("through the helper") << true;
    QTest::newRow("without the helper") << false;
}

void JourneyTest::asNormalUser()
{
    QFETCH(bool, helper);
    if (QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty() ||
        QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty() ||
        !QFileInfo::exists(QStringLiteral("/usr/lib/polkit-1/polkitd")))
        QSKIP("setpriv, dbus-daemon or polkitd is missing");

    TavrixTest::HelperLab helperLab(m_lab);
    QString error;
    if (helper)
        QVERIFY2(helperLab.start(&error), qPrintable(error));
    const char *user = TavrixTest::HelperLab::grantedUser;

    // A world-readable place for the copy, and a home the user owns.
    QTemporaryDir top(QStringLiteral("/tmp/tavrix-user-XXXXXX"));
    QVERIFY(top.isValid());
    QFile::setPermissions(top.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup |
                                          QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther);
    const QString bin = top.path() + QStringLiteral("/bin");
    const QString home = top.path() + QStringLiteral("/home");
    QDir().mkpath(home);
    QCOMPARE(TavrixTest::runProgram(QStringLiteral("cp"), {QStringLiteral("-a"), binProgram(QString()), bin}), 0);
    QCOMPARE(TavrixTest::runProgram(QStringLiteral("chown"), {QStringLiteral("-R"), QLatin1String(user), home}), 0);

    QStringList command = journeyCommand(bin + QStringLiteral("/tavrix-journey"));
    if (!helper)
        command << QStringLiteral("--expect-refusal") << QStringLiteral("helper service is not running");
    command = helperLab.asUser(
        user, command,
        {QStringLiteral("HOME=") + home, QStringLiteral("TMPDIR=") + home, QStringLiteral("TAVRIX_BIN_DIR=") + bin,
         // Without the helper, no bus at all (never the host's).
         QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS=") +
             (helper ? helperLab.busAddress() : QStringLiteral("unix:path=") + home + "/no-bus")});
    QByteArray output;
    const int code = TavrixTest::runProgram(command.first(), command.mid(1), &output, 150000);
    const QString text = QString::fromUtf8(output);
    if (code != 0)
        qWarning().noquote() << text.right(6000);
    QStringList steps;
    for (const QString &line : text.split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("STEP ")))
            steps << line.mid(5);
    }
    if (helper)
        QCOMPARE(steps, (QStringList{"SIGNED_OUT", "SIGNED_IN", "CONNECTED", "PROBE_OK", "IDLE"}));
    else
        QCOMPARE(steps, (QStringList{"SIGNED_OUT", "SIGNED_IN", "REFUSED"}));
    QCOMPARE(code, 0);
    QVERIFY(!m_lab.clientIp({QStringLiteral("link")}).contains(QLatin1String("tun")));
}

int main(int argc, char *argv[])
{
    const QString reason = TavrixTest::tunnelSkipReason(
        {QStringLiteral("ocserv"), QStringLiteral("ocpasswd"), QStringLiteral("certtool")});
    if (!reason.isEmpty()) {
        fprintf(stderr, "SKIP: journey test %s\n", qPrintable(reason));
        return 77;
    }
    TavrixTest::isolateXdg();
    TavrixTest::setIdentity();
    QCoreApplication app(argc, argv);
    JourneyTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_journey.moc"
