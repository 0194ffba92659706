#include "app/logger.h"

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
    // Held to the end, so records, debug lines and signals keep the same order.
    QWriteLocker locker(&m_lock);
    Message message;
    message.timestamp = QDateTime::currentMSecsSinceEpoch();
    message.level = level;
    message.category = category;
    message.text = text;
    message.sequence = ++m_counter;
    message.threadId = QThread::currentThreadId();

    m_messages.append(message);
    if (m_messages.size() > maxMessages)
        m_messages.removeFirst();

    qDebug().noquote() << text;
    emit newLogMessage(message);
}

QVector<Logger::Message> Logger::messages() const
{
    QReadLocker locker(&m_lock);
    return m_messages;
}

} // namespace Tavrix
