#include "vpn/wireguard.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDebug>
#include <QFile>
#include <QHostAddress>
#include <QNetworkInterface>
#include <QThread>
#include <QTimer>

#include "common/config.h"
#include "common/user.h"
#include "helperproto/wireguardconfig.h"
#include "platform/elevatedstart.h"
#include "platform/engineprocesses.h"
#include "platform/paths.h"
#include "platform/privatefile.h"
#include "platform/privilegedhelper.h"
#include "vpn/enginelog.h"
#include "vpn/engineprocess.h"

namespace Tavrix {

namespace {

const QString clientName = QStringLiteral("wireguard/wireguard-client.exe");
const QString imageName = QStringLiteral("wireguard-client.exe");

// wg-quick with the userspace implementation is up in well under a second; a slow machine
// still fits.
constexpr int tunnelWaitMs = 20000;
constexpr int pollMs = 25;
// The process list is read less often than the interfaces: it is the dearer look-up.
constexpr int processCheckEvery = 4;
// How often a running tunnel is checked for a client program that ended on its own.
constexpr int watchMs = 2000;

QString clientOutputFile()
{
    return engineFolder() + QStringLiteral("wireguard-client.log");
}

} // namespace

Wireguard::Wireguard(ConfigFetch fetchConfig, QObject *parent)
    : QObject(parent)
    , m_fetchConfig(std::move(fetchConfig))
{
    // The controller outlives the application object; the tunnel must not, and stopping it
    // needs the application (paths, log) still there.
    if (QCoreApplication *app = QCoreApplication::instance()) {
        QObject::connect(app, &QCoreApplication::aboutToQuit, this, [this] {
            if (m_ownsClient)
                disconnectServer();
        });
    }
    // Through the helper the client program's lines reach us as its owner; they go to our log
    // as the program's own output file does on the direct path. Lines that come while the
    // start is still under way wait until its tunnel's name is known.
    PrivilegedHelper::watchOutput(this, [this](const QString &tunnelId, const QString &line) {
        if (helperTunnel().isEmpty()) {
            if (m_earlyOutput.size() < maxEarlyOutput)
                m_earlyOutput.append({tunnelId, line});
            return;
        }
        flushEarlyOutput();
        if (tunnelId == helperTunnel())
            engineLog(QStringLiteral("WireGuard > ") + line);
    });
}

void Wireguard::flushEarlyOutput()
{
    const QString ours = helperTunnel();
    for (const auto &[earlyId, earlyLine] : qAsConst(m_earlyOutput)) {
        if (earlyId == ours)
            engineLog(QStringLiteral("WireGuard > ") + earlyLine);
    }
    m_earlyOutput.clear();
}

Wireguard::~Wireguard()
{
    if (m_ownsClient && QCoreApplication::instance())
        disconnectServer();
}

QString Wireguard::configFilePath()
{
    return engineFolder() + QStringLiteral("wireguard.conf");
}

QString Wireguard::clientProgram()
{
    return EngineProcesses::enginePath(clientName);
}

QStringList Wireguard::clientArguments(const QString &configFile)
{
    // The file is named, so that the elevated program never has to guess the user's data
    // folder (an elevation prompt does not pass the user's environment on).
    return {QStringLiteral("run"), configFile};
}

bool Wireguard::isConfiguration(const QString &text, QString *reason)
{
    return HelperProto::parseWireGuardConfig(text, nullptr, reason);
}

QString Wireguard::tunnelAddress(const QString &text)
{
    HelperProto::WireGuardConfig config;
    return HelperProto::parseWireGuardConfig(text, &config, nullptr) ? HelperProto::wireGuardTunnelAddress(config)
                                                                     : QString();
}

QString Wireguard::gatewayAddress(const QString &text)
{
    HelperProto::WireGuardConfig config;
    if (!HelperProto::parseWireGuardConfig(text, &config, nullptr))
        return QString();
    for (const QString &entry : qAsConst(config.addresses)) {
        const QPair<QHostAddress, int> network = QHostAddress::parseSubnet(entry.trimmed());
        const QHostAddress own(entry.trimmed().section(QLatin1Char('/'), 0, 0));
        if (network.first.protocol() != QAbstractSocket::IPv4Protocol || network.second > 30)
            continue;
        quint32 gateway = network.first.toIPv4Address() + 1;
        if (gateway == own.toIPv4Address())
            ++gateway;
        return QHostAddress(gateway).toString();
    }
    for (const QString &entry : qAsConst(config.dns)) {
        QHostAddress server;
        if (server.setAddress(entry.trimmed()) && server.protocol() == QAbstractSocket::IPv4Protocol)
            return server.toString();
    }
    return QString();
}

QString Wireguard::probeAddress() const
{
    QMutexLocker locker(&m_probeLock);
    return m_probeAddress;
}

bool Wireguard::connectServer()
{
    // A runner connects once. A disconnect may come before this step has even started on its
    // thread (a reconnect attempt queued behind another step): it stays in force.
    if (m_cancelled)
        return false;
    emit connectingServer();
    // An earlier client program ends when its file goes, even one we may not signal.
    removeConfiguration();
    killWindowsProcess();

    const IPBundlePtr entry = User::instance()->activeBundle();
    const int vpnserverId = entry ? entry->vpn_server_id() : 0;
    const int ipId = entry ? entry->ip_id() : 0;
    const int connectionType = entry ? entry->connection_type() : 0;
    Config::setWireGuardServer(vpnserverId, ipId, connectionType);
    qDebug() << "Connect vpnserverId:" << vpnserverId;
    qDebug() << "Connect ipId:" << ipId;
    qDebug() << "Connect connectionType:" << connectionType;

    const QString text = m_fetchConfig ? m_fetchConfig(vpnserverId, ipId, connectionType) : QString();
    if (m_cancelled)
        return false;
    if (text.trimmed().isEmpty()) {
        fail(QStringLiteral("Configuration is empty. Unable to proceed."));
        return false;
    }
    // The client program gets the configuration rebuilt from the fields that passed: never a
    // hook, routing table or mark of the service's choosing.
    HelperProto::WireGuardConfig config;
    QString reason;
    if (!HelperProto::parseWireGuardConfig(text, &config, &reason)) {
        m_refusal = reason;
        fail(QStringLiteral("The service's reply is not a WireGuard configuration this client accepts. ") + reason +
             QStringLiteral(" Unable to proceed."));
        return false;
    }

    {
        QMutexLocker locker(&m_probeLock);
        m_probeAddress = gatewayAddress(text);
    }
    if (PrivilegedHelper::isAvailable())
        return startThroughHelper(text);
    // Without the helper only a root client can bring the tunnel up itself.
    if (!ElevatedStart::hasNetworkRights()) {
        fail(QStringLiteral("Failed to start detached process. The TavrixVPN helper service is not running."));
        return false;
    }
    const QString path = configFilePath();
    QString error;
    if (!writePrivateFile(path, HelperProto::wireGuardQuickText(config).toUtf8(), &error)) {
        fail(QStringLiteral("Failed to open config file for writing. ") + error);
        return false;
    }
    return startElevated(path, HelperProto::wireGuardTunnelAddress(config));
}

bool Wireguard::startThroughHelper(const QString &text)
{
    const PrivilegedHelper::Started started = PrivilegedHelper::startWireGuard(text);
    if (started.ok && m_cancelled) {
        PrivilegedHelper::stop(started.tunnelId);
        return false;
    }
    if (!started.ok) {
        fail(QStringLiteral("Failed to start detached process. ") + started.error);
        return false;
    }
    {
        QMutexLocker lock(&m_helperLock);
        m_helperTunnel = started.tunnelId;
    }
    m_ownsClient = true;
    // The program's lines from its start, which came before the tunnel's name was known.
    QMetaObject::invokeMethod(this, &Wireguard::flushEarlyOutput, Qt::QueuedConnection);
    engineLog(QStringLiteral("WireGuard tunnel is up (through the TavrixVPN helper)"));
    QMetaObject::invokeMethod(this, &Wireguard::watchClient, Qt::QueuedConnection);
    emit connected();
    return true;
}

QString Wireguard::helperTunnel()
{
    QMutexLocker lock(&m_helperLock);
    return m_helperTunnel;
}

QString Wireguard::takeHelperTunnel()
{
    QMutexLocker lock(&m_helperLock);
    m_interface.clear();
    QString tunnel;
    tunnel.swap(m_helperTunnel);
    return tunnel;
}

HelperProto::WireGuardStats Wireguard::health(QString *error)
{
    QString tunnel;
    QString device;
    {
        QMutexLocker lock(&m_helperLock);
        tunnel = m_helperTunnel;
        device = m_interface;
    }
    if (!tunnel.isEmpty())
        return PrivilegedHelper::wireGuardHealth(tunnel, error);
    if (device.isEmpty()) {
        *error = QStringLiteral("no tunnel");
        return HelperProto::WireGuardStats();
    }
    // The engine answers at once; a stuck one must not hold the check.
    return HelperProto::readWireGuardStats(device, 500, error);
}

bool Wireguard::clientRunning()
{
    const QString tunnel = helperTunnel();
    if (!tunnel.isEmpty())
        return PrivilegedHelper::isRunning(tunnel);
    return !EngineProcesses::find(clientName).isEmpty();
}

bool Wireguard::startElevated(const QString &configFile, const QString &address)
{
    QFile::remove(clientOutputFile());
    const ElevatedStart::Result started =
        ElevatedStart::start(clientProgram(), clientArguments(configFile), clientOutputFile());
    if (!started.started) {
        removeConfiguration();
        fail(QStringLiteral("Failed to start detached process. Error code: ") + QString::number(started.errorCode));
        return false;
    }
    m_ownsClient = true;
    return waitForTunnel(address);
}

bool Wireguard::waitForTunnel(const QString &address)
{
    const QHostAddress wanted(address);
    QDeadlineTimer deadline(tunnelWaitMs);
    for (int round = 1;; ++round) {
        if (m_cancelled) {
            // A disconnect that came while the program was being started found nothing to
            // stop yet: what this start brought up must not outlive it.
            removeConfiguration();
            if (EngineProcesses::stop(clientName) != 0)
                engineLog(QStringLiteral("Failed to terminate wireguard process."));
            return false;
        }
        const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
        for (const QNetworkInterface &interface : interfaces) {
            if (!(interface.flags() & QNetworkInterface::IsUp))
                continue;
            for (const QNetworkAddressEntry &entry : interface.addressEntries()) {
                if (entry.ip().isEqual(wanted)) {
                    engineLog(QStringLiteral("WireGuard tunnel is up on ") + interface.name());
                    {
                        QMutexLocker lock(&m_helperLock);
                        m_interface = interface.name();
                    }
                    QMetaObject::invokeMethod(this, &Wireguard::watchClient, Qt::QueuedConnection);
                    emit connected();
                    return true;
                }
            }
        }
        if (round % processCheckEvery == 0 && EngineProcesses::find(clientName).isEmpty()) {
            importClientOutput();
            removeConfiguration();
            fail(imageName + QStringLiteral(" is not running. The tunnel did not come up."));
            return false;
        }
        if (deadline.hasExpired())
            break;
        QThread::msleep(pollMs);
    }
    importClientOutput();
    killWindowsProcess();
    removeConfiguration();
    fail(QStringLiteral("The WireGuard tunnel did not come up within %1 s.").arg(tunnelWaitMs / 1000));
    return false;
}

void Wireguard::fail(const QString &text)
{
    m_ownsClient = false;
    engineLog(text);
    emit disconnected();
}

void Wireguard::importClientOutput()
{
    QFile file(clientOutputFile());
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return;
    const QStringList lines = QString::fromLocal8Bit(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString &line : lines)
        engineLog(QStringLiteral("WireGuard > ") + line.trimmed());
}

void Wireguard::removeConfiguration()
{
    // It holds the private key: it lives only as long as the tunnel.
    QFile::remove(configFilePath());
}

void Wireguard::watchClient()
{
    if (m_cancelled)
        return;
    if (!m_watch) {
        m_watch = new QTimer(this);
        m_watch->setInterval(watchMs);
        QObject::connect(m_watch, &QTimer::timeout, this, [this] {
            if (clientRunning())
                return;
            m_watch->stop();
            takeHelperTunnel();
            importClientOutput();
            removeConfiguration();
            fail(imageName + QStringLiteral(" has ended; the tunnel is down."));
        });
    }
    m_watch->start();
}

void Wireguard::stopWatching()
{
    m_cancelled = true;
    m_ownsClient = false;
    if (m_watch)
        m_watch->stop();
}

void Wireguard::disconnectServer()
{
    beginDisconnect();
    killWindowsProcess();
    emit disconnected();
}

QFuture<bool> Wireguard::disconnectServerLater()
{
    beginDisconnect();
    // Only static helpers run there; the runner outlives the future (its owner waits for it).
    return runOffThread(
        this, [this] { killWindowsProcess(); }, [this] { emit disconnected(); });
}

void Wireguard::beginDisconnect()
{
    m_cancelled = true;
    m_ownsClient = false;
    if (m_watch)
        m_watch->stop();
    // The file goes first: a client program running with other rights than ours, which a
    // signal from us may not reach, ends when its file goes.
    removeConfiguration();
}

void Wireguard::startWireguardProcess(const QString &configFilePath, const QString &command)
{
    // The tunnel is started elevated by the connect step on this platform.
    Q_UNUSED(configFilePath)
    Q_UNUSED(command)
}

void Wireguard::onProcessFinished(int exitCode)
{
    engineLog(QStringLiteral("Process finished with exit code: ") + QString::number(exitCode));
    if (exitCode != 0)
        emit disconnected();
    else
        emit connected();
}

void Wireguard::killWindowsProcess()
{
    const QString tunnel = takeHelperTunnel();
    if (!tunnel.isEmpty()) {
        QString error;
        if (!PrivilegedHelper::stop(tunnel, &error))
            engineLog(QStringLiteral("Failed to terminate wireguard process. ") + error);
        engineLog(imageName + QStringLiteral(" was running and has been killed."));
        return;
    }
    // The helper's programs are its own: an earlier window's tunnel ended with that window.
    if (PrivilegedHelper::isAvailable() || EngineProcesses::find(clientName).isEmpty()) {
        engineLog(imageName + QStringLiteral(" is not running."));
        return;
    }
    if (EngineProcesses::stop(clientName) != 0)
        engineLog(QStringLiteral("Failed to terminate wireguard process."));
    engineLog(imageName + QStringLiteral(" was running and has been killed."));
}

} // namespace Tavrix
