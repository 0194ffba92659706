#include "vpn/openconnectconnection.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QMutex>
#include <QProcess>
#include <QScopeGuard>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTextStream>
#include <QThread>
#include <QtConcurrent>

#include <algorithm>
#include <gnutls/gnutls.h>
#include <openconnect.h>
#include <utility>

#include "platform/commandsocket.h"
#include "platform/privatefiles.h"
#include "platform/privileges.h"
#include "vpn/enginelog.h"
#include "vpn/openconnectserver.h"
#include "vpn/openconnectsession.h"
#include "vpn/openvpnrunner.h"
#include "vpn/outlineclient.h"
#include "vpn/v2ray.h"
#include "vpn/wireguard.h"
#include "vpn/xrayshadosocks.h"

namespace Tavrix {

namespace {

// How long stopping waits for the session to log off and take the tunnel down.
constexpr int sessionStopWaitMs = 15000;
// How long destruction waits for connect steps of the external engines.
constexpr int engineStepWaitMs = 5000;

QMutex dnsLock;

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
    if (!m_watcher.isRunning())
        releaseHandle();
}

bool OpenConnectConnection::stopSessionAndWait(int timeoutMs)
{
    if (!m_watcher.isRunning())
        return true;
    // Stop the session whatever engine type is selected now.
    if (m_commandFd != -1) {
        sendStop();
        m_commandFd = -1;
    }
    QDeadlineTimer deadline(timeoutMs);
    while (m_watcher.isRunning() && !deadline.hasExpired())
        QThread::msleep(20);
    return !m_watcher.isRunning();
}

void OpenConnectConnection::setUsername(const QString &username)
{
    m_username = username;
    // A running session keeps answering with the credentials it started with.
    if (!m_sessionRunning && !m_watcher.isRunning())
        m_sessionUsername = username;
}

void OpenConnectConnection::setPassword(const QString &password)
{
    m_password = password;
    if (!m_sessionRunning && !m_watcher.isRunning())
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
    QObject::connect(runner, &OpenVpnRunner::connected, this, [this] { emit statusChanged(CONNECTED); });
    QObject::connect(runner, &OpenVpnRunner::connecting, this, [this] { emit statusChanged(CONNECTING); });
    QObject::connect(runner, &OpenVpnRunner::disconnected, this, [this] { emit statusChanged(IDLE); });
    QObject::connect(runner, &OpenVpnRunner::transfer, this,
                     [this](quint64 down, quint64 up) { emit statsChanged(up, down); });

    const QPointer<OpenVpnRunner> guard = runner;
    const bool started = runner->connect(m_config, m_username, m_password);
    engineLog(started ? QStringLiteral("OpenVPN Connect Success") : QStringLiteral("OpenVPN Connect Failed"));
    if (!started)
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
    if (m_watcher.isRunning() || m_sessionRunning)
        return ALREADY_RUNNING;
    startSession();
    return CONNECT_STARTED;
}

template<typename Runner> void OpenConnectConnection::wireRunner(Runner *runner)
{
    QObject::connect(runner, &Runner::connected, this, [this] {
        qDebug() << "Connected to server. Emitting CONNECTED status.";
        emit statusChanged(CONNECTED);
    });
    QObject::connect(runner, &Runner::connectingServer, this, [this] {
        qDebug() << "Attempting to connect to server. Emitting CONNECTING status.";
        emit statusChanged(CONNECTING);
    });
    QObject::connect(runner, &Runner::disconnected, this, [this] {
        qDebug() << "Disconnected from server. Emitting IDLE status.";
        emit statusChanged(IDLE);
    });
}

void OpenConnectConnection::connectRunner(int type)
{
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
        auto *runner = new Wireguard(this);
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
        auto *runner = new OutlineClient(this);
        m_outlineClient = runner;
        wireRunner(runner);
        QObject::connect(runner, &OutlineClient::transfer, this,
                         [this](quint64 down, quint64 up) { emit statsChanged(up, down); });
        step = [runner] { return runner->connectServer(); };
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
                         if (!stepWatcher->result() && serial == m_requestSerial && m_status != CONNECTED)
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
    switch (m_type) {
    case OPENVPN:
        qDebug() << "Disconnecting OpenVPN";
        disconnectOpenVpn();
        break;
    case OPENCONNECT:
        qDebug() << "Disconnecting Open Connect";
        if (m_commandFd == -1) {
            emit statusChanged(IDLE);
        } else {
            emit statusChanged(DISCONNECTING);
            // The session ends on its own thread and reports IDLE from there.
            sendStop();
            m_commandFd = -1;
        }
        break;
    // The runner's disconnected signal is wired since its connect and turns into IDLE once;
    // wiring it again here would report IDLE twice, and once more at every later stop.
    case XRAY_SHADOWSOCKS:
        if (!m_xrayShadowsocks) {
            emit statusChanged(IDLE);
            break;
        }
        qDebug() << "disconnect";
        keepEngineStep(m_engineSteps, m_xrayShadowsocks->disconnectServerLater());
        break;
    case WIREGUARD:
        if (!m_wireguard) {
            emit statusChanged(IDLE);
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
        QObject::connect(runner, &V2ray::disconnected, this, [this] {
            qDebug() << "disconnect";
            emit statusChanged(IDLE);
        });
        keepEngineStep(m_engineSteps, runner->disconnectServerLater());
        break;
    }
    case OUTLINE: {
        auto *runner = new OutlineClient(this);
        m_outlineClient = runner;
        QObject::connect(runner, &OutlineClient::disconnected, this, [this] {
            qDebug() << "disconnect";
            emit statusChanged(IDLE);
        });
        runner->disconnectServer();
        break;
    }
    default:
        break;
    }
}

void OpenConnectConnection::disconnectOpenVpn()
{
    OpenVpnRunner *runner = m_openVpnRunner.data();
    if (!runner) {
        // Never created, or it ended and reported so: nothing is running.
        emit statusChanged(IDLE);
        return;
    }
    if (QTcpServer *listener = runner->managementServer(); listener && listener->isListening())
        listener->close();
    if (QTcpSocket *socket = runner->managementSocket(); socket && socket->isOpen())
        socket->abort();
    if (!runner->isDisconnectReported()) {
        runner->setDisconnectReported(true);
        emit statusChanged(IDLE);
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
        emit statusChanged(CONNECTING);
        emit statusChanged(IDLE);
    };

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
    m_server->setProtocol(QStringLiteral("anyconnect"));
    openconnect_set_protocol(m_vpninfo, m_server->protocol().toLatin1().constData());
    openconnect_set_setup_tun_handler(m_vpninfo, &OpenConnectSession::setupTun);
    openconnect_parse_url(m_vpninfo, m_server->host().toLocal8Bit().constData());

    // The tunnel script logs into a folder only this user can enter: a fixed name in the
    // shared temporary folder could be planted or linked by another local user.
    m_engineLogFolder = makePrivateFolder(QStringLiteral("tavrixvpn-session-"));
    if (m_engineLogFolder.isEmpty())
        engineLog(QStringLiteral("Could not make a private folder for the tunnel script's log"));

    const quint64 generation = ++m_sessionGeneration;
    m_sessionRunning = true;
    m_watcher.setFuture(QtConcurrent::run([this, generation] { runSession(generation); }));
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
    emit statusChanged(CONNECTING);
    openconnect_set_reported_os(m_vpninfo, openConnectReportedOs());
    // The library runs the tunnel script from this thread; it needs the network privilege.
    Privileges::passToChildrenOfThisThread();
    const auto withdraw = qScopeGuard([] { Privileges::stopPassingToChildrenOfThisThread(); });

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
        importEngineLog(m_engineLogFolder);
    }
    // The script has run its last time (disconnect) once the main loop is over.
    if (!m_engineLogFolder.isEmpty()) {
        QDir(m_engineLogFolder).removeRecursively();
        m_engineLogFolder.clear();
    }

    // Queued ahead of IDLE so that the status slot knows the session is over.
    QMetaObject::invokeMethod(
        this, [this, generation] { sessionEnded(generation); }, Qt::QueuedConnection);
    emit statusChanged(IDLE);
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

} // namespace Tavrix
