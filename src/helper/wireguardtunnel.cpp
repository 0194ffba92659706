#include "helper/wireguardtunnel.h"

#include <QDBusArgument>
#include <QDBusMetaType>
#include <QTimer>

#include "helper/helperbus.h"
#include "helper/proto.h"
#include "helperproto/wireguardstats.h"

namespace Tavrix {

namespace {

// wireguard-go and wg-quick are up in well under a second; a busy machine still fits.
constexpr int upWaitMs = 20000;
const QString configSuffix = QStringLiteral(".conf");
const QString upLine = QStringLiteral("wireguard-client: tunnel up on ");

namespace Key = HelperBus::WireGuardKey;

// Reads a{sv} strictly: every key known, every value of its type. Anything else is refused,
// so a hook ("PostUp", "PreUp"...) or a file name cannot even be carried.
class FieldReader
{
public:
    FieldReader(const QVariantMap &map, const QString &where, QString *error)
        : m_map(map)
        , m_where(where)
        , m_error(error)
    {
    }

    bool onlyKeys(const QStringList &known)
    {
        for (auto it = m_map.constBegin(); it != m_map.constEnd(); ++it) {
            if (!known.contains(it.key()))
                return refuse(QStringLiteral("unknown field \"%1\"").arg(it.key().left(40)));
        }
        return true;
    }

    bool text(const char *key, QString *out, bool required)
    {
        const QVariant value = m_map.value(QLatin1String(key));
        if (!value.isValid())
            return !required || refuse(QStringLiteral("missing %1").arg(QLatin1String(key)));
        if (value.userType() != QMetaType::QString)
            return refuse(QStringLiteral("%1 must be a string").arg(QLatin1String(key)));
        *out = value.toString();
        return true;
    }

    bool list(const char *key, QStringList *out, bool required)
    {
        const QVariant value = m_map.value(QLatin1String(key));
        if (!value.isValid())
            return !required || refuse(QStringLiteral("missing %1").arg(QLatin1String(key)));
        if (value.userType() != QMetaType::QStringList)
            return refuse(QStringLiteral("%1 must be a list of strings").arg(QLatin1String(key)));
        *out = value.toStringList();
        return true;
    }

    bool number(const char *key, uint *out)
    {
        const QVariant value = m_map.value(QLatin1String(key));
        if (!value.isValid())
            return true;
        if (value.userType() != QMetaType::UInt)
            return refuse(QStringLiteral("%1 must be an unsigned number").arg(QLatin1String(key)));
        *out = value.toUInt();
        return true;
    }

    bool refuse(const QString &why)
    {
        *m_error = m_where + QStringLiteral(": ") + why;
        return false;
    }

private:
    const QVariantMap &m_map;
    QString m_where;
    QString *m_error;
};

bool readConfig(const QVariantMap &fields, HelperProto::WireGuardConfig *config, QString *error)
{
    FieldReader top(fields, QStringLiteral("WireGuard request"), error);
    uint mtu = 0;
    uint listenPort = 0;
    if (!top.onlyKeys({Key::privateKey, Key::addresses, Key::dns, Key::mtu, Key::listenPort, Key::peers}) ||
        !top.text(Key::privateKey, &config->privateKey, true) || !top.list(Key::addresses, &config->addresses, true) ||
        !top.list(Key::dns, &config->dns, false) || !top.number(Key::mtu, &mtu) ||
        !top.number(Key::listenPort, &listenPort))
        return false;
    config->mtu = decltype(config->mtu)(mtu);
    config->listenPort = decltype(config->listenPort)(listenPort);
    // aa{sv} inside a variant arrives undecoded; anything of another shape is refused.
    const QVariant peers = fields.value(QLatin1String(Key::peers));
    if (!peers.isValid())
        return top.refuse(QStringLiteral("missing Peers"));
    if (peers.userType() != qMetaTypeId<QDBusArgument>() ||
        peers.value<QDBusArgument>().currentSignature() != QLatin1String("aa{sv}"))
        return top.refuse(QStringLiteral("Peers must be a list of field sets"));
    QList<QVariantMap> peerList;
    peers.value<QDBusArgument>() >> peerList;
    if (peerList.isEmpty() || peerList.size() > HelperProto::maxPeers)
        return top.refuse(QStringLiteral("one to %1 peers are needed").arg(HelperProto::maxPeers));
    for (int i = 0; i < peerList.size(); ++i) {
        const QVariantMap &peerFields = peerList.at(i);
        FieldReader reader(peerFields, QStringLiteral("WireGuard peer %1").arg(i + 1), error);
        HelperProto::WireGuardPeer peer;
        uint keepalive = 0;
        if (!reader.onlyKeys(
                {Key::publicKey, Key::presharedKey, Key::allowedIps, Key::endpoint, Key::persistentKeepalive}) ||
            !reader.text(Key::publicKey, &peer.publicKey, true) ||
            !reader.text(Key::presharedKey, &peer.presharedKey, false) ||
            !reader.list(Key::allowedIps, &peer.allowedIps, true) ||
            !reader.text(Key::endpoint, &peer.endpoint, false) || !reader.number(Key::persistentKeepalive, &keepalive))
            return false;
        peer.persistentKeepalive = decltype(peer.persistentKeepalive)(keepalive);
        config->peers.append(peer);
    }
    return HelperProto::validateWireGuardConfig(*config, error);
}

} // namespace

WireGuardTunnel::WireGuardTunnel(const QString &id, const RuntimeFolder &folder, QObject *parent)
    : Tunnel(id, QStringLiteral("WireGuard"), folder, parent)
{
}

bool WireGuardTunnel::start(const QVariantMap &fields, QString *error)
{
    HelperProto::WireGuardConfig config;
    if (!readConfig(fields, &config, error))
        return false;
    if (!writeFile(configSuffix, HelperProto::wireGuardQuickText(config).toUtf8(), error))
        return false;
    if (!startEngine(QStringLiteral("wireguard/wireguard-client"), {QStringLiteral("run"), filePath(configSuffix)}, {},
                     error))
        return false;
    connect(m_child, &ChildProcess::lineRead, this, [this](const QString &line) {
        if (line.startsWith(upLine)) {
            // Only a name of ours is kept: the health verb reads that device's socket.
            const QString name = line.mid(upLine.size()).trimmed();
            if (HelperProto::isOwnWireGuardInterface(name))
                m_interface = name;
            markUp();
        }
    });
    QTimer::singleShot(upWaitMs, this, [this] {
        if (!isUp())
            fail(QStringLiteral("the WireGuard tunnel did not come up within %1 s").arg(upWaitMs / 1000));
    });
    return true;
}

} // namespace Tavrix
