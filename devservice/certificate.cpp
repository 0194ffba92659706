#include "certificate.h"

#include <QDir>
#include <QFile>

#include <memory>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

namespace Tavrix {
namespace Dev {

namespace {

using X509Ptr = std::unique_ptr<X509, decltype(&X509_free)>;
using KeyPtr = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

X509Ptr parseCert(const QByteArray &pem)
{
    BIO *bio = BIO_new_mem_buf(pem.constData(), pem.size());
    X509 *cert = bio ? PEM_read_bio_X509(bio, nullptr, nullptr, nullptr) : nullptr;
    BIO_free(bio);
    return X509Ptr(cert, X509_free);
}

KeyPtr parseKey(const QByteArray &pem)
{
    BIO *bio = BIO_new_mem_buf(pem.constData(), pem.size());
    EVP_PKEY *key = bio ? PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr) : nullptr;
    BIO_free(bio);
    return KeyPtr(key, EVP_PKEY_free);
}

bool usable(const QByteArray &certPem, const QByteArray &keyPem, const QStringList &names)
{
    X509Ptr cert = parseCert(certPem);
    KeyPtr key = parseKey(keyPem);
    if (!cert || !key || X509_check_private_key(cert.get(), key.get()) != 1)
        return false;
    // Must still be valid tomorrow, and name 127.0.0.1.
    time_t tomorrow = time(nullptr) + 86400;
    if (X509_cmp_time(X509_get0_notAfter(cert.get()), &tomorrow) <= 0)
        return false;
    if (X509_check_ip_asc(cert.get(), "127.0.0.1", 0) != 1)
        return false;
    for (const QString &name : names) {
        const QByteArray host = name.toLatin1();
        if (X509_check_host(cert.get(), host.constData(), size_t(host.size()), 0, nullptr) != 1)
            return false;
    }
    return true;
}

bool addExtension(X509 *cert, int nid, const char *value)
{
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
    X509_EXTENSION *ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    if (!ext)
        return false;
    const bool ok = X509_add_ext(cert, ext, -1) == 1;
    X509_EXTENSION_free(ext);
    return ok;
}

QByteArray toPem(X509 *cert)
{
    BIO *bio = BIO_new(BIO_s_mem());
    PEM_write_bio_X509(bio, cert);
    char *data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    QByteArray out(data, int(size));
    BIO_free(bio);
    return out;
}

QByteArray keyToPem(EVP_PKEY *key)
{
    BIO *bio = BIO_new(BIO_s_mem());
    PEM_write_bio_PrivateKey(bio, key, nullptr, nullptr, 0, nullptr, nullptr);
    char *data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    QByteArray out(data, int(size));
    BIO_free(bio);
    return out;
}

// Loopback always; a lab may add the name it gives the service.
QByteArray subjectAltNames(const QStringList &names)
{
    QByteArray text = "IP:127.0.0.1,IP:::1,DNS:localhost";
    for (const QString &name : names)
        text += ",DNS:" + name.toLatin1();
    return text;
}

bool makeCertificate(const QStringList &names, QByteArray *certPem, QByteArray *keyPem)
{
    KeyPtr key(EVP_EC_gen("P-256"), EVP_PKEY_free);
    X509Ptr cert(X509_new(), X509_free);
    if (!key || !cert)
        return false;

    X509_set_version(cert.get(), 2);
    unsigned char serial[16];
    RAND_bytes(serial, sizeof serial);
    serial[0] &= 0x7f;
    BIGNUM *bn = BN_bin2bn(serial, sizeof serial, nullptr);
    BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(cert.get()));
    BN_free(bn);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 365L * 86400);
    X509_set_pubkey(cert.get(), key.get());

    X509_NAME *name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char *>("TavrixVPN development service"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char *>("127.0.0.1"), -1, -1,
                               0);
    X509_set_issuer_name(cert.get(), name);

    // Self-signed and used directly as the trust anchor, so it is marked as a CA too.
    if (!addExtension(cert.get(), NID_basic_constraints, "critical,CA:TRUE") ||
        !addExtension(cert.get(), NID_key_usage, "critical,digitalSignature,keyCertSign") ||
        !addExtension(cert.get(), NID_ext_key_usage, "serverAuth") ||
        !addExtension(cert.get(), NID_subject_key_identifier, "hash") ||
        !addExtension(cert.get(), NID_subject_alt_name, subjectAltNames(names).constData()))
        return false;
    if (X509_sign(cert.get(), key.get(), EVP_sha256()) == 0)
        return false;

    *certPem = toPem(cert.get());
    *keyPem = keyToPem(key.get());
    return true;
}

bool writeFile(const QString &path, const QByteArray &bytes, QFileDevice::Permissions permissions)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    f.setPermissions(permissions);
    return f.write(bytes) == bytes.size();
}

} // namespace

bool ensureCertificate(const QString &dir, const QStringList &names, Certificate *out, QString *error)
{
    if (!QDir().mkpath(dir)) {
        *error = QStringLiteral("cannot create %1").arg(dir);
        return false;
    }
    out->certPath = QDir(dir).filePath(QStringLiteral("cert.pem"));
    out->keyPath = QDir(dir).filePath(QStringLiteral("key.pem"));

    QByteArray certPem = readFile(out->certPath);
    QByteArray keyPem = readFile(out->keyPath);
    if (!usable(certPem, keyPem, names)) {
        if (!makeCertificate(names, &certPem, &keyPem)) {
            *error = QStringLiteral("cannot make a certificate");
            return false;
        }
        // The key first and owner-only: a reader never sees a certificate without its key.
        if (!writeFile(out->keyPath, keyPem, QFileDevice::ReadOwner | QFileDevice::WriteOwner) ||
            !writeFile(out->certPath, certPem,
                       QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                           QFileDevice::ReadOther)) {
            *error = QStringLiteral("cannot write the certificate into %1").arg(dir);
            return false;
        }
    }
    out->pem = QString::fromLatin1(certPem);
    return true;
}

} // namespace Dev
} // namespace Tavrix
