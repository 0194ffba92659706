#include "helperproto/tunsettings.h"

#include "helperproto/limits.h"

namespace Tavrix::HelperProto {

namespace {

// What a request quotes back of a refused value: enough to recognise it, never a flood.
QString quoted(const QString &text)
{
    QString shown = text.left(48);
    // A line break in a message would read as a line of its own.
    for (QChar &c : shown) {
        if (c.category() == QChar::Other_Control)
            c = QLatin1Char('?');
    }
    return QLatin1Char('"') + shown + QLatin1Char('"');
}

bool parseIpv4(const QString &text, QByteArray *bytes)
{
    bytes->clear();
    for (const QString &part : text.split(QLatin1Char('.')))
        bytes->append(char(part.toInt()));
    return bytes->size() == 4;
}

// The text is already known to be a valid address (isValidIpAddress).
bool parseAddress(const QString &text, QByteArray *bytes)
{
    if (!isValidIpAddress(text))
        return false;
    if (!text.contains(QLatin1Char(':')))
        return parseIpv4(text, bytes);
    QByteArray head;
    QByteArray tail;
    const int gap = text.indexOf(QStringLiteral("::"));
    const QString sides[2] = {gap >= 0 ? text.left(gap) : text, gap >= 0 ? text.mid(gap + 2) : QString()};
    for (int s = 0; s < 2; ++s) {
        QByteArray &out = s == 0 ? head : tail;
        if (sides[s].isEmpty())
            continue;
        for (const QString &group : sides[s].split(QLatin1Char(':'))) {
            if (group.contains(QLatin1Char('.'))) {
                QByteArray four;
                parseIpv4(group, &four);
                out.append(four);
            } else {
                const uint value = group.toUInt(nullptr, 16);
                out.append(char(value >> 8));
                out.append(char(value & 0xff));
            }
        }
    }
    *bytes = head + QByteArray(16 - head.size() - tail.size(), '\0') + tail;
    return bytes->size() == 16;
}

QString formatAddress(const QByteArray &bytes)
{
    if (bytes.size() == 4) {
        return QStringLiteral("%1.%2.%3.%4")
            .arg(uchar(bytes[0]))
            .arg(uchar(bytes[1]))
            .arg(uchar(bytes[2]))
            .arg(uchar(bytes[3]));
    }
    uint groups[8];
    for (int i = 0; i < 8; ++i)
        groups[i] = (uint(uchar(bytes[2 * i])) << 8) | uchar(bytes[2 * i + 1]);
    // The longest run of two or more zero groups becomes "::" (the first one on a tie).
    int bestStart = -1;
    int bestLength = 1;
    for (int i = 0; i < 8;) {
        int j = i;
        while (j < 8 && groups[j] == 0)
            ++j;
        if (j - i > bestLength) {
            bestStart = i;
            bestLength = j - i;
        }
        i = j > i ? j : i + 1;
    }
    QString text;
    for (int i = 0; i < 8; ++i) {
        if (i == bestStart) {
            text += QStringLiteral("::");
            i += bestLength - 1;
            continue;
        }
        if (!text.isEmpty() && !text.endsWith(QLatin1Char(':')))
            text += QLatin1Char(':');
        text += QString::number(groups[i], 16);
    }
    return text;
}

void clearHostBits(QByteArray *bytes, int prefix)
{
    for (int bit = prefix; bit < bytes->size() * 8; ++bit)
        (*bytes)[bit / 8] = char(uchar((*bytes)[bit / 8]) & ~(0x80u >> (bit % 8)));
}

bool within(const QByteArray &address, const QByteArray &network, int prefix)
{
    if (address.size() != network.size())
        return false;
    QByteArray masked = address;
    clearHostBits(&masked, prefix);
    return masked == network;
}

struct Range
{
    const char *network;
    int prefix;
    const char *what;
};

// Nothing a VPN server has any business putting on a tunnel: this machine, link-local,
// multicast and reserved space, and the unspecified address.
const Range forbiddenRanges[] = {
    {"0.0.0.0", 8, "an unspecified address"},    {"127.0.0.0", 8, "a loopback address"},
    {"169.254.0.0", 16, "a link-local address"}, {"224.0.0.0", 4, "a multicast address"},
    {"240.0.0.0", 4, "a reserved address"},      {"::", 128, "an unspecified address"},
    {"::1", 128, "a loopback address"},          {"::ffff:0:0", 96, "an IPv4-mapped address"},
    {"fe80::", 10, "a link-local address"},      {"ff00::", 8, "a multicast address"},
};

// Which forbidden range the network/prefix lies wholly in; nullptr when none.
const char *forbiddenKind(const QByteArray &network, int prefix)
{
    for (const Range &range : forbiddenRanges) {
        QByteArray bytes;
        parseAddress(QLatin1String(range.network), &bytes);
        if (prefix >= range.prefix && within(network, bytes, range.prefix))
            return range.what;
    }
    return nullptr;
}

bool refuse(QString *error, const QString &text)
{
    *error = text;
    return false;
}

// A host address for the tunnel: syntax, family, and nothing forbidden.
bool checkHostAddress(const QString &what, const QString &address, int family, QString *error)
{
    QByteArray bytes;
    if (!parseAddress(address, &bytes) || (family != 0 && bytes.size() != family))
        return refuse(error, QStringLiteral("%1 %2 is not a valid %3 address")
                                 .arg(what, quoted(address),
                                      family == 4    ? QStringLiteral("IPv4")
                                      : family == 16 ? QStringLiteral("IPv6")
                                                     : QStringLiteral("IP")));
    if (const char *kind = forbiddenKind(bytes, bytes.size() * 8))
        return refuse(error, QStringLiteral("%1 %2 is %3").arg(what, quoted(address), QLatin1String(kind)));
    return true;
}

bool checkRoutes(const char *what, const QStringList &routes, QString *error)
{
    if (routes.size() > maxRoutes)
        return refuse(error, QStringLiteral("too many %1 (at most %2)").arg(QLatin1String(what)).arg(maxRoutes));
    for (const QString &route : routes) {
        if (route.size() > 64 || !isValidCidr(route))
            return refuse(error,
                          QStringLiteral("%1: %2 is not a network/prefix").arg(QLatin1String(what), quoted(route)));
        if (canonicalRoute(route) != route)
            return refuse(error, QStringLiteral("%1: %2 has host bits set or is not written canonically")
                                     .arg(QLatin1String(what), quoted(route)));
        const int slash = route.indexOf(QLatin1Char('/'));
        const int prefix = route.mid(slash + 1).toInt();
        if (prefix == 0)
            return refuse(error, QStringLiteral("%1: %2 covers everything (send no routes for a full tunnel)")
                                     .arg(QLatin1String(what), quoted(route)));
        QByteArray network;
        parseAddress(route.left(slash), &network);
        if (const char *kind = forbiddenKind(network, prefix))
            return refuse(error,
                          QStringLiteral("%1: %2 is %3").arg(QLatin1String(what), quoted(route), QLatin1String(kind)));
    }
    return true;
}

// Reads a{sv} strictly: every key known, every value of its exact type.
class FieldReader
{
public:
    FieldReader(const QVariantMap &map, QString *error)
        : m_map(map)
        , m_error(error)
    {
    }

    bool onlyKeys(const QStringList &known) const
    {
        for (auto it = m_map.constBegin(); it != m_map.constEnd(); ++it) {
            if (!known.contains(it.key()))
                return refuse(m_error, QStringLiteral("unknown field %1").arg(quoted(it.key())));
        }
        return true;
    }

    bool text(const char *key, QString *out) const
    {
        const QVariant value = m_map.value(QLatin1String(key));
        if (!value.isValid())
            return true;
        if (value.userType() != QMetaType::QString)
            return wrongType(key, "a string");
        *out = value.toString();
        return true;
    }

    bool list(const char *key, QStringList *out) const
    {
        const QVariant value = m_map.value(QLatin1String(key));
        if (!value.isValid())
            return true;
        if (value.userType() != QMetaType::QStringList)
            return wrongType(key, "a list of strings");
        *out = value.toStringList();
        return true;
    }

    bool number(const char *key, int *out) const
    {
        const QVariant value = m_map.value(QLatin1String(key));
        if (!value.isValid())
            return true;
        if (value.userType() != QMetaType::UInt)
            return wrongType(key, "an unsigned number");
        // Anything past this is refused by the range checks.
        *out = int(qMin(value.toUInt(), 1u << 20));
        return true;
    }

private:
    bool wrongType(const char *key, const char *type) const
    {
        return refuse(m_error, QStringLiteral("%1 must be %2").arg(QLatin1String(key), QLatin1String(type)));
    }

    const QVariantMap &m_map;
    QString *m_error;
};

} // namespace

bool TunSettings::operator==(const TunSettings &other) const
{
    return address4 == other.address4 && prefix4 == other.prefix4 && address6 == other.address6 &&
           prefix6 == other.prefix6 && mtu == other.mtu && gateway == other.gateway &&
           includeRoutes == other.includeRoutes && excludeRoutes == other.excludeRoutes && dns == other.dns &&
           domains == other.domains;
}

int prefixOfNetmask(const QString &netmask)
{
    QByteArray bytes;
    if (netmask.contains(QLatin1Char(':')) || !parseAddress(netmask, &bytes))
        return -1;
    const quint32 mask = (quint32(uchar(bytes[0])) << 24) | (quint32(uchar(bytes[1])) << 16) |
                         (quint32(uchar(bytes[2])) << 8) | uchar(bytes[3]);
    int prefix = 0;
    while (prefix < 32 && (mask & (0x80000000u >> prefix)))
        ++prefix;
    // Contiguous: nothing set past the first clear bit.
    return (prefix == 32 || (mask << prefix) == 0) ? prefix : -1;
}

QString canonicalRoute(const QString &route)
{
    if (route.size() > 96)
        return QString();
    const int slash = route.indexOf(QLatin1Char('/'));
    const QString address = slash >= 0 ? route.left(slash) : route;
    QByteArray bytes;
    if (!parseAddress(address, &bytes))
        return QString();
    int prefix = bytes.size() * 8;
    if (slash >= 0) {
        const QString length = route.mid(slash + 1);
        if (bytes.size() == 4 && length.contains(QLatin1Char('.'))) {
            prefix = prefixOfNetmask(length);
        } else if (isValidCidr(QStringLiteral("%1/%2").arg(
                       bytes.size() == 4 ? QStringLiteral("0.0.0.0") : QStringLiteral("::"), length))) {
            prefix = length.toInt();
        } else {
            prefix = -1;
        }
    }
    if (prefix < 0)
        return QString();
    clearHostBits(&bytes, prefix);
    return formatAddress(bytes) + QLatin1Char('/') + QString::number(prefix);
}

bool validateTunSettings(const TunSettings &settings, QString *error)
{
    if (settings.address4.isEmpty() && settings.address6.isEmpty())
        return refuse(error, QStringLiteral("the tunnel has no address"));
    if (!settings.address4.isEmpty()) {
        if (!checkHostAddress(QStringLiteral("the tunnel address"), settings.address4, 4, error))
            return false;
        if (settings.prefix4 < 1 || settings.prefix4 > 32)
            return refuse(error,
                          QStringLiteral("the IPv4 prefix length %1 is out of range (1-32)").arg(settings.prefix4));
    } else if (settings.prefix4 != 0) {
        return refuse(error, QStringLiteral("an IPv4 prefix length without an IPv4 address"));
    }
    if (!settings.address6.isEmpty()) {
        if (!checkHostAddress(QStringLiteral("the tunnel address"), settings.address6, 16, error))
            return false;
        if (settings.prefix6 < 1 || settings.prefix6 > 128)
            return refuse(error,
                          QStringLiteral("the IPv6 prefix length %1 is out of range (1-128)").arg(settings.prefix6));
    } else if (settings.prefix6 != 0) {
        return refuse(error, QStringLiteral("an IPv6 prefix length without an IPv6 address"));
    }
    const int minMtu = settings.address6.isEmpty() ? minTunMtu : minTunMtu6;
    if (settings.mtu != 0 && (settings.mtu < minMtu || settings.mtu > maxTunMtu))
        return refuse(
            error, QStringLiteral("the MTU %1 is out of range (%2-%3)").arg(settings.mtu).arg(minMtu).arg(maxTunMtu));
    if (settings.gateway.isEmpty())
        return refuse(error, QStringLiteral("the VPN gateway's address is missing"));
    if (!checkHostAddress(QStringLiteral("the VPN gateway"), settings.gateway, 0, error))
        return false;
    if (!checkRoutes("routes into the tunnel", settings.includeRoutes, error) ||
        !checkRoutes("routes outside the tunnel", settings.excludeRoutes, error))
        return false;
    if (settings.dns.size() > maxDnsServers)
        return refuse(error, QStringLiteral("too many DNS servers (at most %1)").arg(maxDnsServers));
    for (const QString &server : settings.dns) {
        if (!checkHostAddress(QStringLiteral("the DNS server"), server, 0, error))
            return false;
    }
    if (settings.domains.size() > maxSearchDomains)
        return refuse(error, QStringLiteral("too many search domains (at most %1)").arg(maxSearchDomains));
    for (const QString &domain : settings.domains) {
        if (!isUsableSearchDomain(domain))
            return refuse(error, QStringLiteral("the search domain %1 is not a domain name").arg(quoted(domain)));
    }
    return true;
}

bool isUsableDnsServer(const QString &address)
{
    QString ignored;
    return checkHostAddress(QString(), address, 0, &ignored);
}

bool isUsableRoute(const QString &route)
{
    QString ignored;
    return checkRoutes("", {route}, &ignored);
}

bool isUsableSearchDomain(const QString &domain)
{
    QByteArray bytes;
    return isValidHostName(domain) && !parseAddress(domain, &bytes);
}

bool readTunSettings(const QVariantMap &fields, TunSettings *settings, QString *error)
{
    namespace Key = TunKey;
    const FieldReader reader(fields, error);
    if (!reader.onlyKeys({Key::address4, Key::prefix4, Key::address6, Key::prefix6, Key::mtu, Key::gateway,
                          Key::includeRoutes, Key::excludeRoutes, Key::dns, Key::domains}) ||
        !reader.text(Key::address4, &settings->address4) || !reader.number(Key::prefix4, &settings->prefix4) ||
        !reader.text(Key::address6, &settings->address6) || !reader.number(Key::prefix6, &settings->prefix6) ||
        !reader.number(Key::mtu, &settings->mtu) || !reader.text(Key::gateway, &settings->gateway) ||
        !reader.list(Key::includeRoutes, &settings->includeRoutes) ||
        !reader.list(Key::excludeRoutes, &settings->excludeRoutes) || !reader.list(Key::dns, &settings->dns) ||
        !reader.list(Key::domains, &settings->domains))
        return false;
    return validateTunSettings(*settings, error);
}

QVariantMap tunSettingsFields(const TunSettings &settings)
{
    namespace Key = TunKey;
    QVariantMap fields{{QLatin1String(Key::gateway), settings.gateway}};
    if (!settings.address4.isEmpty()) {
        fields.insert(QLatin1String(Key::address4), settings.address4);
        fields.insert(QLatin1String(Key::prefix4), uint(settings.prefix4));
    }
    if (!settings.address6.isEmpty()) {
        fields.insert(QLatin1String(Key::address6), settings.address6);
        fields.insert(QLatin1String(Key::prefix6), uint(settings.prefix6));
    }
    if (settings.mtu > 0)
        fields.insert(QLatin1String(Key::mtu), uint(settings.mtu));
    if (!settings.includeRoutes.isEmpty())
        fields.insert(QLatin1String(Key::includeRoutes), settings.includeRoutes);
    if (!settings.excludeRoutes.isEmpty())
        fields.insert(QLatin1String(Key::excludeRoutes), settings.excludeRoutes);
    if (!settings.dns.isEmpty())
        fields.insert(QLatin1String(Key::dns), settings.dns);
    if (!settings.domains.isEmpty())
        fields.insert(QLatin1String(Key::domains), settings.domains);
    return fields;
}

} // namespace Tavrix::HelperProto
