#pragma once

#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>

class QSocketNotifier;

namespace Tavrix {

// Tells when the machine's way out to the network changes: a link going down or up, an
// address added or removed, a new default route. Changes on tunnel devices (ours or another
// VPN's) are not reported: they follow from tunnels, never cause a lost one. Bursts (a new
// lease brings an address and a route at once) come out as one `changed`.
class NetworkWatch : public QObject
{
    Q_OBJECT
public:
    explicit NetworkWatch(QObject *parent = nullptr);
    ~NetworkWatch() override;

    // Whether the system tells this process about changes at all.
    bool isWatching() const { return m_fd >= 0; }
    // Whether an interface name is a tunnel's, whose changes are not reported.
    static bool isTunnelInterface(const QString &name);

signals:
    // what: a short description for the log ("link tvx12c down", "address on eth0").
    void changed(const QString &what);

private:
    void readEvents();
    void note(const QString &what);

    int m_fd = -1;
    QSocketNotifier *m_notifier = nullptr;
    QTimer m_settle;
    QString m_pending;
    // "<interface> <address>" of every address on a device that is no tunnel's: the system
    // repeats an address's announcement for its lifetime and flags (duplicate address
    // detection done, a router's refresh), which changes nothing.
    QSet<QString> m_addresses;
};

} // namespace Tavrix
