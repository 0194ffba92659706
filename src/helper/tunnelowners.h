#pragma once

#include <QDBusConnection>
#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>

class QDBusServiceWatcher;

namespace Tavrix {

// Who owns each tunnel: the caller's unique bus name and uid, recorded at its start. Only
// that uid may act on it, and when that bus name leaves the bus (the window ended, crashed or
// was killed) its tunnels are to be stopped.
class TunnelOwners : public QObject
{
    Q_OBJECT
public:
    struct Owner
    {
        QString busName;
        uint uid = 0;
    };

    explicit TunnelOwners(const QDBusConnection &bus, QObject *parent = nullptr);

    void add(const QString &tunnelId, const Owner &owner);
    void remove(const QString &tunnelId);
    bool contains(const QString &tunnelId) const { return m_owners.contains(tunnelId); }
    Owner owner(const QString &tunnelId) const { return m_owners.value(tunnelId); }
    int countForUid(uint uid) const;

signals:
    // The bus name left: these tunnels were its.
    void ownerGone(const QStringList &tunnelIds);

private:
    void onUnregistered(const QString &busName);

    QHash<QString, Owner> m_owners;
    QDBusServiceWatcher *m_watcher = nullptr;
};

} // namespace Tavrix
