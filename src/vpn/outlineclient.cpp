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

struct OutlineClient::PoolLink
{
    mutable QMutex lock;
    OutlineClient *client = nullptr;
    bool cancelled = false;
    // The server host, written by the connect step, read by the route step.
    QString host;
};

OutlineClient::OutlineClient(QObject *parent)
    : QObject(parent)
    , m_link(std::make_shared<PoolLink>())
{
    m_link->client = this;
    connect(this, &OutlineClient::tun2socksStarted, this, &OutlineClient::configureRoutes, Qt::QueuedConnection);
}

OutlineClient::~OutlineClient()
{
    bool cancelled = false;
    {
        QMutexLocker locker(&m_link->lock);
        m_link->client = nullptr;
        cancelled = m_link->cancelled;
    }
    if (!cancelled)
        disconnectServer();
}

void OutlineClient::cancel()
{
    QMutexLocker locker(&m_link->lock);
    m_link->cancelled = true;
}

bool OutlineClient::isCancelled() const
{
    QMutexLocker locker(&m_link->lock);
    return m_link->cancelled;
}

void OutlineClient::post(const std::shared_ptr<PoolLink> &link, void (OutlineClient::*signal)())
{
    QMutexLocker locker(&link->lock);
    OutlineClient *client = link->client;
    if (!client || link->cancelled)
        return;
    // Posted, not emitted here: a receiver may cancel, which takes this lock.
    QMetaObject::invokeMethod(
        client,
        [client, signal] {
            if (!client->isCancelled())
                emit(client->*signal)();
        },
        Qt::QueuedConnection);
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
    return runConnect(m_link);
}

std::function<bool()> OutlineClient::connectStep()
{
    const std::shared_ptr<PoolLink> link = m_link;
    return [link] { return runConnect(link); };
}

bool OutlineClient::runConnect(const std::shared_ptr<PoolLink> &link)
{
    post(link, &OutlineClient::connectingServer);

    const auto config = Config::instance();
    const QString host = config->shadowsocksHost();
    const QString port = config->shadowsocksPort();
    const QString password = config->shadowsocksPassword();
    const QString method = config->shadowsocksMethod();
    // The password stays out of the log.
    qDebug().noquote() << host << port << (password.isEmpty() ? QStringLiteral("(none)") : QStringLiteral("********"))
                       << method;

    // A disconnect just before (a change of server) must have finished its clean-up, or it
    // would take this tunnel's set-up along.
    if (!OutlineCommands::waitForScripts(QStringLiteral("disconnect.bat"), disconnectWaitMs))
        engineLog(QStringLiteral("disconnect.bat is still running; starting the tunnel anyway"));

    {
        // Started under the lock: a cancel either comes first and nothing starts, or after,
        // and the disconnect that follows it stops this program.
        QMutexLocker locker(&link->lock);
        if (!link->client || link->cancelled) {
            engineLog(QStringLiteral("Outline connect cancelled before the tunnel started"));
            return false;
        }
        link->host = host;
        // A fresh log per tunnel: the final check copies it into the application log.
        QFile::remove(tunnelLogPath());
        if (!OutlineCommands::startTunnelProgram(tunnelArguments(host, port, password, method), tunnelLogPath()))
            engineLog(QStringLiteral("tun2socks could not be started"));
    }
    post(link, &OutlineClient::tun2socksStarted);
    return true;
}

void OutlineClient::configureRoutes()
{
    connect(this, &OutlineClient::routeConfiged, this, &OutlineClient::checkTunnel,
            Qt::ConnectionType(Qt::QueuedConnection | Qt::UniqueConnection));

    if (isCancelled())
        return;
    auto *watcher = new QFutureWatcher<bool>(this);
    connect(watcher, &QFutureWatcher<bool>::finished, this, [watcher] {
        renewDhcpLease();
        qDebug() << "route configed done";
        watcher->deleteLater();
    });
    const std::shared_ptr<PoolLink> link = m_link;
    QString host;
    {
        QMutexLocker locker(&m_link->lock);
        host = m_link->host;
    }
    watcher->setFuture(QtConcurrent::run([link, host] {
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
        post(link, &OutlineClient::routeConfiged);
        return true;
    }));
}

void OutlineClient::checkTunnel()
{
    if (isCancelled())
        return;
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
