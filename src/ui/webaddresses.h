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

} // namespace WebAddress
} // namespace Tavrix
