#pragma once

#include <QString>
#include <QStringList>

#include "helper/tunnel.h"

namespace Tavrix::HelperProto {
struct TunSettings;
}

namespace Tavrix {

// A tun device for the caller's in-process OpenConnect session. The helper opens it (the
// kernel names it "tuntvx<n>", unique on the machine; "tun" first like every tunnel device,
// so that the kill switch lets its traffic out and the network watch takes it for a tunnel)
// and hands the descriptor over; the session moves the packets, and the helper alone sets
// addresses, routes and DNS from typed settings. Everything it added goes when the tunnel
// ends: the routes kept outside the tunnel, the DNS settings, the device itself (its own
// routes and addresses go with it).
class TunDevice : public Tunnel
{
    Q_OBJECT
public:
    TunDevice(const QString &id, const RuntimeFolder &folder, QObject *parent = nullptr);
    ~TunDevice() override;

    bool create(QString *error);
    QString interfaceName() const { return m_name; }
    // The helper's own descriptor of the device; the caller gets a duplicate.
    int fd() const { return m_fd; }
    // Applies the settings in place of any earlier ones. *dnsState: "applied", "none" (no DNS
    // servers given) or "not applied: <why>". False with *error when the device could not be
    // configured (nothing of this attempt is left then).
    bool configure(const HelperProto::TunSettings &settings, bool resolvedRunning, QString *dnsState, QString *error);

    // Takes away the devices and routes an earlier helper left when it ended without
    // tidying up (killed, crashed): each device keeps a record of them in the runtime folder.
    static void removeLeftovers(const RuntimeFolder &folder);

protected:
    void cleanUp() override;

private:
    // Takes away the addresses and routes configure() applied; the device stays.
    void undo();
    void revertDns();
    bool stillOurs() const;
    // What removeLeftovers() would take away of this device, kept up to date.
    void record();

    int m_fd = -1;
    unsigned m_index = 0;
    QString m_name;
    // "ip -batch" lines that configure() applied, and those that take them back.
    QStringList m_applied;
    QStringList m_undo;
    bool m_dnsApplied = false;
    bool m_removed = false;
};

} // namespace Tavrix
