// Benchmark (not a test): download throughput through the Outline tunnel the client starts
// (controller, tun2socks stand-in, route script) against the same ss-redir and nftables
// redirect started by hand, on the same ss-server in the same run.
// Run as root: bench_outline [--reps N] [--seconds T] [--out FILE]

#include <QCoreApplication>
#include <QFile>
#include <QTextStream>

#include "benchresult.h"
#include "netns.h"
#include "outlinelab.h"

using TavrixBench::medianOf;
using TavrixTest::Iperf;
using TavrixTest::NetnsLab;
using TavrixTest::OutlineDriver;
using TavrixTest::OutlineLab;

namespace {

constexpr int handPort = 12345;
QTextStream out(stdout);

QList<double> connectTimes;

double throughClient(NetnsLab &lab, OutlineLab &outline, int seconds)
{
    OutlineDriver driver(lab, outline, QString::fromLatin1(OutlineLab::password));
    if (driver.connectVpn() != QList<int>{1, 2}) {
        out << "client connect failed\n" << driver.logDump() << "\n";
        return 0;
    }
    connectTimes << driver.lastStatusMs();
    const double mbits = Iperf::run(lab, true, seconds);
    driver.disconnectVpn();
    outline.waitForNoLeftovers();
    return mbits;
}

double byHand(NetnsLab &lab, int seconds)
{
    const QString config = lab.dir() + QStringLiteral("/ss-redir-hand.json");
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return 0;
    file.write(QStringLiteral("{\"server\": \"%1\", \"server_port\": %2, \"local_address\": \"127.0.0.1\", "
                              "\"local_port\": %3, \"password\": \"%4\", \"method\": \"%5\", \"mode\": \"tcp_only\", "
                              "\"timeout\": 60}\n")
                   .arg(NetnsLab::serverAddress)
                   .arg(OutlineLab::ssPort)
                   .arg(handPort)
                   .arg(OutlineLab::jsonText(QString::fromLatin1(OutlineLab::password)), OutlineLab::method)
                   .toLatin1());
    file.close();
    QProcess *redir = lab.start(lab.clientNs(), {"ss-redir", "-c", config}, lab.dir() + QStringLiteral("/hand.log"));
    if (!redir || !lab.waitForListener(lab.clientNs(), handPort))
        return 0;
    const QByteArray table = QStringLiteral("table ip bench_hand {\n chain output {\n"
                                            "  type nat hook output priority -100; policy accept;\n"
                                            "  ip daddr 127.0.0.0/8 return\n"
                                            "  ip daddr %1 tcp dport %2 return\n"
                                            "  meta l4proto tcp redirect to :%3\n }\n}\n")
                                 .arg(NetnsLab::serverAddress)
                                 .arg(OutlineLab::ssPort)
                                 .arg(handPort)
                                 .toLatin1();
    double mbits = 0;
    if (lab.exec(lab.clientNs(), {"nft", "-f", "-"}, nullptr, 10000, table) == 0)
        mbits = Iperf::run(lab, true, seconds);
    lab.exec(lab.clientNs(), {"nft", "delete", "table", "ip", "bench_hand"});
    lab.stop(redir);
    return mbits;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const TavrixBench::TunnelOptions options =
        TavrixBench::parseTunnelOptions(app, QStringLiteral("Outline tunnel of the client versus ss-redir by hand"));
    const int reps = options.reps;
    const int seconds = options.seconds;

    const QString skip = TavrixTest::tunnelSkipReason({"nft", "ss-server", "ss-redir", "ss-tunnel", "iperf3"});
    if (!skip.isEmpty()) {
        out << "skipped: " << skip << "\n";
        return 77;
    }
    NetnsLab lab;
    OutlineLab outline(lab);
    QString error;
    if (!outline.up(&error)) {
        out << error << "\n";
        return 1;
    }
    if (!Iperf::startServer(lab)) {
        out << "iperf3 server did not start\n";
        return 1;
    }

    QList<double> client;
    QList<double> hand;
    for (int rep = 0; rep < reps; ++rep) {
        // Taking turns spreads the machine's drifting load over both sides alike.
        client << throughClient(lab, outline, seconds);
        hand << byHand(lab, seconds);
        out << QStringLiteral("rep %1: client %2 Mbit/s, by hand %3 Mbit/s\n")
                   .arg(rep + 1)
                   .arg(client.last(), 0, 'f', 1)
                   .arg(hand.last(), 0, 'f', 1);
        out.flush();
    }
    const double ratio = medianOf(hand) > 0 ? medianOf(client) / medianOf(hand) : 0;
    const QString summary = QStringLiteral("Outline download, median of %1 x %2 s: client %3 Mbit/s, ss-redir by hand "
                                           "%4 Mbit/s, ratio %5; connect() to CONNECTED %6 ms\n")
                                .arg(reps)
                                .arg(seconds)
                                .arg(medianOf(client), 0, 'f', 1)
                                .arg(medianOf(hand), 0, 'f', 1)
                                .arg(ratio, 0, 'f', 3)
                                .arg(medianOf(connectTimes), 0, 'f', 0);
    out << summary;
    out.flush();
    TavrixBench::printComparison(QStringLiteral("outline.download"), client, hand, "Mbit/s");
    TavrixBench::printSamples(QStringLiteral("outline.connected.client"), connectTimes, "ms");
    TavrixBench::writeSummary(options.outFile, summary);
    return ratio > 0 ? 0 : 1;
}
