#pragma once

#include <QHash>
#include <QSet>
#include <QStringList>

#include "helper/tunnel.h"

class QTimer;

namespace Tavrix {

// Split tunnelling for one caller: programs it names (file names, compared with each running
// process's executable and never run) bypass the tunnel, but only processes of the caller's
// own uid (real and effective). They are moved into a cgroup of this owner's, whose sockets a
// firewall table of its own marks with a mark of its own, routed by a rule of its own through
// the machine's own way out. Cleared on request, and when the owner leaves the bus; the
// processes go back to the groups they came from.
class BypassGroup : public Tunnel
{
    Q_OBJECT
public:
    static constexpr int slotCount = 64;

    BypassGroup(const QString &id, int slot, uint uid, const RuntimeFolder &folder, QObject *parent = nullptr);

    // Sets up the group and its rules and starts placing the programs; false with *error.
    bool start(const QStringList &programs, QString *error);
    void setPrograms(const QStringList &programs);
    int slot() const { return m_slot; }
    // Clears at once: the processes are back and the rules gone when this returns (stop()
    // then ends it).
    void clear() { cleanUp(); }

    // Removes what a crashed helper left behind (at the helper's start): bypass groups, with
    // their processes put back, and the split-tunnel and Outline tables, rules and devices.
    static void removeLeftovers();

protected:
    void cleanUp() override;

private:
    void place();
    QStringList serviceArguments(const QString &command) const;
    bool moveTo(const QString &group, const QString &pid) const;

    int m_slot;
    uint m_uid;
    QString m_root;  // the cgroup2 mount
    QString m_group; // its name below m_root
    QSet<QString> m_programs;
    QHash<QString, QString> m_origins; // pid -> the group it came from
    QTimer *m_timer = nullptr;
    bool m_cleared = false;
};

} // namespace Tavrix
