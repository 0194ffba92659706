#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QVector>

namespace Tavrix {
namespace Dev {

// The service's server inventory: a few hundred entries in dozens of countries, every
// engine type, the category flags, and entries for other platforms that the desktop client
// is expected to drop. Addresses are in 198.18.0.0/15 (benchmarking range, never routed),
// except the OpenConnect entries when a real server is given.
class ServerCatalog
{
public:
    struct Options
    {
        QString openConnectServer; // HOST[:PORT] for every type-2 entry; empty: benchmarking range
        QString openConnectPin;    // "pin" of every type-2 entry (its server's key); empty: none
        QString caPem;             // CA block of the OpenVPN profiles
        QString openVpnServer;     // HOST:PORT (UDP) for every type-1 entry; empty: benchmarking range
        QString openVpnCaPem;      // CA of that server, for its profiles
        // Real proxy servers for the type-4 (Shadowsocks) and type-6 (V2Ray VMess over TCP)
        // entries; empty: benchmarking range with made-up secrets.
        QString shadowsocksServer; // HOST:PORT
        QString shadowsocksPassword;
        QString vmessServer; // HOST:PORT
        QString vmessId;
        QString wireGuardConfig; // handed out for every WireGuard entry; empty: made per account
    };

    explicit ServerCatalog(const Options &options);

    // The "ip_bundle" array of a sign-in reply. A free account gets the free servers and every
    // other entry with the premium placeholder address and no configuration.
    QJsonArray forAccount(bool premium) const;
    // An entry by ip_id (premium view), empty when unknown.
    QJsonObject server(int ipId) const;
    int premiumCount() const { return m_servers.size(); }
    QString wireGuardConfig() const { return m_options.wireGuardConfig; }

private:
    void addCountry(int index, int code, const QString &name, const QString &alpha2, const QStringList &cities,
                    bool big);
    QJsonObject makeEntry(int type, const QString &protocol, int countryIndex, int hostIndex, int code,
                          const QString &name, const QString &alpha2, const QString &city, int serial);

    Options m_options;
    QVector<QJsonObject> m_servers; // premium view, in the order the service lists them
    QVector<int> m_freeIds;         // ip_id of the servers a free account may use
    int m_nextIpId = 101;
    int m_nextServerId = 1;
};

} // namespace Dev
} // namespace Tavrix
