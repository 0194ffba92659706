// A running client driven only through its command line, inside the lab's client namespace
// beside the development service, against a real AnyConnect server: "status" with no client
// and with one not signed in, the sign-in by a login link, "servers", connect with traffic
// through the tunnel, the kill switch, disconnect, the exit codes of a wrong server name, and
// "connect" starting a client when none runs. Each answer also carries what the window shows
// (the protection line, the address, the selected location), so the window is checked too.

#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include <csignal>

#include "netns.h"
#include "testmain.h"

using TavrixTest::NetnsLab;
using TavrixTest::OcservServer;

namespace {

QString binProgram(const QString &name)
{
    return qEnvironmentVariable("TAVRIX_BIN_DIR") + QLatin1Char('/') + name;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

struct Run
{
    int code = -1;
    QString output;
    QJsonObject json; // for --json runs
};

} // namespace

class CliTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void drivenFromTheCommandLine();

private:
    Run cli(const QStringList &arguments, int timeoutMs = 100000);
    bool tunnelCarries();
    void stopByPid(qint64 pid);

    NetnsLab m_lab;
    std::unique_ptr<OcservServer> m_server;
    QString m_serviceUrl;
    QString m_serviceCa;
};

void CliTest::initTestCase()
{
    QString error;
    QVERIFY2(m_lab.up(&error), qPrintable(error));
    m_server = std::make_unique<OcservServer>(m_lab);
    QVERIFY2(m_server->makeCredentials(&error), qPrintable(error));
    QVERIFY2(m_server->start(OcservServer::NoGroups, &error), qPrintable(error));

    const QString serviceLog = m_lab.dir() + QStringLiteral("/service.log");
    QVERIFY(m_lab.start(m_lab.clientNs(),
                        {binProgram(QStringLiteral("tavrix-devservice")), "--port", "0", "--openconnect-server",
                         QStringLiteral("%1:%2").arg(NetnsLab::serverAddress).arg(OcservServer::port),
                         "--openconnect-user", OcservServer::demoUser, "--openconnect-password", "testpass"},
                        serviceLog));
    QDeadlineTimer deadline(10000);
    while (!readFile(serviceLog).contains("\nCA ") && !deadline.hasExpired())
        QThread::msleep(50);
    for (const QByteArray &line : readFile(serviceLog).split('\n')) {
        if (line.startsWith("LISTENING "))
            m_serviceUrl = QString::fromUtf8(line.mid(10).trimmed());
        else if (line.startsWith("CA "))
            m_serviceCa = QString::fromUtf8(line.mid(3).trimmed());
    }
    QVERIFY2(!m_serviceCa.isEmpty(), readFile(serviceLog).constData());
    // Inherited by every client and command started from here on.
    qputenv("TAVRIXVPN_SERVICE_URL", m_serviceUrl.toUtf8());
    qputenv("TAVRIXVPN_SERVICE_CA", m_serviceCa.toLocal8Bit());
}

void CliTest::cleanupTestCase()
{
    if (QTest::currentTestFailed()) {
        m_lab.keepFiles();
        qWarning().noquote() << "logs kept in" << m_lab.dir();
    }
    m_server.reset();
    m_lab.down();
}

Run CliTest::cli(const QStringList &arguments, int timeoutMs)
{
    Run run;
    QByteArray output;
    QElapsedTimer clock;
    clock.start();
    run.code = m_lab.exec(m_lab.clientNs(), QStringList{binProgram(QStringLiteral("tavrixvpn"))} + arguments, &output,
                          timeoutMs);
    run.output = QString::fromUtf8(output);
    qInfo().noquote() << QStringLiteral("tavrixvpn %1 -> %2 (%3 ms)")
                             .arg(arguments.join(QLatin1Char(' ')))
                             .arg(run.code)
                             .arg(clock.elapsed());
    if (arguments.contains(QStringLiteral("--json"))) {
        const int from = output.indexOf('{');
        const int to = output.lastIndexOf('}');
        if (from >= 0 && to > from)
            run.json = QJsonDocument::fromJson(output.mid(from, to - from + 1)).object();
    }
    return run;
}

// The inside address answers only through the tunnel.
bool CliTest::tunnelCarries()
{
    return m_lab.exec(m_lab.clientNs(), {"ping", "-c", "1", "-W", "2", QString::fromLatin1(NetnsLab::insideAddress)}) ==
           0;
}

void CliTest::stopByPid(qint64 pid)
{
    QVERIFY(pid > 0);
    ::kill(pid_t(pid), SIGTERM);
    QDeadlineTimer deadline(15000);
    while (::kill(pid_t(pid), 0) == 0 && !deadline.hasExpired())
        QThread::msleep(100);
    QVERIFY2(::kill(pid_t(pid), 0) != 0, "the client did not end");
}

void CliTest::drivenFromTheCommandLine()
{
    // Nothing runs: the commands say so without starting anything.
    Run run = cli({"status"});
    QCOMPARE(run.code, 1);
    QVERIFY2(run.output.contains(QLatin1String("not running")), qPrintable(run.output));
    QCOMPARE(cli({"disconnect"}).code, 0);
    QCOMPARE(cli({"frobnicate"}).code, 2);
    QCOMPARE(cli({"killswitch", "maybe"}).code, 2);

    // A client that nobody signed in to yet.
    const QString log = m_lab.dir() + QStringLiteral("/client.log");
    QProcess *client = m_lab.start(m_lab.clientNs(), {binProgram(QStringLiteral("tavrixvpn")), "--minimized"}, log);
    QVERIFY(client);
    // Until it holds its lock, nothing runs as far as the command line can tell.
    QDeadlineTimer started(15000);
    do {
        run = cli({"--json", "status"});
    } while (run.json.value(QStringLiteral("running")) == false && !started.hasExpired());
    QCOMPARE(run.code, 3);
    QCOMPARE(run.json.value(QStringLiteral("signed_in")).toBool(true), false);
    QCOMPARE(cli({"connect"}).code, 3);

    // Signed in by a login link handed over on the command line.
    QCOMPARE(cli({QStringLiteral("tavrixvpn://login?authenticate=%1&value=testpass")
                      .arg(QLatin1String(OcservServer::demoUser))})
                 .code,
             0);
    run = cli({"--json", "status"});
    QVERIFY2(run.code == 0, qPrintable(run.output + readFile(log).right(3000)));
    QCOMPARE(run.json.value(QStringLiteral("state")).toString(), QStringLiteral("idle"));
    QCOMPARE(run.json.value(QStringLiteral("protection")).toString(), QStringLiteral("Not Protected"));
    QCOMPARE(run.json.value(QStringLiteral("pid")).toInt(), int(client->processId()));

    // The server list, and a search in it.
    run = cli({"--json", "servers"});
    QCOMPARE(run.code, 0);
    QJsonObject server;
    int countryServers = 0;
    for (const QJsonValue &value : run.json.value(QStringLiteral("servers")).toArray()) {
        const QJsonObject entry = value.toObject();
        if (server.isEmpty() && entry.value(QStringLiteral("protocol")).toString() == QLatin1String("OpenConnect") &&
            !entry.value(QStringLiteral("locked")).toBool())
            server = entry;
    }
    QVERIFY2(!server.isEmpty(), qPrintable(run.output.left(2000)));
    const QString id = QString::number(server.value(QStringLiteral("ip_id")).toInt());
    const QString name = server.value(QStringLiteral("name")).toString();
    const QString country = server.value(QStringLiteral("country")).toString();
    for (const QJsonValue &value : run.json.value(QStringLiteral("servers")).toArray())
        countryServers += value.toObject().value(QStringLiteral("country")).toString() == country;
    run = cli({"servers", "--search", name});
    QCOMPARE(run.code, 0);
    QVERIFY2(run.output.contains(QRegularExpression(QStringLiteral("\\b%1\\s+%2\\b").arg(id, name))),
             qPrintable(run.output));
    QVERIFY(!run.output.contains(QLatin1String("Nowhere City")));

    // Names that choose no server: nothing is started.
    run = cli({"connect", "Nowhere City"});
    QCOMPARE(run.code, 1);
    QVERIFY2(run.output.contains(QLatin1String("No server matches")), qPrintable(run.output));
    QVERIFY(countryServers > 1);
    run = cli({"--json", "connect", country});
    QCOMPARE(run.code, 1);
    QCOMPARE(run.json.value(QStringLiteral("candidates")).toArray().size(), countryServers);
    QVERIFY(!tunnelCarries());

    // Connected through the same path as the window's connect button.
    run = cli({"connect", id});
    QVERIFY2(run.code == 0, qPrintable(run.output + readFile(log).right(4000)));
    QVERIFY2(run.output.contains(QStringLiteral("Connected to %1").arg(name)), qPrintable(run.output));
    QVERIFY(tunnelCarries());
    run = cli({"--json", "status"});
    QCOMPARE(run.code, 0);
    QCOMPARE(run.json.value(QStringLiteral("state")).toString(), QStringLiteral("connected"));
    QCOMPARE(run.json.value(QStringLiteral("protected")).toBool(), true);
    QCOMPARE(run.json.value(QStringLiteral("protection")).toString(), QStringLiteral("Protected Now"));
    QCOMPARE(run.json.value(QStringLiteral("server")).toObject().value(QStringLiteral("ip_id")).toInt(), id.toInt());
    QCOMPARE(run.json.value(QStringLiteral("location")).toString(), name + QStringLiteral(", ") + country);
    QCOMPARE(run.json.value(QStringLiteral("address")).toString(), NetnsLab::serverAddress);
    QCOMPARE(cli({"connect", id}).code, 0); // already connected: nothing changes
    QVERIFY(tunnelCarries());

    // The kill switch follows the command (with the tunnel up no firewall script runs).
    QCOMPARE(cli({"killswitch", "on"}).code, 0);
    QCOMPARE(cli({"--json", "status"}).json.value(QStringLiteral("kill_switch")).toBool(), true);
    QCOMPARE(cli({"killswitch", "off"}).code, 0);
    QCOMPARE(cli({"--json", "status"}).json.value(QStringLiteral("kill_switch")).toBool(true), false);

    run = cli({"disconnect"});
    QCOMPARE(run.code, 0);
    run = cli({"--json", "status"});
    QCOMPARE(run.json.value(QStringLiteral("state")).toString(), QStringLiteral("idle"));
    QCOMPARE(run.json.value(QStringLiteral("protection")).toString(), QStringLiteral("Not Protected"));
    QVERIFY(!tunnelCarries());

    // With no client running, connect starts one (minimized), which signs in again with the
    // stored account and connects.
    const qint64 firstPid = client->processId();
    m_lab.stop(client);
    QCOMPARE(cli({"status"}).code, 1);
    run = cli({"connect", id});
    QVERIFY2(run.code == 0, qPrintable(run.output));
    QVERIFY(tunnelCarries());
    run = cli({"--json", "status"});
    const qint64 secondPid = run.json.value(QStringLiteral("pid")).toInt();
    QVERIFY(secondPid != firstPid);
    QCOMPARE(run.json.value(QStringLiteral("state")).toString(), QStringLiteral("connected"));
    QCOMPARE(cli({"disconnect"}).code, 0);
    QVERIFY(!tunnelCarries());
    // Not a child of ours: started by the command line, on its own.
    stopByPid(secondPid);
}

int main(int argc, char *argv[])
{
    const QString reason = TavrixTest::tunnelSkipReason(
        {QStringLiteral("ocserv"), QStringLiteral("ocpasswd"), QStringLiteral("certtool"), QStringLiteral("ping")});
    if (!reason.isEmpty()) {
        fprintf(stderr, "SKIP: command-line test %s\n", qPrintable(reason));
        return 77;
    }
    TavrixTest::isolateXdg();
    TavrixTest::setIdentity();
    QCoreApplication app(argc, argv);
    CliTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_e2e_cli.moc"
