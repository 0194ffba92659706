// The client side of the Outline tests and benchmark, run inside the client namespace: the
// real controller with an Outline server, reporting on standard output one line each:
//   STATUS <n> <ms>   statusChanged (ms since the last "connect" or "disconnect")
//   LOG <text>        every message of the client, the application log included
//   RUNNERS <n>       Outline runner objects the controller holds
// Commands on standard input, one per line: address HOST:PORT, config JSON (the server
// entry's Shadowsocks "method" and "password"), connect, disconnect, runners, quit.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMutex>
#include <QSocketNotifier>

#include <cstdio>
#include <unistd.h>

#include "common/config.h"
#include "vpn/openconnectconnection.h"
#include "vpn/outlineclient.h"

using Tavrix::OpenConnectConnection;

namespace {

QElapsedTimer sinceCommand;

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

void handleCommand(const QString &line)
{
    const auto controller = OpenConnectConnection::instance();
    const QString command = line.section(QLatin1Char(' '), 0, 0);
    const QString argument = line.section(QLatin1Char(' '), 1);
    if (command == QLatin1String("address")) {
        Tavrix::Config::instance()->setShadowsocksAddress(argument);
    } else if (command == QLatin1String("config")) {
        Tavrix::Config::instance()->setShadowsocksConfig(argument);
    } else if (command == QLatin1String("connect")) {
        sinceCommand.restart();
        controller->setType(OpenConnectConnection::OUTLINE);
        controller->connect();
    } else if (command == QLatin1String("disconnect")) {
        sinceCommand.restart();
        controller->disconnectVpn();
    } else if (command == QLatin1String("runners")) {
        // Runners of ended attempts go with the next event loop turn.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        emitLine(QStringLiteral("RUNNERS %1").arg(controller->findChildren<Tavrix::OutlineClient *>().size()));
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
    sinceCommand.start();
    const auto controller = OpenConnectConnection::instance();
    QObject::connect(controller.get(), &OpenConnectConnection::statusChanged, &app,
                     [](OpenConnectConnection::Status status) {
                         emitLine(QStringLiteral("STATUS %1 %2").arg(int(status)).arg(sinceCommand.elapsed()));
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
