#include "app/qtsingleapplication.h"

#include <QDataStream>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QTimer>
#include <QWidget>

#include "app/instancechannel.h"

namespace Tavrix {

namespace {

// A peer that connects but never completes its message is dropped after this long.
constexpr int peerTimeoutMs = 10000;

} // namespace

QtSingleApplication::QtSingleApplication(int &argc, char **argv, bool guiEnabled)
    : QApplication(argc, argv)
{
    // Kept for the familiar signature; this client always has a GUI.
    Q_UNUSED(guiEnabled)
    // One identity per executable path; the runtime folder makes it per user session.
    m_serverName = InstanceChannel::serverName();

    m_lock = std::make_unique<QLockFile>(InstanceChannel::lockPath());
    // The first instance may run for days: only a dead owner makes the lock stale.
    m_lock->setStaleLockTime(0);
    if (m_lock->tryLock(0)) {
        startServer();
    } else if (m_lock->error() == QLockFile::LockFailedError) {
        m_running = true;
    }
    // Any other lock error (unwritable folder): run alone, without messages.
}

QtSingleApplication::~QtSingleApplication()
{
    if (m_server)
        m_server->close();
}

bool QtSingleApplication::isRunning() const
{
    return m_running;
}

void QtSingleApplication::startServer()
{
    // We hold the lock, so a socket file left here belongs to a crashed instance.
    QLocalServer::removeServer(m_serverName);
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(m_serverName)) {
        qWarning() << "Single instance: cannot listen on" << m_serverName << m_server->errorString();
        return;
    }
    connect(m_server, &QLocalServer::newConnection, this, &QtSingleApplication::acceptConnection);
}

void QtSingleApplication::acceptConnection()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        auto *peerTimer = new QTimer(socket);
        peerTimer->setSingleShot(true);
        connect(peerTimer, &QTimer::timeout, socket, &QLocalSocket::abort);
        peerTimer->start(peerTimeoutMs);
        auto buffer = std::make_shared<QByteArray>();
        connect(socket, &QLocalSocket::readyRead, this, [this, socket, buffer, peerTimer] {
            buffer->append(socket->readAll());
            if (buffer->size() < 4)
                return;
            QDataStream header(*buffer);
            quint32 length = 0;
            header >> length;
            if (length > InstanceChannel::maxMessageBytes) {
                socket->abort();
                return;
            }
            if (quint32(buffer->size()) < 4 + length)
                return;
            const QString message = QString::fromUtf8(buffer->mid(4, int(length)));
            buffer->clear();
            // One message per connection: anything after it is not read.
            disconnect(socket, &QLocalSocket::readyRead, this, nullptr);
            if (InstanceChannel::isCommand(message)) {
                // A command may take as long as a connect; the asker sets its own limit.
                peerTimer->stop();
                emit commandReceived(message.mid(int(qstrlen(InstanceChannel::commandPrefix))),
                                     std::make_shared<CommandAnswer>(socket));
                return;
            }
            socket->write(&InstanceChannel::ackByte, 1);
            socket->flush();
            socket->disconnectFromServer();
            emit messageReceived(message);
        });
    }
}

bool QtSingleApplication::sendMessage(const QString &text, int timeout)
{
    if (!m_running)
        return false;
    return InstanceChannel::send(text, timeout) == InstanceChannel::Outcome::Delivered;
}

void QtSingleApplication::setActivationWindow(QWidget *window, bool activateOnMessage)
{
    m_activationWindow = window;
    if (activateOnMessage == m_activateOnMessage)
        return;
    m_activateOnMessage = activateOnMessage;
    if (activateOnMessage)
        connect(this, &QtSingleApplication::messageReceived, this, &QtSingleApplication::activateWindow);
    else
        disconnect(this, &QtSingleApplication::messageReceived, this, &QtSingleApplication::activateWindow);
}

QWidget *QtSingleApplication::activationWindow() const
{
    return m_activationWindow;
}

void QtSingleApplication::activateWindow()
{
    QWidget *window = m_activationWindow;
    if (!window)
        return;
    window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->raise();
    window->activateWindow();
}

} // namespace Tavrix
