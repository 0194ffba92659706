// Benchmark (not a test): download throughput through the Outline tunnel the client starts
// (controller, tun2socks stand-in, route script) against the same ss-redir and nftables
// redirect started by hand, on the same ss-server in the same run.
// Run as root: bench_outline [--reps N] [--seconds T] [--out FILE]

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

#include <algorithm>

#include "benchresult.h"
#include "netns.h"
#include "outlinelab.h"

using TavrixTest::NetnsLab;
using TavrixTest::OutlineDriver;
using TavrixTest::OutlineLab;

namespace {

constexpr int iperfPort = 5201;
constexpr int handPort = 12345;
QTextStream out(stdout);

double median(QList<double> values)
{
    if (values.isEmpty())
        return 0;
    std::sort(values.begin(), values.end());
    const int middle = values.size() / 2;
    return values.size() % 2 ? values.at(middle) : (values.at(middle - 1) + values.at(middle)) / 2;
}

// Mbit/s received by the client of a reverse iperf3 run from the client namespace; 0 on failure.
double download(NetnsLab &lab, int seconds)
{
    QByteArray output;
    if (lab.exec(lab.clientNs(),
                 {"iperf3", "-c", QString::fromLatin1(NetnsLab::insideAddress), "-p", QString::number(iperfPort), "-t",
                  QString::number(seconds), "-R", "-J"},
                 &output, (seconds + 20) * 1000) != 0)
        return 0;
    const QJsonObject end = QJsonDocument::fromJson(output).object().value(QStringLiteral("end")).toObject();
    return end.value(QStringLiteral("sum_received")).toObject().value(QStringLiteral("bits_per_second")).toDouble() /
           1e6;
}

QList<double> connectTimes;

double throughClient(NetnsLab &lab, OutlineLab &outline, int seconds)
{
    OutlineDriver driver(lab, outline, QString::fromLatin1(OutlineLab::password));
    if (driver.connectVpn() != QList<int>{1, 2}) {
        out << "client connect failed\n" << driver.logDump() << "\n";
        return 0;
    }
    connectTimes << driver.lastStatusMs();
    const double mbits = download(lab, seconds);
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
        mbits = download(lab, seconds);
    lab.exec(lab.clientNs(), {"nft", "delete", "table", "ip", "bench_hand"});
    lab.stop(redir);
    return mbits;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOption({"reps", "Repetitions of each side (default 3).", "n", "3"});
    parser.addOption({"seconds", "Seconds per iperf3 run (default 5).", "s", "5"});
    parser.addOption({"out", "Also write the summary to this file.", "file"});
    parser.addOption({"quick", "Fewer and shorter runs (3 reps, 3 s), for bench/run-all."});
    parser.process(app);
    const bool quick = parser.isSet("quick");
    const int reps = quick ? 3 : qMax(1, parser.value("reps").toInt());
    const int seconds = quick ? 3 : qMax(1, parser.value("seconds").toInt());

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
    lab.start(lab.serverNs(),
              {"iperf3", "-s", "-B", QString::fromLatin1(NetnsLab::insideAddress), "-p", QString::number(iperfPort)},
              lab.dir() + QStringLiteral("/iperf3.log"));
    if (!lab.waitForListener(lab.serverNs(), iperfPort)) {
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
    const double ratio = median(hand) > 0 ? median(client) / median(hand) : 0;
    const QString summary = QStringLiteral("Outline download, median of %1 x %2 s: client %3 Mbit/s, ss-redir by hand "
                                           "%4 Mbit/s, ratio %5; connect() to CONNECTED %6 ms\n")
                                .arg(reps)
                                .arg(seconds)
                                .arg(median(client), 0, 'f', 1)
                                .arg(median(hand), 0, 'f', 1)
                                .arg(ratio, 0, 'f', 3)
                                .arg(median(connectTimes), 0, 'f', 0);
    out << summary;
    out.flush();
    TavrixBench::printComparison(QStringLiteral("outline.download"), client, hand, "Mbit/s");
    TavrixBench::printSamples(QStringLiteral("outline.connected.client"), connectTimes, "ms");
    if (parser.isSet("out")) {
        QFile file(parser.value("out"));
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            file.write(summary.toUtf8());
    }
    return ratio > 0 ? 0 : 1;
}
