// The probe itself: a thread blocked on purpose shows as a stall of about that length, and
// the time the thread only waited for a processor is kept apart.

#include <QThread>
#include <QtTest>

#include "common/latencyprobe.h"
#include "testmain.h"

using Tavrix::LatencyProbe;

class LatencyProbeTest : public QObject
{
    Q_OBJECT
private slots:
    void blockedThreadShows_data()
    {
        QTest::addColumn<int>("blockMs");
        QTest::newRow("none") << 0;
        QTest::newRow("150 ms") << 150;
        QTest::newRow("400 ms") << 400;
    }

    void blockedThreadShows()
    {
        QFETCH(int, blockMs);
        LatencyProbe probe;
        probe.start();
        QTest::qWait(100);
        if (blockMs)
            QThread::msleep(blockMs); // sleeping is not waiting for a processor: all of it is ours
        QTest::qWait(100);
        probe.stop();
        QVERIFY(!probe.isRunning());
        QVERIFY2(probe.ticks() >= 10, qPrintable(QString::number(probe.ticks())));
        QVERIFY(probe.maxOwnStallMs() <= probe.maxStallMs());
        QVERIFY(probe.percentileMs(0.5) <= probe.percentileMs(0.99));
        QVERIFY(probe.percentileMs(1.0) == probe.maxStallMs());
        if (blockMs) {
            // The tick due during the block comes late by the block less at most one interval.
            QVERIFY2(probe.maxOwnStallMs() >= blockMs - LatencyProbe::IntervalMs - 2,
                     qPrintable(QString::number(probe.maxOwnStallMs())));
            QVERIFY(probe.maxStallMs() < blockMs + 1000);
        }
    }

    void stallAtTheEndCounts()
    {
        // A thread still blocked when the measurement ends is not a quiet one.
        LatencyProbe probe;
        probe.start();
        QTest::qWait(50);
        QThread::msleep(200);
        probe.stop();
        QVERIFY2(probe.maxStallMs() >= 150, qPrintable(QString::number(probe.maxStallMs())));
    }
};

TAVRIX_TEST_MAIN_CORE(LatencyProbeTest)
#include "tst_latencyprobe.moc"
