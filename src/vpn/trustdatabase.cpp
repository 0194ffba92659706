#include "vpn/trustdatabase.h"

#include <cstring>
#include <gnutls/crypto.h>

#include "vpn/enginelog.h"
#include "vpn/openconnectserver.h"

namespace Tavrix {

namespace {

gnutls_datum_t datum(const QByteArray &bytes)
{
    gnutls_datum_t d;
    d.data = reinterpret_cast<unsigned char *>(const_cast<char *>(bytes.constData()));
    d.size = unsigned(bytes.size());
    return d;
}

} // namespace

TrustDatabase::TrustDatabase(std::shared_ptr<OpenConnectServer> profile)
    : m_profile(std::move(profile))
{
    if (gnutls_tdb_init(&m_tdb) == 0) {
        gnutls_tdb_set_store_func(m_tdb, &TrustDatabase::storeFunction);
        gnutls_tdb_set_verify_func(m_tdb, &TrustDatabase::verifyFunction);
    } else {
        m_tdb = nullptr;
    }
}

TrustDatabase::~TrustDatabase()
{
    if (m_tdb)
        gnutls_tdb_deinit(m_tdb);
}

int TrustDatabase::verify(const QByteArray &certificate)
{
    if (!m_tdb || !m_profile)
        return GNUTLS_E_MEMORY_ERROR;
    const gnutls_datum_t cert = datum(certificate);
    return gnutls_verify_stored_pubkey(dbName(), m_tdb, "", "", GNUTLS_CRT_X509, &cert, 0);
}

int TrustDatabase::store(const QByteArray &certificate)
{
    if (!m_tdb || !m_profile)
        return GNUTLS_E_MEMORY_ERROR;
    const gnutls_datum_t cert = datum(certificate);
    return gnutls_store_pubkey(dbName(), m_tdb, "", "", GNUTLS_CRT_X509, &cert, 0, 0);
}

int TrustDatabase::checkServerCertificate(const QByteArray &certificate)
{
    const int verdict = verify(certificate);
    if (verdict == GNUTLS_E_NO_CERTIFICATE_FOUND) {
        engineLog(QStringLiteral("peer is unknown"));
    } else if (verdict == GNUTLS_E_CERTIFICATE_KEY_MISMATCH) {
        engineLog(QStringLiteral("peer's key has changed!"));
    } else if (verdict < 0) {
        engineLog(QStringLiteral("Could not verify certificate: ") + QString::fromUtf8(gnutls_strerror(verdict)));
        return -1;
    } else {
        return 0;
    }

    engineLog(QStringLiteral("saving peer's public key"));
    const int stored = store(certificate);
    if (stored < 0)
        engineLog(QStringLiteral("Could not store certificate: ") + QString::fromUtf8(gnutls_strerror(stored)));
    return 0;
}

int TrustDatabase::storeFunction(const char *dbName, const char *, const char *, time_t, const gnutls_datum_t *pubkey)
{
    auto *self = reinterpret_cast<const TrustDatabase *>(dbName);
    unsigned char digest[20];
    if (gnutls_hash_fast(GNUTLS_DIG_SHA1, pubkey->data, pubkey->size, digest) < 0)
        return -1;
    self->m_profile->setServerKeyHash(GNUTLS_DIG_SHA1, QByteArray(reinterpret_cast<char *>(digest), sizeof digest));
    return 0;
}

int TrustDatabase::verifyFunction(const char *dbName, const char *, const char *, const gnutls_datum_t *pubkey)
{
    auto *self = reinterpret_cast<const TrustDatabase *>(dbName);
    const int algorithm = self->m_profile->serverKeyHashAlgorithm();
    const QByteArray remembered = self->m_profile->serverKeyHash();
    if (algorithm == 0)
        return -1;
    const auto digestAlgorithm = gnutls_digest_algorithm_t(algorithm);
    const unsigned length = gnutls_hash_get_len(digestAlgorithm);
    if (length == 0 || length > 64 || int(length) != remembered.size())
        return -1;

    unsigned char digest[64];
    if (gnutls_hash_fast(digestAlgorithm, pubkey->data, pubkey->size, digest) < 0)
        return -1;
    return memcmp(digest, remembered.constData(), length) == 0 ? 0 : GNUTLS_E_CERTIFICATE_KEY_MISMATCH;
}

} // namespace Tavrix
