#pragma once

#include <QVariantMap>

#include "helper/tunnel.h"

namespace Tavrix {

// Outline for one caller: the Shadowsocks server's fields are validated, the key goes into a
// root-only file in the runtime folder (never onto a command line), and the tunnel engine
// beside the helper makes the device, its firewall table and the routes. Everything it makes
// is named after the tunnel's slot, so that tunnels of different users never share a name,
// and is removed again when the tunnel ends, even after the engine had to be killed.
class OutlineTunnel : public Tunnel
{
    Q_OBJECT
public:
    static constexpr int slotCount = 64;

    OutlineTunnel(const QString &id, int slot, const RuntimeFolder &folder, QObject *parent = nullptr);

    bool start(const QVariantMap &fields, QString *error);
    int slot() const { return m_slot; }
    QString interfaceName() const;

protected:
    void cleanUp() override;

private:
    int m_slot;
};

} // namespace Tavrix
