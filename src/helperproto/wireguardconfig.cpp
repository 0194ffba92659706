#include "helperproto/wireguardconfig.h"

#include <QByteArray>
#include <QSet>

#include "helperproto/limits.h"

namespace Tavrix::HelperProto {

namespace {

const QString prefix = QStringLiteral("The WireGuard configuration was refused: ");

bool refuse(QString *error, const QString &detail)
{
    if (error)
        *error = prefix + detail + QLatin1Char('.');
    return false;
}

bool isKey(const QString &value)
{
    if (value.size() != wireGuardKeyLength)
        return false;
    const QByteArray text = value.toLatin1();
    const QByteArray raw = QByteArray::fromBase64(text, QByteArray::AbortOnBase64DecodingErrors);
    // Only the one spelling of the 32 bytes: no other text decodes to the same key.
    return raw.size() == 32 && raw.toBase64() == text;
}

bool isAddressOrCidr(const QString &value)
{
    return isValidIpAddress(value) || isValidCidr(value);
}

bool isSmallNumber(const QString &text, int min, int max, int *number)
{
    if (text.isEmpty() || text.size() > 5 || (text.size() > 1 && text.at(0) == QLatin1Char('0')))
        return false;
    for (const QChar c : text) {
        if (c.unicode() < '0' || c.unicode() > '9')
            return false;
    }
    *number = text.toInt();
    return *number >= min && *number <= max;
}

QStringList listValue(const QString &value)
{
    QStringList items;
    for (const QString &item : value.split(QLatin1Char(',')))
        items.append(item.trimmed());
    return items;
}

constexpr int minMtu = 576;
constexpr int maxMtu = 9200;

// Settings this client never takes from a server, by their usual spelling.
QString refusedSetting(const QString &lower)
{
    static const char *const hooks[] = {"PreUp", "PostUp", "PreDown", "PostDown"};
    static const char *const others[] = {"SaveConfig", "Table", "FwMark"};
    for (const char *hook : hooks) {
        if (lower.compare(QLatin1String(hook), Qt::CaseInsensitive) == 0)
            return QStringLiteral("\"%1\" would run a program, which this client never allows")
                .arg(QLatin1String(hook));
    }
    for (const char *other : others) {
        if (lower.compare(QLatin1String(other), Qt::CaseInsensitive) == 0)
            return QStringLiteral("\"%1\" is not a setting this client accepts from a server")
                .arg(QLatin1String(other));
    }
    return QString();
}

const char *const interfaceKeys[] = {"PrivateKey", "Address", "DNS", "MTU", "ListenPort"};
const char *const peerKeys[] = {"PublicKey", "PresharedKey", "AllowedIPs", "Endpoint", "PersistentKeepalive"};

QString canonicalKey(const QString &lower, bool peer)
{
    for (const char *key : peer ? peerKeys : interfaceKeys) {
        if (lower.compare(QLatin1String(key), Qt::CaseInsensitive) == 0)
            return QLatin1String(key);
    }
    return QString();
}

} // namespace

bool parseWireGuardConfig(const QString &text, WireGuardConfig *config, QString *error)
{
    if (text.size() > maxWireGuardTextSize)
        return refuse(error, QStringLiteral("it is larger than %1 KiB").arg(maxWireGuardTextSize / 1024));
    if (text.trimmed().isEmpty())
        return refuse(error, QStringLiteral("it is empty"));

    enum class Section { None, Interface, Peer };
    Section section = Section::None;
    WireGuardConfig result;
    int interfaces = 0;
    QSet<QString> seen;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (int index = 0; index < lines.size(); ++index) {
        const int number = index + 1;
        QString line = lines.at(index);
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        for (const QChar c : line) {
            if ((c.unicode() < 0x20 && c != QLatin1Char('\t')) || c.unicode() == 0x7f ||
                c.category() == QChar::Separator_Line || c.category() == QChar::Separator_Paragraph)
                return refuse(error, QStringLiteral("line %1 contains a control character").arg(number));
        }
        const int comment = line.indexOf(QLatin1Char('#'));
        if (comment >= 0)
            line.truncate(comment);
        line = line.trimmed();
        if (line.isEmpty())
            continue;
        if (line.size() > maxLineLength)
            return refuse(error, QStringLiteral("line %1 is too long").arg(number));

        if (line.startsWith(QLatin1Char('['))) {
            const QString name = line.toLower();
            if (name == QLatin1String("[interface]")) {
                if (++interfaces > 1)
                    return refuse(error, QStringLiteral("it has more than one [Interface] section"));
                section = Section::Interface;
            } else if (name == QLatin1String("[peer]")) {
                if (result.peers.size() >= maxPeers)
                    return refuse(error, QStringLiteral("it has more than %1 [Peer] sections").arg(maxPeers));
                result.peers.append(WireGuardPeer());
                section = Section::Peer;
            } else {
                return refuse(error, QStringLiteral("line %1 starts a section this client does not know").arg(number));
            }
            seen.clear();
            continue;
        }

        const int equals = line.indexOf(QLatin1Char('='));
        const QString key = equals > 0 ? line.left(equals).trimmed() : QString();
        bool plainKey = !key.isEmpty();
        for (const QChar c : key)
            plainKey =
                plainKey && ((c.unicode() >= 'a' && c.unicode() <= 'z') || (c.unicode() >= 'A' && c.unicode() <= 'Z'));
        if (!plainKey || section == Section::None)
            return refuse(error, QStringLiteral("line %1 is not a setting of a section").arg(number));
        const QString lower = key.toLower();
        const QString value = line.mid(equals + 1).trimmed();
        const QString refused = refusedSetting(lower);
        if (!refused.isEmpty())
            return refuse(error, refused + QStringLiteral(" (line %1)").arg(number));
        const bool peer = section == Section::Peer;
        const QString name = canonicalKey(lower, peer);
        if (name.isEmpty()) {
            const QString elsewhere = canonicalKey(lower, !peer);
            return refuse(error, elsewhere.isEmpty()
                                     ? QStringLiteral("line %1 holds a setting this client does not know").arg(number)
                                     : QStringLiteral("\"%1\" on line %2 does not belong in %3")
                                           .arg(elsewhere)
                                           .arg(number)
                                           .arg(peer ? QStringLiteral("[Peer]") : QStringLiteral("[Interface]")));
        }
        const bool list =
            name == QLatin1String("Address") || name == QLatin1String("DNS") || name == QLatin1String("AllowedIPs");
        if (!list && seen.contains(lower))
            return refuse(error, QStringLiteral("\"%1\" appears twice in one section (line %2)").arg(name).arg(number));
        seen.insert(lower);

        WireGuardPeer *current = peer ? &result.peers.last() : nullptr;
        const QString bad = QStringLiteral("the %1 on line %2 is not valid").arg(name).arg(number);
        int numeric = 0;
        if (name == QLatin1String("PrivateKey") || name == QLatin1String("PublicKey") ||
            name == QLatin1String("PresharedKey")) {
            if (!isKey(value))
                return refuse(error, QStringLiteral("the %1 on line %2 is not a valid key").arg(name).arg(number));
            if (!peer)
                result.privateKey = value;
            else if (name == QLatin1String("PublicKey"))
                current->publicKey = value;
            else
                current->presharedKey = value;
        } else if (list) {
            QStringList &target = name == QLatin1String("Address") ? result.addresses
                                  : name == QLatin1String("DNS")   ? result.dns
                                                                   : current->allowedIps;
            const int limit = name == QLatin1String("Address") ? maxAddresses
                              : name == QLatin1String("DNS")   ? maxDnsServers
                                                               : maxRoutes;
            for (const QString &item : listValue(value)) {
                const bool ok = name == QLatin1String("DNS") ? isValidIpAddress(item) : isAddressOrCidr(item);
                if (!ok)
                    return refuse(error, bad);
                if (target.size() >= limit)
                    return refuse(error, QStringLiteral("it has more than %1 %2 entries").arg(limit).arg(name));
                target.append(item);
            }
        } else if (name == QLatin1String("MTU")) {
            if (!isSmallNumber(value, minMtu, maxMtu, &numeric))
                return refuse(error, bad);
            result.mtu = numeric;
        } else if (name == QLatin1String("ListenPort")) {
            if (!isSmallNumber(value, 1, 65535, &numeric))
                return refuse(error, bad);
            result.listenPort = numeric;
        } else if (name == QLatin1String("Endpoint")) {
            if (!isValidEndpoint(value))
                return refuse(error, bad);
            current->endpoint = value;
        } else if (name == QLatin1String("PersistentKeepalive")) {
            if (value.compare(QLatin1String("off"), Qt::CaseInsensitive) != 0 &&
                !isSmallNumber(value, 0, 65535, &numeric))
                return refuse(error, bad);
            current->persistentKeepalive = numeric;
        }
    }
    if (interfaces == 0)
        return refuse(error, QStringLiteral("it has no [Interface] section"));
    if (result.peers.isEmpty())
        return refuse(error, QStringLiteral("it has no [Peer] section"));
    if (!validateWireGuardConfig(result, error))
        return false;
    if (config)
        *config = result;
    return true;
}

bool validateWireGuardConfig(const WireGuardConfig &config, QString *error)
{
    if (!isKey(config.privateKey))
        return refuse(error, QStringLiteral("it has no valid PrivateKey"));
    if (config.addresses.isEmpty())
        return refuse(error, QStringLiteral("it has no Address"));
    if (config.addresses.size() > maxAddresses || config.dns.size() > maxDnsServers)
        return refuse(error, QStringLiteral("it has too many addresses"));
    for (const QString &address : config.addresses) {
        if (!isAddressOrCidr(address))
            return refuse(error, QStringLiteral("an Address is not valid"));
    }
    for (const QString &server : config.dns) {
        if (!isValidIpAddress(server))
            return refuse(error, QStringLiteral("a DNS server is not an IP address"));
    }
    if (config.mtu != 0 && (config.mtu < minMtu || config.mtu > maxMtu))
        return refuse(error, QStringLiteral("the MTU is not valid"));
    if (config.listenPort < 0 || config.listenPort > 65535)
        return refuse(error, QStringLiteral("the ListenPort is not valid"));
    if (config.peers.isEmpty())
        return refuse(error, QStringLiteral("it has no [Peer] section"));
    if (config.peers.size() > maxPeers)
        return refuse(error, QStringLiteral("it has more than %1 [Peer] sections").arg(maxPeers));
    for (const WireGuardPeer &peer : config.peers) {
        if (!isKey(peer.publicKey))
            return refuse(error, QStringLiteral("a [Peer] has no valid PublicKey"));
        if (!peer.presharedKey.isEmpty() && !isKey(peer.presharedKey))
            return refuse(error, QStringLiteral("a PresharedKey is not a valid key"));
        if (peer.allowedIps.size() > maxRoutes)
            return refuse(error, QStringLiteral("a [Peer] has more than %1 AllowedIPs entries").arg(maxRoutes));
        for (const QString &range : peer.allowedIps) {
            if (!isAddressOrCidr(range))
                return refuse(error, QStringLiteral("an AllowedIPs entry is not valid"));
        }
        if (!peer.endpoint.isEmpty() && !isValidEndpoint(peer.endpoint))
            return refuse(error, QStringLiteral("an Endpoint is not valid"));
        if (peer.persistentKeepalive < 0 || peer.persistentKeepalive > 65535)
            return refuse(error, QStringLiteral("a PersistentKeepalive is not valid"));
    }
    return true;
}

namespace {

QString interfaceText(const WireGuardConfig &config, bool quick)
{
    QString text = QStringLiteral("[Interface]\nPrivateKey = ") + config.privateKey + QLatin1Char('\n');
    if (config.listenPort > 0)
        text += QStringLiteral("ListenPort = %1\n").arg(config.listenPort);
    if (quick) {
        text += QStringLiteral("Address = ") + config.addresses.join(QStringLiteral(", ")) + QLatin1Char('\n');
        if (!config.dns.isEmpty())
            text += QStringLiteral("DNS = ") + config.dns.join(QStringLiteral(", ")) + QLatin1Char('\n');
        if (config.mtu > 0)
            text += QStringLiteral("MTU = %1\n").arg(config.mtu);
    }
    for (const WireGuardPeer &peer : config.peers) {
        text += QStringLiteral("\n[Peer]\nPublicKey = ") + peer.publicKey + QLatin1Char('\n');
        if (!peer.presharedKey.isEmpty())
            text += QStringLiteral("PresharedKey = ") + peer.presharedKey + QLatin1Char('\n');
        if (!peer.allowedIps.isEmpty())
            text += QStringLiteral("AllowedIPs = ") + peer.allowedIps.join(QStringLiteral(", ")) + QLatin1Char('\n');
        if (!peer.endpoint.isEmpty())
            text += QStringLiteral("Endpoint = ") + peer.endpoint + QLatin1Char('\n');
        if (peer.persistentKeepalive > 0)
            text += QStringLiteral("PersistentKeepalive = %1\n").arg(peer.persistentKeepalive);
    }
    return text;
}

} // namespace

QString wireGuardSetconfText(const WireGuardConfig &config)
{
    return interfaceText(config, false);
}

QString wireGuardQuickText(const WireGuardConfig &config)
{
    return interfaceText(config, true);
}

QString wireGuardTunnelAddress(const WireGuardConfig &config)
{
    QString first;
    for (const QString &entry : config.addresses) {
        const QString host = entry.section(QLatin1Char('/'), 0, 0);
        if (!isValidIpAddress(host))
            continue;
        if (!host.contains(QLatin1Char(':')))
            return host;
        if (first.isEmpty())
            first = host;
    }
    return first;
}

} // namespace Tavrix::HelperProto
