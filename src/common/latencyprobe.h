#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <QVector>

namespace Tavrix {

// Measures how responsive the event loop of the thread it lives on is: a timer every 10 ms
// notes how late each tick arrives. A late tick means the thread was busy or blocked for that
// long, so the window could neither paint nor take input. Time the thread spent waiting for a
// processor (other programs had the cores) is noted apart, so a busy machine can be told from
// a frozen client.
class LatencyProbe : public QObject
{
    Q_OBJECT
public:
    static constexpr int IntervalMs = 10;

    explicit LatencyProbe(QObject *parent = nullptr);

    // Starts a new measurement (earlier figures are dropped).
    void start();
    void stop();
    bool isRunning() const { return m_timer.isActive(); }

    // Largest lateness of one tick, in milliseconds.
    double maxStallMs() const;
    // The same without the time the thread stood ready while others had the processor; equal
    // to maxStallMs() where the system does not report that.
    double maxOwnStallMs() const;
    // Lateness that the given fraction of the ticks (0.99: 99 %) stays under.
    double percentileMs(double fraction) const;
    int ticks() const { return m_lateness.size(); }

signals:
    // A tick came at least 50 ms late (lateMs), of which ownMs not for want of a processor;
    // sent right after the stall, so what the thread logged just before it is the culprit.
    void stalled(double lateMs, double ownMs);

private:
    void tick();
    static qint64 runQueueWaitNs();

    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_lastNs = 0;
    qint64 m_lastWaitNs = -1;
    QVector<double> m_lateness;
    QVector<double> m_ownLateness;
};

} // namespace Tavrix
