#include "vpn/outlineclient.h"

#include <QDebug>
#include <QFile>
#include <QFutureWatcher>
#include <QMutex>
#include <QtConcurrent>

#include "common/config.h"
#include "platform/outlinecommands.h"
#include "platform/paths.h"
#include "platform/privilegedhelper.h"
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

// This client's Outline tunnels in the privileged helper. A disconnect is run by a runner of
// its own that never saw the connect, so the tunnels are known process-wide.
struct HelperTunnels
{
    QMutex lock;
    QStringList ids;
    // The last disconnect's stops: a new tunnel waits for them, as for disconnect.sh.
    QFuture<void> stopping;
};

HelperTunnels &helperTunnels()
{
    static HelperTunnels tunnels;
    return tunnels;
}

} // namespace

struct OutlineClient::PoolLink
{
    mutable QMutex lock;
    OutlineClient *client = nullptr;
    bool cancelled = false;
    // The server host, written by the connect step, read by the route step.
    QString host;
    // Set up by the privileged helper (device, engine and routes), as this tunnel.
    bool viaHelper = false;
    QString tunnelId;
    QString refusal;
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

QString OutlineClient::refusal() const
{
    QMutexLocker locker(&m_link->lock);
    return m_link->refusal;
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

    if (PrivilegedHelper::isAvailable())
        return connectThroughHelper(link, host, port, password, method);

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

bool OutlineClient::connectThroughHelper(const std::shared_ptr<PoolLink> &link, const QString &host,
                                         const QString &port, const QString &password, const QString &method)
{
    QFuture<void> stopping;
    {
        QMutexLocker locker(&helperTunnels().lock);
        stopping = helperTunnels().stopping;
    }
    stopping.waitForFinished();
    {
        QMutexLocker locker(&link->lock);
        if (!link->client || link->cancelled) {
            engineLog(QStringLiteral("Outline connect cancelled before the tunnel started"));
            return false;
        }
        link->host = host;
        link->viaHelper = true;
        // The engine's lines, for the log; registered on the runner's thread well before the
        // engine has resolved the server and started its Shadowsocks helpers.
        OutlineClient *client = link->client;
        QMetaObject::invokeMethod(
            client,
            [client, link] {
                PrivilegedHelper::watchOutput(client, [link](const QString &tunnelId, const QString &line) {
                    QMutexLocker locker(&link->lock);
                    if (link->tunnelId.isEmpty() || link->tunnelId == tunnelId)
                        engineLog(QStringLiteral("tun2socks > ") + line);
                });
            },
            Qt::QueuedConnection);
    }
    bool portOk = false;
    const uint portNumber = port.toUInt(&portOk);
    PrivilegedHelper::Started started;
    if (portOk)
        started = PrivilegedHelper::startOutline(host, portNumber, password, method);
    else
        started.error = QStringLiteral("the server's port \"%1\" is not a number").arg(port.left(20));
    {
        QMutexLocker locker(&link->lock);
        if (started.ok && (!link->client || link->cancelled)) {
            // Given up meanwhile: its disconnect did not know this tunnel yet.
            locker.unlock();
            PrivilegedHelper::stop(started.tunnelId);
            engineLog(QStringLiteral("Outline connect cancelled; its tunnel was taken down"));
            return false;
        }
        if (started.ok) {
            link->tunnelId = started.tunnelId;
            QMutexLocker tunnels(&helperTunnels().lock);
            helperTunnels().ids.append(started.tunnelId);
            engineLog(QStringLiteral("Outline tunnel is up (through the TavrixVPN helper)"));
        } else {
            // Refused or failed: said to the user (the controller reads the refusal once this
            // step has ended), and the attempt ends here.
            engineLog(QStringLiteral("The Outline tunnel could not be started: ") + started.error);
            QString sentence = started.error.trimmed();
            if (!sentence.isEmpty()) {
                sentence[0] = sentence.at(0).toUpper();
                if (!sentence.endsWith(QLatin1Char('.')))
                    sentence += QLatin1Char('.');
            }
            link->refusal = sentence;
        }
    }
    if (!started.ok) {
        post(link, &OutlineClient::disconnected);
        return false;
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
    bool viaHelper = false;
    {
        QMutexLocker locker(&m_link->lock);
        viaHelper = m_link->viaHelper;
    }
    if (viaHelper) {
        // The helper set the routes before it answered.
        qDebug() << "route configed done";
        post(m_link, &OutlineClient::routeConfiged);
        return;
    }
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
    QString helperTunnel;
    bool viaHelper = false;
    {
        QMutexLocker locker(&m_link->lock);
        viaHelper = m_link->viaHelper;
        helperTunnel = m_link->tunnelId;
    }
    if (viaHelper) {
        if (helperTunnel.isEmpty() || !PrivilegedHelper::isRunning(helperTunnel)) {
            engineLog(QStringLiteral("The Outline tunnel is not running; taking it down"));
            disconnectServer();
        }
        return;
    }
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
    HelperTunnels &tunnels = helperTunnels();
    QMutexLocker locker(&tunnels.lock);
    const QStringList ids = std::exchange(tunnels.ids, {});
    if (!ids.isEmpty()) {
        // Only our own tunnels, by the ids the helper gave: nothing is looked up by name.
        // Without the application (the very end) the helper takes them down as we leave.
        if (QCoreApplication::instance()) {
            // A pool of their own: the connect that waits for them runs on the global one.
            static QThreadPool stopPool;
            tunnels.stopping = QtConcurrent::run(&stopPool, [ids] {
                for (const QString &id : ids) {
                    QString error;
                    if (!PrivilegedHelper::stop(id, &error))
                        engineLog(QStringLiteral("The Outline tunnel could not be stopped: ") + error);
                }
            });
        }
    } else if (!QCoreApplication::instance() || !PrivilegedHelper::isAvailable()) {
        OutlineCommands::startScript(QStringLiteral("disconnect.bat"), {});
    }
    locker.unlock();
    emit disconnected();
}

} // namespace Tavrix
