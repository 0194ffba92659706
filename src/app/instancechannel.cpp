#include "app/instancechannel.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDataStream>
#include <QDeadlineTimer>
#include <QDir>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>
#include <QThread>

#include "platform/processalive.h"

namespace Tavrix {

namespace {

QString basePath()
{
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty())
        dir = QDir::tempPath();
    const QByteArray hash =
        QCryptographicHash::hash(QCoreApplication::applicationFilePath().toUtf8(), QCryptographicHash::Sha1)
            .toHex()
            .left(16);
    return dir + QStringLiteral("/tavrixvpn-") + QString::fromLatin1(hash);
}

int remaining(const QDeadlineTimer &deadline)
{
    return int(qMax<qint64>(0, deadline.remainingTime()));
}

// Reads exactly count bytes or fails at the deadline or when the peer closes.
bool readExactly(QLocalSocket &socket, qint64 count, const QDeadlineTimer &deadline, QByteArray *out)
{
    while (socket.bytesAvailable() < count) {
        if (!socket.waitForReadyRead(remaining(deadline)))
            return false;
    }
    *out = socket.read(count);
    return true;
}

} // namespace

namespace InstanceChannel {

QString serverName()
{
    return basePath() + QStringLiteral(".sock");
}

QString lockPath()
{
    return basePath() + QStringLiteral(".lock");
}

QByteArray frame(const QByteArray &payload)
{
    QByteArray out;
    QDataStream stream(&out, QIODevice::WriteOnly);
    stream << quint32(payload.size());
    out.append(payload);
    return out;
}

bool isCommand(const QString &message)
{
    return message.startsWith(QLatin1String(commandPrefix));
}

bool lockHeld()
{
    QLockFile lock(lockPath());
    qint64 pid = 0;
    QString host;
    QString application;
    if (!lock.getLockInfo(&pid, &host, &application) || pid <= 0)
        return false;
    return processAlive(pid);
}

Outcome send(const QString &text, int timeoutMs, QByteArray *answer)
{
    const QDeadlineTimer deadline(timeoutMs);
    QLocalSocket socket;
    for (;;) {
        socket.connectToServer(serverName());
        if (socket.waitForConnected(qMin(remaining(deadline), 1000)))
            break;
        // An instance that holds the lock may not listen yet; without one nobody will.
        if (!lockHeld())
            return Outcome::NotRunning;
        if (deadline.hasExpired())
            return Outcome::NoAnswer;
        QThread::msleep(50);
    }
    socket.write(frame(text.toUtf8()));
    if (!socket.waitForBytesWritten(remaining(deadline)))
        return Outcome::NoAnswer;
    QByteArray ack;
    if (!readExactly(socket, 1, deadline, &ack) || ack != QByteArray(1, ackByte))
        return Outcome::NoAnswer;
    if (!answer)
        return Outcome::Delivered;
    // An instance of a version without commands acknowledges and hangs up.
    QByteArray header;
    if (!readExactly(socket, 4, deadline, &header))
        return Outcome::NoAnswer;
    QDataStream stream(header);
    quint32 length = 0;
    stream >> length;
    if (length > maxMessageBytes * 16)
        return Outcome::NoAnswer;
    if (!readExactly(socket, qint64(length), deadline, answer))
        return Outcome::NoAnswer;
    return Outcome::Delivered;
}

} // namespace InstanceChannel

CommandAnswer::CommandAnswer(QLocalSocket *socket)
    : m_socket(socket)
{
}

CommandAnswer::~CommandAnswer()
{
    // Never left hanging: an asker gets an answer even when the command was dropped.
    if (!m_answered)
        send(QByteArrayLiteral("{\"code\":1,\"message\":\"The command was not completed.\"}"));
}

void CommandAnswer::send(const QByteArray &json)
{
    if (m_answered)
        return;
    m_answered = true;
    if (!m_socket || m_socket->state() != QLocalSocket::ConnectedState)
        return;
    m_socket->write(QByteArray(1, InstanceChannel::ackByte) + InstanceChannel::frame(json));
    m_socket->flush();
    m_socket->disconnectFromServer();
}

} // namespace Tavrix
