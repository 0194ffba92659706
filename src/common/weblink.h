#pragma once

#include <QJsonValue>
#include <QString>
#include <QUrl>

namespace Tavrix {

// Web-shop and banner links that sign the user in on the web: an "authToken" query item that
// carries the VPN credentials and the machine id, encoded with the link key, valid 30 minutes.
// The token is reversible, so an address that carries it must never reach the log in full.
namespace WebLink {

constexpr qint64 TokenLifetimeMs = 1800000;

// The token for these credentials built at nowMs (milliseconds since the epoch, UTC).
QString token(const QString &username, const QString &password, const QString &udid, qint64 nowMs);
// The token for these VPN credentials (the controller's, handed in by the caller) and this
// machine, built now.
QString currentToken(const QString &username, const QString &password);

// Whether an address may carry the token: "https" to a host of the service (its domain, or
// the origin TAVRIXVPN_SERVICE_URL points the client at). Addresses come from the service's
// replies; one pointing elsewhere must not receive the user's credentials.
bool mayCarryToken(const QUrl &url);

// url with "authToken" = token added to the query it already has; url unchanged (and a
// warning logged) when it may not carry the token.
QUrl withToken(const QUrl &url, const QString &token);
// portal + "/checkout/" + idText, its query replaced by the single item "authToken" = token;
// without the item when the address may not carry it.
QUrl checkoutUrl(const QString &portal, const QString &idText, const QString &token);
// A package id as the shop expects it in the address: "%g" style, 6 significant digits.
QString packageIdText(const QJsonValue &id);

} // namespace WebLink
} // namespace Tavrix
