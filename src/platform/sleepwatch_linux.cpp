#include <QDBusConnection>
#include <QDebug>

#include "platform/sleepwatch.h"

namespace Tavrix {

SleepWatch::SleepWatch(QObject *parent)
    : QObject(parent)
{
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        qWarning() << "No system bus: the tunnel is not checked after the machine wakes up";
        return;
    }
    m_watching = bus.connect(QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
                             QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"), this,
                             SLOT(onPrepareForSleep(bool)));
}

void SleepWatch::onPrepareForSleep(bool sleeping)
{
    if (sleeping)
        emit aboutToSleep();
    else
        emit resumed();
}

} // namespace Tavrix
