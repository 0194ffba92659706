// Benchmark (not a test): the proxy engine as the client starts it (the real controller,
// driven by tavrix-proxy-client) against the same engine file started by hand on the same
// configuration, in the same run, for Shadowsocks (type 4) and V2Ray VMess (type 6).
//   - time from connect() (or the hand start) to the local HTTP inbound accepting, and for
//     the client also to CONNECTED (which waits for a check through the server)
//   - throughput of an HTTP download through the local inbound from the inside web server
// Run as root: bench_xray [--reps N] [--megabytes M] [--out FILE]

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QTextStream>

#include <cstdio>

#include "benchresult.h"
#include "netns.h"
#include "proxylab.h"

using TavrixBench::joinValues;
using TavrixBench::medianOf;
using TavrixTest::NetnsLab;
using TavrixTest::ProxyClient;
using TavrixTest::ProxyServers;

namespace {

QTextStream out(stdout);

// Mbit/s of a download through the local inbound in the client namespace; 0 on failure.
double download(NetnsLab &lab, const QString &path)
{
    QByteArray output;
    lab.exec(lab.clientNs(),
             {"curl", "-s", "-o", "/dev/null", "-w", "%{speed_download}", "-x", "http://127.0.0.1:10809",
              QStringLiteral("http://%1%2").arg(QLatin1String(ProxyServers::insideName), path)},
             &output, 120000);
    return output.trimmed().toDouble() * 8 / 1e6;
}

struct Figures
{
    QList<double> clientMbps, handMbps, clientInboundMs, handInboundMs, clientConnectedMs;
};

bool measure(NetnsLab &lab, int type, const QString &ip, const QString &config, const QString &path, Figures *f)
{
    // The client's engine: connect() until CONNECTED, the inbound's first accept on the way.
    ProxyClient client(lab);
    client.select(type, ip, config);
    qint64 connectedMs = 0;
    const int mark = client.mark();
    if (client.connectVpn(&connectedMs) != QList<int>{1, 2}) {
        out << "client did not connect:\n" << client.logDump() << "\n";
        return false;
    }
    const QString inbound = client.lineSince(mark, QStringLiteral("INBOUND "), 5000);
    f->clientInboundMs.append(inbound.section(' ', 1, 1).toDouble());
    f->clientConnectedMs.append(double(connectedMs));
    f->clientMbps.append(download(lab, path));
    // Keep the configuration the client wrote, for the same engine by hand.
    const QString handConfig = lab.dir() + QStringLiteral("/hand-config.json");
    QFile::remove(handConfig);
    QFile::copy(client.configFile(), handConfig);
    client.disconnectVpn();

    const int handMark = client.mark();
    client.send(QStringLiteral("handstart ") + handConfig);
    const QString handInbound = client.lineSince(handMark, QStringLiteral("INBOUND "), 15000);
    if (handInbound.isEmpty()) {
        out << "the engine started by hand did not listen\n";
        return false;
    }
    f->handInboundMs.append(handInbound.section(' ', 1, 1).toDouble());
    f->handMbps.append(download(lab, path));
    client.send(QStringLiteral("handstop"));
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOption({QStringLiteral("reps"), QStringLiteral("Repetitions (default 3)."), QStringLiteral("n"), "3"});
    parser.addOption({QStringLiteral("megabytes"), QStringLiteral("Download size in MiB (default 256)."),
                      QStringLiteral("m"), "256"});
    parser.addOption({QStringLiteral("out"), QStringLiteral("Also write the summary here."), QStringLiteral("file")});
    parser.addOption(
        {QStringLiteral("quick"), QStringLiteral("Fewer and smaller downloads (3 reps, 64 MiB), for bench/run-all.")});
    parser.process(app);
    const bool quick = parser.isSet(QStringLiteral("quick"));
    const int reps = quick ? 3 : qMax(1, parser.value(QStringLiteral("reps")).toInt());
    const int megabytes = quick ? 64 : parser.value(QStringLiteral("megabytes")).toInt();

    const QString reason = TavrixTest::tunnelSkipReason(
        {QStringLiteral("ss-server"), QStringLiteral("v2ray"), QStringLiteral("curl"), QStringLiteral("python3")});
    if (!reason.isEmpty()) {
        fprintf(stderr, "bench_xray: %s\n", qPrintable(reason));
        return 77;
    }
    NetnsLab lab;
    ProxyServers servers(lab);
    QString error;
    if (!lab.up(&error) || !servers.start(&error)) {
        fprintf(stderr, "bench_xray: %s\n", qPrintable(error));
        return 1;
    }
    const QString path = servers.addDownload(megabytes);

    struct Kind
    {
        const char *name;
        int type;
        QString ip;
        QString config;
        const char *key; // of its RESULT lines
    };
    const QList<Kind> kinds = {
        {"Shadowsocks (type 4)", 4,
         QStringLiteral("%1:%2").arg(QLatin1String(NetnsLab::serverAddress)).arg(ProxyServers::shadowsocksPort),
         ProxyServers::shadowsocksConfig(), "shadowsocks"},
        {"V2Ray VMess (type 6)", 6, QString::fromLatin1(NetnsLab::serverAddress), ProxyServers::vmessConfig(), "v2ray"},
    };
    QString summary;
    QTextStream text(&summary);
    for (const Kind &kind : kinds) {
        Figures f;
        for (int i = 0; i < reps; ++i) {
            if (!measure(lab, kind.type, kind.ip, kind.config, path, &f))
                return 1;
        }
        const double clientMbps = medianOf(f.clientMbps), handMbps = medianOf(f.handMbps);
        const double clientMs = medianOf(f.clientInboundMs), handMs = medianOf(f.handInboundMs);
        text << kind.name << "\n";
        text << "  download Mbit/s   client " << joinValues(f.clientMbps) << "  by hand " << joinValues(f.handMbps)
             << "  ratio " << QString::number(handMbps > 0 ? clientMbps / handMbps : 0, 'f', 3) << "\n";
        text << "  start to inbound  client " << joinValues(f.clientInboundMs) << " ms  by hand "
             << joinValues(f.handInboundMs) << " ms  ratio "
             << QString::number(handMs > 0 ? clientMs / handMs : 0, 'f', 3) << "\n";
        text << "  connect() to CONNECTED (after the check through the server) " << joinValues(f.clientConnectedMs)
             << " ms\n";
        out << summary.section('\n', -4) << Qt::flush;
        const QString key = QString::fromLatin1(kind.key);
        TavrixBench::printComparison(key + QStringLiteral(".download"), f.clientMbps, f.handMbps, "Mbit/s");
        TavrixBench::printComparison(key + QStringLiteral(".connect"), f.clientInboundMs, f.handInboundMs, "ms");
        TavrixBench::printSamples(key + QStringLiteral(".connected.client"), f.clientConnectedMs, "ms");
    }
    out << "\n" << summary << Qt::flush;
    if (parser.isSet(QStringLiteral("out"))) {
        QFile file(parser.value(QStringLiteral("out")));
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            file.write(summary.toUtf8());
    }
    servers.stop();
    lab.down();
    return 0;
}
