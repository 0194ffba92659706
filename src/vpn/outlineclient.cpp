#include "vpn/outlineclient.h"

#include <QDebug>
#include <QFile>
#include <QFutureWatcher>
#include <QMutex>
#include <QtConcurrent>

#include "common/config.h"
#include "platform/outlinecommands.h"
#include "platform/paths.h"
#include "vpn/enginelog.h"

namespace Tavrix {

namespace {

constexpr int commandWaitMs = 30000;
// disconnect.sh gives the tunnel program 5 s to end before it kills it.
constexpr int disconnectWaitMs = 10000;

void renewDhcpLease()
{
    const OutlineCommands::Result result = OutlineCommands::renewDhcpLease(commandWaitMs);
    if (!result.finished)
        qDebug() << "Error: Failed to finish process.";
    qDebug() << "Process finished with exit code:" << result.exitCode;
}

// Copies what the tunnel program has written so far into the application log.
void importTunnelLog()
{
    QFile file(OutlineClient::tunnelLogPath());
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return;
    while (!file.atEnd()) {
        const QString line = QString::fromLocal8Bit(file.readLine()).trimmed();
        if (!line.isEmpty())
            engineLog(QStringLiteral("tun2socks > ") + line);
    }
}

} // namespace

struct OutlineClient::RouteTask
{
    QMutex lock;
    OutlineClient *client = nullptr;
};

OutlineClient::OutlineClient(QObject *parent)
    : QObject(parent)
    , m_routeTask(std::make_shared<RouteTask>())
{
    m_routeTask->client = this;
    connect(this, &OutlineClient::tun2socksStarted, this, &OutlineClient::configureRoutes, Qt::QueuedConnection);
}

OutlineClient::~OutlineClient()
{
    {
        QMutexLocker locker(&m_routeTask->lock);
        m_routeTask->client = nullptr;
    }
    disconnectServer();
}

QStringList OutlineClient::tunnelArguments(const QString &host, const QString &port, const QString &password,
                                           const QString &method)
{
    return {QStringLiteral("-tunName"),       QStringLiteral("TavrixVPN"),
            QStringLiteral("-tunDNS"),        QStringLiteral("1.1.1.1,9.9.9.9"),
            QStringLiteral("-tunAddr"),       QStringLiteral("10.0.85.2"),
            QStringLiteral("-tunGw"),         QStringLiteral("10.0.85.1"),
            QStringLiteral("-tunMask"),       QStringLiteral("255.255.255.0"),
            QStringLiteral("-proxyHost"),     host,
            QStringLiteral("-proxyPort"),     port,
            QStringLiteral("-proxyPassword"), password,
            QStringLiteral("-proxyCipher"),   method};
}

bool OutlineClient::tunnelProgramRunning(const QByteArray &processList)
{
    return !processList.trimmed().isEmpty();
}

QString OutlineClient::tunnelLogPath()
{
    return engineFolder() + QStringLiteral("tun2socks.log");
}

bool OutlineClient::connectServer()
{
    emit connectingServer();

    const auto config = Config::instance();
    const QString host = config->shadowsocksHost();
    const QString port = config->shadowsocksPort();
    const QString password = config->shadowsocksPassword();
    const QString method = config->shadowsocksMethod();
    // The password stays out of the log.
    qDebug().noquote() << host << port << (password.isEmpty() ? QStringLiteral("(none)") : QStringLiteral("********"))
                       << method;
    m_host = host;

    // A disconnect just before (a change of server) must have finished its clean-up, or it
    // would take this tunnel's set-up along.
    if (!OutlineCommands::waitForScripts(QStringLiteral("disconnect.bat"), disconnectWaitMs))
        engineLog(QStringLiteral("disconnect.bat is still running; starting the tunnel anyway"));

    // A fresh log per tunnel: the final check copies it into the application log.
    QFile::remove(tunnelLogPath());
    if (!OutlineCommands::startTunnelProgram(tunnelArguments(host, port, password, method), tunnelLogPath()))
        engineLog(QStringLiteral("tun2socks could not be started"));
    emit tun2socksStarted();
    return true;
}

void OutlineClient::configureRoutes()
{
    connect(this, &OutlineClient::routeConfiged, this, &OutlineClient::checkTunnel,
            Qt::ConnectionType(Qt::QueuedConnection | Qt::UniqueConnection));

    auto *watcher = new QFutureWatcher<bool>(this);
    connect(watcher, &QFutureWatcher<bool>::finished, this, [watcher] {
        renewDhcpLease();
        qDebug() << "route configed done";
        watcher->deleteLater();
    });
    const std::shared_ptr<RouteTask> task = m_routeTask;
    const QString host = m_host;
    watcher->setFuture(QtConcurrent::run([task, host] {
        // Waited for, unlike the tunnel program: CONNECTED must not be reported while the
        // routes still lead past the tunnel. The script itself waits for the tunnel to come up.
        const OutlineCommands::Result result =
            OutlineCommands::runScript(QStringLiteral("route-config.bat"), {host}, commandWaitMs);
        for (const QByteArray &line : result.output.split('\n')) {
            if (!line.trimmed().isEmpty())
                engineLog(QStringLiteral("route-config > ") + QString::fromLocal8Bit(line.trimmed()));
        }
        if (!result.finished || result.exitCode != 0)
            engineLog(QStringLiteral("route-config failed (exit code %1)").arg(result.exitCode));
        renewDhcpLease();
        QMutexLocker locker(&task->lock);
        if (task->client)
            emit task->client->routeConfiged();
        return true;
    }));
}

void OutlineClient::checkTunnel()
{
    emit connected();
    importTunnelLog();
    const OutlineCommands::Result result = OutlineCommands::listTunnelPrograms(commandWaitMs);
    if (!result.finished)
        qDebug() << "Error: Process failed to execute.";
    if (!tunnelProgramRunning(result.output)) {
        engineLog(QStringLiteral("tun2socks is not running; taking the tunnel down"));
        // Whatever it set up before it ended must not keep redirecting traffic into nothing.
        disconnectServer();
    }
}

void OutlineClient::disconnectServer()
{
    OutlineCommands::startScript(QStringLiteral("disconnect.bat"), {});
    emit disconnected();
}

} // namespace Tavrix
