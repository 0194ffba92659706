// The client side of the OpenConnect tests and benchmark, run inside the client namespace:
// it drives the real controller (see driverloop.h for the report lines; the STATUS clock
// restarts at "connect" and "disconnect") and reports also
//   STATS <tx> <rx>       statsChanged
//   RESULT <n> <ms>       what connect() returned
//   PROBE ok|fail <text>  a TCP round trip to an address
//   POOL <ms>             a job on the global pool, limited to one thread, has run
//   KEYCHANGED <server> <stored pin> <offered pin>   serverKeyChanged
//   TRUSTED 1|0           the answer to "trust"
// Commands: connect, disconnect, stats, user U, pass P, group G, host H, pin P|none, trust (the
// last refused key), probe ADDR PORT, pool, quit.
//
// With "--echo-server ADDR PORT" it is instead a TCP echo server (run in the server
// namespace on the inside address). With "--split NAME,NAME|none" it applies that split-tunnel
// selection once and exits; "--split-stop" removes split tunnelling (run these with the
// client namespace's network but the host's /sys, for the cgroup tree).

#include <QFutureWatcher>
#include <QThreadPool>
#include <QtConcurrent>

#include <cstring>

#include "driverloop.h"
#include "protection/splittunnelcontrol.h"
#include "vpn/openconnectserver.h"

using Tavrix::OpenConnectConnection;
using TavrixDriver::emitLine;
using TavrixDriver::sinceCommand;

namespace {

// The last server key the controller refused (serverKeyChanged).
QString refusedServer;
QString refusedPin;

QString probe(const QString &address, quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(address, port);
    if (!socket.waitForConnected(3000))
        return QStringLiteral("fail ") + socket.errorString();
    const QByteArray payload = "tavrix-probe-" + QByteArray::number(qint64(getpid()));
    socket.write(payload);
    QByteArray echo;
    while (echo.size() < payload.size() && socket.waitForReadyRead(3000))
        echo += socket.readAll();
    return echo == payload ? QStringLiteral("ok") : QStringLiteral("fail no echo");
}

void handleCommand(const QString &command, const QString &argument)
{
    const auto controller = OpenConnectConnection::instance();
    if (command == QLatin1String("connect")) {
        sinceCommand().restart();
        const int result = controller->connect();
        emitLine(QStringLiteral("RESULT %1 %2").arg(result).arg(sinceCommand().elapsed()));
    } else if (command == QLatin1String("disconnect")) {
        sinceCommand().restart();
        controller->disconnectVpn();
    } else if (command == QLatin1String("stats")) {
        emitLine(QStringLiteral("UPDATE %1").arg(controller->update_stats()));
    } else if (command == QLatin1String("user")) {
        controller->setUsername(argument);
    } else if (command == QLatin1String("pass")) {
        controller->setPassword(argument);
    } else if (command == QLatin1String("group")) {
        controller->getServer()->setAuthGroup(argument);
    } else if (command == QLatin1String("host")) {
        controller->getServer()->setHost(argument);
    } else if (command == QLatin1String("pin")) {
        controller->getServer()->setPin(argument == QLatin1String("none") ? QString() : argument);
    } else if (command == QLatin1String("trust")) {
        // What the connect page does when the user trusts the key it was asked about.
        emitLine(QStringLiteral("TRUSTED %1").arg(controller->trustServerKey(refusedServer, refusedPin) ? 1 : 0));
    } else if (command == QLatin1String("pool")) {
        // One pool thread, as on a single-CPU machine: the account requests run there.
        QThreadPool::globalInstance()->setMaxThreadCount(1);
        auto *job = new QFutureWatcher<void>(qApp);
        QObject::connect(job, &QFutureWatcher<void>::finished, job, [job] {
            emitLine(QStringLiteral("POOL %1").arg(sinceCommand().elapsed()));
            job->deleteLater();
        });
        sinceCommand().restart();
        job->setFuture(QtConcurrent::run([] {}));
    } else if (command == QLatin1String("probe")) {
        emitLine(QStringLiteral("PROBE ") + probe(argument.section(QLatin1Char(' '), 0, 0),
                                                  quint16(argument.section(QLatin1Char(' '), 1, 1).toUInt())));
    }
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc > 1 && strcmp(argv[1], "--echo-server") != 0 && strcmp(argv[1], "--split") != 0 &&
        strcmp(argv[1], "--split-stop") != 0) {
        const bool help = !strcmp(argv[1], "--help") || !strcmp(argv[1], "-h");
        fprintf(help ? stdout : stderr,
                "Usage: tavrix-session-client [--echo-server ADDR PORT | --split NAME,NAME|none | --split-stop]\n"
                "Drives the OpenConnect controller from commands on standard input (connect,\n"
                "disconnect, stats, user U, pass P, group G, host H, pin P|none, trust, probe ADDR PORT,\n"
                "quit) and reports STATUS, STATS, RESULT, PROBE, KEYCHANGED, TRUSTED and LOG lines.\n"
                "With --echo-server it is a TCP echo server instead; with --split it applies a\n"
                "split-tunnel selection and exits.\n");
        return help ? 0 : 2;
    }
    QCoreApplication app(argc, argv);
    TavrixDriver::setIdentity();
    const QStringList arguments = app.arguments();
    if (arguments.size() == 4 && arguments.at(1) == QLatin1String("--echo-server"))
        return TavrixDriver::echoServer(arguments.at(2), quint16(arguments.at(3).toUInt()));
    if (arguments.size() == 3 && arguments.at(1) == QLatin1String("--split")) {
        const QString names = arguments.at(2);
        Tavrix::SplitTunnelControl::apply(names == QLatin1String("none") ? QStringList()
                                                                         : names.split(QLatin1Char(',')));
        return 0;
    }
    if (arguments.size() == 2 && arguments.at(1) == QLatin1String("--split-stop")) {
        Tavrix::SplitTunnelControl::shutdown();
        return 0;
    }

    TavrixDriver::reportMessages();
    OpenConnectConnection::initTls();
    const auto controller = OpenConnectConnection::instance();
    controller->setType(OpenConnectConnection::OPENCONNECT);
    controller->setServer(std::make_shared<Tavrix::OpenConnectServer>());
    QObject::connect(controller.get(), &OpenConnectConnection::serverKeyChanged, &app,
                     [](const QString &server, const QString &storedPin, const QString &offeredPin) {
                         refusedServer = server;
                         refusedPin = offeredPin;
                         emitLine(QStringLiteral("KEYCHANGED %1 %2 %3").arg(server, storedPin, offeredPin));
                     });
    QObject::connect(controller.get(), &OpenConnectConnection::statsChanged, &app,
                     [](uint64_t tx, uint64_t rx) { emitLine(QStringLiteral("STATS %1 %2").arg(tx).arg(rx)); });
    return TavrixDriver::run(handleCommand);
}
