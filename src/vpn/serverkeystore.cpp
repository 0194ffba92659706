#include "vpn/serverkeystore.h"

#include <QFile>
#include <QMutex>
#include <QRegularExpression>
#include <QUrl>

#include <cstdio>
#include <gnutls/x509.h>

#include "platform/paths.h"
#include "platform/privatefile.h"

namespace Tavrix {

namespace {

const QLatin1String pinPrefix("pin-sha256:");
constexpr int pinBytes = 32;

// The session thread checks and stores keys while the window may store one the user chose.
QMutex &storeLock()
{
    static QMutex lock;
    return lock;
}

bool isServerName(const QString &name)
{
    static const QRegularExpression shape(QStringLiteral("^(\\[[0-9a-f:.]+\\]|[a-z0-9._-]+):[0-9]{1,5}$"));
    return name.size() <= 300 && shape.match(name).hasMatch();
}

} // namespace

QString ServerKeyStore::defaultPath()
{
    return engineFolder() + QStringLiteral("server-keys.txt");
}

ServerKeyStore::ServerKeyStore(const QString &path)
    : m_path(path)
{
}

QString ServerKeyStore::serverName(const QString &address)
{
    const QString trimmed = address.trimmed();
    if (trimmed.isEmpty())
        return QString();
    const QUrl url(trimmed.contains(QLatin1String("://")) ? trimmed : QStringLiteral("https://") + trimmed,
                   QUrl::StrictMode);
    const QString host = url.host().toLower();
    const int port = url.port(443);
    if (!url.isValid() || host.isEmpty() || port <= 0)
        return QString();
    const QString name = (host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : host) +
                         QLatin1Char(':') + QString::number(port);
    return isServerName(name) ? name : QString();
}

QString ServerKeyStore::normalisePin(const QString &text)
{
    QString base64 = text.trimmed();
    if (base64.startsWith(pinPrefix, Qt::CaseInsensitive))
        base64 = base64.mid(pinPrefix.size());
    static const QRegularExpression alphabet(QStringLiteral("^[A-Za-z0-9+/]{43}=$"));
    if (!alphabet.match(base64).hasMatch())
        return QString();
    const QByteArray digest = QByteArray::fromBase64(base64.toLatin1());
    if (digest.size() != pinBytes)
        return QString();
    return pinPrefix + QString::fromLatin1(digest.toBase64());
}

QString ServerKeyStore::certificatePin(const QByteArray &certificateDer)
{
    gnutls_x509_crt_t crt = nullptr;
    if (gnutls_x509_crt_init(&crt) < 0)
        return QString();
    QString pin;
    gnutls_datum_t der;
    der.data = reinterpret_cast<unsigned char *>(const_cast<char *>(certificateDer.constData()));
    der.size = unsigned(certificateDer.size());
    unsigned char digest[pinBytes];
    size_t size = sizeof digest;
    // The key id over the public key's SubjectPublicKeyInfo: what a "pin-sha256" names.
    if (gnutls_x509_crt_import(crt, &der, GNUTLS_X509_FMT_DER) >= 0 &&
        gnutls_x509_crt_get_key_id(crt, GNUTLS_KEYID_USE_SHA256, digest, &size) >= 0 && size == pinBytes)
        pin = pinPrefix + QString::fromLatin1(QByteArray(reinterpret_cast<char *>(digest), pinBytes).toBase64());
    gnutls_x509_crt_deinit(crt);
    return pin;
}

QMap<QString, QString> ServerKeyStore::parse(const QByteArray &text)
{
    QMap<QString, QString> entries;
    const QList<QByteArray> lines = text.left(int(maxFileBytes)).split('\n');
    for (const QByteArray &raw : lines) {
        const QByteArray line = raw.trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() != 2)
            continue;
        const QString name = QString::fromLatin1(fields.at(0));
        const QString pin = normalisePin(QString::fromLatin1(fields.at(1)));
        // Only names as the client writes them: another spelling of an address ("[::0]" for
        // "[::]") would never be looked up, and must not stand for it either.
        if (!isServerName(name) || serverName(name) != name || pin.isEmpty())
            continue;
        if (!entries.contains(name) && entries.size() >= maxEntries)
            continue;
        entries.insert(name, pin);
    }
    return entries;
}

QByteArray ServerKeyStore::serialise(const QMap<QString, QString> &entries)
{
    QByteArray text = "# TavrixVPN: public keys of OpenConnect servers, one \"host:port pin\" a line.\n";
    for (auto it = entries.constBegin(); it != entries.constEnd(); ++it)
        text += it.key().toLatin1() + ' ' + it.value().toLatin1() + '\n';
    return text;
}

QMap<QString, QString> ServerKeyStore::read() const
{
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return parse(file.read(maxFileBytes));
}

QString ServerKeyStore::pin(const QString &serverName) const
{
    QMutexLocker locker(&storeLock());
    return read().value(serverName);
}

bool ServerKeyStore::setPin(const QString &serverName, const QString &pin, QString *error)
{
    QString ignored;
    QString &reason = error ? *error : ignored;
    const QString normalised = normalisePin(pin);
    if (!isServerName(serverName) || ServerKeyStore::serverName(serverName) != serverName || normalised.isEmpty()) {
        reason = QStringLiteral("not a server name and key");
        return false;
    }
    QMutexLocker locker(&storeLock());
    QMap<QString, QString> entries = read();
    if (!entries.contains(serverName) && entries.size() >= maxEntries) {
        reason = QStringLiteral("too many servers stored");
        return false;
    }
    entries.insert(serverName, normalised);
    // Written beside the store and renamed over it: the store is never half written.
    const QString fresh = m_path + QStringLiteral(".new");
    if (!writePrivateFile(fresh, serialise(entries), &reason))
        return false;
    const QByteArray from = QFile::encodeName(fresh);
    const QByteArray to = QFile::encodeName(m_path);
    // Where rename does not replace an existing file, the old one goes first.
    if (std::rename(from.constData(), to.constData()) != 0 &&
        (!QFile::remove(m_path) || std::rename(from.constData(), to.constData()) != 0)) {
        reason = QStringLiteral("could not replace ") + m_path;
        QFile::remove(fresh);
        return false;
    }
    return true;
}

} // namespace Tavrix
