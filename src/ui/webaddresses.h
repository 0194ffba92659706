#pragma once

#include <QUrl>

namespace Tavrix {

// Web pages of the service that the window opens in the browser. The origins are deployment
// constants; TAVRIXVPN_SERVICE_URL redirects them like every other service address.
namespace WebAddress {

// The web shop's host (checkout, social sign-in).
QString paymentOrigin();
// The service's home site.
QString homeOrigin();

// Social sign-in page for this client.
QUrl socialAuth();
// "Buy for friends and family" page.
QUrl purchaseForFriends();

// The service's home page and its download page (both go into referral messages).
QUrl homePage();
QUrl downloadPage();
// Where users write to the service's support.
QString supportEmail();

// Web share targets of the referral page. Like the service's own origins they follow
// TAVRIXVPN_SERVICE_URL, so a development build never sends anything to the real sites.
QString facebookOrigin();
QString twitterOrigin();
QString linkedInOrigin();

} // namespace WebAddress
} // namespace Tavrix
