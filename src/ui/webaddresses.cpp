#include "ui/webaddresses.h"

#include "common/serviceurl.h"

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

QUrl homePage()
{
    return QUrl(homeOrigin() + QLatin1Char('/'));
}

QUrl downloadPage()
{
    return QUrl(homeOrigin() + QStringLiteral("/download"));
}

QString supportEmail()
{
    return QStringLiteral("support@tavrixvpn.com");
}

QString facebookOrigin()
{
    return ServiceUrl::address(QStringLiteral("https://www.facebook.com"));
}

QString twitterOrigin()
{
    return ServiceUrl::address(QStringLiteral("https://twitter.com"));
}

QString linkedInOrigin()
{
    return ServiceUrl::address(QStringLiteral("https://www.linkedin.com"));
}

} // namespace WebAddress
} // namespace Tavrix
