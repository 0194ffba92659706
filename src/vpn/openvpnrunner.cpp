#include "vpn/openvpnrunner.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTemporaryFile>

#include "helperproto/openvpnprofile.h"
#include "platform/elevatedstart.h"
#include "platform/engineprocesses.h"
#include "platform/privilegedhelper.h"
#include "vpn/enginelog.h"
#include "vpn/engineprocess.h"

namespace {

// A program that never comes up counts as a failed start rather than a hung connect.
constexpr int startTimeoutMs = 30000;
// After SIGTERM OpenVPN takes its routes down and says goodbye to the server; past this it is killed.
constexpr int stopGraceMs = 5000;

const QByteArray passwordRequest = QByteArrayLiteral(">PASSWORD:Need 'Auth' username/password");
// Two refusals this close together: nothing listens on the server's port any more.
constexpr qint64 refusedWindowMs = 5000;

} // namespace

OpenVpnRunner::OpenVpnRunner(QObject *parent)
    : QObject(parent)
    , m_program(Tavrix::EngineProcesses::enginePath(QStringLiteral("openvpn.exe")))
{
}

OpenVpnRunner::~OpenVpnRunner()
{
    // The profile holds the server's keys: never leave it behind, whatever the way out.
    discardProfile();
    closeManagement();
    delete m_managementFolder;
}

QString OpenVpnRunner::quoted(const QString &value)
{
    QString text = value;
    text.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    text.replace(QLatin1Char('"'), QStringLiteral("\\\""));
    return QLatin1Char('"') + text + QLatin1Char('"');
}

QStringList OpenVpnRunner::arguments(const QString &profilePath, const QStringList &management)
{
    return QStringList{QStringLiteral("--config"), QDir::toNativeSeparators(profilePath), QStringLiteral("--verb"),
                       QStringLiteral("3"), QStringLiteral("--management")} +
           management +
           QStringList{QStringLiteral("--management-client"), QStringLiteral("--management-query-passwords"),
                       QStringLiteral("--management-hold"),   QStringLiteral("--suppress-timestamps"),
                       QStringLiteral("--script-security"),   QStringLiteral("1")};
}

QString OpenVpnRunner::managementAddress() const
{
    if (m_localServer && m_localServer->isListening())
        return m_localServer->fullServerName();
    if (m_managementServer && m_managementServer->isListening())
        return QStringLiteral("127.0.0.1 %1").arg(m_managementServer->serverPort());
    return QString();
}

bool OpenVpnRunner::isManagementListening() const
{
    return !managementAddress().isEmpty();
}

void OpenVpnRunner::closeManagement()
{
    if (m_managementServer && m_managementServer->isListening())
        m_managementServer->close();
    if (m_managementSocket && m_managementSocket->isOpen())
        m_managementSocket->abort();
    if (m_localServer && m_localServer->isListening())
        m_localServer->close();
    if (m_localManagement && m_localManagement->isOpen())
        m_localManagement->abort();
}

bool OpenVpnRunner::listenForManagement(QStringList *address)
{
#ifdef Q_OS_WIN
    m_managementServer = new QTcpServer(this);
    m_managementServer->setMaxPendingConnections(1);
    QObject::connect(m_managementServer, &QTcpServer::newConnection, this, &OpenVpnRunner::onManagementConnection);
    if (!m_managementServer->listen(QHostAddress::LocalHost, 0)) {
        qCritical().noquote() << QStringLiteral("Management Listener Error:") << m_managementServer->errorString();
        return false;
    }
    *address = QStringList{QStringLiteral("127.0.0.1"), QString::number(m_managementServer->serverPort())};
    return true;
#else
    // A socket in a folder only this user may enter: no other local user can reach the link
    // (a port on 127.0.0.1 is open to all, and the first connection would win).
    m_managementFolder = new QTemporaryDir(QDir::tempPath() + QStringLiteral("/tavrixvpn-openvpn-XXXXXX"));
    if (!m_managementFolder->isValid()) {
        qCritical().noquote() << QStringLiteral("Management Listener Error:") << m_managementFolder->errorString();
        return false;
    }
    m_localServer = new QLocalServer(this);
    m_localServer->setMaxPendingConnections(1);
    QObject::connect(m_localServer, &QLocalServer::newConnection, this, &OpenVpnRunner::onManagementConnection);
    const QString path = m_managementFolder->filePath(QStringLiteral("management"));
    if (!m_localServer->listen(path)) {
        qCritical().noquote() << QStringLiteral("Management Listener Error:") << m_localServer->errorString();
        return false;
    }
    *address = QStringList{path, QStringLiteral("unix")};
    return true;
#endif
}

QString OpenVpnRunner::profilePath() const
{
    return m_configFile ? m_configFile->fileName() : QString();
}

bool OpenVpnRunner::isProgramRunning() const
{
    if (!m_helperTunnel.isEmpty())
        return true;
    return m_process && m_process->isRunning();
}

QIODevice *OpenVpnRunner::management() const
{
    if (m_helperManagement)
        return m_helperManagement;
    if (m_localManagement)
        return m_localManagement;
    return m_managementSocket;
}

bool OpenVpnRunner::connect(const QString &config, const QString &username, const QString &password)
{
    emit connecting();
    m_username = username;
    m_password = password;

    // The profile comes from the service: OpenVPN gets only what it rebuilt from the allow-list,
    // never a plugin, script or file of the server's choosing (the helper checks it again).
    const Tavrix::HelperProto::OpenVpnProfileCheck check = Tavrix::HelperProto::checkOpenVpnProfile(config);
    if (!check.ok) {
        m_refusal = check.error;
        qCritical().noquote() << QStringLiteral("OpenVPN Profile Refused:") << check.error;
        return failStart();
    }
    if (Tavrix::PrivilegedHelper::isAvailable())
        return connectThroughHelper(check.profile);
    // Without the helper only a root client may start OpenVPN itself (tests, a root demo).
    if (!Tavrix::ElevatedStart::hasNetworkRights()) {
        qCritical().noquote() << QStringLiteral("OpenVPN Process Error:")
                              << QStringLiteral("the TavrixVPN helper service is not running.");
        return failStart();
    }
    if (!writeProfile(check.profile))
        return failStart();

    m_process = new Tavrix::EngineProcess(QStringLiteral("OpenVPN"), this);
    QObject::connect(m_process, &Tavrix::EngineProcess::finished, this, &OpenVpnRunner::onProgramFinished);
    QObject::connect(m_process, &Tavrix::EngineProcess::lineRead, this, &OpenVpnRunner::noteEngineLine);

    QStringList address;
    if (!listenForManagement(&address))
        return failStart();
    const QStringList args = arguments(m_configFile->fileName(), address);
    if (!m_process->start(m_program, args, startTimeoutMs)) {
        qCritical().noquote() << QStringLiteral("OpenVPN Process Error:") << m_process->errorString();
        return failStart();
    }
    return true;
}

bool OpenVpnRunner::connectThroughHelper(const QString &config)
{
    const Tavrix::PrivilegedHelper::Started started = Tavrix::PrivilegedHelper::startOpenVpn(config);
    if (!started.ok) {
        qCritical().noquote() << QStringLiteral("OpenVPN Process Error:") << started.error;
        return failStart();
    }
    m_helperTunnel = started.tunnelId;
    // OpenVPN's own lines, as the helper reads them, in this client's log as before.
    Tavrix::PrivilegedHelper::watchOutput(this, [this](const QString &tunnelId, const QString &line) {
        if (tunnelId != m_helperTunnel)
            return;
        qInfo().noquote() << QStringLiteral("OpenVPN > ") + line;
        noteEngineLine(line);
    });
    m_helperManagement = new QLocalSocket(this);
    if (!m_helperManagement->setSocketDescriptor(started.managementFd)) {
        QFile handle;
        handle.open(started.managementFd, QIODevice::ReadWrite, QFileDevice::AutoCloseHandle);
        qCritical().noquote() << QStringLiteral("OpenVPN Process Error:") << m_helperManagement->errorString();
        stopProgram();
        return false;
    }
    QObject::connect(m_helperManagement, &QLocalSocket::readyRead, this, &OpenVpnRunner::managmentReadLine);
    // OpenVPN holds the other end: it has ended when the link closes.
    QObject::connect(m_helperManagement, &QLocalSocket::disconnected, this, &OpenVpnRunner::onProgramFinished);
    sendOpeningCommands();
    return true;
}

bool OpenVpnRunner::writeProfile(const QString &config)
{
    // Qt gives an empty temporary path when the folder is missing, and the profile would then
    // land in the working folder (or "/"): refuse that instead.
    const QString tempDir = QDir::tempPath();
    if (tempDir.isEmpty() || !QFileInfo(tempDir).isDir()) {
        qCritical().noquote() << QStringLiteral("Config File Write Error:")
                              << QStringLiteral("the temporary folder does not exist.");
        return false;
    }
    m_configFile = new QTemporaryFile(this);
    m_configFile->setAutoRemove(true);
    if (!m_configFile->open()) {
        qCritical().noquote() << QStringLiteral("Config File Write Error:") << m_configFile->errorString();
        return false;
    }
    // QTemporaryFile already creates it owner-only; say so explicitly, it holds the keys.
    if (!m_configFile->setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
        qCritical().noquote() << QStringLiteral("Config File Permissions Error:") << m_configFile->errorString();
        return false;
    }
    const QByteArray bytes = config.toLocal8Bit();
    const qint64 written = m_configFile->write(bytes);
    if (written != config.size() || !m_configFile->flush()) {
        qCritical().noquote() << QStringLiteral("Config File Write Error:") << QStringLiteral("Short write.");
        return false;
    }
    m_configFile->close();
    if (m_configFile->error() != QFileDevice::NoError) {
        qCritical().noquote() << QStringLiteral("Config File Write Error:") << m_configFile->errorString();
        return false;
    }
    return true;
}

void OpenVpnRunner::discardProfile()
{
    if (!m_configFile)
        return;
    QTemporaryFile *file = m_configFile;
    m_configFile = nullptr;
    file->remove();
    delete file;
}

// Every failed start ends where the user can try again: no half-written profile on disk, the
// listener closed and IDLE reported, so the connect button never stays in CONNECTING.
bool OpenVpnRunner::failStart()
{
    discardProfile();
    disconnect();
    return false;
}

namespace {

// First connection wins; the listener closes at once so no other local program gets in.
template<typename Server, typename Socket> Socket *firstConnection(Server *server, Socket *already)
{
    Socket *socket = server->nextPendingConnection();
    server->close();
    if (socket && already) {
        socket->abort();
        return nullptr;
    }
    return socket;
}

} // namespace

void OpenVpnRunner::onManagementConnection()
{
    QIODevice *link = nullptr;
    if (m_localServer) {
        if (QLocalSocket *socket = firstConnection(m_localServer, m_localManagement)) {
            m_localManagement = socket;
            link = socket;
        }
    } else if (QTcpSocket *socket = firstConnection(m_managementServer, m_managementSocket)) {
        // Commands go out as several small writes: with Nagle each one after the first would
        // wait for OpenVPN's delayed acknowledgement (40 ms), twice in every connect.
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        m_managementSocket = socket;
        link = socket;
    }
    if (!link)
        return;
    link->setParent(this);
    QObject::connect(link, &QIODevice::readyRead, this, &OpenVpnRunner::managmentReadLine);
    sendOpeningCommands();
}

void OpenVpnRunner::sendOpeningCommands()
{
    sendCommand("state on\n");
    sendCommand("state\n");
    sendCommand("bytecount 1\n");
    sendCommand("hold release\n");
}

void OpenVpnRunner::sendCommand(const QByteArray &command)
{
    QIODevice *link = management();
    if (link && link->isOpen())
        link->write(command);
}

void OpenVpnRunner::managmentReadLine()
{
    QIODevice *link = management();
    while (link && link->canReadLine()) {
        // OpenVPN has read the profile once it talks; the keys leave the disk now.
        discardProfile();
        handleManagementLine(link->readLine());
    }
}

void OpenVpnRunner::handleManagementLine(const QByteArray &received)
{
    QByteArray raw = received.trimmed();
    const int nul = raw.indexOf('\0');
    if (nul >= 0)
        raw.truncate(nul);
    const QString line = QString::fromLatin1(raw);

    if (raw == passwordRequest) {
        // The commands carry the password: they go to the socket only, never to the log.
        sendCommand(QStringLiteral("username Auth %1\n").arg(quoted(m_username)).toLocal8Bit());
        sendCommand(QStringLiteral("password Auth %1\n").arg(quoted(m_password)).toLocal8Bit());
        Tavrix::engineLog(QStringLiteral("OpenVPN: user name and password sent"));
    } else if (line.startsWith(QLatin1String(">HOLD:"))) {
        // With --management-hold OpenVPN holds again before every reconnect; the opening
        // release covers only the first start, and unanswered it would never come back.
        sendCommand("hold release\n");
    } else if (line.startsWith(QLatin1String(">PASSWORD:Verification Failed:"))) {
        Tavrix::engineLog(QStringLiteral("OpenVPN: the server refused the user name or password"));
        disconnect();
    } else if (line.startsWith(QLatin1String(">STATE:"))) {
        if (line.contains(QLatin1String(",CONNECTED,SUCCESS,"))) {
            m_established = true;
            m_refusedClock.invalidate();
            emit connected();
        } else if (line.contains(QLatin1String(",RECONNECTING,")) || line.contains(QLatin1String(",CONNECTING,"))) {
            m_established = false;
            emit connecting();
        }
    } else if (line.startsWith(QLatin1String(">BYTECOUNT:"))) {
        const QStringList parts = line.split(QLatin1Char(':'));
        if (parts.size() != 2)
            return;
        const QStringList counts = parts.at(1).split(QLatin1Char(','));
        if (counts.size() != 2)
            return;
        bool downOk = false;
        bool upOk = false;
        const quint64 down = counts.at(0).toULongLong(&downOk);
        const quint64 up = counts.at(1).toULongLong(&upOk);
        if (downOk && upOk)
            emit transfer(down, up);
    }
}

void OpenVpnRunner::disconnect()
{
    closeManagement();
    reportDisconnected();
    // Through the helper the link stays open until the helper has stopped OpenVPN: its close
    // is how the runner learns the program has gone.
    // Without its management link OpenVPN would wait for one forever: a tunnel left behind
    // after "disconnected" was reported. End it; its end deletes the runner.
    if (isProgramRunning())
        stopProgram();
    else
        deleteLater();
}

void OpenVpnRunner::stopProgram()
{
    if (!isProgramRunning())
        return;
    if (m_helperTunnel.isEmpty()) {
        m_process->terminate(stopGraceMs);
        return;
    }
    if (m_helperStopping)
        return;
    m_helperStopping = true;
    // The helper answers once OpenVPN has ended (SIGTERM, so it takes its routes down).
    Tavrix::PrivilegedHelper::stopLater(m_helperTunnel, this, [this] { onHelperStopped(); });
}

void OpenVpnRunner::onHelperStopped()
{
    if (m_helperTunnel.isEmpty())
        return;
    onProgramFinished();
}

void OpenVpnRunner::noteEngineLine(const QString &line)
{
    // Over UDP a server that has gone answers the keep-alive pings with "port unreachable",
    // which OpenVPN only logs: it waits for its ping-restart, often a minute. Two refusals in
    // a row mean nothing listens there any more: the session restarts now, and the client
    // sees the loss as it would after the ping-restart.
    if (!m_established || !line.contains(QLatin1String("[ECONNREFUSED]")))
        return;
    if (!m_refusedClock.isValid() || m_refusedClock.elapsed() > refusedWindowMs) {
        m_refusedClock.start();
        return;
    }
    m_refusedClock.invalidate();
    m_established = false;
    Tavrix::engineLog(
        QStringLiteral("OpenVPN: the server's port refuses the tunnel's packets; restarting the session"));
    restartSession();
}

void OpenVpnRunner::restartSession()
{
    sendCommand("signal SIGUSR1\n");
}

void OpenVpnRunner::onProgramFinished()
{
    m_helperTunnel.clear();
    if (m_helperManagement)
        m_helperManagement->disconnect(this);
    discardProfile();
    reportDisconnected();
    deleteLater();
}

void OpenVpnRunner::reportDisconnected()
{
    if (m_disconnectReported)
        return;
    m_disconnectReported = true;
    emit disconnected();
}
