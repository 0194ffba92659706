#pragma once

#include <QByteArray>

#include <ctime>
#include <gnutls/gnutls.h>
#include <memory>

namespace Tavrix {

class OpenConnectServer;

// Trust on first use for OpenConnect servers: the SHA-1 of the server's public key is
// remembered in the server profile. GnuTLS drives the check through a trust database whose
// store and verify functions find this object through the database name argument.
class TrustDatabase
{
public:
    explicit TrustDatabase(std::shared_ptr<OpenConnectServer> profile);
    ~TrustDatabase();
    TrustDatabase(const TrustDatabase &) = delete;
    TrustDatabase &operator=(const TrustDatabase &) = delete;

    // GnuTLS' verdict on the certificate (DER): 0 known key, GNUTLS_E_NO_CERTIFICATE_FOUND,
    // GNUTLS_E_CERTIFICATE_KEY_MISMATCH or another error.
    int verify(const QByteArray &certificate);
    // Remembers the certificate's key. 0 or a GnuTLS error.
    int store(const QByteArray &certificate);

    // The whole check: an unknown or changed key is logged, remembered and accepted; any
    // other verification error rejects. Returns 0 to accept, -1 to reject.
    int checkServerCertificate(const QByteArray &certificate);

private:
    static int storeFunction(const char *dbName, const char *host, const char *service, time_t expiration,
                             const gnutls_datum_t *pubkey);
    static int verifyFunction(const char *dbName, const char *host, const char *service, const gnutls_datum_t *pubkey);
    const char *dbName() const { return reinterpret_cast<const char *>(this); }

    std::shared_ptr<OpenConnectServer> m_profile;
    gnutls_tdb_t m_tdb = nullptr;
};

} // namespace Tavrix
