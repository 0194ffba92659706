#pragma once

#include <QString>
#include <QUrl>

namespace Tavrix {

// Addresses of the service are fixed at build time. For local development and tests the
// environment can point every one of them at another origin:
//   TAVRIXVPN_SERVICE_URL=https://127.0.0.1:8443   replaces scheme, host and port
//   TAVRIXVPN_SERVICE_CA=/path/cert.pem            extra trusted CA (only with the URL set)
namespace ServiceUrl {

// Deployment origins. Keep them here so that a redirected build can be told apart from a
// released one in one place.
inline constexpr const char *firestoreOrigin = "https://firestore.googleapis.com";
inline constexpr const char *firestoreProjectId = "tavrixvpn-prod";
inline constexpr const char *firestoreDocumentId = "config";
inline constexpr const char *proxyOrigin = "https://relay.tavrixvpn.com";
inline constexpr const char *directOrigin = "https://direct.tavrixvpn.com";
inline constexpr const char *countryLoginOrigin = "https://login.tavrixvpn.com";
inline constexpr const char *directCommOrigin = "https://comm.tavrixvpn.com";

// The override origin, empty when the environment sets none (or sets something unusable).
QUrl overrideOrigin();

// address with its scheme, host and port replaced by the override origin; path, query and
// fragment are kept. Unchanged when there is no override or address is not absolute.
QString address(const QString &address);
QUrl address(const QUrl &address);

// Adds the certificate(s) of TAVRIXVPN_SERVICE_CA to the process's default TLS
// configuration, once. Safe to call from every constructor that makes requests. Returns
// true when a certificate is (or already was) trusted this way.
bool trustServiceCertificate();

} // namespace ServiceUrl
} // namespace Tavrix
