#include "log/logger.h"

#include <QDateTime>
#include <QDebug>
#include <QThread>

namespace Tavrix {

Logger::Logger()
{
    qRegisterMetaType<Tavrix::Logger::Message>("Logger::Message");
}

Logger *Logger::instance()
{
    static Logger logger;
    return &logger;
}

void Logger::log(const QString &text, int level, int category)
{
    Message message;
    message.timestamp = QDateTime::currentMSecsSinceEpoch();
    message.level = level;
    message.category = category;
    message.text = text;
    message.threadId = QThread::currentThreadId();
    {
        // The debug line is written under the lock so that records and log lines keep one
        // order; the signal goes out after it, so a slot may read the log without deadlock.
        QWriteLocker locker(&m_lock);
        message.sequence = ++m_counter;
        if (m_messages.size() < maxMessages) {
            m_messages.append(message);
        } else {
            m_messages[m_first] = message;
            m_first = (m_first + 1) % maxMessages;
        }
        qDebug().noquote() << text;
    }
    emit newLogMessage(message);
}

QVector<Logger::Message> Logger::messages() const
{
    return messagesSince(0);
}

QVector<Logger::Message> Logger::messagesSince(int sequence) const
{
    QReadLocker locker(&m_lock);
    QVector<Message> result;
    const int count = m_messages.size();
    // Records carry consecutive sequence numbers, so the first wanted one is found directly.
    const int oldest = count == 0 ? 0 : m_messages.at(m_first).sequence;
    const int skip = qBound(0, sequence - oldest + 1, count);
    result.reserve(count - skip);
    for (int i = skip; i < count; ++i)
        result.append(m_messages.at((m_first + i) % count));
    return result;
}

int Logger::lastSequence() const
{
    QReadLocker locker(&m_lock);
    return m_counter;
}

} // namespace Tavrix
