#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>

namespace Tavrix {

// The public keys of OpenConnect servers whose certificates no public authority vouches for
// (the service's servers use self-signed ones), remembered per server address in a file of the
// engine folder that only the user can read and write. A key is written down at the first
// contact with a server and must match at every later one.
//
// Keys are written as SHA-256 pins of the certificate's public key ("pin-sha256:" followed by
// Base64), the form the library and the server entries use.
class ServerKeyStore
{
public:
    // The store file in the engine folder.
    static QString defaultPath();

    explicit ServerKeyStore(const QString &path = defaultPath());

    // "host:port" as the store names a server: lower case, port 443 unless given, IPv6
    // addresses in brackets. Accepts "host", "host:port" and "https://host:port/path".
    // Empty when no host can be read.
    static QString serverName(const QString &address);

    // "pin-sha256:<Base64 of 32 bytes>" from that form or bare Base64; empty when the text is
    // no SHA-256 pin.
    static QString normalisePin(const QString &text);

    // The pin of a certificate's public key (DER certificate); empty when it cannot be read.
    static QString certificatePin(const QByteArray &certificateDer);

    // The file's entries. Lines that are not "<server name> <pin>" are skipped, so a damaged or
    // planted line can neither stop the client nor smuggle in an entry of another shape.
    static QMap<QString, QString> parse(const QByteArray &text);
    static QByteArray serialise(const QMap<QString, QString> &entries);

    // The pin stored for serverName, empty when none.
    QString pin(const QString &serverName) const;
    // Stores (or replaces) the pin of serverName. The file is replaced as a whole by a new
    // owner-only one, so a failure leaves the previous keys in place.
    bool setPin(const QString &serverName, const QString &pin, QString *error = nullptr);

    static constexpr qint64 maxFileBytes = 1024 * 1024;
    static constexpr int maxEntries = 10000;

private:
    QMap<QString, QString> read() const;

    QString m_path;
};

} // namespace Tavrix
