// Benchmark (not a test): the client's in-process OpenConnect session against Debian's
// openconnect program, on the same ocserv in the same run.
//   - connect time: connect() to CONNECTED for the client; program start to "tunnel device
//     has its address and the route" for the CLI
//   - throughput: iperf3 through the tunnel, upload and download
// Run as root: bench_openconnect [--reps N] [--seconds T] [--out FILE] [--helper]

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTextStream>

#include <cstdio>

#include "benchhelper.h"
#include "benchresult.h"
#include "netns.h"
#include "sessionclient.h"

using TavrixBench::TunnelFigures;
using TavrixTest::NetnsLab;
using TavrixTest::OcservServer;
using TavrixTest::SessionClient;

namespace {

QTextStream out(stdout);

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

// One connect of the client's session; throughput when asked. False when it did not connect.
bool runClient(NetnsLab &lab, SessionClient &client, bool measureThroughput, int seconds, TunnelFigures *figures)
{
    qint64 connectedMs = 0;
    const QList<int> statuses = client.connectVpn(&connectedMs);
    if (statuses.isEmpty() || statuses.last() != 2)
        return false;
    figures->connectMs.append(double(connectedMs));
    if (measureThroughput) {
        QThread::msleep(1000); // let DTLS settle, as for the CLI
        figures->up.append(TavrixTest::Iperf::run(lab, false, seconds));
        figures->down.append(TavrixTest::Iperf::run(lab, true, seconds));
    }
    client.disconnectVpn();
    waitUntilGone(lab);
    return true;
}

bool runCli(NetnsLab &lab, OcservServer &server, const QString &pin, bool measureThroughput, int seconds,
            TunnelFigures *figures)
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
            figures->up.append(TavrixTest::Iperf::run(lab, false, seconds));
            figures->down.append(TavrixTest::Iperf::run(lab, true, seconds));
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
    const TavrixBench::TunnelOptions options = TavrixBench::parseTunnelOptions(
        app, QStringLiteral("OpenConnect session versus the openconnect program"), 3, true);
    const int reps = options.reps;
    const int seconds = options.seconds;

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
    // Through the helper the session gets its tun device and routes from it, as installed.
    std::unique_ptr<TavrixTest::HelperLab> helper;
    if (options.viaHelper && !(helper = TavrixBench::startHelper(lab, &error))) {
        fprintf(stderr, "helper: %s\n", qPrintable(error));
        return 1;
    }
    if (!TavrixTest::Iperf::startServer(lab)) {
        fprintf(stderr, "iperf3 server did not start\n");
        return 1;
    }
    const QString pin = server.pin();

    TunnelFigures client;
    TunnelFigures cli;
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
    if (options.viaHelper && !session.logged(QStringLiteral("set up by the helper"))) {
        fprintf(stderr, "the session did not get its tunnel device from the helper\n");
        return 1;
    }

    const QString summary = TavrixBench::compareTunnels(
        options.viaHelper ? QStringLiteral("openconnect.helper") : QStringLiteral("openconnect"),
        QStringLiteral("OpenConnect session%4 vs openconnect CLI, same ocserv, same run (%1 connects each, iperf3 %2 "
                       "s, DTLS %3)")
            .arg(reps)
            .arg(seconds)
            .arg(dtls ? "established" : "not established", options.viaHelper ? " through the helper" : ""),
        "client session", "openconnect CLI", client, cli);
    out << summary;
    out.flush();
    TavrixBench::writeSummary(options.outFile, summary);
    return 0;
}
