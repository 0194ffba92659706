#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

class QLocalSocket;

namespace Tavrix {

// The local socket between starts of the client in one user session. A message is a 32-bit
// big-endian length and that many UTF-8 bytes. The running instance answers a plain message
// (a wake-up, a login link) with one acknowledgement byte as soon as it has it whole; a
// command (a message with commandPrefix) is answered when it is done, with the byte followed
// by a framed JSON answer.
namespace InstanceChannel {

constexpr quint32 maxMessageBytes = 64 * 1024;
constexpr char ackByte = '\x06';
// Not a login link (those start with the URL scheme) and not the wake-up text.
constexpr const char commandPrefix[] = "tavrixvpn-command:";

// The socket's and the lock's path for this executable (one identity per path) in the user's
// runtime folder. Needs the application object.
QString serverName();
QString lockPath();

QByteArray frame(const QByteArray &payload);
bool isCommand(const QString &message);

enum class Outcome {
    Delivered,  // acknowledged (and, for a command, answered)
    NotRunning, // nobody listens and no live instance holds the lock
    NoAnswer,   // an instance runs but did not answer in time (or could not answer a command)
};

// Sends text and waits at most timeoutMs. With answer, text is a command and *answer gets
// the instance's JSON answer.
Outcome send(const QString &text, int timeoutMs, QByteArray *answer = nullptr);

// Whether a live process holds the single-instance lock (it may not listen yet).
bool lockHeld();

} // namespace InstanceChannel

// The answering end of one command: the instance answers once, whenever it is done; the
// socket closes after the answer. An asker that went away meanwhile is no error.
class CommandAnswer : public QObject
{
    Q_OBJECT
public:
    explicit CommandAnswer(QLocalSocket *socket);
    ~CommandAnswer() override;

    void send(const QByteArray &json);
    bool answered() const { return m_answered; }

private:
    QPointer<QLocalSocket> m_socket;
    bool m_answered = false;
};

} // namespace Tavrix
