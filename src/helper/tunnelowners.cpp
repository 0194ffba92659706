#include "helper/tunnelowners.h"

#include <QDBusServiceWatcher>

namespace Tavrix {

TunnelOwners::TunnelOwners(const QDBusConnection &bus, QObject *parent)
    : QObject(parent)
    , m_watcher(new QDBusServiceWatcher(QString(), bus, QDBusServiceWatcher::WatchForUnregistration, this))
{
    // NameOwnerChanged for each owner's unique name: it never comes back once gone.
    connect(m_watcher, &QDBusServiceWatcher::serviceUnregistered, this, &TunnelOwners::onUnregistered);
}

void TunnelOwners::add(const QString &tunnelId, const Owner &owner)
{
    m_owners.insert(tunnelId, owner);
    if (!m_watcher->watchedServices().contains(owner.busName))
        m_watcher->addWatchedService(owner.busName);
}

void TunnelOwners::remove(const QString &tunnelId)
{
    const Owner gone = m_owners.take(tunnelId);
    for (const Owner &other : qAsConst(m_owners)) {
        if (other.busName == gone.busName)
            return;
    }
    m_watcher->removeWatchedService(gone.busName);
}

int TunnelOwners::countForUid(uint uid) const
{
    int count = 0;
    for (const Owner &owner : m_owners)
        count += owner.uid == uid ? 1 : 0;
    return count;
}

void TunnelOwners::onUnregistered(const QString &busName)
{
    QStringList ids;
    for (auto it = m_owners.constBegin(); it != m_owners.constEnd(); ++it) {
        if (it.value().busName == busName)
            ids.append(it.key());
    }
    m_watcher->removeWatchedService(busName);
    if (!ids.isEmpty())
        emit ownerGone(ids);
}

} // namespace Tavrix
