#pragma once

#include <QMetaType>
#include <QObject>
#include <QReadWriteLock>
#include <QString>
#include <QVector>

namespace Tavrix {

// The application log: the most recent progress and error texts of the network and
// connection code, kept in memory. Every text also goes to the debug stream, so it reaches
// the log file as well.
class Logger : public QObject
{
    Q_OBJECT
public:
    struct Message
    {
        qint64 timestamp = 0; // ms since the epoch
        int level = 0;
        int category = 0;
        QString text;
        int sequence = 0;
        Qt::HANDLE threadId = nullptr;
    };

    static constexpr int maxMessages = 19999;

    static Logger *instance();

    void log(const QString &text, int level, int category);

    // Copy of the kept records, oldest first.
    QVector<Message> messages() const;
    // The kept records whose sequence number is above `sequence`, oldest first; 0 gives all.
    QVector<Message> messagesSince(int sequence) const;
    // Sequence number of the newest record, 0 before the first.
    int lastSequence() const;

signals:
    void newLogMessage(const Tavrix::Logger::Message &message);

private:
    Logger();

    mutable QReadWriteLock m_lock;
    int m_counter = 0;
    // Ring buffer: once full, m_first is the oldest record and the slot the next one replaces.
    QVector<Message> m_messages;
    int m_first = 0;
};

} // namespace Tavrix

Q_DECLARE_METATYPE(Tavrix::Logger::Message)
