#include "ui/webaddresses.h"

#include "api/serviceurl.h"

namespace Tavrix {
namespace WebAddress {

QString paymentOrigin()
{
    return ServiceUrl::address(QStringLiteral("https://payment.tavrixvpn.com"));
}

QString homeOrigin()
{
    return ServiceUrl::address(QStringLiteral("https://www.tavrixvpn.com"));
}

QUrl socialAuth()
{
    return QUrl(paymentOrigin() + QStringLiteral("/social-auth-attempt?source=tavrix-desktop"));
}

QUrl purchaseForFriends()
{
    return QUrl(homeOrigin() + QStringLiteral("/buy-vpn-for-friends-and-family/"));
}

} // namespace WebAddress
} // namespace Tavrix
