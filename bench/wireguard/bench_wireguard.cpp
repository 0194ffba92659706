// WireGuard benchmark: the tunnel the client starts (the real controller, the development
// service's configuration, the client program beside it) against wg-quick run by hand with
// the same configuration, on the same wireguard-go peer in the same run:
//   - throughput: iperf3 through the tunnel to the inside address, upload and download
//   - connect time: connect() to CONNECTED for the client; wg-quick up until it returns
// The program runs itself again inside the client namespace, where both tunnels go up in turn.

#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTextStream>

#include <algorithm>

#include "benchresult.h"
#include "helperlab.h"
#include "platform/engineprocesses.h"
#include "testmain.h"
#include "vpn/openconnectconnection.h"
#include "wglabclient.h"

using Tavrix::OpenConnectConnection;
using TavrixTest::NetnsLab;
using TavrixTest::runProgram;
using TavrixTest::WireGuardPeer;

namespace {

constexpr int iperfPort = 5201;

struct Figures
{
    QList<double> up;
    QList<double> down;
    QList<double> connectMs;
};

double median(QList<double> values)
{
    if (values.isEmpty())
        return 0;
    std::sort(values.begin(), values.end());
    const int n = values.size();
    return n % 2 ? values.at(n / 2) : (values.at(n / 2 - 1) + values.at(n / 2)) / 2;
}

QString join(const QList<double> &values)
{
    QStringList texts;
    for (double value : values)
        texts.append(QString::number(value, 'f', 1));
    return texts.join(QStringLiteral(" / "));
}

// Mbit/s received by the far end of an iperf3 run; 0 on failure.
double iperf(bool download, int seconds)
{
    QStringList arguments{"-c", QString::fromLatin1(NetnsLab::insideAddress),
                          "-p", QString::number(iperfPort),
                          "-t", QString::number(seconds),
                          "-J"};
    if (download)
        arguments << "-R";
    QByteArray output;
    if (runProgram(QStringLiteral("iperf3"), arguments, &output, (seconds + 20) * 1000) != 0) {
        fprintf(stderr, "iperf3 %s: %s\n", qPrintable(arguments.join(' ')), output.right(600).constData());
        return 0;
    }
    const QJsonObject result = QJsonDocument::fromJson(output).object();
    if (result.contains(QStringLiteral("error")))
        fprintf(stderr, "iperf3: %s\n", qPrintable(result.value(QStringLiteral("error")).toString()));
    const QJsonObject end = result.value(QStringLiteral("end")).toObject();
    return end.value(QStringLiteral("sum_received")).toObject().value(QStringLiteral("bits_per_second")).toDouble() /
           1e6;
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

bool runClient(OpenConnectConnection &controller, int seconds, Figures *figures)
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
    QDeadlineTimer gone(10000);
    while (!Tavrix::EngineProcesses::find(QStringLiteral("wireguard/wireguard-client.exe")).isEmpty() &&
           !gone.hasExpired())
        QThread::msleep(20);
    return ok;
}

bool runByHand(const QString &configText, int seconds, Figures *figures)
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

    Figures client;
    Figures byHand;
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

    QString summary;
    QTextStream text(&summary);
    text << "WireGuard: client-started tunnel vs wg-quick by hand, same wireguard-go peer, same configuration, "
            "same run ("
         << reps << " connects each, iperf3 " << seconds << " s)\n";
    text << "path                 measure          median   values\n";
    auto row = [&text](const char *path, const char *measure, const QList<double> &values) {
        text << QString::fromLatin1(path).leftJustified(21) << QString::fromLatin1(measure).leftJustified(17)
             << QString::number(median(values), 'f', 1).leftJustified(9) << join(values) << "\n";
    };
    row("client", "up Mbit/s", client.up);
    row("wg-quick by hand", "up Mbit/s", byHand.up);
    row("client", "down Mbit/s", client.down);
    row("wg-quick by hand", "down Mbit/s", byHand.down);
    row("client", "connect ms", client.connectMs);
    row("wg-quick by hand", "connect ms", byHand.connectMs);
    auto ratio = [](double a, double b) { return b > 0 ? QString::number(a / b, 'f', 2) : QStringLiteral("n/a"); };
    text << "ratios client/by hand: up " << ratio(median(client.up), median(byHand.up)) << ", down "
         << ratio(median(client.down), median(byHand.down)) << ", connect time "
         << ratio(median(client.connectMs), median(byHand.connectMs)) << "\n";
    text.flush();
    out << summary;
    out.flush();
    const QString key = viaHelper ? QStringLiteral("wireguard.helper") : QStringLiteral("wireguard");
    TavrixBench::printComparison(key + QStringLiteral(".upload"), client.up, byHand.up, "Mbit/s");
    TavrixBench::printComparison(key + QStringLiteral(".download"), client.down, byHand.down, "Mbit/s");
    TavrixBench::printComparison(key + QStringLiteral(".connect"), client.connectMs, byHand.connectMs, "ms");
    if (!outFile.isEmpty()) {
        QFile file(outFile);
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            file.write(summary.toUtf8());
    }
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    if (!TavrixTest::runningInsideClientNs())
        TavrixTest::isolateXdg();
    TavrixTest::setIdentity();
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("WireGuard tunnel of the client versus wg-quick by hand"));
    parser.addHelpOption();
    parser.addOption({QStringLiteral("reps"), QStringLiteral("Connects per path (default 3)."), QStringLiteral("n"),
                      QStringLiteral("3")});
    parser.addOption({QStringLiteral("seconds"), QStringLiteral("Length of each iperf3 run (default 5)."),
                      QStringLiteral("s"), QStringLiteral("5")});
    parser.addOption(
        {QStringLiteral("out"), QStringLiteral("Also write the summary to this file."), QStringLiteral("file")});
    parser.addOption(
        {QStringLiteral("quick"), QStringLiteral("Fewer and shorter runs (3 connects, 3 s), for bench/run-all.")});
    parser.addOption({QStringLiteral("helper"),
                      QStringLiteral("The client's tunnel through the privileged helper (private bus and polkitd).")});
    parser.process(app);
    const bool viaHelper = parser.isSet(QStringLiteral("helper"));
    const bool quick = parser.isSet(QStringLiteral("quick"));
    const int reps = quick ? 3 : qMax(1, parser.value(QStringLiteral("reps")).toInt());
    const int seconds = quick ? 3 : qMax(1, parser.value(QStringLiteral("seconds")).toInt());
    if (TavrixTest::runningInsideClientNs())
        return inside(reps, seconds, parser.value(QStringLiteral("out")), viaHelper);

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
    if (!lab.start(
            lab.serverNs(),
            {"iperf3", "-s", "-B", QString::fromLatin1(NetnsLab::insideAddress), "-p", QString::number(iperfPort)},
            lab.dir() + QStringLiteral("/iperf3.log")) ||
        !lab.waitForListener(lab.serverNs(), iperfPort)) {
        fprintf(stderr, "iperf3 server did not start\n");
        return 1;
    }
    std::unique_ptr<TavrixTest::HelperLab> helper;
    if (viaHelper) {
        if (qEnvironmentVariableIsEmpty("TAVRIX_BIN_DIR"))
            qputenv("TAVRIX_BIN_DIR", QCoreApplication::applicationDirPath().toLocal8Bit());
        if (qEnvironmentVariableIsEmpty("TAVRIX_SOURCE_DIR"))
            qputenv("TAVRIX_SOURCE_DIR", TAVRIX_SOURCE_DIR);
        helper = std::make_unique<TavrixTest::HelperLab>(lab);
        if (!helper->start(&error)) {
            fprintf(stderr, "set-up failed: %s\n", qPrintable(error));
            return 1;
        }
        // The run inside finds the helper on this bus, as a user's client finds the system bus.
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", helper->busAddress().toLocal8Bit());
    }
    const int code =
        TavrixTest::runInsideClientNs(lab, peer, app.arguments().mid(1), (reps * (4 * seconds + 30) + 60) * 1000);
    if (code != 0)
        lab.keepFiles();
    return code == 0 ? 0 : 1;
}
