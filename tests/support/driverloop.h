#pragma once

// The program side of a lab driver (labdriver.h): a small program run inside the client
// namespace that drives the real controller from commands on standard input, one per line,
// and reports on standard output, one line each:
//   READY             when it takes commands; EXIT when it ends
//   STATUS <n> <ms>   statusChanged (ms since the last command that restarted the clock)
//   LOG <text>        every message of the client
// plus whatever its own commands report. "quit" ends it, as does the end of its input.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QMutex>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>

#include <cstdio>
#include <functional>
#include <unistd.h>

#include "vpn/openconnectconnection.h"

namespace TavrixDriver {

// Since the last command that restarted it: the STATUS lines' milliseconds.
inline QElapsedTimer &sinceCommand()
{
    static QElapsedTimer timer;
    return timer;
}

// One report line (from any thread).
inline void emitLine(const QString &line)
{
    static QMutex lock;
    QMutexLocker locker(&lock);
    QByteArray bytes = line.toUtf8();
    bytes.replace('\n', ' ');
    bytes += '\n';
    fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    fflush(stdout);
}

// The application's identity, as the client sets it at start-up.
inline void setIdentity()
{
    QCoreApplication::setApplicationName(QStringLiteral("TavrixVPN"));
    QCoreApplication::setOrganizationName(QStringLiteral("Quennark"));
}

// Every message of the client as a LOG line from now on (before anything that may log).
inline void reportMessages()
{
    qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext &, const QString &text) { emitLine(QStringLiteral("LOG ") + text); });
    if (!sinceCommand().isValid())
        sinceCommand().start();
}

// Reports the controller's messages and statuses, then runs the command loop: each line but
// "quit" goes to handleCommand as its first word and the rest. Returns the exit code.
inline int run(const std::function<void(const QString &command, const QString &argument)> &handleCommand)
{
    reportMessages();
    using Tavrix::OpenConnectConnection;
    const auto controller = OpenConnectConnection::instance();
    QObject::connect(controller.get(), &OpenConnectConnection::statusChanged, qApp,
                     [](OpenConnectConnection::Status status) {
                         emitLine(QStringLiteral("STATUS %1 %2").arg(int(status)).arg(sinceCommand().elapsed()));
                     });

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QByteArray pending;
    QObject::connect(&input, &QSocketNotifier::activated, qApp, [&] {
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
            const QString command = line.section(QLatin1Char(' '), 0, 0);
            if (command == QLatin1String("quit"))
                QCoreApplication::quit();
            else if (!line.isEmpty())
                handleCommand(command, line.section(QLatin1Char(' '), 1));
        }
    });
    emitLine(QStringLiteral("READY"));
    const int code = QCoreApplication::exec();
    emitLine(QStringLiteral("EXIT"));
    return code;
}

// A TCP echo server on address:port until the program is stopped.
inline int echoServer(const QString &address, quint16 port)
{
    QTcpServer server;
    if (!server.listen(QHostAddress(address), port)) {
        fprintf(stderr, "listen: %s\n", qPrintable(server.errorString()));
        return 1;
    }
    QObject::connect(&server, &QTcpServer::newConnection, &server, [&server] {
        while (QTcpSocket *socket = server.nextPendingConnection()) {
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket] { socket->write(socket->readAll()); });
            QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
    return QCoreApplication::exec();
}

} // namespace TavrixDriver
