// The client side of the proxy engine tests and benchmark, run inside the client namespace:
// it drives the real controller with one server entry (see driverloop.h for the report lines;
// the STATUS clock restarts at "connect", "handstart" and "disconnect"), and reports also
//   ENGINE <pids>       the running engine processes started from our engine file
//   INBOUND <ms>        the local HTTP inbound first accepted (ms since connect / handstart)
// Commands: select TYPE IP BASE64-CONFIG, connect, disconnect, engine, quit; for the benchmark
// also "handstart FILE" (the engine file started by hand on a configuration, as a user would)
// and "handstop".

#include <QJsonObject>
#include <QProcess>
#include <QThread>

#include <thread>

#include "common/config.h"
#include "common/ipbundle.h"
#include "common/serviceurl.h"
#include "common/user.h"
#include "driverloop.h"
#include "platform/engineprocesses.h"
#include "vpn/xrayengine.h"

using Tavrix::OpenConnectConnection;
using TavrixDriver::emitLine;
using TavrixDriver::sinceCommand;

namespace {

// Reports when the local HTTP inbound first accepts, measured on its own thread.
void watchInbound()
{
    std::thread([] {
        for (int i = 0; i < 30000; ++i) {
            QTcpSocket socket;
            socket.connectToHost(QStringLiteral("127.0.0.1"), Tavrix::Xray::httpPort);
            if (socket.waitForConnected(100)) {
                emitLine(QStringLiteral("INBOUND %1").arg(sinceCommand().elapsed()));
                return;
            }
            QThread::msleep(1);
        }
    }).detach();
}

QProcess *handStarted = nullptr;

void handleCommand(const QString &command, const QString &argument)
{
    const auto controller = OpenConnectConnection::instance();
    const QStringList words = argument.split(QLatin1Char(' '));
    if (command == QLatin1String("select") && words.size() == 3) {
        const QString config = QString::fromUtf8(QByteArray::fromBase64(words.at(2).toLatin1()));
        Tavrix::User::instance()->setBundles({Tavrix::IPBundle::fromJson(QJsonObject{{"ip_id", 1},
                                                                                     {"type", words.at(0).toInt()},
                                                                                     {"ip", words.at(1)},
                                                                                     {"config", config},
                                                                                     {"platform", "all"}})});
        controller->setType(words.at(0).toInt());
    } else if (command == QLatin1String("connect")) {
        sinceCommand().restart();
        controller->connect();
        watchInbound();
    } else if (command == QLatin1String("handstart") && words.size() == 1) {
        sinceCommand().restart();
        handStarted = new QProcess;
        handStarted->setProcessChannelMode(QProcess::ForwardedChannels);
        handStarted->start(Tavrix::EngineProcesses::enginePath(Tavrix::Xray::engineName()),
                           {QStringLiteral("-c"), words.at(0)});
        watchInbound();
    } else if (command == QLatin1String("handstop") && handStarted) {
        handStarted->terminate();
        handStarted->waitForFinished(5000);
        delete handStarted;
        handStarted = nullptr;
    } else if (command == QLatin1String("disconnect")) {
        sinceCommand().restart();
        controller->disconnectVpn();
    } else if (command == QLatin1String("engine")) {
        QStringList pids;
        for (qint64 pid : Tavrix::EngineProcesses::find(Tavrix::Xray::engineName()))
            pids.append(QString::number(pid));
        emitLine(QStringLiteral("ENGINE ") + pids.join(QLatin1Char(',')));
    }
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    TavrixDriver::setIdentity();
    TavrixDriver::reportMessages();
    // What the configuration of the lab's service would have stored: its public-IP lookup.
    const QUrl service = Tavrix::ServiceUrl::overrideOrigin();
    if (!service.isEmpty())
        Tavrix::Config::setPublicIpUrl(service.toString() + QStringLiteral("/api/ip"));
    return TavrixDriver::run(handleCommand);
}
