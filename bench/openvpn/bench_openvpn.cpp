// Benchmark (not a test): the client's OpenVPN runner against Debian's openvpn program started
// by hand, with the same profile, on the same server in the same run.
//   - connect time: connect() to CONNECTED for the client; program start to "Initialization
//     Sequence Completed" for the CLI
//   - throughput: iperf3 through the tunnel, upload and download
// Run as root: bench_openvpn [--reps N] [--seconds T] [--out FILE] [--helper]
// With --helper the client's side goes through the privileged helper (a private bus, polkitd
// and the helper, as the tests set them up), as a desktop user's client does.

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QTextStream>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>

#include "benchresult.h"
#include "helperlab.h"
#include "netns.h"
#include "openvpnlab.h"
#include "platform/engineprocesses.h"
#include "vpn/openconnectconnection.h"
#include "vpn/openvpnrunner.h"

using Tavrix::OpenConnectConnection;
using TavrixTest::NetnsLab;
using TavrixTest::OpenVpnServer;

namespace {

constexpr int iperfPort = 5201;
const QString user = QStringLiteral("bench");
const QString password = QStringLiteral("benchpass");
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

// Mbit/s received by the far end of an iperf3 run from this (client) namespace; 0 on failure.
// Runs without blocking the event loop, which reads the engine's output meanwhile.
double iperfOnce(bool download, int seconds)
{
    QStringList arguments{"-c", QString::fromLatin1(NetnsLab::insideAddress),
                          "-p", QString::number(iperfPort),
                          "-t", QString::number(seconds),
                          "-J"};
    if (download)
        arguments << "-R";
    QProcess process;
    process.start(QStringLiteral("iperf3"), arguments);
    if (!process.waitForStarted(5000))
        return 0;
    if (!waitFor([&] { return process.state() == QProcess::NotRunning; }, (seconds + 20) * 1000)) {
        process.kill();
        process.waitForFinished(2000);
        return 0;
    }
    const QByteArray output = process.readAllStandardOutput();
    const QJsonObject end = QJsonDocument::fromJson(output).object().value(QStringLiteral("end")).toObject();
    const double mbits =
        end.value(QStringLiteral("sum_received")).toObject().value(QStringLiteral("bits_per_second")).toDouble() / 1e6;
    if (mbits <= 0)
        fprintf(stderr, "iperf3: %s\n",
                QJsonDocument::fromJson(output).object().value("error").toString().toLocal8Bit().constData());
    return mbits;
}

// A fresh one-off iperf3 server for every measurement: a server left with a broken test
// answers "busy" to every later one.
double iperf(NetnsLab &lab, bool download, int seconds)
{
    QProcess *server = lab.start(
        lab.serverNs(), {"iperf3", "-s", "-1", "-B", NetnsLab::insideAddress, "-p", QString::number(iperfPort)});
    if (!server || !lab.waitForListener(lab.serverNs(), iperfPort)) {
        lab.stop(server);
        return 0;
    }
    const double mbits = iperfOnce(download, seconds);
    lab.stop(server);
    return mbits;
}

bool tunnelGone(NetnsLab &lab)
{
    return !lab.clientIp({"-o", "link", "show"}).contains(QLatin1String(": tun"));
}

struct Figures
{
    QList<double> connectMs;
    QList<double> up;
    QList<double> down;
};

bool runClient(NetnsLab &lab, OpenVpnServer &server, bool measureThroughput, int seconds, Figures *figures)
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

bool runCli(NetnsLab &lab, OpenVpnServer &server, bool measureThroughput, int seconds, Figures *figures)
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
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOption(
        {QStringLiteral("reps"), QStringLiteral("Repetitions per client."), QStringLiteral("n"), QStringLiteral("5")});
    parser.addOption({QStringLiteral("seconds"), QStringLiteral("Seconds per iperf3 direction."), QStringLiteral("s"),
                      QStringLiteral("5")});
    parser.addOption(
        {QStringLiteral("out"), QStringLiteral("Also write the summary to this file."), QStringLiteral("file")});
    parser.addOption(
        {QStringLiteral("quick"), QStringLiteral("Fewer and shorter runs (3 reps, 3 s), for bench/run-all.")});
    parser.addOption({QStringLiteral("helper"), QStringLiteral("The client's side through the privileged helper.")});
    parser.process(app);
    const bool viaHelper = parser.isSet(QStringLiteral("helper"));
    const bool quick = parser.isSet(QStringLiteral("quick"));
    const int reps = quick ? 3 : qMax(1, parser.value(QStringLiteral("reps")).toInt());
    const int seconds = quick ? 3 : qMax(1, parser.value(QStringLiteral("seconds")).toInt());

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
    if (viaHelper) {
        if (qEnvironmentVariableIsEmpty("TAVRIX_BIN_DIR"))
            qputenv("TAVRIX_BIN_DIR", QCoreApplication::applicationDirPath().toLocal8Bit());
        if (qEnvironmentVariableIsEmpty("TAVRIX_SOURCE_DIR"))
            qputenv("TAVRIX_SOURCE_DIR", TAVRIX_SOURCE_DIR);
        helper = std::make_unique<TavrixTest::HelperLab>(lab);
        if (!helper->start(&error)) {
            fprintf(stderr, "bench_openvpn: %s\n", qPrintable(error));
            return 1;
        }
        // The controller finds the helper on this bus, as a user's client finds the system bus.
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", helper->busAddress().toLocal8Bit());
    }
    if (!inClient.enter(lab.clientNs())) {
        fprintf(stderr, "bench_openvpn: cannot enter the client namespace\n");
        return 1;
    }

    Figures client;
    Figures cli;
    // Warm-up of both (page cache, first handshake), not counted.
    Figures ignored;
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

    QString summary;
    QTextStream s(&summary);
    s << "OpenVPN (UDP, AES-256-GCM) through the client's runner" << (viaHelper ? " and the helper" : "")
      << " vs Debian's openvpn CLI, " << reps << " reps, " << seconds << " s per iperf3 direction, medians\n";
    s << "connect ms   client " << median(client.connectMs) << "  (" << join(client.connectMs) << ")\n";
    s << "             CLI    " << median(cli.connectMs) << "  (" << join(cli.connectMs) << ")\n";
    s << "up Mbit/s    client " << median(client.up) << "  (" << join(client.up) << ")\n";
    s << "             CLI    " << median(cli.up) << "  (" << join(cli.up) << ")\n";
    s << "down Mbit/s  client " << median(client.down) << "  (" << join(client.down) << ")\n";
    s << "             CLI    " << median(cli.down) << "  (" << join(cli.down) << ")\n";
    const auto ratio = [](double a, double b) { return b > 0 ? QString::number(a / b, 'f', 2) : QStringLiteral("-"); };
    s << "ratios client/CLI: up " << ratio(median(client.up), median(cli.up)) << ", down "
      << ratio(median(client.down), median(cli.down)) << ", connect time "
      << ratio(median(client.connectMs), median(cli.connectMs)) << "\n";
    s.flush();
    out << summary;
    out.flush();
    const QString key = viaHelper ? QStringLiteral("openvpn.helper") : QStringLiteral("openvpn");
    TavrixBench::printComparison(key + QStringLiteral(".upload"), client.up, cli.up, "Mbit/s");
    TavrixBench::printComparison(key + QStringLiteral(".download"), client.down, cli.down, "Mbit/s");
    TavrixBench::printComparison(key + QStringLiteral(".connect"), client.connectMs, cli.connectMs, "ms");
    if (parser.isSet(QStringLiteral("out"))) {
        QFile file(parser.value(QStringLiteral("out")));
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            file.write(summary.toUtf8());
    }
    OpenConnectConnection::instance()->disconnectVpn();
    helper.reset();
    server.stop();
    lab.down();
    return client.connectMs.size() == reps && cli.connectMs.size() == reps ? 0 : 1;
}
