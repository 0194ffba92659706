#include "vpn/reconnector.h"

#include <QDebug>

#include <algorithm>

namespace Tavrix {

namespace {
// The least time an attempt gets before a network change may replace it.
constexpr qint64 minAttemptMs = 2000;
} // namespace

Reconnector::Reconnector(QObject *parent)
    : QObject(parent)
{
    for (QTimer *timer : {&m_attemptTimer, &m_attemptTimeout, &m_giveUpTimer})
        timer->setSingleShot(true);
    QObject::connect(&m_attemptTimer, &QTimer::timeout, this, &Reconnector::runAttempt);
    QObject::connect(&m_attemptTimeout, &QTimer::timeout, this, [this] {
        qInfo() << "Reconnect attempt" << m_attempts << "did not bring the tunnel back in time";
        engineEnded();
    });
    QObject::connect(&m_giveUpTimer, &QTimer::timeout, this, &Reconnector::giveUp);
}

void Reconnector::tunnelLost(const QString &reason, bool engineResuming)
{
    if (m_active)
        return;
    m_active = true;
    m_attemptRunning = false;
    m_attempts = 0;
    m_nextDelayMs = m_timing.firstDelayMs;
    m_reason = reason;
    m_since.start();
    m_giveUpTimer.start(m_timing.giveUpMs);
    qInfo().noquote() << "Tunnel lost (" + reason + "); reconnecting";
    emit started(reason);
    if (engineResuming)
        scheduleAttempt(m_timing.engineGraceMs);
    else
        scheduleAttempt(m_timing.firstDelayMs);
}

void Reconnector::engineEnded()
{
    // An end with no attempt under way is a late one of an engine already replaced.
    if (!m_active || (!m_attemptRunning && m_attempts > 0))
        return;
    m_attemptRunning = false;
    m_attemptTimeout.stop();
    // An engine still resuming on its own ended: its attempt is over, the next one follows.
    const int delay = m_nextDelayMs;
    m_nextDelayMs = std::min(m_nextDelayMs * 2, m_timing.maxDelayMs);
    scheduleAttempt(m_attempts == 0 ? m_timing.firstDelayMs : delay);
}

void Reconnector::tunnelBack()
{
    if (!m_active)
        return;
    qInfo() << "Tunnel back after" << m_since.elapsed() << "ms and" << m_attempts << "attempts";
    stopTimers();
    m_active = false;
    m_attemptRunning = false;
    emit finished(true, QString());
}

void Reconnector::retryNow()
{
    if (!m_active)
        return;
    m_nextDelayMs = m_timing.firstDelayMs;
    // Changes come in bursts, some caused by the attempt itself (its routes coming and going):
    // an attempt just started is given its moment.
    if (m_attemptRunning && m_attemptClock.elapsed() < minAttemptMs) {
        m_attemptTimeout.start(int(minAttemptMs - m_attemptClock.elapsed()));
        return;
    }
    // An attempt under way may have started while the network was still gone: a new one
    // replaces it.
    m_attemptTimeout.stop();
    m_attemptRunning = false;
    scheduleAttempt(0);
}

void Reconnector::cancel()
{
    if (!m_active)
        return;
    stopTimers();
    m_active = false;
    m_attemptRunning = false;
}

void Reconnector::scheduleAttempt(int delayMs)
{
    // The give-up deadline wins over an attempt that would only start after it.
    m_attemptTimer.start(std::max(0, delayMs));
}

void Reconnector::runAttempt()
{
    if (!m_active)
        return;
    ++m_attempts;
    m_attemptRunning = true;
    m_attemptClock.start();
    m_attemptTimeout.start(m_timing.attemptTimeoutMs);
    qInfo() << "Reconnect attempt" << m_attempts << "after" << m_since.elapsed() << "ms";
    emit attemptDue(m_attempts);
}

void Reconnector::giveUp()
{
    if (!m_active)
        return;
    stopTimers();
    m_active = false;
    m_attemptRunning = false;
    const int seconds = std::max(1, m_timing.giveUpMs / 1000);
    const QString bound =
        seconds < 120 ? QStringLiteral("%1 seconds").arg(seconds) : QStringLiteral("%1 minutes").arg(seconds / 60);
    const QString message =
        QStringLiteral("The VPN connection could not be restored within %1. Please connect again.").arg(bound);
    qWarning().noquote() << "Reconnecting given up after" << m_attempts << "attempts:" << m_reason;
    emit finished(false, message);
}

void Reconnector::stopTimers()
{
    m_attemptTimer.stop();
    m_attemptTimeout.stop();
    m_giveUpTimer.stop();
}

} // namespace Tavrix
