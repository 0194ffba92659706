#include "servercatalog.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QUuid>

namespace Tavrix {
namespace Dev {

namespace {

struct Country
{
    int code; // ISO 3166-1 numeric
    const char *name;
    const char *alpha2;
    QStringList cities;
    bool big;
};

// Big markets get three cities and every engine; the rest one or two cities and a rotation.
const QVector<Country> &countries()
{
    static const QVector<Country> list = {
        {840, "United States", "US", {"New York", "Los Angeles", "Chicago"}, true},
        {826, "United Kingdom", "GB", {"London", "Manchester", "Edinburgh"}, true},
        {276, "Germany", "DE", {"Frankfurt", "Berlin", "Munich"}, true},
        {528, "Netherlands", "NL", {"Amsterdam", "Rotterdam", "Eindhoven"}, true},
        {124, "Canada", "CA", {"Toronto", "Vancouver", "Montreal"}, true},
        {392, "Japan", "JP", {"Tokyo", "Osaka", "Nagoya"}, true},
        {702, "Singapore", "SG", {"Singapore", "Jurong", "Woodlands"}, true},
        {250, "France", "FR", {"Paris", "Marseille", "Lyon"}, true},
        {36, "Australia", "AU", {"Sydney", "Melbourne", "Perth"}, true},
        {356, "India", "IN", {"Mumbai", "Bangalore", "Chennai"}, true},
        {50, "Bangladesh", "BD", {"Dhaka", "Chittagong"}, false},
        {76, "Brazil", "BR", {"Sao Paulo", "Rio de Janeiro"}, false},
        {724, "Spain", "ES", {"Madrid", "Barcelona"}, false},
        {380, "Italy", "IT", {"Milan", "Rome"}, false},
        {752, "Sweden", "SE", {"Stockholm"}, false},
        {578, "Norway", "NO", {"Oslo"}, false},
        {208, "Denmark", "DK", {"Copenhagen"}, false},
        {246, "Finland", "FI", {"Helsinki"}, false},
        {756, "Switzerland", "CH", {"Zurich", "Geneva"}, false},
        {40, "Austria", "AT", {"Vienna"}, false},
        {616, "Poland", "PL", {"Warsaw"}, false},
        {203, "Czech Republic", "CZ", {"Prague"}, false},
        {348, "Hungary", "HU", {"Budapest"}, false},
        {642, "Romania", "RO", {"Bucharest"}, false},
        {100, "Bulgaria", "BG", {"Sofia"}, false},
        {300, "Greece", "GR", {"Athens"}, false},
        {792, "T\u00fcrkiye", "TR", {"Istanbul"}, false},
        {376, "Israel", "IL", {"Tel Aviv"}, false},
        {784, "United Arab Emirates", "AE", {"Dubai"}, false},
        {410, "South Korea", "KR", {"Seoul"}, false},
        {344, "Hong Kong", "HK", {"Hong Kong"}, false},
        {158, "Taiwan", "TW", {"Taipei"}, false},
        {458, "Malaysia", "MY", {"Kuala Lumpur"}, false},
        {764, "Thailand", "TH", {"Bangkok"}, false},
        {360, "Indonesia", "ID", {"Jakarta"}, false},
        {608, "Philippines", "PH", {"Manila"}, false},
        {704, "Vietnam", "VN", {"Hanoi"}, false},
        {484, "Mexico", "MX", {"Mexico City", "Queretaro"}, false},
        {32, "Argentina", "AR", {"Buenos Aires"}, false},
        {152, "Chile", "CL", {"Santiago"}, false},
        {170, "Colombia", "CO", {"Bogota"}, false},
        {710, "South Africa", "ZA", {"Johannesburg"}, false},
        {818, "Egypt", "EG", {"Cairo"}, false},
        {566, "Nigeria", "NG", {"Lagos"}, false},
        {404, "Kenya", "KE", {"Nairobi"}, false},
        {554, "New Zealand", "NZ", {"Auckland"}, false},
        {372, "Ireland", "IE", {"Dublin"}, false},
        {620, "Portugal", "PT", {"Lisbon"}, false},
        {56, "Belgium", "BE", {"Brussels"}, false},
        {352, "Iceland", "IS", {"Reykjavik"}, false},
        {233, "Estonia", "EE", {"Tallinn"}, false},
        {804, "Ukraine", "UA", {"Kyiv"}, false},
        {398, "Kazakhstan", "KZ", {"Almaty"}, false},
        {586, "Pakistan", "PK", {"Karachi"}, false},
        {144, "Sri Lanka", "LK", {"Colombo"}, false},
    };
    return list;
}

const char *typeText(int type)
{
    switch (type) {
    case 1:
        return "OpenVPN";
    case 2:
        return "OpenConnect";
    case 3:
        return "IKEv2";
    case 4:
        return "Shadowsocks";
    case 5:
        return "WireGuard";
    case 6:
        return "V2Ray";
    case 7:
        return "Outline";
    }
    return "Unknown";
}

QString openVpnProfile(bool udp, const QString &caPem)
{
    // remoteIP / remotePort are filled in by the client from the entry's address.
    QString profile = QStringLiteral("client\n"
                                     "dev tun\n"
                                     "proto %1\n"
                                     "remote remoteIP remotePort\n"
                                     "resolv-retry infinite\n"
                                     "nobind\n"
                                     "persist-key\n"
                                     "persist-tun\n"
                                     "remote-cert-tls server\n"
                                     "auth-user-pass\n"
                                     "data-ciphers AES-256-GCM:AES-128-GCM:CHACHA20-POLY1305\n"
                                     "auth SHA256\n"
                                     "verb 3\n"
                                     "<ca>\n%2</ca>\n")
                          .arg(udp ? QStringLiteral("udp") : QStringLiteral("tcp-client"), caPem);
    return QString::fromLatin1(profile.toUtf8().toBase64());
}

QString secretFor(const QString &seed)
{
    return QString::fromLatin1(QCryptographicHash::hash(seed.toUtf8(), QCryptographicHash::Sha256).toBase64().left(22));
}

QString v2rayConfig(const QString &host, const QString &seed)
{
    const QString id = QUuid::createUuidV5(QUuid(QStringLiteral("{6f1c2a5e-0d4b-4c7e-9a3f-2b8d1e5c7a90}")), seed)
                           .toString(QUuid::WithoutBraces);
    const QJsonObject config{
        {QStringLiteral("log"), QJsonObject{{QStringLiteral("loglevel"), QStringLiteral("warning")}}},
        {QStringLiteral("inbounds"),
         QJsonArray{
             QJsonObject{{QStringLiteral("tag"), QStringLiteral("socks")},
                         {QStringLiteral("port"), 10808},
                         {QStringLiteral("listen"), QStringLiteral("127.0.0.1")},
                         {QStringLiteral("protocol"), QStringLiteral("socks")},
                         {QStringLiteral("settings"), QJsonObject{{QStringLiteral("auth"), QStringLiteral("noauth")},
                                                                  {QStringLiteral("udp"), true}}}},
             QJsonObject{{QStringLiteral("tag"), QStringLiteral("http")},
                         {QStringLiteral("port"), 10809},
                         {QStringLiteral("listen"), QStringLiteral("127.0.0.1")},
                         {QStringLiteral("protocol"), QStringLiteral("http")},
                         {QStringLiteral("settings"), QJsonObject{}}}}},
        {QStringLiteral("outbounds"),
         QJsonArray{
             QJsonObject{{QStringLiteral("tag"), QStringLiteral("proxy")},
                         {QStringLiteral("protocol"), QStringLiteral("vmess")},
                         {QStringLiteral("settings"),
                          QJsonObject{{QStringLiteral("vnext"),
                                       QJsonArray{QJsonObject{{QStringLiteral("address"), host},
                                                              {QStringLiteral("port"), 443},
                                                              {QStringLiteral("users"),
                                                               QJsonArray{QJsonObject{{QStringLiteral("id"), id},
                                                                                      {QStringLiteral("alterId"), 0},
                                                                                      {QStringLiteral("security"),
                                                                                       QStringLiteral("auto")}}}}}}}}},
                         {QStringLiteral("streamSettings"),
                          QJsonObject{{QStringLiteral("network"), QStringLiteral("ws")},
                                      {QStringLiteral("wsSettings"),
                                       QJsonObject{{QStringLiteral("path"), QStringLiteral("/tv")}}}}}},
             QJsonObject{{QStringLiteral("tag"), QStringLiteral("direct")},
                         {QStringLiteral("protocol"), QStringLiteral("freedom")},
                         {QStringLiteral("settings"), QJsonObject{}}}}},
    };
    return QString::fromUtf8(QJsonDocument(config).toJson(QJsonDocument::Compact));
}

QString shadowsocksConfig(const QString &seed)
{
    const QJsonObject config{{QStringLiteral("method"), QStringLiteral("chacha20-ietf-poly1305")},
                             {QStringLiteral("password"), secretFor(seed)}};
    return QString::fromUtf8(QJsonDocument(config).toJson(QJsonDocument::Compact));
}

// A whole engine configuration for a real VMess server over plain TCP (the demo lab).
QString vmessTcpConfig(const QString &server, const QString &id)
{
    const QJsonObject user{{QStringLiteral("id"), id},
                           {QStringLiteral("alterId"), 0},
                           {QStringLiteral("security"), QStringLiteral("auto")}};
    const QJsonObject vnext{{QStringLiteral("address"), server.section(QLatin1Char(':'), 0, 0)},
                            {QStringLiteral("port"), server.section(QLatin1Char(':'), 1, 1).toInt()},
                            {QStringLiteral("users"), QJsonArray{user}}};
    QJsonObject config = QJsonDocument::fromJson(v2rayConfig(QString(), QString()).toUtf8()).object();
    const QJsonObject proxy{
        {QStringLiteral("tag"), QStringLiteral("proxy")},
        {QStringLiteral("protocol"), QStringLiteral("vmess")},
        {QStringLiteral("settings"), QJsonObject{{QStringLiteral("vnext"), QJsonArray{vnext}}}},
        {QStringLiteral("streamSettings"), QJsonObject{{QStringLiteral("network"), QStringLiteral("tcp")}}}};
    QJsonArray outbounds = config.value(QStringLiteral("outbounds")).toArray();
    outbounds.replace(0, proxy);
    config[QStringLiteral("outbounds")] = outbounds;
    return QString::fromUtf8(QJsonDocument(config).toJson(QJsonDocument::Compact));
}

} // namespace

ServerCatalog::ServerCatalog(const Options &options)
    : m_options(options)
{
    const auto &list = countries();
    for (int i = 0; i < list.size(); ++i)
        addCountry(i, list[i].code, QString::fromUtf8(list[i].name), QString::fromLatin1(list[i].alpha2),
                   list[i].cities, list[i].big);

    // Loyalty servers: usable only by loyalty members; other accounts see them locked.
    const int loyal[] = {0, 1, 2, 5, 6};
    for (int index : loyal) {
        const Country &c = list[index];
        for (int type : {5, 1}) {
            QJsonObject entry =
                makeEntry(type, QStringLiteral("UDP"), 200 + index, 10 + type, c.code, QString::fromUtf8(c.name),
                          QString::fromLatin1(c.alpha2), c.cities.first(), 90 + type);
            entry[QStringLiteral("is_loyal_user_server")] = 1;
            entry[QStringLiteral("is_fast_server")] = 1;
            entry[QStringLiteral("ipName")] = c.cities.first() + QStringLiteral(" Loyalty");
            m_servers.append(entry);
        }
    }
}

void ServerCatalog::addCountry(int index, int code, const QString &name, const QString &alpha2,
                               const QStringList &cities, bool big)
{
    struct Slot
    {
        int type;
        const char *protocol;
    };
    static const QVector<Slot> bigSlots = {{1, "UDP"}, {1, "TCP"}, {2, "TCP"}, {4, "TCP"}, {5, "UDP"}, {6, "TCP"}};
    static const QVector<QVector<Slot>> smallSlots = {
        {{1, "UDP"}, {2, "TCP"}, {5, "UDP"}, {6, "TCP"}},
        {{1, "TCP"}, {4, "TCP"}, {5, "UDP"}, {2, "TCP"}},
        {{5, "UDP"}, {1, "UDP"}, {6, "TCP"}, {4, "TCP"}},
    };
    int host = 1;
    for (int c = 0; c < cities.size(); ++c) {
        const QVector<Slot> &plan = big ? bigSlots : smallSlots[(index + c) % smallSlots.size()];
        for (int s = 0; s < plan.size(); ++s) {
            QJsonObject entry = makeEntry(plan[s].type, QString::fromLatin1(plan[s].protocol), index, host, code, name,
                                          alpha2, cities[c], s + 1);
            ++host;
            // Categories: the first server of each big market is fast; gaming and streaming
            // sit in well-connected cities; ad blocking on the privacy-minded countries.
            const int type = plan[s].type;
            if ((big && c == 0 && s == 0) || (type == 5 && index % 4 == 0))
                entry[QStringLiteral("is_fast_server")] = 1;
            if (type == 5 && (big || index % 3 == 0))
                entry[QStringLiteral("is_gaming")] = 1;
            if ((type == 1 || type == 6) && big && c < 2)
                entry[QStringLiteral("is_online_stream")] = 1;
            if ((type == 4 || type == 5) &&
                (alpha2 == QLatin1String("NL") || alpha2 == QLatin1String("SE") || alpha2 == QLatin1String("CH") ||
                 alpha2 == QLatin1String("IS") || alpha2 == QLatin1String("DE")))
                entry[QStringLiteral("is_adblocker")] = 1;
            // A Windows-only build of some servers; the rest serve every platform.
            if (index % 5 == 1 && s == 0)
                entry[QStringLiteral("platform")] = QStringLiteral("windows");
            m_servers.append(entry);

            const bool freeServer = c == 0 && s < 2 &&
                                    (alpha2 == QLatin1String("US") || alpha2 == QLatin1String("DE") ||
                                     alpha2 == QLatin1String("NL") || alpha2 == QLatin1String("SG"));
            if (freeServer)
                m_freeIds.append(entry.value(QStringLiteral("ip_id")).toInt());
        }
    }

    // Entries meant for other apps or engines this client does not run.
    if (index % 6 == 0) {
        QJsonObject mobile = makeEntry(5, QStringLiteral("UDP"), index, host++, code, name, alpha2, cities.first(), 20);
        mobile[QStringLiteral("platform")] = index % 12 == 0 ? QStringLiteral("android") : QStringLiteral("ios");
        m_servers.append(mobile);
        m_servers.append(makeEntry(7, QStringLiteral("TCP"), index, host++, code, name, alpha2, cities.first(), 21));
        QJsonObject ssl = makeEntry(2, QStringLiteral("TCP"), index, host++, code, name, alpha2, cities.first(), 22);
        ssl[QStringLiteral("connection_type")] = 2;
        m_servers.append(ssl);
        QJsonObject capital =
            makeEntry(1, QStringLiteral("UDP"), index, host++, code, name, alpha2, cities.first(), 23);
        capital[QStringLiteral("platform")] = QStringLiteral("Windows");
        m_servers.append(capital);
    }
    if (index % 9 == 4)
        m_servers.append(makeEntry(3, QStringLiteral("UDP"), index, host++, code, name, alpha2, cities.first(), 24));
}

QJsonObject ServerCatalog::makeEntry(int type, const QString &protocol, int countryIndex, int hostIndex, int code,
                                     const QString &name, const QString &alpha2, const QString &city, int serial)
{
    const int ipId = m_nextIpId++;
    const QString host = countryIndex < 200 ? QStringLiteral("198.18.%1.%2").arg(countryIndex + 1).arg(hostIndex)
                                            : QStringLiteral("198.19.%1.%2").arg(countryIndex - 199).arg(hostIndex);
    const QString seed = QStringLiteral("%1-%2").arg(alpha2).arg(ipId);

    QString ip = host;
    QString config;
    QString sslIp;
    switch (type) {
    case 1:
        ip = host + (protocol == QLatin1String("UDP") ? QStringLiteral(":1194") : QStringLiteral(":443"));
        config = openVpnProfile(protocol == QLatin1String("UDP"), m_options.caPem);
        // A real server answers over UDP only: every OpenVPN entry then leads to it.
        if (!m_options.openVpnServer.isEmpty()) {
            ip = m_options.openVpnServer;
            config = openVpnProfile(true, m_options.openVpnCaPem);
        }
        break;
    case 2:
        if (!m_options.openConnectServer.isEmpty())
            ip = m_options.openConnectServer;
        sslIp = ip;
        break;
    case 4:
        ip = host + QStringLiteral(":8388");
        config = shadowsocksConfig(seed);
        if (!m_options.shadowsocksServer.isEmpty()) {
            ip = m_options.shadowsocksServer;
            config = QString::fromUtf8(
                QJsonDocument(QJsonObject{{QStringLiteral("method"), QStringLiteral("chacha20-ietf-poly1305")},
                                          {QStringLiteral("password"), m_options.shadowsocksPassword}})
                    .toJson(QJsonDocument::Compact));
        }
        break;
    case 6:
        config = m_options.vmessServer.isEmpty() ? v2rayConfig(host, seed)
                                                 : vmessTcpConfig(m_options.vmessServer, m_options.vmessId);
        break;
    case 7:
        ip = host + QStringLiteral(":443");
        config = shadowsocksConfig(seed);
        break;
    default:
        break;
    }

    const QString slug = city.toLower().replace(QLatin1Char(' '), QLatin1Char('-'));
    QJsonObject entry{
        {QStringLiteral("bundleName"), QStringLiteral("%1 %2").arg(name, QLatin1String(typeText(type)))},
        {QStringLiteral("ipName"), serial == 1 ? city : QStringLiteral("%1 %2").arg(city).arg(serial)},
        {QStringLiteral("ip"), ip},
        {QStringLiteral("note"), countryIndex < 10 ? QStringLiteral("10 Gbps") : QStringLiteral("1 Gbps")},
        {QStringLiteral("network"), countryIndex < 10 ? 10 : 1},
        {QStringLiteral("config"), config},
        {QStringLiteral("typeTxt"), QLatin1String(typeText(type))},
        {QStringLiteral("type"), type},
        {QStringLiteral("priority"), serial},
        {QStringLiteral("countryCode"), QString::number(code)},
        {QStringLiteral("vpn_server_id"), m_nextServerId++},
        {QStringLiteral("connection_type"), 1},
        {QStringLiteral("ssl_ip"), sslIp},
        {QStringLiteral("ip_id"), ipId},
        {QStringLiteral("site"), QStringLiteral("%1-%2-%3.tavrixvpn.test").arg(alpha2.toLower(), slug).arg(ipId)},
        {QStringLiteral("platform"), QStringLiteral("all")},
        {QStringLiteral("countryName"), name},
        {QStringLiteral("is_fast_server"), 0},
        {QStringLiteral("is_gaming"), 0},
        {QStringLiteral("is_online_stream"), 0},
        {QStringLiteral("is_adblocker"), 0},
        {QStringLiteral("is_loyal_user_server"), 0},
        {QStringLiteral("transmission_protocol"), protocol},
    };
    // The client checks the server's key against it instead of trusting it on first use.
    if (type == 2 && !m_options.openConnectPin.isEmpty())
        entry.insert(QStringLiteral("pin"), m_options.openConnectPin);
    return entry;
}

QJsonArray ServerCatalog::forAccount(bool premium) const
{
    QJsonArray out;
    for (const QJsonObject &entry : m_servers) {
        if (premium || m_freeIds.contains(entry.value(QStringLiteral("ip_id")).toInt())) {
            out.append(entry);
            continue;
        }
        // Locked for a free account: the row stays in the list, without a usable address.
        QJsonObject locked = entry;
        locked[QStringLiteral("ip")] = QStringLiteral("8.8.8.8");
        locked[QStringLiteral("config")] = QString();
        locked[QStringLiteral("ssl_ip")] = QString();
        out.append(locked);
    }
    return out;
}

QJsonObject ServerCatalog::server(int ipId) const
{
    for (const QJsonObject &entry : m_servers) {
        if (entry.value(QStringLiteral("ip_id")).toInt() == ipId)
            return entry;
    }
    return QJsonObject();
}

} // namespace Dev
} // namespace Tavrix
