#include "common/latencyprobe.h"

#include <algorithm>

#include "platform/threadwait.h"

namespace Tavrix {

LatencyProbe::LatencyProbe(QObject *parent)
    : QObject(parent)
{
    // A coarse timer may fire up to 5 % early or late by design; only a precise one shows
    // the loop's own delay.
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(IntervalMs);
    connect(&m_timer, &QTimer::timeout, this, &LatencyProbe::tick);
}

void LatencyProbe::start()
{
    m_lateness.clear();
    m_ownLateness.clear();
    m_clock.start();
    m_lastNs = 0;
    m_lastWaitNs = runQueueWaitNs();
    m_timer.start();
}

void LatencyProbe::stop()
{
    if (m_timer.isActive())
        tick(); // a stall still going on at the end counts too
    m_timer.stop();
}

void LatencyProbe::tick()
{
    const qint64 now = m_clock.nsecsElapsed();
    const double late = qMax<double>(0.0, double(now - m_lastNs) / 1e6 - IntervalMs);
    m_lastNs = now;
    double own = late;
    const qint64 wait = runQueueWaitNs();
    if (wait >= 0 && m_lastWaitNs >= 0)
        own = qMax(0.0, late - double(wait - m_lastWaitNs) / 1e6);
    m_lastWaitNs = wait;
    m_lateness.append(late);
    m_ownLateness.append(own);
    if (late >= 50)
        emit stalled(late, own);
}

double LatencyProbe::maxStallMs() const
{
    return m_lateness.isEmpty() ? 0.0 : *std::max_element(m_lateness.cbegin(), m_lateness.cend());
}

double LatencyProbe::maxOwnStallMs() const
{
    return m_ownLateness.isEmpty() ? 0.0 : *std::max_element(m_ownLateness.cbegin(), m_ownLateness.cend());
}

double LatencyProbe::percentileMs(double fraction) const
{
    if (m_lateness.isEmpty())
        return 0.0;
    QVector<double> sorted = m_lateness;
    std::sort(sorted.begin(), sorted.end());
    const int index = qBound(0, int(fraction * (sorted.size() - 1) + 0.5), sorted.size() - 1);
    return sorted.at(index);
}

qint64 LatencyProbe::runQueueWaitNs()
{
    return threadRunQueueWaitNs();
}

} // namespace Tavrix
