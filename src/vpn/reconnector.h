#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

namespace Tavrix {

// When to try bringing a lost tunnel back, and when to give up. The controller tells it what
// happens to the tunnel; it answers with `attemptDue` (stop what runs, connect anew) and
// `finished`. Attempts back off (1, 2, 4, 8 ... s, capped); a network coming back or a
// wake-up makes the next one due at once.
class Reconnector : public QObject
{
    Q_OBJECT
public:
    struct Timing
    {
        int firstDelayMs = 1000;
        int maxDelayMs = 16000;
        // From the loss on; then the tunnel stays down until the user connects again.
        int giveUpMs = 5 * 60 * 1000;
        // How long an engine that resumes its own session (OpenConnect, OpenVPN, WireGuard)
        // gets before a fresh sign-in replaces it.
        int engineGraceMs = 10000;
        // An attempt that has not brought the tunnel up by then counts as failed.
        int attemptTimeoutMs = 30000;
    };

    explicit Reconnector(QObject *parent = nullptr);

    void setTiming(const Timing &timing) { m_timing = timing; }
    const Timing &timing() const { return m_timing; }

    bool isActive() const { return m_active; }
    int attempts() const { return m_attempts; }
    // Milliseconds since the tunnel was lost; 0 when not active.
    qint64 elapsedMs() const { return m_active ? m_since.elapsed() : 0; }

    // The tunnel stopped carrying traffic. engineResuming: the engine still runs and tries to
    // get its session back itself; otherwise it has ended.
    void tunnelLost(const QString &reason, bool engineResuming);
    // The engine (or the last attempt) ended without a tunnel.
    void engineEnded();
    // The tunnel carries traffic again.
    void tunnelBack();
    // The network changed or the machine woke up: the next attempt now, from the first delay.
    void retryNow();
    // The user disconnected: nothing more is tried.
    void cancel();

signals:
    void started(const QString &reason);
    // Stop what still runs and connect anew (attempt counts from 1).
    void attemptDue(int attempt);
    // ok: the tunnel is back; otherwise message says why it was given up.
    void finished(bool ok, const QString &message);

private:
    void scheduleAttempt(int delayMs);
    void runAttempt();
    void giveUp();
    void stopTimers();

    Timing m_timing;
    bool m_active = false;
    // An attempt was started and has not ended yet.
    bool m_attemptRunning = false;
    int m_attempts = 0;
    int m_nextDelayMs = 0;
    QString m_reason;
    QElapsedTimer m_since;
    QElapsedTimer m_attemptClock;
    QTimer m_attemptTimer;
    QTimer m_attemptTimeout;
    QTimer m_giveUpTimer;
};

} // namespace Tavrix
