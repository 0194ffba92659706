#include "vpn/openconnectconnection.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QProcess>
#include <QProcessEnvironment>
#include <QScopeGuard>
#include <QTextStream>
#include <QThread>
#include <QtConcurrent>

#include <algorithm>
#include <gnutls/gnutls.h>
#include <openconnect.h>
#include <utility>

#include "platform/commandsocket.h"
#include "platform/networkwatch.h"
#include "platform/privatefiles.h"
#include "platform/privilegedhelper.h"
#include "platform/privileges.h"
#include "platform/sleepwatch.h"
#include "vpn/enginelog.h"
#include "vpn/engineprocess.h"
#include "vpn/openconnectserver.h"
#include "vpn/openconnectsession.h"
#include "vpn/openconnecttun.h"
#include "vpn/openvpnrunner.h"
#include "vpn/outlineclient.h"
#include "vpn/reconnector.h"
#include "vpn/serverkeystore.h"
#include "vpn/v2ray.h"
#include "vpn/wireguard.h"
#include "vpn/xrayengine.h"
#include "vpn/xrayshadosocks.h"

namespace Tavrix {

namespace {

// How long stopping waits for the session to log off and take the tunnel down.
constexpr int sessionStopWaitMs = 15000;
// How long destruction waits for connect steps of the external engines.
constexpr int engineStepWaitMs = 5000;

QMutex dnsLock;

// How often a tunnel that is up is looked at (the OpenConnect session's state, a WireGuard
// tunnel's answer).
constexpr int healthCheckMs = 1000;
// How long a tunnel must have been up before its end counts as a loss to bring back.
constexpr qint64 establishedMs = 3000;
// Missed answers in a row after which an OpenConnect tunnel counts as lost.
constexpr int probeFailuresForLoss = 2;
// Failed checks in a row (the second at once after the first) after which a proxy's server
// counts as lost.
constexpr int proxyFailuresForLoss = 2;

// The reason of the tunnel script's last run in the session's folder ("connect",
// "attempt-reconnect", "reconnect", ...), from the line our script stand-in writes first.
QString lastScriptReason(const QString &folder)
{
    QFile file(folder + QStringLiteral("/vpnc.log"));
    if (folder.isEmpty() || !file.open(QIODevice::ReadOnly))
        return QString();
    const qint64 size = file.size();
    if (size > OpenConnectConnection::engineLogImportLimit)
        file.seek(size - OpenConnectConnection::engineLogImportLimit);
    QString reason;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine(4096);
        if (line.startsWith("vpnc-script: "))
            reason = QString::fromLatin1(line.mid(13).split(' ').value(0).trimmed());
    }
    return reason;
}

QString pingProgram()
{
    for (const char *path : {"/usr/bin/ping", "/bin/ping"}) {
        if (QFileInfo(QString::fromLatin1(path)).isExecutable())
            return QString::fromLatin1(path);
    }
    return QString();
}

void replaceFirst(QString &text, const QString &placeholder, const QString &value)
{
    const int at = text.indexOf(placeholder);
    if (at >= 0)
        text.replace(at, placeholder.size(), value);
}

} // namespace

std::shared_ptr<OpenConnectConnection> OpenConnectConnection::instance()
{
    // The deleter keeps a controller whose session thread would not end: a callback must
    // never run into a destroyed controller, and at process exit a kept object costs nothing.
    static std::shared_ptr<OpenConnectConnection> shared(new OpenConnectConnection, [](OpenConnectConnection *c) {
        if (c->stopSessionAndWait(sessionStopWaitMs))
            delete c;
        else
            qCritical() << "OpenConnect session did not end; controller kept alive";
    });
    return shared;
}

void OpenConnectConnection::initTls()
{
    static const bool done = [] {
        gnutls_global_init();
        openconnect_init_ssl();
        return true;
    }();
    Q_UNUSED(done)
}

OpenConnectConnection::OpenConnectConnection()
{
    qRegisterMetaType<Status>("Status");
    qRegisterMetaType<Status>("Tavrix::OpenConnectConnection::Status");
    qRegisterMetaType<uint64_t>("uint64_t");
    QObject::connect(this, &OpenConnectConnection::statusChanged, this, &OpenConnectConnection::onStatusChanged,
                     Qt::QueuedConnection);
    // Direct from this thread's engines, queued from the OpenConnect session thread.
    QObject::connect(this, &OpenConnectConnection::engineStatus, this, &OpenConnectConnection::onEngineStatus);

    m_reconnector = new Reconnector(this);
    QObject::connect(m_reconnector, &Reconnector::started, this, [this] {
        publish(CONNECTING);
        emit reconnectingChanged(true);
    });
    QObject::connect(m_reconnector, &Reconnector::attemptDue, this, &OpenConnectConnection::onReconnectAttempt);
    QObject::connect(m_reconnector, &Reconnector::finished, this, &OpenConnectConnection::onReconnectFinished);
    m_healthTimer.setInterval(healthCheckMs);
    m_livenessClock.start();
    m_proxyTimer.setSingleShot(true);
    QObject::connect(&m_proxyTimer, &QTimer::timeout, this, &OpenConnectConnection::checkProxy);
    QObject::connect(&m_healthTimer, &QTimer::timeout, this, &OpenConnectConnection::checkHealth);
    // The pool is drained when the application object goes away; a session left running
    // would keep it waiting for ever.
    if (QCoreApplication *app = QCoreApplication::instance()) {
        QObject::connect(app, &QCoreApplication::aboutToQuit, this, [this] { stopSessionAndWait(sessionStopWaitMs); });
    }
}

OpenConnectConnection::~OpenConnectConnection()
{
    stopSessionAndWait(sessionStopWaitMs);
    waitForEngineSteps(engineStepWaitMs);
    delete m_v2ray.data();
    if (sessionThreadRunning()) {
        // Destroying a running thread would abort the process; it ends with the process.
        qCritical() << "OpenConnect session thread still running at exit";
        (void)m_sessionThread.release();
    } else {
        releaseHandle();
    }
}

bool OpenConnectConnection::sessionThreadRunning() const
{
    return m_sessionThread && m_sessionThread->isRunning();
}

bool OpenConnectConnection::stopSessionAndWait(int timeoutMs)
{
    if (!sessionThreadRunning())
        return true;
    // Stop the session whatever engine type is selected now.
    if (m_commandFd != -1) {
        sendStop();
        m_commandFd = -1;
    }
    return m_sessionThread->wait(QDeadlineTimer(timeoutMs));
}

void OpenConnectConnection::setUsername(const QString &username)
{
    m_username = username;
    // A running session keeps answering with the credentials it started with.
    if (!m_sessionRunning && !sessionThreadRunning())
        m_sessionUsername = username;
}

void OpenConnectConnection::setPassword(const QString &password)
{
    m_password = password;
    if (!m_sessionRunning && !sessionThreadRunning())
        m_sessionPassword = password;
}

void OpenConnectConnection::setType(int type)
{
    m_type = type;
}

void OpenConnectConnection::setConfig(const QString &base64Config, const QString &address)
{
    QByteArray decoded = QByteArray::fromBase64(base64Config.toLatin1());
    const int nul = decoded.indexOf('\0');
    if (nul >= 0)
        decoded.truncate(nul);
    QString text = QString::fromLatin1(decoded);

    const QStringList parts = address.split(QLatin1Char(':'));
    const QString host = parts.value(0);
    const QString port = parts.value(1);
    replaceFirst(text, QStringLiteral("remoteIP"), host);
    replaceFirst(text, QStringLiteral("remotePort"), port);
    replaceFirst(text, QStringLiteral("remoteServerIP"), host);
    m_config = text;
}

void OpenConnectConnection::setServer(std::shared_ptr<OpenConnectServer> server)
{
    m_server = std::move(server);
}

void OpenConnectConnection::setWireGuardConfigFetch(std::function<QString(int, int, int)> fetch)
{
    m_wireGuardConfigFetch = std::move(fetch);
}

QString OpenConnectConnection::dns() const
{
    QMutexLocker locker(&dnsLock);
    return m_dns;
}

bool OpenConnectConnection::needsNetworkPrivilege(int type)
{
    // The proxy engines only listen on loopback; every other engine makes a tunnel device.
    // The WireGuard tunnel is brought up by the privileged helper (or by a root client itself).
    return type != XRAY_SHADOWSOCKS && type != V2RAY && type != WIREGUARD;
}

int OpenConnectConnection::connect()
{
    ++m_requestSerial;
    m_userStopped = false;
    // The user's own connect replaces whatever bringing back a lost tunnel was doing.
    if (m_reconnector->isActive()) {
        m_reconnector->cancel();
        stopEngineQuietly(true);
        emit reconnectingChanged(false);
    }
    ensureWatches();
    return startEngine();
}

int OpenConnectConnection::startEngine()
{
    // The epoch moves on only when an engine really starts (below): a refused connect leaves
    // the running one its say.
    m_attemptUp = false;
    m_probeAnswered = false;
    m_wireGuardLiveness.reset();
    m_healthReadable = false;
    m_healthReadFailures = 0;
    m_proxyFailures = 0;
    m_proxyAnswerMs = 0;
    // The Xray engines' connect step has had the service answer through the proxy already.
    m_proxyAnswered = m_type == XRAY_SHADOWSOCKS || m_type == V2RAY;
    m_proxyCheckClock.invalidate();
    if (needsNetworkPrivilege(m_type) && !Privileges::canManageNetwork()) {
        engineLog(Privileges::missingMessage());
        return MISSING_PRIVILEGE;
    }
    switch (m_type) {
    case OPENVPN:
        return connectOpenVpn();
    case OPENCONNECT:
        return connectOpenConnect();
    case XRAY_SHADOWSOCKS:
    case WIREGUARD:
    case V2RAY:
    case OUTLINE:
        connectRunner(m_type);
        return CONNECT_STARTED;
    default:
        // Nothing would start and no status would ever follow: say so instead of "started",
        // so that the caller's failure path (the kill switch's block among it) runs.
        engineLog(QStringLiteral("No engine for server type %1: nothing to connect to.").arg(m_type));
        return INVALID_SERVER;
    }
}

QString OpenConnectConnection::engineFailureText(int type)
{
    QString engine;
    switch (type) {
    case OPENVPN:
        engine = QStringLiteral("OpenVPN");
        break;
    case XRAY_SHADOWSOCKS:
        engine = QStringLiteral("Shadowsocks");
        break;
    case WIREGUARD:
        engine = QStringLiteral("WireGuard");
        break;
    case V2RAY:
        engine = QStringLiteral("V2Ray");
        break;
    case OUTLINE:
        engine = QStringLiteral("Outline");
        break;
    default:
        engine = QStringLiteral("VPN");
        break;
    }
    return QStringLiteral("The %1 connection could not be started. Please try another server.").arg(engine);
}

QString OpenConnectConnection::engineFailureText(int type, const QString &reason)
{
    if (reason.isEmpty())
        return engineFailureText(type);
    // The reason is a whole sentence of its own (a refused server configuration).
    QString text = engineFailureText(type);
    return text.insert(text.indexOf(QStringLiteral(" Please")), QLatin1Char(' ') + reason);
}

int OpenConnectConnection::connectOpenVpn()
{
    qDebug() << "Connecting Via Open VPN";
    if (m_config.isEmpty())
        return INVALID_SERVER;
    if (m_username.isEmpty() || m_password.isEmpty())
        return INVALID_CREDENTIALS;

    // A runner still alive from an earlier connect would keep its tunnel beside the new one:
    // end it quietly, its status no longer counts.
    if (OpenVpnRunner *previous = m_openVpnRunner.data()) {
        QObject::disconnect(previous, nullptr, this, nullptr);
        previous->disconnect();
    }
    auto *runner = new OpenVpnRunner(this);
    m_openVpnRunner = runner;
    const quint64 epoch = ++m_engineEpoch;
    QObject::connect(runner, &OpenVpnRunner::connected, this, [this, epoch] { reportEngine(CONNECTED, epoch); });
    QObject::connect(runner, &OpenVpnRunner::connecting, this, [this, epoch] { reportEngine(CONNECTING, epoch); });
    QObject::connect(runner, &OpenVpnRunner::disconnected, this, [this, epoch] { reportEngine(IDLE, epoch); });
    QObject::connect(runner, &OpenVpnRunner::transfer, this,
                     [this](quint64 down, quint64 up) { emit statsChanged(up, down); });

    const QPointer<OpenVpnRunner> guard = runner;
    const bool started = runner->connect(m_config, m_username, m_password);
    engineLog(started ? QStringLiteral("OpenVPN Connect Success") : QStringLiteral("OpenVPN Connect Failed"));
    if (!started && !isReconnecting())
        emit connectFailed(engineFailureText(OPENVPN, guard ? guard->refusal() : QString()));
    return CONNECT_STARTED;
}

int OpenConnectConnection::connectOpenConnect()
{
    qDebug() << "Connecting Via Open Connect";
    if (!m_server || m_server->host().isEmpty())
        return INVALID_SERVER;
    if (m_username.isEmpty() || m_password.isEmpty())
        return INVALID_CREDENTIALS;
    if (m_commandFd != -1)
        return ALREADY_ACTIVE;
    // The last session's end has passed this thread and its thread is only returning: a
    // connect right after a failed one waits the moment for that rather than being refused.
    if (!m_sessionRunning && sessionThreadRunning())
        m_sessionThread->wait(QDeadlineTimer(1000));
    if (sessionThreadRunning() || m_sessionRunning)
        return ALREADY_RUNNING;
    startSession();
    return CONNECT_STARTED;
}

template<typename Runner> void OpenConnectConnection::wireRunner(Runner *runner)
{
    const quint64 epoch = m_engineEpoch;
    QObject::connect(runner, &Runner::connected, this, [this, epoch] {
        qDebug() << "Connected to server. Emitting CONNECTED status.";
        reportEngine(CONNECTED, epoch);
    });
    QObject::connect(runner, &Runner::connectingServer, this, [this, epoch] {
        qDebug() << "Attempting to connect to server. Emitting CONNECTING status.";
        reportEngine(CONNECTING, epoch);
    });
    QObject::connect(runner, &Runner::disconnected, this, [this, epoch] {
        qDebug() << "Disconnected from server. Emitting IDLE status.";
        reportEngine(IDLE, epoch);
    });
}

void OpenConnectConnection::connectRunner(int type)
{
    ++m_engineEpoch;
    std::function<bool()> step;
    // The reason a runner refused the server's configuration, read once its step has ended.
    std::function<QString()> refusal;
    QString success;
    QString failure;
    switch (type) {
    case XRAY_SHADOWSOCKS: {
        auto *runner = new XrayShadosocks(this);
        m_xrayShadowsocks = runner;
        wireRunner(runner);
        QObject::connect(runner, &XrayShadosocks::transfer, this,
                         [this](quint64 down, quint64 up) { emit statsChanged(up, down); });
        step = [runner] { return runner->conntShadosocksServer(); };
        break;
    }
    case WIREGUARD: {
        qDebug() << "ready to connct wireguard";
        // The new connect stops the earlier client program itself; the earlier runner must
        // neither report that nor take the new configuration file away.
        if (Wireguard *previous = m_wireguard.data()) {
            QObject::disconnect(previous, nullptr, this, nullptr);
            previous->stopWatching();
        }
        auto *runner = new Wireguard(m_wireGuardConfigFetch, this);
        m_wireguard = runner;
        wireRunner(runner);
        step = [runner] { return runner->connectServer(); };
        refusal = [guard = QPointer<Wireguard>(runner)] { return guard ? guard->refusal() : QString(); };
        break;
    }
    case V2RAY: {
        qDebug() << "ready to connct v2ray";
        auto *runner = new V2ray(this);
        m_v2ray = runner;
        wireRunner(runner);
        step = [runner] { return runner->connectServer(); };
        break;
    }
    case OUTLINE: {
        retireOutlineClient();
        auto *runner = new OutlineClient(this);
        m_outlineClient = runner;
        wireRunner(runner);
        QObject::connect(runner, &OutlineClient::transfer, this,
                         [this](quint64 down, quint64 up) { emit statsChanged(up, down); });
        step = runner->connectStep();
        refusal = [guard = QPointer<OutlineClient>(runner)] { return guard ? guard->refusal() : QString(); };
        break;
    }
    default:
        return;
    }

    if (type == WIREGUARD) {
        success = QStringLiteral("Wireguard connection successful.");
        failure = QStringLiteral("Wireguard connection failed.");
    } else {
        success = QStringLiteral("Shadowsocks connection successful.");
        failure = QStringLiteral("Shadowsocks connection failed.");
    }

    auto *stepWatcher = new QFutureWatcher<bool>(this);
    const quint64 serial = m_requestSerial;
    QObject::connect(stepWatcher, &QFutureWatcher<bool>::finished, this,
                     [this, stepWatcher, success, failure, serial, type, refusal] {
                         engineLog(stepWatcher->result() ? success : failure);
                         if (!stepWatcher->result() && serial == m_requestSerial && m_status != CONNECTED &&
                             !isReconnecting())
                             emit connectFailed(engineFailureText(type, refusal ? refusal() : QString()));
                         m_engineSteps.removeAll(stepWatcher->future());
                         stepWatcher->deleteLater();
                     });
    const QFuture<bool> future = QtConcurrent::run(step);
    m_engineSteps.append(future);
    stepWatcher->setFuture(future);
}

void OpenConnectConnection::waitForEngineSteps(int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    for (QFuture<bool> &future : m_engineSteps) {
        while (future.isRunning() && !deadline.hasExpired())
            QThread::msleep(20);
    }
}

namespace {
// An engine stop under way off the window's thread; the end of the controller waits for it.
void keepEngineStep(QList<QFuture<bool>> &steps, const QFuture<bool> &future)
{
    steps.erase(std::remove_if(steps.begin(), steps.end(), [](const QFuture<bool> &step) { return step.isFinished(); }),
                steps.end());
    steps.append(future);
}
} // namespace

void OpenConnectConnection::disconnectVpn()
{
    ++m_requestSerial;
    m_userStopped = true;
    if (m_reconnector->isActive()) {
        // Nothing of the way back is waited for: the user sees the end at once, and whatever
        // still runs ends without a word.
        m_reconnector->cancel();
        m_attemptWaitsForSession = false;
        stopEngineQuietly(true);
        emit reconnectingChanged(false);
        publish(IDLE);
        return;
    }
    switch (m_type) {
    case OPENVPN:
        qDebug() << "Disconnecting OpenVPN";
        disconnectOpenVpn();
        break;
    case OPENCONNECT:
        qDebug() << "Disconnecting Open Connect";
        if (m_commandFd == -1) {
            publish(IDLE);
        } else {
            publish(DISCONNECTING);
            // The session ends on its own thread and reports IDLE from there.
            sendStop();
            m_commandFd = -1;
        }
        break;
    // The runner's disconnected signal is wired since its connect and turns into IDLE once;
    // wiring it again here would report IDLE twice, and once more at every later stop.
    case XRAY_SHADOWSOCKS:
        if (!m_xrayShadowsocks) {
            publish(IDLE);
            break;
        }
        qDebug() << "disconnect";
        keepEngineStep(m_engineSteps, m_xrayShadowsocks->disconnectServerLater());
        break;
    case WIREGUARD:
        if (!m_wireguard) {
            publish(IDLE);
            break;
        }
        qDebug() << "disconnect";
        keepEngineStep(m_engineSteps, m_wireguard->disconnectServerLater());
        break;
    case V2RAY: {
        // The runner that connected goes quiet: this stop stops its engine and reports IDLE
        // once, and its late "engine ended" must not touch a later connection's proxy.
        if (V2ray *previous = m_v2ray.data()) {
            previous->cancel();
            QObject::disconnect(previous, nullptr, this, nullptr);
        }
        auto *runner = new V2ray(this);
        m_v2ray = runner;
        const quint64 epoch = m_engineEpoch;
        QObject::connect(runner, &V2ray::disconnected, this, [this, epoch] {
            qDebug() << "disconnect";
            reportEngine(IDLE, epoch);
        });
        keepEngineStep(m_engineSteps, runner->disconnectServerLater());
        break;
    }
    case OUTLINE: {
        retireOutlineClient();
        auto *runner = new OutlineClient(this);
        m_outlineClient = runner;
        const quint64 epoch = m_engineEpoch;
        QObject::connect(runner, &OutlineClient::disconnected, this, [this, epoch] {
            qDebug() << "disconnect";
            reportEngine(IDLE, epoch);
        });
        runner->disconnectServer();
        break;
    }
    default:
        break;
    }
}

void OpenConnectConnection::retireOutlineClient()
{
    // A connect still under way starts nothing more and reports nothing (a late CONNECTED
    // after the user's IDLE); the disconnect that follows takes down what it started. The
    // runner's pool work holds only a link to it, so it may go at once.
    if (OutlineClient *previous = m_outlineClient.data()) {
        QObject::disconnect(previous, nullptr, this, nullptr);
        previous->cancel();
        previous->deleteLater();
    }
}

void OpenConnectConnection::disconnectOpenVpn()
{
    OpenVpnRunner *runner = m_openVpnRunner.data();
    if (!runner) {
        // Never created, or it ended and reported so: nothing is running.
        publish(IDLE);
        return;
    }
    runner->closeManagement();
    if (!runner->isDisconnectReported()) {
        runner->setDisconnectReported(true);
        publish(IDLE);
    }
    // SIGTERM rather than an outright kill: OpenVPN then removes its routes; the runner deletes
    // itself once the program has ended.
    runner->stopProgram();
}

void OpenConnectConnection::sendStop()
{
    const int error = sendCommandByte(m_commandFd, OC_CMD_CANCEL);
    if (error != 0)
        engineLog(QStringLiteral("term_thread: IPC error: ") + QString::number(error));
}

int OpenConnectConnection::update_stats()
{
    if (m_commandFd == -1)
        return -1;
    const int error = sendCommandByte(m_commandFd, OC_CMD_STATS);
    if (error != 0) {
        engineLog(QStringLiteral("update_stats: IPC error: ") + QString::number(error));
        return -1;
    }
    return 0;
}

void OpenConnectConnection::onStatusChanged(Status status)
{
    m_status = status;
    qDebug() << "m_status::::::::::::::::::::" << int(status);
    // An IDLE of another engine, or a late one of an earlier session, must not forget the
    // command socket of a session that is still running.
    if (status == IDLE && !m_sessionRunning)
        m_commandFd = -1;
}

void OpenConnectConnection::startSession()
{
    auto failSetup = [this](const QString &error) {
        engineLog(error);
        reportEngine(CONNECTING, m_engineEpoch);
        reportEngine(IDLE, m_engineEpoch);
    };

    ++m_engineEpoch;
    // The previous session has ended and its command socket is no longer used.
    releaseHandle();
    // The session thread answers the login form from its own copy: a later setPassword() on
    // this thread must neither race with it nor change an attempt already under way.
    m_sessionUsername = m_username;
    m_sessionPassword = m_password;
    QString name = QCoreApplication::applicationName();
    if (name.isEmpty())
        name = QStringLiteral("TavrixVPN");
    const QByteArray agent = name.toLatin1();
    m_vpninfo = openconnect_vpninfo_new(agent.constData(), &OpenConnectSession::validatePeerCert, nullptr,
                                        &OpenConnectSession::processAuthForm, &OpenConnectSession::progress, this);
    if (!m_vpninfo) {
        failSetup(QStringLiteral("initial setup fails"));
        return;
    }
    // Trace messages are dropped anyway; not producing them spares a call per packet.
    openconnect_set_loglevel(m_vpninfo, PRG_DEBUG);

    const auto fd = openconnect_setup_cmd_pipe(m_vpninfo);
    if (intptr_t(fd) == -1) {
        engineLog(QStringLiteral("invalid socket"));
        releaseHandle();
        failSetup(QStringLiteral("pipe setup fails"));
        return;
    }
    m_commandFd = intptr_t(fd);
    setCommandSocketBlocking(m_commandFd);

    openconnect_set_stats_handler(m_vpninfo, &OpenConnectSession::stats);
    openconnect_set_reconnected_handler(m_vpninfo, &OpenConnectSession::reconnected);
    // A short dead-peer interval: a server that stopped answering is noticed in seconds, not
    // after the server's own interval (often a minute or more).
    openconnect_set_dpd(m_vpninfo, m_deadPeerSeconds);
    m_server->setProtocol(QStringLiteral("anyconnect"));
    openconnect_set_protocol(m_vpninfo, m_server->protocol().toLatin1().constData());
    openconnect_set_setup_tun_handler(m_vpninfo, &OpenConnectSession::setupTun);
    openconnect_parse_url(m_vpninfo, m_server->host().toLocal8Bit().constData());
    // A pinned server is checked against its pin alone, whoever issued its certificate.
    if (!m_server->pin().isEmpty())
        openconnect_set_system_trust(m_vpninfo, 0);

    // The library tells of each connection it opens: one after the tunnel is up means it lost
    // the server and is getting its session back.
    openconnect_set_protect_socket_handler(m_vpninfo, &OpenConnectSession::socketOpened);
    // The helper makes the device when there is one; only a root client without it runs the
    // tunnel script itself.
    const bool throughHelper = PrivilegedHelper::isAvailable();

    // The tunnel script logs into a folder only this user can enter: a fixed name in the
    // shared temporary folder could be planted or linked by another local user.
    m_engineLogFolder = throughHelper ? QString() : makePrivateFolder(QStringLiteral("tavrixvpn-session-"));
    if (m_engineLogFolder.isEmpty() && !throughHelper)
        engineLog(QStringLiteral("Could not make a private folder for the tunnel script's log"));

    m_scriptStateFolder = m_engineLogFolder;
    m_sessionEpoch = m_engineEpoch;
    const quint64 generation = ++m_sessionGeneration;
    m_sessionRunning = true;
    // The previous session's thread has ended (connect refuses while it runs): join it.
    if (m_sessionThread)
        m_sessionThread->wait();
    m_helperTun.reset(throughHelper ? new HelperTunDevice : nullptr);
    m_sessionThread.reset(QThread::create([this, generation] { runSession(generation); }));
    m_sessionThread->setObjectName(QStringLiteral("OpenConnect session"));
    // An attempt that waited for the previous session to end starts once its thread is over.
    QObject::connect(m_sessionThread.get(), &QThread::finished, this, [this] {
        if (!m_attemptWaitsForSession)
            return;
        m_attemptWaitsForSession = false;
        if (m_reconnector->isActive() && startEngine() != CONNECT_STARTED)
            m_reconnector->engineEnded();
    });
    m_sessionThread->start();
}

void OpenConnectConnection::releaseHandle()
{
    // Cleared first: the library may still report progress while it releases the handle,
    // and the progress callback must not read the half-released one.
    if (openconnect_info *handle = std::exchange(m_vpninfo, nullptr))
        openconnect_vpninfo_free(handle);
}

void OpenConnectConnection::runSession(quint64 generation)
{
    const quint64 epoch = m_sessionEpoch;
    reportEngine(CONNECTING, epoch);
    m_refusedServerKey = RefusedServerKey();
    openconnect_set_reported_os(m_vpninfo, openConnectReportedOs());

    if (openconnect_obtain_cookie(m_vpninfo) == 0 && openconnect_make_cstp_connection(m_vpninfo) == 0) {
        const int dtls = openconnect_setup_dtls(m_vpninfo, 25);
        if (dtls != 0)
            engineLog(QStringLiteral("Error setting up DTLS (%1)").arg(dtls));

        const oc_ip_info *ip = nullptr;
        QString dnsText;
        if (openconnect_get_ip_info(m_vpninfo, &ip, nullptr, nullptr) == 0 && ip) {
            dnsText = QString::fromLatin1(ip->dns[0]);
            if (ip->dns[1]) {
                dnsText += QStringLiteral(", ") + QString::fromLatin1(ip->dns[1]);
                qDebug().noquote() << "m_dns:::::" + dnsText;
            }
            if (ip->dns[2]) {
                dnsText += QStringLiteral(" ") + QString::fromLatin1(ip->dns[2]);
                qDebug().noquote() << "m_dns:::::" + dnsText;
            }
        }
        {
            QMutexLocker locker(&dnsLock);
            m_dns = dnsText;
        }

        // CONNECTED follows from the tunnel set-up (OpenConnectSession::setupTun), which
        // the main loop runs once the tunnel is ready: before it, traffic would still leave
        // outside the tunnel.
        m_tunnelReported = false;
        while (openconnect_mainloop(m_vpninfo, 300, 10) == 0) {
        }
        if (!m_helperTun)
            importEngineLog(m_engineLogFolder);
    }
    if (m_helperTun)
        m_helperTun->close();
    // The script has run its last time (disconnect) once the main loop is over.
    if (!m_engineLogFolder.isEmpty()) {
        QDir(m_engineLogFolder).removeRecursively();
        m_engineLogFolder.clear();
    }

    // Queued ahead of IDLE so that the status slot knows the session is over.
    QMetaObject::invokeMethod(
        this, [this, generation] { sessionEnded(generation); }, Qt::QueuedConnection);
    reportEngine(IDLE, epoch);
    // Asked on the window's thread once the session is over, never from the library's.
    if (!m_refusedServerKey.server.isEmpty()) {
        const RefusedServerKey refused = m_refusedServerKey;
        QMetaObject::invokeMethod(
            this, [this, refused] { emit serverKeyChanged(refused.server, refused.storedPin, refused.offeredPin); },
            Qt::QueuedConnection);
    }
}

bool OpenConnectConnection::trustServerKey(const QString &server, const QString &pin)
{
    QString error;
    if (!ServerKeyStore().setPin(server, pin, &error)) {
        engineLog(QStringLiteral("Could not store the server key: ") + error);
        return false;
    }
    engineLog(QStringLiteral("The user trusts the new key of %1: %2").arg(server, pin));
    return true;
}

void OpenConnectConnection::sessionEnded(quint64 generation)
{
    if (generation == m_sessionGeneration)
        m_sessionRunning = false;
}

void OpenConnectConnection::importEngineLog(const QString &folder)
{
    if (folder.isEmpty())
        return;
    const QString path = folder + QLatin1Char('/') + QStringLiteral("vpnc.log");
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        engineLog(QStringLiteral("Could not open ") + path + QStringLiteral(": ") + QString::number(file.error()));
        return;
    }
    const qint64 size = file.size();
    if (size > engineLogImportLimit) {
        // Newest part only, from a line start.
        file.seek(size - engineLogImportLimit);
        file.readLine();
        engineLog(QStringLiteral("vpnc.log: %1 earlier bytes not imported").arg(file.pos()));
    }
    while (!file.atEnd()) {
        QByteArray line = file.readLine(engineLogImportLimit);
        if (line.endsWith('\n'))
            line.chop(1);
        engineLog(QString::fromUtf8(line));
    }
    file.close();
    if (!file.remove())
        engineLog(QStringLiteral("Could not remove ") + path + QStringLiteral(": ") + QString::number(file.error()));
}

bool OpenConnectConnection::isReconnecting() const
{
    return m_reconnector->isActive();
}

void OpenConnectConnection::setReconnectTimingForTests(const ReconnectTiming &timing)
{
    Reconnector::Timing policy;
    policy.firstDelayMs = timing.firstDelayMs;
    policy.maxDelayMs = timing.maxDelayMs;
    policy.giveUpMs = timing.giveUpMs;
    policy.engineGraceMs = timing.engineGraceMs;
    policy.attemptTimeoutMs = timing.attemptTimeoutMs;
    m_reconnector->setTiming(policy);
    m_deadPeerSeconds = timing.deadPeerSeconds;
    m_healthTimer.setInterval(timing.checkIntervalMs);
    m_proxyCheckIntervalMs = timing.proxyCheckIntervalMs;
    m_proxyCheckTimeoutMs = timing.proxyCheckTimeoutMs;
}

void OpenConnectConnection::publish(Status status)
{
    m_publicStatus = status;
    if (status == CONNECTED) {
        m_probeFailures = 0;
        m_connectedClock.start();
        m_healthTimer.start();
        // At once: whether the far side answers echoes decides how soon silence counts.
        if (m_type == WIREGUARD)
            checkHealth();
    } else if (status == IDLE) {
        m_healthTimer.stop();
    }
    emit statusChanged(status);
}

void OpenConnectConnection::onEngineStatus(Status status, quint64 epoch)
{
    if (epoch != m_engineEpoch) {
        qDebug() << "Status" << int(status) << "of a replaced engine ignored";
        return;
    }
    if (status == IDLE && !m_sessionRunning)
        m_commandFd = -1;

    if (m_reconnector->isActive()) {
        if (status == CONNECTED) {
            m_attemptUp = true;
            // A WireGuard tunnel is up as soon as its device is, server or not: its first
            // answer says it is back.
            if (m_type == WIREGUARD)
                checkHealth();
            else
                m_reconnector->tunnelBack();
        } else if (status == IDLE) {
            m_reconnector->engineEnded();
        }
        // CONNECTING and DISCONNECTING: the user already sees CONNECTING.
        return;
    }
    if (!m_userStopped && m_publicStatus == CONNECTED) {
        // An engine that ends right after reporting its tunnel never had a working one: a
        // failed start, reported as before, not a loss to bring back.
        if (status == IDLE && m_connectedClock.isValid() && m_connectedClock.elapsed() < establishedMs) {
            publish(status);
            return;
        }
        if (status == IDLE) {
            tunnelLost(QStringLiteral("the tunnel ended"), false);
            return;
        }
        if (status == CONNECTING) {
            tunnelLost(QStringLiteral("the engine lost its server"), true);
            return;
        }
        // The session came back before anyone noticed it was gone.
        if (status == CONNECTED)
            return;
    }
    publish(status);
}

void OpenConnectConnection::ensureWatches()
{
    if (m_networkWatch)
        return;
    m_networkWatch = new NetworkWatch(this);
    QObject::connect(m_networkWatch, &NetworkWatch::changed, this, &OpenConnectConnection::onNetworkChanged);
    m_sleepWatch = new SleepWatch(this);
    QObject::connect(m_sleepWatch, &SleepWatch::aboutToSleep, this, [this] {
        m_connectedBeforeSleep = m_publicStatus != IDLE;
        // A tunnel that lived until the machine slept was a working one, however young: its
        // end after the wake-up is a loss to bring back, not a failed start.
        m_connectedClock.invalidate();
        engineLog(QStringLiteral("The machine is going to sleep"));
    });
    QObject::connect(m_sleepWatch, &SleepWatch::resumed, this, &OpenConnectConnection::onResumed);
}

void OpenConnectConnection::tunnelLost(const QString &reason, bool engineResuming)
{
    if (m_userStopped || m_reconnector->isActive())
        return;
    m_probeFailures = 0;
    m_reconnector->tunnelLost(reason, engineResuming);
}

void OpenConnectConnection::onReconnectAttempt()
{
    stopEngineQuietly(false);
    // One OpenConnect session at a time: the stopped one logs off first.
    if (m_type == OPENCONNECT && (sessionThreadRunning() || m_sessionRunning)) {
        m_attemptWaitsForSession = true;
        return;
    }
    const int result = startEngine();
    if (result != CONNECT_STARTED) {
        engineLog(QStringLiteral("Reconnect attempt not started (%1)").arg(result));
        m_reconnector->engineEnded();
    }
}

void OpenConnectConnection::onReconnectFinished(bool ok, const QString &message)
{
    emit reconnectingChanged(false);
    // What the checks saw while the tunnel was away says nothing about the one now.
    m_wireGuardLiveness.reset();
    m_proxyFailures = 0;
    if (ok) {
        publish(CONNECTED);
        return;
    }
    m_attemptWaitsForSession = false;
    m_userStopped = true;
    stopEngineQuietly(true);
    emit reconnectGaveUp(message);
    publish(IDLE);
}

void OpenConnectConnection::stopEngineQuietly(bool forGood)
{
    ++m_engineEpoch;
    m_attemptUp = false;
    switch (m_type) {
    case OPENVPN:
        if (OpenVpnRunner *runner = m_openVpnRunner.data()) {
            QObject::disconnect(runner, nullptr, this, nullptr);
            runner->setDisconnectReported(true);
            runner->disconnect();
        }
        break;
    case OPENCONNECT:
        if (m_commandFd != -1) {
            sendStop();
            m_commandFd = -1;
        }
        break;
    case WIREGUARD:
        // A new connect stops the earlier client program itself.
        if (Wireguard *runner = m_wireguard.data(); runner && forGood) {
            QObject::disconnect(runner, nullptr, this, nullptr);
            keepEngineStep(m_engineSteps, runner->disconnectServerLater());
        }
        break;
    case XRAY_SHADOWSOCKS:
        if (XrayShadosocks *runner = m_xrayShadowsocks.data(); runner && forGood) {
            QObject::disconnect(runner, nullptr, this, nullptr);
            keepEngineStep(m_engineSteps, runner->disconnectServerLater());
        }
        break;
    case V2RAY:
        if (forGood) {
            if (V2ray *previous = m_v2ray.data()) {
                previous->cancel();
                QObject::disconnect(previous, nullptr, this, nullptr);
            }
            auto *runner = new V2ray(this);
            m_v2ray = runner;
            keepEngineStep(m_engineSteps, runner->disconnectServerLater());
        }
        break;
    case OUTLINE:
        if (forGood) {
            auto *runner = new OutlineClient(this);
            m_outlineClient = runner;
            runner->disconnectServer();
        }
        break;
    default:
        break;
    }
}

void OpenConnectConnection::checkHealth()
{
    if (m_publicStatus == IDLE) {
        m_healthTimer.stop();
        return;
    }
    switch (m_type) {
    case OPENCONNECT:
        // The library runs the tunnel script with "attempt-reconnect" when its server stopped
        // answering; it keeps the device and tries to resume the session meanwhile.
        if (!m_reconnector->isActive() && m_publicStatus == CONNECTED &&
            lastScriptReason(m_scriptStateFolder) == QLatin1String("attempt-reconnect")) {
            tunnelLost(QStringLiteral("the server stopped answering"), true);
            break;
        }
        // The tunnel's DNS server, asked through the tunnel, notices a silent server sooner
        // than the library's dead-peer check.
        // While the library resumes its own session, an answer says the session is back.
        if (!m_reconnector->isActive() || m_reconnector->attempts() == 0)
            startProbe(dns().section(QLatin1Char(','), 0, 0).section(QLatin1Char(' '), 0, 0).trimmed());
        break;
    case WIREGUARD:
        // An echo to the far side (answered there by a live server, and traffic the peer
        // answers in any case), then the device's own account of what came back.
        if (m_probeAnswered && !m_reconnector->isActive())
            m_wireGuardLiveness.expectAnswer(m_livenessClock.elapsed());
        startProbe(m_wireguard ? m_wireguard->probeAddress() : QString());
        readWireGuardHealth();
        break;
    case XRAY_SHADOWSOCKS:
    case V2RAY:
    case OUTLINE:
        checkProxy();
        break;
    default:
        break;
    }
}

void OpenConnectConnection::readWireGuardHealth()
{
    Wireguard *runner = m_wireguard.data();
    if (!runner || m_healthReading)
        return;
    m_healthReading = true;
    const quint64 epoch = m_engineEpoch;
    struct Reading
    {
        HelperProto::WireGuardStats stats;
        QString error;
    };
    auto reading = std::make_shared<Reading>();
    // The runner lives as long as the controller, which waits for this step when it goes.
    keepEngineStep(m_engineSteps,
                   runOffThread(
                       this, [runner, reading] { reading->stats = runner->health(&reading->error); },
                       [this, reading, epoch] { onWireGuardHealth(reading->stats, reading->error, epoch); }));
}

void OpenConnectConnection::onWireGuardHealth(const HelperProto::WireGuardStats &stats, const QString &error,
                                              quint64 epoch)
{
    m_healthReading = false;
    if (epoch != m_engineEpoch || m_publicStatus == IDLE)
        return;
    const qint64 now = m_livenessClock.elapsed();
    if (!stats.ok) {
        // A device that could be read and no longer can has gone (its end is reported by the
        // runner too); one that never could (an older helper) says nothing.
        if (m_healthReadable && !m_reconnector->isActive() && m_publicStatus == CONNECTED &&
            ++m_healthReadFailures >= 2)
            tunnelLost(QStringLiteral("the tunnel's device cannot be read (") + error + QLatin1Char(')'), false);
        return;
    }
    m_healthReadable = true;
    m_healthReadFailures = 0;
    if (m_reconnector->isActive()) {
        // A new tunnel is back once its device has completed a handshake with the server;
        // the old one (still given its chance) once anything comes back through it.
        if (m_attemptUp) {
            if (stats.handshakeAgeSeconds >= 0)
                m_reconnector->tunnelBack();
        } else if (m_reconnector->attempts() == 0) {
            m_wireGuardLiveness.sample(now, stats, m_probeAnswered);
            if (m_wireGuardLiveness.answeredSince())
                m_reconnector->tunnelBack();
        }
        return;
    }
    if (m_publicStatus != CONNECTED)
        return;
    const QString lost = m_wireGuardLiveness.sample(now, stats, m_probeAnswered);
    if (!lost.isEmpty())
        tunnelLost(lost, true);
}

void OpenConnectConnection::checkProxy()
{
    if (m_proxyCheckRunning || m_reconnector->isActive() || m_publicStatus != CONNECTED)
        return;
    // A failed check is repeated at once: a second failure in a row counts as lost.
    if (m_proxyFailures == 0 && m_proxyCheckClock.isValid() && m_proxyCheckClock.elapsed() < m_proxyCheckIntervalMs)
        return;
    m_proxyCheckRunning = true;
    m_proxyCheckClock.start();
    const quint64 epoch = m_engineEpoch;
    // Outline's tunnel carries the system's own traffic; the others are a local proxy.
    const bool throughInbound = m_type != OUTLINE;
    const int timeoutMs = int(std::clamp<qint64>(3 * m_proxyAnswerMs, m_proxyCheckTimeoutMs, 5000));
    struct Check
    {
        bool ok = false;
        QString error;
    };
    auto check = std::make_shared<Check>();
    keepEngineStep(m_engineSteps, runOffThread(
                                      this,
                                      [check, timeoutMs, throughInbound] {
                                          check->ok = Xray::checkService(
                                              timeoutMs, [] { return true; }, throughInbound, &check->error);
                                      },
                                      [this, check, epoch] { onProxyChecked(check->ok, check->error, epoch); }));
}

void OpenConnectConnection::onProxyChecked(bool ok, const QString &error, quint64 epoch)
{
    m_proxyCheckRunning = false;
    if (epoch != m_engineEpoch || m_reconnector->isActive() || m_publicStatus != CONNECTED)
        return;
    if (ok) {
        m_proxyFailures = 0;
        m_proxyAnswered = true;
        m_proxyAnswerMs = m_proxyCheckClock.elapsed();
        // The next one an interval after this one started, not at the next tick of the checks.
        m_proxyTimer.start(int(std::max<qint64>(0, m_proxyCheckIntervalMs - m_proxyCheckClock.elapsed())));
        return;
    }
    // A service never reached through this tunnel (blocked, say) tells nothing about the tunnel.
    if (!m_proxyAnswered) {
        m_proxyTimer.start(m_proxyCheckIntervalMs);
        return;
    }
    ++m_proxyFailures;
    engineLog(QStringLiteral("Proxy check failed (%1 in a row): ").arg(m_proxyFailures) + error);
    if (m_proxyFailures >= proxyFailuresForLoss)
        tunnelLost(QStringLiteral("the proxy's server does not answer"), false);
    else
        checkProxy();
}

void OpenConnectConnection::startProbe(const QString &target)
{
    const QString ping = pingProgram();
    if (target.isEmpty() || ping.isEmpty() || (m_probe && m_probe->state() != QProcess::NotRunning))
        return;
    if (!m_probe) {
        m_probe = new QProcess(this);
        QProcessEnvironment environment;
        environment.insert(QStringLiteral("PATH"), QStringLiteral("/usr/sbin:/usr/bin:/sbin:/bin"));
        environment.insert(QStringLiteral("LANG"), QStringLiteral("C.UTF-8"));
        m_probe->setProcessEnvironment(environment);
        m_probe->setProcessChannelMode(QProcess::MergedChannels);
        QObject::connect(m_probe, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), this,
                         [this](int code, QProcess::ExitStatus exitStatus) {
                             m_probe->readAll();
                             onProbeFinished(exitStatus == QProcess::NormalExit && code == 0);
                         });
    }
    m_probeWhileReconnecting = m_reconnector->isActive();
    // One echo to the tunnel's far end, answered within a second by a live server.
    m_probe->start(ping, {QStringLiteral("-c"), QStringLiteral("1"), QStringLiteral("-n"), QStringLiteral("-W"),
                          QStringLiteral("1"), QStringLiteral("--"), target});
}

void OpenConnectConnection::onProbeFinished(bool answered)
{
    if (answered) {
        m_probeFailures = 0;
        m_probeAnswered = true;
        // Back: the new attempt's tunnel answers, or the old one (still up) answers again.
        // An echo sent before the loss says nothing about now.
        if (m_probeWhileReconnecting && m_reconnector->isActive() && (m_attemptUp || m_reconnector->attempts() == 0))
            m_reconnector->tunnelBack();
        return;
    }
    ++m_probeFailures;
    // Only an address that answered before counts: some never answer an echo at all.
    // WireGuard's loss is decided from its device's counters (onWireGuardHealth).
    if (m_type == OPENCONNECT && !m_reconnector->isActive() && m_publicStatus == CONNECTED && m_probeAnswered &&
        m_probeFailures >= probeFailuresForLoss)
        tunnelLost(QStringLiteral("no answer through the tunnel"), true);
}

void OpenConnectConnection::checkTunnel(const QString &why)
{
    if (m_reconnector->isActive()) {
        engineLog(QStringLiteral("Trying again at once: ") + why);
        m_reconnector->retryNow();
        return;
    }
    if (m_publicStatus != CONNECTED)
        return;
    engineLog(QStringLiteral("Checking the tunnel: ") + why);
    switch (m_type) {
    case OPENCONNECT:
        // The library drops its connections and resumes the session (or finds it refused).
        if (m_commandFd != -1)
            sendCommandByte(m_commandFd, OC_CMD_PAUSE);
        break;
    case OPENVPN:
        if (OpenVpnRunner *runner = m_openVpnRunner.data())
            runner->restartSession();
        break;
    case WIREGUARD:
        // Something must come back through the tunnel from now on.
        m_wireGuardLiveness.expectAnswer(m_livenessClock.elapsed());
        checkHealth();
        break;
    case XRAY_SHADOWSOCKS:
    case V2RAY:
    case OUTLINE:
        m_proxyCheckClock.invalidate();
        checkProxy();
        break;
    default:
        break;
    }
}

void OpenConnectConnection::onNetworkChanged(const QString &what)
{
    if (m_publicStatus == IDLE || m_userStopped)
        return;
    checkTunnel(QStringLiteral("network changed (") + what + QLatin1Char(')'));
}

void OpenConnectConnection::onResumed()
{
    engineLog(QStringLiteral("The machine woke up"));
    if (!m_connectedBeforeSleep && m_publicStatus == IDLE)
        return;
    if (m_userStopped)
        return;
    checkTunnel(QStringLiteral("the machine woke up"));
}

} // namespace Tavrix
