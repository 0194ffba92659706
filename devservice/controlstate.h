#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QMap>
#include <QString>

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace Tavrix {
namespace Dev {

// The test switches: how the service misbehaves per request path, and the log of what it
// received. Shared by all server threads.
class ControlState
{
public:
    enum class Mode { Normal, Down, Slow, Never, Empty, Malformed, Status, Body };

    struct Behaviour
    {
        Mode mode = Mode::Normal;
        int status = 0;
        int delayMs = 0;
        QString message;
        QByteArray body; // Body: the reply, sent as it is
    };

    static bool parseMode(const QString &text, Mode *mode);

    // path is an exact request path, or a prefix followed by "*".
    void set(const QString &path, const Behaviour &behaviour);
    Behaviour behaviourFor(const QString &path) const;

    void record(const QJsonObject &request);
    QJsonArray requests() const;

    // All paths back to normal, log emptied.
    void reset();

    // Waits up to the given time; returns early (false) when the service is stopping or
    // the predicate says so.
    template<class Predicate> bool sleepFor(std::chrono::milliseconds duration, Predicate stopEarly)
    {
        const auto end = std::chrono::steady_clock::now() + duration;
        std::unique_lock<std::mutex> lock(m_mutex);
        while (!m_stopping) {
            const auto now = std::chrono::steady_clock::now();
            if (now >= end)
                return true;
            lock.unlock();
            if (stopEarly())
                return false;
            lock.lock();
            m_wake.wait_for(lock,
                            std::min<std::chrono::steady_clock::duration>(end - now, std::chrono::milliseconds(100)));
        }
        return false;
    }

    // Wakes every sleeping request; used on shutdown.
    void stop();

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stopping = false;
    QMap<QString, Behaviour> m_exact;
    QMap<QString, Behaviour> m_prefix;
    QJsonArray m_log;
};

} // namespace Dev
} // namespace Tavrix
