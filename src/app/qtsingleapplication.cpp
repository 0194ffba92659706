#include "app/qtsingleapplication.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDir>
#include <QElapsedTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>
#include <QWidget>

namespace Tavrix {

namespace {

// Messages are framed as a 32-bit big-endian length and that many UTF-8 bytes; the receiver
// answers with one byte once it has the whole message.
constexpr quint32 maxMessageBytes = 64 * 1024;
constexpr char ackByte = '\x06';
// A peer that connects but never completes its message is dropped after this long.
constexpr int peerTimeoutMs = 10000;

QString runtimeFolder()
{
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty())
        dir = QDir::tempPath();
    return dir;
}

QByteArray frame(const QString &text)
{
    const QByteArray payload = text.toUtf8();
    QByteArray out;
    QDataStream stream(&out, QIODevice::WriteOnly);
    stream << quint32(payload.size());
    out.append(payload);
    return out;
}

} // namespace

QtSingleApplication::QtSingleApplication(int &argc, char **argv, bool guiEnabled)
    : QApplication(argc, argv)
{
    // Kept for the familiar signature; this client always has a GUI.
    Q_UNUSED(guiEnabled)
    // One identity per executable path; the runtime folder makes it per user session.
    const QByteArray hash =
        QCryptographicHash::hash(applicationFilePath().toUtf8(), QCryptographicHash::Sha1).toHex().left(16);
    const QString base = runtimeFolder() + QStringLiteral("/tavrixvpn-") + QString::fromLatin1(hash);
    m_serverName = base + QStringLiteral(".sock");

    m_lock = std::make_unique<QLockFile>(base + QStringLiteral(".lock"));
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
        QTimer::singleShot(peerTimeoutMs, socket, [socket] { socket->abort(); });
        auto buffer = std::make_shared<QByteArray>();
        connect(socket, &QLocalSocket::readyRead, this, [this, socket, buffer] {
            buffer->append(socket->readAll());
            if (buffer->size() < 4)
                return;
            QDataStream header(*buffer);
            quint32 length = 0;
            header >> length;
            if (length > maxMessageBytes) {
                socket->abort();
                return;
            }
            if (quint32(buffer->size()) < 4 + length)
                return;
            const QString message = QString::fromUtf8(buffer->mid(4, int(length)));
            buffer->clear();
            socket->write(&ackByte, 1);
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
    QElapsedTimer clock;
    clock.start();
    auto remaining = [&] { return int(qMax<qint64>(0, timeout - clock.elapsed())); };

    QLocalSocket socket;
    for (;;) {
        socket.connectToServer(m_serverName);
        if (socket.waitForConnected(remaining()))
            break;
        // The first instance may hold the lock but not listen yet.
        if (remaining() == 0)
            return false;
        QThread::msleep(50);
    }
    socket.write(frame(text));
    if (!socket.waitForBytesWritten(remaining()))
        return false;
    while (socket.bytesAvailable() < 1) {
        if (!socket.waitForReadyRead(remaining()))
            return false;
    }
    return socket.read(1) == QByteArray(1, ackByte);
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
