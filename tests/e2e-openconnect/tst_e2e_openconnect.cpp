// The OpenConnect engine against a real AnyConnect server: ocserv in one network namespace,
// the client (our controller, in a small program) in another.

#include "netns.h"
#include "testmain.h"

#include <QRegularExpression>
#include <QtTest>

using TavrixTest::NetnsLab;
using TavrixTest::OcservServer;

namespace {

constexpr int echoPort = 7001;
constexpr int stepTimeoutMs = 20000;

// One client program inside the client namespace, talked to through its standard streams.
class SessionClient
{
public:
    SessionClient(NetnsLab &lab, const QString &user, const QString &password)
        : m_lab(lab)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        // The tunnel script's log goes to this run's own temporary folder.
        environment.insert(QStringLiteral("TMPDIR"), m_tmp.path());
        const QString program = qEnvironmentVariable("TAVRIX_BIN_DIR") + QStringLiteral("/tavrix-session-client");
        m_process = lab.start(lab.clientNs(), {program}, QString(), environment);
        if (m_process && !waitFor(QStringLiteral("READY")).isEmpty()) {
            send(QStringLiteral("host ") + QString::fromLatin1(NetnsLab::serverAddress) + QStringLiteral(":")
                 + QString::number(OcservServer::port));
            send(QStringLiteral("user ") + user);
            send(QStringLiteral("pass ") + password);
        }
    }

    ~SessionClient()
    {
        if (m_process) {
            send(QStringLiteral("quit"));
            m_process->waitForFinished(10000);
            m_lab.stop(m_process);
        }
    }

    QString tmpDir() const { return m_tmp.path(); }

    bool waitForExit(int timeoutMs)
    {
        return m_process->state() == QProcess::NotRunning || m_process->waitForFinished(timeoutMs);
    }

    bool isRunning() const { return m_process && m_process->state() == QProcess::Running; }

    void send(const QString &command)
    {
        m_process->write(command.toUtf8() + '\n');
        m_process->waitForBytesWritten(2000);
    }

    // Waits for a line starting with prefix after the ones already consumed; returns it.
    QString waitFor(const QString &prefix, int timeoutMs = stepTimeoutMs)
    {
        QDeadlineTimer deadline(timeoutMs);
        for (;;) {
            while (m_next < m_lines.size()) {
                const QString line = m_lines.at(m_next++);
                if (line.startsWith(prefix))
                    return line;
            }
            if (deadline.hasExpired() || !readMore(deadline))
                return QString();
        }
    }

    // Statuses reported from now until one of the final ones arrives.
    QList<int> statusesUntil(const QList<int> &final, int timeoutMs = stepTimeoutMs)
    {
        QList<int> seen;
        QDeadlineTimer deadline(timeoutMs);
        for (;;) {
            const QString line = waitFor(QStringLiteral("STATUS "), int(deadline.remainingTime()));
            if (line.isEmpty())
                return seen;
            seen.append(line.section(QLatin1Char(' '), 1, 1).toInt());
            if (final.contains(seen.last()))
                return seen;
        }
    }

    QStringList logLines() const
    {
        QStringList result;
        for (const QString &line : m_lines) {
            if (line.startsWith(QLatin1String("LOG ")))
                result.append(line.mid(4));
        }
        return result;
    }

    bool logged(const QString &text) const
    {
        for (const QString &line : logLines()) {
            if (line.contains(text))
                return true;
        }
        return false;
    }

    QString logDump() const { return logLines().join(QLatin1Char('\n')); }

private:
    bool readMore(const QDeadlineTimer &deadline)
    {
        if (!m_process->canReadLine() && !m_process->waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime()))))
            return m_process->canReadLine();
        while (m_process->canReadLine())
            m_lines.append(QString::fromUtf8(m_process->readLine()).trimmed());
        return true;
    }

    NetnsLab &m_lab;
    QTemporaryDir m_tmp;
    QProcess *m_process = nullptr;
    QStringList m_lines;
    int m_next = 0;
};

} // namespace

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
    void changedServerKeyIsAccepted();
    void quitWhileConnected();

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
    const QString echo = qEnvironmentVariable("TAVRIX_BIN_DIR") + QStringLiteral("/tavrix-session-client");
    QVERIFY(m_lab.start(m_lab.serverNs(),
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
    const bool hasTun = links.contains(QRegularExpression(QStringLiteral("^\\d+: tun\\d+"),
                                                          QRegularExpression::MultilineOption));
    const bool hasRoute = routes.contains(QString::fromLatin1(NetnsLab::insideNetwork));
    QVERIFY2(hasTun == present, qPrintable(links));
    QVERIFY2(hasRoute == present, qPrintable(routes));
}

void TestOpenConnectE2e::checkNoSecrets(const SessionClient &client, const QString &password)
{
    const QString log = client.logDump();
    QVERIFY2(!log.contains(password), "the password reached the log");
    const QRegularExpression cookie(QStringLiteral("webvpn=(?!<hidden>|<elided>)[^;\\s]+"), QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch leak = cookie.match(log);
    QVERIFY2(!leak.hasMatch(), qPrintable(log.mid(qMax(0, leak.capturedStart() - 200), 400)));
}

void TestOpenConnectE2e::connectCarriesTraffic()
{
    startServer(OcservServer::NoGroups);
    m_client = std::make_unique<SessionClient>(m_lab, QStringLiteral("testuser"), QStringLiteral("testpass"));
    QVERIFY(m_client->isRunning());

    // Nothing reaches the inside address without the tunnel.
    m_client->send(QStringLiteral("probe %1 %2").arg(NetnsLab::insideAddress).arg(echoPort));
    QVERIFY(m_client->waitFor(QStringLiteral("PROBE ")).startsWith(QLatin1String("PROBE fail")));

    m_client->send(QStringLiteral("connect"));
    QCOMPARE(m_client->waitFor(QStringLiteral("RESULT ")).section(' ', 1, 1), QStringLiteral("0"));
    const QList<int> statuses = m_client->statusesUntil({0, 2});
    QVERIFY2(statuses == (QList<int>{1, 2}), qPrintable(m_client->logDump()));
    QVERIFY(m_client->logged(QStringLiteral("peer is unknown")));

    m_client->send(QStringLiteral("probe %1 %2").arg(NetnsLab::insideAddress).arg(echoPort));
    QCOMPARE(m_client->waitFor(QStringLiteral("PROBE ")), QStringLiteral("PROBE ok"));

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
}

void TestOpenConnectE2e::disconnectRemovesTunnel()
{
    QVERIFY(m_client && m_client->isRunning());
    m_client->send(QStringLiteral("disconnect"));
    QCOMPARE(m_client->statusesUntil({0}), (QList<int>{3, 0}));
    // The library takes the device down as the session thread ends, just before IDLE.
    QTRY_VERIFY_WITH_TIMEOUT(!m_lab.clientIp({"-o", "link", "show"}).contains(QLatin1String(": tun")), 5000);
    expectTunnelDevice(false);
    checkNoSecrets(*m_client, QStringLiteral("testpass"));
    m_client.reset();
}

void TestOpenConnectE2e::serverVariants_data()
{
    QTest::addColumn<int>("groups");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("connects");

    QTest::newRow("wrong password") << int(OcservServer::NoGroups) << "testuser" << "wrong-password" << false;
    QTest::newRow("one group") << int(OcservServer::OneGroup) << "guser" << "testpass2" << true;
    // No group is configured on our side: a choice between two is declined.
    QTest::newRow("two groups") << int(OcservServer::TwoGroups) << "guser" << "testpass2" << false;
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
    client.send(QStringLiteral("connect"));
    const QList<int> statuses = client.statusesUntil({0, 2});
    QVERIFY2(statuses == (connects ? QList<int>{1, 2} : QList<int>{1, 0}), qPrintable(client.logDump()));
    if (connects) {
        client.send(QStringLiteral("probe %1 %2").arg(NetnsLab::insideAddress).arg(echoPort));
        QCOMPARE(client.waitFor(QStringLiteral("PROBE ")), QStringLiteral("PROBE ok"));
        client.send(QStringLiteral("disconnect"));
        QCOMPARE(client.statusesUntil({0}), (QList<int>{3, 0}));
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
    client.send(QStringLiteral("connect"));
    QCOMPARE(client.statusesUntil({0, 2}), (QList<int>{1, 2}));
    client.send(QStringLiteral("probe %1 %2").arg(NetnsLab::insideAddress).arg(echoPort));
    QCOMPARE(client.waitFor(QStringLiteral("PROBE ")), QStringLiteral("PROBE ok"));
    QVERIFY2(!client.logged(QStringLiteral("Established DTLS connection")), qPrintable(client.logDump()));
    client.send(QStringLiteral("disconnect"));
    QCOMPARE(client.statusesUntil({0}), (QList<int>{3, 0}));
    m_lab.exec(m_lab.serverNs(), {"nft", "delete", "table", "inet", table});
}

void TestOpenConnectE2e::changedServerKeyIsAccepted()
{
    startServer(OcservServer::NoGroups);
    SessionClient client(m_lab, QStringLiteral("testuser"), QStringLiteral("testpass"));
    client.send(QStringLiteral("connect"));
    QCOMPARE(client.statusesUntil({0, 2}), (QList<int>{1, 2}));
    client.send(QStringLiteral("disconnect"));
    QCOMPARE(client.statusesUntil({0}), (QList<int>{3, 0}));
    QVERIFY(!client.logged(QStringLiteral("peer's key has changed!")));

    QString error;
    QVERIFY2(m_server->renewServerKey(&error), qPrintable(error));
    m_serverRunning = false;
    startServer(OcservServer::NoGroups);

    client.send(QStringLiteral("connect"));
    QCOMPARE(client.waitFor(QStringLiteral("RESULT ")).section(' ', 1, 1), QStringLiteral("0"));
    QCOMPARE(client.statusesUntil({0, 2}), (QList<int>{1, 2}));
    QVERIFY2(client.logged(QStringLiteral("peer's key has changed!")), qPrintable(client.logDump()));
    client.send(QStringLiteral("probe %1 %2").arg(NetnsLab::insideAddress).arg(echoPort));
    QCOMPARE(client.waitFor(QStringLiteral("PROBE ")), QStringLiteral("PROBE ok"));
    client.send(QStringLiteral("disconnect"));
    QCOMPARE(client.statusesUntil({0}), (QList<int>{3, 0}));
}

void TestOpenConnectE2e::quitWhileConnected()
{
    startServer(OcservServer::NoGroups);
    SessionClient client(m_lab, QStringLiteral("testuser"), QStringLiteral("testpass"));
    client.send(QStringLiteral("connect"));
    QCOMPARE(client.statusesUntil({0, 2}), (QList<int>{1, 2}));
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

int main(int argc, char *argv[])
{
    const QString reason = TavrixTest::tunnelSkipReason({QStringLiteral("ocserv"), QStringLiteral("ocpasswd"),
                                                         QStringLiteral("certtool"), QStringLiteral("nft"),
                                                         QStringLiteral("ss")});
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
