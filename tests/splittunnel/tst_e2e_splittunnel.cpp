// Split tunnelling on a real tunnel: a program chosen for bypass reaches the inside address
// through the machine's own route and from its own address, while a program not chosen goes
// through the tunnel; a new selection moves a running program, and turning the feature off
// sends it back and leaves no rule, group or control program behind.

#include <QDir>
#include <QFile>
#include <QtTest>

#include "netns.h"
#include "sessionclient.h"
#include "testmain.h"

using TavrixTest::NetnsLab;
using TavrixTest::OcservServer;
using TavrixTest::SessionClient;

namespace {

constexpr int peerPort = 7010;

} // namespace

class TestSplitTunnelE2e : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void chosenProgramsBypassTheTunnel();

private:
    // Runs with the client namespace's network and the host's /sys (the cgroup tree).
    QStringList inClientNet(const QStringList &command) const
    {
        return QStringList{QStringLiteral("nsenter"), QStringLiteral("--net=/run/netns/") + m_lab.clientNs()} + command;
    }
    bool applySelection(const QString &names);
    // The address the inside listener saw for one connection of `program`.
    QString peerSeenBy(const QString &program);

    NetnsLab m_lab;
    std::unique_ptr<OcservServer> m_server;
    std::unique_ptr<SessionClient> m_client;
    QTemporaryDir m_programs;
    QString m_group;
};

void TestSplitTunnelE2e::initTestCase()
{
    QString error;
    QVERIFY2(m_lab.up(&error), qPrintable(error));
    // The client's own way out, which bypassed programs take.
    QCOMPARE(TavrixTest::runProgram(QStringLiteral("ip"), {"-n", m_lab.clientNs(), "route", "add", "default", "via",
                                                           QString::fromLatin1(NetnsLab::serverAddress)}),
             0);
    m_server = std::make_unique<OcservServer>(m_lab);
    QVERIFY2(m_server->makeCredentials(&error), qPrintable(error));
    QVERIFY2(m_server->start(OcservServer::NoGroups, &error), qPrintable(error));
    // The listener answers each connection with the address it came from.
    QVERIFY(
        m_lab.start(m_lab.serverNs(),
                    {QStringLiteral("socat"),
                     QStringLiteral("TCP-LISTEN:%1,bind=%2,fork,reuseaddr").arg(peerPort).arg(NetnsLab::insideAddress),
                     QStringLiteral("SYSTEM:echo $SOCAT_PEERADDR")},
                    m_lab.dir() + QStringLiteral("/peer.log")));
    QVERIFY(m_lab.waitForListener(m_lab.serverNs(), peerPort));

    // Two programs of our own, told apart by their executable's name.
    m_group = QStringLiteral("tavrixvpn-test-%1").arg(QCoreApplication::applicationPid());
    qputenv("TAVRIXVPN_SPLIT_GROUP", m_group.toLocal8Bit());
    for (const char *name : {"tvxbypass", "tvxother"})
        QVERIFY(QFile::copy(QStringLiteral("/bin/bash"), m_programs.filePath(QString::fromLatin1(name))));

    m_client = std::make_unique<SessionClient>(m_lab, QStringLiteral("testuser"), QStringLiteral("testpass"));
    QVERIFY(m_client->isRunning());
    m_client->send(QStringLiteral("connect"));
    QVERIFY(!m_client->waitFor(QStringLiteral("STATUS 2"), 30000).isEmpty());
}

void TestSplitTunnelE2e::cleanupTestCase()
{
    if (!m_lab.clientNs().isEmpty())
        TavrixTest::runProgram(inClientNet({SessionClient::programPath(), QStringLiteral("--split-stop")}).first(),
                               inClientNet({SessionClient::programPath(), QStringLiteral("--split-stop")}).mid(1));
    m_client.reset();
    m_server.reset();
    m_lab.down();
}

bool TestSplitTunnelE2e::applySelection(const QString &names)
{
    const QStringList command = inClientNet({SessionClient::programPath(), QStringLiteral("--split"), names});
    return TavrixTest::runProgram(command.first(), command.mid(1), nullptr, 40000) == 0;
}

QString TestSplitTunnelE2e::peerSeenBy(const QString &program)
{
    // The connection is made by the program itself (bash's /dev/tcp), after the control
    // program has had time to place it.
    const QStringList command = inClientNet(
        {m_programs.filePath(program), QStringLiteral("-c"),
         QStringLiteral("sleep 1; exec 3<>/dev/tcp/%1/%2 && cat <&3").arg(NetnsLab::insideAddress).arg(peerPort)});
    QByteArray output;
    TavrixTest::runProgram(command.first(), command.mid(1), &output, 10000);
    return QString::fromLatin1(output).trimmed();
}

void TestSplitTunnelE2e::chosenProgramsBypassTheTunnel()
{
    const QString own = QString::fromLatin1(NetnsLab::clientAddress);
    // Without a selection both go through the tunnel (its pool is 10.231.10.0/24).
    QVERIFY(applySelection(QStringLiteral("none")));
    QVERIFY(peerSeenBy(QStringLiteral("tvxother")).startsWith(QLatin1String("10.231.10.")));

    QVERIFY(applySelection(QStringLiteral("tvxbypass")));
    QCOMPARE(peerSeenBy(QStringLiteral("tvxbypass")), own);
    QVERIFY(peerSeenBy(QStringLiteral("tvxother")).startsWith(QLatin1String("10.231.10.")));

    // A program already running moves when the selection changes, and back when the
    // feature goes off.
    QProcess looping;
    const QStringList loop = inClientNet(
        {m_programs.filePath(QStringLiteral("tvxother")), QStringLiteral("-c"),
         QStringLiteral("for i in $(seq 100); do exec 3<>/dev/tcp/%1/%2 && cat <&3; exec 3<&-; sleep 0.2; done")
             .arg(NetnsLab::insideAddress)
             .arg(peerPort)});
    looping.start(loop.first(), loop.mid(1));
    QVERIFY(looping.waitForStarted());
    auto latestPeer = [&looping] {
        static QString last;
        looping.waitForReadyRead(500);
        const QStringList lines = QString::fromLatin1(looping.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        if (!lines.isEmpty())
            last = lines.last().trimmed();
        return last;
    };
    QTRY_VERIFY_WITH_TIMEOUT(latestPeer().startsWith(QLatin1String("10.231.10.")), 5000);
    QVERIFY(applySelection(QStringLiteral("tvxbypass,tvxother")));
    QTRY_COMPARE_WITH_TIMEOUT(latestPeer(), own, 5000);
    QVERIFY(applySelection(QStringLiteral("none")));
    QTRY_VERIFY_WITH_TIMEOUT(latestPeer().startsWith(QLatin1String("10.231.10.")), 5000);
    looping.kill();
    looping.waitForFinished(2000);

    // Off means nothing left: no control program, group, firewall table or routing rule.
    QByteArray output;
    m_lab.exec(m_lab.clientNs(), {QStringLiteral("nft"), QStringLiteral("list"), QStringLiteral("tables")}, &output);
    QVERIFY2(!output.contains("tavrixvpn_split"), output.constData());
    m_lab.exec(m_lab.clientNs(), {QStringLiteral("ip"), QStringLiteral("rule")}, &output);
    QVERIFY2(!output.contains("0x7a58"), output.constData());
    // Only our own build's control program: another test run on the machine may have its own.
    const QString control = QFileInfo(SessionClient::programPath()).path() + QStringLiteral("/splitter-control");
    TavrixTest::runProgram(QStringLiteral("pgrep"), {QStringLiteral("-f"), control}, &output);
    QVERIFY2(output.trimmed().isEmpty(), output.constData());
    QVERIFY(!QFileInfo::exists(QStringLiteral("/sys/fs/cgroup/unified/") + m_group));
    QVERIFY(!QFileInfo::exists(QStringLiteral("/sys/fs/cgroup/") + m_group));
}

int main(int argc, char *argv[])
{
    const QString reason =
        TavrixTest::tunnelSkipReason({QStringLiteral("ocserv"), QStringLiteral("ocpasswd"), QStringLiteral("certtool"),
                                      QStringLiteral("nft"), QStringLiteral("socat"), QStringLiteral("nsenter")});
    if (!reason.isEmpty()) {
        fprintf(stderr, "SKIP: split-tunnel test %s\n", qPrintable(reason));
        return 77;
    }
    TavrixTest::isolateXdg();
    TavrixTest::setIdentity();
    QCoreApplication app(argc, argv);
    TestSplitTunnelE2e test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_e2e_splittunnel.moc"
