// The client side of the proxy engine tests and benchmark, run inside the client namespace:
// it drives the real controller with one server entry and reports on standard output, one
// line each:
//   STATUS <n> <ms>     statusChanged (ms since the last "connect" command)
//   ENGINE <pids>       the running engine processes started from our engine file
//   INBOUND <ms>        the local HTTP inbound first accepted (ms since connect / handstart)
//   LOG <text>          every message of the client
// Commands on standard input, one per line: select TYPE IP BASE64-CONFIG, connect,
// disconnect, engine, quit; for the benchmark also "handstart FILE" (the engine file started
// by hand on a configuration, as a user would) and "handstop".

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QMutex>
#include <QProcess>
#include <QSocketNotifier>
#include <QTcpSocket>
#include <QThread>

#include <cstdio>
#include <thread>
#include <unistd.h>

#include "api/serviceurl.h"
#include "common/config.h"
#include "common/ipbundle.h"
#include "common/user.h"
#include "platform/engineprocesses.h"
#include "vpn/openconnectconnection.h"
#include "vpn/xrayengine.h"

using Tavrix::OpenConnectConnection;

namespace {

QElapsedTimer sinceConnect;

void emitLine(const QString &line)
{
    static QMutex lock;
    QMutexLocker locker(&lock);
    QByteArray bytes = line.toUtf8();
    bytes.replace('\n', ' ');
    bytes += '\n';
    fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    fflush(stdout);
}

void messageHandler(QtMsgType, const QMessageLogContext &, const QString &text)
{
    emitLine(QStringLiteral("LOG ") + text);
}

// Reports when the local HTTP inbound first accepts, measured on its own thread.
void watchInbound()
{
    std::thread([] {
        for (int i = 0; i < 30000; ++i) {
            QTcpSocket socket;
            socket.connectToHost(QStringLiteral("127.0.0.1"), Tavrix::Xray::httpPort);
            if (socket.waitForConnected(100)) {
                emitLine(QStringLiteral("INBOUND %1").arg(sinceConnect.elapsed()));
                return;
            }
            QThread::msleep(1);
        }
    }).detach();
}

QProcess *handStarted = nullptr;

void handleCommand(const QString &line)
{
    const auto controller = OpenConnectConnection::instance();
    const QStringList words = line.split(QLatin1Char(' '));
    const QString command = words.value(0);
    if (command == QLatin1String("select") && words.size() == 4) {
        const QString config = QString::fromUtf8(QByteArray::fromBase64(words.at(3).toLatin1()));
        Tavrix::User::instance()->setBundles({Tavrix::IPBundle::fromJson(QJsonObject{{"ip_id", 1},
                                                                                     {"type", words.at(1).toInt()},
                                                                                     {"ip", words.at(2)},
                                                                                     {"config", config},
                                                                                     {"platform", "all"}})});
        controller->setType(words.at(1).toInt());
    } else if (command == QLatin1String("connect")) {
        sinceConnect.restart();
        controller->connect();
        watchInbound();
    } else if (command == QLatin1String("handstart") && words.size() == 2) {
        sinceConnect.restart();
        handStarted = new QProcess;
        handStarted->setProcessChannelMode(QProcess::ForwardedChannels);
        handStarted->start(Tavrix::EngineProcesses::enginePath(Tavrix::Xray::engineName()),
                           {QStringLiteral("-c"), words.at(1)});
        watchInbound();
    } else if (command == QLatin1String("handstop") && handStarted) {
        handStarted->terminate();
        handStarted->waitForFinished(5000);
        delete handStarted;
        handStarted = nullptr;
    } else if (command == QLatin1String("disconnect")) {
        sinceConnect.restart();
        controller->disconnectVpn();
    } else if (command == QLatin1String("engine")) {
        QStringList pids;
        for (qint64 pid : Tavrix::EngineProcesses::find(Tavrix::Xray::engineName()))
            pids.append(QString::number(pid));
        emitLine(QStringLiteral("ENGINE ") + pids.join(QLatin1Char(',')));
    } else if (command == QLatin1String("quit")) {
        QCoreApplication::quit();
    }
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("TavrixVPN"));
    QCoreApplication::setOrganizationName(QStringLiteral("Quennark"));
    qInstallMessageHandler(messageHandler);
    sinceConnect.start();
    // What the configuration of the lab's service would have stored: its public-IP lookup.
    const QUrl service = Tavrix::ServiceUrl::overrideOrigin();
    if (!service.isEmpty())
        Tavrix::Config::setPublicIpUrl(service.toString() + QStringLiteral("/api/ip"));
    const auto controller = OpenConnectConnection::instance();
    QObject::connect(controller.get(), &OpenConnectConnection::statusChanged, &app,
                     [](OpenConnectConnection::Status status) {
                         emitLine(QStringLiteral("STATUS %1 %2").arg(int(status)).arg(sinceConnect.elapsed()));
                     });

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QByteArray pending;
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&input, &pending] {
        char buffer[4096];
        const ssize_t got = read(STDIN_FILENO, buffer, sizeof buffer);
        if (got <= 0) {
            input.setEnabled(false);
            QCoreApplication::quit();
            return;
        }
        pending.append(buffer, int(got));
        int newline;
        while ((newline = pending.indexOf('\n')) >= 0) {
            const QString line = QString::fromUtf8(pending.left(newline)).trimmed();
            pending.remove(0, newline + 1);
            if (!line.isEmpty())
                handleCommand(line);
        }
    });
    emitLine(QStringLiteral("READY"));
    const int code = QCoreApplication::exec();
    emitLine(QStringLiteral("EXIT"));
    return code;
}
