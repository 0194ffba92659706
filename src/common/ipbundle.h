#pragma once

#include <QJsonObject>
#include <QString>

#include <memory>

namespace Tavrix {

// One server of the account's list. Shared program-wide: pages copy the pointers, never
// the records.
class IPBundle
{
public:
    IPBundle() = default;
    // Reads every field from one element of "ip_bundle"; missing or wrongly typed values
    // give 0 or the empty text.
    static std::shared_ptr<IPBundle> fromJson(const QJsonObject &object);

    QString bundleName() const { return m_bundleName; }
    QString ipName() const { return m_ipName; }
    QString ip() const { return m_ip; }
    QString note() const { return m_note; }
    int network() const { return m_network; }
    QString config() const { return m_config; }
    QString typeTxt() const { return m_typeTxt; }
    int type() const { return m_type; }
    int priority() const { return m_priority; }
    int countryCode() const { return m_countryCode; }
    int vpn_server_id() const { return m_vpn_server_id; }
    int connection_type() const { return m_connection_type; }
    QString ssl_ip() const { return m_ssl_ip; }
    int ip_id() const { return m_ip_id; }
    QString site() const { return m_site; }
    QString platform() const { return m_platform; }
    QString countryName() const { return m_countryName; }
    int is_fast_server() const { return m_is_fast_server; }
    int is_gaming() const { return m_is_gaming; }
    int is_online_stream() const { return m_is_online_stream; }
    int is_adblocker() const { return m_is_adblocker; }
    int is_loyal_user_server() const { return m_is_loyal_user_server; }
    QString transmission_protocol() const { return m_transmission_protocol; }
    // Optional: SHA-256 of the OpenConnect server's public key ("pin-sha256:..." or Base64).
    QString pin() const { return m_pin; }

    bool isFastServer() const { return m_is_fast_server != 0; }
    bool isGaming() const { return m_is_gaming != 0; }
    bool isOnlineStream() const { return m_is_online_stream != 0; }
    bool isAdblocker() const { return m_is_adblocker != 0; }
    bool isLoyalUserServer() const { return m_is_loyal_user_server != 0; }
    // The service lists premium servers to free accounts with this stand-in address.
    bool isPlaceholderAddress() const;

private:
    QString m_bundleName;
    QString m_ipName;
    QString m_ip;
    QString m_note;
    int m_network = 0;
    QString m_config;
    QString m_typeTxt;
    int m_type = 0;
    int m_priority = 0;
    int m_countryCode = 0;
    int m_vpn_server_id = 0;
    int m_connection_type = 0;
    QString m_ssl_ip;
    int m_ip_id = 0;
    QString m_site;
    QString m_platform;
    QString m_countryName;
    int m_is_fast_server = 0;
    int m_is_gaming = 0;
    int m_is_online_stream = 0;
    int m_is_adblocker = 0;
    int m_is_loyal_user_server = 0;
    QString m_transmission_protocol;
    QString m_pin;
};

using IPBundlePtr = std::shared_ptr<IPBundle>;

} // namespace Tavrix
