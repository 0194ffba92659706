// Benchmark (not a test): the client's OpenVPN runner against Debian's openvpn program started
// by hand, with the same profile, on the same server in the same run.
//   - connect time: connect() to CONNECTED for the client; program start to "Initialization
//     Sequence Completed" for the CLI
//   - throughput: iperf3 through the tunnel, upload and download
// Run as root: bench_openvpn [--reps N] [--seconds T] [--out FILE] [--helper]
// With --helper the client's side goes through the privileged helper (a private bus, polkitd
// and the helper, as the tests set them up), as a desktop user's client does.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QPointer>
#include <QTextStream>
#include <QTimer>

#include <cstdio>
#include <functional>

#include "benchhelper.h"
#include "benchresult.h"
#include "netns.h"
#include "openvpnlab.h"
#include "platform/engineprocesses.h"
#include "vpn/openconnectconnection.h"
#include "vpn/openvpnrunner.h"

using Tavrix::OpenConnectConnection;
using TavrixBench::TunnelFigures;
using TavrixTest::Iperf;
using TavrixTest::NetnsLab;
using TavrixTest::OpenVpnServer;

namespace {

const QString user = QStringLiteral("bench");
const QString password = QStringLiteral("benchpass");
QTextStream out(stdout);

// Waits in the event loop (the runner lives on this thread) until `done` or the time-out.
bool waitFor(const std::function<bool()> &done, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QEventLoop loop;
        QTimer::singleShot(10, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

// Mbit/s of an iperf3 run from this (client) namespace, against a fresh one-off server;
// 0 on failure. Runs without blocking the event loop, which reads the engine's output meanwhile.
double iperf(NetnsLab &lab, bool download, int seconds)
{
    QProcess *server = Iperf::startServer(lab, true);
    if (!server)
        return 0;
    QProcess process;
    process.start(QStringLiteral("iperf3"), Iperf::clientArguments(download, seconds));
    if (!process.waitForStarted(5000) ||
        !waitFor([&] { return process.state() == QProcess::NotRunning; }, (seconds + 20) * 1000)) {
        process.kill();
        process.waitForFinished(2000);
    }
    lab.stop(server);
    return Iperf::mbits(process.readAllStandardOutput());
}

bool tunnelGone(NetnsLab &lab)
{
    return !lab.clientIp({"-o", "link", "show"}).contains(QLatin1String(": tun"));
}

bool runClient(NetnsLab &lab, OpenVpnServer &server, bool measureThroughput, int seconds, TunnelFigures *figures)
{
    auto controller = OpenConnectConnection::instance();
    controller->setUsername(user);
    controller->setPassword(password);
    controller->setType(OpenConnectConnection::OPENVPN);
    controller->setConfig(QString::fromLatin1(server.clientProfileTemplate().toBase64()), server.address());
    qint64 connectedAfter = -1;
    QElapsedTimer timer;
    const auto link = QObject::connect(controller.get(), &OpenConnectConnection::statusChanged,
                                       [&](OpenConnectConnection::Status status) {
                                           if (status == OpenConnectConnection::CONNECTED && connectedAfter < 0)
                                               connectedAfter = timer.elapsed();
                                       });
    timer.start();
    controller->connect();
    const bool up = waitFor([&] { return connectedAfter >= 0; }, 30000);
    QObject::disconnect(link);
    if (!up) {
        fprintf(stderr, "client: no tunnel\n");
    } else {
        figures->connectMs.append(double(connectedAfter));
        if (measureThroughput) {
            figures->up.append(iperf(lab, false, seconds));
            figures->down.append(iperf(lab, true, seconds));
        }
    }
    controller->disconnectVpn();
    waitFor([&] { return !controller->findChild<OpenVpnRunner *>() && tunnelGone(lab); }, 15000);
    return up;
}

bool runCli(NetnsLab &lab, OpenVpnServer &server, bool measureThroughput, int seconds, TunnelFigures *figures)
{
    const QString profile = lab.dir() + QStringLiteral("/cli.ovpn");
    const QString auth = lab.dir() + QStringLiteral("/cli.auth");
    for (const auto &file : {qMakePair(profile, server.clientProfile()),
                             qMakePair(auth, (user + QLatin1Char('\n') + password + QLatin1Char('\n')).toUtf8())}) {
        QFile f(file.first);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return false;
        f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        f.write(file.second);
    }
    QProcess cli;
    cli.setProcessChannelMode(QProcess::MergedChannels);
    QByteArray output;
    QObject::connect(&cli, &QProcess::readyRead, [&] { output += cli.readAll(); });
    QElapsedTimer timer;
    timer.start();
    cli.start(QStringLiteral("/usr/sbin/openvpn"),
              {"--config", profile, "--auth-user-pass", auth, "--verb", "3", "--suppress-timestamps"});
    const bool up = cli.waitForStarted(5000) &&
                    waitFor([&] { return output.contains("Initialization Sequence Completed"); }, 30000);
    if (!up) {
        fprintf(stderr, "openvpn CLI: no tunnel: %s\n", output.right(2000).constData());
    } else {
        figures->connectMs.append(double(timer.elapsed()));
        if (measureThroughput) {
            figures->up.append(iperf(lab, false, seconds));
            figures->down.append(iperf(lab, true, seconds));
        }
    }
    cli.terminate();
    if (!waitFor([&] { return cli.state() == QProcess::NotRunning; }, 10000)) {
        cli.kill();
        cli.waitForFinished(2000);
    }
    waitFor([&] { return tunnelGone(lab); }, 10000);
    return up;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("TavrixVPN"));
    QCoreApplication::setOrganizationName(QStringLiteral("Quennark"));
    const TavrixBench::TunnelOptions options = TavrixBench::parseTunnelOptions(
        app, QStringLiteral("OpenVPN runner of the client versus the openvpn program by hand"), 5, true);
    const bool viaHelper = options.viaHelper;
    const int reps = options.reps;
    const int seconds = options.seconds;

    const QString reason =
        TavrixTest::tunnelSkipReason({QStringLiteral("openvpn"), QStringLiteral("certtool"), QStringLiteral("iperf3")});
    if (!reason.isEmpty()) {
        fprintf(stderr, "bench_openvpn: %s\n", qPrintable(reason));
        return 77;
    }
    // The shipped engine's output would drown the figures.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &text) {
        if (type == QtWarningMsg || type == QtCriticalMsg || type == QtFatalMsg)
            fprintf(stderr, "%s\n", qPrintable(text));
    });

    NetnsLab lab;
    OpenVpnServer server(lab);
    TavrixTest::NetnsEntry inClient;
    QString error;
    if (!lab.up(&error) || !server.makeCredentials({{user, password}}, &error) || !server.start(&error)) {
        fprintf(stderr, "bench_openvpn: %s\n", qPrintable(error));
        return 1;
    }
    std::unique_ptr<TavrixTest::HelperLab> helper;
    if (viaHelper && !(helper = TavrixBench::startHelper(lab, &error))) {
        fprintf(stderr, "bench_openvpn: %s\n", qPrintable(error));
        return 1;
    }
    if (!inClient.enter(lab.clientNs())) {
        fprintf(stderr, "bench_openvpn: cannot enter the client namespace\n");
        return 1;
    }

    TunnelFigures client;
    TunnelFigures cli;
    // Warm-up of both (page cache, first handshake), not counted.
    TunnelFigures ignored;
    runClient(lab, server, false, seconds, &ignored);
    runCli(lab, server, false, seconds, &ignored);
    for (int rep = 0; rep < reps; ++rep) {
        // Alternating the order, so a load that drifts within a rep favours neither.
        if (rep % 2 == 0) {
            runClient(lab, server, true, seconds, &client);
            runCli(lab, server, true, seconds, &cli);
        } else {
            runCli(lab, server, true, seconds, &cli);
            runClient(lab, server, true, seconds, &client);
        }
        out << "rep " << rep + 1 << "/" << reps << " done\n";
        out.flush();
    }
    inClient.leave();

    const QString summary = TavrixBench::compareTunnels(
        viaHelper ? QStringLiteral("openvpn.helper") : QStringLiteral("openvpn"),
        QStringLiteral(
            "OpenVPN (UDP, AES-256-GCM) through the client's runner%1 vs Debian's openvpn CLI, %2 reps, %3 s "
            "per iperf3 direction")
            .arg(viaHelper ? " and the helper" : "")
            .arg(reps)
            .arg(seconds),
        "client", "openvpn CLI", client, cli);
    out << summary;
    out.flush();
    TavrixBench::writeSummary(options.outFile, summary);
    OpenConnectConnection::instance()->disconnectVpn();
    helper.reset();
    server.stop();
    lab.down();
    return client.connectMs.size() == reps && cli.connectMs.size() == reps ? 0 : 1;
}
