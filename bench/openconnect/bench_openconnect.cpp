// Benchmark (not a test): the client's in-process OpenConnect session against Debian's
// openconnect program, on the same ocserv in the same run.
//   - connect time: connect() to CONNECTED for the client; program start to "tunnel device
//     has its address and the route" for the CLI
//   - throughput: iperf3 through the tunnel, upload and download
// Run as root: bench_openconnect [--reps N] [--seconds T] [--out FILE]

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

#include <algorithm>
#include <cstdio>

#include "benchresult.h"
#include "netns.h"
#include "sessionclient.h"

using TavrixTest::NetnsLab;
using TavrixTest::OcservServer;
using TavrixTest::SessionClient;

namespace {

constexpr int iperfPort = 5201;

QTextStream out(stdout);

double median(QList<double> values)
{
    if (values.isEmpty())
        return 0;
    std::sort(values.begin(), values.end());
    const int middle = values.size() / 2;
    return values.size() % 2 ? values.at(middle) : (values.at(middle - 1) + values.at(middle)) / 2;
}

QString join(const QList<double> &values)
{
    QStringList texts;
    for (double value : values)
        texts.append(QString::number(value, 'f', 1));
    return texts.join(QStringLiteral(" / "));
}

// Mbit/s received by the far end of an iperf3 run from the client namespace; 0 on failure.
double iperf(NetnsLab &lab, bool download, int seconds)
{
    QStringList command{"iperf3",
                        "-c",
                        QString::fromLatin1(NetnsLab::insideAddress),
                        "-p",
                        QString::number(iperfPort),
                        "-t",
                        QString::number(seconds),
                        "-J"};
    if (download)
        command << "-R";
    QByteArray output;
    if (lab.exec(lab.clientNs(), command, &output, (seconds + 20) * 1000) != 0)
        return 0;
    const QJsonObject end = QJsonDocument::fromJson(output).object().value(QStringLiteral("end")).toObject();
    return end.value(QStringLiteral("sum_received")).toObject().value(QStringLiteral("bits_per_second")).toDouble() /
           1e6;
}

bool tunnelUp(NetnsLab &lab, const QString &device)
{
    return lab.clientIp({"-4", "addr", "show", "dev", device}).contains(QLatin1String("inet ")) &&
           lab.clientIp({"route", "show", NetnsLab::insideNetwork}).contains(device);
}

bool tunnelGone(NetnsLab &lab)
{
    return !lab.clientIp({"-o", "link", "show"}).contains(QLatin1String(": tun"));
}

void waitUntilGone(NetnsLab &lab)
{
    QDeadlineTimer deadline(10000);
    while (!tunnelGone(lab) && !deadline.hasExpired())
        QThread::msleep(20);
}

struct Figures
{
    QList<double> connectMs;
    QList<double> up;
    QList<double> down;
};

// One connect of the client's session; throughput when asked. False when it did not connect.
bool runClient(NetnsLab &lab, SessionClient &client, bool measureThroughput, int seconds, Figures *figures)
{
    client.send(QStringLiteral("connect"));
    QString connected;
    for (;;) {
        const QString line = client.waitFor(QStringLiteral("STATUS "));
        if (line.isEmpty() || line.startsWith(QLatin1String("STATUS 0")))
            return false;
        if (line.startsWith(QLatin1String("STATUS 2"))) {
            connected = line;
            break;
        }
    }
    figures->connectMs.append(connected.section(QLatin1Char(' '), 2, 2).toDouble());
    if (measureThroughput) {
        QThread::msleep(1000); // let DTLS settle, as for the CLI
        figures->up.append(iperf(lab, false, seconds));
        figures->down.append(iperf(lab, true, seconds));
    }
    client.disconnectVpn();
    waitUntilGone(lab);
    return true;
}

bool runCli(NetnsLab &lab, OcservServer &server, const QString &pin, bool measureThroughput, int seconds,
            Figures *figures)
{
    const QString device = QStringLiteral("tun7");
    const QString log = lab.dir() + QStringLiteral("/openconnect-cli.log");
    QElapsedTimer timer;
    timer.start();
    QProcess *cli = lab.start(lab.clientNs(),
                              {"openconnect", "--protocol=anyconnect", "--user=testuser", "--passwd-on-stdin",
                               "--non-inter", "--servercert", pin, "--interface", device, "--script",
                               "/usr/share/vpnc-scripts/vpnc-script", server.url()},
                              log);
    if (!cli)
        return false;
    cli->write("testpass\n");
    cli->waitForBytesWritten(5000);
    cli->closeWriteChannel();
    QDeadlineTimer deadline(20000);
    bool up = false;
    while (!deadline.hasExpired() && cli->state() == QProcess::Running) {
        if (tunnelUp(lab, device)) {
            up = true;
            break;
        }
        QThread::msleep(20);
    }
    if (!up) {
        fprintf(stderr, "openconnect: %s after %lld ms (exit code %d)\n",
                cli->state() == QProcess::Running ? "no tunnel" : "ended", timer.elapsed(), cli->exitCode());
    } else {
        figures->connectMs.append(double(timer.elapsed()));
        if (measureThroughput) {
            QThread::msleep(1000);
            figures->up.append(iperf(lab, false, seconds));
            figures->down.append(iperf(lab, true, seconds));
        }
    }
    ::kill(pid_t(cli->processId()), SIGINT);
    cli->waitForFinished(10000);
    lab.stop(cli);
    waitUntilGone(lab);
    return up;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("OpenConnect session versus the openconnect program"));
    parser.addHelpOption();
    parser.addOption({QStringLiteral("reps"), QStringLiteral("Connects per client (default 3)."), QStringLiteral("n"),
                      QStringLiteral("3")});
    parser.addOption({QStringLiteral("seconds"), QStringLiteral("Length of each iperf3 run (default 5)."),
                      QStringLiteral("s"), QStringLiteral("5")});
    parser.addOption(
        {QStringLiteral("out"), QStringLiteral("Also write the summary to this file."), QStringLiteral("file")});
    parser.addOption(
        {QStringLiteral("quick"), QStringLiteral("Fewer and shorter runs (3 connects, 3 s), for bench/run-all.")});
    parser.process(app);
    const bool quick = parser.isSet(QStringLiteral("quick"));
    const int reps = quick ? 3 : qMax(1, parser.value(QStringLiteral("reps")).toInt());
    const int seconds = quick ? 3 : qMax(1, parser.value(QStringLiteral("seconds")).toInt());

    const QString reason =
        TavrixTest::tunnelSkipReason({"ocserv", "ocpasswd", "certtool", "openconnect", "iperf3", "ss"});
    if (!reason.isEmpty()) {
        fprintf(stderr, "bench_openconnect %s\n", qPrintable(reason));
        return 77;
    }

    NetnsLab lab;
    OcservServer server(lab);
    QString error;
    if (!lab.up(&error) || !server.makeCredentials(&error) || !server.start(OcservServer::NoGroups, &error)) {
        fprintf(stderr, "set-up failed: %s\n", qPrintable(error));
        return 1;
    }
    if (!lab.start(
            lab.serverNs(),
            {"iperf3", "-s", "-B", QString::fromLatin1(NetnsLab::insideAddress), "-p", QString::number(iperfPort)},
            lab.dir() + QStringLiteral("/iperf3.log")) ||
        !lab.waitForListener(lab.serverNs(), iperfPort)) {
        fprintf(stderr, "iperf3 server did not start\n");
        return 1;
    }
    const QString pin = server.pin();

    Figures client;
    Figures cli;
    SessionClient session(lab, QStringLiteral("testuser"), QStringLiteral("testpass"));
    if (!session.isRunning()) {
        fprintf(stderr, "client program did not start\n");
        return 1;
    }
    // Alternate the two so that drift of the machine hits both alike.
    for (int rep = 0; rep < reps; ++rep) {
        const bool throughput = true;
        const bool clientFirst = rep % 2 == 0;
        for (int turn = 0; turn < 2; ++turn) {
            const bool ok = (turn == 0) == clientFirst ? runClient(lab, session, throughput, seconds, &client)
                                                       : runCli(lab, server, pin, throughput, seconds, &cli);
            if (!ok) {
                lab.keepFiles();
                fprintf(stderr, "%s did not connect (rep %d); logs in %s\n",
                        (turn == 0) == clientFirst ? "the client session" : "the openconnect CLI", rep + 1,
                        qPrintable(lab.dir()));
                fprintf(stderr, "%s\n", qPrintable(session.logDump().right(3000)));
                return 1;
            }
        }
        out << "rep " << rep + 1 << " done" << Qt::endl;
    }
    const bool dtls = session.logged(QStringLiteral("Established DTLS connection"));

    QString summary;
    QTextStream text(&summary);
    text << "OpenConnect session vs openconnect CLI, same ocserv, same run (" << reps << " connects each, iperf3 "
         << seconds << " s, DTLS " << (dtls ? "established" : "not established") << ")\n";
    text << "path                 measure          median   values\n";
    auto row = [&text](const char *path, const char *measure, const QList<double> &values) {
        text << QString::fromLatin1(path).leftJustified(21) << QString::fromLatin1(measure).leftJustified(17)
             << QString::number(median(values), 'f', 1).leftJustified(9) << join(values) << "\n";
    };
    row("client session", "up Mbit/s", client.up);
    row("openconnect CLI", "up Mbit/s", cli.up);
    row("client session", "down Mbit/s", client.down);
    row("openconnect CLI", "down Mbit/s", cli.down);
    row("client session", "connect ms", client.connectMs);
    row("openconnect CLI", "connect ms", cli.connectMs);
    auto ratio = [](double a, double b) { return b > 0 ? QString::number(a / b, 'f', 2) : QStringLiteral("n/a"); };
    text << "ratios client/CLI: up " << ratio(median(client.up), median(cli.up)) << ", down "
         << ratio(median(client.down), median(cli.down)) << ", connect time "
         << ratio(median(client.connectMs), median(cli.connectMs)) << "\n";
    text.flush();
    out << summary;
    out.flush();
    TavrixBench::printComparison(QStringLiteral("openconnect.upload"), client.up, cli.up, "Mbit/s");
    TavrixBench::printComparison(QStringLiteral("openconnect.download"), client.down, cli.down, "Mbit/s");
    TavrixBench::printComparison(QStringLiteral("openconnect.connect"), client.connectMs, cli.connectMs, "ms");
    if (parser.isSet(QStringLiteral("out"))) {
        QFile file(parser.value(QStringLiteral("out")));
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            file.write(summary.toUtf8());
    }
    return 0;
}
