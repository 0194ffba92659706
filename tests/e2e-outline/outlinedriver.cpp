// The client side of the Outline tests and benchmark, run inside the client namespace: the
// real controller with an Outline server (see driverloop.h for the report lines; the STATUS
// clock restarts at "connect" and "disconnect"), and also
//   RUNNERS <n>       Outline runner objects the controller holds
// Commands: address HOST:PORT, config JSON (the server entry's Shadowsocks "method" and
// "password"), connect, disconnect, runners, quit.

#include "common/config.h"
#include "driverloop.h"
#include "vpn/outlineclient.h"

using Tavrix::OpenConnectConnection;

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    TavrixDriver::setIdentity();
    return TavrixDriver::run([](const QString &command, const QString &argument) {
        const auto controller = OpenConnectConnection::instance();
        if (command == QLatin1String("address")) {
            Tavrix::Config::instance()->setShadowsocksAddress(argument);
        } else if (command == QLatin1String("config")) {
            Tavrix::Config::instance()->setShadowsocksConfig(argument);
        } else if (command == QLatin1String("connect")) {
            TavrixDriver::sinceCommand().restart();
            controller->setType(OpenConnectConnection::OUTLINE);
            controller->connect();
        } else if (command == QLatin1String("disconnect")) {
            TavrixDriver::sinceCommand().restart();
            controller->disconnectVpn();
        } else if (command == QLatin1String("runners")) {
            // Runners of ended attempts go with the next event loop turn.
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            TavrixDriver::emitLine(
                QStringLiteral("RUNNERS %1").arg(controller->findChildren<Tavrix::OutlineClient *>().size()));
        }
    });
}
