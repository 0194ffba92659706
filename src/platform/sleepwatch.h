#pragma once

#include <QObject>

namespace Tavrix {

// Tells when the machine is about to sleep and when it has woken up again (on Linux from
// logind's PrepareForSleep on the system bus). Nothing is inhibited: the client only looks at
// its tunnel again after the wake-up.
class SleepWatch : public QObject
{
    Q_OBJECT
public:
    explicit SleepWatch(QObject *parent = nullptr);

    // Whether the system's sleep notifications reach this process.
    bool isWatching() const { return m_watching; }

signals:
    void aboutToSleep();
    void resumed();

private slots:
    void onPrepareForSleep(bool sleeping);

private:
    bool m_watching = false;
};

} // namespace Tavrix
