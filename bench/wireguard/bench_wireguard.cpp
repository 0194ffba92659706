// WireGuard benchmark: the tunnel the client starts (the real controller, the development
// service's configuration, the client program beside it) against wg-quick run by hand with
// the same configuration, on the same wireguard-go peer in the same run:
//   - throughput: iperf3 through the tunnel to the inside address, upload and download
//   - connect time: connect() to CONNECTED for the client; wg-quick up until it returns
// The program runs itself again inside the client namespace, where both tunnels go up in turn.

#include <QElapsedTimer>
#include <QNetworkInterface>
#include <QSignalSpy>
#include <QTextStream>

#include "benchhelper.h"
#include "benchresult.h"
#include "platform/engineprocesses.h"
#include "testmain.h"
#include "vpn/openconnectconnection.h"
#include "wglabclient.h"

using Tavrix::OpenConnectConnection;
using TavrixTest::NetnsLab;
using TavrixTest::runProgram;
using TavrixTest::WireGuardPeer;

namespace {

using TavrixBench::TunnelFigures;
using TavrixTest::Iperf;

// Mbit/s of an iperf3 run from here (the client namespace); 0 on failure.
double iperf(bool download, int seconds)
{
    QByteArray report;
    runProgram(QStringLiteral("iperf3"), Iperf::clientArguments(download, seconds), &report, (seconds + 20) * 1000);
    return Iperf::mbits(report);
}

bool measure(bool download, int seconds, QList<double> *into)
{
    double value = iperf(download, seconds);
    if (value <= 0) {
        // The server may still be closing the last run ("busy"): one more try.
        QThread::msleep(1000);
        value = iperf(download, seconds);
    }
    into->append(value);
    return value > 0;
}

// A WireGuard device of the client's in this (the client's) namespace.
bool tvxwgPresent()
{
    for (const QNetworkInterface &device : QNetworkInterface::allInterfaces()) {
        if (device.name().startsWith(QLatin1String("tvxwg")))
            return true;
    }
    return false;
}

bool runClient(OpenConnectConnection &controller, int seconds, TunnelFigures *figures)
{
    QSignalSpy statuses(&controller, &OpenConnectConnection::statusChanged);
    QElapsedTimer timer;
    timer.start();
    qint64 connectedAt = -1;
    QObject::connect(&controller, &OpenConnectConnection::statusChanged, &controller,
                     [&](OpenConnectConnection::Status status) {
                         if (status == OpenConnectConnection::CONNECTED && connectedAt < 0)
                             connectedAt = timer.elapsed();
                     });
    controller.connect();
    QDeadlineTimer deadline(30000);
    while (connectedAt < 0 && !deadline.hasExpired()) {
        statuses.wait(50);
        if (!statuses.isEmpty() && statuses.last().at(0).toInt() == OpenConnectConnection::IDLE)
            break;
    }
    QObject::disconnect(&controller, &OpenConnectConnection::statusChanged, &controller, nullptr);
    if (connectedAt < 0)
        return false;
    figures->connectMs.append(double(connectedAt));
    const bool ok = measure(false, seconds, &figures->up) && measure(true, seconds, &figures->down);
    controller.disconnectVpn();
    // Down means IDLE and no device left (through the helper no client program runs at all).
    QDeadlineTimer gone(10000);
    while ((controller.status() != OpenConnectConnection::IDLE ||
            !Tavrix::EngineProcesses::find(QStringLiteral("wireguard/wireguard-client.exe")).isEmpty() ||
            tvxwgPresent()) &&
           !gone.hasExpired())
        statuses.wait(20);
    return ok;
}

bool runByHand(const QString &configText, int seconds, TunnelFigures *figures)
{
    // wg-quick names the interface after the file.
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("tvxwgh%1.conf").arg(getpid()));
    QFile config(file);
    if (!config.open(QIODevice::WriteOnly))
        return false;
    config.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    config.write(configText.toLatin1());
    config.close();
    qputenv("WG_QUICK_USERSPACE_IMPLEMENTATION", "wireguard-go");
    QElapsedTimer timer;
    timer.start();
    QByteArray output;
    const int code = runProgram(QStringLiteral("wg-quick"), {"up", file}, &output, 30000);
    const qint64 elapsed = timer.elapsed();
    qunsetenv("WG_QUICK_USERSPACE_IMPLEMENTATION");
    if (code != 0) {
        fprintf(stderr, "wg-quick up: %s\n", output.constData());
        return false;
    }
    figures->connectMs.append(double(elapsed));
    const bool ok = measure(false, seconds, &figures->up) && measure(true, seconds, &figures->down);
    runProgram(QStringLiteral("wg-quick"), {"down", file}, nullptr, 30000);
    return ok;
}

int inside(int reps, int seconds, const QString &outFile, bool viaHelper)
{
    QTextStream out(stdout);
    TavrixTest::DevService service;
    QString error;
    if (!TavrixTest::signInToWireGuardServer(service, &error)) {
        fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    QFile configFile(qEnvironmentVariable(TavrixTest::wgConfigVariable));
    if (!configFile.open(QIODevice::ReadOnly))
        return 1;
    const QString configText = QString::fromLatin1(configFile.readAll());
    const auto controller = OpenConnectConnection::instance();
    controller->setType(OpenConnectConnection::WIREGUARD);

    TunnelFigures client;
    TunnelFigures byHand;
    // Alternate the two so that drift of the machine hits both alike.
    for (int rep = 0; rep < reps; ++rep) {
        const bool clientFirst = rep % 2 == 0;
        for (int turn = 0; turn < 2; ++turn) {
            const bool isClient = (turn == 0) == clientFirst;
            const bool ok =
                isClient ? runClient(*controller, seconds, &client) : runByHand(configText, seconds, &byHand);
            if (!ok) {
                fprintf(stderr, "%s failed (rep %d)\n", isClient ? "the client's tunnel" : "wg-quick by hand", rep + 1);
                return 1;
            }
        }
        out << "rep " << rep + 1 << " done" << Qt::endl;
    }

    const QString summary = TavrixBench::compareTunnels(
        viaHelper ? QStringLiteral("wireguard.helper") : QStringLiteral("wireguard"),
        QStringLiteral("WireGuard: client-started tunnel vs wg-quick by hand, same wireguard-go peer, same "
                       "configuration, same run (%1 connects each, iperf3 %2 s)")
            .arg(reps)
            .arg(seconds),
        "client", "wg-quick by hand", client, byHand);
    out << summary;
    out.flush();
    TavrixBench::writeSummary(outFile, summary);
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    if (!TavrixTest::runningInsideClientNs())
        TavrixTest::isolateXdg();
    TavrixTest::setIdentity();
    QCoreApplication app(argc, argv);
    const TavrixBench::TunnelOptions options = TavrixBench::parseTunnelOptions(
        app, QStringLiteral("WireGuard tunnel of the client versus wg-quick by hand"), 3, true);
    const bool viaHelper = options.viaHelper;
    const int reps = options.reps;
    const int seconds = options.seconds;
    if (TavrixTest::runningInsideClientNs())
        return inside(reps, seconds, options.outFile, viaHelper);

    const QString reason = TavrixTest::tunnelSkipReason({"wireguard-go", "wg", "wg-quick", "iperf3", "ss"});
    if (!reason.isEmpty()) {
        fprintf(stderr, "bench_wireguard %s\n", qPrintable(reason));
        return 77;
    }
    NetnsLab lab;
    WireGuardPeer peer(lab);
    QString error;
    if (!lab.up(&error) || !peer.start(&error)) {
        fprintf(stderr, "set-up failed: %s\n", qPrintable(error));
        return 1;
    }
    if (!Iperf::startServer(lab)) {
        fprintf(stderr, "iperf3 server did not start\n");
        return 1;
    }
    std::unique_ptr<TavrixTest::HelperLab> helper;
    if (viaHelper && !(helper = TavrixBench::startHelper(lab, &error))) {
        fprintf(stderr, "set-up failed: %s\n", qPrintable(error));
        return 1;
    }
    const int code =
        TavrixTest::runInsideClientNs(lab, peer, app.arguments().mid(1), (reps * (4 * seconds + 30) + 60) * 1000);
    if (code != 0)
        lab.keepFiles();
    return code == 0 ? 0 : 1;
}
