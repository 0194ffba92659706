#include "common/ipbundle.h"

#include "common/jsonread.h"

namespace Tavrix {

std::shared_ptr<IPBundle> IPBundle::fromJson(const QJsonObject &o)
{
    using namespace JsonRead;
    auto b = std::make_shared<IPBundle>();
    b->m_bundleName = text(o, QStringLiteral("bundleName"));
    b->m_ipName = text(o, QStringLiteral("ipName"));
    b->m_ip = text(o, QStringLiteral("ip"));
    b->m_note = text(o, QStringLiteral("note"));
    b->m_network = number(o, QStringLiteral("network"));
    b->m_config = text(o, QStringLiteral("config"));
    b->m_typeTxt = text(o, QStringLiteral("typeTxt"));
    b->m_type = number(o, QStringLiteral("type"));
    b->m_priority = number(o, QStringLiteral("priority"));
    b->m_countryCode = numberInText(o, QStringLiteral("countryCode"));
    b->m_vpn_server_id = number(o, QStringLiteral("vpn_server_id"));
    b->m_connection_type = number(o, QStringLiteral("connection_type"));
    b->m_ssl_ip = text(o, QStringLiteral("ssl_ip"));
    b->m_pin = text(o, QStringLiteral("pin"));
    b->m_ip_id = number(o, QStringLiteral("ip_id"));
    b->m_site = text(o, QStringLiteral("site"));
    b->m_platform = text(o, QStringLiteral("platform"));
    b->m_countryName = text(o, QStringLiteral("countryName"));
    b->m_is_fast_server = number(o, QStringLiteral("is_fast_server"));
    b->m_is_gaming = number(o, QStringLiteral("is_gaming"));
    b->m_is_online_stream = number(o, QStringLiteral("is_online_stream"));
    b->m_is_adblocker = number(o, QStringLiteral("is_adblocker"));
    b->m_is_loyal_user_server = number(o, QStringLiteral("is_loyal_user_server"));
    b->m_transmission_protocol = text(o, QStringLiteral("transmission_protocol"));
    return b;
}

bool IPBundle::isPlaceholderAddress() const
{
    return m_ip == QLatin1String("8.8.8.8");
}

} // namespace Tavrix
